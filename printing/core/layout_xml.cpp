#include "printing/core/layout_xml.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <system_error>

#include "common/atomic_file.h"
#include "common/xml_guard.h"

namespace kelvara::printing {

bool LoadLayoutDocument(const std::filesystem::path& path, TiXmlDocument& doc, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = path.string() + ": " + why;
    return false;
  };
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return fail("not found");
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) return fail("cannot be read");
  if (size > kMaxLayoutFileBytes) return fail("too large for a layout file (" + std::to_string(size) + " bytes)");
  std::ifstream in(path, std::ios::binary);
  std::string content(static_cast<std::size_t>(size), '\0');
  if (!in.read(content.data(), std::streamsize(content.size()))) return fail("cannot be read");
  doc.Clear();
  // Legacy encoding keeps the bytes of non-UTF-8 files (GB2312 texts) as they are.
  if (const kelvara::XmlParseOutcome parsed = kelvara::ParseXmlGuarded(doc, content, TIXML_ENCODING_LEGACY); !parsed)
    return fail(parsed.refused ? parsed.error : "not valid XML: " + parsed.error);
  if (doc.RootElement() == nullptr) return fail("has no root element");
  return true;
}

bool SaveLayoutDocument(const TiXmlDocument& doc, const std::filesystem::path& path, std::string* error) {
  TiXmlPrinter printer;
  printer.SetIndent("    ");
  doc.Accept(&printer);
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  return WriteFileAtomically(path, std::string_view(printer.CStr(), printer.Size()), error);
}

std::string FormatFixed(double value, int decimals) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::fixed, decimals);
  if (result.ec != std::errc()) return "0";
  return std::string(buffer, result.ptr);
}

std::optional<double> ParseNumber(const char* text) {
  if (text == nullptr) return std::nullopt;
  const char* begin = text;
  const char* end = text + std::char_traits<char>::length(text);
  while (begin < end && (*begin == ' ' || *begin == '\t')) ++begin;
  while (end > begin && (end[-1] == ' ' || end[-1] == '\t')) --end;
  if (begin < end && *begin == '+') ++begin;
  if (begin == end) return std::nullopt;
  double value = 0;
  auto result = std::from_chars(begin, end, value, std::chars_format::fixed);
  if (result.ec != std::errc() || result.ptr != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace kelvara::printing
