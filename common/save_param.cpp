#include "common/save_param.h"

#include <tinyxml.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <optional>

#include "common/atomic_file.h"
#include "common/debug_log.h"
#include "common/folder_functions.h"
#include "common/paths.h"
#include "common/text_convert.h"
#include "common/xml_values.h"
#include "common/xml_guard.h"

namespace {

using kelvara::MakeValidUtf8;
using kelvara::ParseDecimalInt;
using kelvara::TruncateUtf8;

constexpr char kFileName[] = "zq_cfg.xml";

// Encodings that earlier versions declared while writing GBK bytes.
bool IsGbkEncoding(const char* enc) {
  if (enc == nullptr) return false;
  std::string e(enc);
  std::transform(e.begin(), e.end(), e.begin(), [](unsigned char c) { return std::tolower(c); });
  return e == "gb2312" || e == "gbk" || e == "gb18030" || e == "cp936" || e == "936";
}

// The encoding named by the XML declaration at the start of the text, or "".
std::string DeclaredEncoding(std::string_view xml) {
  if (xml.substr(0, 3) == "\xEF\xBB\xBF") return "UTF-8";
  const std::size_t start = xml.find_first_not_of(" \t\r\n");
  if (start == std::string_view::npos || xml.substr(start, 5) != "<?xml") return {};
  std::string_view decl = xml.substr(start, xml.find("?>", start) - start);
  const std::size_t key = decl.find("encoding");
  if (key == std::string_view::npos) return {};
  std::size_t p = decl.find_first_not_of(" \t\r\n", key + 8);
  if (p == std::string_view::npos || decl[p] != '=') return {};
  p = decl.find_first_not_of(" \t\r\n", p + 1);
  if (p == std::string_view::npos || (decl[p] != '"' && decl[p] != '\'')) return {};
  const std::size_t end = decl.find(decl[p], p + 1);
  if (end == std::string_view::npos) return {};
  return std::string(decl.substr(p + 1, end - p - 1));
}

int ClampToInt(long long v) {
  return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

// Reads attributes of one element: text in the file's encoding becomes UTF-8,
// integers are read as the C library does and cut to the field's width.
class Reader {
 public:
  Reader(const TiXmlElement& e, bool gbk) : e_(e), gbk_(gbk) {}

  std::optional<std::string> Text(const char* name) const {
    const char* v = e_.Attribute(name);
    if (v == nullptr) return std::nullopt;
    return gbk_ ? kelvara::GbkToUtf8(v) : MakeValidUtf8(v);
  }
  // Folders, files and the login: an absent attribute empties the field.
  void TextOrEmpty(const char* name, std::string& field) const { field = Text(name).value_or(""); }
  void TextIfPresent(const char* name, std::string& field, std::size_t max_bytes) const {
    if (auto v = Text(name)) field = TruncateUtf8(*v, max_bytes);
  }
  std::optional<int> Int(const char* name) const {
    const char* v = e_.Attribute(name);
    if (v == nullptr) return std::nullopt;
    return ParseDecimalInt(v);
  }
  template <typename T>
  void IntIfPresent(const char* name, T& field) const {
    if (auto v = Int(name)) field = static_cast<T>(*v);
  }
  // "hh:mm:ss"; a part that does not parse leaves its value unchanged.
  void TimeIfPresent(const char* name, kelvara::ClockTime& t) const {
    const char* v = e_.Attribute(name);
    if (v == nullptr) return;
    int parts[3] = {t.hour, t.minute, t.second};
    std::sscanf(v, "%2d:%2d:%2d", &parts[0], &parts[1], &parts[2]);
    t.hour = static_cast<std::uint8_t>(parts[0]);
    t.minute = static_cast<std::uint8_t>(parts[1]);
    t.second = static_cast<std::uint8_t>(parts[2]);
  }

 private:
  const TiXmlElement& e_;
  bool gbk_;
};

TiXmlElement* Add(TiXmlElement& parent, const char* name) {
  return parent.LinkEndChild(new TiXmlElement(name))->ToElement();
}

void SetText(TiXmlElement& e, const char* name, const std::string& value) {
  e.SetAttribute(name, MakeValidUtf8(value));
}

std::string TimeText(const kelvara::ClockTime& t) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
  return buf;
}

// Every preset up to the last one that holds anything is written, also one
// numbered 0 (a disabled entry): the tour reads back whole. Entries after the
// last used one are all zero and read back as such.
void SavePresets(TiXmlElement& e, const kelvara::AfStudySettings& s) {
  std::size_t used = 0;
  for (std::size_t i = 0; i < s.presets.size(); ++i) {
    const auto& p = s.presets[i];
    if (p.enable != 0 || p.presetNum != 0 || p.functionType != 0) used = i + 1;
  }
  for (std::size_t i = 0; i < used; ++i) {
    const auto& p = s.presets[i];
    TiXmlElement* present = Add(e, "Present");
    present->SetAttribute("enable", p.enable);
    present->SetAttribute("presetNum", p.presetNum);
    present->SetAttribute("functionType", p.functionType);
  }
}

// The presets after the last one in the file are cleared: the list reads
// back as saved.
void LoadPresets(const TiXmlElement& e, kelvara::AfStudySettings& s) {
  std::size_t i = 0;
  for (const TiXmlElement* p = e.FirstChildElement("Present");
       p != nullptr && i < s.presets.size(); p = p->NextSiblingElement("Present"), ++i) {
    Reader r(*p, false);
    r.IntIfPresent("enable", s.presets[i].enable);
    r.IntIfPresent("presetNum", s.presets[i].presetNum);
    r.IntIfPresent("functionType", s.presets[i].functionType);
  }
  for (; i < s.presets.size(); ++i) s.presets[i] = {};
}

}  // namespace

CSaveParam::CSaveParam(std::filesystem::path file) : file_path(std::move(file)) {
  const std::string documents = kelvara::paths::DocumentsDir().string();
  upgrade_folder = upgrade_file = upload_cfg_file = mp3_file = app_file = import_file = documents;
  alarm_clock.oclock_enable = 1;
  alarm_clock.oclock_from = {0, 0, 0};
  alarm_clock.oclock_to = {23, 59, 59};
  alarm_clock.clocks = {{{1, 8, 30, 0}, {1, 12, 30, 0}, {1, 14, 2, 0}, {1, 21, 30, 0}, {0, 0, 0, 0}}};
  slog_filter.default_filter = "slog -1,0";
  // Device logs go below the user's documents folder (shell folder 5), the
  // same folder every other part means by "documents".
  slog_filter.save_path = (kelvara::GetShellFolderPath(5) / "slog").string();
  Load();
}

std::filesystem::path CSaveParam::DefaultPath() { return kelvara::paths::ConfigDir() / kFileName; }

void CSaveParam::SetDeviceDefaults() {
  overlay = {};
  overlay.enable = 1;
  overlay.time_pos_x = 1;
  overlay.time_pos_y = 1;
  overlay.time_format = "yyyy-mm-dd hh:mm:ss";
  overlay.title_utf8_hex = kDefaultTitleHex;
  overlay.style = 3;
  overlay.week = 1;

  media_light = {};
  media_light.ircut_openled_delay = 12;
  media_light.led_brightness_value = 100;
  media_light.startTime = {18, 0, 0};
  media_light.endTime = {8, 0, 0};
  media_light.light_off_sensitivity = 50;

  time_settings = {};
  time_settings.time_mode = "MANUAL";
  time_settings.time_zone = 1200;
  time_settings.ntp_server = kDefaultNtpServer;
  time_settings.ntp_port = 123;
  time_settings.ntp_refresh_interval = 60;

  for (kelvara::AfStudySettings* s : {&af_study, &ptz_multiple}) {
    s->nPtzSpeed = 5;
    s->nPtzZoomInterval = 500;
    s->nPtzZoomStayTime = 5000;
    s->nPtzZoomExecTimes = 20;
    s->interval_sec = 2;
  }
  af_study.presets[0] = {1, 253, 0};
  af_study.presets[1] = {1, 252, 1};
  ptz_multiple.presets[0] = {1, 226, 1};
  ptz_multiple.presets[1] = {1, 226, 1};
  ptz_multiple.presets[2] = {1, 30, 1};
}

int CSaveParam::Load() {
  std::string content;  // a missing or unreadable file leaves it empty: defaults
  if (std::ifstream in(file_path, std::ios::binary); in) {
    std::ostringstream s;
    s << in.rdbuf();
    if (!in.bad()) content = std::move(s).str();
  }
  return LoadFromText(content);
}

int CSaveParam::LoadFromText(std::string_view xml) {
  SetDeviceDefaults();
  // GBK files are parsed byte by byte and converted per text; anything else
  // is parsed as UTF-8 after every malformed byte is replaced, so the parser
  // never meets a lead byte that promises more bytes than there are.
  const bool gbk = IsGbkEncoding(DeclaredEncoding(xml).c_str());
  const std::string text = gbk ? std::string(xml) : MakeValidUtf8(xml);
  TiXmlDocument doc;
  kelvara::ParseXmlGuarded(doc, text, gbk ? TIXML_ENCODING_LEGACY : TIXML_ENCODING_UTF8);
  if (!doc.Error()) LoadDocument(doc, gbk);
  return 0;
}

void CSaveParam::LoadDocument(const TiXmlDocument& doc, bool gbk) {
  const TiXmlElement* root = doc.RootElement();  // whatever its name
  if (root == nullptr) return;

  for (const TiXmlElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
    const std::string_view name = e->Value();
    Reader r(*e, gbk);
    if (name == "UpgradePath") {
      r.TextOrEmpty("name", upgrade_folder);
    } else if (name == "UpgradeFileName") {
      r.TextOrEmpty("name", upgrade_file);
    } else if (name == "UploadCfgFileName") {
      r.TextOrEmpty("name", upload_cfg_file);
    } else if (name == "Mp3FilePath") {
      r.TextOrEmpty("name", mp3_file);
    } else if (name == "AppFilePath") {
      r.TextOrEmpty("name", app_file);
    } else if (name == "ImportFilePath") {
      r.TextOrEmpty("name", import_file);
    } else if (name == "FullSwitchStream") {
      r.IntIfPresent("value", full_switch_stream);
    } else if (name == "OpenAudio") {
      r.IntIfPresent("value", open_audio);
    } else if (name == "PlayMode") {
      r.IntIfPresent("mode", play_mode);
    } else if (name == "ScaleMode") {
      r.IntIfPresent("mode", scale_mode);
    } else if (name == "DecodeMode") {
      r.IntIfPresent("mode", decode_mode);
    } else if (name == "VideoWindow") {
      r.IntIfPresent("row", video_rows);
      r.IntIfPresent("col", video_cols);
      r.IntIfPresent("left", video_rect.left);
      r.IntIfPresent("top", video_rect.top);
      if (auto w = r.Int("width")) video_rect.right = ClampToInt(0LL + video_rect.left + *w);
      if (auto h = r.Int("height")) video_rect.bottom = ClampToInt(0LL + video_rect.top + *h);
    } else if (name == "QR") {
      if (auto v = r.Int("show")) qr_mode = *v > 0 ? 1 : 0;
    } else if (name == "Mouse3DLocate") {
      if (auto v = r.Int("enable")) mouse_3d_locate = *v > 0 ? 1 : 0;
    } else if (name == "DefaultUser") {
      r.TextOrEmpty("username", default_user);
      r.TextOrEmpty("password", default_password);
    } else if (name == "DefaultFromIP") {
      r.TextOrEmpty("ip", default_from_ip);
    } else if (name == "Overlay") {
      LoadOverlay(*e, gbk);
    } else if (name == "MediaLight") {
      LoadMediaLight(*e);
    } else if (name == "TimeConfig") {
      r.TextIfPresent("TimeMode", time_settings.time_mode, kelvara::TimeSettings::kMaxTimeMode);
      r.IntIfPresent("TimeZone", time_settings.time_zone);
      const TiXmlElement* ntp = e->FirstChildElement();
      if (ntp != nullptr && std::strcmp(ntp->Value(), "NTPConfig") == 0) {
        Reader n(*ntp, gbk);
        n.TextIfPresent("ServerIP", time_settings.ntp_server, kelvara::TimeSettings::kMaxNtpServer);
        n.IntIfPresent("ServerPort", time_settings.ntp_port);
        n.IntIfPresent("RefreshInterval", time_settings.ntp_refresh_interval);
      }
    } else if (name == "AlarmClockConfig") {
      r.IntIfPresent("OclockEnable", alarm_clock.oclock_enable);
      r.IntIfPresent("OclockFromHour", alarm_clock.oclock_from.hour);
      r.IntIfPresent("OclockFromMinute", alarm_clock.oclock_from.minute);
      r.IntIfPresent("OclockFromSecond", alarm_clock.oclock_from.second);
      r.IntIfPresent("OclockToHour", alarm_clock.oclock_to.hour);
      r.IntIfPresent("OclockToMinute", alarm_clock.oclock_to.minute);
      r.IntIfPresent("OclockToSecond", alarm_clock.oclock_to.second);
      if (const TiXmlElement* clocks = e->FirstChildElement("AlarmClocks")) {
        // Clocks fill in document order; their Index attribute is not trusted.
        std::size_t i = 0;
        for (const TiXmlElement* c = clocks->FirstChildElement("Clock");
             c != nullptr && i < alarm_clock.clocks.size(); c = c->NextSiblingElement("Clock"), ++i) {
          Reader cr(*c, false);
          cr.IntIfPresent("Enable", alarm_clock.clocks[i].enable);
          cr.IntIfPresent("Hour", alarm_clock.clocks[i].hour);
          cr.IntIfPresent("Minute", alarm_clock.clocks[i].minute);
          cr.IntIfPresent("Second", alarm_clock.clocks[i].second);
        }
      }
    } else if (name == "AFStudyConfig") {
      r.IntIfPresent("interval_sec", af_study.interval_sec);
      r.IntIfPresent("nPtzSpeed", af_study.nPtzSpeed);
      r.IntIfPresent("nPtzZoomInterval", af_study.nPtzZoomInterval);
      r.IntIfPresent("nPtzZoomStayTime", af_study.nPtzZoomStayTime);
      r.IntIfPresent("nPtzZoomExecTimes", af_study.nPtzZoomExecTimes);
      LoadPresets(*e, af_study);
    } else if (name == "PtzMultipleConfig") {
      r.IntIfPresent("interval_sec", ptz_multiple.interval_sec);
      LoadPresets(*e, ptz_multiple);
    } else if (name == "DeviceSlogFilterCfg") {
      r.TextIfPresent("DefaultFilter", slog_filter.default_filter,
                      kelvara::SlogFilterSettings::kMaxFilter);
      r.TextOrEmpty("SavePath", slog_filter.save_path);
    }
  }
}

void CSaveParam::LoadOverlay(const TiXmlElement& e, bool gbk) {
  Reader r(e, gbk);
  r.IntIfPresent("Enable", overlay.enable);
  r.IntIfPresent("Transparency", overlay.transparency);
  r.IntIfPresent("time24or12", overlay.time24or12);
  r.IntIfPresent("Week", overlay.week);
  r.IntIfPresent("Fontsize", overlay.font_size);
  r.IntIfPresent("Style", overlay.style);
  // PosType is written but never read: a saved file always gets the default
  // position types back, whatever a loaded file held.
  for (const TiXmlElement* c = e.FirstChildElement(); c; c = c->NextSiblingElement()) {
    Reader cr(*c, gbk);
    if (std::strcmp(c->Value(), "TimeOverlay") == 0) {
      cr.IntIfPresent("PosX", overlay.time_pos_x);
      cr.IntIfPresent("PosY", overlay.time_pos_y);
      cr.TextIfPresent("Format", overlay.time_format, kelvara::OverlayConfig::kMaxTimeFormat);
    } else if (std::strcmp(c->Value(), "TitleOverlay") == 0) {
      cr.IntIfPresent("PosX", overlay.title_pos_x);
      cr.IntIfPresent("PosY", overlay.title_pos_y);
      cr.TextIfPresent("TitleUtf8", overlay.title_utf8_hex, kelvara::OverlayConfig::kMaxTitleHex);
    }
  }
}

void CSaveParam::LoadMediaLight(const TiXmlElement& e) {
  Reader r(e, false);
  r.IntIfPresent("ircut_mode", media_light.ircut_mode);
  r.IntIfPresent("ircut_openled_delay", media_light.ircut_openled_delay);
  r.IntIfPresent("led_brightness_mode", media_light.led_brightness_mode);
  r.IntIfPresent("led_brightness_value", media_light.led_brightness_value);
  r.IntIfPresent("led_brightness_alarm", media_light.led_brightness_alarm);
  r.TimeIfPresent("startTime", media_light.startTime);
  r.TimeIfPresent("endTime", media_light.endTime);
  r.IntIfPresent("led_mode", media_light.led_mode);
  r.IntIfPresent("ispadvmode", media_light.ispadvmode);
  r.IntIfPresent("light_off_sensitivity", media_light.light_off_sensitivity);
}

void CSaveParam::SaveOverlay(TiXmlElement& root) const {
  TiXmlElement* e = Add(root, "Overlay");
  e->SetAttribute("Enable", overlay.enable);
  e->SetAttribute("Transparency", overlay.transparency);
  e->SetAttribute("time24or12", overlay.time24or12);
  e->SetAttribute("Week", overlay.week);
  e->SetAttribute("Fontsize", overlay.font_size);
  e->SetAttribute("Style", overlay.style);
  TiXmlElement* t = Add(*e, "TimeOverlay");
  t->SetAttribute("PosX", overlay.time_pos_x);
  t->SetAttribute("PosY", overlay.time_pos_y);
  SetText(*t, "Format", overlay.time_format);
  t->SetAttribute("PosType", overlay.time_pos_type);
  TiXmlElement* ti = Add(*e, "TitleOverlay");
  ti->SetAttribute("PosX", overlay.title_pos_x);
  ti->SetAttribute("PosY", overlay.title_pos_y);
  ti->SetAttribute("PosType", overlay.title_pos_type);
  SetText(*ti, "TitleUtf8", overlay.title_utf8_hex);
}

void CSaveParam::SaveMediaLight(TiXmlElement& root) const {
  TiXmlElement* e = Add(root, "MediaLight");
  e->SetAttribute("ircut_mode", media_light.ircut_mode);
  e->SetAttribute("ircut_openled_delay", media_light.ircut_openled_delay);
  e->SetAttribute("led_brightness_mode", media_light.led_brightness_mode);
  e->SetAttribute("led_brightness_value", media_light.led_brightness_value);
  e->SetAttribute("led_brightness_alarm", media_light.led_brightness_alarm);
  e->SetAttribute("startTime", TimeText(media_light.startTime));
  e->SetAttribute("endTime", TimeText(media_light.endTime));
  e->SetAttribute("led_mode", media_light.led_mode);
  e->SetAttribute("ispadvmode", media_light.ispadvmode);
  e->SetAttribute("light_off_sensitivity", media_light.light_off_sensitivity);
}

std::string CSaveParam::ToXmlText() const {
  TiXmlDocument doc;
  doc.LinkEndChild(new TiXmlDeclaration("1.0", "UTF-8", ""));
  TiXmlElement* root = doc.LinkEndChild(new TiXmlElement("root"))->ToElement();

  const std::pair<const char*, const std::string*> files[] = {
      {"UpgradePath", &upgrade_folder}, {"UpgradeFileName", &upgrade_file},
      {"UploadCfgFileName", &upload_cfg_file}, {"Mp3FilePath", &mp3_file},
      {"AppFilePath", &app_file}, {"ImportFilePath", &import_file}};
  for (const auto& [name, value] : files) SetText(*Add(*root, name), "name", *value);

  Add(*root, "FullSwitchStream")->SetAttribute("value", full_switch_stream);
  Add(*root, "OpenAudio")->SetAttribute("value", open_audio);

  TiXmlElement* vw = Add(*root, "VideoWindow");
  vw->SetAttribute("row", video_rows);
  vw->SetAttribute("col", video_cols);
  vw->SetAttribute("left", video_rect.left);
  vw->SetAttribute("top", video_rect.top);
  vw->SetAttribute("width", ClampToInt(0LL + video_rect.right - video_rect.left));
  vw->SetAttribute("height", ClampToInt(0LL + video_rect.bottom - video_rect.top));

  Add(*root, "PlayMode")->SetAttribute("mode", play_mode);
  Add(*root, "DecodeMode")->SetAttribute("mode", decode_mode);
  Add(*root, "ScaleMode")->SetAttribute("mode", scale_mode);
  Add(*root, "QR")->SetAttribute("show", qr_mode);
  Add(*root, "Mouse3DLocate")->SetAttribute("enable", mouse_3d_locate);

  TiXmlElement* user = Add(*root, "DefaultUser");
  SetText(*user, "username", default_user);
  SetText(*user, "password", default_password);
  SetText(*Add(*root, "DefaultFromIP"), "ip", default_from_ip);

  SaveOverlay(*root);
  SaveMediaLight(*root);

  TiXmlElement* tc = Add(*root, "TimeConfig");
  SetText(*tc, "TimeMode", time_settings.time_mode);
  tc->SetAttribute("TimeZone", time_settings.time_zone);
  TiXmlElement* ntp = Add(*tc, "NTPConfig");
  SetText(*ntp, "ServerIP", time_settings.ntp_server);
  ntp->SetAttribute("ServerPort", time_settings.ntp_port);
  ntp->SetAttribute("RefreshInterval", time_settings.ntp_refresh_interval);

  TiXmlElement* ac = Add(*root, "AlarmClockConfig");
  ac->SetAttribute("OclockEnable", alarm_clock.oclock_enable);
  ac->SetAttribute("OclockFromHour", alarm_clock.oclock_from.hour);
  ac->SetAttribute("OclockFromMinute", alarm_clock.oclock_from.minute);
  ac->SetAttribute("OclockFromSecond", alarm_clock.oclock_from.second);
  ac->SetAttribute("OclockToHour", alarm_clock.oclock_to.hour);
  ac->SetAttribute("OclockToMinute", alarm_clock.oclock_to.minute);
  ac->SetAttribute("OclockToSecond", alarm_clock.oclock_to.second);
  TiXmlElement* clocks = Add(*ac, "AlarmClocks");
  for (std::size_t i = 0; i < alarm_clock.clocks.size(); ++i) {
    const auto& c = alarm_clock.clocks[i];
    TiXmlElement* ce = Add(*clocks, "Clock");
    ce->SetAttribute("Index", static_cast<int>(i));
    ce->SetAttribute("Enable", c.enable);
    ce->SetAttribute("Hour", c.hour);
    ce->SetAttribute("Minute", c.minute);
    ce->SetAttribute("Second", c.second);
  }

  TiXmlElement* af = Add(*root, "AFStudyConfig");
  af->SetAttribute("interval_sec", af_study.interval_sec);
  af->SetAttribute("nPtzSpeed", af_study.nPtzSpeed);
  af->SetAttribute("nPtzZoomInterval", af_study.nPtzZoomInterval);
  af->SetAttribute("nPtzZoomStayTime", af_study.nPtzZoomStayTime);
  af->SetAttribute("nPtzZoomExecTimes", af_study.nPtzZoomExecTimes);
  SavePresets(*af, af_study);
  TiXmlElement* pm = Add(*root, "PtzMultipleConfig");
  pm->SetAttribute("interval_sec", ptz_multiple.interval_sec);
  SavePresets(*pm, ptz_multiple);

  TiXmlElement* slog = Add(*root, "DeviceSlogFilterCfg");
  SetText(*slog, "DefaultFilter", slog_filter.default_filter);
  SetText(*slog, "SavePath", slog_filter.save_path);

  TiXmlPrinter printer;
  printer.SetIndent("\t");
  doc.Accept(&printer);
  return printer.Str();
}

int CSaveParam::Save() {
  std::string error = "cannot create the folder";
  if (kelvara::paths::EnsureDir(file_path.parent_path()).empty() ||
      // The file holds the default device login: readable by its owner only.
      !kelvara::WriteFileAtomically(file_path, ToXmlText(), &error, 0600)) {
    kelvara::DebugLogPrintf("CSaveParam::Save %s failed: %s\n", file_path.c_str(), error.c_str());
    return -1;
  }
  return 0;
}
