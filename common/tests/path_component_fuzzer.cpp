// Fuzz target: the path-component sanitiser must turn any text into one safe name.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/path_component.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string out = kelvara::SanitizePathComponent(std::string_view(reinterpret_cast<const char*>(data), size));
  if (out.empty() || out.size() > kelvara::kMaxPathComponentBytes || out[0] == '.') __builtin_trap();
  for (unsigned char c : out) {
    if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') __builtin_trap();
  }
  if (kelvara::SanitizePathComponent(out) != out) __builtin_trap();
  return 0;
}
