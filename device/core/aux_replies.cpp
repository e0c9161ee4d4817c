#include "device/core/aux_replies.h"

#include <tinyxml.h>

#include <cstdio>
#include <cstdint>
#include <cstring>

#include "common/language_table.h"
#include "device/core/command_codes.h"
#include "device/core/osd_title.h"
#include "device/core/request_builders.h"
#include "device/core/row_texts.h"
#include "device/core/xml_block.h"
#include "discovery/core/reply_parsers.h"
#include "common/device_reply_xml.h"

namespace kelvara::device {
namespace {

using discovery::DeviceListRow;

bool IsSetCommand(int c) {
  return (c >= 220 && c <= 249) || (c >= 320 && c <= 349) || (c >= 420 && c <= 449) || (c >= 520 && c <= 549) ||
         (c >= 670 && c <= 679) || (c >= 681 && c <= 682) || (c >= 820 && c <= 849);
}

std::string ClockText(const ClockTime& t) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", static_cast<unsigned>(t.hour), static_cast<unsigned>(t.minute),
                static_cast<unsigned>(t.second));
  return buf;
}

template <class T>
void StoreAt(std::array<std::uint8_t, 140>& record, std::size_t offset, T value) {
  static_assert(sizeof(T) <= 4);
  std::memcpy(record.data() + offset, &value, sizeof value);
}

void StoreTime(std::array<std::uint8_t, 140>& record, std::size_t offset, const char* text) {
  if (!text) return;
  int h = 0, m = 0, s = 0;
  if (std::sscanf(text, "%d:%d:%d", &h, &m, &s) != 3 || h < 0 || h > 24 || m < 0 || m > 59 || s < 0 || s > 59) return;
  record[offset] = static_cast<std::uint8_t>(h);
  record[offset + 1] = static_cast<std::uint8_t>(m);
  record[offset + 2] = static_cast<std::uint8_t>(s);
}

// The element of a reply that a follow-up edits: only from a reply with
// result 0 whose text reads as XML and holds the element.
TiXmlElement* ReplyElement(XmlBlock& block, int result, const std::string& text, const char* name) {
  if (result != 0 || !block.Parse(text)) return nullptr;
  return block.Find(name);
}

}  // namespace

void FillVideoCaptureRecord(const TiXmlElement& cap, std::array<std::uint8_t, 140>& record) {
  auto i32 = [&](const char* name, std::size_t offset) {
    if (auto v = IntAttribute(cap, name)) StoreAt(record, offset, static_cast<std::int32_t>(*v));
  };
  auto u8 = [&](const char* name, std::size_t offset) {
    if (auto v = IntAttribute(cap, name)) StoreAt(record, offset, static_cast<std::uint8_t>(*v));
  };
  u8("TVSystem", 16);
  i32("IrcutMode", 108);
  u8("IrcutSensitivity", 112);
  u8("IrcutOpenLedDelay", 113);
  u8("led_brightness_mode", 114);
  u8("led_brightness_value", 115);
  u8("led_brightness_alarm", 116);
  StoreTime(record, 117, cap.Attribute("IrcutNightStartTime"));
  StoreTime(record, 120, cap.Attribute("IrcutNightEndTime"));
  i32("led_mode", 128);
  i32("ispadvmode", 132);
  u8("light_off_sensitivity", 136);
}

std::string StorageInfoText(const DeviceStorageInfo& info, const std::function<std::string(const char*)>& lookup) {
  auto text = [&](const char* key) { return lookup ? lookup(key) : std::string(); };
  const char* state = LangKey("Storage_UNKNOWN");
  switch (info.status) {
    case 0: state = LangKey("Storage_NONE"); break;
    case 1: state = LangKey("Storage_OK"); break;
    case 2: state = LangKey("Storage_UNFORMATED"); break;
    case 3: state = LangKey("Storage_FORMATING"); break;
    case 80: state = LangKey("Storage_FORMATED"); break;
    case 81: state = LangKey("Storage_UNINITED"); break;
    case 82: state = LangKey("Storage_FULL"); break;
    case 83: state = LangKey("Storage_EXEPTION"); break;
    case 84: state = LangKey("Storage_Mounting"); break;
    case 85: state = LangKey("Storage_NeedPartition"); break;
    default: break;
  }
  std::string out = text(state) + ";";
  if (info.status != 0) {
    out += text(info.mounted == 1 ? LangKey("IDS_STR_ZH_CN_STORAGE_TIPS9") : LangKey("IDS_STR_ZH_CN_STORAGE_TIPS11"));
    out += ";";
    if (info.total > 0) {
      out += text(LangKey("IDS_STR_ZH_CN_STORAGE_TIPS5")) + ":" + std::to_string(info.total) + "(MB);";
      out += text(LangKey("IDS_STR_ZH_CN_STORAGE_TIPS6")) + ":" + std::to_string(info.used) + "(MB);";
      out += text(LangKey("IDS_STR_ZH_CN_STORAGE_TIPS7")) + ":" + std::to_string(info.free) + "(MB);";
      out += text(LangKey("IDS_STR_ZH_CN_STORAGE_TIPS8")) + ":" + std::to_string(info.percent) + "%;";
    }
  }
  return out;
}

void AuxReplyHandler::SetResult(int handle, int result) {
  SetStatusByHandle(commands_.Rows(), handle, result == 0 ? LangKey("SET_OK") : LangKey("SET_FAILED"),
                    [this](const char* key) { return commands_.Text(key); });
}

void AuxReplyHandler::OnDeviceAuxResponse(const DeviceAuxResponse& r) {
  discovery::DeviceRows& rows = commands_.Rows();
  IntercomDialog& intercom = commands_.Seams().Intercom();
  const int h = r.loginHandle;
  switch (r.command) {
    case SYS_CTRL_GET_VERSION_INFO: {
      std::string value;
      if (discovery::GetFileSystemVersion(r.text, value) == 0 && !value.empty())
        SetColumnByHandle(rows, h, discovery::kColVersion, CutUtf8(value, 127));
      if (discovery::GetMcuVersion(r.text, value) == 0 && !value.empty())
        SetColumnByHandle(rows, h, discovery::kColAfVersion, CutUtf8(value, 127));
      if (discovery::GetModule4gVersion(r.text, value) == 0 && !value.empty())
        SetColumnByHandle(rows, h, discovery::kColModule4gVersion, CutUtf8(value, 127));
      return;
    }
    case SYS_CTRL_GET_STORAGE_INFO: ParseStorageReply(h, r.text); return;
    case SYS_CTRL_FORMAT_STORAGE: SetResult(h, r.result); return;
    case SYS_CTRL_GET_SERIAL_NUMBER: SetSerialNumberByHandle(rows, h, r.text, netLogUpdate); return;
    case SYS_CTRL_GET_ABILITY: StoreDeviceInfoText(rows, h, r.text); return;
    case SYS_CTRL_GET_FS_VERSION: StoreFileSystemVersion(rows, h, r.text); return;
    case GET_CFG_VIDEO_CAPTURE:
      if (intercom.Exists()) intercom.OnConfigReply(h, r.command, r.result, r.text);
      ApplyVideoCaptureReply(h, r.result, r.text);
      return;
    case GET_CFG_AUDIO_CAPTURE:
    case SYS_CTRL_INTERCOM_A:
    case SYS_CTRL_INTERCOM_B:
    case SYS_CTRL_DELETE_OEM_FILE:
      if (intercom.Exists()) intercom.OnConfigReply(h, r.command, r.result, r.text);
      return;
    case GET_CFG_VIDEO_OVERLAY: ApplyOsdReply(h, r.result, r.text); return;
    case GET_CFG_NETWORK_LAN: ApplyLanConfigReply(h, r.result, r.text); return;
    case GET_CFG_MEDIA_STREAM: ApplyStreamAccessReply(h, r.result, r.text); return;
    case GET_CFG_ALARM: ApplyAlarmConfigReply(h, r.result, r.text); return;
    default:
      if (IsSetCommand(r.command)) SetResult(h, r.result);
      return;
  }
}

void AuxReplyHandler::ApplyVideoCaptureReply(int handle, int result, const std::string& text) {
  DeviceListRow* row = commands_.Rows().FindByHandle(handle);
  if (!row) return;
  IntercomDialog& intercom = commands_.Seams().Intercom();
  const bool light = row->m_lightPending != 0;
  const bool tv = row->m_tvSystemPending != 0;
  const bool demo = row->m_ircutDemoState == 1;
  std::vector<AttributeEdit> flips;
  const bool flip = intercom.Exists() && intercom.TakeVideoCaptureEdits(handle, flips) && !flips.empty();
  if (!light && !tv && !demo && !flip) return;
  row->m_lightPending = 0;
  row->m_tvSystemPending = 0;

  XmlBlock block;
  TiXmlElement* cap = ReplyElement(block, result, text, "Capture");
  if (!cap) {
    if (light) commands_.SetStatus(*row, LangKey("SET_FAILED"));
    if (tv) commands_.SetStatus(*row, LangKey("MSG_SET_TVSYSTEM_FAILED"));
    if (demo) {
      row->m_ircutDemoState = 0;
      commands_.SetStatus(*row, LangKey("MSG_SET_IRCUT_FAILED"));
    }
    if (flip) intercom.OnVideoCaptureWritten(handle, -1);
    if (light || tv || demo) ChangeNotMade(handle, GET_CFG_VIDEO_CAPTURE);
    return;
  }

  bool changed = false;
  if (light) {
    const MediaLightConfig& l = row->m_lightSettings;
    SetIntAttribute(*cap, "IrcutMode", l.ircut_mode);
    SetIntAttribute(*cap, "IrcutOpenLedDelay", l.ircut_openled_delay);
    SetIntAttribute(*cap, "led_brightness_mode", l.led_brightness_mode);
    SetIntAttribute(*cap, "led_brightness_value", l.led_brightness_value);
    SetIntAttribute(*cap, "led_brightness_alarm", l.led_brightness_alarm);
    cap->SetAttribute("IrcutNightStartTime", ClockText(l.startTime).c_str());
    cap->SetAttribute("IrcutNightEndTime", ClockText(l.endTime).c_str());
    SetIntAttribute(*cap, "led_mode", l.led_mode);
    SetIntAttribute(*cap, "ispadvmode", l.ispadvmode);
    SetIntAttribute(*cap, "light_off_sensitivity", l.light_off_sensitivity);
    changed = true;
  }
  bool tvUnchanged = false;
  if (tv) {
    // The TV system is an 8-bit member.
    const auto value = static_cast<std::uint8_t>(row->m_tvSystemValue);
    const auto current = IntAttribute(*cap, "TVSystem");
    if (current && *current == value) {
      tvUnchanged = true;
    } else {
      SetIntAttribute(*cap, "TVSystem", value);
      changed = true;
    }
  }
  for (const AttributeEdit& e : flips) {
    SetIntAttribute(*cap, e.first.c_str(), e.second);
    changed = true;
  }
  if (demo) {
    // Kept as it is now, with the device's own IR-cut mode: the demo's end
    // sends it back.
    row->m_videoCaptureBlock = block.Print();
    row->m_videoCapture.fill(0);
    FillVideoCaptureRecord(*cap, row->m_videoCapture);
    row->m_ircutDemoState = 2;
    SetIntAttribute(*cap, "IrcutMode", 3);
    changed = true;
  }

  const int sent = changed ? commands_.Sdk().SetDVRConfig(handle, SET_CFG_VIDEO_CAPTURE, block.Print()) : 0;
  if (light) commands_.SetStatus(*row, sent != 0 ? LangKey("SET_FAILED") : LangKey("SET_OK"));
  if (tv) {
    commands_.SetStatus(*row, tvUnchanged ? LangKey("MSG_SET_TVSYSTEM_NOTCHANGE")
                                          : sent != 0 ? LangKey("MSG_SET_TVSYSTEM_FAILED")
                                                      : LangKey("MSG_SET_TVSYSTEM_OK"));
  }
  if (flip) intercom.OnVideoCaptureWritten(handle, sent);
  bool refused = sent != 0 && (light || (tv && !tvUnchanged));
  if (demo) {
    if (sent != 0) {
      commands_.SetStatus(*row, LangKey("MSG_SET_IRCUT_FAILED"));
      refused = true;
    } else {
      commands_.SetStatus(*row, LangKey("MSG_SET_IRCUT_OK"));
      if (commands_.Sdk().SystemControl(handle, SYS_CTRL_SET_IRCUT_MODE, kNightModeRequest) != 0) {
        commands_.SetStatus(*row, LangKey("MSG_SET_IRCUT_FAILED"));
        refused = true;
      } else {
        row->m_ircutDemoState = 3;
      }
    }
  }
  if (refused) ChangeNotMade(handle, GET_CFG_VIDEO_CAPTURE);
}

void AuxReplyHandler::ApplyLanConfigReply(int handle, int result, const std::string& text) {
  DeviceListRow* row = commands_.Rows().FindByHandle(handle);
  if (!row || !row->m_allnetPending) return;
  row->m_allnetPending = 0;
  XmlBlock block;
  TiXmlElement* lan = ReplyElement(block, result, text, "LANConfig");
  if (!lan) {
    commands_.SetStatus(*row, LangKey("MSG_SET_ONVIFALLNET_FAILED"));
    ChangeNotMade(handle, GET_CFG_NETWORK_LAN);
    return;
  }
  // ALLNET is a 16-bit member.
  const auto value = static_cast<std::int16_t>(row->m_allnetValue);
  const auto current = IntAttribute(*lan, "ALLNET");
  if (current && *current == value) {
    commands_.SetStatus(*row, LangKey("MSG_SET_ONVIFALLNET_NOTCHANGE"));
    return;
  }
  SetIntAttribute(*lan, "ALLNET", value);
  const int sent = commands_.Sdk().SetDVRConfig(handle, SET_CFG_NETWORK_LAN, block.Print());
  commands_.SetStatus(*row, sent != 0 ? LangKey("MSG_SET_ONVIFALLNET_FAILED") : LangKey("MSG_SET_ONVIFALLNET_OK"));
  if (sent != 0) ChangeNotMade(handle, GET_CFG_NETWORK_LAN);
}

void AuxReplyHandler::ApplyStreamAccessReply(int handle, int result, const std::string& text) {
  DeviceListRow* row = commands_.Rows().FindByHandle(handle);
  if (!row) return;
  struct Switch {
    int* pending;
    int value;
    const char* attribute;
  };
  const Switch switches[] = {
      {&row->m_hikPending, row->m_hikValue, "enable_hik"},
      {&row->m_onvifPending, row->m_onvifValue, "enable_onvif"},
      {&row->m_dhPending, row->m_dhValue, "enable_dh"},
      {&row->m_krnPending, row->m_krnValue, "enable_krn"},
  };
  bool any = false;
  for (const Switch& s : switches) any = any || *s.pending != 0;
  if (!any) return;
  XmlBlock block;
  TiXmlElement* access = ReplyElement(block, result, text, "StreamAccess");
  bool changed = false;
  for (const Switch& s : switches) {
    if (!*s.pending) continue;
    *s.pending = 0;
    if (!access) continue;
    const auto current = IntAttribute(*access, s.attribute);
    if (current && *current == s.value) continue;
    SetIntAttribute(*access, s.attribute, s.value);
    changed = true;
  }
  if (!access) {
    commands_.SetStatus(*row, LangKey("SET_FAILED"));
    ChangeNotMade(handle, GET_CFG_MEDIA_STREAM);
    return;
  }
  // Every switch from this reply in one write.
  const int sent = changed ? commands_.Sdk().SetDVRConfig(handle, SET_CFG_MEDIA_STREAM, block.Print()) : 0;
  commands_.SetStatus(*row, sent != 0 ? LangKey("SET_FAILED") : LangKey("SET_OK"));
  if (sent != 0) ChangeNotMade(handle, GET_CFG_MEDIA_STREAM);
}

void AuxReplyHandler::ApplyAlarmConfigReply(int handle, int result, const std::string& text) {
  DeviceListRow* row = commands_.Rows().FindByHandle(handle);
  if (!row || !row->m_pdPending) return;
  row->m_pdPending = 0;
  const BatchPDSettings& v = row->m_pdSettings;
  XmlBlock block;
  if (result != 0 || !block.Parse(text)) {
    commands_.SetStatus(*row, LangKey("SET_FAILED"));
    ChangeNotMade(handle, GET_CFG_ALARM);
    return;
  }
  // Three writes; the row shows success only when all three succeeded.
  bool allWritten = true;
  auto send = [&](TiXmlElement* part, int code) {
    const int sent = part ? commands_.Sdk().SetDeviceConfig(handle, code, XmlBlock::PrintElement(*part)) : -1;
    if (sent != 0) allWritten = false;
  };

  // Person and vehicle detection.
  if (TiXmlElement* pd = block.Find("PDAlarm")) {
    if (v.alarm_schedule > 0) SetIntAttribute(*pd, "Enable", 1);
    SetIntAttribute(*pd, "Schedule", v.alarm_schedule);
    SetIntAttribute(*pd, "AudioSchedule", v.audio_schedule);
    SetIntAttribute(*pd, "DrawBox", static_cast<std::uint8_t>(v.draw_box));
    SetIntAttribute(*pd, "PushSchedule", v.push_schedule);
    SetIntAttribute(*pd, "FlashLightSchedule", v.flash_light_schedule);
    SetIntAttribute(*pd, "BlueRedLightSchedule", v.blue_red_light_schedule);
    if (v.reset_region) {
      TiXmlElement* region = pd->FirstChildElement("Region");
      if (!region) region = pd->InsertEndChild(TiXmlElement("Region"))->ToElement();
      while (TiXmlElement* p = region->FirstChildElement("Point")) region->RemoveChild(p);
      const int corners[4][2] = {{0, 0}, {100, 0}, {100, 100}, {0, 100}};
      for (const auto& c : corners) {
        TiXmlElement point("Point");
        point.SetAttribute("X", c[0]);
        point.SetAttribute("Y", c[1]);
        region->InsertEndChild(point);
      }
      region->SetAttribute("Count", 4);
    }
    const int flags = (v.human ? 16 : 0) | (v.vehicle ? 1 : 0);
    SetIntAttribute(*pd, "TargetFlags", flags);
    if (flags == 0) SetIntAttribute(*pd, "Enable", 0);
    send(pd, SET_DEV_CFG_PD_ALARM);
  } else {
    send(nullptr, SET_DEV_CFG_PD_ALARM);
  }

  // Motion detection: on when scheduled and chosen.
  if (TiXmlElement* md = block.Find("MDAlarm")) {
    SetIntAttribute(*md, "Enable", v.alarm_schedule >= 1 && v.motion != 0 ? 1 : 0);
    SetIntAttribute(*md, "Schedule", v.alarm_schedule);
    SetIntAttribute(*md, "AudioSchedule", v.audio_schedule);
    SetIntAttribute(*md, "PushSchedule", v.push_schedule);
    SetIntAttribute(*md, "FlashLightSchedule", v.flash_light_schedule);
    SetIntAttribute(*md, "BlueRedLightSchedule", v.blue_red_light_schedule);
    send(md, SET_DEV_CFG_MD_ALARM);
  } else {
    send(nullptr, SET_DEV_CFG_MD_ALARM);
  }

  // Sound detection.
  if (TiXmlElement* audio = block.Find("AudioAlarm")) {
    const int on = v.alarm_schedule >= 1 && v.sound != 0 ? 1 : 0;
    SetIntAttribute(*audio, "Enable", on);
    SetIntAttribute(*audio, "AlarmEnable", on);
    send(audio, SET_DEV_CFG_AUDIO_ALARM);
  } else {
    send(nullptr, SET_DEV_CFG_AUDIO_ALARM);
  }
  commands_.SetStatus(*row, allWritten ? LangKey("SET_OK") : LangKey("SET_FAILED"));
  if (!allWritten) ChangeNotMade(handle, GET_CFG_ALARM);
}

void AuxReplyHandler::ParseStorageReply(int handle, const std::string& text) {
  if (!commands_.Rows().FindByHandle(handle)) return;
  TiXmlDocument doc;
  if (!kelvara::ParseDeviceReplyXml(doc, text, "Storage reply")) return;
  const TiXmlElement* root = doc.RootElement();
  if (!root) return;
  for (const TiXmlElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
    const char* name = e->Attribute("DevName");
    if (!name || (std::strcmp(name, "sd1") != 0 && std::strcmp(name, "sd2") != 0)) continue;
    DeviceStorageInfo info;
    auto read = [&](const char* attr, int fallback) {
      const auto v = IntAttribute(*e, attr);
      return v && *v >= INT32_MIN && *v <= INT32_MAX ? static_cast<int>(*v) : fallback;
    };
    info.mounted = read("Mounted", 0);
    info.status = read("Status", -1);
    info.total = read("Total", 0);
    info.used = read("Used", 0);
    info.free = read("Free", 0);
    info.percent = read("Percent", 0);
    ShowStorageInfo(handle, info);
    return;
  }
}

void AuxReplyHandler::ShowStorageInfo(int handle, const DeviceStorageInfo& info) {
  discovery::DeviceRows& rows = commands_.Rows();
  if (rows.Columns().GetColumnIndex(discovery::kColSdCard) < 0) return;
  DeviceListRow* row = rows.FindByHandle(handle);
  if (!row) return;
  rows.SetCellTextIfChanged(*row, discovery::kColSdCard,
                            StorageInfoText(info, [this](const char* key) { return commands_.Text(key); }));
}

void AuxReplyHandler::RequestOsdTitle(int handle) {
  discovery::DeviceRows& rows = commands_.Rows();
  if (rows.Columns().GetColumnIndex(discovery::kColTitle) < 0) return;
  DeviceListRow* row = rows.FindByHandle(handle);
  if (!row || !row->m_imported) return;
  if (commands_.Sdk().GetDVRConfig(handle, GET_CFG_VIDEO_OVERLAY) < 0)
    rows.SetCellTextIfChanged(*row, discovery::kColTitle, commands_.Text(LangKey("OSD_FETCH_FAILED")));
}

void AuxReplyHandler::ApplyOsdReply(int handle, int result, const std::string& text) {
  discovery::DeviceRows& rows = commands_.Rows();
  if (rows.Columns().GetColumnIndex(discovery::kColTitle) < 0) return;
  DeviceListRow* row = rows.FindByHandle(handle);
  if (!row) return;
  XmlBlock block;
  TiXmlElement* overlay = text.empty() ? nullptr : ReplyElement(block, result, text, "Overlay");
  if (!overlay) {
    rows.SetCellTextIfChanged(*row, discovery::kColTitle, commands_.Text(LangKey("OSD_FETCH_FAILED")));
    return;
  }
  std::string title;
  if (const TiXmlElement* t = overlay->FirstChildElement("TitleOverlay")) {
    if (const char* hex = t->Attribute("TitleUtf8")) title = DeviceTextToUtf8(DecodeTitleHex(hex));
  }
  rows.SetCellTextIfChanged(*row, discovery::kColTitle,
                            title.empty() ? commands_.Text(LangKey("OSD_TITLE_NONE")) : title);
}

}  // namespace kelvara::device
