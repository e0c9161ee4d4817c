#include "common/debug_log.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <optional>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "common/device_reply_xml.h"
#include "common/paths.h"
#include "common/xml_guard.h"

namespace kelvara {
namespace {

std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::filesystem::path> LogFiles() {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(DebugLogGetFolder(), ec)) {
    if (e.path().extension() == ".log") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

size_t CountLines(const std::string& s) { return static_cast<size_t>(std::count(s.begin(), s.end(), '\n')); }

class DebugLogTest : public ::testing::Test {
 protected:
  void SetUp() override { Clean(); }
  void TearDown() override {
    DebugLogRelease();
    debug_log_testing::SetLocalTime(nullptr);
    Clean();
  }
  static void Clean() {
    std::error_code ec;
    std::filesystem::remove_all(DebugLogGetFolder(), ec);
    std::filesystem::remove(DebugLogConfigPath(), ec);
  }
  static void WriteConfig(const std::string& text) {
    std::filesystem::create_directories(DebugLogConfigPath().parent_path());
    std::ofstream(DebugLogConfigPath(), std::ios::binary) << text;
  }
};

// A UDP receiver on port 3000 of the loopback address. Root gets a network
// namespace of its own for the calling thread, so parallel tests never
// compete for the port; otherwise the machine's loopback is used.
class Monitor {
 public:
  bool Open() {
    if (unshare(CLONE_NEWNET) == 0) {
      const int s = socket(AF_INET, SOCK_DGRAM, 0);
      ifreq ifr{};
      std::strcpy(ifr.ifr_name, "lo");
      ifr.ifr_flags = IFF_UP | IFF_LOOPBACK | IFF_RUNNING;
      ioctl(s, SIOCSIFFLAGS, &ifr);
      close(s);
    }
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(kDebugLogMonitorPort);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval tv{0, 300000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    return bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
  }
  ~Monitor() {
    if (fd_ >= 0) close(fd_);
  }
  // One datagram, or nullopt after 300 ms.
  std::optional<std::string> Receive() {
    char buf[65536];
    const ssize_t n = recv(fd_, buf, sizeof(buf), 0);
    if (n < 0) return std::nullopt;
    return std::string(buf, static_cast<size_t>(n));
  }

 private:
  int fd_ = -1;
};

// Runs fn on a thread of its own (whose network namespace the monitor may change).
template <class F>
void OnOwnThread(F fn) {
  std::thread(fn).join();
}

TEST(DebugLogConfigParse, KeysValuesAndDefaults) {
  struct Case {
    const char* text;
    DebugLogConfig want;
  } cases[] = {
      {"file=1;network=0;", {1, 0, 0, ""}},
      {"network=1;\r\nmonitor_ip=192.168.1.20;\nlevel=3;", {0, 1, 3, "192.168.1.20"}},
      {"file=1", {0, 0, 0, ""}},  // no ';': keeps file output off
      {"level=5", {0, 0, 10, ""}},  // no ';': keeps the level at 10
      {"xx level=  -7; junk file= 2x;", {2, 0, -7, ""}},
      {"file=;network=abc;", {0, 0, 0, ""}},
      {"monitor_ip=1234567890123456789012345678901.2;", {0, 0, 0, ""}},  // 33 characters: ignored
      {"File=1;", {0, 0, 0, ""}},  // keys are case-sensitive
      {"file=1;file=0;", {1, 0, 0, ""}},  // first occurrence
      {"", {0, 0, 0, ""}},
  };
  for (const auto& c : cases) {
    DebugLogConfig got;
    EXPECT_EQ(DebugLogParseConfig(c.text, got), 0);
    EXPECT_EQ(got.file, c.want.file) << c.text;
    EXPECT_EQ(got.network, c.want.network) << c.text;
    EXPECT_EQ(got.level, c.want.level) << c.text;
    EXPECT_EQ(got.monitor_ip, c.want.monitor_ip) << c.text;
  }
  DebugLogConfig big;
  EXPECT_EQ(DebugLogParseConfig("file=" + std::string(256, '1') + ";", big), 0);
  EXPECT_EQ(big.file, 0);  // a value of more than 255 characters is ignored
  DebugLogParseConfig("file=" + std::string(30, '9') + ";", big);
  EXPECT_EQ(big.file, INT_MAX);
}

TEST_F(DebugLogTest, WithoutConfigNothingIsWrittenOrSent) {
  Monitor monitor;
  OnOwnThread([&] {
    const bool bound = monitor.Open();
    DebugLogInit();
    EXPECT_EQ(DebugLogPrintf("hello %d\n", 1), 0);
    if (bound) {
      EXPECT_FALSE(monitor.Receive());
    }
  });
  EXPECT_TRUE(LogFiles().empty());
  EXPECT_EQ(DebugLogPrintf("before init or after release %s\n", "is fine"), 0);
}

TEST_F(DebugLogTest, FileOutputWritesNamedFileWithFormattedLines) {
  WriteConfig("file=1;network=0;");
  Monitor monitor;
  OnOwnThread([&] {
    const bool bound = monitor.Open();
    DebugLogInit();
    EXPECT_EQ(DebugLogPrintf("value %d\n", 42), 0);
    if (bound) {
      EXPECT_FALSE(monitor.Receive()) << "file-only output sent a datagram";
    }
  });
  const auto files = LogFiles();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(std::regex_match(files[0].filename().string(), std::regex(R"(DoDuzUdodo_\d{8}_\d{6}_0\.log)")))
      << files[0];
  const std::string text = ReadAll(files[0]);
  EXPECT_TRUE(std::regex_search(text, std::regex(R"(^DoDuzUdodo: \d{4}-\d\d-\d\d \d\d:\d\d:\d\d: [0-9a-f]{8}: Build )")))
      << text;
  EXPECT_TRUE(std::regex_search(
      text, std::regex(R"(\nDoDuzUdodo: \d{4}-\d\d-\d\d \d\d:\d\d:\d\d: [0-9a-f]{8}: value 42\n$)")))
      << text;
}

// A device reply too deep for TinyXML is dropped with a line that counts the refusals.
TEST_F(DebugLogTest, RefusedDeviceRepliesAreCountedInTheLog) {
  WriteConfig("file=1;network=0;");
  DebugLogInit();
  std::string deep;
  for (int i = 0; i < 50'000; ++i) deep += "<a>";
  TiXmlDocument doc;
  EXPECT_TRUE(ParseDeviceReplyXml(doc, "<RESPONSE_PARAM Result=\"0\"/>", "Device reply"));
  EXPECT_FALSE(ParseDeviceReplyXml(doc, deep, "Device reply"));
  const std::uint64_t first = XmlRefusedCount();
  EXPECT_FALSE(ParseDeviceReplyXml(doc, deep, "Storage reply"));
  DebugLogRelease();
  const auto files = LogFiles();
  ASSERT_EQ(files.size(), 1u);
  const std::string text = ReadAll(files[0]);
  EXPECT_NE(text.find("Device reply of 150000 bytes dropped: the XML nests deeper than 128 elements (" +
                      std::to_string(first) + " XML texts refused)\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Storage reply of 150000 bytes dropped: the XML nests deeper than 128 elements (" +
                      std::to_string(first + 1) + " XML texts refused)\n"),
            std::string::npos)
      << text;
}

TEST_F(DebugLogTest, NetworkOutputSendsOneDatagramPerLine) {
  for (const char* config : {"network=1;", "network=1;monitor_ip=127.0.0.1;"}) {
    WriteConfig(config);
    Monitor monitor;
    OnOwnThread([&] {
      if (!monitor.Open()) GTEST_SKIP() << "UDP port 3000 is in use on this machine";
      DebugLogInit();
      auto build = monitor.Receive();
      ASSERT_TRUE(build) << config;
      EXPECT_NE(build->find(": Build "), std::string::npos);
      EXPECT_EQ(DebugLogPrintf("line %s\n", "two"), 0);
      auto line = monitor.Receive();
      ASSERT_TRUE(line);
      EXPECT_TRUE(std::regex_match(*line, std::regex(R"(DoDuzUdodo: [-0-9 :]{19}: [0-9a-f]{8}: line two\n)"))) << *line;
      DebugLogRelease();
    });
    EXPECT_TRUE(LogFiles().empty());
  }
}

TEST_F(DebugLogTest, BadMonitorAddressReportsFailure) {
  WriteConfig("network=1;monitor_ip=not.an.address;");
  DebugLogInit();
  EXPECT_EQ(DebugLogPrintf("x\n"), -1);
}

TEST_F(DebugLogTest, LongMessageIsCutToOneLine) {
  WriteConfig("file=1;");
  DebugLogInit();
  DebugLogPrintf("%s\n", std::string(20000, 'x').c_str());
  const auto files = LogFiles();
  ASSERT_EQ(files.size(), 1u);
  const std::string text = ReadAll(files[0]);
  const size_t second = text.find('\n') + 1;
  EXPECT_EQ(text.size() - second, kDebugLogMaxLine);
  EXPECT_EQ(text.back(), 'x');
}

TEST_F(DebugLogTest, RotatesAfter20000LinesAndAtMidnight) {
  static std::tm fake{};
  fake.tm_year = 126;
  fake.tm_mon = 9;
  fake.tm_mday = 28;
  fake.tm_hour = 23;
  fake.tm_min = 59;
  fake.tm_sec = 58;
  debug_log_testing::SetLocalTime([] { return fake; });
  WriteConfig("file=1;");
  DebugLogInit();  // the Build line is line 1 of file 0
  for (int i = 2; i <= kDebugLogLinesPerFile; ++i) DebugLogPrintf("line %d\n", i);
  const auto first = debug_log_testing::CurrentFile();
  EXPECT_EQ(first.filename(), "DoDuzUdodo_20261028_235958_0.log");
  DebugLogPrintf("line %d\n", kDebugLogLinesPerFile + 1);  // starts file 1
  EXPECT_EQ(debug_log_testing::CurrentFile().filename(), "DoDuzUdodo_20261028_235958_1.log");
  EXPECT_EQ(CountLines(ReadAll(first)), static_cast<size_t>(kDebugLogLinesPerFile));

  fake.tm_mday = 29;
  fake.tm_hour = 0;
  fake.tm_min = 0;
  fake.tm_sec = 1;
  DebugLogPrintf("after midnight\n");
  const auto next_day = debug_log_testing::CurrentFile();
  EXPECT_EQ(next_day.filename(), "DoDuzUdodo_20261029_235958_0.log");
  EXPECT_EQ(ReadAll(next_day).find("2026-10-29 00:00:01"), 12u);
  EXPECT_EQ(LogFiles().size(), 3u);
}

TEST_F(DebugLogTest, TotalSizeOfTheLogFilesIsBounded) {
  WriteConfig("file=1;");
  const auto folder = DebugLogGetFolder();
  std::filesystem::create_directories(folder);
  // A large file of an earlier run and a file that is not the logger's.
  std::ofstream(folder / "DoDuzUdodo_20260101_000000_0.log") << std::string(5000, 'o');
  std::ofstream(folder / "keep.txt") << std::string(5000, 'k');
  debug_log_testing::SetSizeLimits(1000, 4000);
  DebugLogInit();
  std::uintmax_t most = 0;
  for (int i = 0; i < 500; ++i) {
    DebugLogPrintf("line %04d %s\n", i, std::string(40, 'x').c_str());
    std::uintmax_t total = 0;
    for (const auto& f : LogFiles()) total += std::filesystem::file_size(f);
    most = std::max(most, total);
  }
  debug_log_testing::SetSizeLimits(0, 0);
  EXPECT_LE(most, 4000u);
  const auto files = LogFiles();
  ASSERT_GE(files.size(), 2u);
  for (const auto& f : files) {
    EXPECT_LE(std::filesystem::file_size(f), 1000u) << f;
    EXPECT_NE(f.filename(), "DoDuzUdodo_20260101_000000_0.log");
  }
  EXPECT_TRUE(std::filesystem::exists(folder / "keep.txt"));
  // The newest lines are kept; the oldest went first.
  EXPECT_NE(ReadAll(debug_log_testing::CurrentFile()).find("line 0499 "), std::string::npos);
}

TEST_F(DebugLogTest, ThreadsLoggingThroughReleaseAndInitStaySafeAndLinesStayWhole) {
  WriteConfig("file=1;");
  DebugLogInit();
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000 && !stop; ++i) DebugLogPrintf("thread %d line %d %s\n", t, i, "payload");
    });
  }
  for (int i = 0; i < 20; ++i) {
    DebugLogRelease();
    DebugLogInit();
  }
  for (auto& th : threads) th.join();
  DebugLogRelease();
  for (const auto& f : LogFiles()) {
    std::ifstream in(f);
    std::string line;
    while (std::getline(in, line)) {
      ASSERT_TRUE(line.rfind("DoDuzUdodo: ", 0) == 0) << line;
      ASSERT_TRUE(line.find(": Build ") != std::string::npos || line.find(" payload") != std::string::npos) << line;
    }
  }
}

}  // namespace
}  // namespace kelvara
