#pragma once
// The boot-recovery server without its window: answers firmware requests with
// an image of the firmware folder, an address and a MAC, follows progress
// reports in the device table, and tells the device list which recovered
// devices still want a factory restore.
//
// Thread use: HandleRequest may run on several workers at once (a firmware
// request probes candidate addresses, up to ~200 ms each); the UI thread sets
// the adapter and folder and asks the restore queries. One mutex guards the
// table and the firmware list and is never held while an address is probed or
// a hook runs.
#include <atomic>
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

  // The reply to one datagram from `sender` (network order); empty: send nothing.
  std::string HandleRequest(std::uint32_t sender, std::string_view datagram);

  // The newest listed image whose version holds the type (never for an empty
  // type), else a "firmware_*factory_zq*.bin" image of the folder that passes
  // the header check; its file name, empty when none.
  std::string ChooseFirmwareFile(std::string_view dev_type);
  // A free address in the adapter's /24 (round robin, probed; a probe that
  // could not run counts as in use); never one a device holds from this run.
  // Empty without adapter or when no address is free.
  std::string PickDeviceIp(std::uint32_t sender);
  // A MAC text not handed out before in this run.
  std::string MakeRandomMac();

  bool NeedsFactoryRestore(const std::string& uuid) override;
  void CountFactoryRestore(const std::string& uuid) override;

  // While set, address picking gives up at once (the listener is stopping).
  void SetCancelled(bool on) { cancelled_.store(on); }

  // The clear commands of the window.
  void ClearRestoreAttempts();
  void ClearHistory();
  std::vector<BootDeviceInfo> Devices() const;

 private:
  std::string FirmwareRequest(std::uint32_t sender, const RecoveryRequest& request);
  void ProgressReport(const RecoveryRequest& request);
  // `address` (dotted) is now the one handed to `uuid`: the one it had before
  // is free again.
  void NoteHandedAddress(const std::string& uuid, const std::string& address);
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
  std::set<std::uint32_t> handed_addresses_;  // host order
  // The address last handed to each device (host order): a device that asks
  // again has left it, so it goes back to the pool instead of being held for
  // the whole run. At most one device per handed address.
  std::map<std::string, std::uint32_t> last_address_;
  std::set<std::string> handed_macs_;
};

}  // namespace kelvara::firmware
