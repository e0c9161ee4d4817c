// Outside bytes in the debug log, and the guard against floods of log lines.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "common/log_flood_guard.h"
#include "common/log_text.h"

namespace kelvara {
namespace {

TEST(EscapeForLog, OneLineOfPrintableTextCutShort) {
  struct Case {
    std::string in;
    std::size_t max;
    std::string out;
  };
  const Case cases[] = {
      {"<XML_TOPSEE>ok</XML_TOPSEE>", 256, "<XML_TOPSEE>ok</XML_TOPSEE>"},
      {"a\r\nb\tc\\d", 256, "a\\r\\nb\\tc\\\\d"},
      {std::string("\0\x01\x7f\x80\xff", 5), 256, "\\x00\\x01\\x7F\\x80\\xFF"},
      {"\xE4\xBD\xA0", 256, "\\xE4\\xBD\\xA0"},  // UTF-8 too: the log stays ASCII
      {"abcdef", 3, "abc...(6 bytes)"},
      {"abc", 3, "abc"},
      {"", 256, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(EscapeForLog(c.in, c.max), c.out) << c.in;
  // Whatever comes in, nothing but printable ASCII goes out.
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  for (unsigned char ch : EscapeForLog(all, all.size())) EXPECT_TRUE(ch >= 0x20 && ch < 0x7f) << int(ch);
  EXPECT_LE(EscapeForLog(std::string(100000, '\n')).size(), kLogExcerptBytes * 2 + 32);
}

TEST(LogFloodGuard, FirstFewPerSourceThenOneCountPerMinute) {
  LogFloodGuard guard;  // 5 per source, 60-s windows
  std::map<std::string, std::uint64_t> reported;
  auto report = [&](const std::string& s, std::uint64_t n) { reported[s] += n; };
  int logged_a = 0, logged_b = 0;
  for (int i = 0; i < 10000; ++i) logged_a += guard.Admit("10.0.0.1", i);
  for (int i = 0; i < 3; ++i) logged_b += guard.Admit("10.0.0.2", 100);
  EXPECT_EQ(logged_a, 5);
  EXPECT_EQ(logged_b, 3);
  guard.Flush(59'999, report);
  EXPECT_TRUE(reported.empty());  // the minute is not over
  guard.Flush(60'000, report);
  EXPECT_EQ(reported, (std::map<std::string, std::uint64_t>{{"10.0.0.1", 9995}}));

  // A flood that goes on is counted again, without new full lines.
  reported.clear();
  EXPECT_FALSE(guard.Admit("10.0.0.1", 61'000));
  guard.Flush(120'000, report);
  EXPECT_EQ(reported, (std::map<std::string, std::uint64_t>{{"10.0.0.1", 1}}));
  // A source silent for a whole minute is forgotten: its next lines show in full.
  reported.clear();
  guard.Flush(180'000, report);
  EXPECT_TRUE(reported.empty());
  EXPECT_EQ(guard.TrackedSources(), 0u);
  EXPECT_TRUE(guard.Admit("10.0.0.1", 180'001));
}

TEST(LogFloodGuard, ManySourcesShareOneCount) {
  LogFloodGuard guard({.first_per_source = 1, .window_ms = 1000, .max_sources = 100});
  int logged = 0;
  for (int i = 0; i < 10000; ++i) logged += guard.Admit("src" + std::to_string(i), 0);
  EXPECT_EQ(logged, 100);
  EXPECT_EQ(guard.TrackedSources(), 100u);
  std::map<std::string, std::uint64_t> reported;
  guard.Flush(1000, [&](const std::string& s, std::uint64_t n) { reported[s] = n; });
  EXPECT_EQ(reported, (std::map<std::string, std::uint64_t>{{LogFloodGuard::kOtherSources, 9900}}));
}

// Many sources each within their own few lines still add up to no more than
// the window's bound; what was held back is counted by source, and the next
// window admits lines again (never past a source's own few).
TEST(LogFloodGuard, LinesOfAllSourcesAreBoundedPerWindow) {
  LogFloodGuard guard({.first_per_source = 2, .window_ms = 1000, .max_sources = 100, .max_per_window = 5});
  int logged = 0;
  for (int i = 0; i < 30; ++i) logged += guard.Admit("src" + std::to_string(i / 3), 0);  // 3 lines each
  EXPECT_EQ(logged, 5);
  std::uint64_t held = 0;
  guard.Flush(1000, [&](const std::string&, std::uint64_t n) { held += n; });
  EXPECT_EQ(held, 25u);
  EXPECT_FALSE(guard.Admit("src0", 1001));  // its own two were logged
  EXPECT_TRUE(guard.Admit("src2", 1001));   // one of its two was
  EXPECT_FALSE(guard.Admit("src2", 1001));
  EXPECT_TRUE(guard.Admit("src9", 1001));
}

}  // namespace
}  // namespace kelvara
