// The image header reader on arbitrary bytes: the header is parsed against the
// input's own length; a passing header encodes back to the same field bytes,
// and every present part lies inside the input (its bytes are read there).
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
  std::uint32_t crc = 0;
  for (int i = 0; i < kFirmwarePartCount; ++i) {
    if (!header.Has(i)) continue;
    const FirmwarePart& part = header.Part(i);
    if (part.offset + static_cast<std::uint64_t>(part.size) > size) __builtin_trap();
    crc ^= FirmwareCrc32(data + part.offset, part.size);
  }
  (void)crc;
  (void)FirmwareHeaderNotice(header, size);
  (void)header.RootfsName();
  return 0;
}
