#include "config_store.h"

#include <cstring>
#include <ctime>
#include <sstream>

namespace kelvara::devsim {
namespace {

std::string Esc(const std::string& in) {
  std::string out;
  for (char c : in) {
    switch (c) {
      case '"': out += "&quot;"; break;
      case '&': out += "&amp;"; break;
      case '\'': out += "&apos;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Attr(const char* name, const std::string& value) {
  return std::string(" ") + name + "=\"" + Esc(value) + "\"";
}

std::string Attr(const char* name, long value) { return Attr(name, std::to_string(value)); }

std::string HexOf(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

bool FromHex(const std::string& hex, std::string& out) {
  if (hex.size() % 2) return false;
  out.clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    const std::string pair = hex.substr(i, 2);
    char* end = nullptr;
    const long v = std::strtol(pair.c_str(), &end, 16);
    if (end != pair.c_str() + 2) return false;
    out += static_cast<char>(v);
  }
  return true;
}

}  // namespace

std::map<uint32_t, std::string> DefaultConfigBlocks(const DeviceConfig& c) {
  std::map<uint32_t, std::string> b;
  // Video capture: every member the SDK's record knows, and some it does not
  // (a firmware extension attribute, a vendor element and raw record bytes).
  b[504] =
      "<Video><Capture Brightness=\"128\" Contrast=\"128\" Saturation=\"128\" Sharpness=\"128\""
      " BackLight=\"0\" TVSystem=\"1\" forct_antiflicker=\"0\" cropxpix=\"0\" cropypix=\"0\""
      " HFlip=\"0\" VFlip=\"0\" rotate=\"0\" bManualGain=\"0\" gainValue=\"-1\" HLC=\"0\""
      " shutter_mode=\"0\" shutter_mode_night=\"0\" shutter_speed_day=\"25\""
      " shutter_speed_night=\"25\" IrcutMode=\"2\" IrcutSensitivity=\"50\""
      " IrcutOpenLedDelay=\"0\" led_brightness_mode=\"0\" led_brightness_value=\"10\""
      " led_brightness_alarm=\"80\""
      " IrcutNightStartTime=\"18:00:00\" IrcutNightEndTime=\"07:00:00\" IrcutKeepColor=\"0\""
      " WDRMode=\"0\" WDRValue=\"128\" DfrogFlag=\"0\" DfrogValue=\"128\""
      " WDRStartTime=\"00:00:00\" WDREndTime=\"00:00:00\" WB_RGB=\"8421504\" TNF=\"128\""
      " SNF=\"128\" isp_mode_color=\"0\" isp_mode_night=\"0\" led_mode=\"0\" ispadvmode=\"0\""
      " videoEncodeMode=\"0\" face_exposure_sensitivity=\"3\" light_off_sensitivity=\"0\""
      " AntiShake=\"2\" RecordBytes=\"00ff7f80a5c3e1d20000beef\">"
      "<SmartIr Level=\"4\" Zones=\"3\" />"
      "</Capture></Video>";
  b[505] = "<Overlay\tEnable=\"1\" Transparency=\"0\" Style=\"0\" Fontsize=\"0\" Week=\"0\" Shadow=\"1\">"
           "<TimeOverlay PosX=\"0\" PosY=\"0\" Format=\"yyyy-mm-dd hh:mm:ss\" />"
           "<TitleOverlay PosX=\"0\" PosY=\"90\"" + Attr("TitleUtf8", HexOf(c.title)) +
           " /></Overlay>";
  b[503] = "<VideoEncode><Stream No=\"0\" Codec=\"H265\" Width=\"2560\" Height=\"1440\" FrameRate=\"25\""
           " BitRate=\"4096\" RateMode=\"VBR\" Gop=\"50\" Profile=\"main\" SmartCodec=\"1\" />"
           "<Stream No=\"1\" Codec=\"H264\" Width=\"640\" Height=\"360\" FrameRate=\"15\" BitRate=\"512\""
           " RateMode=\"CBR\" Gop=\"30\" Profile=\"main\" /></VideoEncode>";
  b[507] = "<Capture Volume=\"50\" VolumePlay=\"100\" amplify=\"0\" ra_answer=\"0\" Aec=\"1\" />";
  b[508] = "<AudioEncode Codec=\"G711A\" SampleRate=\"8000\" BitRate=\"64\" Channels=\"1\" Anr=\"1\" />";
  b[600] = "<MediaStreamConfig>\r\n<StreamAccess Auth=\"1\"" + Attr("VideoPort", c.video_port) +
           " RTPOverRTSP=\"1\" enable_rtsp=\"1\" enable_onvif=\"1\" enable_web=\"1\""
           " OnvifAuth=\"0\"" + Attr("WEBPort", c.web_port) +
           " httpsPort=\"443\" h5Port=\"12351\" httpsCertificate=\"\" enable_comm=\"1\"" +
           Attr("PTZPort", c.command_port) +
           " enable_hik=\"1\" hik_port=\"8000\" hik_auth=\"0\" enable_dh=\"1\""
           " dh_port=\"37777\" dh_auth=\"0\" enable_krn=\"0\" enable_rtmp=\"0\""
           " rtmp_port=\"1935\" streamno=\"0\" rtmp_type=\"0\" rtmp_server=\"\""
           " rtmp_appname=\"\" rtmp_streamid=\"\" Multicast0_enable=\"0\""
           " Multicast0_port=\"0\" Multicast0_IP=\"0\" Multicast1_enable=\"0\""
           " Multicast1_port=\"0\" Multicast1_IP=\"0\" enable_gb28181=\"0\" SrtPort=\"9000\" />\r\n"
           "<Webrtc Enable=\"0\" Stun=\"stun.example.invalid\" />\r\n</MediaStreamConfig>\r\n";
  b[800] =
      "<AlarmConfig Version=\"3\"><PDAlarm Enable=\"1\" Schedule=\"1\" TargetFlags=\"17\" DrawBox=\"1\""
      " AudioSchedule=\"0\" FlashLightSchedule=\"0\" BlueRedLightSchedule=\"0\""
      " PushSchedule=\"1\" Sensitivity=\"60\" MinTargetSize=\"5\"><Region Count=\"4\" Mode=\"include\">"
      "<Point X=\"10\" Y=\"10\" /><Point X=\"90\" Y=\"10\" /><Point X=\"90\" Y=\"90\" />"
      "<Point X=\"10\" Y=\"90\" /></Region><Linkage Ftp=\"0\" Email=\"1\" /></PDAlarm>"
      "<AudioAlarm Enable=\"0\" Sensitivity=\"50\" AlarmEnable=\"0\" Threshold=\"70\" />"
      "<MDAlarm Enable=\"0\" Schedule=\"1\" AudioSchedule=\"0\" FlashLightSchedule=\"0\""
      " BlueRedLightSchedule=\"0\" PushSchedule=\"0\" Sensitivity=\"50\" Grid=\"22x18\" /></AlarmConfig>";
  b[202] = "<TimeConfig TimeMode=\"NTP\" TimeZone=\"1200\" NtpServer=\"pool.ntp.org\" NtpPort=\"123\""
           " NtpRefreshInterval=\"60\" Dst=\"0\" />";
  b[203] = "<UserConfig><Account" + Attr("Username", c.user) + Attr("Password", c.password) +
           " Group=\"Administrator\" Status=\"Enable\" /><Account Username=\"viewer\" Password=\"view123\""
           " Group=\"User\" Status=\"Disable\" /></UserConfig>";
  b[207] = "<MiscConfig Language=\"en-us\" LedIndicator=\"1\" />";
  b[208] = "<TimedMaintenance Enable=\"0\" Week=\"7\" Time=\"03:00:00\" />";
  b[210] = "<AlarmClockSettings OclockEnable=\"0\" From=\"08:00:00\" To=\"20:00:00\">"
           "<Clock Index=\"0\" Enable=\"0\" Time=\"07:00:00\" /></AlarmClockSettings>";
  b[315] = "<P2PConfig Enable=\"1\" Type=\"0\" Server=\"p2p.example.invalid\" />";
  b[650] = "<PlatformConfig><SolvenConfig Enable=\"0\" Server=\"\" Port=\"7661\" Username=\"\" Password=\"\""
           " PlayTone=\"0\" HeartBeat=\"30\"/></PlatformConfig>";
  // The manual image parameters and IR-cut mode as last set.
  b[1081] = "<REQUEST_PARAM />";
  b[1046] = "<REQUEST_PARAM Mode=\"Auto\" />";
  return b;
}

bool IsStoredControl(uint32_t code) {
  switch (code) {
    case 122: case 1017: case 1042: case 1046: case 1064: case 1081: case 1094: case 1102: case 1118: case 1119:
    case 1130:
      return true;
    default:
      return false;
  }
}

std::string MalformedBlock(const std::string& text) {
  const size_t cut = text.find('"', text.find('"') + 1);
  return text.substr(0, cut == std::string::npos ? text.size() / 2 : cut) + "=<";
}

std::string AlarmRecordNow(int code, int ai_kind, const std::string& detail) {
  std::string r(168, '\0');
  const time_t now = time(nullptr);
  tm t{};
  localtime_r(&now, &t);
  auto put = [&r](size_t at, int32_t v) { std::memcpy(&r[at], &v, 4); };
  put(16, t.tm_hour);
  put(20, t.tm_min);
  put(24, t.tm_sec);
  put(28, code);
  put(36, ai_kind);
  std::memcpy(&r[40], detail.data(), std::min<size_t>(detail.size(), 127));
  return r;
}

std::string ParseCodeFault(const std::string& args, CodeFault& fault) {
  std::istringstream in(args);
  std::string name;
  in >> name;
  if (name == "clear") {
    fault = CodeFault{};
  } else if (name == "refuse") {
    fault.kind = CodeFault::Kind::kRefuse;
  } else if (name == "drop") {
    fault.kind = CodeFault::Kind::kDrop;
  } else if (name == "malformed") {
    fault.kind = CodeFault::Kind::kMalformed;
  } else if (name == "result") {
    int n = 0;
    if (!(in >> n) || n == 0) return "result needs a non-zero value";
    fault.kind = CodeFault::Kind::kResult;
    fault.result = n;
  } else if (name == "alarm") {
    int code = 0;
    if (!(in >> code)) return "alarm needs a code";
    std::string detail;
    std::getline(in, detail);
    if (!detail.empty() && detail[0] == ' ') detail.erase(0, 1);
    fault.alarm_record = AlarmRecordNow(code, 0, detail);
  } else if (name == "alarm_hex") {
    std::string hex, record;
    in >> hex;
    if (!FromHex(hex, record) || record.size() > 168) return "alarm_hex needs at most 168 bytes of hex";
    record.resize(168, '\0');
    fault.alarm_record = record;
  } else {
    return "unknown code fault '" + name + "'";
  }
  return "";
}

}  // namespace kelvara::devsim
