// The image header reader on arbitrary bytes: the header is parsed against the
// input's own length; a passing header encodes back to the same field bytes,
// and its present parts end exactly at the end of the input.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "firmware/core/firmware_image.h"

using namespace kelvara::firmware;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kFirmwareHeaderSize) return 0;
  FirmwareImageHeader header;
  if (ParseFirmwareHeader(data, size, header) != HeaderError::kNone) return 0;
  // Every field round-trips (the reserved bytes are not part of the record).
  const auto bytes = EncodeFirmwareHeader(header);
  if (std::memcmp(bytes.data(), data, header_offset::kReserved) != 0) __builtin_trap();
  std::uint64_t end = kFirmwareHeaderSize;
  for (int i = 0; i < kFirmwarePartCount; ++i)
    if (header.Has(i)) end = header.Part(i).offset + static_cast<std::uint64_t>(header.Part(i).size);
  if (end != size) __builtin_trap();
  (void)header.RootfsName();
  return 0;
}
