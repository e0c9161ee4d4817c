#include "common/atomic_file.h"

#include <gtest/gtest.h>
#include <fstream>
#include <sstream>

#include "kelvara_test/test_env.h"

namespace kelvara {
namespace {

std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(AtomicFile, ReplacesContentAndLeavesNoTemporaryFiles) {
  const auto dir = test::MakeTempDir();
  const auto file = dir / "zq_cfg.xml";
  ASSERT_TRUE(WriteFileAtomically(file, "old"));
  ASSERT_TRUE(WriteFileAtomically(file, std::string("new\0bytes", 9)));
  EXPECT_EQ(ReadAll(file), std::string("new\0bytes", 9));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
}

TEST(AtomicFile, FailedRenameKeepsTheOldContentAndCleansUp) {
  // A folder in the target's place makes the final rename fail, even for root.
  const auto dir = test::MakeTempDir();
  const auto target = dir / "busy";
  std::filesystem::create_directories(target / "inside");
  std::string error;
  EXPECT_FALSE(WriteFileAtomically(target, "lost?", &error));
  EXPECT_NE(error.find("cannot replace"), std::string::npos) << error;
  EXPECT_TRUE(std::filesystem::is_directory(target / "inside"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
}

TEST(AtomicFile, MissingFolderIsAnError) {
  std::string error;
  EXPECT_FALSE(WriteFileAtomically(test::MakeTempDir() / "no" / "such" / "f.xml", "x", &error));
  EXPECT_NE(error.find("temporary"), std::string::npos);
}

}  // namespace
}  // namespace kelvara
