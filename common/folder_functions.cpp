#include "common/folder_functions.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <system_error>
#include <thread>

#include "common/atomic_file.h"
#include "common/paths.h"

namespace kelvara {
namespace {

// The user's home, or KELVARA_HOME when set (tests), like every per-user folder.
std::filesystem::path UserHome() {
  for (const char* name : {"KELVARA_HOME", "HOME"}) {
    const char* v = std::getenv(name);
    if (v != nullptr && *v == '/') return v;
  }
  return "/tmp";
}

std::filesystem::path XdgOr(const char* name, const char* below_home) {
  const char* v = std::getenv(name);
  if (std::getenv("KELVARA_HOME") == nullptr && v != nullptr && *v == '/') return v;
  return UserHome() / below_home;
}

// Undoes the octal escapes of mountinfo ("\040" for a blank).
std::string Unescape(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size()) {
      const std::string_view oct = s.substr(i + 1, 3);
      if (oct.find_first_not_of("01234567") == std::string_view::npos) {
        out.push_back(static_cast<char>(std::stoi(std::string(oct), nullptr, 8)));
        i += 3;
        continue;
      }
    }
    out.push_back(s[i]);
  }
  return out;
}

bool Contains(const std::string& mount_point, const std::string& path) {
  if (mount_point == "/") return true;
  return path.compare(0, mount_point.size(), mount_point) == 0 &&
         (path.size() == mount_point.size() || path[mount_point.size()] == '/');
}

}  // namespace

namespace folder_detail {

std::string FsTypeOf(std::string_view mountinfo, const std::string& absolute_path) {
  std::string best_type;
  std::size_t best_len = 0;
  std::istringstream in{std::string(mountinfo)};
  std::string line;
  while (std::getline(in, line)) {
    // id parent major:minor root mount-point options [optional...] - type source super-options
    std::istringstream fields(line);
    std::string id, parent, dev, root, mount_point, word;
    if (!(fields >> id >> parent >> dev >> root >> mount_point)) continue;
    while (fields >> word && word != "-") {
    }
    std::string type;
    if (!(fields >> type)) continue;
    mount_point = Unescape(mount_point);
    // Later lines stack on earlier ones at the same point: >= keeps the last.
    if (Contains(mount_point, absolute_path) && mount_point.size() >= best_len) {
      best_len = mount_point.size();
      best_type = type;
    }
  }
  return best_type;
}

bool IsNetworkFsType(std::string_view t) {
  static constexpr std::string_view kNetwork[] = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "9p",
                                                  "afs", "ceph", "glusterfs", "lustre", "davfs", "coda"};
  for (auto n : kNetwork) {
    if (t == n) return true;
  }
  // FUSE mounts (sshfs, rclone, ...) may hang just the same.
  return t.rfind("fuse.", 0) == 0 || t == "fuse";
}

int ProbeWithTimeout(std::function<bool()> probe, int timeout_ms) {
  // Shared by caller and worker; whoever drops the last reference frees it.
  struct Record {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    bool answer = false;
  };
  auto record = std::make_shared<Record>();
  try {
    std::thread([record, probe = std::move(probe)] {
      const bool answer = probe();
      std::lock_guard<std::mutex> lock(record->m);
      record->answer = answer;
      record->done = true;
      record->cv.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return 0;
  }
  std::unique_lock<std::mutex> lock(record->m);
  record->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms > 0 ? timeout_ms : 0), [&] { return record->done; });
  return record->done && record->answer ? 1 : 0;
}

}  // namespace folder_detail

std::filesystem::path GetModuleFolder() { return paths::ProgramDir(); }

std::filesystem::path GetCommonDocumentsFolder() { return paths::DocumentsDir(); }

std::filesystem::path GetShellFolderPath(int csidl) {
  switch (csidl) {
    case 0:   // desktop
    case 16:  // desktop directory
    case 25:  // common desktop directory
      return XdgOr("XDG_DESKTOP_DIR", "Desktop");
    case 5:  // personal: the program's folder in the user's Documents, the
             // same as the shared documents folder (one mapping everywhere)
      return paths::DocumentsDir();
    case 20:  // fonts
      return paths::DataDir().parent_path() / "fonts";
    case 21:  // templates
      return XdgOr("XDG_TEMPLATES_DIR", "Templates");
    case 26:  // application data
      return paths::ConfigDir().parent_path();
    case 32:  // internet cache
      return XdgOr("XDG_CACHE_HOME", ".cache");
    default:
      // Known numbers without a Linux folder, and unknown numbers.
      return {};
  }
}

int CreateFolderPath(const std::filesystem::path& path) {
  std::error_code ec;
  if (!path.empty()) std::filesystem::create_directories(path, ec);
  return 0;
}

void CreateFolderPathNormalized(std::string_view path) {
  std::string p;
  for (char c : path) {
    const char sep = c == '\\' ? '/' : c;
    if (sep == '/' && !p.empty() && p.back() == '/') continue;
    p.push_back(sep);
  }
  CreateFolderPath(p);
}

int PathExistsWithTimeout(const std::filesystem::path& path, int timeout_ms) {
  if (path.empty()) return 0;
  std::error_code ec;
  const auto absolute = std::filesystem::absolute(path, ec).lexically_normal();
  std::string fs_type;
  {
    std::ifstream in("/proc/self/mountinfo");
    std::stringstream ss;
    ss << in.rdbuf();
    fs_type = folder_detail::FsTypeOf(ss.str(), absolute.string());
  }
  auto exists = [p = path] {
    std::error_code e;
    return std::filesystem::exists(p, e);
  };
  if (!folder_detail::IsNetworkFsType(fs_type)) return exists() ? 1 : 0;
  return folder_detail::ProbeWithTimeout(exists, timeout_ms);
}

std::filesystem::path GetStartFolderForFile(const std::filesystem::path& last_file,
                                            const std::filesystem::path& default_folder) {
  const auto fallback = default_folder.empty() ? GetModuleFolder() : default_folder;
  if (last_file.empty()) return fallback;
  const auto folder = last_file.parent_path();
  if (!folder.empty() && PathExistsWithTimeout(folder, 800) == 1) return folder;
  return fallback;
}

std::filesystem::path GetStartFolder(const std::filesystem::path& last_folder,
                                     const std::filesystem::path& default_folder) {
  const auto fallback = default_folder.empty() ? GetModuleFolder() : default_folder;
  if (!last_folder.empty() && PathExistsWithTimeout(last_folder, 800) == 1) return last_folder;
  return fallback;
}

int WriteFileBuffer(const std::filesystem::path& path, const void* buffer, std::size_t length) {
  std::string error;
  const std::string_view content(static_cast<const char*>(buffer), buffer ? length : 0);
  if (!WriteFileAtomically(path, content, &error)) {
    std::printf("open file %s faild, errString is %s\n", path.c_str(), error.c_str());
    std::fflush(stdout);
    return -1;
  }
  return static_cast<int>(content.size());
}

std::uint64_t RoundUpToMultiple(std::uint32_t a, std::uint32_t b) {
  if (b == 0) return a;
  return static_cast<std::uint64_t>(b) * ((static_cast<std::uint64_t>(a) + b - 1) / b);
}

std::int64_t FileTimeToUnixTime(std::uint64_t file_time, std::int64_t* out) {
  const std::int64_t t = (static_cast<std::int64_t>(file_time) - 116444736000000000LL) / 10000000;
  if (out) *out = t;
  return t;
}

}  // namespace kelvara
