#pragma once
// Excel 97-2003 workbooks (.xls): a BIFF8 record stream of our own, in an
// OLE2 compound file written with libgsf; reading goes through libfreexl.
// Only what a plain table needs: sheets of text and number cells, no
// formatting. Texts are UTF-8 here and UTF-16 in the file.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kelvara::discovery {

struct XlsCell {
  enum class Type { kEmpty, kNumber, kText };
  Type type = Type::kEmpty;
  double number = 0;
  std::string text;  // UTF-8
  static XlsCell Number(double v) { return {Type::kNumber, v, {}}; }
  static XlsCell Text(std::string t) { return {Type::kText, 0, std::move(t)}; }
};

struct XlsSheet {
  std::string name;  // at most 31 characters
  std::vector<std::vector<XlsCell>> rows;
};

// BIFF8 holds at most 65,536 rows and 256 columns per sheet.
inline constexpr std::size_t kXlsMaxRows = 65536;
inline constexpr std::size_t kXlsMaxColumns = 256;

// The workbook stream ("Workbook") of the sheets: BIFF8 records.
std::string BuildBiff8Workbook(const std::vector<XlsSheet>& sheets);

// The whole .xls file (OLE2 compound file holding the workbook stream);
// empty with *error set when libgsf failed.
std::string BuildXlsFile(const std::vector<XlsSheet>& sheets, std::string* error);

// Writes the file through a temporary file renamed over `path`: a failed
// write leaves an earlier file as it was. False with *error set on failure.
bool WriteXlsFile(const std::filesystem::path& path, const std::vector<XlsSheet>& sheets, std::string* error);

// What reading found.
struct XlsReadResult {
  bool ok = false;
  std::string error;                    // why not ok
  std::vector<std::string> sheetNames;  // every sheet, in file order
  XlsSheet sheet;                       // the sheet asked for (rows as stored)
};

// Files larger than this are refused before they are parsed.
inline constexpr std::uintmax_t kXlsMaxFileBytes = 32u << 20;

// Reads the sheet `sheetName` (exact name). Refuses files over
// kXlsMaxFileBytes and sheets of more than `maxRows` rows before any cell
// is copied. An empty `sheetName` reads only the sheet names.
XlsReadResult ReadXlsFile(const std::filesystem::path& path, const std::string& sheetName, std::size_t maxRows);

}  // namespace kelvara::discovery
