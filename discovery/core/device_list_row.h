#pragma once
// The record behind one row of the device list: a copy of the device's last
// search record, renewed by every list refresh, followed by the state that
// belongs to the row and survives refreshes.
#include <array>
#include <bitset>
#include <cstdint>
#include <memory>
#include <string>

#include "common/settings_records.h"
#include "discovery/core/device_columns.h"
#include "discovery/core/device_records.h"
#include "discovery/core/row_format.h"

namespace kelvara::discovery {

// Something a row owns and ends with it (the row's device-log receiver).
class RowResource {
 public:
  virtual ~RowResource() = default;
  // Asks the resource's threads to stop without waiting, so that freeing many
  // rows waits for all of them at once rather than one after another.
  virtual void RequestStop() {}
};

struct DeviceListRow {
  DeviceSearchInfo m_searchInfo;
  std::string m_key;          // serial number the row was created under (63 chars)
  int m_loginHandle = 0;      // > 0 while logged in; set through DeviceRows::SetLoginHandle
  bool m_online = false;      // kept from status events
  bool m_busy = false;        // a firmware upload runs
  std::string m_loginVersion;  // firmware version read over the login (127)
  std::string m_fsVersion;     // file-system version (127)
  std::string m_abilityText;   // ability text (4095)
  std::string m_loginSerial;   // serial number read over the login (127)
  int m_snapshotPending = 0;
  std::int64_t m_snapshotTime = 0;  // seconds since 1970
  std::uint32_t m_rowColour = 0;    // background colour, 0x00BBGGRR
  int m_tvSystemPending = 0, m_tvSystemValue = 0;
  int m_allnetPending = 0, m_allnetValue = 0;
  int m_hikPending = 0, m_hikValue = 0;
  int m_onvifPending = 0, m_onvifValue = 0;
  int m_dhPending = 0, m_dhValue = 0;
  int m_krnPending = 0, m_krnValue = 0;
  int m_ircutDemoState = 0;
  std::array<std::uint8_t, 140> m_videoCapture{};
  // The device's own video-capture block as it came before the night-mode
  // demonstration; sent back unchanged when the demonstration ends.
  std::string m_videoCaptureBlock;
  int m_pdPending = 0;
  BatchPDSettings m_pdSettings;
  int m_lightPending = 0;
  MediaLightConfig m_lightSettings;
  int m_labelPrinted = 0;  // production mode: label printed
  int m_timelapsePending = 0;
  int m_recordExportPending = 0;
  std::unique_ptr<RowResource> m_netLogThread;  // owned by the row
  int m_imported = 0;

  // What the list shows, per logical column and colour: a cell is written
  // only when its text differs from this.
  std::array<std::string, kColumnCount> shownText;
  RowColour shownColour = RowColour::kWindowText;
  // The record the cells were last filled from (shared with the device map)
  // and the format context's generation then: the next fill formats only the
  // columns whose inputs changed. Cells written by anyone else since, or
  // skipped while hidden, are in cellsToRefill and are formatted again too.
  std::shared_ptr<const DeviceSearchInfo> filledFrom;
  std::uint64_t filledGeneration = 0;
  std::bitset<kColumnCount> cellsToRefill;
  bool checked = false;  // the row's check box, mirrored by the list glue
};

// Forgets every set-after-get request still waiting for its reply. Called when
// the row's login changes or its link ends, so a late reply never applies an
// old request to a new session.
inline void ClearPendingRequests(DeviceListRow& row) {
  row.m_tvSystemPending = row.m_allnetPending = row.m_hikPending = row.m_onvifPending = 0;
  row.m_dhPending = row.m_krnPending = row.m_pdPending = row.m_lightPending = 0;
  if (row.m_ircutDemoState == 1) row.m_ircutDemoState = 0;
}

}  // namespace kelvara::discovery
