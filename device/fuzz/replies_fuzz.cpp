// Device replies and events, as a device or a hostile peer sends them: the
// first byte picks what arrives (a reply to one of the commands whose text is
// read, an alarm record, a download-done text), the second its result, the
// rest is its text. Every change waits for its reply, so every follow-up runs.
#include <cstddef>
#include <cstdint>
#include <string>

#include "device/core/aux_replies.h"
#include "device/core/device_commands.h"
#include "device/core/status_events.h"
#include "discovery/core/device_rows.h"

namespace {

using namespace kelvara;

class NullSdk : public device::CommandSdk {
 public:
  int SystemControl(int, int, const std::string&) override { return 0; }
  int GetDVRConfig(int, int) override { return 0; }
  int SetDVRConfig(int, int, const std::string&) override { return 0; }
  int SetDeviceConfig(int, int, const std::string&) override { return 0; }
  int RebootDVR(int) override { return 0; }
  int PTZPreset(int, int, int) override { return 0; }
  int GetConfigFile(int, const std::string&) override { return 0; }
  int SetConfigFile(int, const std::string&) override { return 0; }
  int GetFileByName(int, int, const std::string&, const std::string&) override { return 0; }
};

class NullView : public discovery::RowView {
 public:
  void RowInserted(discovery::DeviceListRow&) override {}
  void CellText(discovery::DeviceListRow&, int, const std::string&) override {}
  void RowTextColour(discovery::DeviceListRow&, discovery::RowColour) override {}
  void RowsCleared() override {}
};

const int kCommands[] = {504, 305, 600, 800, 505, 1014, 1012, 1019, 1020, 1095, 524, 1017};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static discovery::ColumnMap columns = [] {
    discovery::ColumnMap c;
    c.BuildColumnMap({});
    return c;
  }();
  NullView view;
  discovery::DeviceRows rows(columns, view);
  discovery::DeviceMap map;
  DeviceSearchInfo info;
  info.serialNumber = "FUZZ";
  info.lanConfig.ipAddress = "10.1.2.3";
  map.AddOrUpdateDevice(info, "0.0.0.0", 1);
  rows.RefreshDeviceList(map, {});
  discovery::DeviceListRow* row = rows.FindByKey("FUZZ");
  if (!row) return 0;
  rows.SetLoginHandle(*row, 7);
  row->m_online = true;
  row->m_imported = 1;

  NullSdk sdk;
  device::DeviceCommands::Options o;
  o.sdk = &sdk;
  o.documentsDir = [] { return std::filesystem::temp_directory_path() / "kelvara-fuzz-docs"; };
  device::DeviceCommands commands(rows, o);
  device::AuxReplyHandler replies(commands);
  device::StatusEventHandler events(commands, replies);
  commands.RequestTvSystemChange(row, data[1]);
  commands.RequestLightChange(row, {});
  commands.RequestNightModeDemo(row);
  commands.RequestOnvifAllNetChange(row, 1);
  commands.RequestHikAccessChange(row, 0);
  commands.RequestVendorAccessChange(row, 1);
  BatchPDSettings pd;
  pd.reset_region = data[1] & 1;
  commands.RequestAlarmConfigChange(row, pd);

  const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
  const std::size_t pick = data[0] % (std::size(kCommands) + 2);
  if (pick < std::size(kCommands)) {
    replies.OnDeviceAuxResponse({7, data[1] & 3, kCommands[pick], text});
  } else if (pick == std::size(kCommands)) {
    // The alarm record; no download leaves the process (the SDK is a stub).
    events.OnDeviceStatusEvent({7, 23, text});
  } else {
    events.OnDeviceStatusEvent({7, 16, text});
  }
  return 0;
}
