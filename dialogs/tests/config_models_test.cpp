// The configuration dialogs' models: position codes both ways, request and
// XML texts byte for byte, and OK's checks with their exact messages.
#include <gtest/gtest.h>

#include "dialogs/core/audio_models.h"
#include "dialogs/core/clock_models.h"
#include "dialogs/core/detection_models.h"
#include "dialogs/core/number_fields.h"
#include "dialogs/core/osd_title_model.h"
#include "dialogs/core/preset_tour_model.h"

namespace kelvara::dialogs {
namespace {

TEST(NumberFields, StrictReading) {
  const struct {
    const char* text;
    std::optional<int> value;
  } cases[] = {{"0", 0},        {"-1", -1},   {" 42 ", 42},         {"abc", std::nullopt}, {"", std::nullopt},
               {"12a", std::nullopt}, {"-", std::nullopt}, {"2147483647", 2147483647}, {"2147483648", std::nullopt},
               {"-2147483648", -2147483647 - 1}, {"99999999999999999999", std::nullopt}};
  for (const auto& c : cases) EXPECT_EQ(ParseIntField(c.text), c.value) << c.text;
  EXPECT_EQ(ParseIntFieldIn("65536", 1, 65535), std::nullopt);
}

TEST(OsdTitleModel, PositionCodesBothWays) {
  const struct {
    int x, y, data;
  } open[] = {{0, 0, 0}, {1, 0, 1}, {0, 1, 2}, {1, 1, 3}, {2, 2, 5}, {2, 0, 1}, {0, 2, 5}, {1, 2, 5}, {7, 1, 3}};
  for (const auto& c : open) EXPECT_EQ(OsdPositionData(c.x, c.y), c.data) << c.x << "," << c.y;
  EXPECT_EQ(OsdPositionFor(0), (OsdPosition{0, 0}));
  EXPECT_EQ(OsdPositionFor(1), (OsdPosition{1, 0}));
  EXPECT_EQ(OsdPositionFor(2), (OsdPosition{0, 1}));
  EXPECT_EQ(OsdPositionFor(3), (OsdPosition{1, 1}));
  EXPECT_EQ(OsdPositionFor(5), (OsdPosition{2, 2}));
  EXPECT_EQ(OsdPositionFor(4), (OsdPosition{0, 0}));
  // (2, 0) reopens as data 1 and is stored as (1, 0); (0, 2) as (2, 2).
  EXPECT_EQ(OsdPositionFor(OsdPositionData(2, 0)), (OsdPosition{1, 0}));
  EXPECT_EQ(OsdPositionFor(OsdPositionData(0, 2)), (OsdPosition{2, 2}));
}

TEST(OsdTitleModel, RecordRoundTrip) {
  OverlayConfig r;
  r.enable = 1;
  r.transparency = 2;
  r.time_format = "no such format";
  r.time_pos_x = 1;
  r.title_pos_y = 1;
  r.title_utf8_hex = "43616d31";  // Cam1
  r.style = 6;
  r.week = 1;
  r.font_size = 2;
  r.time24or12 = 1;
  r.time_pos_type = 9;
  OsdControlValues v = OsdControlsFromRecord(r);
  EXPECT_EQ(v.title, "Cam1");
  EXPECT_EQ(v.timeFormat, 0);
  EXPECT_EQ(v.timePosition, 1);
  EXPECT_EQ(v.titlePosition, 2);
  OverlayConfig back = OsdRecordFromControls(v);
  EXPECT_EQ(back.time_format, "yyyy-mm-dd hh:mm:ss");
  EXPECT_EQ(back.time_pos_type, 0) << "the record is cleared first";
  r.time_format = "yyyy-mm-dd hh:mm:ss";
  r.time_pos_type = 0;
  EXPECT_EQ(back, r);

  v.title = "大门 1";
  v.timeFormat = 9;
  back = OsdRecordFromControls(v);
  EXPECT_EQ(back.title_utf8_hex, "e5a4a7e997a82031");
  EXPECT_EQ(back.time_format, "mm-dd-yyyy hh:mm:ss");
  EXPECT_EQ(OsdControlsFromRecord(back).title, "大门 1");
  // A long title is cut at a character boundary to fit the field.
  v.title = std::string(98, 'a') + "é";
  EXPECT_EQ(OsdRecordFromControls(v).title_utf8_hex.size(), 196u);
  v.title = std::string(200, 'b');
  EXPECT_EQ(OsdRecordFromControls(v).title_utf8_hex.size(), 198u);
}

TEST(AudioModels, CaptureXmlAndVolumes) {
  EXPECT_EQ(BuildAudioCaptureXml("50", "100", 0, 0),
            "<Capture Volume=\"50\" VolumePlay=\"100\" amplify=\"0\" ra_answer=\"0\" />\n");
  const struct {
    const char* edit;
    int slider;
    const char* sent;
  } volumes[] = {{"50", 10, "50"}, {"0", 10, "0"}, {"100", 0, "100"}, {"150", 0, "100"},
                 {"-5", 0, "0"},   {"abc", 35, "35"}, {"", 70, "70"}, {"007", 0, "7"}};
  for (const auto& c : volumes) EXPECT_EQ(AudioVolumeText(c.edit, c.slider), c.sent) << c.edit;
}

TEST(AudioModels, EncodeCascade) {
  EXPECT_EQ(AudioCapabilityTexts().front(), "G.711,1,16,8,64,1");
  EXPECT_EQ(AudioEncodeTypes(), (std::vector<std::string>{"G.711", "G.711A", "AAC"}));
  EXPECT_EQ(AudioSampleRates("AAC"), (std::vector<std::string>{"16000", "32000", "48000"}));
  EXPECT_EQ(AudioSampleRates("G.711").size(), 4u);
  EXPECT_EQ(AudioBitRates("AAC", "32000"), (std::vector<std::string>{"32000"}));
  EXPECT_EQ(AudioBitRates("G.711", "8000"), (std::vector<std::string>{"64000"}));
  // G.711 at 32000 (index 2) switched to AAC keeps index 2: 48000.
  EXPECT_EQ(AudioSampleRates("AAC")[static_cast<std::size_t>(KeptIndex(2, 3))], "48000");
  EXPECT_EQ(KeptIndex(3, 3), 0);
  EXPECT_EQ(BuildAudioEncodeXml(1, "8000", "G.711", "64000"),
            "<Audio>\n\t<Encode Enable=\"1\" SampleRate=\"8000\" EncodeType=\"G.711\" BitRate=\"64000\" />\n"
            "</Audio>\n");
}

TEST(ImageParamModel, ChecksAndRequest) {
  const struct {
    const char* mctf;
    const char* shutter;
    int gain;
    const char* error;
    const char* request;
  } cases[] = {
      {"-1", "-1", 30, nullptr, "<REQUEST_PARAM mctf=\"-1\" gain=\"30\" shuttermax=\"-1\" />"},
      {"11", "8000", -1, nullptr, "<REQUEST_PARAM mctf=\"11\" gain=\"-1\" shuttermax=\"8000\" />"},
      {"0", "1", 72, nullptr, "<REQUEST_PARAM mctf=\"0\" gain=\"72\" shuttermax=\"1\" />"},
      {"12", "1", 0, "MCTF ERROR", ""},   {"-2", "1", 0, "MCTF ERROR", ""}, {"abc", "1", 0, "MCTF ERROR", ""},
      {"", "1", 0, "MCTF ERROR", ""},     {"1", "0", 0, "shutter error", ""}, {"1", "8001", 0, "shutter error", ""},
      {"1", "", 0, "shutter error", ""},  {"1", "x", 0, "shutter error", ""},
  };
  for (const auto& c : cases) {
    const ImageParamResult r = BuildImageParamRequest(c.mctf, c.shutter, c.gain);
    EXPECT_STREQ(r.error ? r.error : "", c.error ? c.error : "") << c.mctf << " " << c.shutter;
    EXPECT_EQ(r.request, c.request);
  }
  int selected = -1;
  for (std::size_t i = 0; i < kGainList.size(); ++i)
    if (kGainList[i].value == kDefaultGain) selected = static_cast<int>(i);
  EXPECT_STREQ(kGainList[static_cast<std::size_t>(selected)].text, "ISO_3200");
}

TEST(MotionModel, ChecksGridAndMask) {
  MotionResult r = ReadMotionValues(0, "80", "20", kDefaultMotionGrid);
  ASSERT_EQ(r.error, nullptr);
  EXPECT_EQ(MotionBlockCount(r.values.columns, r.values.rows), 0x40003);
  EXPECT_EQ(MotionBlockMask(r.values.columns, r.values.rows), std::string(12, '1'));
  EXPECT_EQ(ReadMotionValues(1, "0", "100", 0).error, nullptr);
  EXPECT_STREQ(ReadMotionValues(1, "101", "20", 0).error, "灵敏度设置错误。");
  EXPECT_STREQ(ReadMotionValues(1, "abc", "20", 0).error, "灵敏度设置错误。");
  EXPECT_STREQ(ReadMotionValues(1, "5", "101", 0).error, "阈值设置错误。");
  EXPECT_STREQ(ReadMotionValues(1, "5", "", 0).error, "阈值设置错误。");
  r = ReadMotionValues(1, "5", "5", 8);
  EXPECT_EQ(MotionBlockMask(r.values.columns, r.values.rows).size(), 396u);
  EXPECT_EQ(MotionBlockCount(r.values.columns, r.values.rows), (22 << 16) + 18);
  r = ReadMotionValues(1, "5", "5", 42);
  EXPECT_EQ(r.values.columns, 4);
  EXPECT_EQ(r.values.rows, 3);
  EXPECT_EQ(MotionBlockCount(40, 40), (22 << 16) + 18);
}

TEST(PlatformModel, Checks) {
  int port = 0;
  EXPECT_EQ(CheckPlatform(false, "", "10001", &port), nullptr);
  EXPECT_EQ(port, 10001);
  EXPECT_STREQ(CheckPlatform(true, "", "10001", &port), "MSGTIP47");
  for (const char* bad : {"0", "", "65536", "abc", "-1", "99999999999"})
    EXPECT_STREQ(CheckPlatform(false, "x", bad, &port), "MSGTIP48") << bad;
  EXPECT_EQ(CheckPlatform(true, "a.example.com", "65535", &port), nullptr);
  EXPECT_EQ(port, 65535);
}

TEST(PresetTourModel, ListsAndOk) {
  EXPECT_EQ(PtzZoomIntervalList()[3].text, "0.8");
  EXPECT_EQ(PtzZoomStayList().back().text, "10.0");
  EXPECT_EQ(PtzZoomTimesList().size(), 20u);
  EXPECT_EQ(SelectedData(PtzZoomIntervalList(), 750, kDefaultZoomInterval), 800);
  EXPECT_EQ(SelectedData(PtzZoomIntervalList(), 1500, kDefaultZoomInterval), 1500);

  AfStudySettings start;
  for (std::size_t i = 0; i < start.presets.size(); ++i) start.presets[i] = {1, static_cast<int>(i) + 20, 1};
  PresetTourInput in;
  in.interval = "30";
  in.presetNumber = {"7", "", "9"};
  in.enable = {1, 0, 1};
  in.function = {0, 1, 0};
  PresetTourResult r = ApplyPresetTour(start, in);
  ASSERT_EQ(r.errorKey, nullptr);
  EXPECT_EQ(r.table.interval_sec, 30);
  EXPECT_EQ(r.table.presets[0], (AfStudySettings::Preset{1, 7, 0}));
  EXPECT_EQ(r.table.presets[1], (AfStudySettings::Preset{0, 0, 1}));
  for (std::size_t i = 3; i < 10; ++i) EXPECT_EQ(r.table.presets[i], start.presets[i]);
  EXPECT_EQ(r.table.nPtzZoomInterval, 800);
  in.interval = "86401";  // would overflow as milliseconds further on
  EXPECT_STREQ(ApplyPresetTour(start, in).errorKey, "IDS_INTERVEL_TIME");
  in.interval = "2147484";
  EXPECT_STREQ(ApplyPresetTour(start, in).errorKey, "IDS_INTERVEL_TIME");
  in.interval = "";
  // A preset the devices cannot keep is refused with the range to name.
  for (const char* bad : {"99999999999", "256", "-1", "7x"}) {
    in.presetNumber[2] = bad;
    const PresetTourResult refused = ApplyPresetTour(start, in);
    EXPECT_STREQ(refused.errorKey, "IDS_STR_ZH_CN_ADV_TIPS2") << bad;
    EXPECT_EQ(refused.errorMax, 255) << bad;
  }
  in.presetNumber[2] = "255";
  EXPECT_EQ(ApplyPresetTour(start, in).errorKey, nullptr);
  in.interval = "86401";
  EXPECT_EQ(ApplyPresetTour(start, in).errorMax, kMaxTourIntervalSec);
}

TEST(ClockModels, AlarmClockAndMaintenanceTexts) {
  AlarmClockSettings s;
  std::string expected =
      "<AlarmClockConfig>\n\t<AlarmOnEveryHour enable=\"0\" from_hour=\"0\" from_minute=\"0\" from_second=\"0\" "
      "to_hour=\"0\" to_minute=\"0\" to_second=\"0\" />\n\t<alarmclock>\n";
  for (int i = 0; i < 5; ++i) expected += "\t\t<clock enable=\"0\" hour=\"0\" minute=\"0\" second=\"0\" />\n";
  expected += "\t</alarmclock>\n</AlarmClockConfig>\n";
  EXPECT_EQ(BuildAlarmClockXml(s), expected);
  s.oclock_enable = 1;
  s.oclock_from = {8, 0, 0};
  s.oclock_to = {23, 59, 59};
  s.clocks[4] = {1, 6, 30, 5};
  const std::string xml = BuildAlarmClockXml(s);
  EXPECT_NE(xml.find("enable=\"1\" from_hour=\"8\" from_minute=\"0\" from_second=\"0\" to_hour=\"23\" "
                     "to_minute=\"59\" to_second=\"59\""),
            std::string::npos);
  EXPECT_NE(xml.find("<clock enable=\"1\" hour=\"6\" minute=\"30\" second=\"5\" />\n\t</alarmclock>"),
            std::string::npos);
  EXPECT_EQ(ChimeEndWhenEnabled({0, 0, 0}), (ClockTime{23, 59, 59}));
  EXPECT_EQ(ChimeEndWhenEnabled({0, 0, 1}), (ClockTime{0, 0, 1}));

  EXPECT_EQ(BuildMaintenanceXml(0, kMaintenanceEveryDay, {2, 0, 0}),
            "<MaintainConfig\tEnable=\"0\" Day=\"7\" Time=\"02:00:00\" />");
  EXPECT_EQ(BuildMaintenanceXml(1, 3, {23, 5, 9}), "<MaintainConfig\tEnable=\"1\" Day=\"3\" Time=\"23:05:09\" />");
}

}  // namespace
}  // namespace kelvara::dialogs
