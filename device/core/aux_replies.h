#pragma once
// The UI-thread handler of AUX replies: success or failure of set commands,
// the texts read at login, the storage state, the OSD title of imported
// devices, and the set-after-get follow-ups.
//
// A follow-up writes back only a block that arrived with result 0 and reads
// as the expected element: it changes the named attributes in the device's
// own XML tree and sends that tree, so everything else the device sent goes
// back as it came. All changes waiting for the same reply go out in one
// write. A failed or unreadable reply sends nothing, clears the waiting
// changes and shows the failure in the row.
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "device/core/device_commands.h"
#include "device/core/sdk_bridge.h"

class TiXmlElement;

namespace kelvara::device {

// Six values of a storage reply: mounted, total MB, used MB, free MB,
// percent used, status.
struct DeviceStorageInfo {
  int mounted = 0, total = 0, used = 0, free = 0, percent = 0, status = 0;
};

// The storage cell's text.
std::string StorageInfoText(const DeviceStorageInfo& info, const std::function<std::string(const char*)>& lookup);

// The video-capture members the record keeps (TV system, IR-cut and light
// settings), each stored at its own offset and width; the other bytes stay.
void FillVideoCaptureRecord(const TiXmlElement& capture, std::array<std::uint8_t, 140>& record);

class AuxReplyHandler {
 public:
  explicit AuxReplyHandler(DeviceCommands& commands)
      : netLogUpdate([&commands](discovery::DeviceListRow& row) { commands.Seams().Login().UpdateNetLogReceiver(row); }),
        commands_(commands) {}

  void OnDeviceAuxResponse(const DeviceAuxResponse& reply);

  void ApplyVideoCaptureReply(int handle, int result, const std::string& text);
  void ApplyLanConfigReply(int handle, int result, const std::string& text);
  void ApplyStreamAccessReply(int handle, int result, const std::string& text);
  void ApplyAlarmConfigReply(int handle, int result, const std::string& text);
  void ParseStorageReply(int handle, const std::string& text);
  void ShowStorageInfo(int handle, const DeviceStorageInfo& info);
  // At login, for imported rows while the title column is shown.
  void RequestOsdTitle(int handle);
  void ApplyOsdReply(int handle, int result, const std::string& text);

  // Re-applies a row's device log after its serial number was read (by
  // default the login seam's UpdateNetLogReceiver).
  std::function<void(discovery::DeviceListRow&)> netLogUpdate;
  // The reply to a get (`command`) that was to start a change could not be
  // used (a block that cannot be read), or the set it started was refused
  // by the SDK: the change was not made on that device. Called before the
  // reply's handling returns; batch jobs end the row as failed.
  std::function<void(int handle, int command)> onChangeNotMade;

 private:
  void SetResult(int handle, int result);
  void ChangeNotMade(int handle, int command) {
    if (onChangeNotMade) onChangeNotMade(handle, command);
  }
  DeviceCommands& commands_;
};

}  // namespace kelvara::device
