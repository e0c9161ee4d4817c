#include "common/served_file.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

namespace kelvara {
namespace {

// realpath-based check for kernels without openat2 (before 5.6).
int OpenBeneathFallback(int root_fd, const std::string& name) {
  char root[PATH_MAX], full[PATH_MAX];
  const std::string self = "/proc/self/fd/" + std::to_string(root_fd);
  if (realpath(self.c_str(), root) == nullptr) return -1;
  const std::string joined = std::string(root) + "/" + name;
  if (realpath(joined.c_str(), full) == nullptr) return -1;
  const std::string prefix = std::string(root) + "/";
  if (std::string(full).rfind(prefix, 0) != 0) {
    errno = EXDEV;
    return -1;
  }
  return open(full, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
}

}  // namespace

bool IsNameAcceptable(std::string_view name, std::string& normalized) {
  normalized.assign(name);
  for (char& c : normalized)
    if (c == '\\') c = '/';
  if (normalized.empty() || normalized[0] == '/') return false;
  if (normalized.size() >= 2 && normalized[1] == ':') return false;  // "C:..."
  std::size_t start = 0;
  while (start <= normalized.size()) {
    const auto end = normalized.find('/', start);
    const std::string_view part = std::string_view(normalized).substr(start, end - start);
    if (part == "..") return false;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return normalized.find('\0') == std::string::npos;
}

OpenResult OpenServedFile(int root_fd, std::string_view name, ServedFile& out) {
  std::string normalized;
  if (!IsNameAcceptable(name, normalized)) return OpenResult::kRefused;
  open_how how{};
  how.flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;  // a FIFO must not block the open
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  int fd = static_cast<int>(syscall(SYS_openat2, root_fd, normalized.c_str(), &how, sizeof how));
  if (fd < 0 && errno == ENOSYS) fd = OpenBeneathFallback(root_fd, normalized);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? OpenResult::kNotFound : OpenResult::kRefused;
  struct stat st{};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return OpenResult::kRefused;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  out.fd = fd;
  out.size = static_cast<std::uint64_t>(st.st_size);
  return OpenResult::kOk;
}

}  // namespace kelvara
