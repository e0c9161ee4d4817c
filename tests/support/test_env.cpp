#include "kelvara_test/test_env.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>

namespace kelvara::test {
namespace {
std::filesystem::path g_home;
std::atomic<unsigned> g_counter{0};
}  // namespace

void SetUpTestHome() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kelvara-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    std::perror("mkdtemp");
    std::abort();
  }
  g_home = pattern;
  setenv("KELVARA_HOME", g_home.c_str(), 1);
  // Nothing a test does may reach the user's desktop folders either.
  unsetenv("XDG_CONFIG_HOME");
  unsetenv("XDG_DATA_HOME");
  unsetenv("XDG_DOCUMENTS_DIR");
}

void TearDownTestHome() {
  if (g_home.empty() || std::getenv("KELVARA_KEEP_TEST_HOME")) return;
  std::error_code ec;
  std::filesystem::remove_all(g_home, ec);
}

const std::filesystem::path& HomeDir() { return g_home; }

std::filesystem::path MakeTempDir(const char* prefix) {
  auto dir = g_home / "tmp" / (std::string(prefix) + std::to_string(g_counter++));
  std::filesystem::create_directories(dir);
  return dir;
}

std::filesystem::path SourceDir() {
  const char* s = std::getenv("KELVARA_SOURCE_DIR");
  return s ? std::filesystem::path(s) : std::filesystem::path(KELVARA_TEST_SOURCE_DIR);
}

std::filesystem::path BinDir() {
  const char* s = std::getenv("KELVARA_BIN_DIR");
  return s ? std::filesystem::path(s) : std::filesystem::path(KELVARA_TEST_BIN_DIR);
}

std::string CommandOutput(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  return out;
}

}  // namespace kelvara::test
