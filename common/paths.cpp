#include "paths.h"

#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>
#include <unistd.h>

namespace kelvara::paths {
namespace {

std::filesystem::path EnvPath(const char* name) {
  const char* v = std::getenv(name);
  if (v == nullptr || *v == '\0') return {};
  std::filesystem::path p(v);
  return p.is_absolute() ? p : std::filesystem::path{};
}

std::filesystem::path Home() {
  auto h = EnvPath("HOME");
  return h.empty() ? std::filesystem::path("/tmp") : h;
}

std::filesystem::path KelvaraHome() { return EnvPath("KELVARA_HOME"); }

// XDG_DOCUMENTS_DIR is usually not in the environment but in user-dirs.dirs,
// as a line like: XDG_DOCUMENTS_DIR="$HOME/Documents".
std::filesystem::path UserDocumentsDir() {
  if (auto p = EnvPath("XDG_DOCUMENTS_DIR"); !p.empty()) return p;
  auto config = EnvPath("XDG_CONFIG_HOME");
  if (config.empty()) config = Home() / ".config";
  std::ifstream in(config / "user-dirs.dirs");
  std::string line;
  const std::string key = "XDG_DOCUMENTS_DIR=\"";
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) != 0) continue;
    std::string value = line.substr(key.size());
    if (auto q = value.find('"'); q != std::string::npos) value.resize(q);
    if (value.rfind("$HOME", 0) == 0) value = Home().string() + value.substr(5);
    std::filesystem::path p(value);
    if (p.is_absolute()) return p;
  }
  return Home() / "Documents";
}

}  // namespace

std::filesystem::path ProgramDir() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::filesystem::current_path(ec);
  return exe.parent_path();
}

std::filesystem::path ConfigDir() {
  if (auto root = KelvaraHome(); !root.empty()) return root / "config";
  auto base = EnvPath("XDG_CONFIG_HOME");
  if (base.empty()) base = Home() / ".config";
  return base / "kelvara";
}

std::filesystem::path DataDir() {
  if (auto root = KelvaraHome(); !root.empty()) return root / "data";
  auto base = EnvPath("XDG_DATA_HOME");
  if (base.empty()) base = Home() / ".local" / "share";
  return base / "kelvara";
}

std::filesystem::path DocumentsDir() {
  if (auto root = KelvaraHome(); !root.empty()) return root / "Documents" / "Kelvara";
  return UserDocumentsDir() / "Kelvara";
}

std::filesystem::path EnsureDir(const std::filesystem::path& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec || !std::filesystem::is_directory(dir, ec)) return {};
  return dir;
}

}  // namespace kelvara::paths
