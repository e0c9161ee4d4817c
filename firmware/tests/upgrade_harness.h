#pragma once
// Kelvara's upgrade and file handlers against simulated devices over the real
// device SDK: devices of devsim, rows made from their search replies, logged
// in through the SDK; SDK events are carried to the calling thread and applied
// as the window does (login state, then the device commands' event and reply
// handlers with the firmware's seams).
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/core/login_events.h"
#include "device/core/sdk_bridge.h"
#include "discovery/core/search_reply.h"
#include "firmware/core/firmware_actions.h"
#include "device/core/aux_replies.h"
#include "device/core/device_commands.h"
#include "device/core/status_events.h"
#include "device/core/zq_command_sdk.h"
#include "firmware/core/device_links.h"
#include "firmware/core/zq_firmware_sdk.h"
#include "firmware/tests/firmware_fakes.h"
#include "simulator.h"

namespace kelvara::firmware::test {

// Records every text written into a row's status column, in order.
class HistoryView : public discovery::test::RecordingView {
 public:
  void CellText(discovery::DeviceListRow& row, int listColumn, const std::string& text) override {
    RecordingView::CellText(row, listColumn, text);
    history[{&row, listColumn}].push_back(text);
  }
  std::map<std::pair<discovery::DeviceListRow*, int>, std::vector<std::string>> history;
};

class QueueSink : public device::SdkEventSink {
 public:
  void PostStatusEvent(device::DeviceStatusEvent event) override {
    std::lock_guard lock(mutex);
    events.push_back(std::move(event));
    cv.notify_all();
  }
  void PostAuxResponse(device::DeviceAuxResponse response) override {
    std::lock_guard lock(mutex);
    replies.push_back(std::move(response));
    cv.notify_all();
  }
  std::mutex mutex;
  std::condition_variable cv;
  std::deque<device::DeviceStatusEvent> events;
  std::deque<device::DeviceAuxResponse> replies;
};

class UpgradeHarness {
 public:
  explicit UpgradeHarness(devsim::Simulator& sim);
  ~UpgradeHarness();

  // Logs every device in and waits for the logins; false when one is missing.
  bool LoginAll(std::chrono::milliseconds limit);
  // Applies SDK events until `done` holds or the time is up; false on time-out.
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit,
                 std::chrono::milliseconds watch_every = std::chrono::milliseconds(200));
  // Runs the upgrade watch ticks while pumping until the run is over.
  bool FinishRun(std::chrono::milliseconds limit);

  discovery::DeviceListRow& Row(int device) { return *rows.rows.FindByKey(sim.device(device).serial()); }
  std::vector<std::string> StatusHistory(int device) {
    return view.history[{&Row(device), columns.GetColumnIndex(discovery::kColState)}];
  }
  // The journal's "file" lines of a device: kind, size, SHA-256, name.
  std::vector<std::string> ReceivedFiles(int device);
  std::vector<device::DeviceStatusEvent> seen;

  devsim::Simulator& sim;
  discovery::ColumnMap columns;
  HistoryView view;
  discovery::DeviceMap map;
  struct RowsHolder {
    RowsHolder(discovery::ColumnMap& c, HistoryView& v) : rows(c, v) {}
    discovery::DeviceRows rows;
  } rows{columns, view};
  QueueSink sink;
  FakeWindow window;
  ZqFirmwareSdk sdk;
  device::ZqCommandSdk command_sdk;
  std::unique_ptr<FirmwareDeviceSeams> seams;
  std::unique_ptr<device::DeviceCommands> commands;
  std::unique_ptr<device::AuxReplyHandler> replies;
  std::unique_ptr<device::StatusEventHandler> events;
  std::unique_ptr<CommandFileWorkers> workers;
  std::unique_ptr<FirmwareActions> actions;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

std::string Sha256Hex(const std::string& bytes);

}  // namespace kelvara::firmware::test
