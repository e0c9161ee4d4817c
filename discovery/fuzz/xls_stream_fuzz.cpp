// Feeds arbitrary bytes as a workbook stream to the sheet-size check that
// runs before the .xls reader opens a file, in this process so that the
// fuzzer sees its coverage (the list import runs it in a child process).
#include <cstddef>
#include <cstdint>
#include <string>

#include "discovery/core/xls_workbook.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kelvara::discovery;
  const std::string stream(reinterpret_cast<const char*>(data), size);
  for (const char* sheet : {"EXPORT", ""}) (void)CheckWorkbookStream(stream, sheet, 2049);
  return 0;
}
