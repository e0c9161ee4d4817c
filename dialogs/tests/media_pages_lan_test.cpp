// The media pages end to end in the test LAN: three simulated devices behind
// the real SDK. The page's Save gives one text; the window sends it to every
// checked row; only logged-in devices receive it, once and byte for byte;
// a device that refuses the login or was never logged in gets nothing and
// its row shows no new state. Faults of one device show in its own row.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <gtest/gtest.h>

#include <VaRurOvoDiv/zq_netsdk_ipc.h>

#include "device/core/command_codes.h"
#include "device/tests/devsim_fixture.h"
#include "discovery/tests/lan_fixture.h"
#include "dialogs/ui/dialog_media_code.h"
#include "dialogs/ui/dialog_media_light.h"
#include "dialogs/ui/dialog_media_vcapture.h"
#include "kelvara_test/test_env.h"

namespace kelvara::dialogs {
namespace {

using discovery::DeviceListRow;
using device::GET_CFG_VIDEO_CAPTURE;
using device::SET_CFG_VIDEO_CAPTURE;
using device::SET_CFG_VIDEO_ENCODE;
using discovery::test::LanFixture;
using Diff = std::map<std::string, std::pair<std::string, std::string>>;

class YesPrompts : public ui::UserPrompts {
 public:
  int MessageBox(QWidget*, const QString& text, const QString&, ui::PromptIcon, ui::PromptButtons buttons) override {
    messages.push_back(text);
    return buttons == ui::PromptButtons::kYesNo ? ui::kAnswerYes : ui::kAnswerOk;
  }
  QString OpenFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  QString SaveFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  QString FolderName(QWidget*, const QString&, const QString&) override { return {}; }
  std::vector<QString> messages;
};

int Scaled(int ms) { return device::test::DevsimCommands::Scaled(ms); }

// Three devices at <prefix>1 .. <prefix>3 in the LAN namespace; rows for all
// three, logged in as `login` says (true: log in; false: leave the row alone).
class LanDevices {
 public:
  LanDevices(const std::string& prefix, const std::vector<bool>& login, const std::vector<std::string>& faults) {
    setenv("VARUROVODIV_REPLY_TIMEOUT_MS", std::to_string(Scaled(1500)).c_str(), 1);
    setenv("VARUROVODIV_CONNECT_TIMEOUT_MS", std::to_string(Scaled(2000)).c_str(), 1);
    devsim::SimConfig config;
    config.stdin_control = false;
    config.discovery_port = 0;  // the rows are made here: nothing needs a search
    devsim::DeviceConfig templ;
    templ.reboot_ms = 100;
    error_ = devsim::GenerateDevices(templ, 3, prefix + "1", "LAN", config.devices);
    if (!error_.empty()) return;
    sim_ = std::make_unique<devsim::Simulator>(config);
    error_ = "not started";
    if (!LanFixture::RunInLan([&] { error_ = sim_->Start(); })) return;
    if (!error_.empty()) return;
    for (const auto& f : faults) sim_->Control(f);

    ZQ_NETSDK_IPC_Init();
    device::RegisterSdkCallbacks(&sink_);
    columns_.BuildColumnMap({});
    rows_ = std::make_unique<discovery::DeviceRows>(columns_, view_);
    device::DeviceCommands::Options o;
    o.sdk = &commandSdk_;
    o.lookup = [](const char* key) { return std::string(key); };
    o.documentsDir = [] { return kelvara::test::MakeTempDir("media-lan"); };
    commands_ = std::make_unique<device::DeviceCommands>(*rows_, o);
    replies_ = std::make_unique<device::AuxReplyHandler>(*commands_);
    events_ = std::make_unique<device::StatusEventHandler>(*commands_, *replies_);

    for (int i = 0; i < 3; ++i) {
      const devsim::DeviceConfig& c = sim_->device(i).config();
      DeviceSearchInfo d;
      d.serialNumber = c.serial;
      d.deviceType = c.device_type;
      d.uuid = "u" + std::to_string(i);
      d.lanConfig.ipAddress = c.ip;
      d.streamAccess.ptzPort = sim_->command_port(i);
      d.userConfig.accountCount = 1;
      d.userConfig.accounts[0].userName = c.user;
      d.userConfig.accounts[0].password = c.password;
      d.hasAccounts = 1;
      map_.AddOrUpdateDevice(d, LanFixture::PcAddress(0), 1);
    }
    std::vector<discovery::ReloginEntry> queue;
    for (const auto& entry : rows_->RefreshDeviceList(map_, {}))
      if (login.at(static_cast<std::size_t>(Index(*entry.row)))) queue.push_back(entry);
    device::ProcessReloginQueue(*rows_, queue, loginSdk_, {"admin", ""});
  }

  ~LanDevices() {
    if (rows_) {
      device::RegisterSdkCallbacks(nullptr);
      ZQ_NETSDK_IPC_Cleanup();
    }
    if (sim_) sim_->Stop();
  }

  const std::string& Error() const { return error_; }
  int Index(const DeviceListRow& row) const {
    for (int i = 0; i < 3; ++i)
      if (row.m_searchInfo.serialNumber == sim_->device(i).config().serial) return i;
    return -1;
  }
  DeviceListRow& Row(int device) {
    for (std::size_t i = 0; i < rows_->Count(); ++i)
      if (Index(rows_->At(i)) == device) return rows_->At(i);
    throw std::out_of_range("no row");
  }
  std::string Status(int device) {
    auto it = view_.cells.find({&Row(device), columns_.GetColumnIndex(discovery::kColState)});
    return it == view_.cells.end() ? std::string() : it->second;
  }
  // Every row, in row order, as the window walks its checked rows.
  void ForEachRow(const std::function<void(DeviceListRow*)>& fn) {
    for (std::size_t i = 0; i < rows_->Count(); ++i) fn(&rows_->At(i));
  }
  bool PumpUntil(const std::function<bool()>& done, int ms = 8000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(Scaled(ms));
    while (!done()) {
      if (std::chrono::steady_clock::now() >= end) return false;
      for (auto& item : sink_.Take(std::chrono::milliseconds(50))) Dispatch(item);
    }
    return true;
  }
  void Drain() {
    for (auto items = sink_.Take(std::chrono::milliseconds(200)); !items.empty();
         items = sink_.Take(std::chrono::milliseconds(200)))
      for (auto& item : items) Dispatch(item);
  }
  // Payloads of the requests with this code the device received (trailing NULs cut).
  std::vector<std::string> Received(int device, int command) {
    std::vector<std::string> out;
    for (const devsim::JournalEntry& e : sim_->device(device).Journal(false)) {
      const std::string& f = e.bytes;
      if (e.channel != "sdk" || f.size() < 32) continue;
      auto u32 = [&](std::size_t o) {
        std::uint32_t v = 0;
        for (int k = 0; k < 4; ++k) v = (v << 8) | static_cast<unsigned char>(f[o + k]);
        return v;
      };
      const std::uint32_t type = u32(4) & 0xFFFF;
      if (type < 4 || type > 7 || u32(16) != static_cast<std::uint32_t>(command)) continue;
      std::string payload = f.substr(32);
      while (!payload.empty() && payload.back() == '\0') payload.pop_back();
      out.push_back(payload);
    }
    return out;
  }
  std::string Block(int device, int code) { return sim_->device(device).GetConfig(static_cast<std::uint32_t>(code)).text; }
  device::DeviceCommands& Commands() { return *commands_; }

 private:
  void Dispatch(device::test::QueueSink::Item& item) {
    if (auto* e = std::get_if<device::DeviceStatusEvent>(&item)) events_->OnDeviceStatusEvent(*e);
    else replies_->OnDeviceAuxResponse(std::get<device::DeviceAuxResponse>(item));
  }

  std::string error_;
  std::unique_ptr<devsim::Simulator> sim_;
  device::test::QueueSink sink_;
  discovery::ColumnMap columns_;
  device::test::CellView view_;
  discovery::DeviceMap map_;
  std::unique_ptr<discovery::DeviceRows> rows_;
  device::ZqNetSdk loginSdk_;
  device::ZqCommandSdk commandSdk_;
  std::unique_ptr<device::DeviceCommands> commands_;
  std::unique_ptr<device::AuxReplyHandler> replies_;
  std::unique_ptr<device::StatusEventHandler> events_;
};

bool InLan(std::string* why) {
  if (!LanFixture::Enter(1, why)) return false;
  return true;
}

TEST(MediaPagesLan, SavesReachOnlyTheLoggedInDeviceByteForByte) {
  std::string why;
  if (!InLan(&why)) GTEST_SKIP() << why;
  for (int i = 1; i <= 3; ++i) ASSERT_TRUE(LanFixture::AddLanAddress(0, "10.77.1." + std::to_string(i)));
  // Device 0 logs in, device 1 refuses the login, device 2 is never logged in.
  LanDevices lan("10.77.1.", {true, true, false}, {"fault 1 refuse_login 1"});
  ASSERT_EQ(lan.Error(), "");
  ASSERT_TRUE(lan.PumpUntil([&] { return lan.Row(0).m_online && !lan.Status(1).empty(); })) << lan.Status(0);
  EXPECT_FALSE(lan.Row(1).m_online);
  const std::string refused = lan.Status(1);
  EXPECT_EQ(lan.Row(2).m_loginHandle, 0);

  // The light page first, against the device's own block (values it keeps
  // that no page shows: alarm brightness 80, face exposure 3, extras).
  const std::string before = lan.Block(0, 504);
  MediaLightConfig saved{};
  saved.led_brightness_alarm = 1;
  CMediaLight light(saved);
  light.SelectComboByData(1181, 1);
  light.SelectComboByData(1186, 60);
  light.ControlAs<QSlider>(870)->setValue(100);
  light.ControlAs<QPushButton>(1173)->click();
  ASSERT_FALSE(light.cancelled);
  lan.ForEachRow([&](DeviceListRow* row) { lan.Commands().RequestLightChange(row, light.record); });
  ASSERT_TRUE(lan.PumpUntil([&] { return lan.Status(0) == "SET_OK"; })) << lan.Status(0);
  // SET_OK shows once the write has left; the device stores it a moment later.
  ASSERT_TRUE(lan.PumpUntil([&] { return lan.Block(0, 504) != before; }));
  EXPECT_EQ(device::test::DiffXml(before, lan.Block(0, 504)),
            (Diff{{"Video/Capture[0]@IrcutMode", {"2", "1"}},
                  {"Video/Capture[0]@led_brightness_value", {"10", "60"}},
                  {"Video/Capture[0]@led_brightness_alarm", {"80", "1"}},
                  {"Video/Capture[0]@IrcutNightStartTime", {"18:00:00", "00:00:00"}},
                  {"Video/Capture[0]@IrcutNightEndTime", {"07:00:00", "00:00:00"}},
                  {"Video/Capture[0]@light_off_sensitivity", {"0", "100"}}}));
  EXPECT_EQ(lan.Received(0, GET_CFG_VIDEO_CAPTURE).size(), 1u);
  EXPECT_EQ(lan.Received(0, SET_CFG_VIDEO_CAPTURE).size(), 1u);

  // The image capture page: one text, sent to every checked row.
  YesPrompts yes;
  CMediaVCapture capture(3);
  capture.SetPrompts(&yes);
  capture.ControlAs<QLineEdit>(1203)->setText("200");
  capture.ControlAs<QComboBox>(1978)->setCurrentIndex(1);
  capture.ControlAs<QSlider>(2007)->setValue(255);
  capture.ControlAs<QSlider>(2009)->setValue(0);
  capture.ControlAs<QPushButton>(1173)->click();
  ASSERT_FALSE(capture.cancelled);
  ASSERT_NE(capture.xml.find("WB_RGB=\"33521664\""), std::string::npos);
  lan.ForEachRow([&](DeviceListRow* row) { lan.Commands().SetRowVideoCapture(row, capture.xml); });
  lan.Commands().SetStatus(lan.Row(0), "");
  ASSERT_TRUE(lan.PumpUntil([&] { return lan.Status(0) == "SET_OK"; })) << lan.Status(0);

  // The video encode page likewise.
  CMediaCode encode;
  encode.SetPrompts(&yes);
  encode.ControlAs<QPushButton>(799)->click();
  ASSERT_FALSE(encode.cancelled);
  lan.Commands().SetStatus(lan.Row(0), "");
  lan.ForEachRow([&](DeviceListRow* row) { lan.Commands().SetRowVideoEncode(row, encode.xml); });
  ASSERT_TRUE(lan.PumpUntil([&] { return lan.Status(0) == "SET_OK"; })) << lan.Status(0);
  lan.Drain();

  // The light write, then the page's text as it left the page.
  const auto sets = lan.Received(0, SET_CFG_VIDEO_CAPTURE);
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(sets[1], capture.xml);
  EXPECT_EQ(lan.Block(0, 504), capture.xml);
  EXPECT_EQ(lan.Received(0, SET_CFG_VIDEO_ENCODE), std::vector<std::string>{encode.xml});
  EXPECT_EQ(lan.Block(0, 503), encode.xml);
  for (int d : {1, 2}) {
    for (int code : {GET_CFG_VIDEO_CAPTURE, SET_CFG_VIDEO_CAPTURE, SET_CFG_VIDEO_ENCODE})
      EXPECT_TRUE(lan.Received(d, code).empty()) << d << " " << code;
  }
  // Rows that are not online are passed over without a word.
  EXPECT_EQ(lan.Status(1), refused);
  EXPECT_EQ(lan.Status(2), "");
}

TEST(MediaPagesLan, EachDevicesFaultShowsInItsOwnRow) {
  std::string why;
  if (!InLan(&why)) GTEST_SKIP() << why;
  for (int i = 1; i <= 3; ++i) ASSERT_TRUE(LanFixture::AddLanAddress(0, "10.77.2." + std::to_string(i)));
  // All three log in; device 1 refuses the capture set and the capture get,
  // device 2 never answers the encode set.
  LanDevices lan("10.77.2.", {true, true, true},
                 {"codefault 1 524 refuse", "codefault 1 504 refuse", "codefault 2 523 drop"});
  ASSERT_EQ(lan.Error(), "");
  ASSERT_TRUE(lan.PumpUntil([&] { return lan.Row(0).m_online && lan.Row(1).m_online && lan.Row(2).m_online; }));

  YesPrompts yes;
  CMediaVCapture capture(3);
  capture.SetPrompts(&yes);
  capture.ControlAs<QPushButton>(1173)->click();
  ASSERT_FALSE(capture.cancelled);
  lan.Drain();
  for (int d = 0; d < 3; ++d) lan.Commands().SetStatus(lan.Row(d), "");
  lan.ForEachRow([&](DeviceListRow* row) { lan.Commands().SetRowVideoCapture(row, capture.xml); });
  ASSERT_TRUE(lan.PumpUntil([&] { return !lan.Status(0).empty() && !lan.Status(1).empty() && !lan.Status(2).empty(); }));
  EXPECT_EQ(lan.Status(0), "SET_OK");
  EXPECT_EQ(lan.Status(1), "SET_FAILED");
  EXPECT_EQ(lan.Status(2), "SET_OK");
  const std::string refusedBlock = lan.Block(1, 504);
  EXPECT_EQ(refusedBlock.find(capture.xml), std::string::npos);

  // A failed get: no write follows for that device; the others are written.
  for (int d = 0; d < 3; ++d) lan.Commands().SetStatus(lan.Row(d), "");
  MediaLightConfig record{};
  record.light_off_sensitivity = 55;
  lan.ForEachRow([&](DeviceListRow* row) { lan.Commands().RequestLightChange(row, record); });
  ASSERT_TRUE(lan.PumpUntil([&] {
    return lan.Status(0) == "SET_OK" && lan.Status(2) == "SET_OK" && lan.Received(0, SET_CFG_VIDEO_CAPTURE).size() == 2 &&
           lan.Received(2, SET_CFG_VIDEO_CAPTURE).size() == 2;
  }));
  lan.Drain();
  EXPECT_EQ(lan.Received(1, SET_CFG_VIDEO_CAPTURE).size(), 1u);  // only the refused page text
  EXPECT_EQ(lan.Received(0, SET_CFG_VIDEO_CAPTURE).size(), 2u);
  EXPECT_EQ(lan.Block(1, 504), refusedBlock);

  // The encode set: device 2 never answers and times out in its own row.
  for (int d = 0; d < 3; ++d) lan.Commands().SetStatus(lan.Row(d), "");
  CMediaCode encode;
  encode.SetPrompts(&yes);
  encode.ControlAs<QPushButton>(799)->click();
  ASSERT_FALSE(encode.cancelled);
  lan.ForEachRow([&](DeviceListRow* row) { lan.Commands().SetRowVideoEncode(row, encode.xml); });
  ASSERT_TRUE(lan.PumpUntil([&] { return !lan.Status(0).empty() && !lan.Status(1).empty() && !lan.Status(2).empty(); }))
      << lan.Status(2);
  EXPECT_EQ(lan.Status(0), "SET_OK");
  EXPECT_EQ(lan.Status(1), "SET_OK");
  EXPECT_NE(lan.Status(2), "SET_OK");
  for (int d = 0; d < 3; ++d) EXPECT_EQ(lan.Received(d, SET_CFG_VIDEO_ENCODE), std::vector<std::string>{encode.xml}) << d;
  EXPECT_NE(lan.Block(2, 503), encode.xml);
}

}  // namespace
}  // namespace kelvara::dialogs
