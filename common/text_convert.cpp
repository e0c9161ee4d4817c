#include "common/text_convert.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iconv.h>

#include "common/debug_log.h"

namespace kelvara {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// One iconv descriptor for the length of a call.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// Decodes a code page into code points; an invalid or cut-off sequence gives
// one `bad` per byte that could not be decoded.
std::u32string DecodeCodePage(std::string_view in, const char* charset, char32_t bad) {
  std::u32string out;
  Iconv cv("UTF-32LE", charset);
  if (!cv.ok() || in.empty()) return out;
  std::string buf(in);
  char* src = buf.data();
  size_t src_left = buf.size();
  std::u32string chunk(in.size() + 4, U'\0');
  while (src_left > 0) {
    char* dst = reinterpret_cast<char*>(chunk.data());
    size_t dst_left = chunk.size() * sizeof(char32_t);
    const size_t rc = iconv(cv.get(), &src, &src_left, &dst, &dst_left);
    const size_t produced = (chunk.size() * sizeof(char32_t) - dst_left) / sizeof(char32_t);
    out.append(chunk.data(), produced);
    if (rc != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL: skip one byte and go on.
    out.push_back(bad);
    ++src;
    --src_left;
    iconv(cv.get(), nullptr, nullptr, nullptr, nullptr);
  }
  return out;
}

// Encodes code points into a code page; a character the page lacks becomes
// `fallback`.
std::string EncodeCodePage(std::u32string_view in, const char* charset, char fallback) {
  std::string out;
  Iconv cv(charset, "UTF-32LE");
  if (!cv.ok() || in.empty()) return out;
  std::u32string buf(in);
  char* src = reinterpret_cast<char*>(buf.data());
  size_t src_left = buf.size() * sizeof(char32_t);
  std::string chunk(in.size() * 4 + 16, '\0');
  while (src_left > 0) {
    char* dst = chunk.data();
    size_t dst_left = chunk.size();
    const size_t rc = iconv(cv.get(), &src, &src_left, &dst, &dst_left);
    out.append(chunk.data(), chunk.size() - dst_left);
    if (rc != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    out.push_back(fallback);
    src += sizeof(char32_t);
    src_left -= src_left >= sizeof(char32_t) ? sizeof(char32_t) : src_left;
    iconv(cv.get(), nullptr, nullptr, nullptr, nullptr);
  }
  return out;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 | (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 | (cp & 0x3FF)));
  }
}

bool IsCont(unsigned char b) { return (b & 0xC0) == 0x80; }
bool IsHigh(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

const char* AnsiCharset() { return IsTraditionalChineseSystem() ? "CP950" : "CP936"; }

}  // namespace

std::string GbkToUtf8(std::string_view gbk) {
  std::string out;
  for (char32_t cp : DecodeCodePage(gbk, "CP936", kReplacement)) AppendUtf8(out, cp);
  return out;
}

std::string Utf8ToGbk(std::string_view utf8) {
  return EncodeCodePage(DecodeCodePage(utf8, "UTF-8", U'?'), "CP936", '?');
}

std::string Big5ToGbk(std::string_view big5) {
  return EncodeCodePage(DecodeCodePage(big5, "CP950", U'?'), "CP936", '?');
}

std::u16string AnsiToCString(const char* text) {
  std::u16string out;
  if (text == nullptr) return out;
  for (char32_t cp : DecodeCodePage(text, AnsiCharset(), kReplacement)) AppendUtf16(out, cp);
  return out;
}

std::string Utf8ToAnsi(std::string_view utf8) {
  const std::u16string wide = Utf8ToCString(utf8);
  std::u32string points;
  for (size_t i = 0; i < wide.size(); ++i) {
    const char32_t u = wide[i];
    if (IsHigh(u) && i + 1 < wide.size() && IsLow(wide[i + 1])) {
      points.push_back(0x10000 + ((u - 0xD800) << 10) + (wide[++i] - 0xDC00));
    } else {
      points.push_back(u);
    }
  }
  return EncodeCodePage(points, AnsiCharset(), '?');
}

std::u16string Utf8ToCString(std::string_view utf8) {
  if (auto nul = utf8.find('\0'); nul != std::string_view::npos) utf8 = utf8.substr(0, nul);
  std::u16string out;
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const size_t n = utf8.size();
  // Reads a three-byte form at i (standard, or the legacy overlong and
  // surrogate forms); returns false when the bytes are not one.
  auto three = [&](size_t i, char32_t& cp) {
    if (i + 2 >= n || (p[i] & 0xF0) != 0xE0 || !IsCont(p[i + 1]) || !IsCont(p[i + 2])) return false;
    cp = (char32_t(p[i] & 0x0F) << 12) | (char32_t(p[i + 1] & 0x3F) << 6) | (p[i + 2] & 0x3F);
    // An overlong form of an ASCII character was never written by anyone:
    // refuse it so it cannot smuggle '/', '.' or a control character.
    return cp >= 0x80;
  };
  size_t i = 0;
  while (i < n) {
    const unsigned char b = p[i];
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    // Length announced by a valid lead byte (1 for bytes that lead nothing).
    size_t need = (b >= 0xF0 && b <= 0xF4) ? 4 : b >= 0xE0 && b < 0xF0 ? 3 : (b >= 0xC2 && b < 0xE0) ? 2 : 1;
    if (need > 1 && i + need > n) {
      // Cut off by the end of the text: ends the decoding, unless the bytes
      // present are already invalid.
      bool valid_prefix = true;
      for (size_t k = i + 1; k < n; ++k) valid_prefix = valid_prefix && IsCont(p[k]);
      if (valid_prefix) break;
    }
    char32_t cp = 0;
    if (b >= 0xC2 && b <= 0xDF && i + 1 < n && IsCont(p[i + 1])) {
      out.push_back(static_cast<char16_t>(((b & 0x1F) << 6) | (p[i + 1] & 0x3F)));
      i += 2;
    } else if (three(i, cp)) {
      if (IsHigh(cp)) {
        char32_t low = 0;
        if (three(i + 3, low) && IsLow(low)) {
          out.push_back(static_cast<char16_t>(cp));
          out.push_back(static_cast<char16_t>(low));
          i += 6;
        } else {
          out.push_back(static_cast<char16_t>(kReplacement));
          i += 3;
        }
      } else {
        out.push_back(static_cast<char16_t>(IsLow(cp) ? kReplacement : cp));
        i += 3;
      }
    } else if (b >= 0xF0 && b <= 0xF4 && i + 3 < n && IsCont(p[i + 1]) && IsCont(p[i + 2]) &&
               IsCont(p[i + 3])) {
      cp = (char32_t(b & 0x07) << 18) | (char32_t(p[i + 1] & 0x3F) << 12) |
           (char32_t(p[i + 2] & 0x3F) << 6) | (p[i + 3] & 0x3F);
      if (cp >= 0x10000 && cp <= 0x10FFFF) {
        AppendUtf16(out, cp);
        i += 4;
      } else {
        out.push_back(static_cast<char16_t>(kReplacement));
        ++i;
      }
    } else {
      out.push_back(static_cast<char16_t>(kReplacement));
      ++i;
    }
  }
  return out;
}

std::string TitleToUtf8(std::u16string_view title) {
  constexpr size_t kLogMax = 1023;
  char log[kLogMax + 1];
  size_t len = 0;
  for (char16_t u : title) {
    if (len + 5 > kLogMax) break;
    len += std::snprintf(log + len, sizeof(log) - len, "%04x ", static_cast<unsigned>(u));
  }
  log[len] = '\0';
  DebugLogPrintf("input: %s\n", log);

  std::string out;
  for (size_t i = 0; i < title.size(); ++i) {
    const char32_t u = title[i];
    if (u == 0) continue;
    if (IsHigh(u) && i + 1 < title.size() && IsLow(title[i + 1])) {
      AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (title[i + 1] - 0xDC00));
      ++i;
    } else {
      AppendUtf8(out, IsHigh(u) || IsLow(u) ? kReplacement : u);
    }
  }

  len = 0;
  for (unsigned char b : out) {
    if (len + 3 > kLogMax) break;
    len += std::snprintf(log + len, sizeof(log) - len, "%02x ", b);
  }
  log[len] = '\0';
  DebugLogPrintf("title utf8: %s", log);
  return out;
}

int CodePointToUtf8(char16_t unit) {
  char32_t cp = unit;
  if (IsHigh(cp) || IsLow(cp)) cp = kReplacement;
  std::string bytes;
  AppendUtf8(bytes, cp);
  int packed = 0;
  for (unsigned char b : bytes) packed = (packed << 8) | b;
  return packed;
}

std::string StringToHex(const char* text) {
  return text == nullptr ? std::string() : StringToHex(std::string_view(text));
}

std::string StringToHex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0x0F]);
  }
  return out;
}

std::string HexToBytes(std::string_view hex) {
  std::string out;
  out.reserve((hex.size() + 1) / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexDigitValue(hex[i]);
    const int low = i + 1 < hex.size() ? HexDigitValue(hex[i + 1]) : 0;
    out.push_back(static_cast<char>((high << 4) | low));
  }
  return out;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

int HexCharValue(char c) {
  const int code = static_cast<unsigned char>(c);
  if (code > 96) return code - 87;
  if (code <= 64) return code - 48;
  return code - 55;
}

std::u16string UIntToCString(std::uint32_t value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

bool IsTraditionalChineseSystem() {
  // The system default locale: LC_ALL overrides LANG, as for any program.
  const char* names[] = {"LC_ALL", "LANG"};
  for (const char* name : names) {
    const char* v = std::getenv(name);
    if (v != nullptr && *v != '\0') return std::strncmp(v, "zh_TW", 5) == 0;
  }
  return false;
}

}  // namespace kelvara
