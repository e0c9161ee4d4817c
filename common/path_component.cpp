#include "common/path_component.h"

namespace kelvara {
namespace {

// Length of the valid UTF-8 sequence at s[i], or 0.
std::size_t Utf8Length(std::string_view s, std::size_t i) {
  const auto b = static_cast<unsigned char>(s[i]);
  std::size_t n = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b >= 0xC2 && b <= 0xDF) n = 2;
  else if (b == 0xE0) n = 3, lo = 0xA0;
  else if (b == 0xED) n = 3, hi = 0x9F;  // no surrogates
  else if (b >= 0xE1 && b <= 0xEF) n = 3;
  else if (b == 0xF0) n = 4, lo = 0x90;
  else if (b >= 0xF1 && b <= 0xF3) n = 4;
  else if (b == 0xF4) n = 4, hi = 0x8F;
  else return 0;
  if (i + n > s.size()) return 0;
  const auto b1 = static_cast<unsigned char>(s[i + 1]);
  if (b1 < lo || b1 > hi) return 0;
  for (std::size_t k = 2; k < n; ++k) {
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
  }
  return n;
}

bool Forbidden(unsigned char c) {
  if (c < 0x20 || c == 0x7F) return true;
  switch (c) {
    case '/': case '\\': case ':': case '*': case '?': case '"': case '<': case '>': case '|':
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string SanitizePathComponent(std::string_view text) {
  // Blanks at the ends are invisible in file dialogs and trouble in scripts.
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  std::string out;
  out.reserve(std::min(text.size(), kMaxPathComponentBytes));
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t n = 1;
    std::string_view piece = "_";
    if (c < 0x80) {
      if (!Forbidden(c)) piece = text.substr(i, 1);
    } else if (const std::size_t len = Utf8Length(text, i); len > 0) {
      n = len;
      piece = text.substr(i, len);
    }
    if (out.size() + piece.size() > kMaxPathComponentBytes) break;
    out.append(piece);
    i += n;
  }
  if (!out.empty() && out.front() == '.') out.front() = '_';
  while (!out.empty() && out.back() == ' ') out.pop_back();  // a cut can expose a blank
  return out.empty() ? std::string("_") : out;
}

bool IsSafePathComponent(std::string_view text) { return SanitizePathComponent(text) == text; }

}  // namespace kelvara
