// Record helpers: configuration blocks (XML) <-> the SDK's fixed-layout records.
// Each record is described once by a table of (attribute, offset, kind), which
// both the reader and the builder walk, so the two can never disagree.
#include <tinyxml.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "VaRurOvoDiv/zq_netsdk_ipc.h"
#include "common/xml_guard.h"
#include "sdk_boundary.h"
#include "sdk_log.h"

namespace {

static_assert(sizeof(ZQ_VIDEO_CAPTURE_CONFIG) == 140);
static_assert(offsetof(ZQ_VIDEO_CAPTURE_CONFIG, tv_system) == 16);
static_assert(offsetof(ZQ_VIDEO_CAPTURE_CONFIG, ircut_mode) == 108);
static_assert(offsetof(ZQ_VIDEO_CAPTURE_CONFIG, ircut_openled_delay) == 113);
static_assert(offsetof(ZQ_VIDEO_CAPTURE_CONFIG, night_start) == 117);
static_assert(offsetof(ZQ_VIDEO_CAPTURE_CONFIG, night_end) == 120);
static_assert(offsetof(ZQ_VIDEO_CAPTURE_CONFIG, led_mode) == 128);
static_assert(offsetof(ZQ_VIDEO_CAPTURE_CONFIG, ispadvmode) == 132);
static_assert(offsetof(ZQ_VIDEO_CAPTURE_CONFIG, light_off_sensitivity) == 136);
static_assert(sizeof(ZQ_LAN_CONFIG) == 412);
static_assert(offsetof(ZQ_LAN_CONFIG, allnet) == 20);
static_assert(sizeof(ZQ_VIDEO_OVERLAY_CONFIG) == 280);
static_assert(offsetof(ZQ_VIDEO_OVERLAY_CONFIG, title_utf8) == 60);
static_assert(sizeof(ZQ_AUDIO_CAPTURE_CONFIG) == 28);
static_assert(offsetof(ZQ_AUDIO_CAPTURE_CONFIG, volume) == 12);
static_assert(offsetof(ZQ_AUDIO_CAPTURE_CONFIG, volume_play) == 14);
static_assert(offsetof(ZQ_AUDIO_CAPTURE_CONFIG, ra_answer) == 20);
static_assert(offsetof(ZQ_PD_ALARM_CONFIG, draw_box) == 29);
static_assert(offsetof(ZQ_PD_ALARM_CONFIG, audio_schedule) == 72);
static_assert(offsetof(ZQ_PD_ALARM_CONFIG, flash_light_schedule) == 240);
static_assert(offsetof(ZQ_PD_ALARM_CONFIG, blue_red_light_schedule) == 304);
static_assert(offsetof(ZQ_PD_ALARM_CONFIG, push_schedule) == 336);
static_assert(offsetof(ZQ_PD_ALARM_CONFIG, region) == 408);
static_assert(offsetof(ZQ_PD_ALARM_CONFIG, region_count) == 488);
static_assert(offsetof(ZQ_ALARM_CONFIG, audio) == 1940);
static_assert(offsetof(ZQ_ALARM_CONFIG, md) == 4072);
static_assert(offsetof(ZQ_MD_ALARM_CONFIG, audio_schedule) == 632);
static_assert(offsetof(ZQ_MD_ALARM_CONFIG, flash_light_schedule) == 800);
static_assert(offsetof(ZQ_MD_ALARM_CONFIG, blue_red_light_schedule) == 864);
static_assert(offsetof(ZQ_MD_ALARM_CONFIG, push_schedule) == 896);

enum class Kind { kI32, kU32, kI16, kU16, kU8, kTime, kText };

struct Field {
  const char* attribute;
  size_t offset;
  Kind kind;
  size_t width = 0;  // kText: the field's size including the terminating zero
};

#define VC(attr, member, kind) Field{attr, offsetof(ZQ_VIDEO_CAPTURE_CONFIG, member), kind}
const Field kVideoCapture[] = {
    VC("Brightness", brightness, Kind::kI32),
    VC("Contrast", contrast, Kind::kI32),
    VC("Saturation", saturation, Kind::kI32),
    VC("Sharpness", sharpness, Kind::kI32),
    VC("BackLight", backlight, Kind::kI32),
    VC("TVSystem", tv_system, Kind::kU8),
    VC("forct_antiflicker", forced_antiflicker, Kind::kU8),
    VC("cropxpix", crop_x, Kind::kU16),
    VC("cropypix", crop_y, Kind::kU16),
    VC("HFlip", hflip, Kind::kI32),
    VC("VFlip", vflip, Kind::kI32),
    VC("rotate", rotate, Kind::kI32),
    VC("bManualGain", manual_gain, Kind::kI32),
    VC("gainValue", gain, Kind::kI32),
    VC("HLC", hlc, Kind::kI32),
    VC("shutter_mode", day_shutter_mode, Kind::kI16),
    VC("shutter_mode_night", night_shutter_mode, Kind::kI16),
    VC("shutter_speed_day", day_shutter_speed, Kind::kI16),
    VC("shutter_speed_night", night_shutter_speed, Kind::kI16),
    VC("IrcutMode", ircut_mode, Kind::kI32),
    VC("IrcutSensitivity", ircut_sensitivity, Kind::kU8),
    VC("IrcutOpenLedDelay", ircut_openled_delay, Kind::kU8),
    VC("led_brightness_mode", led_brightness_mode, Kind::kU8),
    VC("led_brightness_value", led_brightness_value, Kind::kU8),
    VC("led_brightness_alarm", led_brightness_alarm, Kind::kU8),
    VC("IrcutNightStartTime", night_start, Kind::kTime),
    VC("IrcutNightEndTime", night_end, Kind::kTime),
    VC("IrcutKeepColor", keep_color, Kind::kI32),
    VC("WDRMode", wdr_mode, Kind::kI32),
    VC("WDRValue", wdr_level, Kind::kI32),
    VC("DfrogFlag", defog, Kind::kI32),
    VC("DfrogValue", defog_level, Kind::kI32),
    VC("WDRStartTime", wdr_start, Kind::kTime),
    VC("WDREndTime", wdr_end, Kind::kTime),
    VC("WB_RGB", white_balance, Kind::kU32),
    VC("TNF", tnf, Kind::kI32),
    VC("SNF", snf, Kind::kI32),
    VC("isp_mode_color", isp_mode_color, Kind::kI32),
    VC("isp_mode_night", isp_mode_night, Kind::kI32),
    VC("led_mode", led_mode, Kind::kI32),
    VC("ispadvmode", ispadvmode, Kind::kI32),
    VC("videoEncodeMode", video_encode_mode, Kind::kI32),
    VC("face_exposure_sensitivity", face_exposure_sensitivity, Kind::kU8),
    VC("light_off_sensitivity", light_off_sensitivity, Kind::kU8),
};
#undef VC

#define LAN(attr, member, kind, width) Field{attr, offsetof(ZQ_LAN_CONFIG, member), kind, width}
const Field kLan[] = {
    LAN("MacAddress", mac_address, Kind::kText, 18),
    LAN("DHCP", dhcp, Kind::kU8, 0),
    LAN("ALLNET", allnet, Kind::kI16, 0),
    LAN("IPAddress", ip_address, Kind::kText, 64),
    LAN("Netmask", netmask, Kind::kText, 64),
    LAN("Gateway", gateway, Kind::kText, 64),
    LAN("DNS1", dns1, Kind::kText, 64),
    LAN("DNS2", dns2, Kind::kText, 64),
};
#undef LAN

#define OV(attr, member, kind, width) \
  Field{attr, offsetof(ZQ_VIDEO_OVERLAY_CONFIG, member), kind, width}
const Field kOverlay[] = {
    OV("Enable", enable, Kind::kI32, 0),       OV("Transparency", transparency, Kind::kI32, 0),
    OV("Style", style, Kind::kI32, 0),         OV("Fontsize", font_size, Kind::kI32, 0),
    OV("Week", week, Kind::kI32, 0),
};
const Field kTimeOverlay[] = {
    OV("PosX", time_pos_x, Kind::kI32, 0),
    OV("PosY", time_pos_y, Kind::kI32, 0),
    OV("Format", time_format, Kind::kText, 24),
};
const Field kTitleOverlay[] = {
    OV("PosX", title_pos_x, Kind::kI32, 0),
    OV("PosY", title_pos_y, Kind::kI32, 0),
    OV("TitleUtf8", title_utf8, Kind::kText, 220),
};
#undef OV

#define AC(attr, member) Field{attr, offsetof(ZQ_AUDIO_CAPTURE_CONFIG, member), Kind::kU16}
const Field kAudioCapture[] = {AC("Volume", volume), AC("VolumePlay", volume_play),
                               AC("amplify", amplify), AC("ra_answer", ra_answer)};
#undef AC

#define PD(attr, member, kind) Field{attr, offsetof(ZQ_PD_ALARM_CONFIG, member), kind}
const Field kPd[] = {
    PD("Enable", enable, Kind::kI32),
    PD("Schedule", schedule, Kind::kI32),
    PD("TargetFlags", target_flags, Kind::kI32),
    PD("DrawBox", draw_box, Kind::kU8),
    PD("AudioSchedule", audio_schedule, Kind::kI32),
    PD("FlashLightSchedule", flash_light_schedule, Kind::kI32),
    PD("BlueRedLightSchedule", blue_red_light_schedule, Kind::kI32),
    PD("PushSchedule", push_schedule, Kind::kI32),
};
#undef PD
#define AU(attr, member) Field{attr, offsetof(ZQ_AUDIO_ALARM_CONFIG, member), Kind::kI32}
const Field kAudio[] = {AU("Enable", enable), AU("Sensitivity", sensitivity),
                        AU("AlarmEnable", alarm_enable)};
#undef AU
#define MD(attr, member) Field{attr, offsetof(ZQ_MD_ALARM_CONFIG, member), Kind::kI32}
const Field kMd[] = {
    MD("Enable", enable),
    MD("Schedule", schedule),
    MD("AudioSchedule", audio_schedule),
    MD("FlashLightSchedule", flash_light_schedule),
    MD("BlueRedLightSchedule", blue_red_light_schedule),
    MD("PushSchedule", push_schedule),
};
#undef MD

bool ParseInteger(const char* text, long long low, long long high, long long& out) {
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text, &end, 10);
  while (end != nullptr && (*end == ' ' || *end == '\t')) ++end;
  if (end == text || *end != '\0' || errno != 0 || v < low || v > high) return false;
  out = v;
  return true;
}

template <class T>
void Store(unsigned char* base, size_t offset, T value) {
  std::memcpy(base + offset, &value, sizeof value);
}

template <class T>
T Load(const unsigned char* base, size_t offset) {
  T v;
  std::memcpy(&v, base + offset, sizeof v);
  return v;
}

// Reads every attribute of the table that the element carries; values that do
// not fit their member are skipped, so the member keeps what it held.
template <size_t N>
void ReadFields(const TiXmlElement* e, const Field (&fields)[N], unsigned char* base) {
  for (const Field& f : fields) {
    const char* v = e->Attribute(f.attribute);
    if (v == nullptr) continue;
    long long n = 0;
    switch (f.kind) {
      case Kind::kI32:
        if (ParseInteger(v, INT32_MIN, INT32_MAX, n)) Store(base, f.offset, static_cast<int32_t>(n));
        break;
      case Kind::kU32:
        if (ParseInteger(v, 0, UINT32_MAX, n)) Store(base, f.offset, static_cast<uint32_t>(n));
        break;
      case Kind::kI16:
        if (ParseInteger(v, INT16_MIN, INT16_MAX, n)) Store(base, f.offset, static_cast<int16_t>(n));
        break;
      case Kind::kU16:
        if (ParseInteger(v, 0, UINT16_MAX, n)) Store(base, f.offset, static_cast<uint16_t>(n));
        break;
      case Kind::kU8:
        if (ParseInteger(v, 0, UINT8_MAX, n)) Store(base, f.offset, static_cast<uint8_t>(n));
        break;
      case Kind::kTime: {
        int h = 0, m = 0, s = 0;
        if (std::sscanf(v, "%d:%d:%d", &h, &m, &s) == 3 && h >= 0 && h <= 24 && m >= 0 &&
            m < 60 && s >= 0 && s < 60) {
          base[f.offset] = static_cast<uint8_t>(h);
          base[f.offset + 1] = static_cast<uint8_t>(m);
          base[f.offset + 2] = static_cast<uint8_t>(s);
        }
        break;
      }
      case Kind::kText: {
        // Cut to the field, never past it; the rest of the field is zeroed.
        const size_t n_copy = strnlen(v, f.width - 1);
        std::memset(base + f.offset, 0, f.width);
        std::memcpy(base + f.offset, v, n_copy);
        break;
      }
    }
  }
}

std::string Escape(const std::string& in) {
  std::string out;
  TiXmlBase::EncodeString(TIXML_STRING(in.c_str()), &out);
  return out;
}

template <size_t N>
std::string WriteFields(const Field (&fields)[N], const unsigned char* base) {
  std::string out;
  char buf[64];
  for (const Field& f : fields) {
    out += ' ';
    out += f.attribute;
    out += "=\"";
    switch (f.kind) {
      case Kind::kI32: out += std::to_string(Load<int32_t>(base, f.offset)); break;
      case Kind::kU32: out += std::to_string(Load<uint32_t>(base, f.offset)); break;
      case Kind::kI16: out += std::to_string(Load<int16_t>(base, f.offset)); break;
      case Kind::kU16: out += std::to_string(Load<uint16_t>(base, f.offset)); break;
      case Kind::kU8: out += std::to_string(base[f.offset]); break;
      case Kind::kTime:
        std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", base[f.offset], base[f.offset + 1],
                      base[f.offset + 2]);
        out += buf;
        break;
      case Kind::kText:
        out += Escape(std::string(reinterpret_cast<const char*>(base + f.offset),
                                  strnlen(reinterpret_cast<const char*>(base + f.offset), f.width)));
        break;
    }
    out += '"';
  }
  return out;
}

char* HeapText(const std::string& s) {
  char* p = static_cast<char*>(std::malloc(s.size() + 1));
  if (p != nullptr) std::memcpy(p, s.c_str(), s.size() + 1);
  return p;
}

// The element named `name`: the root itself, or its first child of that name.
const TiXmlElement* Block(const TiXmlDocument& doc, const char* name) {
  const TiXmlElement* root = doc.RootElement();
  if (root == nullptr) return nullptr;
  if (std::strcmp(root->Value(), name) == 0) return root;
  return root->FirstChildElement(name);
}

bool Load(TiXmlDocument& doc, const char* xml) {
  // Legacy (byte-wise) reading: TinyXML's UTF-8 path reads past the end of
  // malformed multi-byte names. UTF-8 values still come through byte for byte.
  // The guard refuses texts too deep or wide for TinyXML first.
  const kelvara::XmlParseOutcome parsed = kelvara::ParseXmlGuarded(doc, xml, TIXML_ENCODING_LEGACY);
  if (parsed.refused) varurovodiv::SdkLog("XML record refused: %s\n", parsed.error.c_str());
  return parsed && doc.RootElement() != nullptr;
}

void ReadRegion(const TiXmlElement* pd, ZQ_PD_ALARM_CONFIG& r) {
  const TiXmlElement* region = pd->FirstChildElement("Region");
  if (region == nullptr) return;
  int count = 0;
  for (const TiXmlElement* p = region->FirstChildElement("Point"); p != nullptr && count < 10;
       p = p->NextSiblingElement("Point")) {
    int x = 0, y = 0;
    p->QueryIntAttribute("X", &x);
    p->QueryIntAttribute("Y", &y);
    r.region[count][0] = x;
    r.region[count][1] = y;
    ++count;
  }
  r.region_count = count;
}

// A reader's body works on a copy of the caller's record, which gets the
// copy only when the body returns 0: a reader that fails part-way (memory
// running out while the text is parsed) leaves the record as it was.
template <class Record, class Body>
int ReadInto(const char* function, Record* record, const char* xml, Body body) {
  if (record == nullptr || xml == nullptr) return -1;
  return varurovodiv::GuardedCall(function, [&] {
    Record copy = *record;
    const int result = body(copy);
    if (result == 0) *record = copy;
    return result;
  });
}

template <class Body>
char* Build(const char* function, const void* record, Body body) {
  if (record == nullptr) return nullptr;
  return varurovodiv::GuardedCall(function, static_cast<char*>(nullptr), [&] { return HeapText(body()); });
}

}  // namespace

extern "C" {

int ZQ_NETSDK_IPC_Media_getVideoCaptureByXml(ZQ_VIDEO_CAPTURE_CONFIG* record, const char* xml) {
  return ReadInto(__func__, record, xml, [xml](ZQ_VIDEO_CAPTURE_CONFIG& r) {
    TiXmlDocument doc;
    if (!Load(doc, xml)) return -2;
    const TiXmlElement* root = doc.RootElement();
    const TiXmlElement* e = std::strcmp(root->Value(), "Capture") == 0
                                ? root
                                : (std::strcmp(root->Value(), "Video") == 0
                                       ? root->FirstChildElement("Capture")
                                       : nullptr);
    if (e == nullptr) return -2;
    ReadFields(e, kVideoCapture, reinterpret_cast<unsigned char*>(&r));
    return 0;
  });
}

char* ZQ_NETSDK_IPC_XMLGET_VideoCaptureConfig(const ZQ_VIDEO_CAPTURE_CONFIG* record) {
  return Build(__func__, record, [record] {
    return "<Video><Capture" + WriteFields(kVideoCapture, reinterpret_cast<const unsigned char*>(record)) +
           " /></Video>";
  });
}

int ZQ_NETSDK_IPC_Network_getLANCfgByXml(ZQ_LAN_CONFIG* record, const char* xml) {
  return ReadInto(__func__, record, xml, [xml](ZQ_LAN_CONFIG& r) {
    TiXmlDocument doc;
    if (!Load(doc, xml)) return -2;
    const TiXmlElement* e = Block(doc, "LANConfig");
    if (e == nullptr) return -2;
    ReadFields(e, kLan, reinterpret_cast<unsigned char*>(&r));
    return 0;
  });
}

char* ZQ_NETSDK_IPC_XMLGET_NetworkLANConfig(const ZQ_LAN_CONFIG* record) {
  return Build(__func__, record, [record] {
    return "<LANConfig" + WriteFields(kLan, reinterpret_cast<const unsigned char*>(record)) + " />";
  });
}

int ZQ_NETSDK_IPC_Media_getVideoOverlayByXml(ZQ_VIDEO_OVERLAY_CONFIG* record, const char* xml) {
  return ReadInto(__func__, record, xml, [xml](ZQ_VIDEO_OVERLAY_CONFIG& r) {
    TiXmlDocument doc;
    if (!Load(doc, xml)) return -2;
    const TiXmlElement* e = Block(doc, "Overlay");
    if (e == nullptr) return -2;
    auto* base = reinterpret_cast<unsigned char*>(&r);
    ReadFields(e, kOverlay, base);
    if (const TiXmlElement* t = e->FirstChildElement("TimeOverlay")) ReadFields(t, kTimeOverlay, base);
    if (const TiXmlElement* t = e->FirstChildElement("TitleOverlay")) {
      ReadFields(t, kTitleOverlay, base);
    }
    return 0;
  });
}

int ZQ_NETSDK_IPC_Media_getAudioCaptureByXml(ZQ_AUDIO_CAPTURE_CONFIG* record, const char* xml) {
  return ReadInto(__func__, record, xml, [xml](ZQ_AUDIO_CAPTURE_CONFIG& r) {
    TiXmlDocument doc;
    if (!Load(doc, xml)) return -2;
    const TiXmlElement* e = Block(doc, "Capture");
    if (e == nullptr) return -2;
    ReadFields(e, kAudioCapture, reinterpret_cast<unsigned char*>(&r));
    return 0;
  });
}

char* ZQ_NETSDK_IPC_XMLGET_AudioCaptureConfig(const ZQ_AUDIO_CAPTURE_CONFIG* record) {
  return Build(__func__, record, [record] {
    return "<Capture" + WriteFields(kAudioCapture, reinterpret_cast<const unsigned char*>(record)) + " />";
  });
}

int ZQ_NETSDK_IPC_GetAlarmConfigByXml(ZQ_ALARM_CONFIG* record, const char* xml) {
  return ReadInto(__func__, record, xml, [xml](ZQ_ALARM_CONFIG& r) {
    TiXmlDocument doc;
    if (!Load(doc, xml)) return -2;
    const TiXmlElement* pd = Block(doc, "PDAlarm");
    const TiXmlElement* audio = Block(doc, "AudioAlarm");
    const TiXmlElement* md = Block(doc, "MDAlarm");
    if (pd == nullptr && audio == nullptr && md == nullptr) return -2;
    if (pd != nullptr) {
      ReadFields(pd, kPd, reinterpret_cast<unsigned char*>(&r.pd));
      ReadRegion(pd, r.pd);
    }
    if (audio != nullptr) ReadFields(audio, kAudio, reinterpret_cast<unsigned char*>(&r.audio));
    if (md != nullptr) ReadFields(md, kMd, reinterpret_cast<unsigned char*>(&r.md));
    return 0;
  });
}

char* ZQ_NETSDK_IPC_XMLGET_PDAlarmConfig(const ZQ_ALARM_CONFIG* record) {
  return Build(__func__, record, [record] {
    const ZQ_PD_ALARM_CONFIG& pd = record->pd;
    std::string out = "<PDAlarm" + WriteFields(kPd, reinterpret_cast<const unsigned char*>(&pd)) + ">";
    const int count = pd.region_count < 0 ? 0 : (pd.region_count > 10 ? 10 : pd.region_count);
    out += "<Region Count=\"" + std::to_string(count) + "\">";
    for (int i = 0; i < count; ++i) {
      out += "<Point X=\"" + std::to_string(pd.region[i][0]) + "\" Y=\"" + std::to_string(pd.region[i][1]) +
             "\" />";
    }
    out += "</Region></PDAlarm>";
    return out;
  });
}

char* ZQ_NETSDK_IPC_XMLGET_MDAlarmConfig(const ZQ_ALARM_CONFIG* record) {
  return Build(__func__, record, [record] {
    return "<MDAlarm" + WriteFields(kMd, reinterpret_cast<const unsigned char*>(&record->md)) + " />";
  });
}

char* ZQ_NETSDK_IPC_XMLGET_AudioAlarmConfig(const ZQ_ALARM_CONFIG* record) {
  return Build(__func__, record, [record] {
    return "<AudioAlarm" + WriteFields(kAudio, reinterpret_cast<const unsigned char*>(&record->audio)) + " />";
  });
}

void ZQ_NETSDK_IPC_XMLGET_SAFE_FREE(char* text) { std::free(text); }

}  // extern "C"
