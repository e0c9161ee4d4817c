// The benchmarks run from build/bench, not next to the reader program in
// build/bin: the .xls reads of this benchmark use the build's program.
#include "discovery/core/xls_workbook.h"

namespace {
const bool gReaderChosen = kelvara::discovery::UseXlsReader(KELVARA_BIN_DIR "/kelvara-xls-reader").empty();
}  // namespace
