#pragma once
// Reading and writing the small XML layout files of label printing: bounded
// reads, numbers in the C locale whatever the user's locale, atomic saves.
#include <tinyxml.h>

#include <filesystem>
#include <optional>
#include <string>

namespace kelvara::printing {

// Layout files are a few hundred bytes; anything larger is not a layout.
inline constexpr std::uintmax_t kMaxLayoutFileBytes = 64 * 1024;

// Parses the file into doc. Refuses missing, unreadable, oversized and
// malformed files with a message in *error.
bool LoadLayoutDocument(const std::filesystem::path& path, TiXmlDocument& doc, std::string* error);

// Prints doc (four-space indent, as TinyXML saves files) and replaces the
// file atomically.
bool SaveLayoutDocument(const TiXmlDocument& doc, const std::filesystem::path& path, std::string* error);

// "%.Nf" in the C locale.
std::string FormatFixed(double value, int decimals);

// A whole attribute value as a finite number in the C locale ("12", "-1.5",
// "65.000000"), or nothing for a missing, empty or non-numeric value.
std::optional<double> ParseNumber(const char* text);

}  // namespace kelvara::printing
