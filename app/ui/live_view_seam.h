#pragma once
// The live view (media/ui) as the main window's live-view seam.
#include <QPointer>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "app/ui/main_dialog_seams.h"
#include "dialogs/ui/dialog_remote_cfg.h"
#include "discovery/core/device_list_row.h"
#include "media/ui/dialog_preview.h"
#include "media/ui/live_view.h"

namespace kelvara::ui {

// The language code the remote-configuration library understands for a user
// interface language code.
std::string RemoteConfigLanguage(const std::string& ui_language);

// The remote-configuration entries of the device list's menu (33412-33419,
// channel 0; 33430-33437, channel 1): the library's language code and the
// channel; nothing for other ids.
struct RemoteConfigChoice {
  std::string language;
  unsigned short channel = 0;
};
std::optional<RemoteConfigChoice> RemoteConfigChoiceFor(int id);

// What the live view reads of a device list row: the search record's
// identity, address, ports and account, and the row's login and abilities.
media::LiveRow LiveRowOf(const discovery::DeviceListRow& row);

// What the remote-configuration window gets of a device: only its search
// record's address, login port and account (a copy; the window never holds
// the list's row). A record without an account gets `defaultLogin`.
dialogs::RemoteCfgDevice RemoteCfgDeviceOf(const media::LiveRow& row, unsigned short channel,
                                           const std::pair<std::string, std::string>& defaultLogin);

// Runs the preset tour dialog modally over the table; the table it holds
// when it closes (whichever button closed it).
AfStudySettings EditPresetTour(int mode, const AfStudySettings& table, QWidget* parent);

class LiveViewSeamImpl : public LiveViewSeam {
 public:
  explicit LiveViewSeamImpl(media::LiveViewHost host);
  // Closes the popup and the remote-configuration window if their owner has
  // not destroyed them yet: their signals call into this object.
  ~LiveViewSeamImpl() override;
  LiveViewSeamImpl(const LiveViewSeamImpl&) = delete;
  LiveViewSeamImpl& operator=(const LiveViewSeamImpl&) = delete;
  void Attach(CWndManager* grid, CDialogVideo* host) override { view_.Attach(grid, host); }
  void CloseAllPreviews() override { view_.CloseAllPreviews(); }
  void SetSelectedPaneAudio(bool on) override { view_.SetSelectedPaneAudio(on); }
  void HidePreviewPopup() override;
  void MotionGridOn(int columns, int rows) override { view_.OnMotionGridOn(columns, rows); }
  void MotionGridOff() override { view_.OnMotionGridOff(); }
  int OpenDevicePreview(int row) override { return view_.OpenDevicePreview(row); }
  void ShowLayoutMenu(QWidget* anchor) override;
  bool OnListCommand(int id, int row) override;
  void ShowPreviewPopup(QWidget* owner, int screen_x, int screen_y, const QString& text, int online) override;

  // The popup's buttons: the web page of the first row with the serial, and
  // its live view.
  void OpenDeviceWeb(const std::string& serial);
  void OpenDeviceLiveView(const std::string& serial);
  // The pane menu's remote configuration of the pane's device; language is
  // the user interface's language code.
  void OpenRemoteConfigForWindow(int pane, const std::string& language, QWidget* owner);
  // The list menu's remote configuration of a row (by its place in the list).
  void OpenRemoteConfigForRow(int row, unsigned short channel, const std::string& language, QWidget* owner);
  // The settings' default login (user, password) for devices whose search
  // reply carried no account.
  std::function<std::pair<std::string, std::string>()> defaultLogin;

  media::CDialogPreview* Preview() const { return preview_; }
  dialogs::CRemoteCfgDlg* RemoteConfigWindow() const { return remote_cfg_; }

  media::LiveView& View() { return view_; }

 private:
  // Only one window is ever open: the previous one is closed (its login
  // released) before the next is made.
  void OpenRemoteConfig(const media::LiveRow& row, unsigned short channel, const std::string& language,
                        QWidget* owner);

  media::LiveView view_;
  // Both windows are children of the widget they were opened over, which
  // owns them; these only watch them (null once the owner has deleted them).
  QPointer<media::CDialogPreview> preview_;
  QPointer<dialogs::CRemoteCfgDlg> remote_cfg_;
};

}  // namespace kelvara::ui
