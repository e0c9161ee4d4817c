#pragma once
// The .xls reader program (kelvara-xls-reader, next to the program): what
// runs in the confined child of ReadXlsFile. Started with fexecve and an
// empty environment, it holds nothing of the program that started it; it
// confines itself (reader_sandbox.h) before it touches its input.
//
//   extract SHEET MAXROWS       the file on kReaderInputFd: libgsf takes the
//                               workbook stream out of the compound file and
//                               CheckWorkbookStream checks it; reports "S" and
//                               the stream, or "E" and why not
//   read FILE SHEET MAXROWS     freexl reads FILE (a compound file of the
//                               parent's making around that stream); reports
//                               SerializeXlsReport (xls_report.h)
//
// It reports on kReaderReportFd and exits 0; 2 when the report could not be
// written, kReaderConfinementFailed when it could not confine itself, 64 on
// wrong arguments.
#include <functional>
#include <optional>
#include <string>

namespace kelvara::discovery {

inline constexpr const char* kXlsReaderExtract = "extract";
inline constexpr const char* kXlsReaderRead = "read";

// Hooks of a test build of the reader (never of the shipped one), which
// plays a reader that a workbook has taken over.
struct XlsReaderHooks {
  // Runs before the reader confines itself.
  std::function<void()> beforeConfinement;
  // Runs once it is confined, with the mode and the input's bytes (extract)
  // or the file's path (read); a report returned replaces the reader's.
  std::function<std::optional<std::string>(const std::string& mode, const std::string& input)> takeOver;
};

// The reader program's main.
int XlsReaderMain(int argc, char** argv, const XlsReaderHooks& hooks = {});

// Quiets libgsf's warnings about the damaged files it meets (each is
// answered by a refusal); call before using libgsf.
void InitGsfQuietly();

}  // namespace kelvara::discovery
