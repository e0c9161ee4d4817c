#include "common/debug_log.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vector>

#include "common/paths.h"

namespace kelvara {
namespace {

struct LoggerState {
  std::mutex lock;
  std::atomic<bool> file_on{false};
  std::atomic<bool> network_on{false};
  std::atomic<debug_log_testing::LocalTimeFn> local_time{nullptr};
  // Guarded by lock:
  int level = 10;
  std::string monitor_ip;
  char start_stamp[16] = "000000";
  std::FILE* file = nullptr;
  std::filesystem::path file_path;
  int lines = 0;
  std::uintmax_t file_bytes = 0;  // written to the current file
  std::uintmax_t max_file_bytes = kDebugLogMaxFileBytes;
  std::uintmax_t max_total_bytes = kDebugLogMaxTotalBytes;
  int file_number = 0;
  int last_day = 0;
  int socket_fd = -1;
};

// Never destroyed: threads that log while the program exits still find a
// valid lock and state.
LoggerState& State() {
  static LoggerState* state = new LoggerState;
  return *state;
}

std::tm LocalNow() {
  if (auto fn = State().local_time.load()) return fn();
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

// C-library decimal conversion as atoi does it, kept within int.
int ToInt(const std::string& value) {
  const long v = std::strtol(value.c_str(), nullptr, 10);
  return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
}

// The value after `key` up to the next ';'. 0 when the key is absent, 1 when
// found, 2 when present without ';' or with a value too long to take.
int FindValue(std::string_view text, std::string_view key, std::string& value) {
  const size_t at = text.find(key);
  if (at == std::string_view::npos) return 0;
  const size_t begin = at + key.size();
  const size_t end = text.find(';', begin);
  if (end == std::string_view::npos || end - begin > 255) return 2;
  value.assign(text.substr(begin, end - begin));
  return 1;
}

void CloseFileLocked(LoggerState& s) {
  if (s.file != nullptr) std::fclose(s.file);
  s.file = nullptr;
  s.file_path.clear();
}

void CloseSocketLocked(LoggerState& s) {
  if (s.socket_fd >= 0) ::close(s.socket_fd);
  s.socket_fd = -1;
}

// Deletes the oldest of the logger's files in `folder` until the rest, with
// room for one more full file, fit in the total limit.
void TrimFolderLocked(const LoggerState& s, const std::filesystem::path& folder) {
  namespace fs = std::filesystem;
  std::vector<std::pair<fs::file_time_type, fs::path>> files;
  std::uintmax_t total = 0;
  std::error_code ec;
  const std::string prefix = std::string(kDebugLogTag) + "_";
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind(prefix, 0) != 0 || it->path().extension() != ".log" || !it->is_regular_file(ec)) continue;
    const std::uintmax_t size = it->file_size(ec);
    if (ec) continue;
    total += size;
    files.emplace_back(it->last_write_time(ec), it->path());
  }
  const std::uintmax_t keep = s.max_total_bytes > s.max_file_bytes ? s.max_total_bytes - s.max_file_bytes : 0;
  std::sort(files.begin(), files.end());
  for (const auto& [time, path] : files) {
    if (total <= keep) break;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (fs::remove(path, ec)) total -= ec ? 0 : size;
  }
}

void WriteFileLocked(LoggerState& s, const std::tm& now, const char* line, size_t len) {
  if (s.file != nullptr && now.tm_mday != s.last_day) {
    CloseFileLocked(s);
    s.lines = 0;
    s.file_number = 0;
  } else if (s.lines >= kDebugLogLinesPerFile ||
             (s.file != nullptr && s.file_bytes + len > s.max_file_bytes)) {
    CloseFileLocked(s);
    s.lines = 0;
    ++s.file_number;
  } else {
    ++s.lines;
  }
  s.last_day = now.tm_mday;
  if (s.file == nullptr) {
    char name[128];
    std::snprintf(name, sizeof(name), "%s_%04d%02d%02d_%s_%d.log", kDebugLogTag, now.tm_year + 1900,
                  now.tm_mon + 1, now.tm_mday, s.start_stamp, s.file_number);
    const auto folder = paths::EnsureDir(DebugLogGetFolder());
    if (!folder.empty()) {
      TrimFolderLocked(s, folder);
      s.file_path = folder / name;
      s.file = std::fopen(s.file_path.c_str(), "ae");
      if (s.file == nullptr) s.file_path.clear();
      std::error_code ec;
      s.file_bytes = s.file ? std::filesystem::file_size(s.file_path, ec) : 0;
      if (ec) s.file_bytes = 0;
    }
  }
  if (s.file != nullptr) {
    std::fwrite(line, 1, len, s.file);
    std::fflush(s.file);
    s.file_bytes += len;
  }
}

int SendLocked(LoggerState& s, const char* line, size_t len) {
  if (s.socket_fd < 0) {
    s.socket_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s.socket_fd < 0) return -1;
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(kDebugLogMonitorPort);
  const char* ip = s.monitor_ip.empty() ? "127.0.0.1" : s.monitor_ip.c_str();
  if (inet_pton(AF_INET, ip, &to.sin_addr) != 1) return -1;
  const ssize_t sent = ::sendto(s.socket_fd, line, len, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&to), sizeof(to));
  if (sent != static_cast<ssize_t>(len)) {
    CloseSocketLocked(s);
    return -1;
  }
  return 0;
}

}  // namespace

int DebugLogParseConfig(std::string_view text, DebugLogConfig& config) {
  std::string value;
  switch (FindValue(text, "file=", value)) {
    case 0: config.file = 0; break;
    case 1: config.file = ToInt(value); break;
    default: break;
  }
  switch (FindValue(text, "network=", value)) {
    case 0: config.network = 0; break;
    case 1: config.network = ToInt(value); break;
    default: break;
  }
  switch (FindValue(text, "level=", value)) {
    case 0: config.level = 0; break;
    case 1: config.level = ToInt(value); break;
    default: break;
  }
  switch (FindValue(text, "monitor_ip=", value)) {
    case 0: config.monitor_ip.clear(); break;
    case 1:
      if (value.size() <= 31) config.monitor_ip = value;
      break;
    default: break;
  }
  return 0;
}

std::filesystem::path DebugLogGetFolder() { return paths::DataDir(); }

std::filesystem::path DebugLogConfigPath() { return paths::ConfigDir() / "uc_dbg.cfg"; }

int DebugLogInit() {
  LoggerState& s = State();
  DebugLogConfig config;
  {
    std::ifstream in(DebugLogConfigPath(), std::ios::binary);
    if (in) {
      // A configuration is a few lines; a larger file is read up to 64 KiB.
      std::string text(64 * 1024, '\0');
      in.read(text.data(), static_cast<std::streamsize>(text.size()));
      text.resize(static_cast<size_t>(in.gcount()));
      DebugLogParseConfig(text, config);
    }
  }
  const std::tm now = LocalNow();
  {
    std::lock_guard<std::mutex> guard(s.lock);
    CloseFileLocked(s);
    CloseSocketLocked(s);
    s.level = config.level;
    s.monitor_ip = config.monitor_ip;
    std::snprintf(s.start_stamp, sizeof(s.start_stamp), "%02d%02d%02d", now.tm_hour % 100, now.tm_min % 100,
                  now.tm_sec % 100);
    s.lines = 0;
    s.file_number = 0;
    s.last_day = 0;
    s.file_on = config.file != 0;
    s.network_on = config.network != 0;
  }
  DebugLogPrintf("Build %s %s\n", __DATE__, __TIME__);
  return 0;
}

int DebugLogRelease() {
  LoggerState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.file_on = false;
  s.network_on = false;
  CloseFileLocked(s);
  CloseSocketLocked(s);
  return 0;
}

int DebugLogPrintf(const char* format, ...) {
  char text[kDebugLogMaxLine + 1];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);

  LoggerState& s = State();
  const bool to_file = s.file_on.load();
  const bool to_network = s.network_on.load();

  const std::tm now = LocalNow();
  char line[kDebugLogMaxLine + 1];
  const int n = std::snprintf(line, sizeof(line), "%s: %04d-%02d-%02d %02d:%02d:%02d: %08x: %s", kDebugLogTag,
                              now.tm_year + 1900, now.tm_mon + 1, now.tm_mday, now.tm_hour, now.tm_min,
                              now.tm_sec, static_cast<unsigned>(gettid()), text);
  if (n < 0 || (!to_file && !to_network)) return 0;
  const size_t len = static_cast<size_t>(n) < sizeof(line) ? static_cast<size_t>(n) : sizeof(line) - 1;

  std::lock_guard<std::mutex> guard(s.lock);
  // Outputs may have been turned off by a release while this line was formatted.
  if (to_file && s.file_on.load()) WriteFileLocked(s, now, line, len);
  if (to_network && s.network_on.load()) return SendLocked(s, line, len);
  return 0;
}

namespace debug_log_testing {
void SetLocalTime(LocalTimeFn fn) { State().local_time = fn; }
void SetSizeLimits(std::uintmax_t file_bytes, std::uintmax_t total_bytes) {
  std::lock_guard<std::mutex> guard(State().lock);
  State().max_file_bytes = file_bytes != 0 ? file_bytes : kDebugLogMaxFileBytes;
  State().max_total_bytes = total_bytes != 0 ? total_bytes : kDebugLogMaxTotalBytes;
}
std::filesystem::path CurrentFile() {
  std::lock_guard<std::mutex> guard(State().lock);
  return State().file_path;
}
}  // namespace debug_log_testing

}  // namespace kelvara
