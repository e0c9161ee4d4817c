// Fuzz target: the device side's reading of OEM file requests (listing,
// play and stop, delete) and upload names, over a store with a few files.
#include <cstddef>
#include <cstdint>
#include <string>

#include "oem_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const uint32_t kCodes[] = {1021, 1022, 1024};
  kelvara::devsim::OemFileStores stores;
  stores.Put("mp3", "a.mp3", std::string(1, '\0'));
  stores.Put("app", "b.bin", "\x01");
  const std::string request(reinterpret_cast<const char*>(data) + 1, size - 1);
  stores.Control(kCodes[data[0] % 3], request);
  stores.AcceptUpload(5, request);
  std::string content;
  stores.Read(request, content);
  stores.Command("list mp3");
  return 0;
}
