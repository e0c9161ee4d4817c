#pragma once
// What the main window asks of the subsystems that add their parts to it. Each
// has a do-nothing default, so the window runs before they exist; their
// subsystems give the real ones.
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/shell/main_timers.h"
#include "device/core/sdk_bridge.h"
#include "printing/qt/device_label_button.h"

class QDialog;
class QWidget;

namespace kelvara::ui {

// The device search and the device list. Where the search starts and where the
// 200-ms refresh hooks in: the main window calls StartSearch when the search
// button starts a search (and once at start-up), StopSearch when it stops one,
// SendSearchRequest on every search-request tick and RefreshDeviceList on every
// list-refresh tick. The window owns the timers and the search-running flag.
class DeviceListSeam {
 public:
  virtual ~DeviceListSeam() = default;
  // The widget of control 1000 (the device list), parented to the window.
  virtual QWidget* CreateListWidget(QWidget* parent);
  virtual void InitColumns() {}
  virtual void StartSearch() {}
  virtual void StopSearch() {}
  virtual void SendSearchRequest() {}
  virtual void RefreshDeviceList() {}
  // New-device mode (check box 1009, "CLEARSN") was switched.
  virtual void SetNewDeviceMode(bool) {}
  virtual int CheckedRowCount() { return 0; }
  // Checks or clears every row (the check-all box); the totals follow.
  virtual void SetAllChecked(bool) {}
  // P2P id of the first selected row; empty when none is selected.
  virtual QString FirstSelectedP2pId() { return {}; }
  // What the device label prints of the first selected row; false when none is selected.
  virtual bool SelectedLabelFields(printing::DeviceLabelFields&) { return false; }
  // P2P id of a row by its index in the list; empty for no such row.
  virtual QString P2pIdOfRow(int) { return {}; }
  virtual void ForEachRow(const std::function<bool(int row, shell::RowTimerState&)>&) {}
  // A command of the device list's buttons and menus (restore button 4,
  // default login button 21, Excel export button 26, menu ids).
  virtual void OnCommand(int) {}
  virtual void OnSnapshotTimedOut(int) {}
  virtual void RestoreDayMode(int) {}
  virtual void CyclicRebootStep() {}
  // Status events and AUX replies of the device SDK, on the UI thread.
  virtual void OnSdkStatusEvent(device::DeviceStatusEvent) {}
  virtual void OnSdkAuxResponse(device::DeviceAuxResponse) {}
  // Shut-down: every device-log receiver is told to stop, then all are joined.
  virtual void StopDeviceLogs() {}
  // Shut-down: the rows and what they own are freed.
  virtual void ClearRows() {}
};

class CWndManager;
class CDialogVideo;

// The live view.
class LiveViewSeam {
 public:
  virtual ~LiveViewSeam() = default;
  // The grid and its window, made by the main window at start-up.
  virtual void Attach(CWndManager*, CDialogVideo*) {}
  // Double click of a device row: its live view in the next pane (-1: none).
  virtual int OpenDevicePreview(int) { return -1; }
  // The layout button (1301): the layout menu at the cursor.
  virtual void ShowLayoutMenu(QWidget*) {}
  // A live-view entry of the device list's menu; false when it is not one.
  virtual bool OnListCommand(int, int) { return false; }
  virtual void CloseAllPreviews() {}
  virtual void SetSelectedPaneAudio(bool) {}
  virtual void HidePreviewPopup() {}
  // The focusing dialog's grid over every playing pane: columns x rows
  // cells, or off.
  virtual void MotionGridOn(int /*columns*/, int /*rows*/) {}
  virtual void MotionGridOff() {}
  // The device preview popup at a screen point, made on first use.
  virtual void ShowPreviewPopup(QWidget*, int /*screen_x*/, int /*screen_y*/, const QString& /*text*/,
                                int /*online*/) {}
};

// Label printing and the QR windows.
class PrintingSeam {
 public:
  virtual ~PrintingSeam() = default;
  virtual void ShowPrePrintDlg(QWidget*) {}
  virtual void ShowPrintDlg(QWidget*) {}
  // Shows the QR popup of the text, made on first use; an empty text hides it.
  // compact: the hover presentation, centred on the window; otherwise near
  // the window's lower right corner with its copy and print buttons.
  virtual void ShowQrPopup(QWidget*, const QString&, bool /*compact*/) {}
  virtual void HideQrPopup() {}
  // One QR label on the default printer, no dialog; nothing when either text is empty.
  virtual int PrintQrLabel(const QString&, const QString&) { return 0; }
  // The label button: the tips-layout label of the selected device (null: none
  // selected) on the default printer, with the outcome in a message box.
  virtual void PrintDeviceLabel(QWidget*, const printing::DeviceLabelFields*) {}
};

// Firmware upgrades and the files sent to devices.
class FirmwareSeam {
 public:
  virtual ~FirmwareSeam() = default;
  // Buttons of the file rows and panel (1189-1193, 1291-1295, 1302, 6) and
  // the device menus' file commands (33015-33017, 33100-33109, 33308,
  // 33378-33379); false for an id that is not the firmware's.
  virtual bool OnCommand(int) { return false; }
  // Files or folders dropped on the window, in order.
  virtual void OnDropFiles(const QStringList&) {}
  // Each tick of TIMER_UPGRADE_WATCH before the busy rows are tested; false
  // while an upgrade of the run has no terminal state yet.
  virtual bool UpgradeWatchTick() { return true; }
  // The watch timer ended the run.
  virtual void UpgradeRunEnded() {}
};

// A local IPv4 address with its adapter's description.
struct NetCard {
  std::uint32_t address = 0;  // as inet_addr gives it (network byte order)
  std::string dotted;
  std::string description;
};

// The modeless dialogs the window owns, made by their subsystems.
struct ModelessFactories {
  std::function<QDialog*(QWidget* parent)> audio_play;
  // The audio button's talk command (1300) and whether the intercom dialog
  // talks now (the item's text); both are given the dialog once it exists.
  std::function<void(QDialog* audio)> audio_talk;
  std::function<bool(QDialog* audio)> audio_talking;
  std::function<QDialog*(QWidget* parent)> manual_focus;
  std::function<QDialog*(QWidget* parent)> boot_server;
};

}  // namespace kelvara::ui
