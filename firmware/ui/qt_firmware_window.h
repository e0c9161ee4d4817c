#pragma once
// The main window as the firmware handlers see it: its fields and check box
// (through the dialog base class), message boxes and file pickers (through
// the injectable prompts), and what the window owns (busy flag, watch timer,
// selection, device map, settings) through functions it hands over.
#include <functional>
#include <string>

#include "common/ui/cxdlg.h"
#include "common/ui/user_prompts.h"
#include "firmware/core/firmware_actions.h"

namespace kelvara::firmware::ui {

struct WindowServices {
  std::function<bool()> upgrade_busy;
  std::function<void(bool)> set_upgrade_busy;
  std::function<void()> start_upgrade_watch;
  std::function<int()> first_selected_row;  // index into the device rows, -1: none
  std::function<std::vector<int>()> rows_in_list_order;  // device-row indices, top to bottom
  std::function<bool(const std::string& serial, DeviceSearchInfo& out)> copy_device_record;
  std::function<std::string(PathSetting)> saved_path;
  std::function<void(PathSetting, const std::string&)> save_path;
};

// "Text(*.x)|*.x|All Files(*.*)|*.*||" as a Qt file-dialog filter.
QString QtFileFilter(const std::string& filter);

class QtFirmwareWindow final : public FirmwareWindow {
 public:
  QtFirmwareWindow(kelvara::ui::CXDlg& window, kelvara::ui::UserPrompts& prompts, WindowServices services);

  std::string FieldText(int id) override;
  void SetFieldText(int id, const std::string& text) override;
  bool AutoActionsChecked() override;
  void ErrorBox(const std::string& text) override;
  std::string OpenFile(const OpenFileRequest& request) override;
  std::string ChooseFolder(const std::string& title, const std::filesystem::path& start) override;
  bool UpgradeBusy() override;
  void SetUpgradeBusy(bool busy) override;
  void StartUpgradeWatch() override;
  int FirstSelectedRow() override;
  std::vector<int> RowsInListOrder() override;
  bool CopyDeviceRecord(const std::string& serial, DeviceSearchInfo& out) override;
  std::string SavedPath(PathSetting which) override;
  void SavePath(PathSetting which, const std::string& value) override;
  void ShowRunSummary(const RunSummary& summary) override;

 private:
  kelvara::ui::CXDlg& window_;
  kelvara::ui::UserPrompts& prompts_;
  WindowServices s_;
};

}  // namespace kelvara::firmware::ui
