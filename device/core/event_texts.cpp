#include "device/core/event_texts.h"

#include <cstdio>
#include <cstring>

#include "common/language_table.h"
#include "device/core/row_texts.h"

namespace kelvara::device {
namespace {

int ReadLe32(std::string_view data, std::size_t offset) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) {
    const std::size_t at = offset + static_cast<std::size_t>(i);
    v = (v << 8) | (at < data.size() ? static_cast<unsigned char>(data[at]) : 0u);
  }
  return static_cast<int>(v);
}

void WriteLe32(std::string& data, std::size_t offset, int value) {
  const auto v = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) data[offset + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

struct CodeKey {
  int code;
  const char* key;
};

constexpr CodeKey kAlarmKeys[] = {
    {3, LangKey("ALARM_CODE_USB_PLUG")},
    {4, LangKey("ALARM_CODE_USB_UNPLUG")},
    {5, LangKey("ALARM_CODE_SD0_PLUG")},
    {6, LangKey("ALARM_CODE_SD0_UNPLUG")},
    {7, LangKey("ALARM_CODE_SD1_PLUG")},
    {8, LangKey("ALARM_CODE_SD1_UNPLUG")},
    {9, LangKey("ALARM_CODE_USB_FREESPACE_LOW")},
    {10, LangKey("ALARM_CODE_SD0_FREESPACE_LOW")},
    {11, LangKey("ALARM_CODE_SD1_FREESPACE_LOW")},
    {12, LangKey("ALARM_CODE_VIDEO_LOST")},
    {13, LangKey("ALARM_CODE_VIDEO_COVERD")},
    {14, LangKey("ALARM_CODE_MOTION_DETECT")},
    {15, LangKey("ALARM_CODE_GPIO3_HIGH2LOW")},
    {16, LangKey("ALARM_CODE_GPIO3_LOW2HIGH")},
    {17, LangKey("ALARM_CODE_STORAGE_FREESPACE_LOW")},
    {18, LangKey("ALARM_CODE_RECORD_START")},
    {19, LangKey("ALARM_CODE_RECORD_FINISHED")},
    {20, LangKey("ALARM_CODE_RECORD_FAILED")},
    {23, LangKey("ALARM_CODE_JPEG_CAPTURED")},
    {24, LangKey("ALARM_CODE_RS485_DATA")},
    {25, LangKey("ALARM_CODE_SAME_IP")},
    {26, LangKey("ALARM_CODE_RK472_PIR")},
    {27, LangKey("ALARM_CODE_LPR")},
    {28, LangKey("ALARM_CODE_AUDIO_BABYCRY")},
    {29, LangKey("ALARM_CODE_AUDIO_LSA")},
    {30, LangKey("ALARM_CODE_VIDEO_FORMAT_CHANGED")},
    {31, LangKey("ALARM_CODE_VIDEO_GATE")},
    {32, LangKey("ALARM_CODE_RESET_TO_FACTORY")},
    {33, LangKey("ALARM_CODE_MOTION_DETECT_DISAPPEAR")},
    {34, LangKey("ALARM_CODE_IO_ALARM")},
    {35, LangKey("ALARM_CODE_IO_ALARM_FINISH")},
    {36, LangKey("ALARM_CODE_GPS_INFO")},
    {37, LangKey("ALARM_CODE_EMERGENCY_CALL")},
    {38, LangKey("ALARM_CODE_VIDEO_GATE_FINISH")},
    {39, LangKey("ALARM_CODE_CONFIG_CHANGED")},
    {40, LangKey("ALARM_CODE_BEGIN_REBOOT")},
    {41, LangKey("ALARM_CODE_TEMP_HUMID_ALARM")},
    {42, LangKey("ALARM_CODE_EXTERNAL_IO_ALARM")},
    {43, LangKey("ALARM_CODE_EXTERNAL_IO_ALARM_FINISH")},
    {47, LangKey("ALARM_CODE_FILE_READY_FOR_DOWNLOAD")},
    {150, LangKey("ALARM_CODE_CALL")},
    {151, LangKey("ALARM_CODE_CALL_CALLOUT")},
    {152, LangKey("ALARM_CODE_CALL_THROUGH")},
    {153, LangKey("ALARM_CODE_CALL_HANGUP")},
    {154, LangKey("ALARM_CODE_CALL_TOHANGUP")},
    {200, LangKey("ALARM_CODE_ILLEGAL_MODIFY")},
};

constexpr CodeKey kAiKindKeys[] = {
    {1, LangKey("IDS_HUMAN")},
    {2, LangKey("IDS_VEHICLESHAPE_CAR")},
    {3, LangKey("IDS_VEHICLESHAPE_MOTO")},
    {4, LangKey("IDS_VEHICLESHAPE_ELECTRICBICYCLE")},
    {5, LangKey("IDS_VEHICLESHAPE_BICYCLE")},
    {6, LangKey("IDS_LPR")},
    {7, LangKey("ALARM_AI_VIDEO_GATE")},
    {8, LangKey("ALARM_AI_FIRE")},
    {9, LangKey("ALARM_AI_FACEDETECT")},
    {10, LangKey("ALARM_AI_VIDEO_REGION_DETECT")},
    {13, LangKey("ALARM_AI_VIDEO_FALLINGOBJECT")},
};

// Status text key of each event; the flags it clears or sets.
struct EventText {
  int type;
  const char* key;  // nullptr: an empty text
  int online;       // 1 set, 0 clear, -1 leave
  bool clearBusy;
};

constexpr EventText kEventTexts[] = {
    {2, LangKey("MSGTIP10"), 0, true},
    {3, LangKey("MSGTIP4"), 0, true},
    {4, LangKey("MSGTIP1"), 1, false},
    {5, LangKey("MSGTIP3"), 0, true},
    {6, LangKey("STRING_STARTTALK_OK"), -1, false},
    {7, nullptr, -1, false},
    {8, LangKey("STRING_STOPTALK_OK"), -1, false},
    {15, LangKey("MSGTIP7"), -1, true},
    {16, LangKey("MSGTIP9"), -1, false},
    {17, LangKey("MSGTIP8"), -1, false},
    {31, LangKey("IDS_STR_ZH_CN_USERERROR"), 0, true},
    {32, LangKey("MSGTIP5"), -1, false},
    {34, LangKey("MSGTIP2"), 0, true},
    {35, LangKey("STRING_STARTTALK_DEVBUSY"), -1, false},
    {36, LangKey("STRING_STARTTALK_PARAMERROR"), -1, false},
    {37, LangKey("STRING_STARTTALK_NOTSUPPORT"), -1, false},
};

}  // namespace

DeviceAlarmInfo DeviceAlarmInfo::FromRecord(std::string_view data) {
  DeviceAlarmInfo a;
  a.hour = ReadLe32(data, 16);
  a.minute = ReadLe32(data, 20);
  a.second = ReadLe32(data, 24);
  a.alarmCode = ReadLe32(data, 28);
  a.aiKind = ReadLe32(data, 36);
  if (data.size() > 40) {
    const std::string_view text = data.substr(40, 128);
    a.detail = std::string(text.substr(0, std::min<std::size_t>(text.find('\0'), 127)));
  }
  return a;
}

std::string DeviceAlarmInfo::ToRecord() const {
  std::string r(168, '\0');
  WriteLe32(r, 16, hour);
  WriteLe32(r, 20, minute);
  WriteLe32(r, 24, second);
  WriteLe32(r, 28, alarmCode);
  WriteLe32(r, 36, aiKind);
  std::memcpy(&r[40], detail.data(), std::min<std::size_t>(detail.size(), 127));
  return r;
}

const char* AlarmCodeKey(int code) {
  for (const CodeKey& k : kAlarmKeys) {
    if (k.code == code) return k.key;
  }
  return LangKey("IDS_ALARM");
}

const char* AiKindKey(int kind) {
  for (const CodeKey& k : kAiKindKeys) {
    if (k.code == kind) return k.key;
  }
  return LangKey("ALARM_CODE_VIDEO_AI");
}

std::optional<std::string> AlarmText(const DeviceAlarmInfo& a, const std::function<std::string(const char*)>& lookup) {
  if (a.alarmCode == 1 || a.alarmCode == 2) return std::nullopt;
  auto text = [&](const char* key) { return lookup ? lookup(key) : std::string(); };
  std::string kind;
  if (a.alarmCode == 21 || a.alarmCode == 22) {
    kind = text(AiKindKey(a.aiKind)) + text(a.alarmCode == 21 ? LangKey("IDS_ALARM") : LangKey("IDS_DISAPEAR"));
  } else {
    kind = text(AlarmCodeKey(a.alarmCode));
  }
  char time[64];
  std::snprintf(time, sizeof time, "%02d:%02d:%02d ", a.hour, a.minute, a.second);
  return time + kind + ":" + a.detail;
}

int GetEventField(std::string_view text, const char* key, std::string& out) {
  if (text.empty()) return 0;
  if (!key || !*key) {
    out = std::string(text);
    return 1;
  }
  const std::size_t at = text.find(key);
  if (at == std::string_view::npos) {
    out.clear();
    return 0;
  }
  std::string_view value = text.substr(at + std::strlen(key));
  value = value.substr(0, value.find("@@"));
  out = CutUtf8(value, 127);
  return out.empty() ? 0 : 1;
}

void FormatEventText(discovery::DeviceRows& rows, int handle, int eventType, const DeviceAlarmInfo* alarm,
                     const std::function<std::string(const char*)>& lookup) {
  if (rows.Columns().GetColumnIndex(discovery::kColState) < 0) return;
  discovery::DeviceListRow* row = rows.FindByHandle(handle);
  if (!row) return;
  auto text = [&](const char* key) { return lookup && key ? lookup(key) : std::string(); };
  if (eventType == 14) {
    const char* key = row->m_busy ? LangKey("MSG_UPGRADE") : LangKey("MSGTIP6");
    row->m_busy = false;
    SetRowStatus(rows, *row, text(key));
    return;
  }
  if (eventType == 23) {
    if (!alarm) return;
    if (auto t = AlarmText(*alarm, lookup)) SetRowStatus(rows, *row, *t);
    return;
  }
  for (const EventText& e : kEventTexts) {
    if (e.type != eventType) continue;
    if (e.online >= 0) {
      // A login that starts or ends: no reply still on its way may apply an
      // older request.
      discovery::ClearPendingRequests(*row);
      row->m_online = e.online == 1;
    }
    if (e.clearBusy) row->m_busy = false;
    SetRowStatus(rows, *row, text(e.key));
    return;
  }
}

}  // namespace kelvara::device
