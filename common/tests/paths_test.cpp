#include "common/paths.h"

#include <gtest/gtest.h>
#include <cstdlib>

#include "kelvara_test/test_env.h"

namespace kelvara::paths {
namespace {

// Restores one environment variable when the test ends.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    if (value) setenv(name, value, 1); else unsetenv(name);
  }
  ~ScopedEnv() { had_ ? setenv(name_, old_.c_str(), 1) : unsetenv(name_); }
 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

TEST(Paths, KelvaraHomeHoldsEveryPerUserFolder) {
  const auto& home = test::HomeDir();
  for (const auto& dir : {ConfigDir(), DataDir(), DocumentsDir()}) {
    auto rel = dir.lexically_relative(home);
    EXPECT_FALSE(rel.empty() || *rel.begin() == "..") << dir;
  }
  EXPECT_NE(ConfigDir(), DataDir());
}

TEST(Paths, XdgFoldersWithoutKelvaraHome) {
  ScopedEnv home("KELVARA_HOME", nullptr);
  ScopedEnv cfg("XDG_CONFIG_HOME", "/x/cfg");
  ScopedEnv data("XDG_DATA_HOME", "/x/data");
  ScopedEnv docs("XDG_DOCUMENTS_DIR", "/x/docs");
  EXPECT_EQ(ConfigDir(), "/x/cfg/kelvara");
  EXPECT_EQ(DataDir(), "/x/data/kelvara");
  EXPECT_EQ(DocumentsDir(), "/x/docs/Kelvara");
}

TEST(Paths, DocumentsFromUserDirsFile) {
  auto cfg = test::MakeTempDir("xdg");
  {
    std::FILE* f = std::fopen((cfg / "user-dirs.dirs").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("# comment\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n", f);
    std::fclose(f);
  }
  ScopedEnv home("KELVARA_HOME", nullptr);
  ScopedEnv h("HOME", "/home/tech");
  ScopedEnv c("XDG_CONFIG_HOME", cfg.c_str());
  ScopedEnv d("XDG_DOCUMENTS_DIR", nullptr);
  EXPECT_EQ(DocumentsDir(), "/home/tech/Dokumente/Kelvara");
}

TEST(Paths, RelativeXdgValuesAreIgnored) {
  ScopedEnv home("KELVARA_HOME", nullptr);
  ScopedEnv h("HOME", "/home/tech");
  ScopedEnv c("XDG_CONFIG_HOME", "relative/cfg");
  EXPECT_EQ(ConfigDir(), "/home/tech/.config/kelvara");
}

TEST(Paths, EnsureDirCreatesAndReportsFailure) {
  auto dir = test::MakeTempDir() / "a" / "b";
  EXPECT_EQ(EnsureDir(dir), dir);
  EXPECT_TRUE(std::filesystem::is_directory(dir));
  EXPECT_TRUE(EnsureDir("/proc/kelvara-cannot-exist").empty());
}

}  // namespace
}  // namespace kelvara::paths
