// Status events and AUX replies against a recording SDK: every event text and
// flag, the alarm steps, the login steps, the reply dispatch and the
// set-after-get follow-ups with their texts.
#include <tinyxml.h>

#include <fstream>

#include "device/core/command_codes.h"
#include "device/core/device_files.h"
#include "device/core/event_texts.h"
#include "device/tests/command_fixture.h"

namespace kelvara::device {
namespace {

using discovery::DeviceListRow;
using test::SdkCall;

class Replies : public test::CommandFixture {
 protected:
  void Event(int handle, int type, std::string data = {}) { events->OnDeviceStatusEvent({handle, type, std::move(data)}); }
  void Alarm(int handle, int code, const std::string& detail, int aiKind = 0) {
    DeviceAlarmInfo a;
    a.hour = 9;
    a.minute = 8;
    a.second = 7;
    a.alarmCode = code;
    a.aiKind = aiKind;
    a.detail = detail;
    Event(handle, 23, a.ToRecord());
  }
  std::vector<SdkCall> Calls(const std::string& fn) {
    std::vector<SdkCall> out;
    for (const SdkCall& c : sdk.calls) {
      if (c.fn == fn) out.push_back(c);
    }
    return out;
  }
};

TEST_F(Replies, EventTextsAndFlags) {
  DeviceListRow& row = AddRow();
  struct {
    int type;
    const char* text;
    bool online;  // after the event (the row starts online and busy)
    bool busy;
  } cases[] = {
      {2, "MSGTIP10", false, false}, {3, "MSGTIP4", false, false}, {4, "MSGTIP1", true, true},
      {5, "MSGTIP3", false, false},  {6, "STRING_STARTTALK_OK", true, true}, {7, "", true, true},
      {8, "STRING_STOPTALK_OK", true, true}, {14, "MSG_UPGRADE", true, false}, {15, "MSGTIP7", true, false},
      {16, "MSGTIP9", true, true},   {17, "MSGTIP8", true, true},  {31, "IDS_STR_ZH_CN_USERERROR", false, false},
      {32, "MSGTIP5", true, true},   {34, "MSGTIP2", false, false}, {35, "STRING_STARTTALK_DEVBUSY", true, true},
      {36, "STRING_STARTTALK_PARAMERROR", true, true}, {37, "STRING_STARTTALK_NOTSUPPORT", true, true},
      {99, "before", true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    row.m_online = true;
    row.m_busy = true;
    row.m_tvSystemPending = 1;
    rows.SetCellTextIfChanged(row, discovery::kColState, "before");
    Event(101, c.type);
    EXPECT_EQ(Status(row), c.text);
    EXPECT_EQ(row.m_online, c.online);
    EXPECT_EQ(row.m_busy, c.busy);
    // A login that starts or ends forgets waiting changes.
    const bool loginState = c.type == 2 || c.type == 3 || c.type == 4 || c.type == 5 || c.type == 31 || c.type == 34;
    EXPECT_EQ(row.m_tvSystemPending, loginState ? 0 : 1);
  }
  // Event 14 without the busy flag.
  row.m_busy = false;
  Event(101, 14);
  EXPECT_EQ(Status(row), "MSGTIP6");
}

TEST_F(Replies, EventsForOtherHandlesTouchNoRow) {
  DeviceListRow& row = AddRow();
  rows.SetCellTextIfChanged(row, discovery::kColState, "before");
  row.m_tvSystemPending = 1;
  for (int handle : {0, -1, 555}) {
    Event(handle, 2);
    Event(handle, 4);
    Alarm(handle, 14, "x");
    Reply(handle, 504, 0, "<Video><Capture TVSystem=\"1\"/></Video>");
    Reply(handle, 524, 0, "");
  }
  EXPECT_EQ(Status(row), "before");
  EXPECT_TRUE(row.m_online);
  EXPECT_EQ(row.m_tvSystemPending, 1);
  EXPECT_TRUE(sdk.calls.empty());
}

TEST_F(Replies, AlarmTexts) {
  auto text = [](int code, int kind, const char* detail) {
    DeviceAlarmInfo a;
    a.hour = 1;
    a.minute = 2;
    a.second = 3;
    a.alarmCode = code;
    a.aiKind = kind;
    a.detail = detail;
    return AlarmText(a, [](const char* k) { return std::string(k); });
  };
  EXPECT_EQ(text(22, 1, "d"), "01:02:03 IDS_HUMANIDS_DISAPEAR:d");
  EXPECT_EQ(text(21, 13, ""), "01:02:03 ALARM_AI_VIDEO_FALLINGOBJECTIDS_ALARM:");
  EXPECT_EQ(text(21, 11, "x"), "01:02:03 ALARM_CODE_VIDEO_AIIDS_ALARM:x");
  EXPECT_EQ(text(47, 0, "/f"), "01:02:03 ALARM_CODE_FILE_READY_FOR_DOWNLOAD:/f");
  EXPECT_EQ(text(200, 0, ""), "01:02:03 ALARM_CODE_ILLEGAL_MODIFY:");
  EXPECT_EQ(text(44, 0, ""), "01:02:03 IDS_ALARM:");
  EXPECT_FALSE(text(1, 0, "").has_value());
  EXPECT_FALSE(text(2, 0, "").has_value());
  // Every code of the table has its own key.
  for (int code : {3, 10, 20, 23, 29, 33, 38, 43, 150, 154}) EXPECT_STRNE(AlarmCodeKey(code), "IDS_ALARM") << code;
}

TEST_F(Replies, AlarmRecordDetailIsBounded) {
  std::string record(168, 'A');  // no terminating zero in the text
  const DeviceAlarmInfo a = DeviceAlarmInfo::FromRecord(record);
  EXPECT_EQ(a.detail.size(), 127u);
  EXPECT_EQ(DeviceAlarmInfo::FromRecord("").alarmCode, 0);
}

TEST(EventField, Cases) {
  std::string out = "keep";
  EXPECT_EQ(GetEventField("", "@@a=", out), 0);
  EXPECT_EQ(out, "keep");
  EXPECT_EQ(GetEventField("abc", nullptr, out), 1);
  EXPECT_EQ(out, "abc");
  EXPECT_EQ(GetEventField("@@alarmjpg1=/a.jpg@@alarmjpg2=/b.jpg", "@@alarmjpg2=", out), 1);
  EXPECT_EQ(out, "/b.jpg");
  EXPECT_EQ(GetEventField("@@alarmjpg1=/a.jpg@@alarmjpg2=/b.jpg", "@@alarmjpg1=", out), 1);
  EXPECT_EQ(out, "/a.jpg");
  EXPECT_EQ(GetEventField("@@alarmjpg1=@@x", "@@alarmjpg1=", out), 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(GetEventField("none", "@@alarmjpg1=", out), 0);
  EXPECT_EQ(out, "");
}

TEST_F(Replies, AlarmShowsItsTextAndFetchesPictures) {
  DeviceListRow& row = AddRow();
  rows.SetCellTextIfChanged(row, discovery::kColState, "before");
  Alarm(101, 1, "link");
  Alarm(101, 2, "link");
  EXPECT_EQ(Status(row), "before");
  Alarm(101, 14, "@@alarmjpg2=/mnt/p2.jpg");
  EXPECT_EQ(Calls("GetFileByName"),
            (std::vector<SdkCall>{{"GetFileByName", 101, 1, (docs / "snap/10.77.1.10/alarmjpg2_20261209-080102.jpg").string(),
                                   "/mnt/p2.jpg"}}));
  EXPECT_EQ(Status(row), "FILEDOWNLOADDING");
  sdk.calls.clear();
  Alarm(101, 14, "@@alarmjpg1=/mnt/p1.jpg@@alarmjpg2=/mnt/p2.jpg");
  ASSERT_EQ(Calls("GetFileByName").size(), 2u);
  EXPECT_EQ(Calls("GetFileByName")[0].text, (docs / "snap/10.77.1.10/alarmjpg1_20261209-080102.jpg").string());
  // The same second again: the earlier picture is not replaced.
  EXPECT_EQ(Calls("GetFileByName")[1].text, (docs / "snap/10.77.1.10/alarmjpg2_20261209-080102_1.jpg").string());
}

TEST_F(Replies, AnnouncedFilesAndSnapshotsOnlyWhenAskedFor) {
  DeviceListRow& row = AddRow();
  Alarm(101, 47, "/rec/a.mp4");
  Alarm(101, 23, "/snap/s.jpg");
  EXPECT_TRUE(Calls("GetFileByName").empty());
  row.m_timelapsePending = 1;
  row.m_recordExportPending = 1;
  Alarm(101, 47, "/rec/a.mp4");
  EXPECT_EQ(row.m_timelapsePending, 0);
  EXPECT_EQ(row.m_recordExportPending, 1);
  Alarm(101, 47, "/rec/b.mp4");
  EXPECT_EQ(row.m_recordExportPending, 0);
  row.m_snapshotPending = 1;
  row.m_snapshotTime = 77;
  Alarm(101, 23, "/snap/s.jpg");
  EXPECT_EQ(row.m_snapshotPending, 0);
  EXPECT_EQ(row.m_snapshotTime, 0);
  const auto calls = Calls("GetFileByName");
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].text, (docs / "10.77.1.10/a.mp4").string());
  EXPECT_EQ(calls[1].text, (docs / "10.77.1.10/b.mp4").string());
  EXPECT_EQ(calls[2].text, (docs / "snap/10.77.1.10/s.jpg").string());
}

TEST_F(Replies, FocusResultsGoToTheFocusDialogOnly) {
  struct Focus : FocusDialog {
    bool Exists() const override { return true; }
    void OnFocusResult(int h, const std::string& d) override {
      handle = h;
      got = d;
    }
    int handle = 0;
    std::string got;
  } focus;
  DeviceCommands::Options o;
  o.sdk = &sdk;
  o.lookup = [](const char* k) { return std::string(k); };
  o.seams.focus = &focus;
  AddRow();
  DeviceCommands c(rows, o);
  AuxReplyHandler r(c);
  StatusEventHandler e(c, r);
  DeviceAlarmInfo a;
  a.alarmCode = 201;
  a.detail = "{mfocus:12}@@alarmjpg1=/x.jpg";
  e.OnDeviceStatusEvent({101, 23, a.ToRecord()});
  EXPECT_EQ(focus.got, a.detail);
  EXPECT_EQ(focus.handle, 101);
  EXPECT_TRUE(sdk.calls.empty());
}

TEST_F(Replies, LoginStepsInOrder) {
  struct Login : LoginActions {
    void AutoUploadDefaultConfig(int h) override { seen += "default" + std::to_string(h) + " "; }
    void AutoUploadConfig(int) override { seen += "config "; }
    void AutoUpgrade(int) override { seen += "upgrade "; }
    void OpenDeviceSlog(int) override { seen += "slog"; }
    std::string seen;
  } login;
  DeviceCommands::Options o;
  o.sdk = &sdk;
  o.lookup = [](const char* k) { return std::string(k); };
  o.fileTimeNow = [] { return 134412768002500000ULL; };
  o.seams.login = &login;
  DeviceListRow& row = AddRow();
  row.m_imported = 1;
  DeviceCommands c(rows, o);
  AuxReplyHandler r(c);
  StatusEventHandler e(c, r);
  sdk.result = 0;
  e.OnDeviceStatusEvent({101, 4, ""});
  EXPECT_EQ(sdk.calls, (std::vector<SdkCall>{
                           {"SystemControl", 101, 1064, "<REQUEST_PARAM tv_sec=\"1796803200\" tv_usec=\"250000\"/>\n"},
                           {"SystemControl", 101, 1012, "RESPONSE_PARAM"},
                           {"SystemControl", 101, 1020, "RESPONSE_PARAM"},
                           {"SystemControl", 101, 1019, "RESPONSE_PARAM"},
                           {"SystemControl", 101, 1095, "RESPONSE_PARAM"},
                           {"SystemControl", 101, 1014, ""},
                           {"GetDVRConfig", 101, 505, ""},
                       }));
  EXPECT_EQ(login.seen, "default101 config upgrade slog");
  EXPECT_EQ(Status(row), "MSGTIP1");
  // A refused version query shows in the version column.
  sdk.result = -4;
  sdk.calls.clear();
  e.OnDeviceStatusEvent({101, 4, ""});
  EXPECT_EQ(Cell(row, discovery::kColVersion), "MSGTIP34");
  EXPECT_EQ(Cell(row, discovery::kColTitle), "OSD_FETCH_FAILED");
}

TEST_F(Replies, OnlyARequestedConfigDownloadIsResaved) {
  DeviceListRow& row = AddRow();
  commands->DownloadConfigFile(&row);
  const std::string asked = sdk.calls.at(0).text;
  std::ofstream(asked) << "<DEVICE_CONFIG><BLOCK Code=\"504\"/></DEVICE_CONFIG>";
  const auto other = docs / "config_OTHER_1.2.3.4.dev.xml";
  std::ofstream(other) << "<X/>";
  Event(101, 16, "<RESPONSE_PARAM LocalFileName=\"" + other.string() + "\" />");
  EXPECT_FALSE(std::filesystem::exists(docs / "config_OTHER_1.2.3.4.xml"));
  Event(101, 16, "<RESPONSE_PARAM LocalFileName=\"" + asked + "\" />");
  const auto resaved = docs / "config_ZQ0001ABC_10.77.1.10.xml";
  ASSERT_TRUE(std::filesystem::exists(resaved));
  EXPECT_TRUE(std::filesystem::exists(asked));
  // Reported once more: not asked for any longer, nothing rewritten.
  std::filesystem::remove(resaved);
  Event(101, 16, "<RESPONSE_PARAM LocalFileName=\"" + asked + "\" />");
  EXPECT_FALSE(std::filesystem::exists(resaved));
}

TEST(DeviceFiles, NamesFromDevicesStayBelowTheDocumentsFolder) {
  const std::filesystem::path docs = "/home/u/Documents/Kelvara";
  auto taken = [](const std::filesystem::path&) { return false; };
  struct {
    const char* ip;
    const char* devicePath;
    const char* local;
    const char* expected;
  } cases[] = {
      {"10.0.0.5", "/mnt/alarm/a.jpg", "", "snap/10.0.0.5/a.jpg"},
      {"10.0.0.5", "C:\\dir\\b.jpg", "", "snap/10.0.0.5/b.jpg"},
      {"10.0.0.5", "rec.mp4", "", "10.0.0.5/rec.mp4"},
      {"10.0.0.5", "/x/../../etc/passwd", "", "passwd"},
      {"10.0.0.5", "/x/..", "", "_."},
      {"10.0.0.5", "/x/", "", "_"},
      {"10.0.0.5", "/x/y", "../../z.jpg", "snap/10.0.0.5/_._.._z.jpg"},
      {"10.0.0.5", "/x/.jpg", "", "_jpg"},
      {"../../x", "/a.jpg", "", "snap/a.jpg"},
      {"10.0.0.999", "/a.mp4", "", "a.mp4"},
  };
  for (const auto& c : cases) {
    const auto p = DeviceFileDownloadPath(docs, c.ip, c.devicePath, c.local, taken);
    EXPECT_EQ(p.lexically_relative(docs).string(), c.expected) << c.devicePath << " " << c.local;
  }
  int calls = 0;
  const auto p = DeviceFileDownloadPath(docs, "10.0.0.5", "/a.jpg", "", [&](const std::filesystem::path& q) {
    ++calls;
    return q.filename() != "a_2.jpg";
  });
  EXPECT_EQ(p.filename(), "a_2.jpg");
  EXPECT_EQ(calls, 3);
}

// --- AUX replies ---

TEST_F(Replies, SetRepliesShowTheirResult) {
  DeviceListRow& row = AddRow();
  struct {
    int command;
    int result;
    const char* text;
  } cases[] = {{524, 0, "SET_OK"}, {681, 1, "SET_FAILED"}, {220, 0, "SET_OK"}, {849, 2, "SET_FAILED"},
               {1017, 0, "SET_OK"}, {680, 0, "before"},  {620, 1, "before"}, {250, 0, "before"},
               {1130, 1, "before"}};
  for (const auto& c : cases) {
    rows.SetCellTextIfChanged(row, discovery::kColState, "before");
    Reply(101, c.command, c.result, "");
    EXPECT_EQ(Status(row), c.text) << c.command;
  }
}

TEST_F(Replies, VersionAndLoginTexts) {
  DeviceListRow& row = AddRow();
  rows.SetCellTextIfChanged(row, discovery::kColVersion, "v11");
  rows.SetCellTextIfChanged(row, discovery::kColModule4gVersion, "v13");
  Reply(101, 1012, 0, "<RESPONSE_PARAM McuVersion=\"MCU_9\" />");
  EXPECT_EQ(Cell(row, discovery::kColVersion), "v11");
  EXPECT_EQ(Cell(row, discovery::kColAfVersion), "MCU_9");
  EXPECT_EQ(Cell(row, discovery::kColModule4gVersion), "v13");
  Reply(101, 1020, 0, "<RESPONSE_PARAM only_audio=\"1\" />");
  EXPECT_NE(row.m_abilityText.find("only_audio"), std::string::npos);
  Reply(101, 1095, 0, "FS_3");
  EXPECT_EQ(row.m_fsVersion, "FS_3");
  Reply(101, 1019, 0, "SN-LOGIN");
  EXPECT_EQ(row.m_loginSerial, "SN-LOGIN");
}

TEST_F(Replies, StorageTexts) {
  DeviceListRow& row = AddRow();
  auto storage = [&](const std::string& attrs) {
    Reply(101, 1014, 0, "<STORAGE_INFO><Storage DevName=\"usb\" Status=\"82\"/><Storage DevName=\"sd2\" " + attrs +
                            "/></STORAGE_INFO>");
    return Cell(row, discovery::kColSdCard);
  };
  EXPECT_EQ(storage("Status=\"0\" Mounted=\"1\" Total=\"9\""), "Storage_NONE;");
  EXPECT_EQ(storage("Status=\"1\" Mounted=\"1\" Total=\"0\""), "Storage_OK;IDS_STR_ZH_CN_STORAGE_TIPS9;");
  EXPECT_EQ(storage("Status=\"85\" Mounted=\"0\" Total=\"100\" Used=\"40\" Free=\"60\" Percent=\"40\""),
            "Storage_NeedPartition;IDS_STR_ZH_CN_STORAGE_TIPS11;IDS_STR_ZH_CN_STORAGE_TIPS5:100(MB);"
            "IDS_STR_ZH_CN_STORAGE_TIPS6:40(MB);IDS_STR_ZH_CN_STORAGE_TIPS7:60(MB);IDS_STR_ZH_CN_STORAGE_TIPS8:40%;");
  EXPECT_EQ(storage("Mounted=\"1\""), "Storage_UNKNOWN;IDS_STR_ZH_CN_STORAGE_TIPS9;");
  // Unreadable replies change nothing.
  Reply(101, 1014, 0, "<STORAGE_INFO><Storage DevName=\"usb\"/></STORAGE_INFO>");
  Reply(101, 1014, 0, "<broken");
  EXPECT_EQ(Cell(row, discovery::kColSdCard), "Storage_UNKNOWN;IDS_STR_ZH_CN_STORAGE_TIPS9;");
}

TEST_F(Replies, OsdTitleOfImportedDevices) {
  DeviceListRow& row = AddRow();
  replies->RequestOsdTitle(101);
  EXPECT_TRUE(sdk.calls.empty()) << "not imported";
  row.m_imported = 1;
  replies->RequestOsdTitle(101);
  EXPECT_EQ(sdk.calls, (std::vector<SdkCall>{{"GetDVRConfig", 101, 505, ""}}));
  const std::string overlay = "<Overlay Enable=\"1\"><TitleOverlay TitleUtf8=\"e5898de997a8\"/></Overlay>";
  Reply(101, 505, 0, overlay);
  EXPECT_EQ(Cell(row, discovery::kColTitle), "\xE5\x89\x8D\xE9\x97\xA8");
  Reply(101, 505, 0, "<Overlay Enable=\"1\"><TitleOverlay TitleUtf8=\"e5898\"/></Overlay>");
  EXPECT_EQ(Cell(row, discovery::kColTitle), "OSD_TITLE_NONE");
  for (const auto& [result, text] : std::vector<std::pair<int, std::string>>{{1, overlay}, {0, ""}, {0, "<Video/>"}}) {
    rows.SetCellTextIfChanged(row, discovery::kColTitle, "x");
    Reply(101, 505, result, text);
    EXPECT_EQ(Cell(row, discovery::kColTitle), "OSD_FETCH_FAILED");
  }
}

const std::string kCapture =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Video><Capture TVSystem=\"1\" IrcutMode=\"2\" Vendor=\"x&amp;y\""
    " RecordBytes=\"00ff7f\" face_exposure_sensitivity=\"3\"><SmartIr Level=\"4\"/></Capture></Video>";

TEST_F(Replies, TvSystemKeepsWhatItDoesNotKnow) {
  DeviceListRow& row = AddRow();
  commands->RequestTvSystemChange(&row, 0);
  sdk.calls.clear();
  Reply(101, 504, 0, kCapture);
  ASSERT_EQ(sdk.calls.size(), 1u);
  EXPECT_EQ(sdk.calls[0], (SdkCall{"SetDVRConfig", 101, 524,
                                   "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><Video><Capture TVSystem=\"0\""
                                   " IrcutMode=\"2\" Vendor=\"x&amp;y\" RecordBytes=\"00ff7f\""
                                   " face_exposure_sensitivity=\"3\"><SmartIr Level=\"4\" /></Capture></Video>"}));
  EXPECT_EQ(Status(row), "MSG_SET_TVSYSTEM_OK");
  EXPECT_EQ(row.m_tvSystemPending, 0);
  // No change waits: the next reply writes nothing.
  Reply(101, 504, 0, kCapture);
  EXPECT_EQ(sdk.calls.size(), 1u);
  // The value is an 8-bit member: 257 is written as 1, which the device has.
  commands->RequestTvSystemChange(&row, 257);
  Reply(101, 504, 0, kCapture);
  EXPECT_EQ(Status(row), "MSG_SET_TVSYSTEM_NOTCHANGE");
}

TEST_F(Replies, FailedGetsWriteNothing) {
  DeviceListRow& row = AddRow();
  struct {
    int command;
    int result;
    const char* text;
    std::function<void()> request;
    const char* status;
  } cases[] = {
      {504, 3, kCapture.c_str(), [&] { commands->RequestTvSystemChange(&row, 0); }, "MSG_SET_TVSYSTEM_FAILED"},
      {504, 0, "<Video><Capture TVSystem=\"1\"", [&] { commands->RequestLightChange(&row, {}); }, "SET_FAILED"},
      {504, 0, "<Audio/>", [&] { commands->RequestNightModeDemo(&row); }, "MSG_SET_IRCUT_FAILED"},
      {305, 255, "", [&] { commands->RequestOnvifAllNetChange(&row, 1); }, "MSG_SET_ONVIFALLNET_FAILED"},
      {305, 0, "<LANConfig ALLNET=\"0\" IPAddress=\"0.0.0.0\"", [&] { commands->RequestOnvifAllNetChange(&row, 1); },
       "MSG_SET_ONVIFALLNET_FAILED"},
      {600, 1, "<MediaStreamConfig><StreamAccess enable_hik=\"1\"/></MediaStreamConfig>",
       [&] { commands->RequestHikAccessChange(&row, 0); }, "SET_FAILED"},
      {600, 0, "<MediaStreamConfig><StreamAccess", [&] { commands->RequestHikAccessChange(&row, 0); }, "SET_FAILED"},
      {800, 254, "", [&] { commands->RequestAlarmConfigChange(&row, {}); }, "SET_FAILED"},
      {800, 0, "<Alarm><PDAlarm", [&] { commands->RequestAlarmConfigChange(&row, {}); }, "SET_FAILED"},
  };
  // Each tells the batch job that its change was not made.
  std::vector<std::pair<int, int>> notMade;
  replies->onChangeNotMade = [&](int h, int command) { notMade.emplace_back(h, command); };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    c.request();
    sdk.calls.clear();
    notMade.clear();
    Reply(101, c.command, c.result, c.text);
    EXPECT_TRUE(sdk.calls.empty());
    EXPECT_EQ(Status(row), c.status);
    EXPECT_EQ(row.m_tvSystemPending + row.m_lightPending + row.m_ircutDemoState + row.m_allnetPending +
                  row.m_hikPending + row.m_pdPending,
              0);
    EXPECT_EQ(notMade, (std::vector<std::pair<int, int>>{{101, c.command}}));
  }
}

TEST_F(Replies, RefusedSetsAreChangesNotMade) {
  // A readable get whose set the SDK refuses made no change; a device that
  // already holds the value needs none and is no failure.
  DeviceListRow& row = AddRow();
  const std::string pd = "<Alarm><PDAlarm Enable=\"0\"/><MDAlarm Enable=\"0\"/><AudioAlarm Enable=\"0\"/></Alarm>";
  struct {
    int get, set;
    std::string text;
    std::function<void()> request;
    bool refused;
  } cases[] = {
      {504, 524, kCapture, [&] { commands->RequestTvSystemChange(&row, 0); }, true},
      {504, 524, kCapture, [&] { commands->RequestTvSystemChange(&row, 1); }, false},
      {504, 524, kCapture, [&] { commands->RequestLightChange(&row, {}); }, true},
      {504, 524, kCapture, [&] { commands->RequestNightModeDemo(&row); }, true},
      {504, SYS_CTRL_SET_IRCUT_MODE, kCapture, [&] { commands->RequestNightModeDemo(&row); }, true},
      {305, 325, "<LANConfig ALLNET=\"0\"/>", [&] { commands->RequestOnvifAllNetChange(&row, 1); }, true},
      {305, 325, "<LANConfig ALLNET=\"1\"/>", [&] { commands->RequestOnvifAllNetChange(&row, 1); }, false},
      {600, 620, "<MediaStreamConfig><StreamAccess enable_dh=\"1\"/></MediaStreamConfig>",
       [&] { commands->RequestDhAccessChange(&row, 0); }, true},
      {600, 620, "<MediaStreamConfig><StreamAccess enable_dh=\"1\"/></MediaStreamConfig>",
       [&] { commands->RequestDhAccessChange(&row, 1); }, false},
      {800, 827, pd, [&] { commands->RequestAlarmConfigChange(&row, {}); }, true},
  };
  int notMade = 0;
  replies->onChangeNotMade = [&](int, int) { ++notMade; };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.get) + " " + std::to_string(c.set) + " " + std::to_string(c.refused));
    sdk.failCode = -1;
    row.m_ircutDemoState = 0;
    c.request();
    sdk.failCode = c.set;
    notMade = 0;
    Reply(101, c.get, 0, c.text);
    EXPECT_EQ(notMade, c.refused ? 1 : 0);
  }
  sdk.failCode = -1;
}

TEST_F(Replies, ChangesWaitingForOneReplyGoOutOnce) {
  struct Intercom : IntercomDialog {
    bool Exists() const override { return true; }
    void OnConfigReply(int h, int command, int, const std::string&) override { replies.push_back({h, command}); }
    bool TakeVideoCaptureEdits(int, std::vector<AttributeEdit>& edits) override {
      if (!flips) return false;
      edits = {{"HFlip", 1}, {"VFlip", 1}};
      flips = false;
      return true;
    }
    void OnVideoCaptureWritten(int, int result) override { written = result; }
    std::vector<std::pair<int, int>> replies;
    bool flips = true;
    int written = 99;
  } intercom;
  DeviceCommands::Options o;
  o.sdk = &sdk;
  o.lookup = [](const char* k) { return std::string(k); };
  o.seams.intercom = &intercom;
  DeviceListRow& row = AddRow();
  DeviceCommands c(rows, o);
  AuxReplyHandler r(c);
  MediaLightConfig light;
  light.led_mode = 5;
  light.startTime = {23, 5, 9};
  c.RequestLightChange(&row, light);
  c.RequestTvSystemChange(&row, 2);
  c.RequestNightModeDemo(&row);
  sdk.calls.clear();
  r.OnDeviceAuxResponse({101, 0, 504, kCapture});
  EXPECT_EQ(intercom.replies, (std::vector<std::pair<int, int>>{{101, 504}}));
  ASSERT_EQ(sdk.calls.size(), 2u);
  const std::string& sent = sdk.calls[0].text;
  EXPECT_EQ(sdk.calls[0].code, 524);
  for (const char* part : {"TVSystem=\"2\"", "led_mode=\"5\"", "IrcutNightStartTime=\"23:05:09\"", "HFlip=\"1\"",
                           "VFlip=\"1\"", "IrcutMode=\"3\"", "RecordBytes=\"00ff7f\"", "<SmartIr Level=\"4\" />"}) {
    EXPECT_NE(sent.find(part), std::string::npos) << part;
  }
  EXPECT_EQ(sdk.calls[1], (SdkCall{"SystemControl", 101, 1046, "<REQUEST_PARAM Mode=\"NightMode\" />\n"}));
  EXPECT_EQ(intercom.written, 0);
  EXPECT_EQ(row.m_ircutDemoState, 3);
  EXPECT_EQ(Status(row), "MSG_SET_IRCUT_OK");
  // The kept block has the light's own IR-cut mode, not the demonstration's.
  EXPECT_NE(row.m_videoCaptureBlock.find("IrcutMode=\"0\""), std::string::npos);
  EXPECT_NE(row.m_videoCaptureBlock.find("TVSystem=\"2\""), std::string::npos);
  // Other handles' replies still reach the dialog.
  r.OnDeviceAuxResponse({555, 0, 507, "<Capture/>"});
  EXPECT_EQ(intercom.replies.back(), (std::pair<int, int>{555, 507}));
}

TEST(VideoCaptureRecord, MembersAtTheirOwnWidth) {
  std::array<std::uint8_t, 140> record;
  record.fill(0xAA);
  TiXmlElement cap("Capture");
  cap.SetAttribute("TVSystem", 300);
  cap.SetAttribute("IrcutMode", -2);
  cap.SetAttribute("led_brightness_alarm", 4095);
  cap.SetAttribute("IrcutNightStartTime", "23:59:58");
  cap.SetAttribute("IrcutNightEndTime", "25:00:00");  // not a time: kept
  cap.SetAttribute("light_off_sensitivity", 65535);
  FillVideoCaptureRecord(cap, record);
  EXPECT_EQ(record[16], 300 & 0xFF);
  EXPECT_EQ(record[17], 0xAA);
  EXPECT_EQ(record[108], 0xFE);
  EXPECT_EQ(record[111], 0xFF);
  EXPECT_EQ(record[112], 0xAA);
  EXPECT_EQ(record[116], 0xFF);
  EXPECT_EQ(record[117], 23);
  EXPECT_EQ(record[119], 58);
  EXPECT_EQ(record[120], 0xAA);
  EXPECT_EQ(record[136], 0xFF);
  EXPECT_EQ(record[137], 0xAA);
}

TEST_F(Replies, StreamSwitchesAlreadySetNeedNoWrite) {
  DeviceListRow& row = AddRow();
  commands->RequestHikAccessChange(&row, 1);
  sdk.calls.clear();
  Reply(101, 600, 0, "<MediaStreamConfig><StreamAccess enable_hik=\"1\" enable_dh=\"0\"/></MediaStreamConfig>");
  EXPECT_TRUE(sdk.calls.empty());
  EXPECT_EQ(Status(row), "SET_OK");
  commands->RequestHikAccessChange(&row, 0);
  commands->RequestStreamAccessChange(&row, 0);
  commands->RequestDhAccessChange(&row, 1);
  sdk.calls.clear();
  Reply(101, 600, 0, "<MediaStreamConfig><StreamAccess enable_hik=\"1\" enable_dh=\"0\" enable_onvif=\"0\" X=\"y\"/>"
                     "</MediaStreamConfig>");
  EXPECT_EQ(sdk.calls, (std::vector<SdkCall>{{"SetDVRConfig", 101, 620,
                                              "<MediaStreamConfig><StreamAccess enable_hik=\"0\" enable_dh=\"1\""
                                              " enable_onvif=\"0\" X=\"y\" /></MediaStreamConfig>"}}));
}

TEST_F(Replies, AlarmReplyEnablesMotionDetectionOnlyWhenChosen) {
  DeviceListRow& row = AddRow();
  const std::string block =
      "<AlarmConfig><PDAlarm Enable=\"1\" TargetFlags=\"17\" Extra=\"e\"><Region Count=\"1\"><Point X=\"5\" Y=\"5\"/>"
      "</Region></PDAlarm><AudioAlarm Enable=\"1\" AlarmEnable=\"1\"/><MDAlarm Enable=\"1\"/></AlarmConfig>";
  auto run = [&](BatchPDSettings pd) {
    commands->RequestAlarmConfigChange(&row, pd);
    sdk.calls.clear();
    Reply(101, 800, 0, block);
    std::map<int, std::string> sent;
    for (const SdkCall& c : sdk.calls) {
      EXPECT_EQ(c.fn, "SetDeviceConfig");
      sent[c.code] = c.text;
    }
    return sent;
  };
  BatchPDSettings pd;
  pd.alarm_schedule = 1;
  pd.motion = 0;
  pd.sound = 1;
  auto sent = run(pd);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_NE(sent[822].find("<MDAlarm Enable=\"0\""), std::string::npos) << "field 1 alone does not enable it";
  EXPECT_NE(sent[827].find("Enable=\"1\" AlarmEnable=\"1\""), std::string::npos);
  EXPECT_NE(sent[829].find("Extra=\"e\""), std::string::npos);
  EXPECT_NE(sent[829].find("<Point X=\"5\" Y=\"5\" />"), std::string::npos) << "region kept";
  pd.motion = 1;
  pd.sound = 0;
  pd.human = 0;
  pd.vehicle = 0;
  pd.reset_region = 1;
  sent = run(pd);
  EXPECT_NE(sent[822].find("<MDAlarm Enable=\"1\""), std::string::npos);
  EXPECT_NE(sent[827].find("Enable=\"0\" AlarmEnable=\"0\""), std::string::npos);
  EXPECT_NE(sent[829].find("<PDAlarm Enable=\"0\" TargetFlags=\"0\""), std::string::npos) << "no target: off";
  EXPECT_NE(sent[829].find("<Region Count=\"4\"><Point X=\"0\" Y=\"0\" /><Point X=\"100\" Y=\"0\" />"
                           "<Point X=\"100\" Y=\"100\" /><Point X=\"0\" Y=\"100\" /></Region>"),
            std::string::npos);
  pd.alarm_schedule = 0;
  pd.human = 1;
  pd.sound = 1;
  sent = run(pd);
  EXPECT_NE(sent[822].find("<MDAlarm Enable=\"0\""), std::string::npos);
  EXPECT_NE(sent[827].find("Enable=\"0\" AlarmEnable=\"0\""), std::string::npos);
  EXPECT_NE(sent[829].find("<PDAlarm Enable=\"1\""), std::string::npos) << "schedule 0 keeps the device's value";
}

TEST_F(Replies, AlarmReplyShowsSuccessOnlyWhenAllThreeWritesSucceed) {
  DeviceListRow& row = AddRow();
  const std::string block = "<AlarmConfig><PDAlarm Enable=\"1\"/><AudioAlarm Enable=\"1\"/><MDAlarm Enable=\"1\"/></AlarmConfig>";
  for (int failing : {-1, 829, 822, 827}) {
    sdk.failCode = failing;
    commands->RequestAlarmConfigChange(&row, BatchPDSettings{});
    Reply(101, 800, 0, block);
    EXPECT_EQ(Status(row), failing < 0 ? "SET_OK" : "SET_FAILED") << failing;
  }
  sdk.failCode = -1;
  commands->RequestAlarmConfigChange(&row, BatchPDSettings{});
  Reply(101, 800, 0, "<AlarmConfig><PDAlarm Enable=\"1\"/><MDAlarm Enable=\"1\"/></AlarmConfig>");
  EXPECT_EQ(Status(row), "SET_FAILED") << "a missing part is a failed write";
}

TEST_F(Replies, AllNetReply) {
  DeviceListRow& row = AddRow();
  commands->RequestOnvifAllNetChange(&row, 1);
  sdk.calls.clear();
  Reply(101, 305, 0, "<LANConfig ALLNET=\"1\" IPAddress=\"10.77.1.10\"/>");
  EXPECT_TRUE(sdk.calls.empty());
  EXPECT_EQ(Status(row), "MSG_SET_ONVIFALLNET_NOTCHANGE");
  commands->RequestOnvifAllNetChange(&row, 1);
  sdk.result = -4;
  Reply(101, 305, 0, "<LANConfig ALLNET=\"0\" IPAddress=\"10.77.1.10\" MTU=\"1500\"/>");
  EXPECT_EQ(sdk.calls.back(),
            (SdkCall{"SetDVRConfig", 101, 325, "<LANConfig ALLNET=\"1\" IPAddress=\"10.77.1.10\" MTU=\"1500\" />"}));
  EXPECT_EQ(Status(row), "MSG_SET_ONVIFALLNET_FAILED");
}

TEST_F(Replies, DirectCommands) {
  struct Net : NetworkCommands {
    bool GetOperatorAuth(discovery::OperatorAuth& a) override {
      a = {"op", "pw"};
      return allow;
    }
    long RebootDevByBD(const std::string& serial, const discovery::OperatorAuth& a) override {
      sent.push_back(serial + ":" + a.userName);
      return 0;
    }
    bool allow = true;
    std::vector<std::string> sent;
  } net;
  int broadcastOnly = 0;
  bool yes = true;
  std::string error;
  DeviceCommands::Options o;
  o.sdk = &sdk;
  o.lookup = [](const char* k) { return std::string(k); };
  o.seams.network = &net;
  o.broadcastRebootSwitch = [&] { return broadcastOnly; };
  o.defaultLogin = [] { return discovery::OperatorAuth{"admin", "d"}; };
  o.confirm = [&](const char*, const char*) { return yes; };
  o.errorBox = [&](const char* key) { error = key; };
  DeviceListRow& row = AddRow();
  DeviceCommands c(rows, o);

  c.RebootSelectedRow(&row);
  EXPECT_EQ(Calls("RebootDVR").size(), 1u);
  EXPECT_EQ(net.sent, (std::vector<std::string>{"ZQ0001ABC:admin"}));
  row.m_online = false;
  c.RebootSelectedRow(&row);
  EXPECT_EQ(Calls("RebootDVR").size(), 1u) << "offline: broadcast only";
  EXPECT_EQ(net.sent.size(), 2u);
  row.m_online = true;
  broadcastOnly = 1;
  c.RebootSelectedRow(&row);
  EXPECT_EQ(Calls("RebootDVR").size(), 1u);
  EXPECT_EQ(net.sent.back(), "ZQ0001ABC:op");

  c.BatchSyncTime({});
  EXPECT_EQ(error, "MSGTIP17");
  sdk.calls.clear();
  c.BatchSyncTime({&row});
  EXPECT_EQ(Calls("SystemControl").at(0).code, 1064);

  // The test buttons go to every checked row, whatever its state.
  sdk.calls.clear();
  row.m_online = false;
  rows.SetLoginHandle(row, -3);
  c.SendToChecked({&row}, SYS_CTRL_PRIVACY_MASK, "<REQUEST_PARAM />\n");
  EXPECT_EQ(sdk.calls, (std::vector<SdkCall>{{"SystemControl", -3, 1118, "<REQUEST_PARAM />\n"}}));

  // Configuration upload.
  rows.SetLoginHandle(row, 101);
  row.m_online = true;
  EXPECT_EQ(c.UploadConfigFile(nullptr, "/f"), -1);
  c.UploadConfigFile(&row, "/f");
  EXPECT_EQ(Status(row), "MSGTIP32");
  sdk.result = -4;
  c.UploadConfigFile(&row, "/f");
  EXPECT_EQ(Status(row), "MSGTIP31");
  // Not logged in: its text goes by handle, and a handle of 0 names no row.
  sdk.calls.clear();
  rows.SetLoginHandle(row, 0);
  c.UploadConfigFile(&row, "/f");
  EXPECT_TRUE(sdk.calls.empty());
  EXPECT_EQ(Status(row), "MSGTIP31");
}

}  // namespace
}  // namespace kelvara::device
