// Fuzz target: the device side's reading of discovery datagrams.
#include <cstddef>
#include <cstdint>
#include <string>

#include "discovery_request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kelvara::devsim::ParseDiscoveryRequest(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
