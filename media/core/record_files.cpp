#include "record_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "common/path_component.h"

namespace kelvara::media {

std::filesystem::path RecordFolder(const std::filesystem::path& base, const std::string& device_name,
                                   const std::tm& t) {
  char day[32];
  std::snprintf(day, sizeof day, "%02d-%02d-%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
  const std::filesystem::path folder = base / "record" / day / SanitizePathComponent(device_name);
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec || !std::filesystem::is_directory(folder)) return {};
  return folder;
}

std::filesystem::path CreateUniqueFile(const std::filesystem::path& folder, const std::string& stem,
                                       const std::string& ext) {
  for (int n = 0; n < 1000; ++n) {
    const std::string name = (n == 0 ? stem : stem + "_" + std::to_string(n)) + ext;
    const std::filesystem::path path = folder / name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      ::close(fd);
      return path;
    }
    if (errno != EEXIST) return {};
  }
  return {};
}

std::string TimeStem(const std::tm& t) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d%02d%02d", t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

std::tm LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  return t;
}

}  // namespace kelvara::media
