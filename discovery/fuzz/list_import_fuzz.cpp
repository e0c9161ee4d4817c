// Feeds arbitrary bytes to both list imports: as an XML document text, and
// as an .xls file (written to a temporary file, which the reader needs) when
// they begin as a compound file. The .xls import runs the reader program
// (kelvara-xls-reader of this build), confined: its sanitizer reports reach
// stderr, and whatever it does the import must end with devices or a
// refusal.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "discovery/core/device_list_xml.h"
#include "discovery/core/device_sheet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kelvara::discovery;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  (void)DevicesFromXml(bytes);
  // Each .xls import starts the reader program twice; the container check
  // refuses at once what does not begin as a compound file, so only those
  // that do are worth a start.
  static const std::string kCompoundFile("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
  if (bytes.compare(0, kCompoundFile.size(), kCompoundFile) != 0) return 0;
  // One file per fuzzing process, removed as it exits.
  static const struct Scratch {
    std::string path = "/tmp/kelvara_list_import_fuzz_" + std::to_string(getpid()) + ".xls";
    ~Scratch() { std::remove(path.c_str()); }
  } scratch;
  const std::string& path = scratch.path;
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    (void)ImportDeviceSheet(path);
  }
  return 0;
}
