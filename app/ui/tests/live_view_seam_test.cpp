// The live view's hooks into the main window: the preview popup and its
// buttons, the preset tour settings and the remote configuration language.
#include "app/ui/live_view_seam.h"

#include <QApplication>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include "dialogs/ui/dialog_tour_date.h"
#include "media/ui/wnd_manager.h"

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

}  // namespace
}  // namespace kelvara::ui
