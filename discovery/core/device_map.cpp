#include "discovery/core/device_map.h"

#include <strings.h>

#include <chrono>

#include "common/log_text.h"
#include "discovery/core/discovery_log.h"

namespace kelvara::discovery {

std::uint32_t TickCount_ms() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool DeviceMap::CaseLess::operator()(const std::string& a, const std::string& b) const {
  return strcasecmp(a.c_str(), b.c_str()) < 0;
}

void DeviceMap::SetDefaultLogin(DefaultLogin login) {
  std::lock_guard lock(mutex_);
  defaultLogin_ = std::move(login);
}

DefaultLogin DeviceMap::GetDefaultLogin() const {
  std::lock_guard lock(mutex_);
  return defaultLogin_;
}

void DeviceMap::EvictLeastRecentlySeen(std::uint32_t now_ms) {
  // The sender answering for the most devices gives one up first: hosts that
  // answer for many serial numbers each (new ones with every reply) push out
  // their own, not the devices that answer for themselves alone.
  const std::string* crowded = nullptr;
  std::size_t most = 1;
  for (const auto& [sender, count] : devicesOfSender_) {
    if (count > most) {
      most = count;
      crowded = &sender;
    }
  }
  auto oldest = devices_.end();
  std::uint32_t oldestAge = 0;
  for (auto it = devices_.begin(); it != devices_.end(); ++it) {
    if (crowded != nullptr && it->second->senderAddress != *crowded) continue;
    const std::uint32_t age = now_ms - it->second->lastSeenTick_ms;  // wraps like the tick
    if (oldest == devices_.end() || age > oldestAge) {
      oldest = it;
      oldestAge = age;
    }
  }
  if (oldest == devices_.end()) return;
  if (!fullLogged_) Log("device map full (%zu devices), least recently seen devices dropped\n", devices_.size());
  fullLogged_ = true;
  if (auto s = senderOf_.find(oldest->first); s != senderOf_.end()) {
    if (--devicesOfSender_[s->second] == 0) devicesOfSender_.erase(s->second);
    senderOf_.erase(s);
  }
  changed_.erase(oldest->first);
  devices_.erase(oldest);
}

bool DeviceMap::AddOrUpdateDevice(DeviceSearchInfo record, const std::string& adapterAddress,
                                  std::uint32_t now_ms, const std::string& senderAddress) {
  record.lastSeenTick_ms = now_ms;
  record.senderAddress = senderAddress;
  std::lock_guard lock(mutex_);
  auto it = devices_.find(record.serialNumber);
  // The sender a device's entry counts against: the last one it came from.
  const auto countSender = [this](const std::string& key, const std::string& sender) {
    auto s = senderOf_.find(key);
    if (s != senderOf_.end()) {
      if (s->second == sender) return;
      if (--devicesOfSender_[s->second] == 0) devicesOfSender_.erase(s->second);
      senderOf_.erase(s);
    }
    if (sender.empty()) return;
    senderOf_[key] = sender;
    ++devicesOfSender_[sender];
  };
  if (it != devices_.end()) {
    // A card's own address, once known, beats the any-address socket's "0.0.0.0".
    const std::string& stored = it->second->adapterAddress;
    record.adapterAddress =
        (!stored.empty() && stored != "0.0.0.0") ? stored : adapterAddress;
    if (record.hasAccounts == 0) {
      UserAccount& acc = record.userConfig.accounts[0];
      const std::string& type = record.deviceType;
      if (type.find("RVEX-K47P") != std::string::npos || type.find("RVEX-K47Q") != std::string::npos) {
        acc.userName = "admin";
        acc.password = "pdw*5174";
      } else {
        acc.userName = CutToField(defaultLogin_.userName, kUserNameWidth);
        acc.password = CutToField(defaultLogin_.password, kPasswordWidth);
      }
    }
    it->second = std::make_shared<const DeviceSearchInfo>(std::move(record));
    changed_.insert(it->first);
    countSender(it->first, senderAddress);
    return true;
  }
  if (!senderAddress.empty()) {
    auto n = devicesOfSender_.find(senderAddress);
    if (n != devicesOfSender_.end() && n->second >= kMaxDevicesPerSender) {
      if (!senderLogged_)
        Log("%s already answers for %zu devices, its new devices dropped\n",
            senderAddress.c_str(), n->second);
      senderLogged_ = true;
      return false;
    }
  }
  if (devices_.size() >= kMaxDevices) EvictLeastRecentlySeen(now_ms);
  Log("found new entry, mac=[%s]\n", EscapeForLog(record.lanConfig.macAddress).c_str());
  record.adapterAddress = adapterAddress;
  const std::string key = record.serialNumber;
  devices_.emplace(key, std::make_shared<const DeviceSearchInfo>(std::move(record)));
  changed_.insert(key);
  countSender(key, senderAddress);
  return true;
}

bool DeviceMap::TrackNewDevice(DeviceSearchInfo record, const std::string& adapterAddress) {
  if (record.uuid.empty()) return false;
  std::lock_guard lock(mutex_);
  auto it = byUuid_.find(record.uuid);
  if (it != byUuid_.end()) {
    it->second = std::move(record);
    return false;
  }
  if (byUuid_.size() >= kMaxTrackedUuids) return false;
  Log("found new entry, mac=[%s]\n", EscapeForLog(record.lanConfig.macAddress).c_str());
  record.adapterAddress = adapterAddress;
  const std::string key = record.uuid;
  byUuid_.emplace(key, std::move(record));
  return true;
}

std::optional<DeviceSearchInfo> DeviceMap::CopyDeviceRecord(const std::string& serialNumber) const {
  std::lock_guard lock(mutex_);
  auto it = devices_.find(serialNumber);
  if (it == devices_.end()) return std::nullopt;
  return *it->second;
}

std::vector<std::shared_ptr<const DeviceSearchInfo>> DeviceMap::TakeChanged() {
  std::vector<std::shared_ptr<const DeviceSearchInfo>> out;
  std::lock_guard lock(mutex_);
  out.reserve(changed_.size());
  for (const auto& key : changed_) {
    auto it = devices_.find(key);
    if (it != devices_.end()) out.push_back(it->second);
  }
  changed_.clear();
  return out;
}

std::vector<std::shared_ptr<const DeviceSearchInfo>> DeviceMap::AllRecords() const {
  std::vector<std::shared_ptr<const DeviceSearchInfo>> out;
  std::lock_guard lock(mutex_);
  out.reserve(devices_.size());
  for (const auto& entry : devices_) out.push_back(entry.second);
  return out;
}

bool DeviceMap::Modify(const std::string& serialNumber,
                       const std::function<void(DeviceSearchInfo&)>& fn) {
  std::lock_guard lock(mutex_);
  auto it = devices_.find(serialNumber);
  if (it == devices_.end()) return false;
  // Records handed out stay as they were: the change goes into a new one.
  auto changed = std::make_shared<DeviceSearchInfo>(*it->second);
  fn(*changed);
  it->second = std::move(changed);
  changed_.insert(it->first);
  return true;
}

bool DeviceMap::Read(const std::string& serialNumber,
                     const std::function<void(const DeviceSearchInfo&)>& fn) const {
  std::lock_guard lock(mutex_);
  auto it = devices_.find(serialNumber);
  if (it == devices_.end()) return false;
  fn(*it->second);
  return true;
}

void DeviceMap::ForEach(const std::function<void(const DeviceSearchInfo&)>& fn) const {
  std::lock_guard lock(mutex_);
  for (const auto& [key, info] : devices_) fn(*info);
}

void DeviceMap::Clear() {
  std::lock_guard lock(mutex_);
  devices_.clear();
  changed_.clear();
  senderOf_.clear();
  devicesOfSender_.clear();
  fullLogged_ = false;
  senderLogged_ = false;
}

std::size_t DeviceMap::Size() const {
  std::lock_guard lock(mutex_);
  return devices_.size();
}

}  // namespace kelvara::discovery
