// Fuzz target: the parser of the debug-log configuration file.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/debug_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kelvara::DebugLogConfig config;
  kelvara::DebugLogParseConfig(std::string_view(reinterpret_cast<const char*>(data), size), config);
  if (config.monitor_ip.size() > 31) __builtin_trap();
  return 0;
}
