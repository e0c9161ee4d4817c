// The command table: per worker the SDK call with its code and exact request
// bytes, and the status text for an offline row, a row not logged in, a
// refused request and an accepted one.
#include <functional>

#include "common/text_convert.h"
#include "device/core/command_codes.h"
#include "device/core/osd_title.h"
#include "device/core/request_builders.h"
#include "device/tests/command_fixture.h"

namespace kelvara::device {
namespace {

using discovery::DeviceListRow;
using test::SdkCall;

constexpr const char* kBefore = "before";

struct WorkerCase {
  const char* name;
  std::function<int(DeviceCommands&, DeviceListRow*)> run;
  std::vector<SdkCall> calls;  // handle 101; the path of file calls is relative to the documents folder
  const char* notLoggedIn;
  const char* refused;   // nullptr: the status stays
  const char* accepted;  // nullptr: the status stays
};

OverlayConfig SampleOverlay() {
  OverlayConfig o;
  o.enable = 1;
  o.transparency = 2;
  o.time_format = "yyyy-mm-dd hh:mm:ss";
  o.title_pos_x = 1;
  o.title_pos_y = 1;
  o.title_utf8_hex = "43616d31";  // Cam1
  o.style = 3;
  o.week = 1;
  return o;
}

const std::string kOverlayGolden =
    "<Overlay\tEnable=\"1\" Transparency=\"2\" Style=\"3\" Fontsize=\"0\" Week=\"1\">"
    "                             <TimeOverlay PosX=\"0\" PosY=\"0\"\tFormat=\"yyyy-mm-dd hh:mm:ss\"/>"
    "                             <TitleOverlay PosX=\"1\" PosY=\"1\"\tTitleUtf8=\""
    "43616d315e5b4e56532d4950432d354d5f56325d5e31302e37372e312e31305e5b5a51303030314142435d\"/>"
    " </Overlay>";

const std::string kMotionGolden =
    "<MotionDetectAlarm Enable=\"1\" BlockCount=\"2\" BlockConfig=\"ff&amp;00\" Sensitivity=\"50\""
    " AlarmThreshold=\"20\" DayNightSwitch=\"0\" NightSensitivity=\"60\" NightAlarmThreshold=\"30\""
    " NightStartTime=\" 0: 0: 0\" NightEndTime=\"24: 0: 0\">"
    " \t\t\t<EnableTimeList> \t\t\t\t<Workday Day=\"7\">"
    " \t\t\t\t\t<TimeSpan StartTime=\" 0: 0: 0\" EndTime=\"24: 0: 0\" />"
    " \t\t\t\t</Workday> \t\t\t</EnableTimeList> \t\t\t<AlarmAction>"
    " \t\t\t\t<AlarmOutputAction Enable=\"1\" PortIndex=\"1\" ChannelType=\"1\" TriggerType=\"HIGH\" Duration=\"10\" />"
    " \t\t\t\t<PTZAction Enable=\"0\" ActionType=\"PositionWalk\">"
    " \t\t\t\t\t<PositionWalk Interval=\"2\" WalkCount=\"1\">"
    " \t\t\t\t\t\t<PTZPosition PositionIndex=\"1\" /> \t\t\t\t\t\t<PTZPosition PositionIndex=\"2\" />"
    " \t\t\t\t\t\t<PTZPosition PositionIndex=\"3\" /> \t\t\t\t\t</PositionWalk>"
    " \t\t\t\t</PTZAction> \t\t\t</AlarmAction> \t\t\t</MotionDetectAlarm>";

std::vector<WorkerCase> Cases() {
  return {
      {"DownloadConfigFile", [](DeviceCommands& c, DeviceListRow* r) { return c.DownloadConfigFile(r); },
       {{"GetConfigFile", 101, 0, "config_ZQ0001ABC_10.77.1.10.dev.xml"}}, "MSGTIP21", "MSGTIP33", "MSGTIP18"},
      {"DownloadDeviceFile",
       [](DeviceCommands& c, DeviceListRow* r) { return c.DownloadDeviceFile(r, "/mnt/alarm/a.jpg", ""); },
       {{"GetFileByName", 101, 1, "snap/10.77.1.10/a.jpg", "/mnt/alarm/a.jpg"}}, "MSGTIP21", "FILEDOWN_REQFAIL",
       "FILEDOWNLOADDING"},
      {"RebootRow", [](DeviceCommands& c, DeviceListRow* r) { return c.RebootRow(r); }, {{"RebootDVR", 101, 0, ""}},
       "MSGTIP23", "MSGTIP35", "RESTARTING"},
      {"SyncRowTime", [](DeviceCommands& c, DeviceListRow* r) { return c.SyncRowTime(r); },
       {{"SystemControl", 101, 1064, "<REQUEST_PARAM tv_sec=\"1796803200\" tv_usec=\"250000\"/>\n"}}, "MSGTIP22",
       "MSGTIP36", nullptr},
      {"SetRowOsdTitle",
       [](DeviceCommands& c, DeviceListRow* r) {
         return c.SetRowOsdTitle(r, SampleOverlay(), OsdTitleChoice{true, true, true});
       },
       {{"SetDVRConfig", 101, 525, kOverlayGolden}}, "MSGTIP40", "MSGTIP39", nullptr},
      {"SetRowAdminPassword", [](DeviceCommands& c, DeviceListRow* r) { return c.SetRowAdminPassword(r, "p\"w&<"); },
       {{"SetDVRConfig", 101, 223,
         "<UserConfig><Account Username=\"admin\" Password=\"p&quot;w&amp;&lt;\" Group=\"Administrator\""
         " Status=\"Enable\" /></UserConfig>"}},
       "MSGTIP40", "MSGTIP41", nullptr},
      {"FormatRowSdCard", [](DeviceCommands& c, DeviceListRow* r) { return c.FormatRowSdCard(r); },
       {{"SystemControl", 101, 1017, "<REQUEST_PARAM DevName=\"sd1\" />\n"}}, "MSGTIP40", "MSGTIP41", nullptr},
      {"SetRowLanguage", [](DeviceCommands& c, DeviceListRow* r) { return c.SetRowLanguage(r, "de-de"); },
       {{"SetDVRConfig", 101, 227, "<MiscConfig Language=\"de-de\" />"}}, "MSGTIP40", "MSGTIP42", nullptr},
      {"SetRowLanguageAndWeb",
       [](DeviceCommands& c, DeviceListRow* r) { return c.SetRowLanguageAndWeb(r, 3, "de-de", 1); },
       {{"SetDVRConfig", 101, 227, "<MiscConfig Language=\"en-us\" />"},
        {"SystemControl", 101, 1119, "<REQUEST_PARAM web_defalut_language=\"3\" is_KC_web=\"1\" Language=\"de-de\" />"}},
       "MSGTIP40", "MSGTIP42", nullptr},
      {"RequestTvSystemChange", [](DeviceCommands& c, DeviceListRow* r) { return c.RequestTvSystemChange(r, 2); },
       {{"GetDVRConfig", 101, 504, ""}}, "MSGTIP40", nullptr, nullptr},
      {"RequestNightModeDemo", [](DeviceCommands& c, DeviceListRow* r) { return c.RequestNightModeDemo(r); },
       {{"GetDVRConfig", 101, 504, ""}}, "MSGTIP40", nullptr, nullptr},
      {"RequestOnvifAllNetChange", [](DeviceCommands& c, DeviceListRow* r) { return c.RequestOnvifAllNetChange(r, 1); },
       {{"GetDVRConfig", 101, 305, ""}}, "MSGTIP40", nullptr, nullptr},
      {"RequestHikAccessChange", [](DeviceCommands& c, DeviceListRow* r) { return c.RequestHikAccessChange(r, 0); },
       {{"GetDVRConfig", 101, 600, ""}}, "MSGTIP40", nullptr, nullptr},
      {"RequestDhAccessChange", [](DeviceCommands& c, DeviceListRow* r) { return c.RequestDhAccessChange(r, 0); },
       {{"GetDVRConfig", 101, 600, ""}}, "MSGTIP40", nullptr, nullptr},
      {"RequestVendorAccessChange", [](DeviceCommands& c, DeviceListRow* r) { return c.RequestVendorAccessChange(r, 1); },
       {{"GetDVRConfig", 101, 600, ""}}, "MSGTIP40", nullptr, nullptr},
      {"RequestStreamAccessChange", [](DeviceCommands& c, DeviceListRow* r) { return c.RequestStreamAccessChange(r, 0); },
       {{"GetDVRConfig", 101, 600, ""}}, "MSGTIP40", nullptr, nullptr},
      {"TestRowMcu", [](DeviceCommands& c, DeviceListRow* r) { return c.TestRowMcu(r); },
       {{"SystemControl", 101, 1130, ""}}, "MSGTIP40", nullptr, nullptr},
      {"SetRowPlatformConfig",
       [](DeviceCommands& c, DeviceListRow* r) {
         return c.SetRowPlatformConfig(r, 1, "srv&1", 7000, "100,abc", "pw\"", 1, 1, 2);
       },
       {{"SetDVRConfig", 101, 670,
         "<PlatformConfig>\t <SolvenConfig Enable=\"1\" Server=\"srv&amp;1\" Port=\"7000\" Username=\"102,abc\""
         " Password=\"pw&quot;\" PlayTone=\"1\"/> </PlatformConfig>\r\n"}},
       "MSGTIP40", "MSGTIP43", nullptr},
      {"SetRowVideoEncode", [](DeviceCommands& c, DeviceListRow* r) { return c.SetRowVideoEncode(r, "<E/>"); },
       {{"SetDVRConfig", 101, 523, "<E/>"}}, "MSGTIP40", "IDS_STR_ZH_CN_SET_FAILED", nullptr},
      {"SetRowAudioEncode", [](DeviceCommands& c, DeviceListRow* r) { return c.SetRowAudioEncode(r, "<A/>"); },
       {{"SetDVRConfig", 101, 528, "<A/>"}}, "MSGTIP40", "IDS_STR_ZH_CN_SET_FAILED", nullptr},
      {"SetRowAudioCapture", [](DeviceCommands& c, DeviceListRow* r) { return c.SetRowAudioCapture(r, "<C/>"); },
       {{"SetDVRConfig", 101, 527, "<C/>"}}, "MSGTIP40", "IDS_STR_ZH_CN_SET_FAILED", nullptr},
      {"SetRowImageParam", [](DeviceCommands& c, DeviceListRow* r) { return c.SetRowImageParam(r, "<I/>"); },
       {{"SystemControl", 101, 1081, "<I/>"}}, "MSGTIP40", "SET_FAILED", nullptr},
      {"SetRowVideoCapture", [](DeviceCommands& c, DeviceListRow* r) { return c.SetRowVideoCapture(r, "<V/>"); },
       {{"SetDVRConfig", 101, 524, "<V/>"}}, "MSGTIP40", "SET_FAILED", nullptr},
      {"RequestAlarmConfigChange",
       [](DeviceCommands& c, DeviceListRow* r) { return c.RequestAlarmConfigChange(r, BatchPDSettings{}); },
       {{"GetDVRConfig", 101, 800, ""}}, "MSGTIP40", nullptr, nullptr},
      {"RequestLightChange", [](DeviceCommands& c, DeviceListRow* r) { return c.RequestLightChange(r, MediaLightConfig{}); },
       {{"GetDVRConfig", 101, 504, ""}}, "MSGTIP40", nullptr, nullptr},
      {"SetRowMotionDetect",
       [](DeviceCommands& c, DeviceListRow* r) { return c.SetRowMotionDetect(r, 1, 2, "ff&00", 50, 20); },
       {{"SetDVRConfig", 101, 822, kMotionGolden}}, "MSGTIP40", "MSGTIP45", nullptr},
      {"FactoryResetRow", [](DeviceCommands& c, DeviceListRow* r) { return c.FactoryResetRow(r); },
       {{"SystemControl", 101, 1002, ""}, {"RebootDVR", 101, 0, ""}}, "MSGTIP40", "MSGTIP35", nullptr},
      {"SetRowMaintenance", [](DeviceCommands& c, DeviceListRow* r) { return c.SetRowMaintenance(r, "<M/>"); },
       {{"SetDVRConfig", 101, 228, "<M/>"}}, "MSGTIP40", "SET_TIMINGMAINTANCE_FAILED", nullptr},
      {"SetRowTimeConfig", [](DeviceCommands& c, DeviceListRow* r) { return c.SetRowTimeConfig(r, "<T/>"); },
       {{"SetDVRConfig", 101, 222, "<T/>"}}, "MSGTIP40", "SET_TIMECONFIG_FAILED", nullptr},
      {"SetRowAlarmClock", [](DeviceCommands& c, DeviceListRow* r) { return c.SetRowAlarmClock(r, "<K/>"); },
       {{"SetDVRConfig", 101, 230, "<K/>"}}, "MSGTIP40", "SET_ALARMCLOCKCONFIG_FAILED", nullptr},
      {"SetRowP2PConfig", [](DeviceCommands& c, DeviceListRow* r) { return c.SetRowP2PConfig(r, 7); },
       {{"SetDVRConfig", 101, 335, "<P2PConfig Enable=\"1\" Type=\"0\" />\n"}}, "MSGTIP40", "SET_FAILED", nullptr},
      {"StartAudioLoopTest", [](DeviceCommands& c, DeviceListRow* r) { return c.StartAudioLoopTest(r); },
       {{"SystemControl", 101, 1102, ""}}, "MSGTIP40", "IDS_STR_ZH_CN_SET_FAILED", nullptr},
  };
}

class CommandTable : public test::CommandFixture {
 protected:
  // File calls carry the path below the documents folder.
  std::vector<SdkCall> Relative(std::vector<SdkCall> calls) {
    for (SdkCall& c : calls) {
      if (c.fn == "GetConfigFile" || c.fn == "GetFileByName")
        c.text = std::filesystem::path(c.text).lexically_relative(docs).string();
    }
    return calls;
  }
};

TEST_F(CommandTable, EveryWorkerSendsItsRequestAndWritesItsTexts) {
  DeviceListRow& row = AddRow();
  for (const WorkerCase& w : Cases()) {
    SCOPED_TRACE(w.name);
    // No record: -1 and nothing sent.
    sdk.calls.clear();
    EXPECT_EQ(w.run(*commands, nullptr), -1);
    EXPECT_TRUE(sdk.calls.empty());

    // Offline: nothing sent, nothing written.
    rows.SetCellTextIfChanged(row, discovery::kColState, kBefore);
    row.m_online = false;
    EXPECT_EQ(w.run(*commands, &row), 0);
    EXPECT_TRUE(sdk.calls.empty());
    EXPECT_EQ(Status(row), kBefore);
    row.m_online = true;

    // Not logged in.
    rows.SetLoginHandle(row, -5);
    EXPECT_EQ(w.run(*commands, &row), 0);
    EXPECT_TRUE(sdk.calls.empty());
    EXPECT_EQ(Status(row), w.notLoggedIn);
    rows.SetLoginHandle(row, 101);

    // Refused.
    rows.SetCellTextIfChanged(row, discovery::kColState, kBefore);
    sdk.result = -4;
    EXPECT_EQ(w.run(*commands, &row), 0);
    EXPECT_EQ(Relative(sdk.calls), w.calls);
    EXPECT_EQ(Status(row), w.refused ? w.refused : kBefore);
    EXPECT_EQ(row.m_tvSystemPending + row.m_allnetPending + row.m_hikPending + row.m_dhPending + row.m_krnPending +
                  row.m_onvifPending + row.m_pdPending + row.m_lightPending + row.m_ircutDemoState,
              0)
        << "a refused get marks nothing";

    // Accepted.
    rows.SetCellTextIfChanged(row, discovery::kColState, kBefore);
    sdk.calls.clear();
    sdk.result = 0;
    EXPECT_EQ(w.run(*commands, &row), 0);
    EXPECT_EQ(Relative(sdk.calls), w.calls);
    EXPECT_EQ(Status(row), w.accepted ? w.accepted : kBefore);
    sdk.calls.clear();
    discovery::ClearPendingRequests(row);
  }
}

TEST_F(CommandTable, AcceptedGetsMarkTheRowWithTheirValue) {
  DeviceListRow& row = AddRow();
  commands->RequestTvSystemChange(&row, 2);
  commands->RequestOnvifAllNetChange(&row, 1);
  commands->RequestHikAccessChange(&row, 0);
  commands->RequestDhAccessChange(&row, 1);
  commands->RequestVendorAccessChange(&row, 1);
  commands->RequestStreamAccessChange(&row, 0);
  commands->RequestNightModeDemo(&row);
  BatchPDSettings pd;
  pd.motion = 1;
  commands->RequestAlarmConfigChange(&row, pd);
  MediaLightConfig light;
  light.led_mode = 4;
  commands->RequestLightChange(&row, light);
  EXPECT_EQ(std::tie(row.m_tvSystemPending, row.m_tvSystemValue), std::make_tuple(1, 2));
  EXPECT_EQ(std::tie(row.m_allnetPending, row.m_allnetValue), std::make_tuple(1, 1));
  EXPECT_EQ(std::tie(row.m_hikPending, row.m_hikValue, row.m_dhPending, row.m_dhValue), std::make_tuple(1, 0, 1, 1));
  EXPECT_EQ(std::tie(row.m_krnPending, row.m_krnValue, row.m_onvifPending, row.m_onvifValue),
            std::make_tuple(1, 1, 1, 0));
  EXPECT_EQ(row.m_ircutDemoState, 1);
  EXPECT_EQ(row.m_pdPending, 1);
  EXPECT_EQ(row.m_pdSettings, pd);
  EXPECT_EQ(row.m_lightPending, 1);
  EXPECT_EQ(row.m_lightSettings, light);
  // A second request before the reply replaces the value.
  commands->RequestTvSystemChange(&row, 0);
  EXPECT_EQ(std::tie(row.m_tvSystemPending, row.m_tvSystemValue), std::make_tuple(1, 0));
  // A new login forgets every waiting change.
  rows.SetLoginHandle(row, 102);
  EXPECT_EQ(row.m_tvSystemPending + row.m_allnetPending + row.m_hikPending + row.m_pdPending + row.m_lightPending +
                row.m_ircutDemoState,
            0);
}

TEST_F(CommandTable, FactoryResetStillRebootsAndTheRebootTextWins) {
  DeviceListRow& row = AddRow();
  sdk.result = -4;
  commands->FactoryResetRow(&row);
  ASSERT_EQ(sdk.calls.size(), 2u);
  EXPECT_EQ(Status(row), "MSGTIP35");
}

TEST_F(CommandTable, LanguageCodesOtherThanChineseBecomeEnglishForTheDevice) {
  DeviceListRow& row = AddRow();
  commands->SetRowLanguageAndWeb(&row, 0, "zh-tw", 0);
  EXPECT_EQ(sdk.calls.at(0).text, "<MiscConfig Language=\"zh-tw\" />");
  EXPECT_EQ(sdk.calls.at(1).text, "<REQUEST_PARAM web_defalut_language=\"0\" is_KC_web=\"0\" Language=\"zh-tw\" />");
}

TEST(RequestBuilders, PlatformUserNameIncrements) {
  struct {
    const char* in;
    int on, inc;
    const char* out;
  } cases[] = {{"100,abc", 1, 2, "102,abc"}, {"100", 1, 2, "102"}, {"abc", 1, 2, "2"}, {"  -5x,y", 1, 10, "5,y"},
               {"100,abc", 0, 2, "100,abc"}, {"99999999999", 1, 1, "2147483648"}};
  for (const auto& c : cases) EXPECT_EQ(IncrementUserName(c.in, c.on, c.inc), c.out) << c.in;
}

TEST(RequestBuilders, TimeSyncText) {
  EXPECT_EQ(BuildTimeSyncRequest(134412768002500000ULL), "<REQUEST_PARAM tv_sec=\"1796803200\" tv_usec=\"250000\"/>\n");
  // The epoch itself, and one microsecond before the next second.
  EXPECT_EQ(BuildTimeSyncRequest(116444736000000000ULL), "<REQUEST_PARAM tv_sec=\"0\" tv_usec=\"0\"/>\n");
  EXPECT_EQ(BuildTimeSyncRequest(116444736000000000ULL + 19999990ULL),
            "<REQUEST_PARAM tv_sec=\"1\" tv_usec=\"999999\"/>\n");
}

TEST(RequestBuilders, TestButtonTexts) {
  EXPECT_EQ(BuildManualSpeedRequest(), "<REQUEST_PARAM manualspeed=\"5\" />\n");
  EXPECT_EQ(BuildPrivacyMaskRequest(), "<REQUEST_PARAM />\n");
  EXPECT_EQ(BuildP2PRequest(0), "<P2PConfig Enable=\"0\" Type=\"0\" />\n");
}

// Texts beyond their buffer are refused whole with the worker's failure text.
TEST_F(CommandTable, OversizeRequestsAreRefusedNotCut) {
  DeviceListRow& row = AddRow();
  OverlayConfig o = SampleOverlay();
  o.time_format = std::string(1000, '&');
  commands->SetRowOsdTitle(&row, o, {});
  EXPECT_EQ(Status(row), "MSGTIP39");
  commands->SetRowMotionDetect(&row, 1, 1, std::string(5000, 'a'), 1, 1);
  EXPECT_EQ(Status(row), "MSGTIP45");
  commands->SetRowLanguage(&row, std::string(480, '<'));
  EXPECT_EQ(Status(row), "MSGTIP42");
  EXPECT_TRUE(sdk.calls.empty());
  // Just below the limit still goes.
  EXPECT_TRUE(BuildMotionDetectRequest(1, 1, std::string(5119 - kMotionGolden.size() + 9, 'a'), 50, 20).has_value());
  EXPECT_FALSE(BuildMotionDetectRequest(1, 1, std::string(5120 - kMotionGolden.size() + 9, 'a'), 50, 20).has_value());
}

TEST(OsdTitle, OneBuilderJoinsTheChosenPartsOnce) {
  OverlayConfig o = SampleOverlay();
  DeviceSearchInfo d;
  d.deviceType = "DAV-ODUVE-NVR8";
  d.serialNumber = "SN1";
  d.lanConfig.ipAddress = "10.0.0.9";
  EXPECT_EQ(OsdTitleText(o, {}, d), "Cam1");
  EXPECT_EQ(OsdTitleText(o, {false, true, false}, d), "Cam1^10.0.0.9");
  EXPECT_EQ(OsdTitleText(o, {true, false, true}, d), "Cam1^[NVR8]^[SN1]");
  o.title_utf8_hex.clear();
  EXPECT_EQ(OsdTitleText(o, {false, true, true}, d), "10.0.0.9^[SN1]");
  EXPECT_EQ(BuildOsdTitleHex(o, {false, true, false}, d), "31302e302e302e39");
}

TEST(OsdTitle, LimitedInBytesAtACharacterBoundary) {
  OverlayConfig o;
  std::string title;
  for (int i = 0; i < 60; ++i) title += "\xE5\x89\x8D";  // three bytes each
  o.title_utf8_hex = StringToHex(std::string_view(title));
  const std::string text = OsdTitleText(o, {}, {});
  EXPECT_EQ(text.size(), 108u);  // 36 whole characters within 109 bytes
  EXPECT_EQ(text, title.substr(0, 108));
  EXPECT_EQ(BuildOsdTitleHex(o, {}, {}).size(), 216u);
}

TEST(OsdTitle, StoredTitlesThatAreNoHexReadAsEmpty) {
  EXPECT_EQ(DecodeTitleHex("43616d31"), "Cam1");
  EXPECT_EQ(DecodeTitleHex("43616D3"), "");
  EXPECT_EQ(DecodeTitleHex("zz"), "");
  EXPECT_EQ(DecodeTitleHex(""), "");
}

}  // namespace
}  // namespace kelvara::device
