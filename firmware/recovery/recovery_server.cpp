#include "firmware/recovery/recovery_server.h"

#include <arpa/inet.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "common/debug_log.h"
#include "firmware/core/firmware_image.h"
#include "firmware/recovery/device_ids.h"

namespace kelvara::firmware {
namespace {

std::string Dotted(std::uint32_t host_order) {
  const std::uint32_t n = htonl(host_order);
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &n, text, sizeof text);
  return text;
}

}  // namespace

RecoveryServer::RecoveryServer(RecoveryHooks hooks, std::size_t table_capacity)
    : hooks_(std::move(hooks)), table_(table_capacity) {
  if (!hooks_.random_mac) hooks_.random_mac = RandomMacBytes;
}

void RecoveryServer::SetFirmwareFolder(std::string folder) {
  std::lock_guard lock(mutex_);
  folder_ = std::move(folder);
}

void RecoveryServer::RebuildFirmwareList() {
  std::string folder;
  {
    std::lock_guard lock(mutex_);
    folder = folder_;
  }
  FirmwareList list = ListFirmwareFiles(folder);  // reads headers: outside the lock
  std::lock_guard lock(mutex_);
  firmware_ = std::move(list);
}

void RecoveryServer::SetFirmwareList(FirmwareList list) {
  std::lock_guard lock(mutex_);
  firmware_ = std::move(list);
}

void RecoveryServer::Log(const std::string& line) const {
  if (hooks_.log) hooks_.log(line);
}

void RecoveryServer::Post(const BootDeviceInfo& device) const {
  if (hooks_.device_update) hooks_.device_update(device);
}

std::string RecoveryServer::StepText(int step) const {
  const char* key = RecoveryStepKey(step);
  if (key == nullptr) return {};
  return hooks_.language ? hooks_.language(key) : std::string(key);
}

std::string RecoveryServer::HandleRequest(std::uint32_t sender, std::string_view datagram) {
  const RecoveryRequest request = ParseRecoveryRequest(datagram);
  if (request.cmd_code < 0) return {};
  if (!request.dev_type.empty()) Log(request.dev_type);
  if (request.cmd_code == kCmdFirmwareRequest) return FirmwareRequest(sender, request);
  if (request.cmd_code == kCmdProgress) ProgressReport(request);
  return {};
}

std::string RecoveryServer::FirmwareRequest(std::uint32_t sender, const RecoveryRequest& request) {
  RecoveryReply reply;
  reply.uuid = request.uuid;
  reply.firmware_file = ChooseFirmwareFile(request.dev_type);
  if (reply.firmware_file.empty()) {
    Log(request.dev_type + ":firmware not found");
    reply.result = -1;
  } else {
    Log(request.dev_type + ":" + reply.firmware_file);
  }
  const std::uint32_t adapter = AdapterAddress();
  if (adapter == 0) {
    Log(request.dev_type + ":netcard not selected");
    reply.result = -1;
  } else {
    reply.tftp_server = Dotted(ntohl(adapter));
  }
  if (reply.result != 0) return FormatRecoveryReply(reply);

  const std::string state = StepText(0);
  bool finished = false;
  BootDeviceInfo stored;
  {
    std::lock_guard lock(mutex_);
    if (const BootDeviceInfo* known = table_.Find(request.uuid);
        known != nullptr && known->firmware_file == reply.firmware_file && known->step == kStepSuccess) {
      finished = true;
      stored = *known;
    }
  }
  if (finished) {
    // Recovered with this very image already: not sent again.
    reply.result = -1;
    reply.dev_ip = stored.address;
    reply.dev_mac = stored.mac;
    Post(stored);
    return FormatRecoveryReply(reply);
  }
  // The probes take time: no lock while they run.
  reply.dev_ip = PickDeviceIp(sender);
  if (reply.dev_ip.empty()) {
    Log(request.dev_type + ":no free address");
    reply.result = -1;
    return FormatRecoveryReply(reply);
  }

  BootDeviceInfo posted;
  bool known = false;
  {
    std::lock_guard lock(mutex_);
    if (BootDeviceInfo* entry = table_.Find(request.uuid)) {
      known = true;
      reply.dev_mac = entry->mac;
      entry->step = request.step;
      entry->state_text = state;
      entry->firmware_file = reply.firmware_file;
      table_.Touch(request.uuid);
      posted = *entry;
    }
  }
  if (known) {
    Log(request.dev_type + ":" + request.uuid + ":" + state);
  } else {
    reply.dev_mac = MakeRandomMac();
    posted.uuid = request.uuid;
    posted.address = reply.dev_ip;
    posted.mac = reply.dev_mac;
    posted.state_text = state;
    posted.firmware_file = reply.firmware_file;
    std::lock_guard lock(mutex_);
    if (BootDeviceInfo* raced = table_.Find(request.uuid)) {
      // The same device asked twice at once: keep the MAC it got first.
      reply.dev_mac = raced->mac;
      posted = *raced;
    } else {
      table_.Put(posted);
    }
  }
  NoteHandedAddress(request.uuid, reply.dev_ip);
  Post(posted);
  return FormatRecoveryReply(reply);
}

void RecoveryServer::NoteHandedAddress(const std::string& uuid, const std::string& address) {
  in_addr parsed{};
  if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) return;
  const std::uint32_t now = ntohl(parsed.s_addr);
  std::lock_guard lock(mutex_);
  auto [it, added] = last_address_.try_emplace(uuid, now);
  if (added || it->second == now) return;
  handed_addresses_.erase(it->second);
  it->second = now;
}

void RecoveryServer::ProgressReport(const RecoveryRequest& request) {
  const std::string state = StepText(request.step);
  BootDeviceInfo posted;
  {
    std::lock_guard lock(mutex_);
    BootDeviceInfo* entry = table_.Find(request.uuid);
    if (entry == nullptr) return;
    entry->step = request.step;
    if (request.step == kStepSuccess) entry->restore_attempts = 0;
    entry->state_text = state;
    table_.Touch(request.uuid);
    posted = *entry;
  }
  Log(request.dev_type + ":" + request.uuid + ":" + state);
  Post(posted);
}

std::string RecoveryServer::ChooseFirmwareFile(std::string_view dev_type) {
  if (dev_type.empty()) return {};
  std::string folder;
  {
    std::lock_guard lock(mutex_);
    const std::string* best = nullptr;
    std::int64_t best_time = 0;
    for (const auto& [name, entry] : firmware_) {
      if (entry.version.find(dev_type) == std::string::npos) continue;
      if (best == nullptr || entry.modified > best_time) {
        best = &name;
        best_time = entry.modified;
      }
    }
    if (best != nullptr) return *best;
    folder = folder_;
  }
  // The factory image, offered by its name in the served folder and only when
  // its header passes, like every listed image.
  namespace fs = std::filesystem;
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(NormalizeFolderText(folder), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind("firmware_", 0) != 0 || name.size() < 4 || name.compare(name.size() - 4, 4, ".bin") != 0) continue;
    if (name.find("factory_zq", 1) == std::string::npos) continue;
    if (!it->is_regular_file(ec)) continue;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (CheckFirmwareHeader(fs::path(NormalizeFolderText(folder)) / name, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr) == 0)
      return name;
  }
  return {};
}

std::string RecoveryServer::PickDeviceIp(std::uint32_t /*sender*/) {
  const std::uint32_t adapter = ntohl(AdapterAddress());
  if (adapter == 0) return {};
  const std::uint32_t network = adapter & 0xFFFFFF00u;
  for (int i = 2; i <= 254; ++i) {
    if (cancelled_.load()) return {};
    std::uint32_t candidate = 0;
    {
      std::lock_guard lock(mutex_);
      if (host_counter_ >= 254) host_counter_ = 0;
      const std::uint32_t host = (static_cast<std::uint32_t>(i) + host_counter_) % 255 + 1;
      ++host_counter_;
      if (host == 1 || host == 255) continue;
      candidate = network | host;
      if (candidate == adapter || handed_addresses_.count(candidate)) continue;
      handed_addresses_.insert(candidate);  // claimed while it is probed
    }
    const int answered = hooks_.probe ? hooks_.probe(htonl(candidate)) : 0;
    if (answered == 0) {
      DebugLogPrintf("got one ip: %s\n", Dotted(candidate).c_str());
      return Dotted(candidate);
    }
    std::lock_guard lock(mutex_);
    handed_addresses_.erase(candidate);  // in use, or unknown
  }
  const std::uint32_t fallback = network | 11;
  std::lock_guard lock(mutex_);
  if (fallback == adapter || handed_addresses_.count(fallback)) return {};
  handed_addresses_.insert(fallback);
  return Dotted(fallback);
}

std::string RecoveryServer::MakeRandomMac() {
  for (;;) {
    std::string text = MacText(hooks_.random_mac());
    std::lock_guard lock(mutex_);
    if (handed_macs_.insert(text).second) return text;
  }
}

bool RecoveryServer::NeedsFactoryRestore(const std::string& uuid) {
  if (uuid.empty() || !RestoreEnabled()) return false;
  const std::string key = MakeDeviceUuid(uuid);
  std::lock_guard lock(mutex_);
  for (const std::string* k : {&key, &uuid}) {
    if (const BootDeviceInfo* entry = table_.Find(*k);
        entry != nullptr && entry->step == kStepSuccess && entry->restore_attempts < 5)
      return true;
  }
  return false;
}

void RecoveryServer::CountFactoryRestore(const std::string& uuid) {
  if (uuid.empty()) return;
  const std::string key = MakeDeviceUuid(uuid);
  std::lock_guard lock(mutex_);
  if (BootDeviceInfo* entry = table_.Find(key)) ++entry->restore_attempts;
  if (key != uuid)
    if (BootDeviceInfo* entry = table_.Find(uuid)) ++entry->restore_attempts;
}

void RecoveryServer::ClearRestoreAttempts() {
  std::lock_guard lock(mutex_);
  table_.ResetRestoreAttempts();
}

void RecoveryServer::ClearHistory() {
  std::lock_guard lock(mutex_);
  table_.Clear();
}

std::vector<BootDeviceInfo> RecoveryServer::Devices() const {
  std::lock_guard lock(mutex_);
  std::vector<BootDeviceInfo> out;
  table_.ForEach([&](const BootDeviceInfo& info) { out.push_back(info); });
  return out;
}

}  // namespace kelvara::firmware
