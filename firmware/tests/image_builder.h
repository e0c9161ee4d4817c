#pragma once
// Writes firmware images for tests and benchmarks (the reader's own fixtures
// come from make_images.py; these only need to be sound or plainly broken).
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "firmware/core/firmware_image.h"

namespace kelvara::firmware::test {

// A sound image with a kernel and a rootfs named `version`, `body` bytes in all.
inline std::string BuildImage(const std::string& version, std::size_t body = 4096, unsigned seed = 1) {
  FirmwareImageHeader h;
  std::memcpy(h.magic.data(), kFirmwareMagic, 8);
  const std::size_t kernel = body / 3, rootfs = body - kernel;
  std::string parts(body, '\0');
  for (std::size_t i = 0; i < body; ++i) parts[i] = static_cast<char>((i * 131 + seed * 7) >> 3);
  h.flags = kPartKernel | kPartRootfs;
  h.kernel = {static_cast<std::uint32_t>(kFirmwareHeaderSize), static_cast<std::uint32_t>(kernel),
              FirmwareCrc32(parts.data(), kernel)};
  h.rootfs = {static_cast<std::uint32_t>(kFirmwareHeaderSize + kernel), static_cast<std::uint32_t>(rootfs),
              FirmwareCrc32(parts.data() + kernel, rootfs)};
  std::memcpy(h.kernel_name.data(), "uImage", 6);
  std::memcpy(h.rootfs_name.data(), version.data(), std::min(version.size(), kFirmwareNameSize));
  h.file_size = static_cast<std::uint32_t>(kFirmwareHeaderSize + body);
  auto bytes = EncodeFirmwareHeader(h);
  h.header_crc = FirmwareHeaderCrc(bytes.data());
  bytes = EncodeFirmwareHeader(h);
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()) + parts;
}

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace kelvara::firmware::test
