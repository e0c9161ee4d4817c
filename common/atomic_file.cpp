#include "atomic_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvara {
namespace {

bool Fail(std::string* error, const std::string& what, int err) {
  if (error) *error = what + ": " + std::strerror(err);
  return false;
}

}  // namespace

bool WriteFileAtomically(const std::filesystem::path& target, std::string_view content,
                         std::string* error, unsigned mode) {
  if (target.filename().empty()) return Fail(error, "no file name", EINVAL);
  const auto dir = target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
  std::string tmp = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = mkstemp(tmp.data());
  if (fd < 0) return Fail(error, "cannot create a temporary file in " + dir.string(), errno);

  const char* p = content.data();
  size_t left = content.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n < 0 ? errno : ENOSPC;
      ::close(fd);
      ::unlink(tmp.c_str());
      return Fail(error, "cannot write " + tmp, err);
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  // mkstemp creates 0600; most files are ordinary user files.
  ::fchmod(fd, static_cast<mode_t>(mode));
  if (::fsync(fd) != 0) {
    const int err = errno;
    ::close(fd);
    ::unlink(tmp.c_str());
    return Fail(error, "cannot flush " + tmp, err);
  }
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    return Fail(error, "cannot close " + tmp, err);
  }
  if (::rename(tmp.c_str(), target.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    return Fail(error, "cannot replace " + target.string(), err);
  }
  // Make the rename itself durable.
  if (const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY); dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

}  // namespace kelvara
