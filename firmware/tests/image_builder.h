#pragma once
// Writes firmware images for tests and benchmarks (the reader's own fixtures
// come from make_images.py; these only need to be sound or plainly broken).
#include <filesystem>
#include <fstream>
#include <string>

#include "firmware/core/firmware_writer.h"

namespace kelvara::firmware::test {

// A sound image with a kernel and a rootfs named `version`, `body` bytes in all.
inline std::string BuildImage(const std::string& version, std::size_t body = 4096, unsigned seed = 1) {
  std::string parts(body, '\0');
  for (std::size_t i = 0; i < body; ++i) parts[i] = static_cast<char>((i * 131 + seed * 7) >> 3);
  const std::size_t kernel = body / 3;
  FirmwareImageContent content;
  content.parts[0] = parts.substr(0, kernel);
  content.parts[1] = parts.substr(kernel);
  content.kernel_name = "uImage";
  content.rootfs_name = version.substr(0, kFirmwareNameSize);
  std::string error;
  return BuildFirmwareImage(content, error).value_or(std::string());
}

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace kelvara::firmware::test
