// The video encode, image capture and light pages' models: the capability
// table's lists, each checked field at its bounds and with bad text, and the
// device texts byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "dialogs/core/light_form.h"
#include "dialogs/core/video_capture_form.h"
#include "dialogs/core/video_encode_form.h"

namespace kelvara::dialogs {
namespace {

const std::string k65Digits(65, '1');

using Strings = std::vector<std::string>;

TEST(VideoEncodeTable, ListsPerStreamAndFormat) {
  VideoEncodeCapabilities caps;
  EXPECT_EQ(caps.Rows().size(), 136u);
  for (int s = 0; s < 3; ++s) EXPECT_EQ(caps.Formats(s), (Strings{"H264", "H265", "H265+", "MJPEG"})) << s;

  const Strings h264 = caps.Resolutions(0, "H264");
  ASSERT_EQ(h264.size(), 19u);
  EXPECT_EQ(h264[13], "2304X1296");
  EXPECT_EQ(h264[14], "1920X1536");
  EXPECT_EQ(h264[15], "1080P");
  EXPECT_EQ(h264.back(), "D1");
  for (const char* f : {"H265", "H265+"}) {
    const Strings r = caps.Resolutions(0, f);
    ASSERT_EQ(r.size(), 19u);
    EXPECT_EQ(r[13], "1920X1536");
    EXPECT_EQ(r[14], "2304X1296");
    EXPECT_EQ(r[15], "1080P");
  }
  const Strings mjpeg = caps.Resolutions(0, "MJPEG");
  EXPECT_EQ(mjpeg[15], "1920X1088");
  EXPECT_EQ(std::count(mjpeg.begin(), mjpeg.end(), "1080P"), 0);

  const Strings sub = {"720X480", "D1",  "VGA",     "640X360", "480X360", "480X270",
                       "CIF",     "QVGA", "352X192", "320X192", "288X192", "256X192"};
  for (const char* f : {"H264", "H265", "H265+", "MJPEG"}) EXPECT_EQ(caps.Resolutions(1, f), sub) << f;
  for (const char* f : {"H264", "H265", "H265+"}) EXPECT_EQ(caps.Resolutions(2, f), (Strings{"1080P", "720P", "CIF"}));
  EXPECT_EQ(caps.Resolutions(2, "MJPEG"), (Strings{"1920X1088", "720P", "640X480"}));

  EXPECT_EQ(caps.PreferredResolution(0, false), "1080P");
  EXPECT_EQ(caps.PreferredResolution(1, false), "640X360");
  EXPECT_EQ(caps.PreferredResolution(1, true), "640X360");
  EXPECT_EQ(caps.PreferredResolution(2, false), "");
}

TEST(VideoEncodeTable, RowsRangesQualityAndFrameRates) {
  VideoEncodeCapabilities caps;
  const struct {
    int stream;
    const char* res;
    const char* format;
    int def, min, max, fdef, fmin, fmax;
  } rows[] = {
      {0, "4K", "H264", 9000, 500, 12000, 30, 5, 30},     {0, "3MP", "H264", 5000, 500, 5000, 25, 5, 30},
      {0, "960P", "H265", 3000, 500, 8000, 20, 1, 20},    {0, "960P", "MJPEG", 3000, 500, 8000, 25, 1, 30},
      {0, "1920X1536", "H264", 5500, 500, 8000, 25, 5, 30}, {1, "VGA", "H264", 450, 50, 2000, 25, 5, 30},
      {1, "640X360", "H265+", 200, 50, 2000, 25, 1, 30},  {1, "CIF", "MJPEG", 100, 50, 2000, 25, 5, 30},
      {2, "1080P", "H265", 4000, 300, 6000, 10, 5, 30},   {2, "720P", "MJPEG", 1500, 100, 1500, 25, 5, 25},
      {2, "640X480", "MJPEG", 500, 50, 2000, 25, 5, 30},
  };
  for (const auto& r : rows) {
    const auto* row = caps.FindRow(r.stream, r.res, r.format);
    ASSERT_NE(row, nullptr) << r.res << " " << r.format;
    EXPECT_EQ((std::array{row->defaultBitRate, row->minBitRate, row->maxBitRate, row->defaultFrameRate,
                          row->minFrameRate, row->maxFrameRate}),
              (std::array{r.def, r.min, r.max, r.fdef, r.fmin, r.fmax}))
        << r.res << " " << r.format;
  }
  EXPECT_EQ(caps.FindRow(0, "1080P", "MJPEG"), nullptr);
  EXPECT_EQ(caps.FindRow(0, "1080P", "")->encodeFormat, "H264");  // empty format matches any
  EXPECT_EQ(caps.RangeOf(0, "1080P", "H265").max, 8000);
  EXPECT_EQ(caps.RangeOf(0, "3MP", "").max, 3500);  // the last match wins
  EXPECT_EQ(caps.RangeOf(1, "1080P", "H264").max, 0);

  const auto q = QualityEntries(*caps.FindRow(0, "1080P", "H264"));
  ASSERT_EQ(q.size(), 6u);
  EXPECT_EQ(q[0].captionKey, "IDS_STR_CUST");
  EXPECT_EQ(q[5].captionKey, "IDS_STR_BEST");
  const int values[] = {3200, 500, 1900, 3200, 5600, 8000};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(q[i].bitRate, values[i]) << i;

  VideoEncodeCapabilityRow empty{"X", "H264", 0, 1, 1, 1, 9, 9, 8, 0};
  EXPECT_EQ(FrameRates(empty, true).size(), 30u);
  EXPECT_TRUE(FrameRates(empty, false).empty());
}

VideoEncodeForm OpenedForm() {
  VideoEncodeForm form;
  form.Open();
  return form;
}

TEST(VideoEncodeForm, OpensWithDefaults) {
  const VideoEncodeForm f = OpenedForm();
  EXPECT_EQ(f.streams[0].FormatText(), "H265");
  EXPECT_EQ(f.streams[0].ResolutionText(), "1080P");
  EXPECT_EQ(f.streams[1].ResolutionText(), "640X360");
  EXPECT_EQ(f.streams[2].ResolutionText(), "1080P");  // first entry: no preferred row
  EXPECT_EQ(f.streams[0].bitRate, "3200");
  EXPECT_EQ(f.streams[0].rangeLabel, "kbps(500-8000)");
  EXPECT_EQ(f.streams[0].FrameRateText(), "25");
  EXPECT_EQ(f.streams[1].FrameRateText(), "25");
  EXPECT_EQ(f.streams[2].FrameRateText(), "10");
  EXPECT_EQ(f.streams[0].iframe, "100");
  EXPECT_EQ(f.noiseLevel, 6);
  EXPECT_FALSE(f.streams[0].lbrListsEnabled);
  EXPECT_FALSE(f.streams[0].lbrEditEnabled);
}

TEST(VideoEncodeForm, DependenciesBetweenControls) {
  VideoEncodeForm f = OpenedForm();
  // A format change keeps each stream's resolution when the format has it.
  f.streams[0].format = 3;  // MJPEG: no 1080P
  f.FormatChanged(0);
  EXPECT_EQ(f.streams[0].ResolutionText(), "4000X3000");
  EXPECT_EQ(f.streams[1].ResolutionText(), "640X360");
  f.streams[0].format = 0;
  f.FormatChanged(0);
  f.streams[0].resolution = 15;
  ASSERT_EQ(f.streams[0].ResolutionText(), "1080P");
  f.ResolutionChanged(0);
  // A quality step locks the bit rate at its value; custom unlocks it.
  f.streams[0].qualityIndex = 4;
  f.QualityChanged(0);
  EXPECT_EQ(f.streams[0].bitRate, "5600");
  EXPECT_FALSE(f.streams[0].bitRateEnabled);
  f.streams[0].qualityIndex = 0;
  f.QualityChanged(0);
  EXPECT_TRUE(f.streams[0].bitRateEnabled);
  // A main-stream resolution change unlocks the other streams' bit rate and frame rate.
  for (int o : {1, 2}) {
    f.streams[o].qualityIndex = 4;
    f.QualityChanged(o);
    f.streams[o].frameRateEnabled = false;
    ASSERT_FALSE(f.streams[o].bitRateEnabled);
  }
  f.ResolutionChanged(0);
  for (int o : {1, 2}) {
    EXPECT_TRUE(f.streams[o].bitRateEnabled) << o;
    EXPECT_TRUE(f.streams[o].frameRateEnabled) << o;
  }
  // CBR disables the QP lists.
  f.streams[1].bitRateControl = 0;
  f.BitRateControlChanged(1);
  EXPECT_FALSE(f.streams[1].qpEnabled);
  // The LBR edit follows its mode even while LBR is off.
  f.streams[0].lbrMode = 1;
  f.LbrModeChanged(0);
  EXPECT_TRUE(f.streams[0].lbrEditEnabled);
  f.LbrEnableChanged(0);
  EXPECT_FALSE(f.streams[0].lbrEditEnabled);
  // Default goes back to H265 and rebuilds the lists for it.
  f.streams[0].format = 3;
  f.FormatChanged(0);
  f.Default();
  EXPECT_EQ(f.streams[0].FormatText(), "H265");
  EXPECT_EQ(f.streams[0].resolutions, f.Capabilities().Resolutions(0, "H265"));
  EXPECT_EQ(f.streams[0].ResolutionText(), "1080P");
}

const char kDefaultEncodeXml[] =
    "<Encode>\n"
    "\t<EncodeConfig Enable=\"1\" Stream=\"1\" Resolution=\"1080P\" EncodeFormat=\"H265\" BitRateControl=\"VBR\" "
    "Initquant=\"100\" BitRate=\"3200\" BitRateQuality=\"0\" FrameRate=\"25\" qp_enable=\"0\" qp_min=\"28\" "
    "qp_max=\"51\" lbr_enable=\"0\" lbr_style=\"1\" lbr_bitratemode=\"0\" lbr_bitrate=\"0\" lbr_motionlevel=\"1\" "
    "lbr_noicelevel=\"0\" />\n"
    "\t<EncodeConfig Enable=\"1\" Stream=\"2\" Resolution=\"640X360\" EncodeFormat=\"H265\" BitRateControl=\"VBR\" "
    "Initquant=\"100\" BitRate=\"200\" BitRateQuality=\"0\" FrameRate=\"25\" qp_enable=\"0\" qp_min=\"28\" "
    "qp_max=\"51\" lbr_enable=\"0\" lbr_style=\"1\" lbr_bitratemode=\"0\" lbr_bitrate=\"0\" lbr_motionlevel=\"1\" "
    "lbr_noicelevel=\"0\" />\n"
    "\t<EncodeConfig Enable=\"0\" Stream=\"3\" Resolution=\"1080P\" EncodeFormat=\"H265\" BitRateControl=\"VBR\" "
    "Initquant=\"100\" BitRate=\"4000\" BitRateQuality=\"0\" FrameRate=\"10\" qp_enable=\"0\" qp_min=\"28\" "
    "qp_max=\"51\" />\n"
    "\t<AdvanceEncodeConfig EncodeProfile=\"0\" DisablePrivateData=\"1\" EncMode=\"4\" NoiceLevel=\"6\" />\n"
    "</Encode>\n";

TEST(VideoEncodeForm, GoldenTexts) {
  VideoEncodeForm f = OpenedForm();
  EXPECT_EQ(f.Save().xml, kDefaultEncodeXml);

  // Without a third stream: two stream elements and the advanced one.
  VideoEncodeForm two = OpenedForm();
  two.thirdStreamSupported = 0;
  const std::string text = two.Save().xml;
  EXPECT_EQ(text.find("Stream=\"3\""), std::string::npos);
  EXPECT_EQ(text, std::string(kDefaultEncodeXml).erase(text.find("\t<AdvanceEncodeConfig"),
                                                       std::string(kDefaultEncodeXml).find("\t<Advance") -
                                                           text.find("\t<AdvanceEncodeConfig")));

  // Low bit rate on with its own rate; a second Save still writes it.
  f.streams[0].lbrEnable = 1;
  f.streams[0].lbrMode = 1;
  f.streams[0].lbrBitRate = "1000";
  f.streams[1].lbrEnable = 1;
  f.streams[1].lbrMode = 1;
  f.streams[1].lbrBitRate = "150";  // bounded by the sub stream's own 640X360 rows
  for (int save = 0; save < 2; ++save) {
    const auto r = f.Save();
    ASSERT_EQ(r.messageKey, "") << save;
    EXPECT_NE(r.xml.find("lbr_enable=\"1\" lbr_style=\"1\" lbr_bitratemode=\"1\" lbr_bitrate=\"1000\""),
              std::string::npos);
    EXPECT_NE(r.xml.find("lbr_bitratemode=\"1\" lbr_bitrate=\"150\""), std::string::npos);
  }
  // With the mode off the rate sent is 0 whatever the edit holds.
  f.streams[0].lbrMode = 0;
  EXPECT_NE(f.Save().xml.find("lbr_bitratemode=\"0\" lbr_bitrate=\"0\""), std::string::npos);
}

TEST(VideoEncodeForm, SaveChecksInOrder) {
  const struct {
    const char* text;
    bool ok;
  } iframe[] = {{"0", false}, {"1", true}, {"200", true}, {"201", false}, {"12a", false}, {"", false},
                {k65Digits.c_str(), false}, {" 5", false}, {"-1", false}};
  for (const auto& c : iframe) {
    VideoEncodeForm f = OpenedForm();
    f.streams[1].iframe = c.text;
    EXPECT_EQ(f.Save().messageKey, c.ok ? "" : "IDS_STR_ZH_CN_MSG_TIPS25") << c.text;
  }
  const struct {
    const char* text;
    bool ok;
  } rate[] = {{"499", false}, {"500", true}, {"8000", true}, {"8001", false}, {"12a", false}, {"", false},
              {k65Digits.c_str(), false}, {"1e3", false}, {"3200.5", false}};
  for (const auto& c : rate) {
    VideoEncodeForm f = OpenedForm();
    f.streams[0].bitRate = c.text;
    EXPECT_EQ(f.Save().messageKey, c.ok ? "" : "IDS_STR_ZH_CN_MSG_TIPS26") << c.text;
    VideoEncodeForm l = OpenedForm();
    l.streams[0].lbrEnable = l.streams[0].lbrMode = 1;
    l.streams[0].lbrBitRate = c.text;
    EXPECT_EQ(l.Save().messageKey, c.ok ? "" : "IDS_STR_ZH_CN_MSG_TIPS26") << c.text;
  }
  VideoEncodeForm f = OpenedForm();
  f.streams[2].qpMin = 30;
  f.streams[2].qpMax = 29;
  EXPECT_EQ(f.Save().messageKey, "IDS_QP_LIMIT");
  f.streams[2].qpMax = 30;
  EXPECT_EQ(f.Save().messageKey, "");
  // The I-frame check of an earlier stream comes before a later stream's QP check.
  f.streams[2].qpMax = 1;
  f.streams[0].iframe = "";
  EXPECT_EQ(f.Save().messageKey, "IDS_STR_ZH_CN_MSG_TIPS25");

  VideoEncodeForm noRes = OpenedForm();
  noRes.streams[1].resolution = -1;
  EXPECT_EQ(noRes.Save().messageKey, "IDS_VIDEO_ENCODE_NO_RESOLUTION");
  VideoEncodeForm noRate = OpenedForm();
  noRate.streams[0].frameRate = -1;
  EXPECT_EQ(noRate.Save().messageKey, "IDS_VIDEO_ENCODE_NO_FRAMERATE");
  EXPECT_EQ(noRate.cancelled, 1);
}

// --- Image capture -----------------------------------------------------------

const char kDefaultCaptureXml[] =
    "<Video>\n"
    "\t<Capture Brightness=\"128\" Contrast=\"128\" Saturation=\"128\" Sharpness=\"128\" BackLight=\"0\" "
    "TVSystem=\"1\" forct_antiflicker=\"0\" cropxpix=\"0\" cropypix=\"0\" HFlip=\"0\" VFlip=\"0\" rotate=\"0\" "
    "bManualGain=\"1\" gainValue=\"0\" HLC=\"0\" shutter_mode=\"0\" shutter_mode_night=\"0\" "
    "shutter_speed_day=\"25\" shutter_speed_night=\"25\" IrcutMode=\"0\" IrcutSensitivity=\"50\" "
    "IrcutOpenLedDelay=\"0\" led_brightness_mode=\"0\" led_brightness_value=\"10\" "
    "IrcutNightStartTime=\"18:00:00\" IrcutNightEndTime=\"07:00:00\" IrcutKeepColor=\"0\" WDRMode=\"0\" "
    "WDRValue=\"128\" DfrogFlag=\"0\" DfrogValue=\"128\" WDRStartTime=\"00:00:00\" WDREndTime=\"00:00:00\" "
    "WB_RGB=\"8421504\" TNF=\"128\" SNF=\"128\" isp_mode_color=\"0\" isp_mode_night=\"0\" led_mode=\"0\" "
    "ispadvmode=\"0\" videoEncodeMode=\"0\" face_exposure_sensitivity=\"0\" light_off_sensitivity=\"0\" />\n"
    "</Video>\n";

TEST(VideoCaptureForm, GoldenTexts) {
  VideoCaptureForm f = FormFromRecord(DefaultVideoCaptureParams());
  EXPECT_EQ(SaveVideoCapture(f).xml, kDefaultCaptureXml);

  f.wbManual = 1;
  f.wbR = "255";
  f.wbG = "128";
  f.wbB = "0";
  f.gain = -1;
  f.nightEnd = {7, 5, 9};
  f.brightness = "007";  // read as a number
  f.backlight = "007";   // sent as typed
  const std::string text = SaveVideoCapture(f).xml;
  EXPECT_NE(text.find("WB_RGB=\"33521664\""), std::string::npos);
  EXPECT_NE(text.find("bManualGain=\"0\" gainValue=\"-1\""), std::string::npos);
  EXPECT_NE(text.find("IrcutNightEndTime=\"07:05:09\""), std::string::npos);
  EXPECT_NE(text.find("<Capture Brightness=\"7\" "), std::string::npos);
  EXPECT_NE(text.find("BackLight=\"007\""), std::string::npos);
  f.gain = 18;
  EXPECT_NE(SaveVideoCapture(f).xml.find("bManualGain=\"1\" gainValue=\"18\""), std::string::npos);
}

TEST(VideoCaptureForm, EachCheckedFieldAtItsBounds) {
  const struct {
    std::string VideoCaptureForm::*field;
    int min, max;
    const char* key;
  } fields[] = {
      {&VideoCaptureForm::brightness, 0, 255, "IDS_STR_ZH_CN_MSG_TIPS47"},
      {&VideoCaptureForm::saturation, 0, 255, "IDS_STR_ZH_CN_MSG_TIPS53"},
      {&VideoCaptureForm::sharpness, 0, 255, "IDS_STR_ZH_CN_MSG_TIPS54"},
      {&VideoCaptureForm::contrast, 0, 255, "IDS_STR_ZH_CN_MSG_TIPS50"},
      {&VideoCaptureForm::backlight, 0, 255, "IDS_STR_ZH_CN_MSG_TIPS55"},
      {&VideoCaptureForm::hlc, 0, 255, "IDS_STR_HLC_VALUE_INVALID"},
      {&VideoCaptureForm::cropX, 0, 256, "IDC_MEDIA_VIDEOCAPTURE_CROP_INVALID"},
      {&VideoCaptureForm::cropY, 0, 256, "IDC_MEDIA_VIDEOCAPTURE_CROP_INVALID"},
      {&VideoCaptureForm::shutterSpeedDay, 10, 10000, "IDS_STR_SHUTTER_SPEED_ERROR"},
      {&VideoCaptureForm::shutterSpeedNight, 10, 10000, "IDS_STR_SHUTTER_SPEED_ERROR"},
      {&VideoCaptureForm::ircutSensitivity, 0, 100, "IDS_STR_ZH_CN_MSG_TIPS56"},
      {&VideoCaptureForm::wdrLevel, 0, 255, "IDS_STR_PARAM_SCOPE_ERROR"},
      {&VideoCaptureForm::defogLevel, 0, 255, "IDS_STR_PARAM_SCOPE_ERROR"},
      {&VideoCaptureForm::tnf, 0, 255, "IDS_STR_PARAM_SCOPE_ERROR"},
      {&VideoCaptureForm::snf, 0, 255, "IDS_STR_PARAM_SCOPE_ERROR"},
      {&VideoCaptureForm::faceExposure, 0, 100, "IDS_STR_PARAM_SCOPE_ERROR"},
      {&VideoCaptureForm::lightOff, 0, 100, "IDS_STR_PARAM_SCOPE_ERROR"},
  };
  for (const auto& fc : fields) {
    const std::pair<std::string, bool> cases[] = {
        {std::to_string(fc.min - 1), false}, {std::to_string(fc.min), true}, {std::to_string(fc.max), true},
        {std::to_string(fc.max + 1), false}, {"12a", false},                  {"", false},
        {k65Digits, false}};
    for (const auto& [text, ok] : cases) {
      VideoCaptureForm f = FormFromRecord(DefaultVideoCaptureParams());
      f.*fc.field = text;
      const auto r = SaveVideoCapture(f);
      EXPECT_EQ(r.messageKey, ok ? "" : fc.key) << fc.key << " '" << text << "'";
      EXPECT_EQ(r.xml.empty(), !ok);
    }
  }
  // The first failed check in order wins.
  VideoCaptureForm f = FormFromRecord(DefaultVideoCaptureParams());
  f.contrast = "999";
  f.saturation = "999";
  EXPECT_EQ(SaveVideoCapture(f).messageKey, "IDS_STR_ZH_CN_MSG_TIPS53");
  // The IR-cut mode is read before its sensitivity is checked.
  f = FormFromRecord(DefaultVideoCaptureParams());
  f.ircutMode.reset();
  f.ircutSensitivity = "101";
  const auto r = SaveVideoCapture(f);
  EXPECT_TRUE(r.ircutModeRead);
  EXPECT_EQ(r.ircutMode, 2);
}

TEST(VideoCaptureForm, RecordBytes) {
  const VideoCaptureParams def = DefaultVideoCaptureParams();
  VideoCaptureParams back = RecordFromForm(FormFromRecord(def));
  back.manual_gain = def.manual_gain;  // gain 0 dB is a manual gain in the record read back
  EXPECT_EQ(std::memcmp(&def, &back, sizeof def), 0);

  VideoCaptureParams device = def;
  device.face_exposure_sensitivity = 77;
  VideoCaptureForm f = FormFromRecord(device);
  f.lightOff = "100";
  const VideoCaptureParams out = RecordFromForm(f);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&out);
  EXPECT_EQ(bytes[136], 100);
  EXPECT_EQ(bytes[137], 77);
  EXPECT_EQ(bytes[112], 50);
  EXPECT_EQ(bytes[117], 18);
}

// --- Light page ---------------------------------------------------------------

TEST(LightForm, RecordThroughThePage) {
  MediaLightConfig given;
  given.ircut_mode = 4;  // no such item
  given.led_brightness_alarm = 1;
  given.light_off_sensitivity = 100;
  given.startTime = {19, 30, 0};
  LightForm form = LightFormFromRecord(given);
  EXPECT_EQ(form.ircutMode, 0);
  EXPECT_EQ(given.ircut_mode, 0);
  EXPECT_EQ(form.lightOff, 100);
  form.ledMode = 1;
  form.ledBrightness = 60;
  const MediaLightConfig saved = LightRecordFromForm(form, given);
  EXPECT_EQ(saved.ircut_mode, 0);
  EXPECT_EQ(saved.led_brightness_alarm, 1);
  EXPECT_EQ(saved.led_brightness_value, 60);
  EXPECT_EQ(saved.led_mode, 1);
  EXPECT_EQ(saved.startTime, (ClockTime{19, 30, 0}));
  EXPECT_EQ(saved.light_off_sensitivity, 100);

  EXPECT_EQ(IrcutModeItems().size(), 7u);
  EXPECT_EQ(IndexOfData(IrcutModeItems(), 5), 4);
  EXPECT_EQ(LedDelayItems()[2].key, "0.08");
  EXPECT_EQ(LedDelayItems()[17].key, "1.50");
  EXPECT_EQ(LedBrightnessItems().size(), 11u);
  EXPECT_EQ(IndexOfData(ImageOptionItems(), 2), 3);
  EXPECT_EQ(ImageOptionItems()[8].suffix, "6");
}

}  // namespace
}  // namespace kelvara::dialogs
