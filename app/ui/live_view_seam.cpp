#include "app/ui/live_view_seam.h"

#include <QCursor>
#include <QMenu>
#include <algorithm>
#include <cctype>

#include "common/ui/window_fit.h"
#include "dialogs/ui/dialog_tour_date.h"

namespace kelvara::ui {

std::string RemoteConfigLanguage(const std::string& ui_language) {
  std::string code = ui_language;
  std::transform(code.begin(), code.end(), code.begin(), [](unsigned char c) { return std::tolower(c); });
  for (const char* kept : {"zh-cn", "zh-tw", "ko-ko", "pl-pl", "ru-ru"})
    if (code == kept) return code;
  if (code == "japanese") return "Japanese";
  if (code == "ukrainian") return "Ukrainian";
  return "en-us";
}

std::optional<RemoteConfigChoice> RemoteConfigChoiceFor(int id) {
  static const char* const kFirst[] = {"zh-cn", "zh-tw", "en-us", "ko-ko", "pl-pl", "Japanese", "Ukrainian", "ru-ru"};
  static const char* const kSecond[] = {"en-us", "zh-cn", "zh-tw", "ko-ko", "pl-pl", "Japanese", "Ukrainian", "ru-ru"};
  if (id >= 33412 && id <= 33419) return RemoteConfigChoice{kFirst[id - 33412], 0};
  if (id >= 33430 && id <= 33437) return RemoteConfigChoice{kSecond[id - 33430], 1};
  return std::nullopt;
}

media::LiveRow LiveRowOf(const discovery::DeviceListRow& row) {
  const DeviceSearchInfo& info = row.m_searchInfo;
  media::LiveRow r;
  r.serial = info.serialNumber;
  r.device_type = info.deviceType;
  if (info.userConfig.accountCount > 0) {
    r.user = info.userConfig.accounts[0].userName;
    r.password = info.userConfig.accounts[0].password;
  }
  r.has_user_config = info.hasAccounts != 0;
  r.rtp_over_rtsp = info.streamAccess.rtpOverRtsp;
  r.video_port = info.streamAccess.videoPort;
  r.web_port = info.streamAccess.webPort;
  r.login_port = static_cast<int>(info.streamAccess.ptzPort & 0xFFFF);
  r.ip = info.lanConfig.ipAddress;
  r.login_handle = row.m_loginHandle;
  r.online = row.m_online;
  r.login_version = row.m_loginVersion;
  r.ability_text = row.m_abilityText;
  return r;
}

dialogs::RemoteCfgDevice RemoteCfgDeviceOf(const media::LiveRow& row, unsigned short channel,
                                           const std::pair<std::string, std::string>& defaultLogin) {
  dialogs::RemoteCfgDevice device;
  device.address = row.ip;
  device.port = row.login_port;
  device.user = row.has_user_config ? row.user : defaultLogin.first;
  device.password = row.has_user_config ? row.password : defaultLogin.second;
  device.channel = channel;
  return device;
}

AfStudySettings EditPresetTour(int mode, const AfStudySettings& table, QWidget* parent) {
  dialogs::DialogAfStudyCfg dialog(mode, table, parent);
  dialog.exec();
  return dialog.GetConfig();
}

LiveViewSeamImpl::LiveViewSeamImpl(media::LiveViewHost host) : view_(std::move(host)) {}

LiveViewSeamImpl::~LiveViewSeamImpl() {
  delete remote_cfg_.data();
  delete preview_.data();
}

void LiveViewSeamImpl::HidePreviewPopup() {
  if (preview_) preview_->hide();
}

void LiveViewSeamImpl::ShowPreviewPopup(QWidget* owner, int screen_x, int screen_y, const QString& text,
                                        int online) {
  if (!preview_) {
    preview_ = new media::CDialogPreview(owner);
    preview_->adjustSize();
    KeepWindowInWorkArea(*preview_);
    QObject::connect(preview_, &media::CDialogPreview::openDeviceWeb, preview_,
                     [this](const QString& serial) { OpenDeviceWeb(serial.toStdString()); });
    QObject::connect(preview_, &media::CDialogPreview::openDeviceLiveView, preview_,
                     [this](const QString& serial) { OpenDeviceLiveView(serial.toStdString()); });
  }
  preview_->move(screen_x, screen_y);
  preview_->show();
  // At the cursor, but wholly on the screen (a row near the bottom edge).
  FitWindowInWorkArea(*preview_);
  preview_->SetInfoText(text);
  preview_->SetOnlineState(online);
}

namespace {
// The place in the list of the first row with the serial; -1 when none.
int FindSerial(const media::LiveViewHost& host, const std::string& serial) {
  const int count = host.row_count ? host.row_count() : 0;
  for (int i = 0; i < count && host.row_at; ++i)
    if (auto row = host.row_at(i); row && row->serial == serial) return i;
  return -1;
}
}  // namespace

void LiveViewSeamImpl::OpenDeviceWeb(const std::string& serial) {
  const media::LiveViewHost& host = view_.Host();
  const int index = FindSerial(host, serial);
  if (index < 0 || !host.open_url) return;
  const auto row = host.row_at(index);
  host.open_url("http://" + row->ip + ":" + std::to_string(row->web_port));
}

void LiveViewSeamImpl::OpenDeviceLiveView(const std::string& serial) {
  const int index = FindSerial(view_.Host(), serial);
  if (index >= 0) view_.OpenDevicePreview(index);
}

void LiveViewSeamImpl::OpenRemoteConfigForWindow(int pane, const std::string& language, QWidget* owner) {
  media::CDevInfo* record = pane >= 0 ? view_.Record(pane) : nullptr;
  if (record == nullptr) return;
  OpenRemoteConfig(record->m_row, static_cast<unsigned short>(record->m_channel), language, owner);
}

void LiveViewSeamImpl::OpenRemoteConfigForRow(int row, unsigned short channel, const std::string& language,
                                              QWidget* owner) {
  const media::LiveViewHost& host = view_.Host();
  const std::optional<media::LiveRow> copy = host.row_at ? host.row_at(row) : std::nullopt;
  if (copy) OpenRemoteConfig(*copy, channel, language, owner);
}

void LiveViewSeamImpl::OpenRemoteConfig(const media::LiveRow& row, unsigned short channel,
                                        const std::string& language, QWidget* owner) {
  if (row.device_type.find("DAV-ODUVE") == std::string::npos) {
    if (view_.Host().error_box) view_.Host().error_box(row.device_type + ": NOT supported", "ERROR");
    return;
  }
  delete remote_cfg_.data();  // the previous window goes first, its login released
  remote_cfg_ = new dialogs::CRemoteCfgDlg(
      RemoteCfgDeviceOf(row, channel, defaultLogin ? defaultLogin() : std::pair<std::string, std::string>{}),
      RemoteConfigLanguage(language), owner);
  remote_cfg_->show();
}

void LiveViewSeamImpl::ShowLayoutMenu(QWidget* anchor) {
  QMenu* menu = view_.BuildLayoutMenu(anchor);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(QCursor::pos());
}

// The device list's live-view entries.
bool LiveViewSeamImpl::OnListCommand(int id, int row) {
  switch (id) {
    case 32782: view_.OpenDevicePreview(row); return true;
    case 32937: view_.OpenAllPreviews(); return true;
    case 32967: view_.PreviewInNextPane(row); return true;
    case 32781: view_.CloseAllPreviews(); return true;
    case 32799: view_.OpenSnapFolder(); return true;
    default:
      if (id >= 32929 && id <= 32936) {
        view_.OnMenuSplit(id);
        return true;
      }
      return false;
  }
}

}  // namespace kelvara::ui
