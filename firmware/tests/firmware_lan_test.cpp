// Upgrades and file transfers end to end in the test LAN: Kelvara's handlers
// and the device SDK on the PC side, devsim's devices on the LAN side.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <VaRurOvoDiv/zq_netsdk_ipc.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "firmware/core/device_files.h"
#include "firmware/tests/image_builder.h"
#include "firmware/tests/upgrade_harness.h"
#include "kelvara_test/test_env.h"
#include "kelvara_test/test_lan.h"

namespace kelvara::firmware {
namespace {

namespace fs = std::filesystem;
using kelvara::test::LanSide;
using kelvara::test::TestLan;
using kelvara::test::TestLanOptions;
using namespace std::chrono_literals;

void SetTime(const fs::path& p, std::int64_t t) {
  struct timespec times[2] = {{t, 0}, {t, 0}};
  utimensat(AT_FDCWD, p.c_str(), times, 0);
}

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class FirmwareLan : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Short SDK limits: a stalled transfer gives up in well under a second.
    setenv("VARUROVODIV_TRANSFER_TIMEOUT_MS", "800", 1);
    setenv("VARUROVODIV_RECONNECT_MS", "200", 1);
    setenv("VARUROVODIV_CONNECT_TIMEOUT_MS", "1000", 1);
  }
  // Devices of the given types at LanAddress(0...), in the LAN namespace.
  void StartDevices(TestLan& lan, const std::vector<std::string>& types) {
    devsim::SimConfig c;
    c.discovery_port = 0;
    devsim::DeviceConfig templ;
    templ.reboot_ms = 300;
    templ.upgrade_ms = 100;
    templ.fs_version = "V1_old";
    ASSERT_EQ(devsim::GenerateDevices(templ, static_cast<int>(types.size()), TestLan::LanAddress(0), "FW",
                                      c.devices),
              "");
    for (std::size_t i = 0; i < types.size(); ++i) c.devices[i].device_type = types[i];
    sim_ = std::make_unique<devsim::Simulator>(c);
    ASSERT_EQ(lan.CallInThread(LanSide::kLan, [&] { return sim_->Start(); }), "");
  }
  void TearDown() override {
    if (sim_) sim_->Stop();
  }
  std::unique_ptr<devsim::Simulator> sim_;
};

TEST_F(FirmwareLan, FolderUpgradeOfTwentyDevicesOfThreeModels) {
  KELVARA_TEST_LAN_OR_SKIP(lan, (TestLanOptions{.lan_addresses = 20}));
  std::vector<std::string> types;
  for (int i = 0; i < 20; ++i) types.push_back(i % 3 == 0 ? "NVS-NVR-X5" : i % 3 == 1 ? "NVS-NVR-X5_AF" : "NVS-NVR-Y7");
  StartDevices(*lan, types);
  // The images: per model the newest wins; X5 devices may take _AF images too
  // but the newest X5 one is newer.
  const fs::path folder = kelvara::test::MakeTempDir("folder");
  struct Image {
    const char* name;
    const char* version;
    std::int64_t time;
  };
  const Image images[] = {{"firmware_X5_v1.bin", "X5_v1", 1000},     {"firmware_X5_v2.bin", "X5_v2", 3000},
                          {"firmware_X5_AF_v0.bin", "X5AF_v0", 1000}, {"firmware_X5_AF_v1.bin", "X5AF_v1", 2000},
                          {"firmware_Y7_v3.bin", "Y7_v3", 1000}};
  std::map<std::string, std::string> bytes_of;  // version -> image
  unsigned seed = 1;
  for (const Image& im : images) {
    bytes_of[im.version] = test::BuildImage(im.version, 200000, seed++);
    test::WriteFile(folder / im.name, bytes_of[im.version]);
    SetTime(folder / im.name, im.time);
  }
  const auto want_version = [&](int i) { return i % 3 == 0 ? "X5_v2" : i % 3 == 1 ? "X5AF_v1" : "Y7_v3"; };
  // One device fails mid-transfer, one stalls, one resets after a good image.
  constexpr int kDrops = 3, kStalls = 10, kResets = 17;
  sim_->Control("fault " + std::to_string(kDrops) + " drop_after_bytes 70000");
  sim_->Control("fault " + std::to_string(kStalls) + " stall_after_bytes 70000");
  sim_->Control("fault " + std::to_string(kResets) + " reset_at_end 1");

  lan->CallInThread(LanSide::kPc, [&] {
    test::UpgradeHarness h(*sim_);
    ASSERT_TRUE(h.LoginAll(10s));
    h.window.fields[ctl::kFirmwareFolder] = folder.string();
    h.actions->OnUpgradeByFolder();
    EXPECT_TRUE(h.window.busy);
    EXPECT_EQ(h.window.watch_starts, 1);
    ASSERT_TRUE(h.FinishRun(60s));
    h.actions->OnUpgradeRunEnded();
    ASSERT_EQ(h.window.summaries.size(), 1u);
    EXPECT_EQ(h.window.summaries[0].done, 17);
    EXPECT_EQ(h.window.summaries[0].failed, 3);
    // The summary names the three failed devices by their address and serial.
    std::set<std::string> failed, want;
    for (const RunSummary::Failure& f : h.window.summaries[0].failures) failed.insert(f.address + " " + f.serial);
    for (int d : {kDrops, kStalls, kResets})
      want.insert(TestLan::LanAddress(d) + " " + sim_->device(d).serial());
    EXPECT_EQ(failed, want);

    for (int i = 0; i < 20; ++i) {
      SCOPED_TRACE(i);
      discovery::DeviceListRow& row = h.Row(i);
      const UpgradeJob* job = h.actions->Jobs().Find(row.m_loginHandle);
      ASSERT_NE(job, nullptr);
      const JobState want = i == kDrops ? JobState::kLinkLost
                            : i == kStalls ? JobState::kTimedOut
                            : i == kResets ? JobState::kLinkLost
                                           : JobState::kDone;
      EXPECT_EQ(job->state, want) << JobStateName(job->state);
      EXPECT_FALSE(row.m_busy);
      // Progress texts came between the start and the end.
      const auto history = h.StatusHistory(i);
      const auto started = std::find(history.begin(), history.end(), "MSGTIP29");
      ASSERT_NE(started, history.end());
      if (want == JobState::kDone) {
        // Progress events carry no percentage: each one reads the current
        // figure, so a busy machine may coalesce them into fewer texts (or
        // skip a figure); at least one progress text must show.
        const auto progress = std::find_if(started, history.end(), [](const std::string& s) {
          return s.size() == std::string("UPLOAD: 00%").size() && s.starts_with("UPLOAD: ") && s.ends_with("%");
        });
        EXPECT_NE(progress, history.end());
        EXPECT_NE(std::find(progress, history.end(), "MSG_UPGRADE"), history.end());
      }
      // The device received exactly the image of its model, whole, or nothing.
      const std::string& image = bytes_of[want_version(i)];
      const auto files = h.ReceivedFiles(i);
      if (i == kDrops || i == kStalls) {
        EXPECT_TRUE(files.empty());
        EXPECT_EQ(sim_->device(i).config().fs_version, "V1_old");
      } else {
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(files[0], "kind=2 size=" + std::to_string(image.size()) + " sha256=" + test::Sha256Hex(image) +
                                " name=" +
                                (i % 3 == 0   ? "firmware_X5_v2.bin"
                                 : i % 3 == 1 ? "firmware_X5_AF_v1.bin"
                                              : "firmware_Y7_v3.bin"));
        // It comes back with the image's version text.
        EXPECT_EQ(sim_->device(i).config().fs_version, want_version(i));
        EXPECT_EQ(sim_->device(i).config().version, want_version(i));
      }
    }
    // The image files were each read once for their check, whatever the batch.
    EXPECT_EQ(h.actions->ImageChecks().reads(), 3);

    // The rebooted devices log in again; the version query of the login steps
    // brings the image's version text into the row.
    const int version_column = h.columns.GetColumnIndex(discovery::kColVersion);
    EXPECT_TRUE(h.PumpUntil([&] { return h.view.Cell(&h.Row(0), version_column) == "X5_v2"; }, 10s))
        << h.view.Cell(&h.Row(0), version_column);
  });
}

TEST_F(FirmwareLan, DevicesRefuseBadImagesAndAutomaticUpgradeRunsOnce) {
  KELVARA_TEST_LAN_OR_SKIP(lan, (TestLanOptions{.lan_addresses = 3}));
  StartDevices(*lan, {"NVS-NVR-X5", "NVS-NVR-X5", "NVS-NVR-X5"});
  const fs::path dir = kelvara::test::MakeTempDir("auto");
  const std::string good = test::BuildImage("X5_auto", 100000);
  test::WriteFile(dir / "good.bin", good);
  std::string bad = good;
  bad[kFirmwareHeaderSize + 50000] ^= 0x40;
  test::WriteFile(dir / "bad.bin", bad);

  lan->CallInThread(LanSide::kPc, [&] {
    test::UpgradeHarness h(*sim_);
    ASSERT_TRUE(h.LoginAll(10s));
    // Kelvara never sends the bad image; a device sent it directly refuses it.
    ASSERT_EQ(ZQ_NETSDK_IPC_Upgrade(h.Row(2).m_loginHandle, (dir / "bad.bin").c_str()), 0);
    ASSERT_TRUE(h.PumpUntil(
        [&] {
          for (const auto& e : h.seen)
            if (e.loginHandle == h.Row(2).m_loginHandle && e.eventType == STATUS_EVENT_UPLOAD_FAILED) return true;
          return false;
        },
        10s));
    EXPECT_NE(sim_->Control("state 2").find("refused_images=1"), std::string::npos);
    EXPECT_EQ(sim_->device(2).config().fs_version, "V1_old");

    // Automatic upgrade on login: devices 0 and 1 are checked, 1 fails mid-transfer.
    h.Row(2).checked = false;
    sim_->Control("fault 1 drop_after_bytes 30000");
    h.window.auto_actions = true;
    h.window.fields[ctl::kFirmwareFile] = (dir / "good.bin").string();
    sim_->Control("drop 0");
    sim_->Control("drop 1");
    sim_->Control("drop 2");
    // Every device logs in again (after the drop, and 0 after its reboot).
    ASSERT_TRUE(h.PumpUntil(
        [&] {
          const UpgradeJob* a = h.actions->Jobs().Find(h.Row(0).m_loginHandle);
          const UpgradeJob* b = h.actions->Jobs().Find(h.Row(1).m_loginHandle);
          return a && b && IsTerminal(a->state) && IsTerminal(b->state) && h.Row(0).m_online && h.Row(1).m_online;
        },
        20s));
    EXPECT_EQ(h.actions->Jobs().Find(h.Row(0).m_loginHandle)->state, JobState::kDone);
    EXPECT_EQ(h.actions->Jobs().Find(h.Row(1).m_loginHandle)->state, JobState::kLinkLost);
    // More logins (the rebooted device's, further drops) start nothing again.
    sim_->Control("fault 1 clear 0");
    for (int round = 0; round < 2; ++round) {
      sim_->Control("drop 0");
      sim_->Control("drop 1");
      const std::size_t before = h.seen.size();
      ASSERT_TRUE(h.PumpUntil(
          [&] {
            int logins = 0;
            for (std::size_t k = before; k < h.seen.size(); ++k) logins += h.seen[k].eventType == STATUS_EVENT_LOGIN_OK;
            return logins >= 2;
          },
          10s));
    }
    EXPECT_NE(sim_->Control("state 0").find(" upgrades=1 "), std::string::npos) << sim_->Control("state 0");
    EXPECT_NE(sim_->Control("state 1").find(" upgrades=0 "), std::string::npos);
    EXPECT_EQ(h.ReceivedFiles(0).size(), 1u);
    EXPECT_TRUE(h.ReceivedFiles(1).empty());
    // The refused image was received whole (and journaled), never written.
    ASSERT_EQ(h.ReceivedFiles(2).size(), 1u);
    EXPECT_NE(h.ReceivedFiles(2)[0].find("sha256=" + test::Sha256Hex(bad)), std::string::npos);
  });
}

// Images as met in the field (padding, a signature trailer, parts aligned or
// reordered, a newer flag bit, an absent part's CRC left set, another maker's
// magic) are sent by the upgrade button and taken by the device; only an
// image that is certainly broken is kept back, with the reason, and reaches
// no device.
TEST_F(FirmwareLan, UpgradeSendsEveryImageTheCheckAcceptsAndKeepsBackBrokenOnes) {
  const fs::path dir = kelvara::test::MakeTempDir("field");
  const std::string cmd = "python3 '" + (kelvara::test::SourceDir() / "firmware/tests/make_images.py").string() +
                          "' '" + dir.string() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  struct Sent {
    const char* name;
    const char* version;
  };
  const std::vector<Sent> sent = {
      {"padded_4k.bin", "V9_full"},      {"padded_4k_total.bin", "V9_full"}, {"signature_trailer.bin", "V9_full"},
      {"aligned_4k.bin", "V9_full"},     {"unknown_flag.bin", "V9_flag"},    {"absent_crc_set.bin", "V9_two"},
      {"other_magic.bin", "V9_full"},    {"out_of_order.bin", "V9_full"},    {"overlap.bin", "V9_full"}};
  const std::vector<std::pair<const char*, HeaderError>> kept = {{"bad_crc.bin", HeaderError::kCrc},
                                                                 {"truncated.bin", HeaderError::kTruncated},
                                                                 {"bad_part_crc.bin", HeaderError::kPartCrc},
                                                                 {"aligned_wrong_crc.bin", HeaderError::kPartCrc}};
  KELVARA_TEST_LAN_OR_SKIP(lan, (TestLanOptions{.lan_addresses = static_cast<int>(sent.size())}));
  StartDevices(*lan, std::vector<std::string>(sent.size(), "NVS-NVR-X5"));

  lan->CallInThread(LanSide::kPc, [&] {
    test::UpgradeHarness h(*sim_);
    ASSERT_TRUE(h.LoginAll(10s));
    for (std::size_t i = 0; i < sent.size(); ++i) {
      SCOPED_TRACE(sent[i].name);
      for (std::size_t k = 0; k < sent.size(); ++k) h.Row(static_cast<int>(k)).checked = k == i;
      h.window.fields[ctl::kFirmwareFile] = (dir / sent[i].name).string();
      h.actions->OnUpgradeByFile();
      EXPECT_TRUE(h.window.boxes.empty()) << h.window.boxes.back();
      ASSERT_TRUE(h.FinishRun(20s));
      h.window.busy = false;  // the watch timer's end of the run
      const UpgradeJob* job = h.actions->Jobs().Find(h.Row(static_cast<int>(i)).m_loginHandle);
      ASSERT_NE(job, nullptr);
      EXPECT_EQ(job->state, JobState::kDone) << JobStateName(job->state);
      // The device received the very file, whole, and took it.
      const std::string bytes = Read(dir / sent[i].name);
      const auto files = h.ReceivedFiles(static_cast<int>(i));
      ASSERT_EQ(files.size(), 1u);
      EXPECT_EQ(files[0], "kind=2 size=" + std::to_string(bytes.size()) + " sha256=" + test::Sha256Hex(bytes) +
                              " name=" + sent[i].name);
      EXPECT_EQ(sim_->device(static_cast<int>(i)).config().fs_version, sent[i].version);
    }
    for (const auto& [name, error] : kept) {
      SCOPED_TRACE(name);
      for (std::size_t k = 0; k < sent.size(); ++k) h.Row(static_cast<int>(k)).checked = true;
      h.window.boxes.clear();
      h.window.fields[ctl::kFirmwareFile] = (dir / name).string();
      h.actions->OnUpgradeByFile();
      EXPECT_EQ(h.window.boxes, std::vector<std::string>{std::string("MSG_FIRMWARE_REFUSED: ") + HeaderErrorText(error)});
      EXPECT_FALSE(h.window.busy);
    }
    h.PumpUntil([] { return false; }, 300ms);
    for (std::size_t k = 0; k < sent.size(); ++k) EXPECT_EQ(h.ReceivedFiles(static_cast<int>(k)).size(), 1u) << k;
  });
}

// The words of the README's first line holding `marker`, after it, up to a
// "#" comment.
std::vector<std::string> ReadmeWordsAfter(const std::string& marker) {
  std::ifstream in(kelvara::test::SourceDir() / "README.md");
  for (std::string line; std::getline(in, line);) {
    const auto at = line.find(marker);
    if (at == std::string::npos) continue;
    std::istringstream words(line.substr(at + marker.size()));
    std::vector<std::string> out;
    for (std::string w; words >> w && w[0] != '#';) out.push_back(w);
    return out;
  }
  return {};
}

// The README's fwimage command, run as written (into a folder of the test),
// makes an image that upgrades devices of the README's devsim type by file
// and by folder: the model's image is found by its name, and the devices come
// back with the version text given to the tool.
TEST_F(FirmwareLan, TheReadmesFwimageImageUpgradesByFileAndByFolder) {
  std::vector<std::string> make = ReadmeWordsAfter("build/bin/fwimage make ");
  ASSERT_GE(make.size(), 3u) << "README.md has no fwimage make command";
  std::string device_type;
  for (const std::string& w : ReadmeWordsAfter("build/bin/devsim"))
    if (w.starts_with("device_type=")) device_type = w.substr(12);
  ASSERT_FALSE(device_type.empty()) << "README.md's devsim command sets no device_type";
  const auto version_at = std::find(make.begin(), make.end(), "--version");
  ASSERT_TRUE(version_at != make.end() && version_at + 1 != make.end());
  const std::string version = *(version_at + 1);
  EXPECT_NE(version.find(device_type), std::string::npos) << "a recovery would not offer it to the devices";

  const fs::path dir = kelvara::test::MakeTempDir("fwimage");
  const std::string name = fs::path(make[0]).filename().string();
  make[0] = (dir / name).string();
  std::string cmd = "'" + (kelvara::test::BinDir() / "fwimage").string() + "' make";
  for (const std::string& w : make) cmd += " '" + w + "'";
  ASSERT_EQ(std::system((cmd + " >/dev/null").c_str()), 0) << cmd;
  KELVARA_TEST_LAN_OR_SKIP(lan, (TestLanOptions{.lan_addresses = 2}));
  StartDevices(*lan, {device_type, device_type});
  const std::string image = Read(dir / name);
  lan->CallInThread(LanSide::kPc, [&] {
    test::UpgradeHarness h(*sim_);
    ASSERT_TRUE(h.LoginAll(10s));
    h.Row(1).checked = false;
    h.window.fields[ctl::kFirmwareFile] = (dir / name).string();
    h.actions->OnUpgradeByFile();
    ASSERT_TRUE(h.FinishRun(20s));
    h.window.busy = false;
    h.Row(0).checked = false;
    h.Row(1).checked = true;
    h.window.fields[ctl::kFirmwareFolder] = dir.string();
    h.actions->OnUpgradeByFolder();
    ASSERT_TRUE(h.FinishRun(20s));
    for (int i = 0; i < 2; ++i) {
      SCOPED_TRACE(i);
      const UpgradeJob* job = h.actions->Jobs().Find(h.Row(i).m_loginHandle);
      ASSERT_NE(job, nullptr);
      EXPECT_EQ(job->state, JobState::kDone) << JobStateName(job->state);
      EXPECT_EQ(h.ReceivedFiles(i), std::vector<std::string>{"kind=2 size=" + std::to_string(image.size()) +
                                                             " sha256=" + test::Sha256Hex(image) + " name=" + name});
      EXPECT_EQ(sim_->device(i).config().version, version);
    }
  });
}

TEST_F(FirmwareLan, ConfigurationRoundTripDefaultConfigurationAndModelName) {
  KELVARA_TEST_LAN_OR_SKIP(lan, (TestLanOptions{.lan_addresses = 3}));
  StartDevices(*lan, {"DAV-ODUVE-NVR-1", "DAV-ODUVE-NVR-1", "NVS-NVR-X5"});
  const fs::path dir = kelvara::test::MakeTempDir("cfg");
  lan->CallInThread(LanSide::kPc, [&] {
    test::UpgradeHarness h(*sim_);
    ASSERT_TRUE(h.LoginAll(10s));
    const auto count_events = [&](int type, int device) {
      int n = 0;
      for (const auto& e : h.seen) n += e.eventType == type && e.loginHandle == h.Row(device).m_loginHandle;
      return n;
    };
    // Download the configuration of device 0, send the very file back.
    for (int i = 1; i < 3; ++i) h.Row(i).checked = false;
    h.actions->OnBatchDownloadConfig();
    ASSERT_TRUE(h.PumpUntil([&] { return count_events(STATUS_EVENT_DOWNLOAD_DONE, 0) == 1; }, 10s));
    fs::path downloaded;
    for (const auto& e : h.seen)
      if (e.eventType == STATUS_EVENT_DOWNLOAD_DONE) {
        const auto at = e.data.find("LocalFileName=\"") + 15;
        downloaded = e.data.substr(at, e.data.find('"', at) - at);
      }
    const std::string config = Read(downloaded);
    ASSERT_NE(config.find("<DEVICE_CONFIG"), std::string::npos);
    h.window.fields[ctl::kConfigFile] = downloaded.string();
    h.actions->OnUploadConfig();
    ASSERT_TRUE(h.PumpUntil([&] { return count_events(STATUS_EVENT_UPLOAD_DONE, 0) == 1; }, 10s));
    ASSERT_EQ(h.ReceivedFiles(0).size(), 1u);
    EXPECT_EQ(h.ReceivedFiles(0)[0], "kind=1 size=" + std::to_string(config.size()) +
                                         " sha256=" + test::Sha256Hex(config) + " name=" +
                                         downloaded.filename().string());

    // The OEM default configuration: every device once when chosen; on later
    // logins only the DAV-ODUVE devices whose upload had not completed.
    test::WriteFile(dir / "config_oem.xml",
                    "<SOLVENConfig><RecordConfig/><ServerConfig/><SystemConfig/><NetworkConfig/><MediaConfig/>"
                    "<MediaStreamConfig/><AlarmConfig/></SOLVENConfig>");
    h.window.answers = {(dir / "config_oem.xml").string()};
    h.actions->OnChooseDefaultConfig();
    ASSERT_TRUE(h.PumpUntil([&] { return count_events(STATUS_EVENT_UPLOAD_DONE, 0) == 2 &&
                                         count_events(STATUS_EVENT_UPLOAD_DONE, 1) == 1 &&
                                         count_events(STATUS_EVENT_UPLOAD_DONE, 2) == 1; },
                            10s));
    for (int round = 0; round < 2; ++round) {
      for (int i = 0; i < 3; ++i) sim_->Control("drop " + std::to_string(i));
      const std::size_t before = h.seen.size();
      ASSERT_TRUE(h.PumpUntil(
          [&] {
            int logins = 0;
            for (std::size_t k = before; k < h.seen.size(); ++k) logins += h.seen[k].eventType == STATUS_EVENT_LOGIN_OK;
            return logins >= 3;
          },
          10s));
    }
    h.PumpUntil([] { return false; }, 300ms);
    const std::string defaults = OemDefaultConfigText(dir / "config_oem.xml");
    for (int i = 0; i < 3; ++i) {
      SCOPED_TRACE(i);
      int sent = 0;
      for (const auto& f : h.ReceivedFiles(i)) sent += f.find(" name=config.defaut.xml") != std::string::npos;
      EXPECT_EQ(sent, 1);
      EXPECT_EQ(h.actions->DefaultConfigs().State(sim_->device(i).serial()), 2);
    }
    EXPECT_NE(h.ReceivedFiles(1).back().find("sha256=" + test::Sha256Hex(defaults)), std::string::npos);

    // The custom model name: the file's exact bytes reach the checked devices.
    h.Row(1).checked = true;
    h.window.fields[ctl::kModelName] = " X1 ";
    h.actions->OnSetOemDeviceType();
    ASSERT_TRUE(h.PumpUntil([&] { return count_events(STATUS_EVENT_UPLOAD_DONE, 1) == 2; }, 10s));
    const std::string model = "SET_OEM_DEVTYPE_FLAG=X1";
    EXPECT_EQ(h.ReceivedFiles(1).back(), "kind=1 size=" + std::to_string(model.size()) +
                                             " sha256=" + test::Sha256Hex(model) + " name=devicetype.oem");
    // Event 24 from a device whose type lacks the name: the name goes to it alone.
    h.window.records[sim_->device(2).serial()].deviceType = "NVS-NVR-X5";
    sim_->Control("event 2 24");
    ASSERT_TRUE(h.PumpUntil([&] { return count_events(STATUS_EVENT_UPLOAD_DONE, 2) == 2; }, 10s));
    EXPECT_NE(h.ReceivedFiles(2).back().find("name=devicetype.oem"), std::string::npos);
  });
}

}  // namespace
}  // namespace kelvara::firmware
