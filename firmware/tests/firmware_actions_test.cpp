// The upgrade and file handlers against a recording window, SDK and workers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>

#include "common/folder_functions.h"
#include "firmware/core/device_files.h"
#include "firmware/core/firmware_actions.h"
#include "firmware/tests/firmware_fakes.h"
#include "firmware/tests/image_builder.h"
#include "kelvara_test/test_env.h"

namespace kelvara::firmware {
namespace {

namespace fs = std::filesystem;
using test::FakeSdk;
using test::FakeWindow;
using test::FakeWorkers;

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class Actions : public ::testing::Test {
 protected:
  Actions()
      : actions([this] { return &rows.rows; }, sdk, workers, window, [](const char* k) { return std::string(k); },
                [this] { return now_ms; }) {
    dir = kelvara::test::MakeTempDir("fw");
    good = (dir / "good.bin").string();
    test::WriteFile(good, test::BuildImage("V2_good"));
  }
  std::string BrokenImage() {
    std::string bytes = test::BuildImage("V2_bad");
    bytes[kFirmwareHeaderSize + 10] ^= 1;  // a part's byte: its CRC no longer matches
    const std::string path = (dir / "broken.bin").string();
    test::WriteFile(path, bytes);
    return path;
  }
  test::Rows rows;
  FakeSdk sdk;
  FakeWorkers workers;
  FakeWindow window;
  std::int64_t now_ms = 1000;
  FirmwareActions actions;
  fs::path dir;
  std::string good;
};

TEST_F(Actions, UpgradeByFileStartsCheckedOnlineRowsAndWatchesTheRun) {
  auto& a = rows.Add("A", "DAV-ODUVE-X5");
  auto& offline = rows.Add("B", "DAV-ODUVE-X5", false);
  auto& unchecked = rows.Add("C", "DAV-ODUVE-X5", true, false);
  auto& nohandle = rows.Add("D", "DAV-ODUVE-X5");
  rows.rows.SetLoginHandle(nohandle, 0);
  window.fields[ctl::kFirmwareFile] = good;
  actions.OnCommand(ctl::kUpgradeByFile);
  ASSERT_EQ(sdk.upgrades.size(), 1u);
  EXPECT_EQ(sdk.upgrades[0], (std::pair<int, std::string>{a.m_loginHandle, good}));
  EXPECT_TRUE(a.m_busy);
  EXPECT_EQ(rows.Status(a), "MSGTIP29");
  EXPECT_EQ(rows.Status(offline), "<unset>");
  EXPECT_EQ(rows.Status(unchecked), "<unset>");
  EXPECT_EQ(rows.Status(nohandle), "MSGTIP19");
  EXPECT_TRUE(window.busy);
  EXPECT_EQ(window.watch_starts, 1);

  // A second run while one is running is refused.
  actions.OnUpgradeByFile();
  EXPECT_EQ(window.boxes.back(), "MSGTIP37");

  // Progress: clamped to 100, nothing for 0.
  sdk.progress[a.m_loginHandle] = 0;
  actions.OnStatusEvent(a.m_loginHandle, event::kProgressA, "0");
  EXPECT_EQ(rows.Status(a), "MSGTIP29");
  sdk.progress[a.m_loginHandle] = 7;
  actions.OnStatusEvent(a.m_loginHandle, event::kProgressA, "7");
  EXPECT_EQ(rows.Status(a), "UPLOAD: 07%");
  sdk.progress[a.m_loginHandle] = 150;
  actions.OnStatusEvent(a.m_loginHandle, event::kProgressB, "");
  EXPECT_EQ(rows.Status(a), "UPLOAD: 100%");
  EXPECT_EQ(actions.ShowUpgradeProgress(999), -1);
}

TEST_F(Actions, CheckedRowsRunInTheOrderTheListShows) {
  auto& a = rows.Add("A", "DAV-ODUVE-X5");
  auto& b = rows.Add("B", "DAV-ODUVE-X5");
  auto& c = rows.Add("C", "DAV-ODUVE-X5");
  window.list_order = {2, 0, 1};  // sorted: C, A, B
  window.fields[ctl::kFirmwareFile] = good;
  actions.OnUpgradeByFile();
  ASSERT_EQ(sdk.upgrades.size(), 3u);
  EXPECT_EQ(sdk.upgrades[0].first, c.m_loginHandle);
  EXPECT_EQ(sdk.upgrades[1].first, a.m_loginHandle);
  EXPECT_EQ(sdk.upgrades[2].first, b.m_loginHandle);
}

TEST_F(Actions, RunRefusalsComeBeforeAnyDevice) {
  rows.Add("A", "X");
  window.fields[ctl::kFirmwareFile] = (dir / "missing.bin").string();
  actions.OnUpgradeByFile();
  EXPECT_EQ(window.boxes.back(), "MSGTIP27");
  // A file with the image magic that fails its part CRC goes to nobody.
  window.fields[ctl::kFirmwareFile] = BrokenImage();
  actions.OnUpgradeByFile();
  EXPECT_EQ(window.boxes.back(), std::string("MSG_FIRMWARE_REFUSED: ") + HeaderErrorText(HeaderError::kPartCrc));
  EXPECT_TRUE(sdk.upgrades.empty());
  EXPECT_FALSE(window.busy);
  // A file without the magic is the device's to judge.
  const std::string plain = (dir / "plain.bin").string();
  test::WriteFile(plain, "not an image at all");
  window.fields[ctl::kFirmwareFile] = plain;
  actions.OnUpgradeByFile();
  EXPECT_EQ(sdk.upgrades.size(), 1u);
  // No checked row.
  rows.rows.At(0).checked = false;
  window.busy = false;
  actions.OnUpgradeByFile();
  EXPECT_EQ(window.boxes.back(), "MSGTIP24");
  // Folder: empty field.
  actions.OnUpgradeByFolder();
  EXPECT_EQ(window.boxes.back(), "TEXT20");
}

TEST_F(Actions, EveryUpgradeEndsInOneTerminalStateAndTheRunThenEnds) {
  auto& done = rows.Add("A", "X");
  auto& failed = rows.Add("B", "X");
  auto& lost = rows.Add("C", "X");
  auto& stalled = rows.Add("D", "X");
  auto& refused = rows.Add("E", "X");
  window.fields[ctl::kFirmwareFile] = good;
  actions.SetStallLimitMs(60000);
  actions.OnUpgradeByFile();
  EXPECT_EQ(sdk.upgrades.size(), 5u);
  const auto outcome = [](int kind, const char* error) {
    std::string t = "<RESPONSE_PARAM";
    if (error) t += std::string(" Error=\"") + error + "\"";
    return t + " Kind=\"" + std::to_string(kind) + "\" />";
  };
  // A configuration file queued before the image ends first: the upgrade goes on.
  actions.OnStatusEvent(done.m_loginHandle, event::kUploadDone, outcome(1, nullptr));
  EXPECT_TRUE(actions.Jobs().Running(done.m_loginHandle));
  actions.OnStatusEvent(done.m_loginHandle, event::kUploadDone, outcome(2, nullptr));
  actions.OnStatusEvent(failed.m_loginHandle, event::kUploadFailed, outcome(2, "refused by the device"));
  actions.OnStatusEvent(lost.m_loginHandle, event::kUploadFailed, outcome(2, "link lost"));
  actions.OnStatusEvent(lost.m_loginHandle, event::kLinkLost, "");
  actions.OnStatusEvent(refused.m_loginHandle, event::kHeartbeatLost, "");
  // Later events change nothing: the first terminal state stays.
  actions.OnStatusEvent(done.m_loginHandle, event::kLinkLost, "");
  actions.OnStatusEvent(failed.m_loginHandle, event::kUploadDone, outcome(2, nullptr));
  EXPECT_FALSE(actions.OnUpgradeWatchTick());
  EXPECT_TRUE(stalled.m_busy);
  now_ms += 60000;
  EXPECT_TRUE(actions.OnUpgradeWatchTick());
  struct Want {
    discovery::DeviceListRow* row;
    JobState state;
    const char* text;
  };
  for (const Want& w : {Want{&done, JobState::kDone, "MSG_UPGRADE"}, Want{&failed, JobState::kFailed, "MSGTIP7"},
                        Want{&lost, JobState::kLinkLost, "MSG_UPGRADE_LINK_LOST"},
                        Want{&stalled, JobState::kTimedOut, "MSG_UPGRADE_TIMED_OUT"},
                        Want{&refused, JobState::kLinkLost, "MSG_UPGRADE_LINK_LOST"}}) {
    SCOPED_TRACE(w.row->m_searchInfo.serialNumber);
    EXPECT_EQ(actions.Jobs().Find(w.row->m_loginHandle)->state, w.state);
    EXPECT_FALSE(w.row->m_busy);
    EXPECT_EQ(rows.Status(*w.row), w.text);
  }
  actions.OnUpgradeRunEnded();
  ASSERT_EQ(window.summaries.size(), 1u);
  EXPECT_EQ(window.summaries[0].done, 1);
  EXPECT_EQ(window.summaries[0].failed, 4);
  // The failed devices by the address they had and their serial, with why.
  using F = RunSummary::Failure;
  EXPECT_EQ(window.summaries[0].failures,
            (std::vector<F>{{"10.77.1.2", "B", JobState::kFailed},
                            {"10.77.1.3", "C", JobState::kLinkLost},
                            {"10.77.1.4", "D", JobState::kTimedOut},
                            {"10.77.1.5", "E", JobState::kLinkLost}}));
}

TEST(UpgradeSummary, NamesTheFailedDevicesUpToALimit) {
  const auto keys = [](const char* key) {
    return std::string(key) == "MSG_UPGRADE_SUMMARY" ? std::string("Upgrade finished: %d done, %d failed") : key;
  };
  RunSummary s;
  s.done = 3;
  EXPECT_EQ(RunSummaryText(s, keys), "Upgrade finished: 3 done, 0 failed");
  s.failed = 3;
  s.failures = {{"10.0.0.7", "SN7", JobState::kFailed},
                {"10.0.0.8", "SN8", JobState::kTimedOut},
                {"10.0.0.9", "SN9", JobState::kLinkLost}};
  EXPECT_EQ(RunSummaryText(s, keys),
            "Upgrade finished: 3 done, 3 failed\n10.0.0.7  SN7  MSGTIP7\n10.0.0.8  SN8  MSG_UPGRADE_TIMED_OUT\n"
            "10.0.0.9  SN9  MSG_UPGRADE_LINK_LOST");
  EXPECT_EQ(RunSummaryText(s, keys, 1), "Upgrade finished: 3 done, 3 failed\n10.0.0.7  SN7  MSGTIP7\n... +2");
  // A language text without the "%d" is shown as it is, never used as a format.
  EXPECT_EQ(RunSummaryText(s, [](const char*) { return std::string("%s%n"); }, 0), "%s%n\n... +3");
}

TEST_F(Actions, AutomaticUpgradeOnLoginRunsOncePerDeviceAndImage) {
  auto& a = rows.Add("A", "X");
  auto& b = rows.Add("B", "X");
  auto& unchecked = rows.Add("C", "X", true, false);
  window.auto_actions = true;
  window.fields[ctl::kFirmwareFile] = good;
  actions.OnLogin(a.m_loginHandle);
  actions.OnLogin(b.m_loginHandle);
  actions.OnLogin(unchecked.m_loginHandle);
  ASSERT_EQ(sdk.upgrades.size(), 2u);
  EXPECT_FALSE(window.busy) << "automatic upgrades start no run";
  // A login while its upgrade runs starts nothing.
  actions.OnLogin(a.m_loginHandle);
  EXPECT_EQ(sdk.upgrades.size(), 2u);
  // One succeeds (the device reboots and logs in again), one fails: neither
  // is upgraded with the same image again.
  actions.OnStatusEvent(a.m_loginHandle, event::kUploadDone, "<RESPONSE_PARAM Kind=\"2\" />");
  actions.OnStatusEvent(b.m_loginHandle, event::kUploadFailed, "<RESPONSE_PARAM Error=\"x\" Kind=\"2\" />");
  actions.OnLogin(a.m_loginHandle);
  actions.OnLogin(b.m_loginHandle);
  EXPECT_EQ(sdk.upgrades.size(), 2u);
  // A new image is a new upgrade.
  test::WriteFile(dir / "newer.bin", test::BuildImage("V3", 5000));
  window.fields[ctl::kFirmwareFile] = (dir / "newer.bin").string();
  actions.OnLogin(a.m_loginHandle);
  EXPECT_EQ(sdk.upgrades.size(), 3u);
  // With a configuration file named, login uploads that instead.
  window.fields[ctl::kConfigFile] = "/cfg.xml";
  actions.OnLogin(b.m_loginHandle);
  EXPECT_EQ(sdk.upgrades.size(), 3u);
}

TEST_F(Actions, FolderUpgradePicksEachModelsImage) {
  test::WriteFile(dir / "firmware_X5_AF_v1.bin", test::BuildImage("X5_AF_v1"));
  test::WriteFile(dir / "firmware_X5_v2.bin", test::BuildImage("X5_v2"));
  auto& af = rows.Add("A", "DAV-ODUVE-X5_AF");
  auto& x5 = rows.Add("B", "DAV-ODUVE-X5");
  auto& none = rows.Add("C", "DAV-ODUVE-Q9");
  auto& noversion = rows.Add("D", "DAV-ODUVE-X5");
  noversion.m_loginVersion.clear();
  window.fields[ctl::kFirmwareFolder] = dir.string();
  actions.OnUpgradeByFolder();
  ASSERT_EQ(sdk.upgrades.size(), 2u);
  EXPECT_EQ(fs::path(sdk.upgrades[0].second).filename(), "firmware_X5_AF_v1.bin");
  EXPECT_EQ(sdk.upgrades[0].first, af.m_loginHandle);
  EXPECT_EQ(sdk.upgrades[1].first, x5.m_loginHandle);
  EXPECT_EQ(rows.Status(none), "MSGTIP27");
  EXPECT_EQ(rows.Status(noversion), "MSGTIP28");
}

TEST_F(Actions, DroppedItemsFillOneField) {
  test::WriteFile(dir / "c.xml", "<x/>");
  const std::vector<std::pair<std::vector<std::string>, std::pair<int, std::string>>> cases = {
      {{dir.string(), good}, {ctl::kFirmwareFolder, dir.string()}},
      {{good, (dir / "c.xml").string()}, {ctl::kFirmwareFile, good}},
      {{(dir / "c.xml").string()}, {ctl::kConfigFile, (dir / "c.xml").string()}},
  };
  for (const auto& [drop, want] : cases) {
    window.fields.clear();
    actions.OnDropFiles(drop);
    EXPECT_EQ(window.fields.size(), 1u);
    EXPECT_EQ(window.fields[want.first], want.second);
  }
  window.fields.clear();
  actions.OnDropFiles({"/x/readme.txt"});
  EXPECT_TRUE(window.fields.empty());
}

TEST_F(Actions, BrowsersFillTheirFieldsAndSaveTheSetting) {
  window.answers = {"/f/image.bin", "/f/cfg.xml"};
  actions.OnCommand(ctl::kBrowseFirmwareFile);
  actions.OnCommand(ctl::kBrowseConfigFile);
  EXPECT_EQ(window.requests[0].filter, "File(*.bin)|*.bin|All Files(*.*)|*.*||");
  EXPECT_EQ(window.fields[ctl::kFirmwareFile], "/f/image.bin");
  EXPECT_EQ(window.saved[PathSetting::kUpgradeFile], "/f/image.bin");
  EXPECT_EQ(window.fields[ctl::kConfigFile], "/f/cfg.xml");
  EXPECT_EQ(window.saved[PathSetting::kUploadConfigFile], "/f/cfg.xml");
  window.folder_answer = "/f";
  actions.OnCommand(ctl::kBrowseFirmwareFolder);
  EXPECT_EQ(window.folder_titles.back(), "TEXT22");
  EXPECT_EQ(window.saved[PathSetting::kUpgradeFolder], "/f");
}

// --- files sent to devices ---

const char kDefaultConfig[] =
    "<SOLVENConfig><RecordConfig/><ServerConfig/><SystemConfig A=\"1\"/><NetworkConfig/><MediaConfig/>"
    "<MediaStreamConfig/><AlarmConfig/></SOLVENConfig>";

TEST_F(Actions, DefaultConfigurationGoesOncePerDeviceUntilItIsDone) {
  auto& cam = rows.Add("A", "DAV-ODUVE-X5");
  auto& other = rows.Add("B", "NVS-IPC-5M", true, false);
  test::WriteFile(dir / "config_a.xml", kDefaultConfig);
  test::WriteFile(dir / "config_bad.xml", "<SOLVENConfig><RecordConfig/></SOLVENConfig>");
  window.answers = {(dir / "config_bad.xml").string()};
  actions.OnCommand(ctl::kChooseDefaultConfig);
  EXPECT_EQ(window.boxes.back(), "STR_XML_ERROR");
  EXPECT_TRUE(window.fields[ctl::kDefaultConfig].empty());

  window.answers = {(dir / "config_a.xml").string()};
  actions.OnCommand(ctl::kChooseDefaultConfig);
  // Every row gets it when the file is chosen, checked or not.
  ASSERT_EQ(workers.uploads.size(), 2u);
  const fs::path sent = workers.uploads[0].second;
  EXPECT_EQ(sent.filename(), "config.defaut.xml");
  const std::string text = Read(sent);
  EXPECT_NE(text.find("<SOLVENConfig SET_OEM_DEFAULT_CONFIG=\"1\">"), std::string::npos) << text;
  EXPECT_NE(text.find("\n\t<SystemConfig A=\"1\" />"), std::string::npos) << text;
  // On login only the DAV-ODUVE camera, and only until the device reported it done.
  actions.OnLogin(other.m_loginHandle);
  EXPECT_EQ(workers.uploads.size(), 2u);
  actions.OnLogin(cam.m_loginHandle);
  EXPECT_EQ(workers.uploads.size(), 3u) << "state 1: sent again";
  actions.OnStatusEvent(cam.m_loginHandle, event::kUploadDone, "<RESPONSE_PARAM Kind=\"1\" />");
  EXPECT_EQ(actions.DefaultConfigs().State("A"), 2);
  actions.OnLogin(cam.m_loginHandle);
  EXPECT_EQ(workers.uploads.size(), 3u);
  // A firmware upload's end does not count as the configuration's.
  actions.OnStatusEvent(other.m_loginHandle, event::kUploadDone, "<RESPONSE_PARAM Kind=\"2\" />");
  EXPECT_EQ(actions.DefaultConfigs().State("B"), 1);
}

TEST_F(Actions, ModelNameFilesAndTheirExactBytes) {
  auto& a = rows.Add("A", "DAV-ODUVE-X5");
  rows.Add("B", "DAV-ODUVE-X5", true, false);
  window.fields[ctl::kModelName] = "   ";
  actions.OnCommand(ctl::kSetModelName);
  actions.OnCommand(ctl::kMakeModelFirmware);
  EXPECT_EQ(window.boxes, (std::vector<std::string>{"BATCH_EMPTY_DEVICETYPE", "BATCH_EMPTY_DEVICETYPE"}));
  window.fields[ctl::kModelName] = "  X1 \t";
  actions.OnCommand(ctl::kSetModelName);
  ASSERT_EQ(workers.uploads.size(), 1u);
  EXPECT_EQ(workers.uploads[0].first, 0);
  EXPECT_EQ(fs::path(workers.uploads[0].second).filename(), "devicetype.oem");
  EXPECT_EQ(Read(workers.uploads[0].second), "SET_OEM_DEVTYPE_FLAG=X1");
  actions.OnCommand(ctl::kClearModelName);
  EXPECT_EQ(Read(workers.uploads[1].second), "DEL_OEM_DEVTYPE_FLAG=");

  // Event 24: only when the device's current type lacks the name.
  window.records["A"].deviceType = "DAV-ODUVE-X5";
  actions.OnStatusEvent(a.m_loginHandle, event::kModelNameRequest, "");
  ASSERT_EQ(workers.record_uploads.size(), 1u);
  EXPECT_EQ(Read(workers.record_uploads[0].second), "SET_OEM_DEVTYPE_FLAG=X1");
  window.records["A"].deviceType = "DAV-ODUVE-X1";
  actions.OnStatusEvent(a.m_loginHandle, event::kModelNameRequest, "");
  EXPECT_EQ(workers.record_uploads.size(), 1u);
  a.checked = false;
  window.boxes.clear();
  actions.OnCommand(ctl::kClearModelName);
  EXPECT_EQ(window.boxes, (std::vector<std::string>{"MSGTIP13"}));
}

TEST_F(Actions, BuiltFilesLieInAPrivateFolder) {
  const fs::path folder = DeviceFileFolder();
  ASSERT_FALSE(folder.empty());
  struct stat st {};
  ASSERT_EQ(lstat(folder.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(st.st_uid, geteuid());
  EXPECT_EQ(WriteDeviceTypeFile("Q").parent_path(), folder);
  // Removed under our feet: a fresh one is made.
  fs::remove_all(folder);
  const fs::path again = DeviceFileFolder();
  EXPECT_TRUE(fs::is_directory(again));
}

TEST_F(Actions, OemApplicationFilesAndCloudIdentityFiles) {
  auto& a = rows.Add("A/../x", "DAV-ODUVE-X5");
  a.m_searchInfo.p2pId = "P2P:1";
  test::WriteFile(dir / "day.bin", "isp-day");
  test::WriteFile(dir / "m.tar.gz", "model");
  // Nothing selected: nothing happens.
  actions.OnCommand(33015);
  EXPECT_TRUE(window.requests.empty());
  window.selected = 0;
  window.answers = {(dir / "day.bin").string(), (dir / "m.tar.gz").string(), ""};
  actions.OnCommand(33015);
  actions.OnCommand(kMenuFaceModel);
  actions.OnCommand(33100);  // cancelled
  EXPECT_EQ(window.requests[0].filter, "ISP bin Files(*.bin)|*.bin|All Files(*.*)|*.*||");
  EXPECT_EQ(window.requests[2].default_ext, "*.conf");
  ASSERT_EQ(sdk.oem.size(), 2u);
  EXPECT_EQ(fs::path(sdk.oem[0].second).filename(), "ispdaybin_day.bin");
  EXPECT_EQ(fs::path(sdk.oem[1].second).filename(), "ali_face_aa.tgzm.tar.gz");
  EXPECT_EQ(Read(sdk.oem[0].second), "isp-day");
  EXPECT_EQ(fs::path(sdk.oem[0].second).parent_path(), DeviceFileFolder());

  actions.OnCommand(33378);
  actions.OnCommand(33379);
  ASSERT_EQ(workers.device_files.size(), 2u);
  // The serial and P2P id become a name through the path sanitiser.
  EXPECT_EQ(workers.device_files[0].second,
            "/mnt/nand/danale.conf -> " + (GetShellFolderPath(5) / "A_.._x_P2P_1.conf").string());
  EXPECT_NE(workers.device_files[1].second.find("/mnt/nand/dorvanex.txt -> "), std::string::npos);
  EXPECT_NE(workers.device_files[1].second.find("A_.._x_P2P_1.cws"), std::string::npos);
}

TEST_F(Actions, ConfigurationUploadAndDownloadGoToCheckedRows) {
  rows.Add("A", "X");
  rows.Add("B", "X", true, false);
  rows.Add("C", "X");
  window.fields[ctl::kConfigFile] = "/cfg.xml";
  actions.OnCommand(ctl::kUploadConfig);
  actions.OnCommand(ctl::kDownloadConfig);
  EXPECT_EQ(workers.uploads, (std::vector<std::pair<int, std::string>>{{0, "/cfg.xml"}, {2, "/cfg.xml"}}));
  EXPECT_EQ(workers.downloads, (std::vector<int>{0, 2}));
  for (std::size_t i = 0; i < rows.rows.Count(); ++i) rows.rows.At(i).checked = false;
  actions.OnCommand(ctl::kUploadConfig);
  actions.OnCommand(ctl::kDownloadConfig);
  EXPECT_EQ(window.boxes, (std::vector<std::string>{"MSGTIP25", "MSGTIP26"}));
}

}  // namespace
}  // namespace kelvara::firmware
