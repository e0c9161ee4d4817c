#pragma once
// Snapshot, time-lapse and record export on the main window: menu 32790
// (the selected row's snapshot), button 19 (a snapshot of every checked
// row), menus 33382 and 33383 (time-lapse and record export of the selected
// row after the date dialog). Each runs through DeviceFileRequests, so every
// row ends in one terminal state; a timer ends rows past their time.
// UI thread only.
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "device/core/file_requests.h"
#include "device/ui/device_command_host.h"

namespace kelvara::device {

class BatchFileCommands : public QObject {
 public:
  struct Hooks {
    // The window's CheckSelection: the checked count (after its box when none is).
    std::function<int()> checkSelection;
    // The list's first selected row index, or -1.
    std::function<int()> selectedIndex;
    // The date dialog, modal: the chosen day after OK, else nothing.
    std::function<std::optional<FileRequestDay>()> askDay;
    std::function<void(const char* textKey, const char* captionKey)> infoBox;
    std::function<void(const std::string&)> showSummary;
  };
  // Takes over `commands.afterStatusEvent` and `afterAuxResponse`, calling
  // what was there first;
  // destroy before whoever set it.
  BatchFileCommands(DeviceCommandHost& commands, Hooks hooks);
  ~BatchFileCommands() override;

  // 32790, 33382, 33383; false for any other id.
  bool OnCommand(int id);
  void OnBatchSnapshot();  // button 19
  // The window's snapshot check found the list row's picture late.
  void OnSnapshotTimedOut(int index);
  // The list was emptied.
  void OnRowsCleared() { requests_->OnRowsCleared(); }

  DeviceFileRequests& Requests() { return *requests_; }

 private:
  void RequestVideo(DeviceFileKind kind);

  DeviceCommandHost& commands_;
  Hooks hooks_;
  std::function<void(const DeviceStatusEvent&)> previous_;
  std::function<void(const DeviceAuxResponse&)> previousReply_;
  std::unique_ptr<DeviceFileRequests> requests_;
  QTimer tick_;
};

}  // namespace kelvara::device
