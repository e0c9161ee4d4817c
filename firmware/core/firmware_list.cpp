#include "firmware/core/firmware_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <system_error>
#include <vector>

#include "common/served_file.h"
#include "firmware/core/firmware_image.h"

namespace kelvara::firmware {
namespace fs = std::filesystem;
namespace {

bool EndsWithBin(std::string_view name) {
  if (name.size() < 4) return false;
  const std::string_view ext = name.substr(name.size() - 4);
  return ext[0] == '.' && (ext[1] | 0x20) == 'b' && (ext[2] | 0x20) == 'i' && (ext[3] | 0x20) == 'n';
}

// Last write time in seconds since 1970; false when the path is no regular file.
bool RegularFileTime(const fs::path& path, std::int64_t& seconds) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  seconds = static_cast<std::int64_t>(st.st_mtim.tv_sec);
  return true;
}

void RemoveAll(std::string& text, std::string_view what) {
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at)) text.erase(at, what.size());
}

// The folder opened for the served-file rule; closed with the object.
class FolderFd {
 public:
  explicit FolderFd(const fs::path& dir) : fd_(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
  ~FolderFd() {
    if (fd_ >= 0) close(fd_);
  }
  FolderFd(const FolderFd&) = delete;
  FolderFd& operator=(const FolderFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// The names of the folder's entries, in byte order.
std::vector<std::string> EntryNames(const fs::path& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
    names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The image the file server serves under `name` (the helper's own rule), when
// the header check passes: true with the header and the modification time.
// The check writes its lines on standard output, naming the file by `shown`.
bool ReadServedImage(int root_fd, std::string_view name, const fs::path& shown, FirmwareImageHeader& header,
                     std::int64_t& modified) {
  ServedFile file;
  if (OpenServedFile(root_fd, name, file) != OpenResult::kOk) return false;
  // The header of the very file opened, not of whatever the name leads to later.
  struct stat st {};
  const bool ok = fstat(file.fd, &st) == 0 && CheckFirmwareHeader(file.fd, shown, &header) == 0;
  close(file.fd);
  if (ok) modified = static_cast<std::int64_t>(st.st_mtim.tv_sec);
  return ok;
}

}  // namespace

std::string NormalizeFolderText(std::string_view folder) {
  std::string out(folder);
  std::replace(out.begin(), out.end(), '\\', '/');
  if (out.empty() || out.back() != '/') out += '/';
  return out;
}

FirmwareList ListFirmwareFiles(std::string_view folder) {
  FirmwareList list;
  const fs::path dir = NormalizeFolderText(folder);
  const FolderFd root(dir);
  if (root.get() < 0) return list;
  for (const std::string& name : EntryNames(dir)) {
    if (!EndsWithBin(name)) continue;
    FirmwareImageHeader header;
    std::int64_t modified = 0;
    if (!ReadServedImage(root.get(), name, dir / name, header, modified)) continue;
    // The entry's version field holds 255 characters and its terminator.
    std::string version = header.RootfsName();
    if (version.size() > kFirmwareNameSize - 1) version.resize(kFirmwareNameSize - 1);
    list[name] = FirmwareListEntry{modified, std::move(version)};
  }
  return list;
}

std::string FindServedFactoryImage(std::string_view folder) {
  constexpr std::string_view kPrefix = "firmware_";
  const fs::path dir = NormalizeFolderText(folder);
  const FolderFd root(dir);
  if (root.get() < 0) return {};
  for (const std::string& name : EntryNames(dir)) {
    if (name.size() < kPrefix.size() + 4 || name.compare(0, kPrefix.size(), kPrefix) != 0 ||
        name.compare(name.size() - 4, 4, ".bin") != 0 || name.find("factory_zq", 1) == std::string::npos)
      continue;
    FirmwareImageHeader header;
    std::int64_t modified = 0;
    if (ReadServedImage(root.get(), name, dir / name, header, modified)) return name;
  }
  return {};
}

std::string ModelKeyOf(std::string_view device_type) {
  std::string key(device_type);
  RemoveAll(key, "DAV-ODUVE-");
  RemoveAll(key, "NVS-NVR-");
  return key;
}

bool IsVariantKey(std::string_view key) { return key.find("_AF") != std::string_view::npos; }

fs::path FindFirmwareForModel(std::string_view folder, std::string_view key, bool variant) {
  if (key.empty()) return {};
  constexpr std::string_view kPrefix = "firmware_";
  std::map<std::string, std::int64_t> candidates;  // path -> modification time, in path order
  const fs::path dir = NormalizeFolderText(folder);
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() < kPrefix.size() + 4 || name.compare(0, kPrefix.size(), kPrefix) != 0 || !EndsWithBin(name))
      continue;
    const std::string_view middle = std::string_view(name).substr(kPrefix.size(), name.size() - kPrefix.size() - 4);
    if (middle.find(key) == std::string_view::npos) continue;
    const std::string path = it->path().string();
    if (variant && path.find("_AF") == std::string::npos) continue;
    std::int64_t modified = 0;
    if (!RegularFileTime(it->path(), modified)) continue;
    candidates[path] = modified;
  }
  std::string chosen;
  std::int64_t newest = 0;
  for (const auto& [path, modified] : candidates) {
    if (modified >= newest) {
      newest = modified;
      chosen = path;
    }
  }
  return chosen;
}

}  // namespace kelvara::firmware
