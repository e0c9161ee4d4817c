// Any file content as either layout file: loading refuses or reads values in
// range, and never crashes.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <unistd.h>

#include "printing/core/qr_label_layout.h"
#include "printing/core/tips_config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string dir = [] {
    char pattern[] = "/tmp/kelvara_layout_fuzz_XXXXXX";
    const char* made = mkdtemp(pattern);
    return std::string(made ? made : "/tmp");
  }();
  const std::string path = dir + "/layout.xml";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  }
  kelvara::printing::QrLabelLayout layout(path);
  if (!layout.Validate().empty()) __builtin_trap();
  kelvara::printing::CTipsConfig tips(dir + "/tips.xml");
  tips.LoadFrom(path);
  if (!tips.Validate().empty()) __builtin_trap();
  return 0;
}
