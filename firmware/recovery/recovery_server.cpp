#include "firmware/recovery/recovery_server.h"

#include <arpa/inet.h>

#include "common/debug_log.h"
#include "common/log_text.h"
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
  if (!hooks_.now) hooks_.now = [] { return std::chrono::steady_clock::now(); };
}

std::chrono::steady_clock::time_point RecoveryServer::Now() const { return hooks_.now(); }

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

std::string RecoveryServer::HandleRequest(std::uint32_t sender, std::string_view datagram, bool quiet) {
  const RecoveryRequest request = ParseRecoveryRequest(datagram);
  if (request.cmd_code < 0) return {};
  // The device's texts are outside bytes: escaped, a line break in them
  // cannot forge a line of the log.
  if (!quiet && !request.dev_type.empty()) Log(EscapeForLog(request.dev_type));
  if (request.cmd_code == kCmdFirmwareRequest) return FirmwareRequest(sender, request, quiet);
  if (request.cmd_code == kCmdProgress) ProgressReport(request, quiet);
  return {};
}

std::string RecoveryServer::FirmwareRequest(std::uint32_t sender, const RecoveryRequest& request, bool quiet) {
  const std::string type = EscapeForLog(request.dev_type);
  const auto log = [&](const std::string& line) {
    if (!quiet) Log(line);
  };
  RecoveryReply reply;
  reply.uuid = request.uuid;
  reply.firmware_file = ChooseFirmwareFile(request.dev_type);
  if (reply.firmware_file.empty()) {
    log(type + ":firmware not found");
    reply.result = -1;
  } else {
    log(type + ":" + reply.firmware_file);
  }
  const std::uint32_t adapter = AdapterAddress();
  if (adapter == 0) {
    log(type + ":netcard not selected");
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
  bool unchecked = false;
  reply.dev_ip = PickDeviceIp(sender, request.uuid, &unchecked);
  if (reply.dev_ip.empty()) {
    log(type + ":no free address");
    reply.result = -1;
    return FormatRecoveryReply(reply);
  }
  if (unchecked) log(type + ":" + reply.dev_ip + ":the address could not be checked (no address probe could run)");

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
    log(type + ":" + EscapeForLog(request.uuid) + ":" + state);
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
  Post(posted);
  return FormatRecoveryReply(reply);
}

void RecoveryServer::ProgressReport(const RecoveryRequest& request, bool quiet) {
  const std::string state = StepText(request.step);
  BootDeviceInfo posted;
  {
    std::lock_guard lock(mutex_);
    if (const auto holder = holders_.find(request.uuid); holder != holders_.end()) {
      // Finished or failed: the device leaves its address (a recovered device
      // still using it answers the next probe of it).
      if (request.step >= kStepSuccess && request.step <= kStepLastFinal)
        ReleaseLocked(request.uuid);
      else
        holder->second.heard = Now();
    }
    BootDeviceInfo* entry = table_.Find(request.uuid);
    if (entry == nullptr) return;
    entry->step = request.step;
    if (request.step == kStepSuccess) entry->restore_attempts = 0;
    entry->state_text = state;
    table_.Touch(request.uuid);
    posted = *entry;
  }
  if (!quiet) Log(EscapeForLog(request.dev_type) + ":" + EscapeForLog(request.uuid) + ":" + state);
  Post(posted);
}

void RecoveryServer::ReleaseLocked(const std::string& uuid) {
  const auto it = holders_.find(uuid);
  if (it == holders_.end()) return;
  held_.erase(it->second.address);
  holders_.erase(it);
}

void RecoveryServer::ReleaseSilentLocked(std::chrono::steady_clock::time_point now) {
  for (auto it = holders_.begin(); it != holders_.end();) {
    if (now - it->second.heard >= kSilentDeviceRelease) {
      held_.erase(it->second.address);
      it = holders_.erase(it);
    } else {
      ++it;
    }
  }
}

std::size_t RecoveryServer::HeldAddresses() {
  std::lock_guard lock(mutex_);
  ReleaseSilentLocked(Now());
  return held_.size();
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
  // the helper serves it and its header passes, like every listed image.
  return FindServedFactoryImage(folder);
}

std::string RecoveryServer::PickDeviceIp(std::uint32_t /*sender*/, const std::string& uuid, bool* unchecked) {
  const std::uint32_t adapter = ntohl(AdapterAddress());
  if (adapter == 0) return {};
  const std::uint32_t network = adapter & 0xFFFFFF00u;
  {
    std::lock_guard lock(mutex_);
    ReleaseSilentLocked(Now());
  }
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
      if (candidate == adapter || held_.count(candidate) || probing_.count(candidate)) continue;
      probing_.insert(candidate);  // claimed while it is probed
    }
    // An address that answers is in use. One whose probe could not run at
    // all (-1: no ICMP socket and no ping program) is taken as free, as
    // without a probe the device could not be recovered at all.
    const int answered = hooks_.probe ? hooks_.probe(htonl(candidate)) : -1;
    std::lock_guard lock(mutex_);
    probing_.erase(candidate);
    if (answered > 0) continue;
    if (cancelled_.load()) return {};  // no reply goes out: nothing is held
    ReleaseLocked(uuid);  // the device leaves the address it held
    holders_[uuid] = Holder{candidate, Now()};
    held_.insert(candidate);
    if (unchecked) *unchecked = answered < 0;
    DebugLogPrintf("got one ip: %s\n", Dotted(candidate).c_str());
    return Dotted(candidate);
  }
  // Nothing free: no address at all rather than one that may be in use.
  return {};
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
  holders_.clear();
  held_.clear();
}

std::vector<BootDeviceInfo> RecoveryServer::Devices() const {
  std::lock_guard lock(mutex_);
  std::vector<BootDeviceInfo> out;
  table_.ForEach([&](const BootDeviceInfo& info) { out.push_back(info); });
  return out;
}

}  // namespace kelvara::firmware
