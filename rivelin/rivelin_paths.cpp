#include "rivelin_paths.h"

#include <cstdlib>

namespace rivelin::paths {
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

}  // namespace

std::filesystem::path ConfigDir() {
  if (auto root = EnvPath("KELVARA_HOME"); !root.empty()) return root / "config";
  auto base = EnvPath("XDG_CONFIG_HOME");
  if (base.empty()) base = Home() / ".config";
  return base / "kelvara";
}

std::filesystem::path DataDir() {
  if (auto root = EnvPath("KELVARA_HOME"); !root.empty()) return root / "data";
  auto base = EnvPath("XDG_DATA_HOME");
  if (base.empty()) base = Home() / ".local" / "share";
  return base / "kelvara";
}

}  // namespace rivelin::paths
