// The live view's hooks into the main window: the preview popup and its
// buttons, the preset tour settings and the remote configuration language.
#include "app/ui/live_view_seam.h"

#include <QApplication>
#include <QPointer>
#include <QScreen>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include "dialogs/ui/dialog_tour_date.h"
#include "media/ui/wnd_manager.h"
#include "remote_config.h"

namespace kelvara::ui {
namespace {

struct Fixture {
  std::vector<media::LiveRow> rows;
  std::vector<std::string> urls, errors;
  media::LiveViewHost Host() {
    media::LiveViewHost h;
    h.row_count = [this] { return static_cast<int>(rows.size()); };
    h.row_at = [this](int i) -> std::optional<media::LiveRow> {
      if (i < 0 || i >= static_cast<int>(rows.size())) return std::nullopt;
      return rows[i];
    };
    h.open_url = [this](const std::string& url) { urls.push_back(url); };
    h.error_box = [this](const std::string& text, const std::string&) { errors.push_back(text); };
    h.text = [](const std::string& key) { return key; };
    return h;
  }
};

media::LiveRow Row(const std::string& serial, const std::string& ip, int web, const std::string& type) {
  media::LiveRow r;
  r.serial = serial;
  r.ip = ip;
  r.web_port = web;
  r.device_type = type;
  r.online = true;
  return r;
}

TEST(LiveViewSeam, PreviewPopupShowsAtThePointAndItsButtonsActOnTheFirstRowWithTheSerial) {
  Fixture f;
  f.rows = {Row("A1", "10.0.0.5", 8080, "IPC-X"), Row("B2", "10.0.0.6", 81, "IPC-X"),
            Row("B2", "10.0.0.7", 82, "IPC-X")};
  QWidget owner;
  CDialogVideo video_host;
  CWndManager grid;
  grid.SetHostWindow(&video_host);
  grid.SetAreaSize(400, 300);
  LiveViewSeamImpl seam(f.Host());
  seam.Attach(&grid, &video_host);
  seam.ShowPreviewPopup(&owner, 40, 60, QStringLiteral("B2"), 1);
  media::CDialogPreview* popup = seam.Preview();
  ASSERT_NE(popup, nullptr);
  EXPECT_TRUE(popup->isVisible());
  EXPECT_EQ(popup->pos(), QPoint(40, 60));
  EXPECT_EQ(popup->InfoText(), QStringLiteral("B2"));
  EXPECT_EQ(popup->OnlineState(), 1);

  popup->WebButton()->click();
  EXPECT_EQ(f.urls, std::vector<std::string>{"http://10.0.0.6:81"});
  // The live view starts on that row: a model that plays no video is refused by name.
  popup->LiveButton()->click();
  ASSERT_EQ(f.errors.size(), 1u);
  EXPECT_NE(f.errors[0].find("IPC-X"), std::string::npos);

  // Shown again for an offline row: the same popup moves, its buttons do nothing.
  seam.ShowPreviewPopup(&owner, 5, 7, QStringLiteral("A1"), 0);
  EXPECT_EQ(seam.Preview(), popup);
  EXPECT_EQ(popup->pos(), QPoint(5, 7));
  popup->WebButton()->click();
  popup->LiveButton()->click();
  EXPECT_EQ(f.urls.size(), 1u);
  EXPECT_EQ(f.errors.size(), 1u);

  // At a point near the screen's lower right corner (a row at the bottom of
  // the list): moved in, so the whole popup shows.
  const QRect work = popup->screen()->availableGeometry();
  seam.ShowPreviewPopup(&owner, work.right() - 5, work.bottom() - 5, QStringLiteral("A1"), 0);
  EXPECT_TRUE(work.contains(popup->frameGeometry()));
  EXPECT_EQ(popup->frameGeometry().bottomRight(), work.bottomRight());

  // A serial no row has: nothing opens.
  seam.OpenDeviceWeb("ZZ");
  seam.OpenDeviceLiveView("ZZ");
  EXPECT_EQ(f.urls.size(), 1u);
  EXPECT_EQ(f.errors.size(), 1u);
  seam.HidePreviewPopup();
  EXPECT_FALSE(popup->isVisible());
}

TEST(LiveViewSeam, TourSettingsStoreTheDialogsTableInItsModesTable) {
  Fixture f;
  CSaveParam param;
  media::LiveViewHost host = f.Host();
  host.settings = &param;
  std::vector<int> modes;
  host.edit_tour = [&modes](int mode, const AfStudySettings& table) {
    modes.push_back(mode);
    AfStudySettings edited = table;
    edited.interval_sec = 30 + mode;
    return edited;
  };
  media::LiveView view(std::move(host));
  view.OnTourConfig(1);
  EXPECT_EQ(param.ptz_multiple.interval_sec, 31);
  EXPECT_NE(param.af_study.interval_sec, 31);
  view.OnTourConfig(0);
  EXPECT_EQ(param.af_study.interval_sec, 30);
  EXPECT_EQ(modes, (std::vector<int>{1, 0}));
}

TEST(LiveViewSeam, PresetTourDialogGivesBackItsTableWhicheverWayItCloses) {
  AfStudySettings table;
  table.interval_sec = 17;
  for (int mode : {0, 1}) {
    QTimer::singleShot(0, [] {
      if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    });
    const AfStudySettings got = EditPresetTour(mode, table, nullptr);
    EXPECT_EQ(got, table) << mode;
  }
}

TEST(LiveViewSeam, RemoteConfigurationLanguageCodes) {
  const std::pair<const char*, const char*> cases[] = {
      {"zh-cn", "zh-cn"}, {"zh-tw", "zh-tw"},         {"ko-ko", "ko-ko"},         {"pl-pl", "pl-pl"},
      {"ru-ru", "ru-ru"}, {"japanese", "Japanese"},   {"ukrainian", "Ukrainian"}, {"en-us", "en-us"},
      {"de-de", "en-us"}, {"", "en-us"},
  };
  for (const auto& [ui_code, expected] : cases) EXPECT_EQ(RemoteConfigLanguage(ui_code), expected) << ui_code;
}

// No playing pane: the remote configuration opens nothing.
TEST(LiveViewSeam, RemoteConfigurationNeedsAPlayingPane) {
  Fixture f;
  LiveViewSeamImpl seam(f.Host());
  seam.OpenRemoteConfigForWindow(-1, "en-us", nullptr);
  seam.OpenRemoteConfigForWindow(3, "en-us", nullptr);
  EXPECT_EQ(seam.RemoteConfigWindow(), nullptr);
  EXPECT_TRUE(f.errors.empty());
}

TEST(LiveViewSeam, RemoteConfigurationMenuRanges) {
  const std::tuple<int, const char*, int> cases[] = {
      {33412, "zh-cn", 0},    {33414, "en-us", 0}, {33417, "Japanese", 0}, {33419, "ru-ru", 0},
      {33430, "en-us", 1},    {33431, "zh-cn", 1}, {33436, "Ukrainian", 1}, {33437, "ru-ru", 1},
  };
  for (const auto& [id, language, channel] : cases) {
    const auto choice = RemoteConfigChoiceFor(id);
    ASSERT_TRUE(choice) << id;
    EXPECT_EQ(choice->language, language) << id;
    EXPECT_EQ(choice->channel, channel) << id;
    EXPECT_EQ(RemoteConfigLanguage(choice->language), language) << "the code passes through unchanged";
  }
  for (int id : {33411, 33420, 33429, 33438}) EXPECT_FALSE(RemoteConfigChoiceFor(id)) << id;
}

// The window gets a copy of the search record's address and account; a
// record without an account gets the default login. Only one window stays.
TEST(LiveViewSeam, RemoteConfigurationForARow) {
  Fixture f;
  media::LiveRow nvr = Row("N1", "10.0.0.9", 80, "NVS-NVR-08");
  media::LiveRow cam = Row("C1", "127.0.0.1", 80, "DAV-ODUVE-4");
  cam.login_port = 1;  // nobody listens: the library's login fails on its thread
  f.rows = {nvr, cam};
  const dialogs::RemoteCfgDevice without = RemoteCfgDeviceOf(cam, 1, {"def", "defpw"});
  EXPECT_EQ(without.user, "def");
  EXPECT_EQ(without.password, "defpw");
  EXPECT_EQ(without.channel, 1);
  cam.has_user_config = true;
  cam.user = "admin";
  cam.password = "own";
  const dialogs::RemoteCfgDevice with = RemoteCfgDeviceOf(cam, 0, {"def", "defpw"});
  EXPECT_EQ(with.user, "admin");
  EXPECT_EQ(with.password, "own");
  EXPECT_EQ(with.address, "127.0.0.1");
  EXPECT_EQ(with.port, 1);

  LiveViewSeamImpl seam(f.Host());
  seam.OpenRemoteConfigForRow(0, 0, "en-us", nullptr);
  EXPECT_EQ(f.errors, std::vector<std::string>{"NVS-NVR-08: NOT supported"});
  EXPECT_EQ(seam.RemoteConfigWindow(), nullptr);
  seam.OpenRemoteConfigForRow(1, 0, "zh-cn", nullptr);
  dialogs::CRemoteCfgDlg* first = seam.RemoteConfigWindow();
  ASSERT_NE(first, nullptr);
  EXPECT_GE(first->Instance(), 1);
  const int firstInstance = first->Instance();
  QPointer<dialogs::CRemoteCfgDlg> watch(first);
  seam.OpenRemoteConfigForRow(1, 1, "zh-cn", nullptr);
  EXPECT_TRUE(watch.isNull()) << "the first window is gone";
  // The library no longer knows the first login: it was released.
  EXPECT_EQ(CFG_UC_UnInit(firstInstance), -1);
  ASSERT_NE(seam.RemoteConfigWindow(), nullptr);
  const int second = seam.RemoteConfigWindow()->Instance();
  EXPECT_GE(second, 1);
  EXPECT_NE(second, firstInstance);
  seam.OpenRemoteConfigForRow(7, 0, "en-us", nullptr);  // no such row: nothing changes
  ASSERT_NE(seam.RemoteConfigWindow(), nullptr);
  EXPECT_EQ(seam.RemoteConfigWindow()->Instance(), second);
  // Closing the window releases its login; the window stays held.
  seam.RemoteConfigWindow()->close();
  EXPECT_EQ(CFG_UC_UnInit(second), -1);
  EXPECT_NE(seam.RemoteConfigWindow(), nullptr);
}

// The popup and the remote-configuration window are children of the window
// they were opened over and are deleted exactly once, whether that window
// goes before the seam (as at the application's end) or after it. Escape
// closes the configuration window as a user does.
TEST(LiveViewSeam, WindowsOpenedOverAnOwnerAreDeletedOnceWhicheverGoesFirst) {
  for (const bool owner_first : {true, false}) {
    SCOPED_TRACE(owner_first ? "owner first" : "seam first");
    Fixture f;
    media::LiveRow cam = Row("C1", "127.0.0.1", 80, "DAV-ODUVE-4");
    cam.login_port = 1;
    f.rows = {cam};
    auto owner = std::make_unique<QWidget>();
    auto seam = std::make_unique<LiveViewSeamImpl>(f.Host());
    int destroyed = 0;
    seam->OpenRemoteConfigForRow(0, 0, "en-us", owner.get());
    seam->ShowPreviewPopup(owner.get(), 5, 5, QStringLiteral("C1"), 1);
    QPointer<QWidget> config = seam->RemoteConfigWindow(), popup = seam->Preview();
    ASSERT_TRUE(config && popup);
    EXPECT_EQ(config->parentWidget(), owner.get());
    for (QWidget* w : {config.data(), popup.data()})
      QObject::connect(w, &QObject::destroyed, [&destroyed] { ++destroyed; });
    QTest::keyClick(config, Qt::Key_Escape);
    EXPECT_FALSE(config->isVisible());
    if (owner_first) {
      owner.reset();
      EXPECT_TRUE(config.isNull() && popup.isNull());
      EXPECT_EQ(seam->RemoteConfigWindow(), nullptr);
      EXPECT_EQ(seam->Preview(), nullptr);
      seam.reset();
    } else {
      seam.reset();
      EXPECT_TRUE(config.isNull() && popup.isNull());
      owner.reset();
    }
    EXPECT_EQ(destroyed, 2);
  }
}

}  // namespace
}  // namespace kelvara::ui
