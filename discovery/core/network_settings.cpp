#include "discovery/core/network_settings.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "common/text_convert.h"
#include "discovery/core/discovery_log.h"
#include "discovery/core/discovery_protocol.h"
#include "common/ipv4_host.h"

namespace kelvara::discovery {
namespace {

std::uint32_t HostOrZero(const std::string& text) { return ParseIpv4Host(text).value_or(0); }

bool Unset(const std::string& text) {
  std::string_view s = text;
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s.empty() || s == "0.0.0.0" || s == "255.255.255.255";
}

}  // namespace

void HandedOutAddresses::Hold(std::uint32_t address) {
  if (address == 0) return;
  for (auto& e : entries_)
    if (e == address) e = 0;
  for (auto& e : entries_) {
    if (e == 0) {
      e = address;
      return;
    }
  }
}

bool HandedOutAddresses::Contains(std::uint32_t address) const {
  return address != 0 && std::find(entries_.begin(), entries_.end(), address) != entries_.end();
}

NetworkSettings::NetworkSettings(DeviceMap& map, Hooks hooks) : map_(map), hooks_(std::move(hooks)) {}

OperatorAuth NetworkSettings::ToDevice(const OperatorAuth& auth) const {
  return {Utf8ToGbk(auth.userName), Utf8ToGbk(auth.password)};
}

int NetworkSettings::SetLanConfigByBD(const DeviceSearchInfo& record, const OperatorAuth& auth) {
  handedOut_.Hold(HostOrZero(record.lanConfig.ipAddress));
  return discovery::SetLanConfigByBD(record, ToDevice(auth), hooks_.send);
}

int NetworkSettings::SetLanConfigBySerial(const std::string& serial, const DeviceSearchInfo& record,
                                          const OperatorAuth& auth) {
  int rc = kSerialNotInMap;
  map_.Modify(serial, [&](DeviceSearchInfo& stored) {
    stored = record;
    rc = SetLanConfigByBD(stored, auth);
  });
  return rc;
}

int NetworkSettings::RestoreDeviceBySerial(const std::string& serial, int keepNetwork, const OperatorAuth& auth) {
  int rc = kSerialNotInMap;
  const OperatorAuth device = ToDevice(auth);
  map_.Read(serial, [&](const DeviceSearchInfo& stored) { rc = RestoreDevByBD(stored, keepNetwork, device, hooks_.send); });
  return rc;
}

int NetworkSettings::RebootDevByBD(const std::string& serial, const OperatorAuth& auth) {
  int rc = kSerialNotInMap;
  const OperatorAuth device = ToDevice(auth);
  map_.Read(serial, [&](const DeviceSearchInfo& stored) { rc = RebootRecordByBD(stored.serialNumber, device, hooks_.send); });
  return rc;
}

int NetworkSettings::SetFactoryModeByBD(const std::string& serial, int mode) {
  int rc = kSerialNotInMap;
  const OperatorAuth defaults = hooks_.defaultLogin ? hooks_.defaultLogin() : OperatorAuth{};
  map_.Read(serial, [&](const DeviceSearchInfo& stored) {
    rc = SetFactoryModeRecordByBD(stored.serialNumber, mode, defaults, hooks_.send);
  });
  return rc;
}

int NetworkSettings::SendIntercomConfig(const std::string& serial, const IntercomConfig& intercom) {
  const auto body = BuildIntercomXml(serial, intercom);
  if (!body) return kBodyNotBuilt;
  hooks_.send(BuildDiscoveryMessage(kMsgSetNetwork, *body, 0));
  return 0;
}

void NetworkSettings::FillCache() {
  if (!cache_.ip.empty() && !cache_.gateway.empty()) return;
  if (hooks_.localNetwork) {
    cache_ = hooks_.localNetwork();
  } else {
    GetDefaultNetworkConfig(cache_);
  }
}

std::string NetworkSettings::GetNetworkParam(int index) {
  if (index < 0 || index >= 5) {
    Log("GetNetworkParam(): bad index: %d\n", index);
    return {};
  }
  FillCache();
  const std::string* fields[] = {&cache_.ip, &cache_.mask, &cache_.gateway, &cache_.dns1, &cache_.dns2};
  return *fields[index];
}

void NetworkSettings::ClearForNewList() {
  cache_ = LocalNetworkConfig{};
  handedOut_.Clear();
}

std::uint32_t NetworkSettings::LocalAddress() {
  FillCache();
  return HostOrZero(cache_.ip);
}

std::vector<std::uint32_t> NetworkSettings::FreeIpCandidates() {
  FillCache();
  const std::uint32_t local = HostOrZero(cache_.ip);
  const std::uint32_t gateway = HostOrZero(cache_.gateway);
  std::vector<std::uint32_t> taken = {local, gateway};
  map_.ForEach([&](const DeviceSearchInfo& r) {
    if (const auto a = ParseIpv4Host(r.lanConfig.ipAddress)) taken.push_back(*a);
  });
  if (hooks_.localAddresses) {
    const auto locals = hooks_.localAddresses();
    taken.insert(taken.end(), locals.begin(), locals.end());
  }
  std::sort(taken.begin(), taken.end());
  std::vector<std::uint32_t> out;
  if (local == 0) return out;
  for (std::uint32_t host = 2; host <= 254; ++host) {
    const std::uint32_t candidate = (local & 0xFFFFFF00u) | host;
    if (std::binary_search(taken.begin(), taken.end(), candidate) || handedOut_.Contains(candidate)) continue;
    out.push_back(candidate);
  }
  return out;
}

namespace {

// Shared by the caller and the probing threads, which may still finish a
// probe after the caller returned with its answer.
struct ProbeRun {
  std::vector<std::uint32_t> candidates;
  std::function<int(std::uint32_t)> probe;
  std::function<void(std::size_t)> progress;
  std::size_t count = 0;
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<signed char> results;  // -2 pending, 1 answered, 0 free, -1 could not be probed
  std::size_t next = 0, resolved = 0, freeInPrefix = 0, done = 0;
  int running = 0;
  bool stop = false;
};

constexpr signed char kPending = -2;

void ProbeWorker(std::shared_ptr<ProbeRun> run) {
  std::unique_lock lock(run->mutex);
  for (;;) {
    if (run->stop || run->next >= run->candidates.size()) break;
    const std::size_t index = run->next++;
    lock.unlock();
    const int r = run->probe(run->candidates[index]);
    lock.lock();
    run->results[index] = static_cast<signed char>(r > 0 ? 1 : r < 0 ? -1 : 0);
    ++run->done;
    // The answer is known once the resolved prefix holds `count` free addresses.
    while (run->resolved < run->results.size() && run->results[run->resolved] != kPending) {
      if (run->results[run->resolved] <= 0) ++run->freeInPrefix;
      ++run->resolved;
    }
    if (run->freeInPrefix >= run->count) run->stop = true;
    if (run->progress && !run->stop) run->progress(run->done);
    run->changed.notify_all();
  }
  --run->running;
  run->changed.notify_all();
}

}  // namespace

std::vector<std::uint32_t> ProbeFreeAddresses(const std::vector<std::uint32_t>& candidates, std::size_t count,
                                              const std::function<int(std::uint32_t)>& probe, int parallel,
                                              const std::atomic<bool>* cancel,
                                              const std::function<void(std::size_t)>& progress,
                                              std::vector<std::uint32_t>* unchecked) {
  std::vector<std::uint32_t> found;
  if (count == 0 || candidates.empty()) return found;
  auto run = std::make_shared<ProbeRun>();
  run->candidates = candidates;
  run->probe = probe;
  run->progress = progress;
  run->count = count;
  run->results.assign(candidates.size(), kPending);
  const int threads = std::max(1, std::min<int>(parallel, static_cast<int>(candidates.size())));
  run->running = threads;
  // The threads are detached: once the answer is known the caller returns
  // without waiting out the time-outs of probes still in flight; each thread
  // ends after its current probe.
  for (int i = 0; i < threads; ++i) std::thread(ProbeWorker, run).detach();
  std::unique_lock lock(run->mutex);
  while (!run->stop && run->running > 0) {
    run->changed.wait_for(lock, std::chrono::milliseconds(20));
    if (cancel && cancel->load()) run->stop = true;
  }
  run->stop = true;
  for (std::size_t i = 0; i < run->resolved && found.size() < count; ++i) {
    if (run->results[i] > 0) continue;
    found.push_back(run->candidates[i]);
    if (unchecked && run->results[i] < 0) unchecked->push_back(run->candidates[i]);
  }
  return found;
}

std::optional<std::vector<std::uint32_t>> ConsecutiveAddresses(std::uint32_t start, std::uint32_t end,
                                                               std::uint32_t mask, std::size_t count) {
  if (!IsContiguousMask(mask) || !IsHostOfSubnet(start, mask)) return std::nullopt;
  std::uint32_t last = BroadcastOf(start, mask);
  if (~mask > 1u) --last;  // the broadcast address is never handed out
  if (end != 0) last = std::min(last, end);
  if (last < start || static_cast<std::uint64_t>(last - start) + 1 < count) return std::nullopt;
  std::vector<std::uint32_t> out(count);
  for (std::size_t i = 0; i < count; ++i) out[i] = start + static_cast<std::uint32_t>(i);
  return out;
}

RangeDefaults SuggestRangeDefaults(std::uint32_t start, std::uint32_t network, const std::string& mask,
                                   const std::string& gateway, const std::string& dns1, const std::string& dns2) {
  RangeDefaults d;
  d.start = FormatIpv4Host(start);
  d.mask = mask;
  d.gateway = Unset(gateway) ? FormatIpv4Host(network + 1) : gateway;
  d.dns1 = Unset(dns1) ? kFallbackDns1 : dns1;
  d.dns2 = Unset(dns2) ? kFallbackDns2 : dns2;
  return d;
}

LANConfigInfo PrepareChangeIpValues(const LANConfigInfo& lan) {
  LANConfigInfo out = lan;
  const auto mask = ParseIpv4Host(lan.netmask);
  std::uint32_t m = 0xFFFFFF00u;
  if (mask && IsContiguousMask(*mask) && *mask != 0) {
    m = *mask;
  } else {
    out.netmask = "255.255.255.0";
  }
  const std::uint32_t address = HostOrZero(lan.ipAddress);
  const auto gateway = ParseIpv4Host(lan.gateway);
  if (!gateway || NetworkOf(*gateway, m) != NetworkOf(address, m)) out.gateway = FormatIpv4Host(NetworkOf(address, m) + 1);
  return out;
}

void ApplyDhcpDefaults(LANConfigInfo& lan) {
  lan.dhcp = 1;
  if (lan.ipAddress == "0.0.0.0") {
    lan.ipAddress = "192.168.0.123";
    lan.netmask = "255.255.255.0";
    lan.gateway = "192.168.0.1";
  }
}

}  // namespace kelvara::discovery
