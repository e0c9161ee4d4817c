#include "dialogs/core/osd_title_model.h"

#include "common/xml_values.h"
#include "device/core/osd_title.h"

namespace kelvara::dialogs {

int OsdPositionData(int posX, int posY) {
  if (posY == 2) return kOsdPositionOff;
  if (posX != 0) return posY == 1 ? 3 : 1;
  return posY == 1 ? 2 : 0;
}

OsdPosition OsdPositionFor(int data) {
  switch (data) {
    case 1: return {1, 0};
    case 2: return {0, 1};
    case 3: return {1, 1};
    case kOsdPositionOff: return {2, 2};
    default: return {0, 0};
  }
}

int OsdTimeFormatIndex(const std::string& format) {
  for (std::size_t i = 0; i < kOsdTimeFormats.size(); ++i)
    if (format == kOsdTimeFormats[i]) return static_cast<int>(i);
  return 0;
}

std::string HexOfBytes(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

OsdControlValues OsdControlsFromRecord(const OverlayConfig& r) {
  OsdControlValues v;
  v.enable = r.enable;
  v.transparency = r.transparency;
  v.style = r.style;
  v.week = r.week;
  v.fontSize = r.font_size;
  v.clock = r.time24or12;
  v.timeFormat = OsdTimeFormatIndex(r.time_format);
  // The same decoder the device commands use for the title they send.
  v.title = device::DecodeTitleHex(r.title_utf8_hex);
  v.timePosition = OsdPositionData(r.time_pos_x, r.time_pos_y);
  v.titlePosition = OsdPositionData(r.title_pos_x, r.title_pos_y);
  return v;
}

OverlayConfig OsdRecordFromControls(const OsdControlValues& v) {
  OverlayConfig r;
  r.enable = v.enable;
  r.transparency = v.transparency;
  r.style = static_cast<std::int16_t>(v.style);
  r.week = static_cast<std::int16_t>(v.week);
  r.font_size = static_cast<std::int16_t>(v.fontSize);
  r.time24or12 = static_cast<std::int16_t>(v.clock);
  const int format = v.timeFormat >= 0 && v.timeFormat < static_cast<int>(kOsdTimeFormats.size()) ? v.timeFormat : 0;
  r.time_format = kOsdTimeFormats[static_cast<std::size_t>(format)];
  const OsdPosition time = OsdPositionFor(v.timePosition);
  const OsdPosition title = OsdPositionFor(v.titlePosition);
  r.time_pos_x = time.x;
  r.time_pos_y = time.y;
  r.title_pos_x = title.x;
  r.title_pos_y = title.y;
  r.title_utf8_hex = HexOfBytes(TruncateUtf8(v.title, kMaxOsdDialogTitleBytes));
  return r;
}

}  // namespace kelvara::dialogs
