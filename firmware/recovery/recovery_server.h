#pragma once
// The boot-recovery server without its window: answers firmware requests with
// an image of the firmware folder, an address and a MAC, follows progress
// reports in the device table, and tells the device list which recovered
// devices still want a factory restore.
//
// Thread use: HandleRequest may run on several workers at once (a firmware
// request probes candidate addresses, up to ~200 ms each, about a second
// each through the system's ping program); the UI thread sets
// the adapter and folder and asks the restore queries. One mutex guards the
// table and the firmware list and is never held while an address is probed or
// a hook runs.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/core/broadcast_commands.h"
#include "firmware/core/firmware_list.h"
#include "firmware/recovery/boot_device_table.h"
#include "firmware/recovery/recovery_wire.h"

namespace kelvara::firmware {

// A device that holds an address and has sent nothing for this long is gone,
// and its address goes back to the pool. A live device is heard at least at
// every step it reports; its longest silence is the image fetch over TFTP (the
// helper ends a fetch that makes no progress for a minute) or writing the
// file system to flash, each a few minutes at most.
inline constexpr std::chrono::minutes kSilentDeviceRelease{10};

struct RecoveryHooks {
  // Language text of a key (step texts).
  std::function<std::string(std::string_view key)> language;
  // One log line (UTF-8); any thread.
  std::function<void(const std::string& line)> log;
  // A copy of a changed device; any thread.
  std::function<void(const BootDeviceInfo& device)> device_update;
  // PingTest: 1 answered, 0 no answer, -1 no probe could be made.
  std::function<int(std::uint32_t address)> probe;
  // MAC bytes; RandomMacBytes unless a test replaces it.
  std::function<std::array<std::uint8_t, 6>()> random_mac;
  // A monotonic clock for the silence of devices; steady_clock unless a test
  // replaces it.
  std::function<std::chrono::steady_clock::time_point()> now;
};

class RecoveryServer : public discovery::RecoveryMarks {
 public:
  explicit RecoveryServer(RecoveryHooks hooks, std::size_t table_capacity = kBootDeviceTableCapacity);

  // The chosen adapter's IPv4 address in network order, 0 for none.
  void SetAdapterAddress(std::uint32_t address) { adapter_.store(address); }
  std::uint32_t AdapterAddress() const { return adapter_.load(); }
  // The firmware folder text (as typed) and a fresh listing of its images.
  void SetFirmwareFolder(std::string folder);
  void RebuildFirmwareList();
  void SetFirmwareList(FirmwareList list);  // tests
  // The restore check box.
  void SetRestoreEnabled(bool on) { restore_enabled_.store(on); }
  bool RestoreEnabled() const { return restore_enabled_.load(); }

  // The reply to one datagram from `sender` (network order); empty: send
  // nothing. With `quiet` the request is handled without log lines (a flood
  // guard upstream counts them instead).
  std::string HandleRequest(std::uint32_t sender, std::string_view datagram, bool quiet = false);

  // The newest listed image whose version holds the type (never for an empty
  // type), else a "firmware_*factory_zq*.bin" image of the folder that passes
  // the header check; its file name, empty when none.
  std::string ChooseFirmwareFile(std::string_view dev_type);
  // A free address in the adapter's /24 (round robin, probed), from then on
  // held by `uuid`, which gives back the one it held before. Never one that
  // answered its probe or that another device holds. A candidate whose probe
  // could not run at all counts as free, with `*unchecked` set so the caller
  // says so. Empty without adapter or when no address is free (nothing is
  // then held).
  std::string PickDeviceIp(std::uint32_t sender, const std::string& uuid, bool* unchecked = nullptr);
  // How many addresses devices hold now (the silent ones released first).
  std::size_t HeldAddresses();
  // A MAC text not handed out before in this run.
  std::string MakeRandomMac();

  bool NeedsFactoryRestore(const std::string& uuid) override;
  void CountFactoryRestore(const std::string& uuid) override;

  // While set, address picking gives up at once (the listener is stopping).
  void SetCancelled(bool on) { cancelled_.store(on); }

  // The clear commands of the window; clearing the history also gives back
  // every held address.
  void ClearRestoreAttempts();
  void ClearHistory();
  std::vector<BootDeviceInfo> Devices() const;

 private:
  struct Holder {
    std::uint32_t address = 0;  // host order
    std::chrono::steady_clock::time_point heard;
  };
  std::string FirmwareRequest(std::uint32_t sender, const RecoveryRequest& request, bool quiet);
  void ProgressReport(const RecoveryRequest& request, bool quiet);
  // Under the lock: the device's address back to the pool.
  void ReleaseLocked(const std::string& uuid);
  // Under the lock: addresses of devices silent for too long back to the pool.
  void ReleaseSilentLocked(std::chrono::steady_clock::time_point now);
  std::chrono::steady_clock::time_point Now() const;
  void Log(const std::string& line) const;
  void Post(const BootDeviceInfo& device) const;
  std::string StepText(int step) const;

  RecoveryHooks hooks_;
  std::atomic<std::uint32_t> adapter_{0};
  std::atomic<bool> restore_enabled_{true};
  std::atomic<bool> cancelled_{false};

  mutable std::mutex mutex_;  // guards everything below
  BootDeviceTable table_;
  FirmwareList firmware_;
  std::string folder_;
  std::uint32_t host_counter_ = 0;
  // Candidates claimed while a worker probes them (host order).
  std::set<std::uint32_t> probing_;
  // The address each device holds, and when it was last heard: one address
  // per device (a device that asks again leaves its old one) and one device
  // per address. Released when the device finishes or fails, falls silent or
  // the history is cleared.
  std::map<std::string, Holder> holders_;
  std::set<std::uint32_t> held_;  // the holders' addresses
  std::set<std::string> handed_macs_;
};

}  // namespace kelvara::firmware
