#pragma once
// Excel 97-2003 workbooks (.xls): a BIFF8 record stream of our own, in an
// OLE2 compound file written with libgsf; reading goes through libfreexl.
// Only what a plain table needs: sheets of text and number cells, no
// formatting. Texts are UTF-8 here and UTF-16 in the file.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace kelvara::discovery {

struct XlsCell {
  enum class Type { kEmpty, kNumber, kText };
  Type type = Type::kEmpty;
  double number = 0;
  // UTF-8. Cells of a read file that show one shared string of the file
  // hold one copy of it between them.
  std::shared_ptr<const std::string> shared;

  const std::string& text() const {
    static const std::string none;
    return shared ? *shared : none;
  }
  static XlsCell Number(double v) { return {Type::kNumber, v, {}}; }
  static XlsCell Text(std::string t) { return {Type::kText, 0, std::make_shared<const std::string>(std::move(t))}; }
  static XlsCell Text(std::shared_ptr<const std::string> t) { return {Type::kText, 0, std::move(t)}; }
};

struct XlsSheet {
  std::string name;  // at most 31 characters
  // A read row ends at its last cell that is not empty.
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
  // The reader could not say (it is missing or cannot be confined, it was
  // stopped, this program ran out of memory, or its report cannot be
  // right), rather than the file being refused.
  bool readerFailed = false;
  std::vector<std::string> sheetNames;  // every sheet, in file order
  XlsSheet sheet;                       // the sheet asked for (rows as stored)
};

// Files larger than this are refused before they are parsed.
inline constexpr std::uintmax_t kXlsMaxFileBytes = 32u << 20;
// The most the reader child may report (its cells, each distinct text once).
// A file within kXlsMaxFileBytes reports less (its texts are in it, at most
// half as long again in UTF-8 as in the file, and a cell costs 1 to 9 bytes):
// this bounds what a reader gone wrong can make the program hold.
inline constexpr std::size_t kXlsMaxReportBytes = 64u << 20;

// The reader makes room for every cell of every sheet (as its DIMENSIONS
// record claims) when it opens a workbook, 16 bytes each: a workbook whose
// sheets claim more together is refused before it is opened.
inline constexpr std::uint64_t kXlsMaxOpenedCells = 8u << 20;

// Checks a workbook stream's sheet sizes before the reader opens it: "" when
// acceptable, else why not. The sheet `sheetName` may have at most `maxRows`
// rows; every sheet at most BIFF8's rows and columns, and all together at
// most kXlsMaxOpenedCells cells. Refusals name the sheet.
std::string CheckWorkbookStream(const std::string& stream, const std::string& sheetName, std::size_t maxRows);

// The reader program (xls_reader_child.h), looked for next to the program.
inline constexpr const char* kXlsReaderProgram = "kelvara-xls-reader";
// How long each of the reader's two runs may take before it is ended.
inline constexpr int kXlsReaderTimeout_ms = 30000;

// Opens the reader program that later reads run (`program`; empty: the
// one next to this program) and keeps it open: what runs is the file as it
// is now, whatever later happens to it or its folder. "" when it can be
// used, else why not; reads then refuse with that reason. Call at start-up.
std::string UseXlsReader(const std::filesystem::path& program = {}, int timeout_ms = kXlsReaderTimeout_ms);
// UseXlsReader() unless a reader was chosen already; the first read of a
// process that chose none calls it.
std::string OpenXlsReader();

// Reads the sheet `sheetName` (exact name). Refuses files over
// kXlsMaxFileBytes, workbooks CheckWorkbookStream refuses and a sheet of
// more than `maxRows` rows before any cell is copied, and a reader's report
// over `maxReportBytes` or one that claims more than was asked
// (xls_report.h). An empty `sheetName` reads only the sheet names. The
// container (libgsf) and the reader (libfreexl) each run in the reader
// program, confined (reader_sandbox.h), ended after the reader's time-out.
// Never throws: running out of memory is a refusal too.
XlsReadResult ReadXlsFile(const std::filesystem::path& path, const std::string& sheetName, std::size_t maxRows,
                          std::size_t maxReportBytes = kXlsMaxReportBytes);

// An OLE2 compound file holding `stream` as its "Workbook" stream (what
// BuildXlsFile wraps its records in); empty with *error set when libgsf
// failed.
std::string WrapWorkbookStream(const std::string& stream, std::string* error);

}  // namespace kelvara::discovery
