#pragma once
// What the .xls reader child reports through its pipe, and the parent's
// reading of it. The child may have been taken over by the workbook it
// reads, so the parent checks every count against the bytes left and
// against what it asked for before it makes room for anything: its memory
// stays within a small multiple of the report's own bound (kXlsMaxReportBytes).
#include <cstddef>
#include <string>

#include "discovery/core/xls_workbook.h"

namespace kelvara::discovery {

// Flags, texts with 32-bit lengths, the cells' distinct texts once each,
// then the rows: their cell count and the cells as a type byte and their
// value (a number, or a text's index). A failed read carries no cells.
std::string SerializeXlsReport(const XlsReadResult& result);

// The longest error text and sheet name a report may carry (a sheet name
// is at most 255 UTF-16 units in BIFF8, 765 bytes in UTF-8).
inline constexpr std::size_t kXlsMaxReportText = 1024;
// A workbook's sheets are numbered with 16 bits.
inline constexpr std::size_t kXlsMaxSheetNames = 65536;

// A refusal text the reader sent, as the window may show it: control
// characters become '?'.
std::string ShowableReaderText(std::string text);

// What was asked of the reader: the report may claim no more.
struct XlsReportRequest {
  std::string sheetName;  // "" when only the sheet names were asked
  std::size_t maxRows = 0;
};

// Reads `report` into `out`: "" when it is whole and within `request`, else
// why not. Refused: counts beyond the bytes left; more sheet names than a
// workbook numbers; more rows than asked, more cells in a row than BIFF8's
// columns, more texts than the text cells that show them; a sheet other
// than the one asked; cells with a failed read. Control characters of the
// error text become '?' (it is shown in a window).
std::string DeserializeXlsReport(const std::string& report, const XlsReportRequest& request, XlsReadResult& out);

}  // namespace kelvara::discovery
