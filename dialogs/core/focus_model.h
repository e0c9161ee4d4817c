#pragma once
// The lens focusing dialog's values without widgets: nine regions with a
// reference pair (base value, threshold) and a current pair (value, match),
// the focus texts the device reports and the reference files use, the
// evaluation, the requests, and the reference files in their folder.
#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvara::dialogs {

inline constexpr std::size_t kFocusRegions = 9;
struct FocusPair {
  std::uint32_t first = 0, second = 0;
  bool operator==(const FocusPair&) const = default;
};
using FocusPairs = std::array<FocusPair, kFocusRegions>;

// Nine pairs 1000,90.
FocusPairs DefaultFocusBase();

// Reads "mfocus:" then nine "a,b;" pieces. Nothing unless all nine pieces are
// there and each reads as one or two unsigned numbers (a missing second
// number reads 0); numbers above 4294967295 are clamped to it. At most the
// first 220 bytes of `text` are looked at, as the files are read.
std::optional<FocusPairs> ParseFocusText(std::string_view text);
// "{mfocus:" + nine "%u,%u;" + "}".
std::string FormatFocusText(const FocusPairs& pairs);

struct FocusEvaluation {
  FocusPairs current;  // value, match
  std::array<bool, kFocusRegions> passing{};
  bool pass = false;   // all nine passing: "Pass!!!", else "NG!!!"
};
// Matches of a parsed report against the base pairs: value x 100 / base,
// truncated; a region with base 0 keeps the report's second number and
// never passes.
FocusEvaluation EvaluateFocus(const FocusPairs& report, const FocusPairs& base);
inline const char* FocusResultText(bool pass) { return pass ? "Pass!!!" : "NG!!!"; }

// The requests of SystemControl 1157.
std::string BuildFocusStartRequest(const FocusPairs& base);
std::string BuildFocusStopRequest();

// The reference files of one folder.
class FocusReferenceFolder {
 public:
  explicit FocusReferenceFolder(std::filesystem::path folder) : folder_(std::move(folder)) {}
  const std::filesystem::path& Folder() const { return folder_; }
  // "mfocus_" + name + ".txt" for a set name that is a safe file-name part
  // as typed (the common path sanitiser leaves it unchanged); nothing for an
  // empty or unsafe name.
  std::optional<std::filesystem::path> FileFor(std::string_view name) const;
  // Set names of the files "mfocus_*.txt", sorted. With none, the defaults
  // are written as set "default", which is then the one name.
  std::vector<std::string> ListSets(const FocusPairs& defaults) const;
  std::optional<FocusPairs> Load(std::string_view name) const;
  // Replaces the file atomically; false for a refused name or a failed write.
  bool Save(std::string_view name, const FocusPairs& base) const;

 private:
  std::filesystem::path folder_;
};

// Reads a file the way reference files are read (first 220 bytes).
std::optional<FocusPairs> LoadFocusFile(const std::filesystem::path& file);

// A number typed into a region edit: digits only, clamped to 4294967295;
// anything else keeps `fallback`.
std::uint32_t FocusFieldValue(std::string_view text, std::uint32_t fallback);

}  // namespace kelvara::dialogs
