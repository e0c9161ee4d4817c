#include "common/process_functions.h"

#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

namespace kelvara {
namespace {

namespace fs = std::filesystem;

// A copy of sleep under a name no other process has, in a folder every user
// may enter.
class HelperProgram {
 public:
  HelperProgram() {
    char tmpl[] = "/tmp/kvt-kill-XXXXXX";
    dir_ = mkdtemp(tmpl);
    chmod(dir_.c_str(), 0755);
    name_ = "KvtHelper" + std::to_string(getpid());
    fs::copy_file("/bin/sleep", dir_ / name_);
    chmod((dir_ / name_).c_str(), 0755);
  }
  ~HelperProgram() { fs::remove_all(dir_); }
  const std::string& name() const { return name_; }

  // Starts it (optionally as user nobody); the child's pid.
  pid_t Start(bool as_nobody = false) {
    const pid_t pid = fork();
    if (pid == 0) {
      if (as_nobody && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
      const std::string path = (dir_ / name_).string();
      execl(path.c_str(), name_.c_str(), "20", static_cast<char*>(nullptr));
      _exit(4);
    }
    // Wait until the exec happened, so the process carries the name.
    for (int i = 0; i < 400; ++i) {
      std::error_code ec;
      if (fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec).filename() == name_) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return pid;
  }

 private:
  fs::path dir_;
  std::string name_;
};

// Reaps a child; true when it was ended by a signal.
bool WasKilled(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFSIGNALED(status);
}

TEST(KillProcessByName, EndsOwnProcessMatchedWithoutCaseOrExe) {
  HelperProgram helper;
  const pid_t pid = helper.Start();
  std::string upper = helper.name();
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(KillProcessByName(upper + ".exe"), 1);
  EXPECT_TRUE(WasKilled(pid));
  EXPECT_EQ(KillProcessByName(helper.name()), 0);  // none left
  EXPECT_EQ(KillProcessByName(""), 0);
}

TEST(KillProcessByName, NeverEndsAnotherUsersProcess) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to start a process as another user";
  HelperProgram helper;
  const pid_t other = helper.Start(/*as_nobody=*/true);
  EXPECT_EQ(KillProcessByName(helper.name()), 0);
  const pid_t mine = helper.Start();
  EXPECT_EQ(KillProcessByName(helper.name()), 1);
  EXPECT_TRUE(WasKilled(mine));
  EXPECT_EQ(kill(other, 0), 0) << "another user's process was ended";
  kill(other, SIGKILL);
  waitpid(other, nullptr, 0);
}

// A login holds two descriptors: a list of a thousand devices must not stop
// at the soft limit a desktop session starts programs with.
TEST(RaiseOpenFileLimit, TakesTheHardLimitSoManyDescriptorsOpen) {
  rlimit r{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &r), 0);
  if (r.rlim_max != RLIM_INFINITY && r.rlim_max < 2048) GTEST_SKIP() << "hard limit below 2048";
  rlimit low = r;
  low.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  EXPECT_EQ(RaiseOpenFileLimit(), static_cast<unsigned long>(r.rlim_max));
  std::vector<int> fds;
  for (int i = 0; i < 1500; ++i) {
    const int fd = dup(0);
    if (fd < 0) break;
    fds.push_back(fd);
  }
  EXPECT_EQ(fds.size(), 1500u);
  for (int fd : fds) close(fd);
  setrlimit(RLIMIT_NOFILE, &r);
}

}  // namespace
}  // namespace kelvara
