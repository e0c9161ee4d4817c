// The focus texts, evaluation and reference files; the time-zone file and
// the time dialog's Save.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>

#include "common/paths.h"
#include "dialogs/core/focus_model.h"
#include "dialogs/core/time_model.h"

namespace kelvara::dialogs {
namespace {

std::string Pairs(int count, const char* pair = "1000,90;") {
  std::string s;
  for (int i = 0; i < count; ++i) s += pair;
  return s;
}

TEST(FocusModel, ParsesOnlyNineGoodPairs) {
  const struct {
    std::string text;
    bool ok;
  } cases[] = {
      {"{mfocus:" + Pairs(9) + "}", true},
      {"alarm detail {mfocus:" + Pairs(9) + "}", true},
      {"{mfocus:" + Pairs(8) + "}", false},
      {"{mfocus:" + Pairs(10) + "}", true},  // only nine are read
      {"{mfocus:" + Pairs(8) + "1000;}", true},   // missing second number reads 0
      {"{mfocus:" + Pairs(8) + "1000,;}", true},
      {"{mfocus:" + Pairs(8) + "abc,90;}", false},
      {"{mfocus:" + Pairs(8) + ";}", false},
      {"{mfocus:" + Pairs(8) + "10,20,30;}", false},
      {"{mfocus:" + Pairs(8) + "10 20;}", false},
      {"{focus:" + Pairs(9) + "}", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseFocusText(c.text).has_value(), c.ok) << c.text;
  const auto big = ParseFocusText("mfocus:" + Pairs(8) + "99999999999,4294967296;");
  ASSERT_TRUE(big);
  EXPECT_EQ((*big)[8], (FocusPair{4294967295u, 4294967295u}));
  // Only the first 220 bytes count, as files are read.
  EXPECT_FALSE(ParseFocusText(std::string(200, ' ') + "{mfocus:" + Pairs(9)));
  EXPECT_EQ(FormatFocusText(DefaultFocusBase()), "{mfocus:" + Pairs(9) + "}");
  EXPECT_EQ(ParseFocusText(FormatFocusText(DefaultFocusBase())), DefaultFocusBase());
}

TEST(FocusModel, Evaluation) {
  FocusPairs base = DefaultFocusBase();
  FocusPairs report;
  report.fill({900, 7});
  FocusEvaluation e = EvaluateFocus(report, base);
  EXPECT_TRUE(e.pass);
  EXPECT_EQ(e.current[0], (FocusPair{900, 90}));
  report[4].first = 899;
  e = EvaluateFocus(report, base);
  EXPECT_FALSE(e.pass);
  EXPECT_EQ(e.current[4].second, 89u);
  EXPECT_FALSE(e.passing[4]);
  EXPECT_STREQ(FocusResultText(e.pass), "NG!!!");
  report[4].first = 5000;
  base[2].first = 0;  // never passes, keeps the reported second number
  e = EvaluateFocus(report, base);
  EXPECT_FALSE(e.pass);
  EXPECT_EQ(e.current[2], (FocusPair{900, 7}));
  EXPECT_EQ(e.current[4].second, 500u);
}

TEST(FocusModel, Requests) {
  FocusPairs base = DefaultFocusBase();
  base[8] = {4294967295u, 95};
  std::string expected = "<MANUAL_FOCUS_CMD CMD=\"START\">\n";
  for (int i = 0; i < 8; ++i) expected += "\t<RECT value=\"1000\" match=\"90\" />\n";
  expected += "\t<RECT value=\"2147483647\" match=\"95\" />\n</MANUAL_FOCUS_CMD>\n";
  EXPECT_EQ(BuildFocusStartRequest(base), expected);
  EXPECT_EQ(BuildFocusStopRequest(), "<MANUAL_FOCUS_CMD CMD=\"STOP\" />\n");
  EXPECT_EQ(FocusFieldValue("1200", 5), 1200u);
  EXPECT_EQ(FocusFieldValue("99999999999", 5), 4294967295u);
  EXPECT_EQ(FocusFieldValue("x", 5), 5u);
  EXPECT_EQ(FocusFieldValue("", 5), 5u);
}

TEST(FocusModel, ReferenceFolder) {
  const std::filesystem::path dir = std::filesystem::path(std::getenv("KELVARA_HOME")) / "mfocus";
  FocusReferenceFolder folder(dir);
  EXPECT_EQ(folder.ListSets(DefaultFocusBase()), (std::vector<std::string>{"default"}));
  std::ifstream in(dir / "mfocus_default.txt");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(text, "{mfocus:" + Pairs(9) + "}");

  FocusPairs mine = DefaultFocusBase();
  mine[3] = {1234, 80};
  EXPECT_TRUE(folder.Save("line 2", mine));
  EXPECT_EQ(folder.Load("line 2"), mine);
  EXPECT_EQ(folder.ListSets(DefaultFocusBase()), (std::vector<std::string>{"default", "line 2"}));
  for (const char* bad : {"", "../x", "a/b", ".hidden", "a\nb"}) {
    EXPECT_FALSE(folder.Save(bad, mine)) << bad;
    EXPECT_FALSE(folder.Load(bad)) << bad;
  }
  std::ofstream(dir / "mfocus_broken.txt") << "{mfocus:" << Pairs(8) << "}";
  EXPECT_FALSE(folder.Load("broken"));
  EXPECT_EQ(folder.ListSets(DefaultFocusBase()).size(), 3u);
}

TEST(TimeModel, ZoneTables) {
  ASSERT_EQ(TimeZonesFull().size(), 34u);
  EXPECT_EQ(TimeZonesFull().front().minutes, 0);
  EXPECT_EQ(TimeZonesFull().back().minutes, 720 + 780);
  const int bj = TimeZoneIndex(TimeZonesFull(), 1200);
  EXPECT_EQ(TimeZonesFull()[static_cast<std::size_t>(bj)].label, "(GMT+08:00)");
  EXPECT_EQ(TimeZonesFull()[static_cast<std::size_t>(TimeZoneIndex(TimeZonesFull(), 450))].label, "(GMT-04:30)");
  EXPECT_EQ(TimeZonesFor("zh-cn")[static_cast<std::size_t>(bj)].label.rfind("(GMT+08:00)", 0), 0u);
  EXPECT_GT(TimeZonesFor("zh-cn")[static_cast<std::size_t>(bj)].label.size(), 11u);
  EXPECT_EQ(TimeZonesFor("en-us")[static_cast<std::size_t>(bj)].label, "(GMT+08:00)");
  EXPECT_EQ(TimeZoneIndex(TimeZonesFull(), 1), -1);
}

TEST(TimeModel, TimeZoneFile) {
  const auto rules = ParseTimeZoneRules(
      "<tz>"
      "<item value=\"EST5EDT,M3.2.0/2,M11.1.0\">GMT-04:30(Caracas)</item>"
      "<item value=\"CET-1CEST,M3.5.0,M10.5.0/3\">GMT+01(Berlin)</item>"
      "<item value=\"XYZ\">GMT+08:00(Beijing)</item>"
      "<item value=\"\"></item>"
      "<item value=\"A,M1.1.1\">no paren</item>"
      "<other value=\"B,M1.1.1,M2.2.2\">GMT+09:00(x)</other>"
      "</tz>");
  ASSERT_EQ(rules.size(), 4u);
  EXPECT_EQ(rules[0].minutes, 450);
  EXPECT_TRUE(rules[0].hasRules);
  EXPECT_EQ(rules[0].start, (DstRule{3, 2, 0, 2}));
  EXPECT_EQ(rules[0].end, (DstRule{11, 1, 0, 0}));
  EXPECT_EQ(rules[1].minutes, 780);
  EXPECT_EQ(rules[1].end, (DstRule{10, 5, 0, 3}));
  EXPECT_EQ(rules[2].minutes, 1200);
  EXPECT_FALSE(rules[2].hasRules);
  EXPECT_EQ(rules[3].minutes, -1);
  EXPECT_EQ(RuleForZone(rules, 450), &rules[0]);
  EXPECT_EQ(RuleForZone(rules, 1200), nullptr);
  EXPECT_EQ(RuleForZone(rules, -1), nullptr);
  EXPECT_TRUE(ParseTimeZoneRules("not xml").empty());
  EXPECT_TRUE(LoadTimeZoneRules("/nonexistent/qox_tz.xml").empty());
}

// The zone file shipped next to the program: every item is one of the
// dialog's zones, once, with a start and an end rule; where the system's zone
// database is installed, each rule text equals the rule of the zone named in
// the item's brackets (the last line of its zone file), with the hour that
// the zone file leaves to its default of 2 written out.
TEST(TimeModel, ShippedZoneFileGivesEachZoneItsRules) {
  const std::filesystem::path file = paths::ProgramDir() / "qox_tz.xml";
  const auto rules = LoadTimeZoneRules(file);
  ASSERT_GE(rules.size(), 10u) << file;
  std::set<int> seen;
  for (const TimeZoneRule& r : rules) {
    EXPECT_NE(TimeZoneIndex(TimeZonesFull(), r.minutes), -1) << r.name;
    EXPECT_TRUE(seen.insert(r.minutes).second) << r.name << ": a second item for its zone is never used";
    EXPECT_TRUE(r.hasRules) << r.name;
    const auto open = r.name.find('('), close = r.name.find(')');
    ASSERT_TRUE(open != std::string::npos && close > open) << r.name;
    std::ifstream zone("/usr/share/zoneinfo/" + r.name.substr(open + 1, close - open - 1), std::ios::binary);
    if (!zone) continue;
    std::string content((std::istreambuf_iterator<char>(zone)), std::istreambuf_iterator<char>());
    while (!content.empty() && content.back() == '\n') content.pop_back();
    std::string expected, footer = content.substr(content.rfind('\n') + 1);
    for (std::size_t at = 0, next; at != std::string::npos; at = next) {
      next = footer.find(",M", at + 1);
      std::string part = footer.substr(at, next == std::string::npos ? std::string::npos : next - at);
      if (at > 0 && part.find('/') == std::string::npos) part += "/2";
      expected += part;
    }
    EXPECT_EQ(r.rule, expected) << r.name;
  }
  // What the dialog proposes for (GMT-08:00): the second Sunday of March to
  // the first Sunday of November, at 2:00 both.
  const TimeZoneRule* pacific = RuleForZone(rules, 720 - 480);
  ASSERT_NE(pacific, nullptr);
  EXPECT_EQ(pacific->start, (DstRule{3, 2, 0, 2}));
  EXPECT_EQ(pacific->end, (DstRule{11, 1, 0, 2}));
}

TEST(TimeModel, SaveChecksAndXml) {
  TimeSettings saved{"MANUAL", 1200, "pool.ntp.org", 123, 3600};
  EXPECT_EQ(TimeSourceIndex("MANUAL"), 1);
  EXPECT_EQ(TimeSourceIndex("P2P"), 2);
  EXPECT_EQ(TimeSourceIndex("what"), 0);
  TimeDialogInput in;
  in.source = 0;
  in.zoneIndex = TimeZoneIndex(TimeZonesFull(), 1200);
  in.server = " time.example.com ";
  in.port = "123";
  in.interval = "60";
  const struct {
    const char* port;
    const char* interval;
    const char* server;
    const char* key;
  } refusals[] = {
      {"0", "60", "a.com", "IDS_STR_ZH_CN_MSG_TIPS126"},      {"65536", "60", "a.com", "IDS_STR_ZH_CN_MSG_TIPS126"},
      {"abc", "60", "a.com", "IDS_STR_ZH_CN_MSG_TIPS126"},    {"1", "59", "a.com", "IDS_STR_ZH_CN_MSG_TIPS127"},
      {"1", "1000000", "a.com", "IDS_STR_ZH_CN_MSG_TIPS127"}, {"1", "60", "255.255.0.0", "IDS_STR_ZH_CN_MSG_TIPS128"},
      {"1", "60", "", "IDS_STR_ZH_CN_MSG_TIPS128"},
  };
  for (const auto& c : refusals) {
    TimeDialogInput bad = in;
    bad.port = c.port;
    bad.interval = c.interval;
    bad.server = c.server;
    EXPECT_STREQ(BuildTimeConfig(saved, bad, TimeZonesFull()).errorKey, c.key) << c.port << c.interval << c.server;
  }
  TimeDialogInput longName = in;
  longName.server = std::string(60, 'a') + ".com";
  EXPECT_STREQ(BuildTimeConfig(saved, longName, TimeZonesFull()).errorKey, "IDS_STR_ZH_CN_MSG_TIPS128");

  in.dstEnable = true;
  in.dstOffset = 60;
  in.start = {3, 2, 0, 2};
  in.end = {11, 1, 0, 0};
  TimeDialogResult r = BuildTimeConfig(saved, in, TimeZonesFull());
  ASSERT_EQ(r.errorKey, nullptr);
  EXPECT_EQ(r.settings, (TimeSettings{"NTP", 1200, "time.example.com", 123, 60}));
  EXPECT_EQ(r.xml,
            "<TimeConfig TimeMode=\"NTP\" TimeZone=\"1200\">\n"
            "\t<NTPConfig ServerIP=\"time.example.com\" ServerPort=\"123\" RefreshInterval=\"60\" />\n"
            "\t<SummerTime enable=\"1\" auto=\"0\" offset=\"60\">\n"
            "\t\t<start month=\"3\" week=\"2\" weekday=\"0\" hour=\"2\" />\n"
            "\t\t<end month=\"11\" week=\"1\" weekday=\"0\" hour=\"0\" />\n"
            "\t</SummerTime>\n</TimeConfig>\n");

  // Hidden NTP fields never block Save outside NTP mode; they keep the saved values.
  TimeDialogInput manual = in;
  manual.source = 2;
  manual.port = "0";
  manual.interval = "x";
  manual.server = "";
  manual.zoneIndex = -1;
  r = BuildTimeConfig(saved, manual, TimeZonesFull());
  ASSERT_EQ(r.errorKey, nullptr);
  EXPECT_EQ(r.settings, (TimeSettings{"P2P", 0, "pool.ntp.org", 123, 3600}));
}

}  // namespace
}  // namespace kelvara::dialogs
