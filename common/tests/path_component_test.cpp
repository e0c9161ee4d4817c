#include "common/path_component.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

namespace kelvara {
namespace {

TEST(PathComponent, Table) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"IPC-A1 cam01", "IPC-A1 cam01"},
      {"..", "_."},
      {".", "_"},
      {".hidden", "_hidden"},
      {"../../etc/passwd", "_._.._etc_passwd"},
      {"a\\b/c", "a_b_c"},
      {"", "_"},
      {"   ", "_"},
      {"  name  ", "name"},
      {std::string("a\0b", 3), "a_b"},
      {"tab\there\n", "tab_here_"},
      {"del\x7f", "del_"},
      {"c:*?\"<>|", "c_______"},
      {"\xe6\x91\x84\xe5\x83\x8f\xe6\x9c\xba", "\xe6\x91\x84\xe5\x83\x8f\xe6\x9c\xba"},  // Chinese kept
      {"bad\xff", "bad_"},
      {"\xc0\xaf", "__"},                  // overlong '/' is not a character
      {"\xed\xa0\x80x", "___x"},           // a surrogate half is not a character
      {"cut\xe6\x91", "cut__"},            // a sequence cut off
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SanitizePathComponent(c.in), c.out) << c.in;
    EXPECT_TRUE(IsSafePathComponent(SanitizePathComponent(c.in)));
  }
  EXPECT_TRUE(IsSafePathComponent("cam01.jpg"));
  EXPECT_FALSE(IsSafePathComponent("a/b"));
  EXPECT_FALSE(IsSafePathComponent(".."));
}

TEST(PathComponent, LengthIsBoundedAtACharacterBoundary) {
  EXPECT_EQ(SanitizePathComponent(std::string(300, 'a')), std::string(kMaxPathComponentBytes, 'a'));
  const std::string s = std::string(kMaxPathComponentBytes - 1, 'a') + "\xc3\xa9" + "zz";
  EXPECT_EQ(SanitizePathComponent(s), std::string(kMaxPathComponentBytes - 1, 'a'));
}

TEST(PathComponent, AnyInputGivesOneSafeComponent) {
  std::mt19937 rng(12345);
  const std::string alphabet = std::string("./\\ \x01\x7f\xc3\xa9\xe6\x91\x84\xff\xed\xa0:ab") + std::string(1, '\0');
  for (int round = 0; round < 20000; ++round) {
    std::string in(rng() % 40, '\0');
    for (char& c : in) c = (rng() % 4 == 0) ? static_cast<char>(rng()) : alphabet[rng() % alphabet.size()];
    const std::string out = SanitizePathComponent(in);
    ASSERT_FALSE(out.empty());
    ASSERT_LE(out.size(), kMaxPathComponentBytes);
    ASSERT_NE(out[0], '.');
    for (unsigned char c : out) ASSERT_TRUE(c >= 0x20 && c != 0x7F && c != '/' && c != '\\') << out;
    ASSERT_EQ(SanitizePathComponent(out), out);  // idempotent
    const std::filesystem::path joined = std::filesystem::path("/base") / out;
    ASSERT_EQ(joined.parent_path(), "/base");
    ASSERT_EQ(joined.lexically_normal(), joined);
  }
}

}  // namespace
}  // namespace kelvara
