#pragma once
// Whether a file may be sent to devices as a firmware image. A file that
// carries the image magic is kept back only when it is certainly broken: its
// header CRC differs, it is shorter than its header or its parts (a truncated
// download), or a present part's bytes do not match their CRC. Everything the
// header check accepts otherwise is sent (padding, trailers, aligned parts,
// sizes that do not add up). A file without the magic goes to the device as
// it is (the device checks it). The verdict is remembered by path, size and modification
// time, so a batch of hundreds of devices reads an image once. Thread-safe.
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>

#include "firmware/core/firmware_image.h"

namespace kelvara::firmware {

struct ImageId {
  std::uint64_t size = 0;
  std::int64_t modified_ns = 0;  // last write time
  auto operator<=>(const ImageId&) const = default;
};

// The file's size and modification time; false when it is not a regular file.
bool StatImage(const std::filesystem::path& path, ImageId& id);

struct ImageVerdict {
  bool sendable = false;
  bool has_magic = false;  // checked as an image
  HeaderError error = HeaderError::kNone;
  ImageId id;
  std::string version;  // rootfs name of a checked image
};

class ImageCheckCache {
 public:
  ImageVerdict Check(const std::filesystem::path& path);
  // How many files were read for a verdict (tests and benchmarks).
  int reads() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::pair<std::string, ImageId>, ImageVerdict> verdicts_;
  int reads_ = 0;
};

}  // namespace kelvara::firmware
