// The dialogs' texts end to end: built by the models, sent by the device
// commands through the real SDK to the device simulator on loopback. Each set
// reaches the device byte for byte, values out of range and refused requests
// change nothing, the detection merge keeps what it does not touch, a user
// set changes the login, and focus reports arrive between start and stop.
#include <gtest/gtest.h>

#include "device/core/command_codes.h"
#include "device/core/osd_title.h"
#include "device/tests/devsim_fixture.h"
#include "dialogs/core/audio_models.h"
#include "dialogs/core/clock_models.h"
#include "dialogs/core/detection_models.h"
#include "dialogs/core/focus_model.h"
#include "dialogs/core/time_model.h"
#include "dialog_rules.h"
#include "kelvara_test/test_env.h"

namespace kelvara::dialogs {
namespace {

using discovery::DeviceListRow;

struct FocusRecorder : device::FocusDialog {
  bool Exists() const override { return true; }
  void OnFocusResult(int handle, const std::string& detail) override { reports.emplace_back(handle, detail); }
  std::vector<std::pair<int, std::string>> reports;
};

class DialogsDevsim : public ::testing::Test {
 protected:
  void SetUp() override {
    docs = kelvara::test::MakeTempDir("dialogs-e2e");
    device::DeviceSeams seams;
    seams.focus = &focus;
    lan = std::make_unique<device::test::DevsimCommands>(1, docs, seams);
    ASSERT_EQ(lan->StartError(), "");
    ASSERT_TRUE(lan->LoginAll());
    lan->Drain();
  }
  DeviceListRow& Row() { return lan->Row(0); }
  std::string Control(const std::string& line) { return lan->Sim().Control(line); }
  // Sends, then waits for the reply's status.
  std::string Send(const std::function<void()>& send) {
    lan->Commands().SetStatus(Row(), "");
    send();
    lan->PumpUntil([&] { return !lan->Status(0).empty(); });
    return lan->Status(0);
  }
  static std::string Payload(std::string frame) {
    while (!frame.empty() && frame.back() == '\0') frame.pop_back();
    return frame;
  }

  std::filesystem::path docs;
  FocusRecorder focus;
  std::unique_ptr<device::test::DevsimCommands> lan;
};

TEST_F(DialogsDevsim, TextsReachTheDeviceByteForByte) {
  AlarmClockSettings clock;
  clock.oclock_enable = 1;
  clock.oclock_to = {23, 59, 59};
  clock.clocks[2] = {1, 6, 45, 0};
  TimeDialogInput time;
  time.zoneIndex = TimeZoneIndex(TimeZonesFull(), 1200);
  time.server = "time.example.com";
  time.port = "123";
  time.interval = "3600";
  const struct {
    int set, get;
    std::string text;
    void (device::DeviceCommands::*send)(DeviceListRow*, const std::string&);
  } cases[] = {
      {527, 507, BuildAudioCaptureXml("80", "100", 1, 0), nullptr},
      {528, 508, BuildAudioEncodeXml(1, "16000", "AAC", "16000"), nullptr},
      {228, 208, BuildMaintenanceXml(1, 3, {4, 5, 6}), nullptr},
      {230, 210, BuildAlarmClockXml(clock), nullptr},
      {222, 202, BuildTimeConfig({}, time, TimeZonesFull()).xml, nullptr},
  };
  auto& c = lan->Commands();
  for (const auto& k : cases) {
    const std::string status = Send([&] {
      switch (k.set) {
        case 527: c.SetRowAudioCapture(&Row(), k.text); break;
        case 528: c.SetRowAudioEncode(&Row(), k.text); break;
        case 228: c.SetRowMaintenance(&Row(), k.text); break;
        case 230: c.SetRowAlarmClock(&Row(), k.text); break;
        case 222: c.SetRowTimeConfig(&Row(), k.text); break;
      }
    });
    EXPECT_EQ(status, "SET_OK") << k.set;
    const auto received = lan->Received(0, k.set);
    ASSERT_EQ(received.size(), 1u) << k.set;
    EXPECT_EQ(Payload(received[0]), k.text) << k.set;
    EXPECT_EQ(lan->Block(0, k.get), k.text) << k.set;
  }
  const ImageParamResult image = BuildImageParamRequest("3", "2000", 24);
  c.SetRowImageParam(&Row(), image.request);
  ASSERT_TRUE(lan->PumpUntil([&] { return lan->Block(0, 1081) == image.request; }));
  EXPECT_EQ(Payload(lan->Received(0, 1081).at(0)), image.request);
}

TEST_F(DialogsDevsim, OverlayTitleReadsBackDecoded) {
  OverlayConfig o;
  o.enable = 1;
  o.title_pos_x = 1;
  o.title_pos_y = 1;
  o.title_utf8_hex = "e5898de997a8";  // a title of two three-byte characters
  const device::OsdTitleChoice choice{false, true, false};
  EXPECT_EQ(Send([&] { lan->Commands().SetRowOsdTitle(&Row(), o, choice); }), "SET_OK");
  const std::string block = lan->Block(0, 505);
  EXPECT_EQ(devsim::OverlayTitle(block), device::OsdTitleText(o, choice, Row().m_searchInfo));
  // What the overlay set does not carry is what the device had.
  EXPECT_NE(block.find("Shadow=\"1\""), std::string::npos);
  const auto got = lan->Received(0, 525);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_NE(Payload(got[0]), block) << "kept decoded, not as sent";
}

TEST_F(DialogsDevsim, OutOfRangeOrRefusedSetsChangeNothing) {
  const std::string capture = lan->Block(0, 507);
  // A text no dialog builds (the volume is kept within range there).
  EXPECT_EQ(Send([&] { lan->Commands().SetRowAudioCapture(&Row(), BuildAudioCaptureXml("150", "100", 0, 0)); }),
            "SET_FAILED");
  EXPECT_EQ(lan->Block(0, 507), capture);

  const std::string maintenance = lan->Block(0, 208);
  ASSERT_EQ(Control("codefault 0 228 refuse").rfind("ok", 0), 0u);
  EXPECT_EQ(Send([&] { lan->Commands().SetRowMaintenance(&Row(), BuildMaintenanceXml(1, 1, {1, 0, 0})); }),
            "SET_FAILED");
  EXPECT_EQ(lan->Block(0, 208), maintenance);

  const std::string image = lan->Block(0, 1081);
  lan->Commands().SetRowImageParam(&Row(), "<REQUEST_PARAM mctf=\"12\" gain=\"30\" shuttermax=\"-1\" />");
  lan->Drain();
  EXPECT_EQ(lan->Block(0, 1081), image);
}

TEST_F(DialogsDevsim, DetectionMergeKeepsWhatItDoesNotTouchAndNeedsAllThreeWrites) {
  const std::string before = lan->Block(0, 800);
  BatchPDSettings pd;
  pd.motion = 1;
  EXPECT_EQ(Send([&] { lan->Commands().RequestAlarmConfigChange(&Row(), pd); }), "SET_OK");
  lan->Drain();
  EXPECT_EQ(lan->Status(0), "SET_OK");
  const auto diff = device::test::DiffXml(before, lan->Block(0, 800));
  for (const auto& [key, values] : diff) {
    // Only the values the detection choices name may change.
    const bool named = key.find("@Enable") != std::string::npos || key.find("Schedule") != std::string::npos ||
                       key.find("@DrawBox") != std::string::npos || key.find("@TargetFlags") != std::string::npos ||
                       key.find("@AlarmEnable") != std::string::npos;
    EXPECT_TRUE(named) << key << ": " << values.first << " -> " << values.second;
  }
  EXPECT_EQ(diff.count("AlarmConfig/PDAlarm[0]@Sensitivity"), 0u);
  EXPECT_EQ(diff.count("AlarmConfig/PDAlarm[0]/Linkage[0]@Email"), 0u);

  ASSERT_EQ(Control("codefault 0 827 refuse").rfind("ok", 0), 0u);
  lan->Commands().SetStatus(Row(), "");
  lan->Commands().RequestAlarmConfigChange(&Row(), pd);
  ASSERT_TRUE(lan->PumpUntil([&] { return lan->Received(0, 827).size() == 2; }));
  lan->Drain();
  EXPECT_EQ(lan->Status(0), "SET_FAILED") << "the sound write was refused";

  const auto pdWrites = lan->Received(0, 829).size();
  ASSERT_EQ(Control("codefault 0 800 refuse").rfind("ok", 0), 0u);
  EXPECT_EQ(Send([&] { lan->Commands().RequestAlarmConfigChange(&Row(), pd); }), "SET_FAILED");
  lan->Drain();
  EXPECT_EQ(lan->Received(0, 829).size(), pdWrites) << "a refused get writes nothing";
}

TEST_F(DialogsDevsim, UserSetChangesTheLoginPassword) {
  EXPECT_EQ(Send([&] { lan->Commands().SetRowAdminPassword(&Row(), "n3w-secret"); }), "SET_OK");
  EXPECT_EQ(lan->Sim().device(0).config().password, "n3w-secret");
}

TEST_F(DialogsDevsim, FocusReportsArriveAfterStart) {
  FocusPairs base = DefaultFocusBase();
  base[4] = {2000, 90};
  lan->Commands().Sdk().SystemControl(Row().m_loginHandle, 1157, BuildFocusStartRequest(base));
  ASSERT_TRUE(lan->PumpUntil([&] { return !focus.reports.empty(); }));
  EXPECT_EQ(focus.reports[0].first, Row().m_loginHandle);
  const auto report = ParseFocusText(focus.reports[0].second);
  ASSERT_TRUE(report);
  EXPECT_EQ((*report)[4].first, 1900u);
  const FocusEvaluation e = EvaluateFocus(*report, base);
  EXPECT_TRUE(e.pass);
  EXPECT_EQ(e.current[4].second, 95u);
  lan->Commands().Sdk().SystemControl(Row().m_loginHandle, 1157, BuildFocusStopRequest());
  lan->Drain();
  EXPECT_EQ(Payload(lan->Received(0, 1157).back()), BuildFocusStopRequest());
}

}  // namespace
}  // namespace kelvara::dialogs
