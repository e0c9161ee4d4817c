// The broadcast window offscreen: its controls follow the broadcast state,
// the playlist step wraps, a double click restarts with a file, closing
// ends the broadcast, and device replies reach it through the seam.
#include <gtest/gtest.h>

#include <cstdlib>

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QListView>
#include <QTest>
#include <fstream>
#include <set>
#include <QCoreApplication>
#include <QPushButton>
#include <QRadioButton>

#include "broadcast_fakes.h"
#include "controls/ui/report_ctrl.h"
#include "media/ui/audio_play_dlg.h"
#include "kelvara_test/test_env.h"
#include "mp3_fixtures.h"

namespace kelvara::media {
namespace {

struct DialogTest : ::testing::Test {
  test::RecordingSdk sdk;
  std::vector<int> checked = {3};
  std::vector<std::pair<int, std::string>> statuses;
  std::vector<bool> talkButton;
  std::unique_ptr<CAudioPlayDlg> dlg;

  void SetUp() override {
    AudioPlayHost host;
    host.checkedLogins = [this] { return checked; };
    host.selectedLogin = [this] { return checked.size() == 1 ? checked.front() : 0; };
    host.setStatus = [this](int login, const std::string& key) { statuses.emplace_back(login, key); };
    host.setTalkButtonText = [this](bool on) { talkButton.push_back(on); };
    dlg = std::make_unique<CAudioPlayDlg>(sdk, host);
    dlg->quiet = true;
  }
  bool Enabled(int id) { return dlg->Control(id)->isEnabled(); }
};

TEST_F(DialogTest, ControlsFollowTheBroadcastState) {
  EXPECT_TRUE(Enabled(CAudioPlayDlg::kStart));
  EXPECT_FALSE(Enabled(CAudioPlayDlg::kStop));
  EXPECT_FALSE(Enabled(CAudioPlayDlg::kPause));
  EXPECT_EQ(dlg->ControlAs<QComboBox>(CAudioPlayDlg::kFormat)->currentData().toInt(), kFormatPCM);
  ASSERT_TRUE(dlg->StartBroadcast());
  EXPECT_EQ(sdk.calls.front(), "StartTalk 0 3 32000 16 1");
  EXPECT_FALSE(Enabled(CAudioPlayDlg::kStart));
  EXPECT_FALSE(Enabled(CAudioPlayDlg::kFormat));
  EXPECT_TRUE(Enabled(CAudioPlayDlg::kPause));
  dlg->OnPause();
  EXPECT_TRUE(Enabled(CAudioPlayDlg::kStart));
  EXPECT_FALSE(Enabled(CAudioPlayDlg::kPause));
  EXPECT_TRUE(Enabled(CAudioPlayDlg::kStop));
  // Talk events through the device commands' seam concern started devices.
  sdk.calls.clear();
  dlg->Intercom().OnDeviceTalkEvent(3, 6);
  dlg->Intercom().OnDeviceTalkEvent(4, 6);
  EXPECT_EQ(sdk.calls, std::vector<std::string>{"AddTalk 3"});
  dlg->close();  // closing stops the broadcast
  EXPECT_EQ(dlg->Broadcast().State(), BroadcastState::Idle);
  EXPECT_EQ(sdk.calls.back(), "StopTalk");
  EXPECT_EQ(talkButton.back(), false);

  dlg->ResetTalkDefaults();
  EXPECT_EQ(dlg->ControlAs<QComboBox>(CAudioPlayDlg::kRate)->currentIndex(), 1);
  EXPECT_EQ(dlg->ControlAs<QComboBox>(CAudioPlayDlg::kTransport)->currentIndex(), 1);
  checked.clear();
  EXPECT_FALSE(dlg->StartBroadcast());
  EXPECT_EQ(dlg->Errors().back(), "STRING_PLEASE_SELECT_DEVICES");
}

TEST_F(DialogTest, PlaylistAddsOnceAndStepsWithWrap) {
  const std::string a = (test::EncodedMp3Dir() / "cbr_8000_mono.mp3").string();
  const std::string b = (test::EncodedMp3Dir() / "cbr_16000_mono.mp3").string();
  dlg->AddFiles({a, b, a});
  ASSERT_EQ(dlg->LocalList()->GetItemCount(), 2);
  dlg->LocalList()->SetItemStates(1, controls::kStateSelected);
  dlg->ControlAs<QComboBox>(CAudioPlayDlg::kFormat)->setCurrentIndex(0);  // G.711 u-law
  dlg->OnLocalListDblClk();
  // A double click broadcasts the row as PCM from the file.
  EXPECT_TRUE(dlg->ControlAs<QRadioButton>(CAudioPlayDlg::kSourceFile)->isChecked());
  EXPECT_EQ(dlg->ControlAs<QComboBox>(CAudioPlayDlg::kFormat)->currentData().toInt(), kFormatPCM);
  ASSERT_EQ(dlg->Broadcast().State(), BroadcastState::Broadcasting);
  const unsigned first = dlg->Broadcast().Generation();
  // The end of the last row's file wraps to row 0; an old report does nothing.
  dlg->OnPlayFinished(first);
  EXPECT_EQ(dlg->LocalList()->GetFirstSelectedItem(), 0);
  EXPECT_EQ(dlg->Broadcast().Generation(), first + 1);
  dlg->OnPlayFinished(first);
  EXPECT_EQ(dlg->Broadcast().Generation(), first + 1);
  dlg->StopBroadcast();
}

TEST_F(DialogTest, DeviceFilesArriveThroughTheSeam) {
  dlg->OnQueryDeviceFiles();
  EXPECT_EQ(sdk.calls.back(), "SearchOEMMp3File 3 0");
  dlg->Intercom().OnConfigReply(3, 1021, 0, "<R><RECORD_FILE FilePath=\"bell.mp3\"/></R>");
  ASSERT_EQ(dlg->DeviceList()->GetItemCount(), 1);
  EXPECT_EQ(dlg->DeviceList()->GetItemText(0, 0), "bell.mp3");
  EXPECT_EQ(sdk.calls.back(), "SearchOEMMp3File 3 1");
  // Each page's new names are appended after the rows already shown.
  dlg->Intercom().OnConfigReply(
      3, 1021, 0, "<R><RECORD_FILE FilePath=\"bell.mp3\"/><RECORD_FILE FilePath=\"gong.mp3\"/></R>");
  ASSERT_EQ(dlg->DeviceList()->GetItemCount(), 2);
  EXPECT_EQ(dlg->DeviceList()->GetItemText(1, 0), "gong.mp3");
  dlg->Intercom().OnConfigReply(3, 1021, 0, "<R/>");
  EXPECT_FALSE(dlg->Files().Querying());
  dlg->DeviceList()->SetItemStates(0, controls::kStateSelected);
  dlg->OnListenDeviceFile();
  EXPECT_EQ(sdk.calls.back(), "PlayMp3File 3 bell.mp3");
  auto* listen = dlg->ControlAs<QPushButton>(CAudioPlayDlg::kListen);
  const QString start = listen->text();
  dlg->Intercom().OnConfigReply(3, 1022, 0, "");  // the device plays: the button stops it
  EXPECT_NE(listen->text(), start);
  EXPECT_TRUE(dlg->Files().DevicePlaying());
  // A delete leaves the list when the device answers that it is done.
  dlg->DeviceList()->SetItemStates(0, controls::kStateSelected);
  dlg->OnDeleteDeviceFiles();
  EXPECT_EQ(dlg->DeviceList()->GetItemCount(), 2);
  dlg->Intercom().OnConfigReply(3, 1024, 0, "");
  ASSERT_EQ(dlg->DeviceList()->GetItemCount(), 1);
  EXPECT_EQ(dlg->DeviceList()->GetItemText(0, 0), "gong.mp3");
}

// The file dialogs' filters, as a Qt file dialog reads them, show the files
// they are for: MP3 files for the playlist and MP3 uploads, any file for
// application uploads.
TEST_F(DialogTest, FileDialogFiltersShowTheirFiles) {
  const auto dir = kelvara::test::MakeTempDir("filters");
  for (const char* name : {"door.mp3", "panel.bin"}) std::ofstream(dir / name) << "x";
  std::vector<QString> filters;
  AudioPlayHost host;
  host.checkedLogins = [] { return std::vector<int>{3}; };
  host.selectedLogin = [] { return 3; };
  host.chooseFiles = [&](const QString& filter, const std::string&) {
    filters.push_back(filter);
    return std::vector<std::string>{};
  };
  CAudioPlayDlg d(sdk, host);
  d.ControlAs<QPushButton>(CAudioPlayDlg::kAddFile)->click();
  d.OnUploadFiles();
  d.ControlAs<QRadioButton>(CAudioPlayDlg::kKindApp)->setChecked(true);
  d.OnUploadFiles();
  ASSERT_EQ(filters.size(), 3u);
  const auto shown = [&](const QString& filter) {
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    auto* view = dialog.findChild<QListView*>("listView");
    auto* files = dialog.findChild<QFileSystemModel*>();
    std::set<std::string> names;
    if (view == nullptr || files == nullptr) return names;
    // The model reads the folder on a thread of its own and says when all of
    // it is in.
    const QString folder = QDir(QString::fromStdString(dir.string())).canonicalPath();
    bool loaded = false;
    QObject::connect(files, &QFileSystemModel::directoryLoaded, &dialog,
                     [&](const QString& path) { loaded = loaded || QDir(path).canonicalPath() == folder; });
    dialog.setNameFilter(filter);
    dialog.setDirectory(folder);
    if (!QTest::qWaitFor([&] { return loaded; }, 5000)) return names;
    for (int r = 0; r < view->model()->rowCount(view->rootIndex()); ++r)
      names.insert(view->model()->index(r, 0, view->rootIndex()).data().toString().toStdString());
    return names;
  };
  const std::set<std::string> mp3{"door.mp3"}, all{"door.mp3", "panel.bin"};
  EXPECT_EQ(shown(filters[0]), mp3);
  EXPECT_EQ(shown(filters[1]), mp3);
  EXPECT_EQ(shown(filters[2]), all);
}

// With KELVARA_SCREENSHOT set (a PNG path), shows the window with a playlist
// and a device file list and saves what it paints, for a look by a person.
TEST_F(DialogTest, ScreenshotOnRequest) {
  const char* out = std::getenv("KELVARA_SCREENSHOT");
  if (!out) GTEST_SKIP() << "KELVARA_SCREENSHOT not set";
  dlg->AddFiles({"/home/user/Music/doorbell.mp3", "/home/user/Music/announcement.mp3"});
  dlg->LocalList()->SetItemStates(0, controls::kStateSelected);
  dlg->OnQueryDeviceFiles();
  dlg->Intercom().OnConfigReply(3, 1021, 0,
                                "<R><RECORD_FILE FilePath=\"bell.mp3\"/><RECORD_FILE FilePath=\"alarm.mp3\"/></R>");
  ASSERT_TRUE(dlg->StartBroadcast());
  dlg->OnPause();
  dlg->show();
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
  EXPECT_TRUE(dlg->grab().save(out));
  dlg->StopBroadcast();
}

}  // namespace
}  // namespace kelvara::media
