#include "app/ui/zq_dev_search_tool_app.h"

#include <QDir>
#include <QMetaObject>
#include <QPointer>
#include <QGuiApplication>
#include <QScreen>

#include "common/language_table.h"
#include "common/paths.h"
#include "common/save_param.h"
#include "common/display_switches.h"
#include "app/shell/main_layout.h"
#include "app/shell/shell_settings.h"
#include "device/core/zq_command_sdk.h"
#include "device/core/zq_netsdk.h"
#include "device/ui/batch_command_host.h"
#include "device/ui/batch_popup_menus.h"
#include "dialogs/ui/batch_dialog_commands.h"
#include "device/ui/device_command_host.h"
#include "device/ui/device_log_menu.h"
#include "dialogs/ui/dialog_tour_date.h"
#include "dialogs/ui/dialog_manual_focus.h"
#include "common/folder_functions.h"
#include "app/ui/login_actions.h"
#include <QPushButton>
#include <functional>
#include <memory>
#include "app/ui/device_list_seam.h"
#include "app/ui/firmware_seam.h"
#include "printing/qt/label_printer.h"
#include "printing/qt/printing_windows.h"
#include "common/ui/desktop_open.h"
#include "common/ui/user_prompts.h"
#include "app/ui/net_cards.h"
#include "app/ui/live_view_seam.h"
#include "app/ui/maintenance_wiring.h"
#include "app/ui/device_files_wiring.h"
#include "app/ui/audio_play_seam.h"
#include "media/ui/zq_broadcast_sdk.h"
#include "media/ui/wnd_manager.h"
#include <QUrl>
#include "app/ui/zq_dev_search_tool_dlg.h"
#include "app/ui/device_command_menu.h"
#include <QMenuBar>
#include "app/ui/boot_server_seam.h"

#include <VaRurOvoDiv/zq_netsdk_ipc.h>

namespace kelvara::ui {

// The window's label prints, label settings dialogs and QR popup.
class AppPrinting final : public PrintingSeam {
 public:
  AppPrinting(printing::CLabelPrinter& printer, printing::CTipsConfig& tips)
      : printer_(printer), windows_(printer, tips, prompts_) {}
  int PrintQrLabel(const QString& qr_text, const QString& second_text) override {
    return printer_.PrintQrLabel(qr_text, second_text);
  }
  void ShowPrePrintDlg(QWidget* owner) override { windows_.ShowPrePrintDlg(owner); }
  void ShowPrintDlg(QWidget* owner) override { windows_.ShowPrintDlg(owner); }
  void ShowQrPopup(QWidget* owner, const QString& text, bool compact) override {
    windows_.ShowQrPopup(owner, text, compact);
  }
  void HideQrPopup() override { windows_.HideQrPopup(); }
  void PrintDeviceLabel(QWidget* owner, const printing::DeviceLabelFields* selected) override {
    printing::OnPrintDeviceLabel(owner, selected, printer_, prompts_);
  }

 private:
  printing::CLabelPrinter& printer_;
  QtUserPrompts prompts_;
  printing::PrintingWindows windows_;
};

CZqDevSearchToolApp::CZqDevSearchToolApp() {
  program_dir_ = QString::fromStdString(paths::ProgramDir().string());
  data_dir_ = QString::fromStdString((paths::DataDir() / "Data").string());
  QDir().mkpath(data_dir_);
  // The tips layout first: the label printer reads it.
  tips_ = std::make_unique<printing::CTipsConfig>();
  label_printer_ = std::make_unique<printing::CLabelPrinter>(*tips_);
}

CZqDevSearchToolApp::~CZqDevSearchToolApp() = default;

namespace {

// Buttons 8 (batch time sync) and 29 (a test request, after the selection
// check), where the window's layout has them.
void ConnectDeviceCommandButtons(CZqDevSearchToolDlg& dlg, device::DeviceCommandHost& commands) {
  auto on = [&dlg](int id, std::function<void()> handler) {
    if (auto* button = dlg.ControlAs<QPushButton>(id))
      QObject::connect(button, &QPushButton::clicked, &dlg, std::move(handler));
  };
  on(8, [&commands] { commands.OnBatchSyncTime(); });
  on(29, [&dlg, &commands] {
    if (dlg.CheckSelection() > 0) commands.OnPrivacyMaskCommand();
  });
}

// Button 1306 (MCU test): a batch job.
void ConnectBatchButtons(CZqDevSearchToolDlg& dlg, device::BatchCommandHost& batch) {
  auto on = [&dlg](int id, std::function<void()> handler) {
    if (auto* button = dlg.ControlAs<QPushButton>(id))
      QObject::connect(button, &QPushButton::clicked, &dlg, std::move(handler));
  };
  on(1306, [&batch] { batch.OnBatchMcuTest(); });
}

// The dialog commands' buttons (the popups hold the others) and the panel
// buttons that open a popup.
void ConnectBatchDialogButtons(CZqDevSearchToolDlg& dlg, dialogs::BatchDialogCommands& commands,
                               device::BatchPopupMenus& popups) {
  auto on = [&dlg](int id, std::function<void()> handler) {
    if (auto* button = dlg.ControlAs<QPushButton>(id))
      QObject::connect(button, &QPushButton::clicked, &dlg, std::move(handler));
  };
  namespace id = dialogs::batch_dialog_id;
  for (int command : {id::kVideoEncode, id::kAudioEncode, id::kAudioCapture, id::kImageParam, id::kSmartDetection,
                      id::kOsdTitle, id::kPlatform, id::kMaintenance, id::kMotionDetect, id::kPassword,
                      id::kNightModeDemo})
    on(command, [&commands, command] { commands.OnCommand(command); });
  for (int button : device::BatchPopupMenus::kButtons) on(button, [&popups, button] { popups.OnButton(button); });
}

}  // namespace

int CZqDevSearchToolApp::InitInstance(shell::ShellSdk& sdk) {
  sdk.PlayerInit();
  {
    MainDialogServices services;
    services.sdk = &sdk;
    services.program_dir = program_dir_;
    services.net_cards = LocalNetCards;
    AppPrinting printing(*label_printer_, *tips_);
    services.printing = &printing;
    // The display switches and the settings, shared by the window and the device list.
    shell::LoadedDisplaySwitches display;
    CSaveParam param;
    shell::SaveParamShellSettings settings(param);
    services.display = &display;
    services.settings = &settings;
    device::ZqNetSdk net_sdk;
    CZqDevSearchToolDlg* window = nullptr;
    discovery::DeviceListController::Options list_options;
    list_options.switches.listShowLess = display.GetDisplay(display_id::LIST_SHOW_lESS) == 1;
    list_options.switches.style = display.GetDisplay(display_id::STYLE);
    list_options.acceptedRoots = display.GetCustomString(display_id::IDS_CUST_XML_ROOT);
    list_options.customCloudType = display.GetCustomString(display_id::IDS_CUST_CLOUD_TYPE);
    list_options.uiLanguage = LanguageTable::Instance().GetLanguageCode();
    list_options.sdk = &net_sdk;
    list_options.loginDefaults = [&settings] {
      return device::LoginDefaults{settings.DefaultUserName(), settings.DefaultPassword()};
    };
    // Production mode: check box 1008, the application's label printer and the window's sound prompt.
    list_options.productionMode = [&window] { return window != nullptr && window->PrintModeFlag() != 0; };
    list_options.printQrLabel = [&printing](const QString& qr, const QString& text) {
      return printing.PrintQrLabel(qr, text);
    };
    list_options.playSound = [&window](const QString& path) {
      if (window != nullptr) window->PlaySoundFile(path);
    };
    list_options.programDir = program_dir_;
    // The network card chosen in the combo box (0: all cards).
    list_options.adapterChoice = [&window]() -> discovery::Ipv4 {
      return window ? static_cast<discovery::Ipv4>(window->GetComboSelData(shell::ids::kNetCardCombo)) : 0;
    };
    // The operator's credentials: the default login, or "admin" with the
    // operation password box (1055) while that box is shown.
    list_options.operatorAuthInputs = [&window, &settings, &display] {
      discovery::OperatorAuthInputs in;
      in.defaultUser = settings.DefaultUserName();
      in.defaultPassword = settings.DefaultPassword();
      in.operationPasswordShown = display.GetDisplay(display_id::IDC_EDIT_OPERATE_PASSWORD) != 0;
      if (window != nullptr) in.operationPassword = window->GetItemText(shell::ids::kOperatePassword).toStdString();
      return in;
    };
    list_options.showError = [&window](const QString& caption, const QString& text) {
      if (window != nullptr)
        window->Services().prompts->MessageBox(window, text, caption, PromptIcon::kError, PromptButtons::kOk);
    };
    discovery::DeviceListActions::Hooks actions;
    actions.settings = &param;
    actions.style = display.GetDisplay(display_id::STYLE);
    actions.customXmlRoot = display.GetCustomString(display_id::IDS_CUST_XML_ROOT);
    actions.uiLanguage = LanguageTable::Instance().GetLanguageCode();
    actions.showP2pService = display.GetDisplay(display_id::ID_SHOW_P2PSERVICE) != 0;
    actions.operationPasswordShown = display.GetDisplay(display_id::IDC_EDIT_OPERATE_PASSWORD) != 0;
    actions.closeAllPreviews = [&window] {
      if (window != nullptr) window->Services().live_view->CloseAllPreviews();
    };
    actions.stopSearchForImport = [&window] {
      if (window == nullptr) return;
      if (window->IsSearchRunning()) {
        window->StopSearch();
      } else {
        window->SetCheck(shell::ids::kCheckAll, 0);
      }
    };
    actions.gridPanes = [&window] {
      return window != nullptr && window->VideoGrid() != nullptr ? window->VideoGrid()->PaneCountInGrid() : 1;
    };
    actions.showPreviewPopup = [&window](int online, const QPoint& at, const QString& serial) {
      if (window != nullptr) window->ShowPreviewPopup(online, at.x(), at.y(), serial);
    };
    actions.hidePreviewPopup = [&window] {
      if (window != nullptr) window->Services().live_view->HidePreviewPopup();
    };
    actions.restoreConfig = [](int handle) { return ZQ_NETSDK_IPC_RestoreConfig(handle); };
    actions.defaultLoginChanged = [&window, &settings] {
      if (window == nullptr) return;
      window->SetItemText(shell::ids::kDefaultUser, QString::fromStdString(settings.DefaultUserName()));
      window->SetItemText(shell::ids::kDefaultPassword, QString::fromStdString(settings.DefaultPassword()));
    };
    // Menu entries the device commands, the firmware and the live view own.
    LiveViewSeamImpl* live = nullptr;
    std::unique_ptr<device::DeviceCommandHost> commands;
    std::unique_ptr<device::BatchCommandHost> batch;
    std::unique_ptr<dialogs::BatchDialogCommands> batch_dialogs;
    std::unique_ptr<DeviceFilesWiring> device_files;
    discovery::DeviceListSeamImpl* list_ptr = nullptr;
    // Device logs: one receiver per checked row while logging is on.
    device::DeviceLogs::Hooks log_hooks;
    log_hooks.settings = [&param] { return param.slog_filter; };
    log_hooks.documentsFolder = [] { return GetShellFolderPath(5); };
    log_hooks.uploadConfigFile = [&commands](discovery::DeviceListRow& row, const std::string& path) {
      return commands ? commands->Commands().UploadConfigFileToRow(&row, path) : -1;
    };
    // A log that cannot be written shows in its row once per failure streak.
    log_hooks.writeError = [&window, &commands, &list_ptr](std::uint32_t address, const std::string& name,
                                                          const std::string&) {
      if (window == nullptr) return;
      QMetaObject::invokeMethod(
          window,
          [&commands, &list_ptr, address, name] {
            if (!commands || list_ptr == nullptr) return;
            discovery::DeviceRows& rows = list_ptr->Controller().Rows();
            for (std::size_t i = 0; i < rows.Count(); ++i) {
              discovery::DeviceListRow& row = rows.At(i);
              device::NetLogRecverThread* r = device::DeviceLogs::ReceiverOf(row);
              if (r != nullptr && r->GetIp() == address && r->GetName() == name)
                commands->Commands().SetStatus(row, LangKey("SLOG_WRITE_FAILED"));
            }
          },
          Qt::QueuedConnection);
    };
    device::DeviceLogs device_logs(std::move(log_hooks));
    device::DeviceLogMenu::Hooks log_menu_hooks;
    log_menu_hooks.rows = [&list_ptr]() -> discovery::DeviceRows& { return list_ptr->Controller().Rows(); };
    log_menu_hooks.settings = [&param]() -> SlogFilterSettings& { return param.slog_filter; };
    log_menu_hooks.saveSettings = [&settings] { settings.Save(); };
    QtUserPrompts log_prompts;
    log_menu_hooks.prompts = &log_prompts;
    // The log command goes through the value input dialog.
    log_menu_hooks.askText = [&window](const QString& caption, const std::string& value) -> std::optional<std::string> {
      dialogs::CDialogInputValue dlg(window);
      dlg.SetTitle(caption);
      dlg.SetValue(QString::fromStdString(value));
      if (dlg.exec() != QDialog::Accepted) return std::nullopt;
      return dlg.GetValue().toStdString();
    };
    device::DeviceLogMenu log_menu(device_logs, std::move(log_menu_hooks));
    actions.autoTraceOn = [&device_logs] { return device_logs.Enabled(); };
    // The firmware's file entries (OEM application files, cloud identity and ISP files).
    FirmwareSeam* firmware_menus = nullptr;
    actions.otherCommand = [&commands, &batch, &batch_dialogs, &device_files, &firmware_menus, &window, &live, &log_menu,
                            &list_ptr](int id, int row) {
      if (live != nullptr && live->OnListCommand(id, row)) return true;
      if (batch != nullptr && batch->OnCommand(id)) return true;
      if (batch_dialogs != nullptr && batch_dialogs->OnCommand(id)) return true;
      if (device_files != nullptr && device_files->OnCommand(id)) return true;
      if (auto choice = RemoteConfigChoiceFor(id); choice && live != nullptr) {
        live->OpenRemoteConfigForRow(row, choice->channel, choice->language, window);
        return true;
      }
      if (firmware_menus != nullptr && firmware_menus->OnCommand(id)) return true;
      if (log_menu.OnCommand(id)) return true;
      if (id == 32778 && commands != nullptr) {
        commands->OnMenuRebootDevice();
        return true;
      }
      // The audio menu's microphone and speaker test on every checked row
      // (the window has checked that there is one).
      if (id == 1304 && commands != nullptr && list_ptr != nullptr) {
        discovery::DeviceRows& rows = list_ptr->Controller().Rows();
        for (std::size_t i = 0; i < rows.Count(); ++i)
          if (rows.At(i).checked) commands->Commands().StartAudioLoopTest(&rows.At(i));
        return true;
      }
      if (window == nullptr) return false;
      // The video grid's layouts and closing the live views.
      const struct {
        int id, rows, cols;
      } layouts[] = {{32930, 1, 1}, {32931, 1, 2}, {32933, 2, 2}, {32932, 3, 3},
                     {32934, 4, 4}, {32935, 4, 5}, {32936, 5, 5}};
      for (const auto& l : layouts) {
        if (l.id != id || window->VideoGrid() == nullptr) continue;
        window->VideoGrid()->SetGrid(l.rows, l.cols);
        window->VideoGrid()->LayoutPanes();
        return true;
      }
      if (id == 32929 || id == 32781) {
        window->Services().live_view->CloseAllPreviews();
        return true;
      }
      return false;
    };
    discovery::DeviceListSeamImpl device_list(std::move(list_options), std::move(actions));
    services.device_list = &device_list;
    list_ptr = &device_list;
    // The device log follows each row's check box.
    device_list.Controller().onRowCheckChanged = [&device_logs](discovery::DeviceListRow& row, bool checked) {
      device_logs.UpdateNetLogReceiver(row, checked);
    };
    device_list.Controller().onAllChecksChanged = [&device_logs, &device_list] {
      device_logs.RefreshNetLogReceivers(device_list.Controller().Rows());
    };
    // The live view over the device list's rows (by their place in the list).
    media::LiveViewHost live_host;
    live_host.settings = &param;
    auto find_row = [&device_list](int index) -> discovery::DeviceListRow* {
      discovery::DeviceRows& rows = device_list.Controller().Rows();
      for (std::size_t i = 0; index >= 0 && i < rows.Count(); ++i)
        if (device_list.Controller().RowIndex(rows.At(i)) == index) return &rows.At(i);
      return nullptr;
    };
    live_host.row_at = [find_row](int index) -> std::optional<media::LiveRow> {
      const discovery::DeviceListRow* row = find_row(index);
      if (row == nullptr) return std::nullopt;
      return LiveRowOf(*row);
    };
    live_host.mark_rows = [&device_list](std::optional<int> login) {
      if (device_list.Actions() != nullptr) device_list.Actions()->MarkPaneDeviceRows(login);
    };
    live_host.row_count = [&device_list] { return static_cast<int>(device_list.Controller().Rows().Count()); };
    live_host.sound_checked = [&window] { return window != nullptr && window->GetCheck(shell::ids::kCheckSound) != 0; };
    // Told after the live view's own step, not inside it.
    live_host.sound_wanted = [&window] {
      if (window == nullptr) return;
      QMetaObject::invokeMethod(
          window, [w = QPointer<CZqDevSearchToolDlg>(window)] { if (w) w->TellIfNoAudioOutput(); }, Qt::QueuedConnection);
    };
    live_host.error_box = [&window](const std::string& text, const std::string& caption) {
      if (window != nullptr)
        window->Services().prompts->MessageBox(window, QString::fromStdString(text), QString::fromStdString(caption),
                                               PromptIcon::kError, PromptButtons::kOk);
    };
    // The snapshot and recording folders and the preview's web page; with no
    // file manager or browser the box names what did not open.
    live_host.open_url = [&window](const std::string& url) {
      ui::OpenOrTell(ui::UrlOfTarget(QString::fromStdString(url)), window != nullptr ? window->Services().prompts : nullptr,
                     window);
    };
    live_host.upload_config = [](int handle, const std::string& path) {
      return ZQ_NETSDK_IPC_SetConfigFile(handle, path.c_str());
    };
    live_host.text = [](const std::string& key) { return LanguageTable::Instance().GetLanguageString(key); };
    live_host.display_switch = [&display](int id) { return display.GetDisplay(id); };
    live_host.private_dir = paths::DataDir() / "tmp";
    live_host.edit_tour = [&window](int mode, const AfStudySettings& table) {
      return EditPresetTour(mode, table, window);
    };
    live_host.remote_config = [&window, &live](int pane) {
      if (live != nullptr)
        live->OpenRemoteConfigForWindow(pane, LanguageTable::Instance().GetLanguageCode(), window);
    };
    LiveViewSeamImpl live_view(std::move(live_host));
    live_view.defaultLogin = [&settings] {
      return std::make_pair(settings.DefaultUserName(), settings.DefaultPassword());
    };
    live = &live_view;
    services.live_view = &live_view;
    // The lens-focusing window, made by the focus button: it works on the one
    // checked row and switches the grid over the playing panes.
    dialogs::ManualFocusSeam focus_seam;
    services.modeless.manual_focus = [&device_list, &live_view, &focus_seam](QWidget* parent) -> QDialog* {
      dialogs::FocusHost host;
      host.selectedLoginHandle = [&device_list](bool tell_user) {
        discovery::DeviceListActions* actions = device_list.Actions();
        if (actions == nullptr) return -1;
        if (tell_user) return actions->GetSelectedLoginHandle();
        if (actions->GetCheckedCount() != 1) return -1;
        discovery::DeviceRows& rows = device_list.Controller().Rows();
        for (std::size_t i = 0; i < rows.Count(); ++i)
          if (rows.At(i).checked) return rows.At(i).m_loginHandle;
        return 0;
      };
      host.systemControl = [](int handle, int code, const std::string& text) {
        return ZQ_NETSDK_IPC_SystemControl(handle, code, nullptr, text.c_str());
      };
      host.motionGrid = [&live_view](bool on) {
        if (on)
          live_view.MotionGridOn(3, 3);
        else
          live_view.MotionGridOff();
      };
      auto* dlg = new dialogs::CManualFocusDlg(std::move(host), GetCommonDocumentsFolder() / "mfocus", parent);
      focus_seam.Set(dlg);
      return dlg;
    };
    // Firmware upgrades and files sent to devices: the window's buttons and
    // drops, the upgrade watch, and its parts of the device commands' seams.
    FirmwareSeamImpl firmware(device_list.Controller(), settings);
    services.firmware = &firmware;
    firmware_menus = &firmware;
    // The boot-recovery window, made the first time its menu entry is chosen:
    // the device list asks it which recovered devices to restore.
    BootServerSeam boot_seam(device_list, {[&window] {
                                             if (window != nullptr) window->OnSearchButton();
                                           },
                                           [&window] { return window != nullptr && window->IsSearchRunning(); }});
    services.modeless.boot_server = [&](QWidget* parent) -> QDialog* {
      firmware::BootServerOptions options;
      options.program_folder = program_dir_;
      return boot_seam.Make(parent, &param, std::move(options));
    };
    // The intercom (audio broadcast) window, made by the audio menu.
    media::ZqBroadcastSdk broadcast_sdk;
    AudioPlaySeam::Hooks audio_hooks;
    audio_hooks.readPath = [&param](const std::string& key) {
      return key == "Mp3FilePath" ? param.mp3_file : param.app_file;
    };
    audio_hooks.storePath = [&param, &settings](const std::string& key, const std::string& path) {
      (key == "Mp3FilePath" ? param.mp3_file : param.app_file) = path;
      settings.Save();
    };
    audio_hooks.selectedPaneLogin = [&window, &live_view]() -> int {
      if (window == nullptr || window->VideoGrid() == nullptr) return 0;
      const media::CDevInfo* record = live_view.View().Record(window->VideoGrid()->GetSelectedPane());
      return record != nullptr ? record->m_row.login_handle : 0;
    };
    audio_hooks.selectedLogin = [&device_list] {
      return device_list.Actions() != nullptr ? device_list.Actions()->GetSelectedLoginHandle() : 0;
    };
    audio_hooks.setStatus = [&commands, &device_list](int login, const std::string& key) {
      if (commands == nullptr) return;
      discovery::DeviceRows& rows = device_list.Controller().Rows();
      for (std::size_t i = 0; i < rows.Count(); ++i)
        if (rows.At(i).m_loginHandle == login) commands->Commands().SetStatus(rows.At(i), key.c_str());
    };
    AudioPlaySeam audio_seam(broadcast_sdk, device_list.Controller(), std::move(audio_hooks));
    audio_seam.Install(services.modeless);
    CZqDevSearchToolDlg dlg(services);
    window = &dlg;
    audio_seam.SetWindow(&dlg);
    // The device commands, status events and AUX replies over the device list.
    device::ZqCommandSdk command_sdk;
    device::DeviceCommands::Options command_options;
    command_options.sdk = &command_sdk;
    command_options.broadcastRebootSwitch = [&display] {
      return display.GetDisplay(display_id::IDC_EDIT_OPERATE_PASSWORD);
    };
    command_options.defaultLogin = [&settings] {
      return discovery::OperatorAuth{settings.DefaultUserName(), settings.DefaultPassword()};
    };
    // The operator's authorisation and the broadcast reboot: the list's own
    // (DeviceCommandHost fills them in).
    AppLoginActions login_actions(firmware.DeviceSeams(), device_logs,
                                  [&device_list] { return &device_list.Controller().Rows(); });
    command_options.seams.login = &login_actions;
    command_options.seams.transfers = &firmware.DeviceSeams();
    command_options.seams.intercom = &audio_seam;
    command_options.seams.focus = &focus_seam;
    QtUserPrompts command_prompts;
    commands = std::make_unique<device::DeviceCommandHost>(
        device_list.Controller(), std::move(command_options), services.prompts ? services.prompts : &command_prompts,
        &dlg);
    device_list.SetCommandHost(commands.get());
    // Batch commands with one terminal state per row.
    device::BatchCommandHost::Hooks batch_hooks;
    batch_hooks.checkSelection = [&dlg] { return dlg.CheckSelection(); };
    batch_hooks.selectedIndex = [&device_list] {
      controls::CReportCtrl* list = device_list.Controller().List();
      return list ? list->GetFirstSelectedItem() : -1;
    };
    batch = std::make_unique<device::BatchCommandHost>(*commands, std::move(batch_hooks));
    // The dialog commands and the panel's popups; a chosen popup entry is a
    // command of the window like a context-menu entry.
    dialogs::BatchDialogCommands::Hooks dialog_hooks;
    dialog_hooks.window = &dlg;
    dialog_hooks.settings = &param;
    dialog_hooks.saveSettings = [&param] { return param.Save() == 0; };
    dialog_hooks.timeZoneFile = paths::ProgramDir() / "qox_tz.xml";
    dialog_hooks.languageCode = LanguageTable::Instance().GetLanguageCode();
    dialog_hooks.errorBox = [&dlg](const char* key) {
      dlg.Services().prompts->MessageBox(&dlg, QString::fromStdString(LangText(key)), QStringLiteral("ERROR"),
                                         PromptIcon::kError, PromptButtons::kOk);
    };
    dialog_hooks.prompts = dlg.Services().prompts;
    dialog_hooks.startNightDemo = [&dlg] { dlg.StartNightModeDemo(); };
    batch_dialogs = std::make_unique<dialogs::BatchDialogCommands>(*batch, std::move(dialog_hooks));
    device::BatchPopupMenus::Hooks popup_hooks;
    popup_hooks.owner = &dlg;
    popup_hooks.runCommand = [&commands, &device_list](int id) {
      if (id == 8) {
        commands->OnBatchSyncTime();
        return;
      }
      device_list.OnCommand(id);
    };
    device::BatchPopupMenus popups(std::move(popup_hooks));
    firmware.AttachWindow(dlg, commands->Commands());
    // The totals line under the list (control 1001).
    QObject::connect(&device_list.Controller(), &discovery::DeviceListController::totalsChanged, &dlg,
                     [&dlg](const QString& text) { dlg.SetItemText(shell::ids::kStatusText, text); });
    // The window opens over the whole work area; the maximise timer then asks
    // the window manager to maximise it (without one it stays this size).
    if (QScreen* screen = QGuiApplication::primaryScreen()) dlg.setGeometry(screen->availableGeometry());
    dlg.OnInitDialog();
    ConnectDeviceCommandButtons(dlg, *commands);
    ConnectBatchButtons(dlg, *batch);
    // The commands without a button: manual speed, factory reset, device language.
    if (QMenuBar* bar = dlg.MenuBar()) {
      AddDeviceCommandMenu(*bar, [&dlg, &commands, &batch](int command) {
        if (command == 1307) {
          if (dlg.CheckSelection() > 0) commands->OnSetManualSpeed();
        } else if (command == 12) {
          batch->OnBatchFactoryReset();
        } else {
          batch->OnCommand(command);
        }
      });
    }
    auto maintenance = std::make_unique<MaintenanceWiring>(dlg, device_list, *batch, services.prompts ? services.prompts : &command_prompts);
    ConnectBatchDialogButtons(dlg, *batch_dialogs, popups);
    // Snapshot, time-lapse and record export (after the batch host: it
    // chains the status events behind the host's).
    device_files = std::make_unique<DeviceFilesWiring>(dlg, device_list, *commands,
                                                       services.prompts ? services.prompts : &command_prompts);
    dlg.show();
    dlg.exec();
    device_list.SetCommandHost(nullptr);
    device_files.reset();
    maintenance.reset();
    batch_dialogs.reset();
    batch.reset();
    commands.reset();
  }
  sdk.PlayerReleaseAll();
  return 0;
}

}  // namespace kelvara::ui
