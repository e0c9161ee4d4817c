#include "device/core/osd_title.h"

#include <vector>

#include "common/text_convert.h"
#include "device/core/row_texts.h"

namespace kelvara::device {
namespace {

bool IsValidUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 99;
    if (n == 99 || n > s.size() - i - 1) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n + 1;
  }
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string DecodeTitleHex(std::string_view hex) {
  if (hex.size() % 2 != 0) return {};
  std::string out;
  out.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int hi = HexValue(hex[i]);
    const int lo = HexValue(hex[i + 1]);
    if (hi < 0 || lo < 0) return {};
    out += static_cast<char>(hi * 16 + lo);
  }
  return out;
}

std::string DeviceTextToUtf8(std::string_view text) {
  return IsValidUtf8(text) ? std::string(text) : GbkToUtf8(text);
}

std::string OsdTitleText(const OverlayConfig& overlay, const OsdTitleChoice& choice, const DeviceSearchInfo& device) {
  std::vector<std::string> parts;
  parts.push_back(DecodeTitleHex(overlay.title_utf8_hex));
  if (choice.model) {
    std::string model = DeviceTextToUtf8(device.deviceType);
    for (std::size_t at; (at = model.find("DAV-ODUVE-")) != std::string::npos;) model.erase(at, 10);
    parts.push_back("[" + model + "]");
  }
  if (choice.ip) parts.push_back(device.lanConfig.ipAddress);
  if (choice.serial) parts.push_back("[" + DeviceTextToUtf8(device.serialNumber) + "]");
  std::string title;
  for (const std::string& p : parts) {
    if (p.empty()) continue;
    if (!title.empty()) title += '^';
    title += p;
  }
  return CutUtf8(title, kMaxOsdTitleBytes);
}

std::string BuildOsdTitleHex(const OverlayConfig& overlay, const OsdTitleChoice& choice,
                             const DeviceSearchInfo& device) {
  return StringToHex(std::string_view(OsdTitleText(overlay, choice, device)));
}

}  // namespace kelvara::device
