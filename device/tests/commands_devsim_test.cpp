// Device commands end to end against the device simulator over loopback: each
// set-after-get changes exactly its target values in the stored block, a
// failed or malformed get writes nothing, changes waiting for one reply go
// out in one write, events show their texts, and files a device names land
// below the documents folder only.
#include <gtest/gtest.h>

#include <fstream>

#include "common/text_convert.h"
#include "device/core/command_codes.h"
#include "device/core/event_texts.h"
#include "device/tests/devsim_fixture.h"
#include "kelvara_test/test_env.h"

namespace kelvara::device {
namespace {

using Diff = std::map<std::string, std::pair<std::string, std::string>>;

class CommandsDevsim : public ::testing::Test {
 protected:
  void SetUp() override {
    root = kelvara::test::MakeTempDir("e2e");
    docs = root / "Documents";
    std::filesystem::create_directories(docs);
    lan = std::make_unique<test::DevsimCommands>(2, docs);
    ASSERT_EQ(lan->StartError(), "");
    ASSERT_TRUE(lan->LoginAll());
    lan->Drain();  // the login queries' replies
  }
  discovery::DeviceListRow& Row(int i = 0) { return lan->Row(static_cast<std::size_t>(i)); }
  bool WaitStatus(const std::string& text, int i = 0) {
    return lan->PumpUntil([&] { return lan->Status(static_cast<std::size_t>(i)) == text; });
  }
  std::string Control(const std::string& line) { return lan->Sim().Control(line); }

  std::filesystem::path root, docs;
  std::unique_ptr<test::DevsimCommands> lan;
};

TEST_F(CommandsDevsim, TvSystemChangesOnlyItsValue) {
  const std::string before = lan->Block(0, 504);
  ASSERT_NE(before.find("RecordBytes"), std::string::npos);
  lan->Commands().RequestTvSystemChange(&Row(), 0);
  // The write's own reply ends with "SET_OK".
  ASSERT_TRUE(WaitStatus("SET_OK"));
  EXPECT_EQ(test::DiffXml(before, lan->Block(0, 504)), (Diff{{"Video/Capture[0]@TVSystem", {"1", "0"}}}));
  EXPECT_EQ(Row().m_tvSystemPending, 0);
  // The same value again: nothing is written.
  lan->Commands().RequestTvSystemChange(&Row(), 0);
  ASSERT_TRUE(WaitStatus("MSG_SET_TVSYSTEM_NOTCHANGE"));
  EXPECT_EQ(lan->Received(0, SET_CFG_VIDEO_CAPTURE).size(), 1u);
}

TEST_F(CommandsDevsim, LightAndTvSystemFromOneReplyGoOutInOneWrite) {
  const std::string before = lan->Block(0, 504);
  MediaLightConfig light;
  light.ircut_mode = 1;
  light.ircut_openled_delay = 5;
  light.led_brightness_mode = 2;
  light.led_brightness_value = 77;
  light.led_brightness_alarm = 99;
  light.startTime = {19, 30, 0};
  light.endTime = {6, 15, 30};
  light.led_mode = 3;
  light.ispadvmode = 1;
  light.light_off_sensitivity = 40;
  lan->Commands().RequestLightChange(&Row(), light);
  lan->Commands().RequestTvSystemChange(&Row(), 0);
  ASSERT_TRUE(WaitStatus("SET_OK"));
  lan->Drain();
  EXPECT_EQ(test::DiffXml(before, lan->Block(0, 504)),
            (Diff{{"Video/Capture[0]@TVSystem", {"1", "0"}},
                  {"Video/Capture[0]@IrcutMode", {"2", "1"}},
                  {"Video/Capture[0]@IrcutOpenLedDelay", {"0", "5"}},
                  {"Video/Capture[0]@led_brightness_mode", {"0", "2"}},
                  {"Video/Capture[0]@led_brightness_value", {"10", "77"}},
                  {"Video/Capture[0]@led_brightness_alarm", {"80", "99"}},
                  {"Video/Capture[0]@IrcutNightStartTime", {"18:00:00", "19:30:00"}},
                  {"Video/Capture[0]@IrcutNightEndTime", {"07:00:00", "06:15:30"}},
                  {"Video/Capture[0]@led_mode", {"0", "3"}},
                  {"Video/Capture[0]@ispadvmode", {"0", "1"}},
                  {"Video/Capture[0]@light_off_sensitivity", {"0", "40"}}}));
  // Two gets were answered; the first carried both changes, the second found none.
  EXPECT_EQ(lan->Received(0, GET_CFG_VIDEO_CAPTURE).size(), 2u);
  EXPECT_EQ(lan->Received(0, SET_CFG_VIDEO_CAPTURE).size(), 1u);
}

TEST_F(CommandsDevsim, StreamSwitchesFromOneReplyBothArrive) {
  const std::string before = lan->Block(0, 600);
  lan->Commands().RequestHikAccessChange(&Row(), 0);
  lan->Commands().RequestVendorAccessChange(&Row(), 1);
  lan->Commands().RequestDhAccessChange(&Row(), 1);  // already on
  ASSERT_TRUE(lan->PumpUntil([&] { return lan->Received(0, GET_CFG_MEDIA_STREAM).size() == 3; }));
  lan->Drain();
  EXPECT_EQ(lan->Status(0), "SET_OK");
  EXPECT_EQ(test::DiffXml(before, lan->Block(0, 600)),
            (Diff{{"MediaStreamConfig/StreamAccess[0]@enable_hik", {"1", "0"}},
                  {"MediaStreamConfig/StreamAccess[0]@enable_krn", {"0", "1"}}}));
  EXPECT_EQ(lan->Received(0, SET_CFG_MEDIA_STREAM).size(), 1u);
}

TEST_F(CommandsDevsim, AllNetChangesOnlyItsSwitch) {
  const std::string before = lan->Block(0, 305);
  ASSERT_NE(before.find("LinkSpeed"), std::string::npos);
  lan->Commands().RequestOnvifAllNetChange(&Row(), 1);
  ASSERT_TRUE(WaitStatus("SET_OK"));
  EXPECT_EQ(test::DiffXml(before, lan->Block(0, 305)), (Diff{{"LANConfig@ALLNET", {"0", "1"}}}));
}

TEST_F(CommandsDevsim, DetectionSettingsChangeTheirPartsOnly) {
  const std::string before = lan->Block(0, 800);
  BatchPDSettings pd;
  pd.alarm_schedule = 2;
  pd.audio_schedule = 3;
  pd.draw_box = 0;
  pd.push_schedule = 1;
  pd.flash_light_schedule = 2;
  pd.blue_red_light_schedule = 3;
  pd.human = 1;
  pd.vehicle = 0;
  pd.motion = 1;
  pd.sound = 0;
  pd.reset_region = 1;
  lan->Commands().RequestAlarmConfigChange(&Row(), pd);
  ASSERT_TRUE(lan->PumpUntil([&] { return lan->Received(0, SET_DEV_CFG_AUDIO_ALARM).size() == 1; }));
  lan->Drain();
  EXPECT_EQ(lan->Status(0), "SET_OK");
  EXPECT_EQ(test::DiffXml(before, lan->Block(0, 800)),
            (Diff{{"AlarmConfig/PDAlarm[0]@Schedule", {"1", "2"}},
                  {"AlarmConfig/PDAlarm[0]@TargetFlags", {"17", "16"}},
                  {"AlarmConfig/PDAlarm[0]@DrawBox", {"1", "0"}},
                  {"AlarmConfig/PDAlarm[0]@AudioSchedule", {"0", "3"}},
                  {"AlarmConfig/PDAlarm[0]@FlashLightSchedule", {"0", "2"}},
                  {"AlarmConfig/PDAlarm[0]@BlueRedLightSchedule", {"0", "3"}},
                  {"AlarmConfig/PDAlarm[0]/Region[0]/Point[0]@X", {"10", "0"}},
                  {"AlarmConfig/PDAlarm[0]/Region[0]/Point[0]@Y", {"10", "0"}},
                  {"AlarmConfig/PDAlarm[0]/Region[0]/Point[1]@X", {"90", "100"}},
                  {"AlarmConfig/PDAlarm[0]/Region[0]/Point[1]@Y", {"10", "0"}},
                  {"AlarmConfig/PDAlarm[0]/Region[0]/Point[2]@X", {"90", "100"}},
                  {"AlarmConfig/PDAlarm[0]/Region[0]/Point[2]@Y", {"90", "100"}},
                  {"AlarmConfig/PDAlarm[0]/Region[0]/Point[3]@X", {"10", "0"}},
                  {"AlarmConfig/PDAlarm[0]/Region[0]/Point[3]@Y", {"90", "100"}},
                  {"AlarmConfig/MDAlarm[0]@Enable", {"0", "1"}},
                  {"AlarmConfig/MDAlarm[0]@Schedule", {"1", "2"}},
                  {"AlarmConfig/MDAlarm[0]@AudioSchedule", {"0", "3"}},
                  {"AlarmConfig/MDAlarm[0]@PushSchedule", {"0", "1"}},
                  {"AlarmConfig/MDAlarm[0]@FlashLightSchedule", {"0", "2"}},
                  {"AlarmConfig/MDAlarm[0]@BlueRedLightSchedule", {"0", "3"}}}));
}

TEST_F(CommandsDevsim, AFailedOrMalformedGetWritesNothing) {
  for (const char* fault : {"result 3", "malformed"}) {
    SCOPED_TRACE(fault);
    ASSERT_EQ(Control(std::string("codefault 0 504 ") + fault), "ok");
    const std::string before = lan->Block(0, 504);
    lan->Commands().RequestTvSystemChange(&Row(), 0);
    lan->Commands().RequestNightModeDemo(&Row());
    ASSERT_TRUE(WaitStatus("MSG_SET_IRCUT_FAILED"));
    lan->Drain();
    EXPECT_EQ(lan->Block(0, 504), before);
    EXPECT_TRUE(lan->Received(0, SET_CFG_VIDEO_CAPTURE).empty());
    EXPECT_EQ(Row().m_tvSystemPending, 0);
    EXPECT_EQ(Row().m_ircutDemoState, 0);
    ASSERT_EQ(Control("codefault 0 504 clear"), "ok");
  }
  // A never answered get: the SDK's time-out reply clears the change too.
  ASSERT_EQ(Control("codefault 0 305 drop"), "ok");
  const std::string lanBefore = lan->Block(0, 305);
  lan->Commands().RequestOnvifAllNetChange(&Row(), 1);
  ASSERT_TRUE(WaitStatus("MSG_SET_ONVIFALLNET_FAILED"));
  EXPECT_EQ(lan->Block(0, 305), lanBefore);
  EXPECT_EQ(Row().m_allnetPending, 0);
}

TEST_F(CommandsDevsim, NightModeDemoAndItsEnd) {
  const std::string before = lan->Block(0, 504);
  lan->Commands().RequestNightModeDemo(&Row());
  ASSERT_TRUE(lan->PumpUntil([&] { return Row().m_ircutDemoState == 3; }));
  EXPECT_EQ(lan->Status(0), "MSG_SET_IRCUT_OK");
  lan->Drain();
  EXPECT_EQ(test::DiffXml(before, lan->Block(0, 504)), (Diff{{"Video/Capture[0]@IrcutMode", {"2", "3"}}}));
  EXPECT_EQ(lan->Block(0, 1046), "<REQUEST_PARAM Mode=\"NightMode\" />\n");
  EXPECT_EQ(Row().m_videoCapture[108], 2);  // the device's own IR-cut mode kept
  lan->Commands().EndNightModeDemo(Row());
  EXPECT_EQ(Row().m_ircutDemoState, 0);
  ASSERT_TRUE(lan->PumpUntil([&] { return lan->Received(0, SET_CFG_VIDEO_CAPTURE).size() == 2; }));
  lan->Drain();
  EXPECT_TRUE(test::DiffXml(before, lan->Block(0, 504)).empty());
  EXPECT_EQ(lan->Block(0, 1046), "<REQUEST_PARAM Mode=\"DayMode\" />\n");
}

TEST_F(CommandsDevsim, EventsShowTheirTexts) {
  // The row's text right after each event: events that follow at once (a
  // transfer's failure and the link's loss) write texts of their own.
  std::map<std::pair<int, int>, std::string> textAfter;  // (row, event) -> status
  lan->onEvent = [&](const DeviceStatusEvent& e) {
    for (int i = 0; i < 2; ++i) {
      if (Row(i).m_loginHandle == e.loginHandle) textAfter[{i, e.eventType}] = lan->Status(static_cast<std::size_t>(i));
    }
  };
  auto shown = [&](int event, int row = 0) {
    if (!lan->PumpUntil([&] { return textAfter.count({row, event}) != 0; })) return std::string("<no event>");
    std::string text = textAfter[{row, event}];
    textAfter.erase({row, event});
    return text;
  };
  struct {
    const char* control;
    int event;
    const char* text;
  } cases[] = {
      {"event 0 6", 6, "STRING_STARTTALK_OK"},        {"event 0 8", 8, "STRING_STOPTALK_OK"},
      {"event 0 32", 32, "MSGTIP5"},                  {"event 0 35", 35, "STRING_STARTTALK_DEVBUSY"},
      {"event 0 36", 36, "STRING_STARTTALK_PARAMERROR"}, {"event 0 37", 37, "STRING_STARTTALK_NOTSUPPORT"},
      {"event 0 7", 7, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.control);
    lan->Rows().SetCellTextIfChanged(Row(), discovery::kColState, "before");
    ASSERT_EQ(Control(c.control), "ok");
    EXPECT_EQ(shown(c.event), c.text);
  }
  ASSERT_EQ(Control("alarm 0 14 zone 2"), "ok");
  EXPECT_NE(shown(23).find("ALARM_CODE_MOTION_DETECT:zone 2"), std::string::npos);
  // A download the device cannot serve, then the link's loss and its return.
  lan->Commands().DownloadDeviceFile(&Row(), "/mnt/none.jpg", "");
  EXPECT_EQ(shown(17), "MSGTIP8");
  ASSERT_EQ(Control("drop 0"), "ok");
  EXPECT_EQ(shown(2), "MSGTIP10");
  EXPECT_EQ(shown(4), "MSGTIP1");
  EXPECT_TRUE(Row().m_online);
  // A configuration file sent, and one that the link's loss cuts off.
  const auto file = docs / "cfg.xml";
  std::ofstream(file) << "<DEVICE_CONFIG />";
  lan->Commands().UploadConfigFileToRow(&Row(), file.string());
  EXPECT_EQ(shown(14), "MSGTIP6");
  ASSERT_EQ(Control("fault 0 drop_after_bytes 1000"), "ok");
  std::ofstream(file) << std::string(200000, 'x');
  lan->Commands().UploadConfigFileToRow(&Row(), file.string());
  EXPECT_EQ(shown(15), "MSGTIP7");
  ASSERT_EQ(Control("fault 0 clear 0"), "ok");
  // A device that refuses the login when the link comes back.
  ASSERT_EQ(Control("fault 1 refuse_login 1"), "ok");
  ASSERT_EQ(Control("drop 1"), "ok");
  EXPECT_EQ(shown(31, 1), "IDS_STR_ZH_CN_USERERROR");
  EXPECT_FALSE(Row(1).m_online);
  lan->onEvent = nullptr;
}

TEST_F(CommandsDevsim, LoginQueriesFillTheRow) {
  EXPECT_EQ(Row().m_fsVersion, lan->Sim().device(0).config().fs_version);
  EXPECT_EQ(Row().m_loginSerial, lan->Sim().device(0).serial());
  EXPECT_NE(Row().m_abilityText.find("VideoChannels"), std::string::npos);
  EXPECT_EQ(lan->Cell(0, discovery::kColAfVersion), lan->Sim().device(0).config().mcu_version);
  EXPECT_NE(lan->Cell(0, discovery::kColSdCard).find("Storage_OK;IDS_STR_ZH_CN_STORAGE_TIPS9;"), std::string::npos);
  ASSERT_FALSE(lan->Received(0, SYS_CTRL_SET_TIME).empty());
  EXPECT_NE(lan->Received(0, SYS_CTRL_SET_TIME)[0].find("<REQUEST_PARAM tv_sec=\""), std::string::npos);
}

// Files a device names land below the documents folder, never over another.
TEST_F(CommandsDevsim, HostilePictureNamesStayInTheDocumentsFolder) {
  for (const char* path : {"../../../../evil1.jpg", "..\\..\\evil2.jpg", "/mnt/../../evil3.mp4", "evil4.sh"}) {
    ASSERT_EQ(Control(std::string("file 0 ") + path + " " + StringToHex(std::string_view("JPEGDATA"))), "ok");
  }
  Row().m_snapshotPending = 1;
  ASSERT_EQ(Control("alarm 0 23 ..\\..\\evil2.jpg"), "ok");
  Row().m_timelapsePending = 1;
  ASSERT_EQ(Control("alarm 0 47 /mnt/../../evil3.mp4"), "ok");
  Row().m_recordExportPending = 1;
  ASSERT_EQ(Control("alarm 0 47 evil4.sh"), "ok");
  ASSERT_EQ(Control("alarm 0 14 @@alarmjpg1=../../../../evil1.jpg@@alarmjpg2=../../../../evil1.jpg"), "ok");
  int files = 0;
  ASSERT_TRUE(lan->PumpUntil([&] {
    files = 0;
    for (auto it = std::filesystem::recursive_directory_iterator(docs); it != std::filesystem::recursive_directory_iterator(); ++it) {
      files += it->is_regular_file() && it->path().extension() != ".part";
    }
    return files == 5;
  }, std::chrono::milliseconds(10000)));
  // Nothing outside the documents folder: the temporary root holds only it.
  for (const auto& entry : std::filesystem::directory_iterator(root)) EXPECT_EQ(entry.path(), docs);
  const std::string ip = "127.0.0.1";
  EXPECT_TRUE(std::filesystem::exists(docs / "snap" / ip / "evil2.jpg"));
  EXPECT_TRUE(std::filesystem::exists(docs / ip / "evil3.mp4"));
  EXPECT_TRUE(std::filesystem::exists(docs / "evil4.sh"));
  int pictures = 0;
  for (const auto& entry : std::filesystem::directory_iterator(docs / "snap" / ip))
    pictures += entry.path().filename().string().rfind("alarmjpg", 0) == 0;
  EXPECT_EQ(pictures, 2);
}

}  // namespace
}  // namespace kelvara::device
