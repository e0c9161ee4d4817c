// The .xls reader child's confinement, seen from inside a confined child:
// what it may still do (read files, map a little memory, report through its
// pipe) and what it may not (write or create files, open sockets, start
// processes, map more than its allowance, reach the parent's descriptors).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

#include "discovery/core/reader_sandbox.h"
#include "kelvara_test/test_env.h"

namespace kelvara::discovery {
namespace {

// "ok" or the errno's name of a call's outcome.
const char* Outcome(bool ok) {
  if (ok) return "ok";
  return errno == EPERM ? "EPERM" : errno == ENOMEM ? "ENOMEM" : errno == EBADF ? "EBADF" : "other";
}

TEST(ReaderSandbox, ConfinedChildOnlyReadsAndReports) {
  const auto dir = kelvara::test::MakeTempDir("sandbox");
  const std::string existing = (dir / "in.xls").string();
  std::ofstream(existing) << "workbook";
  const std::string created = (dir / "new.txt").string();
  int pipefd[2];
  ASSERT_EQ(::pipe(pipefd), 0);
  const int parentFd = ::open(existing.c_str(), O_RDONLY);  // a descriptor the child must not keep
  ASSERT_GE(parentFd, 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(pipefd[0]);
    const int report = ConfineReaderChild(pipefd[1], ReaderLimits{64ull << 20, 10});
    if (report < 0) _exit(3);
    std::string out;
    const auto note = [&](const char* what, bool ok) { out += std::string(what) + "=" + Outcome(ok) + " "; };
    // Before any open here, which could take the same number.
    note("inherited", ::fcntl(parentFd, F_GETFD) >= 0);
    char buffer[16] = {};
    const int in = ::open(existing.c_str(), O_RDONLY);
    note("read", in >= 0 && ::read(in, buffer, 8) == 8 && std::memcmp(buffer, "workbook", 8) == 0);
    note("create", ::open(created.c_str(), O_WRONLY | O_CREAT, 0644) >= 0);
    note("write", ::open(existing.c_str(), O_RDWR) >= 0);
    note("socket", ::socket(AF_INET, SOCK_DGRAM, 0) >= 0);
    const pid_t child = ::fork();
    if (child == 0) _exit(0);
    note("fork", child > 0);
    void* small = ::mmap(nullptr, 8u << 20, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    note("map8M", small != MAP_FAILED);
    void* large = ::mmap(nullptr, 256u << 20, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    note("map256M", large != MAP_FAILED);
    if (::write(report, out.data(), out.size()) != static_cast<ssize_t>(out.size())) _exit(4);
    _exit(0);
  }
  ::close(pipefd[1]);
  ::close(parentFd);
  std::string got;
  char buffer[512];
  for (ssize_t n; (n = ::read(pipefd[0], buffer, sizeof buffer)) > 0;) got.append(buffer, static_cast<std::size_t>(n));
  ::close(pipefd[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(got,
            "inherited=EBADF read=ok create=EPERM write=EPERM socket=EPERM fork=EPERM map8M=ok map256M=ENOMEM ");
  EXPECT_FALSE(std::ifstream(created).good());
}

}  // namespace
}  // namespace kelvara::discovery
