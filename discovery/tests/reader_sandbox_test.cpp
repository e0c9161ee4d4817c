// The .xls reader child's confinement, attempted from inside a confined child
// run by an ordinary user (nobody, when the tests run as root): what it may
// still do (read the file it was given, map a little memory, report through
// its pipe), what is refused (opening anything else, the parent's memory
// included), and the calls that end it (signal ownership of its pipe,
// sockets, processes, signals).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <linux/futex.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "discovery/core/device_import.h"
#include "discovery/core/device_sheet.h"
#include "discovery/core/reader_sandbox.h"
#include "discovery/tests/child_process.h"
#include "kelvara_test/test_env.h"

namespace kelvara::discovery {
namespace {

// "ok" or the errno's name of a call's outcome.
const char* SandboxOutcome(bool ok) {
  if (ok) return "ok";
  switch (errno) {
    case EACCES: return "EACCES";
    case EPERM: return "EPERM";
    case ENOMEM: return "ENOMEM";
    case EBADF: return "EBADF";
    case ENOENT: return "ENOENT";
    default: return "other";
  }
}

// How a confined child ended, and what it reported.
std::string SandboxEnding(const ConfinedRun& run) {
  if (!run.error.empty()) return run.error;
  if (!run.exited) return run.status == SIGSYS ? "SIGSYS" : "signal " + std::to_string(run.status);
  return "exit " + std::to_string(run.status) + ": " + run.report;
}

// Runs `body` in a forked process of an ordinary user and returns what it
// returned. The process stays dumpable, as a program the user started is:
// the user's other processes may read its memory.
std::string AsOrdinaryUser(const std::function<std::string()>& body) {
  return test_process::Run(body, [] {
    if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
      return false;
    ::prctl(PR_SET_DUMPABLE, 1);
    return true;
  });
}

// A folder of the ordinary user's own, removed when the object goes.
struct UserFolder {
  std::filesystem::path path;
  UserFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kelvara-sandbox-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path = pattern;
  }
  ~UserFolder() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
  }
};

// Whether an ordinary user may make a user and mount namespace here (the
// mount-namespace confinement needs it).
bool UserNamespacesWork() {
  return AsOrdinaryUser([] { return std::string(test_process::UserNamespacesWork() ? "yes" : "no"); }) == "yes";
}

bool NamespacesForOrdinaryUser() {
  static const bool work = UserNamespacesWork();
  return work;
}

// The ways of confining a child this system offers.
std::vector<ReaderAccess::Means> AvailableMeans() {
  std::vector<ReaderAccess::Means> means;
  const bool namespaces = NamespacesForOrdinaryUser();
  if (LandlockAbi() >= 1 || namespaces) means.push_back(ReaderAccess::Means::kBest);
  if (namespaces) means.push_back(ReaderAccess::Means::kMountNamespace);
  if (LandlockAbi() >= 1) means.push_back(ReaderAccess::Means::kLandlock);
  if (LandlockAbi() < 1 || !namespaces)
    std::printf("note: Landlock ABI %d, user namespaces %s: some confinements not tested\n", LandlockAbi(),
                namespaces ? "work" : "refused");
  return means;
}

// Whether other paths do not exist for a child confined by `means`.
bool PathsHidden(ReaderAccess::Means means) {
  return means == ReaderAccess::Means::kMountNamespace ||
         (means == ReaderAccess::Means::kBest && NamespacesForOrdinaryUser());
}

// What the parent holds that the child must not see.
const char gParentSecret[] = "device password 7f3a";

// Landlock refuses other opens (EACCES); in a private mount namespace other
// paths do not exist (ENOENT), so not even their size and owner can be
// learnt (newfstatat on a path): under Landlock alone they can. Opens for
// writing and O_PATH opens (whose descriptor fstat would describe) are
// refused either way.
TEST(ReaderSandbox, ConfinedChildOpensOnlyTheFilesItWasGiven) {
  const std::string modules = CodePageModuleDirectory();
  ASSERT_FALSE(modules.empty());
  for (const auto means : AvailableMeans()) {
    const std::string got = AsOrdinaryUser([&] {
      UserFolder dir;
      const std::string given = (dir.path / "in.xls").string(), other = (dir.path / "other.txt").string();
      std::ofstream(given) << "workbook";
      std::ofstream(other) << "user file";
      // Not close-on-exec, yet the child must not keep it; above the numbers the child keeps.
      const int inherited = ::fcntl(::open(given.c_str(), O_RDONLY), F_DUPFD, 20);
      ReaderAccess access;
      access.readable = {given, modules};
      access.means = means;
      const pid_t parent = ::getpid();
      const ConfinedRun run = RunConfined(
          access,
          [&] {
            std::string out;
            const auto note = [&](const char* what, bool ok) { out += std::string(what) + "=" + SandboxOutcome(ok) + " "; };
            // Before any open here, which could take the same number.
            note("inherited", ::fcntl(inherited, F_GETFD) >= 0);
            char buffer[32] = {};
            const int in = ::open(given.c_str(), O_RDONLY);
            note("given", in >= 0 && ::read(in, buffer, 8) == 8 && std::memcmp(buffer, "workbook", 8) == 0);
            note("module", ::open((modules + "/CP1252.so").c_str(), O_RDONLY) >= 0);
            note("other", ::open(other.c_str(), O_RDONLY) >= 0);
            struct stat st{};
            note("stat", ::syscall(SYS_newfstatat, AT_FDCWD, other.c_str(), &st, 0) == 0);
            note("opath", ::open(other.c_str(), O_PATH) >= 0);
            const std::string mem = "/proc/" + std::to_string(parent) + "/mem";
            const int fd = ::open(mem.c_str(), O_RDONLY);
            note("parentmem", fd >= 0 && ::pread(fd, buffer, sizeof gParentSecret,
                                                 static_cast<off_t>(reinterpret_cast<std::uintptr_t>(gParentSecret))) ==
                                             static_cast<ssize_t>(sizeof gParentSecret));
            note("passwd", ::open("/etc/passwd", O_RDONLY) >= 0);
            note("create", ::open((dir.path / "new.txt").c_str(), O_WRONLY | O_CREAT, 0644) >= 0);
            note("write", ::open(given.c_str(), O_RDWR) >= 0);
            void* small = ::mmap(nullptr, 8u << 20, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            note("map8M", small != MAP_FAILED);
            void* large = ::mmap(nullptr, 256u << 20, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            note("map256M", large != MAP_FAILED);
            return out;
          },
          4096, 20000, ReaderLimits{64ull << 20, 10});
      ::close(inherited);
      return SandboxEnding(run) + (std::filesystem::exists(dir.path / "new.txt") ? "created" : "");
    });
    const std::string refused = PathsHidden(means) ? "ENOENT" : "EACCES";
    EXPECT_EQ(got, "exit 0: inherited=EBADF given=ok module=ok other=" + refused +
                       " stat=" + (PathsHidden(means) ? "ENOENT" : "ok") + " opath=EACCES parentmem=" + refused +
                       " passwd=" + refused + " create=EACCES write=EACCES map8M=ok map256M=ENOMEM ")
        << "means " << static_cast<int>(means);
  }
}

// Each call the reader never makes ends the child; none of them reaches
// past it first. The pipe case: with its report pipe's owner set to another
// process of the user, SIGKILL as its I/O signal and O_ASYNC, the kernel
// would kill that process when the parent reads the pipe.
TEST(ReaderSandbox, ForbiddenCallsEndTheChild) {
  const auto available = AvailableMeans();
  ASSERT_FALSE(available.empty());
  const std::string got = AsOrdinaryUser([&] {
    const pid_t self = ::getpid();
    const pid_t victim = ::fork();
    if (victim == 0) {
      for (;;) ::pause();
    }
    struct Attempt {
      const char* name;
      std::function<void()> call;
    } attempts[] = {
        {"pipe signals",
         [&] {
           ::fcntl(kReaderReportFd, F_SETOWN, victim);
           ::fcntl(kReaderReportFd, F_SETSIG, SIGKILL);
           ::fcntl(kReaderReportFd, F_SETFL, ::fcntl(kReaderReportFd, F_GETFL) | O_ASYNC);
         }},
        {"async", [] { ::fcntl(kReaderReportFd, F_SETFL, O_ASYNC); }},
        {"dup", [] { ::fcntl(kReaderReportFd, F_DUPFD, 5); }},
        {"socket", [] { ::socket(AF_UNIX, SOCK_STREAM, 0); }},
        {"fork", [] { ::fork(); }},
        {"kill", [&] { ::kill(self, SIGTERM); }},
        {"exec", [] { ::execl("/bin/true", "true", nullptr); }},
    };
    std::string out;
    for (const auto& a : attempts)
      for (const auto means : available) {
        ReaderAccess access;
        access.means = means;
        const ConfinedRun run = RunConfined(
            access,
            [&] {
              a.call();
              return std::string(4096, 'x');
            },
            1u << 20, 20000, ReaderLimits{64ull << 20, 10});
        out += std::string(a.name) + "=" + SandboxEnding(run).substr(0, 12) + " ";
      }
    int status = 0;
    out += ::waitpid(victim, &status, WNOHANG) == 0 ? "victim alive" : "victim ended";
    ::kill(victim, SIGKILL);
    ::waitpid(victim, &status, 0);
    return out;
  });
  std::string expected;
  for (const char* name : {"pipe signals", "async", "dup", "socket", "fork", "kill", "exec"})
    for (std::size_t i = 0; i < available.size(); ++i) expected += std::string(name) + "=SIGSYS ";
  EXPECT_EQ(got, expected + "victim alive");
}

[[noreturn]] void SandboxBlockForGood() {
  static std::uint32_t word = 0;
  for (;;) ::syscall(SYS_futex, &word, FUTEX_WAIT_PRIVATE, 0, nullptr, nullptr, 0);
}

// A child that closes its report pipe and then blocks (a reader a workbook
// has taken over) is ended at the deadline and reaped, as is one that
// blocks with its pipe open. Each run is in a process of its own, so that
// a parent that waits for good fails the test instead of stopping it.
TEST(ReaderSandbox, AChildThatBlocksIsEndedAndReapedAtTheDeadline) {
  for (const bool closesPipe : {true, false}) {
    const std::string got = test_process::Run([&] {
      const ConfinedRun run = RunConfined(
          {},
          [&]() -> std::string {
            if (closesPipe) ::close(kReaderReportFd);
            SandboxBlockForGood();
          },
          4096, 1000);
      const bool childLeft = ::waitpid(-1, nullptr, WNOHANG) >= 0 || errno != ECHILD;
      return std::string(run.timedOut ? "timed out" : "not timed out") +
             (run.exited ? ", exited" : ", signal " + std::to_string(run.status)) + (childLeft ? ", a child left" : "");
    });
    EXPECT_EQ(got, "timed out, signal 9") << (closesPipe ? "pipe closed" : "pipe open");
  }
}

// A real import makes none of the calls that end the child, and opens only
// the file and the code-page modules it needs: xlwt-made workbooks with
// texts in UTF-16 and in Windows-1252 read as an ordinary user.
TEST(ReaderSandbox, XlwtWorkbooksImportAsAnOrdinaryUser) {
  const std::string oracle = (kelvara::test::SourceDir() / "discovery/tests/xls_oracle.py").string();
  ASSERT_EQ(OpenXlsReader(), "");  // as the window does at start-up, before the user's process is made
  const std::string got = AsOrdinaryUser([&] {
    UserFolder dir;
    std::string out;
    for (const char* variant : {"plain", "cp1252"}) {
      const std::string file = (dir.path / (std::string(variant) + ".xls")).string();
      kelvara::test::CommandOutput("/usr/bin/python3 '" + oracle + "' make '" + file + "' " + variant);
      const ImportResult r = ImportDeviceSheet(file);
      out += std::string(variant) + ": ";
      if (r.error) out += r.error->Text();
      for (const auto& d : r.devices) out += TitleTextFromHex(d.titleHex) + ",";
      out += " ";
    }
    return out;
  });
  EXPECT_EQ(got, "plain: 门口 0,门口 1,门口 2, cp1252: Café 0,Café 1,Café 2, ");
}

}  // namespace
}  // namespace kelvara::discovery
