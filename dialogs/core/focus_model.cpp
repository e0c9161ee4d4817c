#include "dialogs/core/focus_model.h"

#include <tinyxml.h>

#include <algorithm>
#include <climits>
#include <fstream>

#include "common/atomic_file.h"
#include "common/path_component.h"
#include "dialogs/core/xml_text.h"

namespace kelvara::dialogs {
namespace {

constexpr std::size_t kFileReadBytes = 220;
constexpr std::uint32_t kMaxValue = 4294967295u;

// Leading digits of `s` (after blanks) as a clamped value; false when none.
bool ReadUnsigned(std::string_view& s, std::uint32_t& out) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  std::size_t i = 0;
  unsigned long long v = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    v = std::min<unsigned long long>(v * 10 + static_cast<unsigned>(s[i] - '0'), kMaxValue);
    ++i;
  }
  if (i == 0) return false;
  out = static_cast<std::uint32_t>(v);
  s.remove_prefix(i);
  return true;
}

}  // namespace

FocusPairs DefaultFocusBase() {
  FocusPairs p;
  p.fill({1000, 90});
  return p;
}

std::optional<FocusPairs> ParseFocusText(std::string_view text) {
  text = text.substr(0, kFileReadBytes);
  const std::size_t at = text.find("mfocus:");
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view rest = text.substr(at + 7);
  FocusPairs pairs;
  for (std::size_t i = 0; i < kFocusRegions; ++i) {
    const std::size_t end = rest.find(';');
    if (end == std::string_view::npos) return std::nullopt;
    std::string_view piece = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    FocusPair p;
    if (!ReadUnsigned(piece, p.first)) return std::nullopt;
    if (!piece.empty()) {
      if (piece.front() != ',') return std::nullopt;
      piece.remove_prefix(1);
      if (!piece.empty() && !ReadUnsigned(piece, p.second)) return std::nullopt;
      if (!piece.empty()) return std::nullopt;
    }
    pairs[i] = p;
  }
  return pairs;
}

std::string FormatFocusText(const FocusPairs& pairs) {
  std::string out = "{mfocus:";
  for (const FocusPair& p : pairs) out += std::to_string(p.first) + "," + std::to_string(p.second) + ";";
  return out + "}";
}

FocusEvaluation EvaluateFocus(const FocusPairs& report, const FocusPairs& base) {
  FocusEvaluation e;
  e.current = report;
  e.pass = true;
  for (std::size_t i = 0; i < kFocusRegions; ++i) {
    if (base[i].first == 0) {
      e.pass = false;
      continue;
    }
    const double match = static_cast<double>(report[i].first) * 100.0 / base[i].first;
    e.current[i].second = static_cast<std::uint32_t>(std::min(match, static_cast<double>(kMaxValue)));
    e.passing[i] = e.current[i].second >= base[i].second;
    if (!e.passing[i]) e.pass = false;
  }
  return e;
}

std::string BuildFocusStartRequest(const FocusPairs& base) {
  TiXmlElement root("MANUAL_FOCUS_CMD");
  root.SetAttribute("CMD", "START");
  for (const FocusPair& p : base) {
    TiXmlElement rect("RECT");
    // Integer attributes, as the device reads them.
    rect.SetAttribute("value", static_cast<int>(std::min<std::uint32_t>(p.first, INT_MAX)));
    rect.SetAttribute("match", static_cast<int>(std::min<std::uint32_t>(p.second, INT_MAX)));
    root.InsertEndChild(rect);
  }
  return PrintXml(root);
}

std::string BuildFocusStopRequest() {
  TiXmlElement root("MANUAL_FOCUS_CMD");
  root.SetAttribute("CMD", "STOP");
  return PrintXml(root);
}

std::optional<std::filesystem::path> FocusReferenceFolder::FileFor(std::string_view name) const {
  if (name.empty() || !IsSafePathComponent(name)) return std::nullopt;
  return folder_ / ("mfocus_" + std::string(name) + ".txt");
}

std::vector<std::string> FocusReferenceFolder::ListSets(const FocusPairs& defaults) const {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder_, ec)) {
    const std::string file = entry.path().filename().string();
    if (file.size() > 11 && file.rfind("mfocus_", 0) == 0 && file.ends_with(".txt") && entry.is_regular_file(ec))
      names.push_back(file.substr(7, file.size() - 11));
  }
  std::sort(names.begin(), names.end());
  if (names.empty() && Save("default", defaults)) names.push_back("default");
  return names;
}

std::optional<FocusPairs> LoadFocusFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string buf(kFileReadBytes, '\0');
  in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
  buf.resize(static_cast<std::size_t>(in.gcount()));
  return ParseFocusText(buf);
}

std::optional<FocusPairs> FocusReferenceFolder::Load(std::string_view name) const {
  const auto file = FileFor(name);
  if (!file) return std::nullopt;
  return LoadFocusFile(*file);
}

bool FocusReferenceFolder::Save(std::string_view name, const FocusPairs& base) const {
  const auto file = FileFor(name);
  if (!file) return false;
  std::error_code ec;
  std::filesystem::create_directories(folder_, ec);
  return WriteFileAtomically(*file, FormatFocusText(base));
}

std::uint32_t FocusFieldValue(std::string_view text, std::uint32_t fallback) {
  std::uint32_t v = 0;
  std::string_view s = text;
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  if (!ReadUnsigned(s, v) || !s.empty()) return fallback;
  return v;
}

}  // namespace kelvara::dialogs
