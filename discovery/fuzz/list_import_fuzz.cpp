// Feeds arbitrary bytes to both list imports: as an XML document text, and
// as an .xls file (written to a temporary file, which the reader needs).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "discovery/core/device_list_xml.h"
#include "discovery/core/device_sheet.h"

// libfreexl loses a block on some of its own error paths; that is its
// leak, not ours, and would end every run.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfreexl.so\n"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kelvara::discovery;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  (void)DevicesFromXml(bytes);
  static const std::string path = "/tmp/kelvara_list_import_fuzz_" + std::to_string(getpid()) + ".xls";
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    (void)ImportDeviceSheet(path);
  }
  return 0;
}
