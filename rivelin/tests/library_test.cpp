// The shared library as a caller sees it: exactly the 14 C exports, usable
// through dlopen; and the library's own debug log.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include "debug_util.h"
#include "kelvara_test/test_env.h"
#include "media_fixtures.h"
#include "rivelin.h"
#include "rivelin_paths.h"
#include "writer_helpers.h"

namespace rivelin::test {
namespace {

const char* const kExports[] = {
    "MP4Create",   "MP4Create_aac",       "WriteMP4Data",    "MP4Close",
    "MP4CreatePlayer", "MP4LoadFile",     "MP4GetFileTimes", "MP4GetFileFrameCount",
    "MP4ChangeSec", "MP4SetSpeed",        "MP4Pause",        "MP4StopPlay",
    "MP4SetPlayFramerate", "MP4DeletePlayer"};

TEST(LibraryTest, ExportsExactlyTheFourteenFunctions) {
  const auto lib = kelvara::test::BinDir() / "librivelin.so";
  ASSERT_TRUE(std::filesystem::exists(lib)) << lib;
  std::istringstream names(
      RunCommand("nm -D --defined-only '" + lib.string() + "' | awk '{print $3}'"));
  std::vector<std::string> exported;
  for (std::string n; std::getline(names, n);)
    if (!n.empty() && n.rfind("_", 0) != 0) exported.push_back(n);
  std::vector<std::string> expected(std::begin(kExports), std::end(kExports));
  std::sort(exported.begin(), exported.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(exported, expected);
  const std::string other = RunCommand("nm -D --defined-only '" + lib.string() +
                                       "' | awk '{print $3}' | grep -c '^_' || true");
  EXPECT_EQ(std::stoi(other), 0);

  // Load it as a program would and write a file through it.
  void* so = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(so, nullptr) << dlerror();
  for (const char* name : kExports) EXPECT_NE(dlsym(so, name), nullptr) << name;
  auto create = reinterpret_cast<decltype(&MP4Create)>(dlsym(so, "MP4Create"));
  auto write = reinterpret_cast<decltype(&WriteMP4Data)>(dlsym(so, "WriteMP4Data"));
  auto close = reinterpret_cast<decltype(&MP4Close)>(dlsym(so, "MP4Close"));
  auto times = reinterpret_cast<decltype(&MP4GetFileTimes)>(dlsym(so, "MP4GetFileTimes"));
  const auto aus = VideoFixture(false);
  const auto path = kelvara::test::MakeTempDir("so") / "so.mp4";
  MP4_VIDEO_PARAM v = VideoParam("H.264", 160, 120, 25);
  const long h = create(const_cast<char*>(path.c_str()), &v, nullptr, 60);
  ASSERT_GT(h, 0);
  for (size_t i = 0; i < aus.size(); ++i)
    ASSERT_EQ(write(h, 1, const_cast<uint8_t*>(aus[i].data.data()), aus[i].data.size(),
                    aus[i].key, 40.0 * static_cast<double>(i + 1)),
              0);
  EXPECT_EQ(close(h), 0);
  EXPECT_EQ(times(const_cast<char*>(path.c_str())), 2);
  dlclose(so);
  EXPECT_EQ(DecodeErrors(path), "");
}

void WriteConfig(const std::string& text) {
  const auto dir = paths::ConfigDir();
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "player_dbg.cfg") << text;
}

void RemoveConfig() {
  std::filesystem::remove(paths::ConfigDir() / "player_dbg.cfg");
  DebugInitLoad();
}

TEST(DebugLogTest, OffWithoutConfiguration) {
  RemoveConfig();
  EXPECT_EQ(DebugLog("f", "m", 1, nullptr, "hello %d", 1), -1);
  EXPECT_FALSE(std::filesystem::exists(paths::DataDir()) &&
               !std::filesystem::is_empty(paths::DataDir()));
}

TEST(DebugLogTest, FilesNamedByDateAndLoadTimeRollOverAtMidnight) {
  const auto dir = kelvara::test::MakeTempDir("log") / "logs";
  time_t now = 1700000000;  // fixed clock
  debug::SetClockForTest([&] { return now; });
  WriteConfig("level=3;file=1;showfileline=1;debugfilepath=" + dir.string() + ";");
  DebugInitLoad();
  struct tm tmv;
  localtime_r(&now, &tmv);
  char expected[128];
  snprintf(expected, sizeof expected, "Rivelin_%04d%02d%02d_%02d%02d%02d_0.log", tmv.tm_year + 1900,
           tmv.tm_mon + 1, tmv.tm_mday, tmv.tm_hour, tmv.tm_min, tmv.tm_sec);
  EXPECT_EQ(DebugLog("Fn", "emp4_muxer", 42, nullptr, "line %s", "one"), 0);
  std::ifstream in(dir / expected);
  ASSERT_TRUE(in) << expected;
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("line one"), std::string::npos);
  EXPECT_NE(text.str().find("fun=Fn,file:emp4_muxer,line:42"), std::string::npos);
  EXPECT_EQ(text.str().rfind("Rivelin:", 0), 0u);
  // The next day the next line goes to a new file, index 0.
  now += 24 * 3600;
  EXPECT_EQ(DebugLog("Fn", "m", 1, nullptr, "next day"), 0);
  localtime_r(&now, &tmv);
  size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    ++files;
    EXPECT_NE(e.path().filename().string().find("_0.log"), std::string::npos);
  }
  EXPECT_EQ(files, 2u);
  debug::SetClockForTest(nullptr);
  RemoveConfig();
}

// The monitor datagram to port 3000 goes to the configured address. Runs in a
// network namespace of its own, so nothing leaves the machine and no other
// test's port 3000 is touched.
TEST(DebugLogTest, SendsDatagramsToTheMonitor) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (unshare(CLONE_NEWNET) != 0) _exit(77);
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq ifr{};
    std::strcpy(ifr.ifr_name, "lo");
    ifr.ifr_flags = IFF_UP | IFF_LOOPBACK | IFF_RUNNING;
    if (ioctl(s, SIOCSIFFLAGS, &ifr) != 0) _exit(77);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(3000);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) _exit(2);
    timeval tv{2, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    WriteConfig("network=1;monitor_ip=127.0.0.1;");
    DebugInitLoad();
    char buf[2048];
    // The load line comes first; then ours.
    if (DebugLog("Fn", "m", 7, nullptr, "to monitor %d", 5) != 0) _exit(3);
    for (int i = 0; i < 4; ++i) {
      const ssize_t n = recv(s, buf, sizeof buf - 1, 0);
      if (n <= 0) _exit(4);
      buf[n] = '\0';
      if (std::strstr(buf, "to monitor 5")) _exit(0);
    }
    _exit(5);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no network namespace available";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace rivelin::test
