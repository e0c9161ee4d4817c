#include "firmware/core/image_check.h"

#include <sys/stat.h>

#include <fstream>

namespace kelvara::firmware {

bool StatImage(const std::filesystem::path& path, ImageId& id) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  id.size = static_cast<std::uint64_t>(st.st_size);
  id.modified_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

namespace {

ImageVerdict Judge(const std::filesystem::path& path, const ImageId& id) {
  ImageVerdict v;
  v.id = id;
  std::ifstream in(path, std::ios::binary);
  std::uint8_t magic[8] = {};
  if (!in) {
    v.error = HeaderError::kOpen;
    return v;
  }
  if (!in.read(reinterpret_cast<char*>(magic), sizeof magic) || !HasFirmwareMagic(magic)) {
    v.sendable = true;  // no image magic: the device judges the file
    return v;
  }
  in.close();
  v.has_magic = true;
  const FirmwareHeaderResult header = ReadFirmwareHeader(path);
  v.error = header.error;
  if (v.error == HeaderError::kNone) v.error = CheckFirmwareParts(path, header.header);
  v.sendable = v.error == HeaderError::kNone;
  if (v.sendable) v.version = header.header.RootfsName();
  return v;
}

}  // namespace

ImageVerdict ImageCheckCache::Check(const std::filesystem::path& path) {
  ImageId id;
  if (!StatImage(path, id)) {
    ImageVerdict v;
    v.error = HeaderError::kOpen;
    return v;
  }
  const auto key = std::make_pair(path.string(), id);
  {
    std::lock_guard lock(mutex_);
    if (auto it = verdicts_.find(key); it != verdicts_.end()) return it->second;
  }
  ImageVerdict v = Judge(path, id);
  std::lock_guard lock(mutex_);
  ++reads_;
  // A file that changed while it was read is judged again next time.
  ImageId after;
  if (StatImage(path, after) && after == id) verdicts_[key] = v;
  return v;
}

int ImageCheckCache::reads() const {
  std::lock_guard lock(mutex_);
  return reads_;
}

}  // namespace kelvara::firmware
