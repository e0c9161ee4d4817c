#include "dialogs/core/video_capture_form.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <tinyxml.h>

#include "common/input_validators.h"
#include "dialogs/core/xml_text.h"

namespace kelvara::dialogs {
namespace {

std::string U(unsigned v) { return std::to_string(v); }

std::string TimeText(const ClockTime& t) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
  return buf;
}

ClockTime Clock(const std::uint8_t* b) { return {b[0], b[1], b[2]}; }
void PutClock(std::uint8_t* b, const ClockTime& t) {
  b[0] = t.hour;
  b[1] = t.minute;
  b[2] = t.second;
}

// A checked edit read as an integer (only digits pass the checks).
int Int(const std::string& text) { return static_cast<int>(std::strtol(text.c_str(), nullptr, 10)); }

struct Check {
  const std::string VideoCaptureForm::*field;
  int min, max;
  const char* key;
};

constexpr const char* kScope = "IDS_STR_PARAM_SCOPE_ERROR";

}  // namespace

VideoCaptureParams DefaultVideoCaptureParams() {
  VideoCaptureParams p;
  std::memset(&p, 0, sizeof p);
  p.brightness = p.contrast = p.saturation = p.sharpness = 128;
  p.tv_system = 1;
  p.white_balance = 0x808080;
  p.tnf = p.snf = 128;
  p.wdr_level = 128;
  p.defog_level = 128;
  p.day_shutter_speed = p.night_shutter_speed = 25;
  p.ircut_sensitivity = 50;
  p.led_brightness_value = 10;
  p.night_start[0] = 18;
  p.night_end[0] = 7;
  return p;
}

VideoCaptureForm FormFromRecord(const VideoCaptureParams& r) {
  VideoCaptureForm f;
  f.brightness = U(static_cast<unsigned>(r.brightness));
  f.contrast = U(static_cast<unsigned>(r.contrast));
  f.saturation = U(static_cast<unsigned>(r.saturation));
  f.sharpness = U(static_cast<unsigned>(r.sharpness));
  f.tvSystem = r.tv_system;
  f.antiFlicker = r.forced_antiflicker;
  f.cropX = U(r.crop_x);
  f.cropY = U(r.crop_y);
  f.hflip = r.hflip;
  f.vflip = r.vflip;
  f.rotate = r.rotate;
  f.wbManual = r.white_balance >= 0x1000000 ? 1 : 0;
  f.wbR = U((r.white_balance >> 16) & 0xFF);
  f.wbG = U((r.white_balance >> 8) & 0xFF);
  f.wbB = U(r.white_balance & 0xFF);
  f.backlight = U(static_cast<unsigned>(r.backlight));
  f.hlc = U(static_cast<unsigned>(r.hlc));
  f.tnf = U(static_cast<unsigned>(r.tnf));
  f.snf = U(static_cast<unsigned>(r.snf));
  f.gain = r.gain;
  f.wdrMode = r.wdr_mode;
  f.wdrStart = Clock(r.wdr_start);
  f.wdrEnd = Clock(r.wdr_end);
  f.wdrLevel = U(static_cast<unsigned>(r.wdr_level));
  f.defog = r.defog;
  f.defogLevel = U(static_cast<unsigned>(r.defog_level));
  f.shutterMode = r.day_shutter_mode;
  f.shutterModeNight = r.night_shutter_mode;
  f.shutterSpeedDay = U(static_cast<std::uint16_t>(r.day_shutter_speed));
  f.shutterSpeedNight = U(static_cast<std::uint16_t>(r.night_shutter_speed));
  f.ispModeColor = r.isp_mode_color;
  f.ispModeNight = r.isp_mode_night;
  f.videoEncodeMode = r.video_encode_mode;
  f.ircutMode = r.ircut_mode;
  f.ircutSensitivity = U(r.ircut_sensitivity);
  f.ircutOpenLedDelay = r.ircut_openled_delay;
  f.ledBrightnessMode = r.led_brightness_mode;
  f.ledBrightness = r.led_brightness_value;
  f.nightStart = Clock(r.night_start);
  f.nightEnd = Clock(r.night_end);
  f.keepColor = r.keep_color;
  f.ledMode = r.led_mode;
  f.ispAdvMode = r.ispadvmode;
  f.lightOff = U(r.light_off_sensitivity);
  f.faceExposure = U(r.face_exposure_sensitivity);
  return f;
}

CaptureSaveResult SaveVideoCapture(const VideoCaptureForm& f) {
  CaptureSaveResult out;
  auto fails = [&out](const std::string& text, int min, int max, const char* key) {
    if (IsIntInRange(text, min, max)) return false;
    out.messageKey = key;
    return true;
  };
  static const Check kBefore[] = {
      {&VideoCaptureForm::brightness, 0, 255, "IDS_STR_ZH_CN_MSG_TIPS47"},
      {&VideoCaptureForm::saturation, 0, 255, "IDS_STR_ZH_CN_MSG_TIPS53"},
      {&VideoCaptureForm::sharpness, 0, 255, "IDS_STR_ZH_CN_MSG_TIPS54"},
      {&VideoCaptureForm::contrast, 0, 255, "IDS_STR_ZH_CN_MSG_TIPS50"},
      {&VideoCaptureForm::backlight, 0, 255, "IDS_STR_ZH_CN_MSG_TIPS55"},
      {&VideoCaptureForm::hlc, 0, 255, "IDS_STR_HLC_VALUE_INVALID"},
      {&VideoCaptureForm::cropX, 0, 256, "IDC_MEDIA_VIDEOCAPTURE_CROP_INVALID"},
      {&VideoCaptureForm::cropY, 0, 256, "IDC_MEDIA_VIDEOCAPTURE_CROP_INVALID"},
  };
  for (const auto& c : kBefore)
    if (fails(f.*c.field, c.min, c.max, c.key)) return out;

  TiXmlElement cap("Capture");
  cap.SetAttribute("Brightness", Int(f.brightness));
  cap.SetAttribute("Contrast", Int(f.contrast));
  cap.SetAttribute("Saturation", Int(f.saturation));
  cap.SetAttribute("Sharpness", Int(f.sharpness));
  cap.SetAttribute("BackLight", f.backlight);
  cap.SetAttribute("TVSystem", f.tvSystem);
  cap.SetAttribute("forct_antiflicker", f.antiFlicker);
  cap.SetAttribute("cropxpix", f.cropX);
  cap.SetAttribute("cropypix", f.cropY);
  cap.SetAttribute("HFlip", f.hflip);
  cap.SetAttribute("VFlip", f.vflip);
  cap.SetAttribute("rotate", f.rotate);
  cap.SetAttribute("bManualGain", f.gain != -1 ? 1 : 0);
  cap.SetAttribute("gainValue", f.gain);
  cap.SetAttribute("HLC", Int(f.hlc));
  cap.SetAttribute("shutter_mode", f.shutterMode);
  cap.SetAttribute("shutter_mode_night", f.shutterModeNight);
  if (fails(f.shutterSpeedDay, 10, 10000, "IDS_STR_SHUTTER_SPEED_ERROR")) return out;
  cap.SetAttribute("shutter_speed_day", f.shutterSpeedDay);
  if (fails(f.shutterSpeedNight, 10, 10000, "IDS_STR_SHUTTER_SPEED_ERROR")) return out;
  cap.SetAttribute("shutter_speed_night", f.shutterSpeedNight);
  out.ircutMode = f.ircutMode.value_or(2);
  out.ircutModeRead = true;
  cap.SetAttribute("IrcutMode", out.ircutMode);
  if (fails(f.ircutSensitivity, 0, 100, "IDS_STR_ZH_CN_MSG_TIPS56")) return out;
  cap.SetAttribute("IrcutSensitivity", f.ircutSensitivity);
  cap.SetAttribute("IrcutOpenLedDelay", f.ircutOpenLedDelay);
  cap.SetAttribute("led_brightness_mode", f.ledBrightnessMode);
  cap.SetAttribute("led_brightness_value", f.ledBrightness);
  cap.SetAttribute("IrcutNightStartTime", TimeText(f.nightStart));
  cap.SetAttribute("IrcutNightEndTime", TimeText(f.nightEnd));
  cap.SetAttribute("IrcutKeepColor", f.keepColor);
  cap.SetAttribute("WDRMode", f.wdrMode);
  if (fails(f.wdrLevel, 0, 255, kScope)) return out;
  cap.SetAttribute("WDRValue", f.wdrLevel);
  cap.SetAttribute("DfrogFlag", f.defog);
  if (fails(f.defogLevel, 0, 255, kScope)) return out;
  cap.SetAttribute("DfrogValue", f.defogLevel);
  cap.SetAttribute("WDRStartTime", TimeText(f.wdrStart));
  cap.SetAttribute("WDREndTime", TimeText(f.wdrEnd));
  const std::uint32_t wb = (static_cast<std::uint32_t>(f.wbManual) << 24) | ((ParseUInt(f.wbR) & 0xFF) << 16) |
                           ((ParseUInt(f.wbG) & 0xFF) << 8) | (ParseUInt(f.wbB) & 0xFF);
  cap.SetAttribute("WB_RGB", std::to_string(wb));
  if (fails(f.tnf, 0, 255, kScope)) return out;
  cap.SetAttribute("TNF", f.tnf);
  if (fails(f.snf, 0, 255, kScope)) return out;
  cap.SetAttribute("SNF", f.snf);
  cap.SetAttribute("isp_mode_color", f.ispModeColor);
  cap.SetAttribute("isp_mode_night", f.ispModeNight);
  cap.SetAttribute("led_mode", f.ledMode);
  cap.SetAttribute("ispadvmode", f.ispAdvMode);
  cap.SetAttribute("videoEncodeMode", f.videoEncodeMode);
  if (fails(f.faceExposure, 0, 100, kScope)) return out;
  cap.SetAttribute("face_exposure_sensitivity", f.faceExposure);
  if (fails(f.lightOff, 0, 100, kScope)) return out;
  cap.SetAttribute("light_off_sensitivity", f.lightOff);

  TiXmlElement video("Video");
  video.InsertEndChild(cap);
  TiXmlDocument doc;
  doc.InsertEndChild(video);
  out.xml = PrintXml(doc);
  return out;
}

VideoCaptureParams RecordFromForm(const VideoCaptureForm& f) {
  VideoCaptureParams r;
  std::memset(&r, 0, sizeof r);
  r.brightness = Int(f.brightness);
  r.contrast = Int(f.contrast);
  r.saturation = Int(f.saturation);
  r.sharpness = Int(f.sharpness);
  r.tv_system = static_cast<std::uint8_t>(f.tvSystem);
  r.forced_antiflicker = static_cast<std::uint8_t>(f.antiFlicker);
  r.crop_x = static_cast<std::uint16_t>(Int(f.cropX));
  r.crop_y = static_cast<std::uint16_t>(Int(f.cropY));
  r.hflip = f.hflip;
  r.vflip = f.vflip;
  r.rotate = f.rotate;
  r.white_balance = (static_cast<std::uint32_t>(f.wbManual) << 24) | ((ParseUInt(f.wbR) & 0xFF) << 16) |
                    ((ParseUInt(f.wbG) & 0xFF) << 8) | (ParseUInt(f.wbB) & 0xFF);
  r.backlight = Int(f.backlight);
  r.hlc = Int(f.hlc);
  r.tnf = Int(f.tnf);
  r.snf = Int(f.snf);
  r.manual_gain = f.gain != -1 ? 1 : 0;
  r.gain = f.gain;
  r.wdr_mode = f.wdrMode;
  PutClock(r.wdr_start, f.wdrStart);
  PutClock(r.wdr_end, f.wdrEnd);
  r.wdr_level = Int(f.wdrLevel);
  r.defog = f.defog;
  r.defog_level = Int(f.defogLevel);
  r.day_shutter_mode = static_cast<std::int16_t>(f.shutterMode);
  r.night_shutter_mode = static_cast<std::int16_t>(f.shutterModeNight);
  r.day_shutter_speed = static_cast<std::int16_t>(Int(f.shutterSpeedDay));
  r.night_shutter_speed = static_cast<std::int16_t>(Int(f.shutterSpeedNight));
  r.isp_mode_color = f.ispModeColor;
  r.isp_mode_night = f.ispModeNight;
  r.video_encode_mode = f.videoEncodeMode;
  r.ircut_mode = f.ircutMode.value_or(2);
  r.ircut_sensitivity = static_cast<std::uint8_t>(Int(f.ircutSensitivity));
  r.ircut_openled_delay = static_cast<std::uint8_t>(f.ircutOpenLedDelay);
  r.led_brightness_mode = static_cast<std::uint8_t>(f.ledBrightnessMode);
  r.led_brightness_value = static_cast<std::uint8_t>(f.ledBrightness);
  PutClock(r.night_start, f.nightStart);
  PutClock(r.night_end, f.nightEnd);
  r.keep_color = f.keepColor;
  r.led_mode = f.ledMode;
  r.ispadvmode = f.ispAdvMode;
  r.light_off_sensitivity = static_cast<std::uint8_t>(Int(f.lightOff));
  r.face_exposure_sensitivity = static_cast<std::uint8_t>(Int(f.faceExposure));
  return r;
}

}  // namespace kelvara::dialogs
