#include "common/process_functions.h"

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>

#include <filesystem>

namespace kelvara {
namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Real user id of a process, or -1.
long RealUid(const std::string& proc) {
  std::ifstream in(proc + "/status");
  std::string key;
  while (in >> key) {
    if (key == "Uid:") {
      long uid = -1;
      in >> uid;
      return uid;
    }
    in.ignore(4096, '\n');
  }
  return -1;
}

// State letter of a process from /proc/<pid>/stat ('Z' for a zombie), or 0
// when it is gone.
char State(const std::string& proc) {
  std::ifstream in(proc + "/stat");
  std::string line;
  if (!std::getline(in, line)) return 0;
  const auto close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() ? line[close + 2] : 0;
}

bool Ended(const std::string& proc) {
  const char s = State(proc);
  return s == 0 || s == 'Z' || s == 'X';
}

// The program file name of a process: from its executable link, else from
// its command name (cut to 15 characters by the kernel).
bool NameMatches(const std::string& proc, const std::string& wanted) {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink(proc + "/exe", ec);
  if (!ec) {
    std::string file = exe.filename().string();
    constexpr std::string_view kDeleted = " (deleted)";
    if (file.size() > kDeleted.size() && file.ends_with(kDeleted)) file.resize(file.size() - kDeleted.size());
    return Lower(file) == wanted;
  }
  std::ifstream in(proc + "/comm");
  std::string comm;
  std::getline(in, comm);
  return !comm.empty() && Lower(comm) == wanted.substr(0, 15);
}

}  // namespace

int KillProcessByName(std::string_view name) {
  std::string wanted = Lower(name);
  if (wanted.size() > 4 && wanted.ends_with(".exe")) wanted.resize(wanted.size() - 4);
  if (wanted.empty()) return 0;
  const long me = static_cast<long>(getuid());
  const pid_t self = getpid();
  DIR* dir = opendir("/proc");
  if (dir == nullptr) return 0;
  pid_t target = 0;
  while (dirent* e = readdir(dir)) {
    char* end = nullptr;
    const long pid = std::strtol(e->d_name, &end, 10);
    if (*end != '\0' || pid <= 0 || pid == self) continue;
    const std::string proc = std::string("/proc/") + e->d_name;
    if (RealUid(proc) != me || Ended(proc) || !NameMatches(proc, wanted)) continue;
    target = static_cast<pid_t>(pid);
    break;
  }
  closedir(dir);
  if (target == 0 || kill(target, SIGTERM) != 0) return 0;
  const std::string proc = "/proc/" + std::to_string(target);
  for (int i = 0; i < 100 && !Ended(proc); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (!Ended(proc)) kill(target, SIGKILL);
  return 1;
}

unsigned long RaiseOpenFileLimit() {
  rlimit r{};
  if (getrlimit(RLIMIT_NOFILE, &r) != 0) return 0;
  if (r.rlim_cur < r.rlim_max) {
    const rlim_t before = r.rlim_cur;
    r.rlim_cur = r.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &r) != 0) r.rlim_cur = before;
  }
  return static_cast<unsigned long>(r.rlim_cur);
}

}  // namespace kelvara
