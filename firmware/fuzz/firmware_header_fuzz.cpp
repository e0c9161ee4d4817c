// The image header reader on arbitrary bytes: the header is parsed against the
// input's own length, and a passing header is re-encoded and must read back
// the same.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "firmware/core/firmware_image.h"

using namespace kelvara::firmware;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kFirmwareHeaderSize) return 0;
  FirmwareImageHeader header;
  if (ParseFirmwareHeader(data, size, header) != HeaderError::kNone) return 0;
  // Bytes outside the record's fields (reserved space) come back as zero, so the
  // re-encoded header carries a CRC of its own before it is read again.
  FirmwareImageHeader copy = header;
  copy.header_crc = FirmwareHeaderCrc(EncodeFirmwareHeader(copy).data());
  const auto bytes = EncodeFirmwareHeader(copy);
  FirmwareImageHeader again;
  if (ParseFirmwareHeader(bytes.data(), size, again) != HeaderError::kNone) __builtin_trap();
  std::uint64_t end = kFirmwareHeaderSize;
  for (int i = 0; i < kFirmwarePartCount; ++i)
    if (header.Has(i)) end = header.Part(i).offset + static_cast<std::uint64_t>(header.Part(i).size);
  if (end != size) __builtin_trap();
  (void)header.RootfsName();
  return 0;
}
