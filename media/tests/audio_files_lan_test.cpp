// The broadcast window's device file list end to end: the window, the real
// SDK and devsim's OEM file stores inside a test LAN's PC namespace (devsim
// on that namespace's loopback, nothing broadcast). Replies and events reach
// the window through the device commands' handlers, as in the program.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QRadioButton>

#include <fstream>
#include <iterator>

#include "controls/ui/report_ctrl.h"
#include "digest.h"
#include "device/tests/devsim_fixture.h"
#include "kelvara_test/test_env.h"
#include "kelvara_test/test_lan.h"
#include "media/ui/audio_play_dlg.h"
#include "media/ui/zq_broadcast_sdk.h"

namespace kelvara::media {
namespace {

namespace fs = std::filesystem;
using kelvara::test::LanSide;
using kelvara::test::TestLan;
using kelvara::test::TestLanOptions;
using namespace std::chrono_literals;

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

std::string Hex(const std::string& bytes) { return varurovodiv::wire::ToHex(bytes); }

class AudioFilesLan : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string why;
    lan_ = TestLan::Create(TestLanOptions{}, &why).release();
    if (lan_ == nullptr) {
      skip_ = why;
      return;
    }
    // The UI thread itself joins the PC side: the window, the SDK and devsim
    // all live there for the rest of the process.
    if (!lan_->EnterOnThisThread(LanSide::kPc)) skip_ = "cannot enter the PC namespace";
  }
  static void TearDownTestSuite() { delete lan_; }

  void SetUp() override {
    if (lan_ == nullptr || !skip_.empty()) GTEST_SKIP() << "test LAN unavailable (" << skip_ << ")";
    ASSERT_TRUE(kelvara::test::InTestLanNamespace());
    root_ = kelvara::test::MakeTempDir("audiofiles");
    docs_ = root_ / "Documents";
    fs::create_directories(docs_);
    AudioPlayHost host;
    host.checkedLogins = [this] { return std::vector<int>{Login()}; };
    host.selectedLogin = [this] { return Login(); };
    host.setStatus = [this](int login, const std::string& key) { statuses_.emplace_back(login, key); };
    host.documentsFolder = [this] { return docs_.string(); };
    host.chooseFiles = [this](const QString&, const std::string&) { return chosen_; };
    dlg_ = std::make_unique<CAudioPlayDlg>(sdk_, host);
    dlg_->quiet = true;
    device::DeviceSeams seams;
    seams.intercom = &dlg_->Intercom();
    sim_ = std::make_unique<device::test::DevsimCommands>(1, docs_, seams);
    ASSERT_EQ(sim_->StartError(), "");
    ASSERT_TRUE(sim_->LoginAll());
    sim_->Drain();
  }
  void TearDown() override {
    sim_.reset();
    dlg_.reset();
  }

  int Login() const { return sim_ ? sim_->Row(0).m_loginHandle : 0; }
  std::string Control(const std::string& line) { return sim_->Sim().Control(line); }
  std::vector<std::string> Shown() const {
    std::vector<std::string> out;
    for (int r = 0; r < dlg_->DeviceList()->GetItemCount(); ++r)
      out.push_back(dlg_->DeviceList()->GetItemText(r, 0).toStdString());
    return out;
  }
  void Select(const std::vector<std::string>& names) {
    for (int r = 0; r < dlg_->DeviceList()->GetItemCount(); ++r) {
      const bool on = std::find(names.begin(), names.end(), dlg_->DeviceList()->GetItemText(r, 0).toStdString()) !=
                      names.end();
      dlg_->DeviceList()->SetItemStates(r, on ? controls::kStateSelected : controls::kStateUnselected);
    }
  }
  bool QueryDone() {
    return sim_->PumpUntil([this] { return !dlg_->Files().Querying(); }, 10000ms);
  }
  // The device's store as devsim lists it: path -> size.
  std::map<std::string, std::size_t> Store(const char* kind) {
    std::map<std::string, std::size_t> out;
    std::istringstream in(Control(std::string("oem 0 list ") + kind));
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
      std::istringstream l(line);
      std::string path;
      std::size_t size = 0;
      l >> path >> size;
      out[path] = size;
    }
    return out;
  }
  std::size_t Count(const std::string& key) {
    return static_cast<std::size_t>(std::count(statuses_.begin(), statuses_.end(), std::make_pair(Login(), key)));
  }

  static inline TestLan* lan_ = nullptr;
  static inline std::string skip_;
  fs::path root_, docs_;
  ZqBroadcastSdk sdk_{std::make_unique<NoCaptureSource>()};
  std::unique_ptr<CAudioPlayDlg> dlg_;
  std::unique_ptr<device::test::DevsimCommands> sim_;
  std::vector<std::pair<int, std::string>> statuses_;
  std::vector<std::string> chosen_;
};

// More files than two pages: every page is asked once and an empty page ends
// it; a device that repeats its last page past the end ends the listing too;
// a new query while pages are out shows only the new query's files.
TEST_F(AudioFilesLan, ListingPagesEndAndNeverMix) {
  std::vector<std::string> mp3, app;
  for (int i = 0; i < 23; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "tone%02d.mp3", i);
    ASSERT_EQ(Control(std::string("oem 0 put mp3 ") + name + " " + Hex(name)), "ok");
    mp3.push_back(std::string("/oem/mp3/") + name);
  }
  for (const char* name : {"app.bin", "update.pkg"}) {
    ASSERT_EQ(Control(std::string("oem 0 put app ") + name + " 00"), "ok");
    app.push_back(std::string("/oem/app/") + name);
  }
  dlg_->OnQueryDeviceFiles();
  ASSERT_TRUE(QueryDone());
  EXPECT_EQ(Shown(), mp3);
  EXPECT_EQ(sim_->Received(0, 1021).size(), 4u);  // pages 0-2 and the empty page 3

  ASSERT_EQ(Control("oem 0 fault repeat_pages 1"), "ok");
  ASSERT_EQ(Control("journal 0 clear").substr(0, 2), "ok");
  dlg_->OnQueryDeviceFiles();
  ASSERT_TRUE(QueryDone());
  EXPECT_EQ(Shown(), mp3);
  EXPECT_EQ(sim_->Received(0, 1021).size(), 4u);  // page 3 repeats page 2: nothing new

  // The APP radio asks again while the MP3 pages are still out.
  dlg_->OnQueryDeviceFiles();
  dlg_->ControlAs<QRadioButton>(CAudioPlayDlg::kKindApp)->setChecked(true);
  ASSERT_TRUE(QueryDone());
  sim_->Drain();
  EXPECT_EQ(Shown(), app);
}

// Uploads: a device that refuses reports each file and the queue goes on;
// the store changes only by the files that arrived, byte for byte; a queue
// that delivered its files ends with the success text and the list of them.
TEST_F(AudioFilesLan, UploadsReportEachRefusalAndGoOn) {
  const fs::path dir = root_ / "music";
  fs::create_directories(dir);
  std::string mp3Bytes(200000, '\0');
  for (std::size_t i = 0; i < mp3Bytes.size(); ++i) mp3Bytes[i] = static_cast<char>(i * 7 + i / 251);
  Write(dir / "door bell.MP3", mp3Bytes);
  Write(dir / "a&b'q.mp3", "ID3-small");
  Write(dir / "panel.bin", "application");
  chosen_ = {(dir / "door bell.MP3").string(), (dir / "panel.bin").string(), (dir / "a&b'q.mp3").string()};

  ASSERT_EQ(Control("oem 0 fault upload 1"), "ok");
  dlg_->OnUploadFiles();
  ASSERT_TRUE(sim_->PumpUntil([this] { return Count("MSGTIP7") == 3; }, 10000ms)) << statuses_.size();
  sim_->Drain();
  EXPECT_EQ(dlg_->Files().UploadsLeft(), 0u);
  EXPECT_EQ(statuses_.size(), 3u);  // no success text, no listing
  EXPECT_EQ(sim_->Received(0, 1021).size(), 0u);
  EXPECT_TRUE(Store("mp3").empty());
  EXPECT_TRUE(Store("app").empty());

  // Accepted: the success text once the last file is in, and the list (never
  // asked for by the user) shows the device's MP3 files.
  ASSERT_EQ(Control("oem 0 fault upload 0"), "ok");
  statuses_.clear();
  dlg_->OnUploadFiles();
  ASSERT_TRUE(sim_->PumpUntil([this] { return Count("UPLOAD_FILES_DONE") == 1; }, 10000ms)) << statuses_.size();
  ASSERT_TRUE(QueryDone());
  sim_->Drain();
  EXPECT_EQ(Store("mp3").size(), 2u);
  EXPECT_EQ(Store("app").size(), 1u);
  EXPECT_EQ(statuses_, (std::vector<std::pair<int, std::string>>{{Login(), "UPLOAD_FILES_DONE"}}));
  EXPECT_EQ(Shown(), (std::vector<std::string>{"/oem/mp3/a&b'q.mp3", "/oem/mp3/door bell.MP3"}));
  std::string stored;
  ASSERT_TRUE(sim_->Sim().device(0).oem_files().Read("/oem/mp3/door bell.MP3", stored));
  EXPECT_EQ(stored, mp3Bytes);
  ASSERT_TRUE(sim_->Sim().device(0).oem_files().Read("/oem/mp3/a&b'q.mp3", stored));
  EXPECT_EQ(stored, "ID3-small");
  ASSERT_TRUE(sim_->Sim().device(0).oem_files().Read("/oem/app/panel.bin", stored));
  EXPECT_EQ(stored, "application");

  // With the list showing this device's application files, one more upload
  // lists them again.
  dlg_->ControlAs<QRadioButton>(CAudioPlayDlg::kKindApp)->setChecked(true);  // lists the APP files
  ASSERT_TRUE(QueryDone());
  EXPECT_EQ(Shown(), std::vector<std::string>{"/oem/app/panel.bin"});
  Write(dir / "second.bin", "more");
  chosen_ = {(dir / "second.bin").string()};
  dlg_->OnUploadFiles();
  ASSERT_TRUE(sim_->PumpUntil([this] { return Shown().size() == 2; }, 10000ms));
  EXPECT_EQ(Shown(), (std::vector<std::string>{"/oem/app/panel.bin", "/oem/app/second.bin"}));
  EXPECT_EQ(Count("UPLOAD_FILES_DONE"), 2u);
}

// Listen, delete and download against the device's state: a refusal is
// reported and changes neither the device nor the window.
TEST_F(AudioFilesLan, ListenDeleteAndDownloadFollowTheDevice) {
  for (const char* name : {"alarm.mp3", "bell.mp3", "chime.mp3", "x&y.mp3"})
    ASSERT_EQ(Control(std::string("oem 0 put mp3 ") + name + " " + Hex(std::string("content of ") + name)), "ok");
  dlg_->OnQueryDeviceFiles();
  ASSERT_TRUE(QueryDone());
  ASSERT_EQ(Shown().size(), 4u);
  auto* listen = dlg_->ControlAs<QPushButton>(CAudioPlayDlg::kListen);
  const QString startCaption = listen->text();

  // Listen refused: still stopped, the device too.
  ASSERT_EQ(Control("oem 0 fault listen 1"), "ok");
  Select({"/oem/mp3/bell.mp3"});
  dlg_->OnListenDeviceFile();
  ASSERT_TRUE(sim_->PumpUntil([this] { return Count("IDS_STR_ZH_CN_PLAY_FAILED") == 1; }));
  EXPECT_FALSE(dlg_->Files().DevicePlaying());
  EXPECT_EQ(listen->text(), startCaption);
  EXPECT_EQ(Control("oem 0 play"), "ok stopped plays=0");

  // Listen accepted: the device plays the file in a loop until stopped.
  ASSERT_EQ(Control("oem 0 fault listen 0"), "ok");
  dlg_->OnListenDeviceFile();
  ASSERT_TRUE(sim_->PumpUntil([this] { return dlg_->Files().DevicePlaying(); }));
  EXPECT_EQ(Control("oem 0 play"), "ok playing /oem/mp3/bell.mp3 loop=1 plays=1");
  EXPECT_NE(listen->text(), startCaption);
  dlg_->OnListenDeviceFile();
  ASSERT_TRUE(sim_->PumpUntil([this] { return !dlg_->Files().DevicePlaying(); }));
  EXPECT_EQ(Control("oem 0 play"), "ok stopped plays=1");
  EXPECT_EQ(listen->text(), startCaption);

  // Delete refused: the rows stay, the device keeps the files.
  ASSERT_EQ(Control("oem 0 fault delete 1"), "ok");
  Select({"/oem/mp3/alarm.mp3", "/oem/mp3/chime.mp3"});
  dlg_->OnDeleteDeviceFiles();
  ASSERT_TRUE(sim_->PumpUntil([this] { return Count("IDS_STR_ZH_CN_DELETE_FAILED") == 2; }));
  EXPECT_EQ(Shown().size(), 4u);
  EXPECT_EQ(Store("mp3").size(), 4u);
  // Accepted: gone from the device and the window.
  ASSERT_EQ(Control("oem 0 fault delete 0"), "ok");
  Select({"/oem/mp3/alarm.mp3", "/oem/mp3/chime.mp3"});
  dlg_->OnDeleteDeviceFiles();
  ASSERT_TRUE(sim_->PumpUntil([this] { return Shown().size() == 2; }));
  EXPECT_EQ(Shown(), (std::vector<std::string>{"/oem/mp3/bell.mp3", "/oem/mp3/x&y.mp3"}));
  EXPECT_EQ(Store("mp3").size(), 2u);

  // Download into the documents folder under the file's own name.
  Select({"/oem/mp3/x&y.mp3"});
  dlg_->OnDownloadDeviceFile();
  const fs::path local = docs_ / "x&y.mp3";
  ASSERT_TRUE(sim_->PumpUntil([&] { return fs::exists(local); }));
  EXPECT_EQ(Read(local), "content of x&y.mp3");
  std::size_t below = 0;
  for (const auto& e : fs::recursive_directory_iterator(root_))
    if (e.is_regular_file()) ++below;
  EXPECT_EQ(below, 1u);  // nothing beside it
}

}  // namespace
}  // namespace kelvara::media
