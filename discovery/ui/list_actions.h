#pragma once
// The device list's commands: the context menu and its entries, the
// login-free network settings (change address, free and consecutive
// addresses, DHCP, restore), the row actions (web page, log in again,
// default login, copy, select all), the list's Excel and XML files, the
// clipboard copy of a search reply and the batch-debug rows.
//
// Everything runs on the UI thread; address probes run on a worker thread
// and come back to it. Commands of other subsystems in the menu go to
// `otherCommand`.
#include <QObject>
#include <QPoint>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "discovery/core/context_menu.h"
#include "dialogs/core/ip_setting_model.h"
#include "dialogs/core/password_model.h"
#include "discovery/core/device_sheet.h"
#include "discovery/ui/device_list_controller.h"

class CSaveParam;
class QProgressDialog;
class QWidget;

namespace kelvara::ui {
class UserPrompts;
}

namespace kelvara::discovery {

class DeviceListActions : public QObject {
  Q_OBJECT
 public:
  struct Hooks {
    QWidget* window = nullptr;            // parent of dialogs and menus
    ui::UserPrompts* prompts = nullptr;   // message boxes and file pickers
    CSaveParam* settings = nullptr;       // default login, first consecutive address, last file
    // Display switches.
    int style = 0;                         // "STYLE"
    std::string customXmlRoot;             // IDS_CUST_XML_ROOT
    std::string uiLanguage = "en-us";
    bool showP2pService = true;            // ID_SHOW_P2PSERVICE
    bool operationPasswordShown = false;   // item 1055: restores go by broadcast only
    // The window's parts.
    std::function<void()> closeAllPreviews;
    // Before an import replaces the list: stop a running search with its
    // timers, or clear the select-all box when none runs.
    std::function<void()> stopSearchForImport;
    std::function<int()> gridPanes;
    std::function<bool()> autoTraceOn;
    // Menu commands other subsystems handle (row = selected row or -1);
    // false when none did.
    std::function<bool(int id, int row)> otherCommand;
    // The preview popup over the preview column: shown for a row (its online
    // flag, screen position and serial number) or hidden (row -1).
    std::function<void(int online, const QPoint& screen, const QString& serial)> showPreviewPopup;
    std::function<void()> hidePreviewPopup;
    // Double click on an online row: its live view.
    std::function<void(int row)> openDevicePreview;
    // The default login was changed in its dialog (the window's edits follow).
    std::function<void()> defaultLoginChanged;
    // The SDK's restore of a logged-in device (ZQ_NETSDK_IPC_RestoreConfig).
    std::function<int(int handle)> restoreConfig;
    // Outside effects, replaceable in tests.
    std::function<bool(const QString& url)> openUrl;  // false: nothing opened it
    std::function<void(const std::string& text)> setClipboard;  // 8-bit text
    std::function<int(std::uint32_t hostOrder)> probe;          // PingTest
    // GetFirstAdapterAddress in host order; false when there is none.
    std::function<bool(std::uint32_t& address, std::uint32_t& mask, std::uint32_t& gateway)> firstAdapter;
    // Runs the address dialog (tests answer it); true when confirmed.
    std::function<bool(dialogs::IpSettingValues& values, bool rangeMode, int deviceCount, bool fullRange)> runIpDialog;
    std::function<bool(dialogs::DefaultUserValues& values)> runDefaultUserDialog;
  };

  DeviceListActions(DeviceListController& list, Hooks hooks, QObject* parent = nullptr);
  ~DeviceListActions() override;

  // Context menu (right click on the list): shown at `globalPos`.
  void OnListRightClick(const QPoint& globalPos);
  // The menu the selected row gets; nullopt when nothing opens.
  std::optional<std::vector<MenuEntry>> MenuForSelection() const;
  // A menu or button command.
  void OnCommand(int id);

  // The row under the mouse (-1: none) gets the hot colour, every other
  // row white; over the preview column the preview popup shows.
  void OnListHotTrack(int row, int column);
  // The rows of the device shown in the selected video pane (by login
  // handle) get the pane colour, every other row white; nullopt makes every
  // row white. Only rows whose colour changes are repainted.
  void MarkPaneDeviceRows(std::optional<int> loginHandle);
  // Double click: the selected row's live view when it is online.
  void OnListDblClick();

  // Network settings without login.
  void OnChangeIp();
  void OnRestoreDefault();
  void OnFactoryRestore(int menuId);
  void OnSetStaticIp();
  void OnSetDhcp();
  void OnSetIpFree();
  void OnSetIpConsecutive();
  // A free-address search still running (tests wait for it).
  bool ProbeRunning() const { return probing_; }

  // Row actions.
  void OnOpenWeb();
  void OnLoginToggle();
  void OnLoginSettings();
  void CopyDeviceFields(int id);
  void OnSelectAll(bool checked);
  int GetCheckedCount() const;
  int GetSelectedLoginHandle();
  std::string GetSelectedSerial();

  // Files and the clipboard. The imports read the file on a worker, the
  // Excel export an existing workbook's sheet names; the list is replaced
  // (or the file written, or the error shown) when the result is back on
  // the UI thread. One file is read at a time.
  void OnExportExcel();
  void OnImportExcel();
  void OnExportXml();
  void OnImportXml();
  // A list file still being read (tests wait for it).
  bool ImportRunning() const { return importing_; }
  void CopySearchReply();
  void FillBatchDebugRows();

 private:
  DeviceListRow* SelectedRow() const;
  int SelectedIndex() const;
  std::vector<DeviceListRow*> CheckedRows() const;
  int CheckSelection();
  bool Auth(OperatorAuth& auth);
  void Message(const char* key, const QString& caption, int icon, const QString& detail = {});
  bool AskYesNo(const char* key, const QString& detail = {});
  // Sends a row's record as it now stands; on success shows the address and logs in again.
  int SendRowRecord(DeviceListRow& row, const OperatorAuth& auth);
  int RestoreDeviceBySerial(DeviceListRow& row, int keepNetwork, const OperatorAuth& auth);
  void SetRowDhcp(DeviceListRow& row, const OperatorAuth& auth);
  // Probes for free addresses, then gives one to each row (by key) in order.
  void AssignFreeAddresses(std::vector<std::string> keys, OperatorAuth auth);
  void FinishFreeAddresses(const std::vector<std::string>& keys, const OperatorAuth& auth,
                           const std::vector<std::uint32_t>& found, const std::vector<std::uint32_t>& unchecked);
  std::vector<ExportedDevice> CheckedForExport(std::vector<DeviceSearchInfo>& storage) const;
  void ReplaceList(const std::vector<DeviceSearchInfo>& devices);
  // What a file read on the worker does on the UI thread.
  using FileWorkDone = std::function<void(DeviceListActions&)>;
  // Runs `work` on the importer thread and what it returns on the UI thread
  // (unless these actions are gone by then); false while another runs.
  bool StartFileWork(std::function<FileWorkDone()> work);
  void FinishImport(const ImportResult& result, bool sayDone);
  // `existing`: the sheet names of the workbook being replaced, if there was one.
  void FinishExportExcel(const std::filesystem::path& file, const XlsSheet& sheet, const XlsReadResult* existing);
  QString StartFolder() const;
  std::string Text(const char* key) const;

  DeviceListController& list_;
  Hooks hooks_;
  bool probing_ = false;
  std::shared_ptr<std::atomic<bool>> cancel_;
  std::thread worker_;
  QProgressDialog* progress_ = nullptr;
  bool importing_ = false;
  std::thread importer_;
};

}  // namespace kelvara::discovery
