#pragma once
// The main window: the device list with its button panel, the timers with
// fixed ids, the window menu, the language switch and the window's life cycle.
// Subsystems add their parts through the seams in main_dialog_seams.h.
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "common/display_switches.h"
#include "app/shell/main_layout.h"
#include "app/shell/main_timers.h"
#include "app/shell/shell_sdk.h"
#include "app/shell/shell_settings.h"
#include "common/ui/cxdlg.h"
#include "app/ui/main_dialog_seams.h"
#include "common/ui/sound_prompts.h"
#include "common/ui/user_prompts.h"
#include "device/core/sdk_event_queue.h"

class QMenu;
class QMenuBar;
class QTimer;

namespace kelvara::controls {
class CShadeButtonST;
}

namespace kelvara::ui {

class CWndManager;
class CDialogVideo;

// Everything the window is given; the owner keeps each object alive longer than the window.
struct MainDialogServices {
  shell::ShellSdk* sdk = nullptr;
  shell::ShellSettings* settings = nullptr;
  const shell::DisplaySwitches* display = nullptr;
  UserPrompts* prompts = nullptr;
  SoundPrompts* sounds = nullptr;
  DeviceListSeam* device_list = nullptr;
  LiveViewSeam* live_view = nullptr;
  PrintingSeam* printing = nullptr;
  FirmwareSeam* firmware = nullptr;
  ModelessFactories modeless;
  std::function<std::vector<NetCard>()> net_cards;
  std::function<std::int64_t()> clock_s;  // wall-clock seconds
  // Whether sound can be played at all; none: the system's audio outputs are asked.
  std::function<bool()> audio_output_available;
  QString program_dir;                     // without a trailing separator
  QString version = QStringLiteral("V6.0.8_20261028");
};

// System-menu command ids.
inline constexpr int kSysCommandAbout = 0x0010;
inline constexpr int kSysCommandQrPrintSetting = 0x8100;
inline constexpr int kSysCommandAutoUpgrade = 33009;
inline constexpr int kSysCommandTips = 33025;

// Carries SDK events from the SDK's threads to the window's UI thread, the
// logins taking turns, a device's unasked events bounded per login
// (device/core/sdk_event_queue.h). A queued call to a window that is gone is
// dropped by Qt.
class MainWindowEventSink final : public device::SdkEventSink {
 public:
  MainWindowEventSink(QObject* window, DeviceListSeam*& target);
  void PostStatusEvent(device::DeviceStatusEvent event) override { fair_.PostStatusEvent(std::move(event)); }
  void PostAuxResponse(device::DeviceAuxResponse response) override { fair_.PostAuxResponse(std::move(response)); }
  const device::FairSdkEventQueue& Queue() const { return fair_.Queue(); }

 private:
  device::FairSdkEventSink fair_;
};

class CZqDevSearchToolDlg : public CXDlg, private shell::MainTimerHooks {
  Q_OBJECT
 public:
  explicit CZqDevSearchToolDlg(MainDialogServices services, QWidget* parent = nullptr);
  ~CZqDevSearchToolDlg() override;

  // The window's initialisation, run once before it is shown.
  bool OnInitDialog();
  // Closing in order: timers, search, live views, SDK logins and threads,
  // device logs, player and RTSP client, rows. Runs once.
  void OnClose();
  bool IsClosed() const { return closed_; }

  // Timers.
  void OnTimer(int id);
  bool IsTimerRunning(int id) const;
  int TimerPeriod(int id) const;  // -1 when not running
  shell::MainTimers& Timers() { return timers_; }

  // The search button: starts a search, or stops the running one.
  void OnSearchButton();
  bool IsSearchRunning() override { return search_running_; }
  void StopSearch();
  // A new network card chosen in combo 1016: the search restarts on it.
  void OnAdapterComboChange();
  // Check-all box 1003: every row checked or cleared.
  void OnCheckAll();

  // Window menu.
  void OnSysCommand(int command);
  void OnSwitchLanguage(int command);
  QMenu* SystemMenu() const { return system_menu_; }
  void ShowBootServerDlg();
  void ShowPrePrintDlg();
  void ShowPrintDlg();
  int OnToggleMouse3DLocate();

  // QR popup and device preview popup.
  // Only while the QR mode (check box 1007) is on; an empty text hides it.
  void ShowQrPopup(const QString& text);
  void HideQrPopup();
  void ShowPreviewPopup(int online, int screen_x, int screen_y, const QString& text);
  // Esc pressed in the video grid (swallowed); the count is for tests.
  void OnGridEscape();
  int GridEscapes() const { return grid_escapes_; }
  // A click in the device list; row -1 when it hit no row. Returns 0.
  int OnDeviceListClick(int row);
  // The row under the mouse in the device list changed (-1: none or left).
  void OnDeviceListHover(int row);
  // Check box 1007.
  void OnQrModeCheck();

  // Layout and captions.
  void LayoutControls();
  shell::LayoutResult LastLayout() const { return last_layout_; }
  void ApplyLanguageTexts();
  void DrawLogo();
  int Style() const { return style_; }
  // The client area the layout uses (below the menu bar).
  shell::ClientRect LayoutClientRect() const;

  // Small services.
  void OnCheckStreamSwitch();
  void OnCheckPrintMode();
  void OnCheckClearSerial();
  void OnBnClickedCheckSound();
  // Sound is wanted (the Audio box ticked, a pane to be heard): with no audio
  // output the user is told so, once per run.
  void TellIfNoAudioOutput();
  void OnDefaultUserChanged();
  void OnDefaultPasswordChanged();
  void OnUpgradePathKillFocus();
  void OnUpgradeFileKillFocus();
  void SaveSettings();
  int CheckSelection();
  bool CreateAudioPlayDlg();
  // Button 2064: the audio menu (1296 intercom dialog, 1300 talk, 1304
  // microphone and speaker test), and its items.
  void OnAudioButton();
  void OnAudioCommand(int id);
  QMenu* AudioMenu() const { return audio_menu_; }
  bool ShowManualFocusDlg();
  // Button 25: the focusing dialog for the one checked row.
  void OnFocusButton();
  // Button 1297: the device label of the selected row.
  void OnPrintLabelButton();
  // The window's menu bar (the system menu's items and the device commands).
  QMenuBar* MenuBar() const { return menu_bar_; }
  bool CreateBootServerDlg();
  void PlaySoundFile(const QString& path);
  void FillNetCardCombo();
  QString BrowseFolder(const QString& caption, const QString& start_folder);
  void SetTalkButtonText(int talking);
  QString TalkButtonText() const { return talk_text_; }

  int PrintModeFlag() const { return print_mode_; }
  int ClearSerialFlag() const { return clear_serial_; }
  bool UpgradeBusy() const { return upgrade_busy_; }
  void SetUpgradeBusy(bool busy) { upgrade_busy_ = busy; }
  // TIMER_UPGRADE_WATCH, every 1000 ms, until the upgrade run is over.
  void StartUpgradeWatch();
  // The night-mode demo started: button 1303 off until TIMER_IRCUT_DEMO_END
  // (5 s) ends the demo.
  void StartNightModeDemo();
  // The buttons of the file rows and the drops of files and folders.
  void OnFirmwareCommand(int id);
  void OnDropFiles(const QStringList& paths);
  bool QuickSearch() const { return quick_search_; }
  int IconResource() const { return icon_resource_; }
  int ShadedButtonCount() const { return static_cast<int>(shaded_buttons_.size()); }
  CWndManager* VideoGrid() const { return grid_; }
  CDialogVideo* VideoHost() const { return video_host_; }
  QDialog* AudioPlayDlg() const { return audio_dlg_; }
  QDialog* ManualFocusDlg() const { return focus_dlg_; }
  QDialog* BootServerDlg() const { return boot_dlg_; }
  std::mutex& DeviceMapLock() { return device_map_lock_; }
  std::mutex& PlayMapLock() { return play_map_lock_; }
  std::mutex& DefaultConfigLock() { return default_config_lock_; }
  const MainDialogServices& Services() const { return s_; }
  device::SdkEventSink* SdkEventSink() { return &sdk_sink_; }
  const device::FairSdkEventQueue& SdkEventQueue() const { return sdk_sink_.Queue(); }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void reject() override;
  void accept() override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  int grid_escapes_ = 0;
  // MainTimerHooks
  void StartTimer(int id, int period_ms) override;
  void KillTimer(int id) override;
  void RefreshDeviceList() override;
  void StopSearchByAutoStop() override;
  void SendSearchRequest() override;
  int AutoStopDisplayValue() override;
  bool PrintMode() override { return print_mode_ != 0; }
  void ForEachRow(const std::function<bool(int, shell::RowTimerState&)>& fn) override;
  void ClearUpgradeBusy() override { upgrade_busy_ = false; }
  bool UpgradeWatchStep() override { return s_.firmware->UpgradeWatchTick(); }
  void UpgradeRunEnded() override { s_.firmware->UpgradeRunEnded(); }
  void OnSnapshotTimedOut(int row) override;
  void RestoreDayMode(int row) override;
  void EnableNightDemoButton() override;
  void CyclicRebootStep() override;
  void Maximize() override;

  void CreateControls();
  void BuildSystemMenu();
  void SetUpToolTips();
  void CreateVideoGrid();
  void PlaceVideoWindow();
  void StartSearch();
  void KeepOnMonitor();
  // Moves (and, on a small screen, shrinks) the window so its whole frame,
  // title bar first, lies in the work area.
  void FitToWorkArea();
  int Display(int id) const;
  // Width the control's caption needs with the window's font (0: none); for
  // the password box, what its password's echo characters need.
  int CaptionWidth(int id) const;
  // The width a combo box needs to show its widest item whole.
  int ComboItemsWidth(int id) const;
  static constexpr int kNetCardComboMaxWidth = 240;

  MainDialogServices s_;
  std::unique_ptr<shell::DisplaySwitches> owned_display_;
  std::unique_ptr<CSaveParam> owned_param_;
  std::unique_ptr<shell::ShellSettings> owned_settings_;
  UserPrompts* prompts_;
  DeviceListSeam default_list_;
  LiveViewSeam default_live_view_;
  PrintingSeam default_printing_;
  FirmwareSeam default_firmware_;
  std::unique_ptr<UserPrompts> owned_prompts_;
  std::unique_ptr<SoundPrompts> owned_sounds_;
  bool told_no_audio_output_ = false;

  shell::MainTimers timers_;
  MainWindowEventSink sdk_sink_;
  std::map<int, QTimer*> qtimers_;

  std::mutex device_map_lock_;
  std::mutex play_map_lock_;
  std::mutex default_config_lock_;

  QMenuBar* menu_bar_ = nullptr;
  QMenu* system_menu_ = nullptr;
  CWndManager* grid_ = nullptr;
  CDialogVideo* video_host_ = nullptr;
  QPointer<QDialog> audio_dlg_;
  QMenu* audio_menu_ = nullptr;
  QPointer<QDialog> focus_dlg_;
  QPointer<QDialog> boot_dlg_;

  std::vector<controls::CShadeButtonST*> shaded_buttons_;  // owned by the window
  shell::LayoutResult last_layout_;
  int laid_out_password_width_ = 0;  // what the password box needed at the last layout
  QString talk_text_;
  QString p2p_type_name_;
  int style_ = 0;
  int qr_encode_mode_ = 0;
  int icon_resource_ = 128;
  int print_mode_ = 0;
  int clear_serial_ = 0;
  bool search_running_ = false;
  bool upgrade_busy_ = false;
  bool quick_search_ = false;
  bool initialised_ = false;
  bool closed_ = false;
  bool laying_out_ = false;
};

}  // namespace kelvara::ui
