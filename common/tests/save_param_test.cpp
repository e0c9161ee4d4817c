#include "common/save_param.h"
#include "common/folder_functions.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "common/paths.h"
#include "common/xml_values.h"
#include "kelvara_test/test_env.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const fs::path& file, const std::string& content) {
  std::ofstream(file, std::ios::binary) << content;
}

// Runs iconv, the outside oracle for code pages; false when it rejects the input.
bool Iconv(const char* from, const char* to, const std::string& in, std::string* out) {
  fs::path dir = kelvara::test::MakeTempDir("iconv");
  WriteFile(dir / "in", in);
  std::string cmd = std::string("iconv -f ") + from + " -t " + to + " " + (dir / "in").string() +
                    " > " + (dir / "out").string() + " 2>/dev/null";
  if (std::system(cmd.c_str()) != 0) return false;
  if (out) *out = ReadFile(dir / "out");
  return true;
}

fs::path FreshFile() { return kelvara::test::MakeTempDir("cfg") / "zq_cfg.xml"; }

// Every field that the file carries, compared field by field for clear messages.
void ExpectSameSettings(const CSaveParam& a, const CSaveParam& b) {
  EXPECT_EQ(a.upgrade_folder, b.upgrade_folder);
  EXPECT_EQ(a.upgrade_file, b.upgrade_file);
  EXPECT_EQ(a.upload_cfg_file, b.upload_cfg_file);
  EXPECT_EQ(a.mp3_file, b.mp3_file);
  EXPECT_EQ(a.app_file, b.app_file);
  EXPECT_EQ(a.import_file, b.import_file);
  EXPECT_EQ(a.full_switch_stream, b.full_switch_stream);
  EXPECT_EQ(a.open_audio, b.open_audio);
  EXPECT_EQ(a.video_rows, b.video_rows);
  EXPECT_EQ(a.video_cols, b.video_cols);
  EXPECT_EQ(a.play_mode, b.play_mode);
  EXPECT_EQ(a.scale_mode, b.scale_mode);
  EXPECT_EQ(a.decode_mode, b.decode_mode);
  EXPECT_EQ(a.video_rect, b.video_rect);
  EXPECT_EQ(a.default_user, b.default_user);
  EXPECT_EQ(a.default_password, b.default_password);
  EXPECT_EQ(a.default_from_ip, b.default_from_ip);
  EXPECT_EQ(a.qr_mode, b.qr_mode);
  EXPECT_EQ(a.mouse_3d_locate, b.mouse_3d_locate);
  EXPECT_EQ(a.overlay, b.overlay);
  EXPECT_EQ(a.media_light, b.media_light);
  EXPECT_EQ(a.time_settings, b.time_settings);
  EXPECT_EQ(a.alarm_clock, b.alarm_clock);
  EXPECT_EQ(a.af_study, b.af_study);
  EXPECT_EQ(a.ptz_multiple, b.ptz_multiple);
  EXPECT_EQ(a.slog_filter, b.slog_filter);
}

TEST(SaveParamTest, DefaultsWithoutAFile) {
  CSaveParam p(FreshFile());
  const std::string docs = kelvara::paths::DocumentsDir().string();
  EXPECT_EQ(p.upgrade_folder, docs);
  EXPECT_EQ(p.import_file, docs);
  EXPECT_EQ(p.full_switch_stream, 1);
  EXPECT_EQ(p.decode_mode, 1);
  EXPECT_EQ(p.GetDefaultUserName(), "admin");
  EXPECT_EQ(p.GetDefaultPassword(), "470913");
  EXPECT_EQ(p.default_from_ip, "0.0.0.0");
  EXPECT_EQ(p.qr_mode, 1);
  EXPECT_EQ(p.overlay.title_utf8_hex, "43616d657261");
  EXPECT_EQ(p.overlay.time_format, "yyyy-mm-dd hh:mm:ss");
  EXPECT_EQ(p.overlay.style, 3);
  EXPECT_EQ(p.media_light.ircut_openled_delay, 12);
  EXPECT_EQ(p.media_light.startTime, (kelvara::ClockTime{18, 0, 0}));
  EXPECT_EQ(p.media_light.light_off_sensitivity, 50);
  EXPECT_EQ(p.time_settings.time_mode, "MANUAL");
  EXPECT_EQ(p.time_settings.time_zone, 1200);
  EXPECT_EQ(p.time_settings.ntp_port, 123);
  EXPECT_EQ(p.alarm_clock.clocks[2], (kelvara::AlarmClockSettings::Clock{1, 14, 2, 0}));
  EXPECT_EQ(p.alarm_clock.oclock_to, (kelvara::ClockTime{23, 59, 59}));
  EXPECT_EQ(p.af_study.presets[1].presetNum, 252);
  EXPECT_EQ(p.ptz_multiple.presets[2].presetNum, 30);
  EXPECT_EQ(p.ptz_multiple.nPtzZoomStayTime, 5000);
  EXPECT_EQ(p.slog_filter.default_filter, "slog -1,0");
  // Device logs lie below the one documents folder that every part uses.
  EXPECT_EQ(p.slog_filter.save_path, (kelvara::paths::DocumentsDir() / "slog").string());
  EXPECT_EQ(p.slog_filter.save_path, (kelvara::GetShellFolderPath(5) / "slog").string());
  EXPECT_FALSE(fs::exists(p.FilePath()));  // loading never creates the file
}

TEST(SaveParamTest, PresetToursKeepEntriesAfterADisabledEntryNumberedZero) {
  CSaveParam a(FreshFile());
  a.af_study.presets = {};
  a.af_study.presets[0] = {1, 253, 0};
  a.af_study.presets[1] = {0, 0, 1};  // disabled, no number yet
  a.af_study.presets[2] = {1, 40, 1};
  a.ptz_multiple.presets = {};
  a.ptz_multiple.presets[0] = {0, 0, 0};
  a.ptz_multiple.presets[3] = {1, 7, 0};
  ASSERT_EQ(a.Save(), 0);
  for (int start = 0; start < 2; ++start) {  // two program starts, one save between
    CSaveParam b(a.FilePath());
    EXPECT_EQ(b.af_study.presets, a.af_study.presets);
    EXPECT_EQ(b.ptz_multiple.presets, a.ptz_multiple.presets);
    ASSERT_EQ(b.Save(), 0);
  }
}

TEST(SaveParamTest, SaveWritesTheWholeDocumentInOrder) {
  CSaveParam p(FreshFile());
  p.upgrade_folder = p.upgrade_file = p.upload_cfg_file = p.mp3_file = p.app_file =
      p.import_file = "/d";
  p.slog_filter.save_path = "/d/slog";
  ASSERT_EQ(p.Save(), 0);
  // It holds the default device login: its owner alone may read it.
  EXPECT_EQ(fs::status(p.FilePath()).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  const char* expected =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
      "<root>\n"
      "\t<UpgradePath name=\"/d\" />\n"
      "\t<UpgradeFileName name=\"/d\" />\n"
      "\t<UploadCfgFileName name=\"/d\" />\n"
      "\t<Mp3FilePath name=\"/d\" />\n"
      "\t<AppFilePath name=\"/d\" />\n"
      "\t<ImportFilePath name=\"/d\" />\n"
      "\t<FullSwitchStream value=\"1\" />\n"
      "\t<OpenAudio value=\"0\" />\n"
      "\t<VideoWindow row=\"0\" col=\"0\" left=\"0\" top=\"0\" width=\"0\" height=\"0\" />\n"
      "\t<PlayMode mode=\"0\" />\n"
      "\t<DecodeMode mode=\"1\" />\n"
      "\t<ScaleMode mode=\"0\" />\n"
      "\t<QR show=\"1\" />\n"
      "\t<Mouse3DLocate enable=\"0\" />\n"
      "\t<DefaultUser username=\"admin\" password=\"470913\" />\n"
      "\t<DefaultFromIP ip=\"0.0.0.0\" />\n"
      "\t<Overlay Enable=\"1\" Transparency=\"0\" time24or12=\"0\" Week=\"1\" Fontsize=\"0\" Style=\"3\">\n"
      "\t\t<TimeOverlay PosX=\"1\" PosY=\"1\" Format=\"yyyy-mm-dd hh:mm:ss\" PosType=\"0\" />\n"
      "\t\t<TitleOverlay PosX=\"0\" PosY=\"0\" PosType=\"0\" TitleUtf8=\"43616d657261\" />\n"
      "\t</Overlay>\n"
      "\t<MediaLight ircut_mode=\"0\" ircut_openled_delay=\"12\" led_brightness_mode=\"0\" "
      "led_brightness_value=\"100\" led_brightness_alarm=\"0\" startTime=\"18:00:00\" "
      "endTime=\"08:00:00\" led_mode=\"0\" ispadvmode=\"0\" light_off_sensitivity=\"50\" />\n"
      "\t<TimeConfig TimeMode=\"MANUAL\" TimeZone=\"1200\">\n"
      "\t\t<NTPConfig ServerIP=\"pool.ntp.org\" ServerPort=\"123\" RefreshInterval=\"60\" />\n"
      "\t</TimeConfig>\n"
      "\t<AlarmClockConfig OclockEnable=\"1\" OclockFromHour=\"0\" OclockFromMinute=\"0\" "
      "OclockFromSecond=\"0\" OclockToHour=\"23\" OclockToMinute=\"59\" OclockToSecond=\"59\">\n"
      "\t\t<AlarmClocks>\n"
      "\t\t\t<Clock Index=\"0\" Enable=\"1\" Hour=\"8\" Minute=\"30\" Second=\"0\" />\n"
      "\t\t\t<Clock Index=\"1\" Enable=\"1\" Hour=\"12\" Minute=\"30\" Second=\"0\" />\n"
      "\t\t\t<Clock Index=\"2\" Enable=\"1\" Hour=\"14\" Minute=\"2\" Second=\"0\" />\n"
      "\t\t\t<Clock Index=\"3\" Enable=\"1\" Hour=\"21\" Minute=\"30\" Second=\"0\" />\n"
      "\t\t\t<Clock Index=\"4\" Enable=\"0\" Hour=\"0\" Minute=\"0\" Second=\"0\" />\n"
      "\t\t</AlarmClocks>\n"
      "\t</AlarmClockConfig>\n"
      "\t<AFStudyConfig interval_sec=\"2\" nPtzSpeed=\"5\" nPtzZoomInterval=\"500\" "
      "nPtzZoomStayTime=\"5000\" nPtzZoomExecTimes=\"20\">\n"
      "\t\t<Present enable=\"1\" presetNum=\"253\" functionType=\"0\" />\n"
      "\t\t<Present enable=\"1\" presetNum=\"252\" functionType=\"1\" />\n"
      "\t</AFStudyConfig>\n"
      "\t<PtzMultipleConfig interval_sec=\"2\">\n"
      "\t\t<Present enable=\"1\" presetNum=\"226\" functionType=\"1\" />\n"
      "\t\t<Present enable=\"1\" presetNum=\"226\" functionType=\"1\" />\n"
      "\t\t<Present enable=\"1\" presetNum=\"30\" functionType=\"1\" />\n"
      "\t</PtzMultipleConfig>\n"
      "\t<DeviceSlogFilterCfg DefaultFilter=\"slog -1,0\" SavePath=\"/d/slog\" />\n"
      "</root>\n";
  EXPECT_EQ(ReadFile(p.FilePath()), expected);
}

TEST(SaveParamTest, EveryFieldReadsBackAsSaved) {
  CSaveParam a(FreshFile());
  a.upgrade_folder = "/home/\xE7\x94\xA8\xE6\x88\xB7/fw";  // non-ASCII folder
  a.upgrade_file = "/fw/a&b<c>\"d\".bin";
  a.upload_cfg_file = "/c.xml";
  a.mp3_file = "/m.mp3";
  a.app_file = "/a.bin";
  a.import_file = "/list.xls";
  a.full_switch_stream = 0;
  a.open_audio = 1;
  a.video_rows = 3;
  a.video_cols = 4;
  a.play_mode = 2;
  a.scale_mode = 1;
  a.decode_mode = 0;
  a.video_rect = {-20, 10, 1900, 1090};
  a.default_user = "oper\xC3\xA4tor";
  a.default_password = "p w\td";
  a.default_from_ip = "10.1.2.3";
  a.qr_mode = 0;
  a.mouse_3d_locate = 1;
  a.overlay.enable = 0;
  a.overlay.transparency = 7;
  a.overlay.time_pos_x = 100;
  a.overlay.time_pos_y = 200;
  a.overlay.time_format = "hh:mm:ss";
  a.overlay.title_pos_x = 300;
  a.overlay.title_pos_y = 400;
  a.overlay.title_utf8_hex = "e4bda0";
  a.overlay.style = -2;
  a.overlay.week = 0;
  a.overlay.font_size = 32767;
  a.overlay.time24or12 = 1;
  a.media_light = {3, 250, 1, 80, 90, {6, 30, 5}, {19, 45, 59}, 2, 1, 200};
  a.time_settings = {"NTP", 800, "ntp.example.lan", 65535, 1440};
  a.alarm_clock.oclock_enable = 0;
  a.alarm_clock.oclock_from = {7, 0, 0};
  a.alarm_clock.oclock_to = {22, 0, 0};
  a.alarm_clock.clocks[4] = {1, 23, 59, 58};
  for (std::size_t i = 0; i < 10; ++i) {
    a.af_study.presets[i] = {static_cast<int>(i % 2), static_cast<int>(i + 1), static_cast<int>(i)};
  }
  a.af_study.interval_sec = 9;
  a.af_study.nPtzSpeed = 7;
  a.af_study.nPtzZoomInterval = 250;
  a.af_study.nPtzZoomStayTime = 100;
  a.af_study.nPtzZoomExecTimes = 3;
  a.ptz_multiple.presets = {};
  a.ptz_multiple.presets[0] = {1, 5, 0};
  a.ptz_multiple.interval_sec = 11;
  a.slog_filter = {"slog 3,1", "/logs/\xE6\x97\xA5\xE5\xBF\x97"};
  ASSERT_EQ(a.Save(), 0);

  CSaveParam b(a.FilePath());
  ExpectSameSettings(a, b);
  // The tour's fields other than the interval are not saved for PTZ multiple.
  EXPECT_EQ(b.ptz_multiple.nPtzSpeed, 5);
}

TEST(SaveParamTest, SavingAfterLoadingWritesTheDefaultPositionTypes) {
  const fs::path file = FreshFile();
  WriteFile(file, "<?xml version=\"1.0\"?><root><Overlay><TimeOverlay PosType=\"2\"/>"
                  "<TitleOverlay PosType=\"2\"/></Overlay></root>");
  CSaveParam p(file);
  ASSERT_EQ(p.Save(), 0);
  const std::string saved = ReadFile(file);
  EXPECT_EQ(saved.find("PosType=\"2\""), std::string::npos) << saved;
  EXPECT_NE(saved.find("<TimeOverlay PosX=\"1\" PosY=\"1\" Format=\"yyyy-mm-dd hh:mm:ss\" PosType=\"0\""),
            std::string::npos) << saved;
  EXPECT_NE(saved.find("PosY=\"0\" PosType=\"0\""), std::string::npos) << saved;
}

TEST(SaveParamTest, FileIsUtf8AndSaysSo) {
  CSaveParam p(FreshFile());
  p.upgrade_folder = "/\xE5\x9B\xBA\xE4\xBB\xB6/\xC3\xA9t\xC3\xA9/\xF0\x9F\x93\xB7";
  p.default_user = "bad\xFF\xFE";  // not UTF-8: never written as such
  ASSERT_EQ(p.Save(), 0);
  const std::string bytes = ReadFile(p.FilePath());
  EXPECT_EQ(bytes.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>", 0), 0u);
  EXPECT_TRUE(Iconv("UTF-8", "UTF-16LE", bytes, nullptr)) << "iconv rejects the file as UTF-8";
  EXPECT_NE(bytes.find(p.upgrade_folder), std::string::npos);
  CSaveParam q(p.FilePath());
  EXPECT_EQ(q.upgrade_folder, p.upgrade_folder);
  EXPECT_EQ(q.default_user, "bad\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(SaveParamTest, Gb2312FilesOfEarlierVersionsLoadAsGbk) {
  const std::string folder_utf8 = "C:\\\xE5\x9B\xBA\xE4\xBB\xB6\\\xE5\x8D\x87\xE7\xBA\xA7";  // 固件\升级
  const std::string user_utf8 = "\xE7\xAE\xA1\xE7\x90\x86\xE5\x91\x98";                   // 管理员
  const std::string xml_utf8 = "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n<root>\n"
                               "<UpgradePath name=\"" + folder_utf8 + "\" />\n"
                               "<DefaultUser username=\"" + user_utf8 + "\" password=\"x\" />\n"
                               "</root>\n";
  std::string xml_gbk;
  ASSERT_TRUE(Iconv("UTF-8", "GBK", xml_utf8, &xml_gbk));
  ASSERT_NE(xml_gbk, xml_utf8);
  fs::path file = FreshFile();
  WriteFile(file, xml_gbk);
  CSaveParam p(file);
  EXPECT_EQ(p.upgrade_folder, folder_utf8);
  EXPECT_EQ(p.default_user, user_utf8);
  // The next save writes UTF-8 and declares it.
  ASSERT_EQ(p.Save(), 0);
  const std::string bytes = ReadFile(file);
  EXPECT_NE(bytes.find("encoding=\"UTF-8\""), std::string::npos);
  EXPECT_NE(bytes.find(user_utf8), std::string::npos);
  EXPECT_TRUE(kelvara::IsValidUtf8(bytes));
}

TEST(SaveParamTest, ReadingRules) {
  struct Case {
    const char* name;
    const char* body;  // children of the root
    void (*check)(const CSaveParam&);
  } cases[] = {
      {"root of another name", "",  // body goes into <other>, see below
       [](const CSaveParam& p) { EXPECT_EQ(p.play_mode, 4); }},
      {"QR and 3D mouse are 0 or 1",
       "<QR show=\"5\"/><Mouse3DLocate enable=\"-1\"/>",
       [](const CSaveParam& p) {
         EXPECT_EQ(p.qr_mode, 1);
         EXPECT_EQ(p.mouse_3d_locate, 0);
       }},
      {"QR negative", "<QR show=\"-1\"/>", [](const CSaveParam& p) { EXPECT_EQ(p.qr_mode, 0); }},
      {"rectangle from left and width", "<VideoWindow row=\"2\" col=\"3\" left=\"10\" width=\"100\"/>",
       [](const CSaveParam& p) {
         EXPECT_EQ(p.video_rect, (CSaveParam::Rect{10, 0, 110, 0}));
         EXPECT_EQ(p.video_rows, 2);
         EXPECT_EQ(p.video_cols, 3);
       }},
      {"rectangle does not overflow", "<VideoWindow left=\"2147483000\" width=\"2147483000\"/>",
       [](const CSaveParam& p) { EXPECT_EQ(p.video_rect.right, 2147483647); }},
      {"absent text attributes empty their field",
       "<UpgradePath/><DefaultUser password=\"p\"/><DefaultFromIP/>",
       [](const CSaveParam& p) {
         EXPECT_EQ(p.upgrade_folder, "");
         EXPECT_EQ(p.default_user, "");
         EXPECT_EQ(p.default_password, "p");
         EXPECT_EQ(p.default_from_ip, "");
       }},
      {"integers as the C library reads them, cut to the field",
       "<FullSwitchStream value=\" +7x\"/><OpenAudio value=\"abc\"/>"
       "<MediaLight ircut_openled_delay=\"300\" led_brightness_value=\"-1\"/>"
       "<Overlay Style=\"70000\"/><TimeConfig><NTPConfig ServerPort=\"65537\"/></TimeConfig>",
       [](const CSaveParam& p) {
         EXPECT_EQ(p.full_switch_stream, 7);
         EXPECT_EQ(p.open_audio, 0);
         EXPECT_EQ(p.media_light.ircut_openled_delay, 44);
         EXPECT_EQ(p.media_light.led_brightness_value, 255);
         EXPECT_EQ(p.overlay.style, 4464);
         EXPECT_EQ(p.time_settings.ntp_port, 1);
       }},
      {"times: parts that do not parse stay", "<MediaLight startTime=\"7:5\" endTime=\"x\"/>",
       [](const CSaveParam& p) {
         EXPECT_EQ(p.media_light.startTime, (kelvara::ClockTime{7, 5, 0}));
         EXPECT_EQ(p.media_light.endTime, (kelvara::ClockTime{8, 0, 0}));
       }},
      {"texts keep their field's length",
       "<Overlay><TimeOverlay Format=\"0123456789012345678901234567890123456789\"/></Overlay>"
       "<TimeConfig TimeMode=\"NTP\"><NTPConfig ServerIP=\"host.lan\"/></TimeConfig>",
       [](const CSaveParam& p) {
         EXPECT_EQ(p.overlay.time_format, "0123456789012345678901234567890");
         EXPECT_EQ(p.time_settings.time_mode, "NTP");
         EXPECT_EQ(p.time_settings.ntp_server, "host.lan");
       }},
      {"NTP only as the first child", "<TimeConfig><Other/><NTPConfig ServerPort=\"1\"/></TimeConfig>",
       [](const CSaveParam& p) { EXPECT_EQ(p.time_settings.ntp_port, 123); }},
      {"clocks fill in document order, Index ignored",
       "<AlarmClockConfig OclockEnable=\"0\"><AlarmClocks>"
       "<Clock Index=\"3\" Hour=\"5\"/><Other/><Clock Index=\"0\" Minute=\"7\"/>"
       "</AlarmClocks></AlarmClockConfig>",
       [](const CSaveParam& p) {
         EXPECT_EQ(p.alarm_clock.oclock_enable, 0);
         EXPECT_EQ(p.alarm_clock.clocks[0], (kelvara::AlarmClockSettings::Clock{1, 5, 30, 0}));
         EXPECT_EQ(p.alarm_clock.clocks[1], (kelvara::AlarmClockSettings::Clock{1, 12, 7, 0}));
         EXPECT_EQ(p.alarm_clock.clocks[3], (kelvara::AlarmClockSettings::Clock{1, 21, 30, 0}));
       }},
      {"at most ten presets",
       "<AFStudyConfig><Present presetNum=\"1\"/><Present presetNum=\"2\"/><Present presetNum=\"3\"/>"
       "<Present presetNum=\"4\"/><Present presetNum=\"5\"/><Present presetNum=\"6\"/>"
       "<Present presetNum=\"7\"/><Present presetNum=\"8\"/><Present presetNum=\"9\"/>"
       "<Present presetNum=\"10\"/><Present presetNum=\"11\"/></AFStudyConfig>",
       [](const CSaveParam& p) {
         EXPECT_EQ(p.af_study.presets[9].presetNum, 10);
         EXPECT_EQ(p.af_study.presets[0].enable, 1);  // absent attribute: unchanged
       }},
      {"an empty preset list reads back empty",
       "<AFStudyConfig interval_sec=\"4\"/><PtzMultipleConfig><Present presetNum=\"9\"/></PtzMultipleConfig>",
       [](const CSaveParam& p) {
         EXPECT_EQ(p.af_study.interval_sec, 4);
         EXPECT_EQ(p.af_study.presets[0], (kelvara::AfStudySettings::Preset{}));
         EXPECT_EQ(p.af_study.presets[1], (kelvara::AfStudySettings::Preset{}));
         EXPECT_EQ(p.ptz_multiple.presets[0], (kelvara::AfStudySettings::Preset{1, 9, 1}));
         EXPECT_EQ(p.ptz_multiple.presets[2], (kelvara::AfStudySettings::Preset{}));
       }},
      {"position types are not read",
       "<Overlay><TimeOverlay PosX=\"5\" PosType=\"2\"/><TitleOverlay PosType=\"2\"/></Overlay>",
       [](const CSaveParam& p) {
         EXPECT_EQ(p.overlay.time_pos_x, 5);
         EXPECT_EQ(p.overlay.time_pos_type, 0);
         EXPECT_EQ(p.overlay.title_pos_type, 0);
       }},
      {"a repeated element is applied again", "<PlayMode mode=\"1\"/><PlayMode mode=\"2\"/><playmode mode=\"3\"/>",
       [](const CSaveParam& p) { EXPECT_EQ(p.play_mode, 2); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::path file = FreshFile();
    std::string body = c.body;
    std::string root = "root";
    if (body.empty()) {
      root = "other";
      body = "<PlayMode mode=\"4\"/>";
    }
    WriteFile(file, "<?xml version=\"1.0\"?><" + root + ">" + body + "</" + root + ">");
    CSaveParam p(file);
    c.check(p);
  }
}

TEST(SaveParamTest, BadFilesLeaveTheDefaultsAndTheNextSaveRepairsThem) {
  const std::vector<std::string> bad = {"", "<root><PlayMode mode=\"2\"", "not xml at all",
                                        "<root>\0<PlayMode mode=\"2\"/></root>"s,
                                        "<?xml version=\"1.0\"?>"};
  for (const std::string& content : bad) {
    fs::path file = FreshFile();
    WriteFile(file, content);
    CSaveParam p(file);
    EXPECT_EQ(p.play_mode, 0);
    EXPECT_EQ(p.overlay.style, 3);
    ASSERT_EQ(p.Save(), 0);
    CSaveParam q(file);
    ExpectSameSettings(p, q);
  }
}

TEST(SaveParamTest, FailedSaveIsReported) {
  fs::path dir = kelvara::test::MakeTempDir("cfg");
  CSaveParam blocked(dir / "a_file" / "zq_cfg.xml");
  WriteFile(dir / "a_file", "x");  // the folder cannot be made: a file is in the way
  EXPECT_EQ(blocked.Save(), -1);

  // A folder where the file should be: the rename fails, the folder stays.
  fs::create_directory(dir / "zq_cfg.xml");
  CSaveParam p(dir / "zq_cfg.xml");
  EXPECT_EQ(p.Save(), -1);
  EXPECT_TRUE(fs::is_directory(dir / "zq_cfg.xml"));
}

}  // namespace
