#include "firmware/core/firmware_writer.h"

#include <cstring>
#include <limits>

namespace kelvara::firmware {
namespace {

FirmwarePart& PartOf(FirmwareImageHeader& h, int index) {
  switch (index) {
    case 0: return h.kernel;
    case 1: return h.rootfs;
    case 2: return h.uboot;
    case 3: return h.tgz;
    default: return h.oem;
  }
}

}  // namespace

std::string FirmwareImageProblem(const FirmwareImageContent& c) {
  if (c.magic.size() != 8) return "the magic must be 8 characters";
  if (c.kernel_name.size() > kFirmwareNameSize)
    return "the kernel name is longer than " + std::to_string(kFirmwareNameSize) + " bytes";
  if (c.rootfs_name.size() > kFirmwareNameSize)
    return "the version text is longer than " + std::to_string(kFirmwareNameSize) + " bytes";
  // Offsets, sizes and the total are 32-bit fields.
  std::uint64_t total = kFirmwareHeaderSize;
  for (const auto& part : c.parts)
    if (part) total += part->size();
  if (total > std::numeric_limits<std::uint32_t>::max())
    return "the image would be " + std::to_string(total) + " bytes, more than its 32-bit size field holds";
  return {};
}

std::optional<std::string> BuildFirmwareImage(const FirmwareImageContent& c, std::string& error) {
  error = FirmwareImageProblem(c);
  if (!error.empty()) return std::nullopt;
  FirmwareImageHeader h;
  std::memcpy(h.magic.data(), c.magic.data(), 8);
  std::memcpy(h.kernel_name.data(), c.kernel_name.data(), c.kernel_name.size());
  std::memcpy(h.rootfs_name.data(), c.rootfs_name.data(), c.rootfs_name.size());
  std::uint32_t at = kFirmwareHeaderSize;
  for (int i = 0; i < kFirmwarePartCount; ++i) {
    const auto& bytes = c.parts[static_cast<std::size_t>(i)];
    if (!bytes) continue;
    h.flags |= FirmwareImageHeader::FlagOf(i);
    const auto size = static_cast<std::uint32_t>(bytes->size());
    PartOf(h, i) = {at, size, FirmwareCrc32(bytes->data(), bytes->size())};
    at += size;
  }
  h.file_size = at;
  h.header_crc = FirmwareHeaderCrc(EncodeFirmwareHeader(h).data());
  const auto header = EncodeFirmwareHeader(h);
  std::string image(reinterpret_cast<const char*>(header.data()), header.size());
  image.reserve(at);
  for (const auto& part : c.parts)
    if (part) image += *part;
  return image;
}

std::string FirmwareFillerBytes(std::size_t length, std::string_view seed) {
  // An xorshift stream from the seed's CRC: no runs a compressor would fold,
  // no two seeds alike.
  std::uint32_t x = FirmwareCrc32(seed.data(), seed.size()) | 1u;
  std::string out(length, '\0');
  for (std::size_t i = 0; i < length; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out[i] = static_cast<char>(x);
  }
  return out;
}

}  // namespace kelvara::firmware
