#include "discovery/core/reader_sandbox.h"

#include <fcntl.h>
#include <iconv.h>
#include <link.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/landlock.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string_view>

namespace kelvara::discovery {
namespace {

// Sanitizer builds (compile-time switch of the build): their runtimes make
// a few calls of their own in the child, and their reports go to stderr.
#ifdef KELVARA_SANITIZER_BUILD
constexpr bool kSanitizerBuild = true;
#else
constexpr bool kSanitizerBuild = false;
#endif

#if defined(__x86_64__)
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_AARCH64;
#else
constexpr std::uint32_t kAuditArch = 0;
#endif

// Landlock's interface as of its ABI 6; the installed header may be older.
struct LandlockRuleset {
  std::uint64_t handledAccessFs;
  std::uint64_t handledAccessNet;  // ABI 4 on
  std::uint64_t scoped;            // ABI 6 on
};
constexpr std::uint64_t kFsReadFile = 1ull << 2;
constexpr std::uint64_t kFsAbi1 = (1ull << 13) - 1;  // execute ... make symlink
constexpr std::uint64_t kFsRefer = 1ull << 13, kFsTruncate = 1ull << 14, kFsIoctlDev = 1ull << 15;
constexpr std::uint64_t kNetBindTcp = 1ull << 0, kNetConnectTcp = 1ull << 1;
constexpr std::uint64_t kScopeAbstractUnixSocket = 1ull << 0, kScopeSignal = 1ull << 1;

// Bytes the process has mapped now (from /proc/self/statm).
std::uint64_t MappedBytes() {
  std::FILE* f = std::fopen("/proc/self/statm", "re");
  if (f == nullptr) return 0;
  unsigned long long pages = 0;
  const int got = std::fscanf(f, "%llu", &pages);
  std::fclose(f);
  return got == 1 ? pages * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)) : 0;
}

bool Limit(int resource, rlim_t value) {
  const rlimit r{value, value};
  return ::setrlimit(resource, &r) == 0;
}

// Every file-system right the kernel knows is handled, so only the rules
// below grant any; TCP and, where the kernel can, signals to processes
// outside the child and abstract UNIX sockets are refused too.
bool RestrictFileSystem(const std::vector<std::string>& readable) {
  const int abi = LandlockAbi();
  if (abi < 1) return false;
  LandlockRuleset ruleset{kFsAbi1, 0, 0};
  std::size_t size = sizeof ruleset.handledAccessFs;
  if (abi >= 2) ruleset.handledAccessFs |= kFsRefer;
  if (abi >= 3) ruleset.handledAccessFs |= kFsTruncate;
  if (abi >= 4) ruleset.handledAccessNet = kNetBindTcp | kNetConnectTcp, size += sizeof ruleset.handledAccessNet;
  if (abi >= 5) ruleset.handledAccessFs |= kFsIoctlDev;
  if (abi >= 6) ruleset.scoped = kScopeAbstractUnixSocket | kScopeSignal, size += sizeof ruleset.scoped;
  const int fd = static_cast<int>(::syscall(SYS_landlock_create_ruleset, &ruleset, size, 0));
  if (fd < 0) return false;
  bool ok = true;
  for (const std::string& path : readable) {
    const int at = ::open(path.c_str(), O_PATH | O_CLOEXEC);
    landlock_path_beneath_attr rule{};
    rule.allowed_access = kFsReadFile;
    rule.parent_fd = at;
    ok = at >= 0 && ::syscall(SYS_landlock_add_rule, fd, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) == 0;
    if (at >= 0) ::close(at);
    if (!ok) break;
  }
  ok = ok && ::syscall(SYS_landlock_restrict_self, fd, 0) == 0;
  ::close(fd);
  return ok;
}

bool WriteFile(const char* path, const std::string& text) {
  const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  const bool ok = fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (fd >= 0) ::close(fd);
  return ok;
}

enum class Namespace { kMade, kUnavailable, kFailed };

// A user and mount namespace of the child's own whose root is an empty tmpfs
// holding only `readable`, bound at their own paths. Everything else, /proc
// included, is not there (ENOENT): not even a path's size or owner can be
// learnt. kUnavailable when the system refuses the user namespace (nothing
// changed then); kFailed when a later step failed.
Namespace PrivateMountNamespace(const std::vector<std::string>& readable) {
  const std::string uid = std::to_string(::getuid()), gid = std::to_string(::getgid());
  if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return Namespace::kUnavailable;
  if (!WriteFile("/proc/self/setgroups", "deny") || !WriteFile("/proc/self/uid_map", uid + " " + uid + " 1") ||
      !WriteFile("/proc/self/gid_map", gid + " " + gid + " 1") ||
      ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return Namespace::kFailed;
  // Opened in the new namespace before anything is hidden; bound from
  // /proc/self/fd below.
  std::vector<int> fds;
  const auto closeAll = [&] {
    for (const int fd : fds) ::close(fd);
    return Namespace::kFailed;
  };
  for (const std::string& path : readable) {
    const int fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0 || path.empty() || path[0] != '/') return closeAll();
    fds.push_back(fd);
  }
  // The new root is mounted on /tmp, which the private namespace no longer shares.
  const std::string root = "/tmp";
  if (::mount("none", root.c_str(), "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC, "size=64k,mode=0755") != 0)
    return closeAll();
  for (std::size_t i = 0; i < readable.size(); ++i) {
    const std::string target = root + readable[i];
    for (std::size_t slash = root.size() + 1; (slash = target.find('/', slash)) != std::string::npos; ++slash)
      if (::mkdir(target.substr(0, slash).c_str(), 0755) != 0 && errno != EEXIST) return closeAll();
    struct stat st{};
    if (::fstat(fds[i], &st) != 0) return closeAll();
    if (S_ISDIR(st.st_mode) ? ::mkdir(target.c_str(), 0755) != 0 && errno != EEXIST
                            : ::close(::open(target.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644)) != 0)
      return closeAll();
    const std::string source = "/proc/self/fd/" + std::to_string(fds[i]);
    if (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) return closeAll();
  }
  closeAll();
  const std::string old = root + "/.old";
  if (::mkdir(old.c_str(), 0700) != 0 || ::chdir(root.c_str()) != 0 ||
      ::syscall(SYS_pivot_root, root.c_str(), old.c_str()) != 0 || ::chdir("/") != 0 ||
      ::umount2("/.old", MNT_DETACH) != 0 || ::rmdir("/.old") != 0)
    return Namespace::kFailed;
  return Namespace::kMade;
}

// BPF program: ends the child on every call but those allowed here.
class Filter {
 public:
  void Load(std::uint32_t offset) { prog_.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offset)); }
  void Return(std::uint32_t action) { prog_.push_back(BPF_STMT(BPF_RET | BPF_K, action)); }
  // Returns `action` when the loaded word equals k.
  void ReturnIf(std::uint32_t k, std::uint32_t action) {
    prog_.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, k, 0, 1));
    Return(action);
  }
  void ReturnUnless(std::uint32_t k, std::uint32_t action) {
    prog_.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, k, 1, 0));
    Return(action);
  }
  // The instructions up to the matching EndIf run only when the loaded word
  // equals k (they must all end in a return).
  std::size_t If(std::uint32_t k) {
    prog_.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, k, 0, 0));
    return prog_.size() - 1;
  }
  void EndIf(std::size_t at) { prog_[at].jf = static_cast<std::uint8_t>(prog_.size() - at - 1); }
  void ReturnIfAnyBit(std::uint32_t bits, std::uint32_t action) {
    prog_.push_back(BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, bits, 0, 1));
    Return(action);
  }
  bool Install() const {
    const sock_fprog fprog{static_cast<unsigned short>(prog_.size()), const_cast<sock_filter*>(prog_.data())};
    return ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &fprog, 0, 0) == 0;
  }

 private:
  std::vector<sock_filter> prog_;
};

bool InstallFilter() {
  if (kAuditArch == 0) return false;  // the call numbers' architecture is unknown here
  constexpr std::uint32_t kAllow = SECCOMP_RET_ALLOW, kKill = SECCOMP_RET_KILL_PROCESS;
  constexpr std::uint32_t kRefuseOpen = SECCOMP_RET_ERRNO | (EACCES & SECCOMP_RET_DATA);
  // Low word of an argument (both architectures are little-endian).
  const auto arg = [](int i) { return static_cast<std::uint32_t>(offsetof(seccomp_data, args) + 8 * i); };
  const int allowed[] = {
      SYS_read,   SYS_pread64,   SYS_readv,      SYS_write,       SYS_writev,         SYS_lseek,
      SYS_close,  SYS_fstat,     SYS_newfstatat, SYS_mmap,        SYS_munmap,         SYS_mremap,
      SYS_mprotect, SYS_madvise, SYS_brk,        SYS_futex,       SYS_exit,           SYS_exit_group,
      SYS_rt_sigreturn, SYS_rt_sigprocmask, SYS_rt_sigaction, SYS_sigaltstack, SYS_getpid, SYS_gettid,
  };
  // What the sanitizer runtimes call on their own: a pipe to test whether
  // memory is readable (their stack walks), yielding and sleeping in their
  // locks, the program's path and the stack limit for their reports.
  const int sanitizerAllowed[] = {
#ifdef SYS_pipe
      SYS_pipe,
#endif
#ifdef SYS_readlink
      SYS_readlink,
#endif
      SYS_pipe2, SYS_readlinkat, SYS_sched_yield, SYS_nanosleep, SYS_clock_nanosleep, SYS_getrlimit,
  };
  Filter f;
  // Another architecture's calls (a 32-bit entry) end the child.
  f.Load(offsetof(seccomp_data, arch));
  f.ReturnUnless(kAuditArch, kKill);
  f.Load(offsetof(seccomp_data, nr));
  // openat: read-only, and never O_PATH (whose descriptor would give any
  // path's size and owner through fstat); what it may open is Landlock's
  // and the mount namespace's to say.
  constexpr std::uint32_t kNotReadOnly = O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND | O_PATH;
  const std::size_t openat = f.If(SYS_openat);
  f.Load(arg(2));
  f.ReturnIfAnyBit(kNotReadOnly, kRefuseOpen);
  f.Return(kAllow);
  f.EndIf(openat);
#ifdef SYS_open
  // The sanitizer runtimes open /proc/self/maps with open(2) for their
  // reports (the confinement then hides it).
  if (kSanitizerBuild) {
    const std::size_t open = f.If(SYS_open);
    f.Load(arg(1));
    f.ReturnIfAnyBit(kNotReadOnly, kRefuseOpen);
    f.Return(kAllow);
    f.EndIf(open);
  }
#endif
  // fcntl: reading descriptor and status flags, setting close-on-exec.
  // Setting an owner, a signal or O_ASYNC would let the child have the
  // kernel signal other processes.
  const std::size_t fcntl = f.If(SYS_fcntl);
  f.Load(arg(1));
  f.ReturnIf(F_GETFD, kAllow);
  f.ReturnIf(F_GETFL, kAllow);
  f.ReturnIf(F_SETFD, kAllow);
  f.Return(kKill);
  f.EndIf(fcntl);
  for (const int nr : allowed) f.ReturnIf(static_cast<std::uint32_t>(nr), kAllow);
  if (kSanitizerBuild)
    for (const int nr : sanitizerAllowed) f.ReturnIf(static_cast<std::uint32_t>(nr), kAllow);
  f.Return(kKill);
  return f.Install();
}

}  // namespace

bool WriteReport(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

int LandlockAbi() {
  const long abi = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
  return abi > 0 ? static_cast<int>(abi) : 0;
}

const std::string& CodePageModuleDirectory() {
  static std::string directory;
  static iconv_t converter = reinterpret_cast<iconv_t>(-1);  // never closed: it stays loaded for every later child
  static std::once_flag once;
  std::call_once(once, [] {
    converter = ::iconv_open("UTF-8", "UTF-16LE");
    if (converter == reinterpret_cast<iconv_t>(-1)) return;
    ::dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void*) {
          const char* name = info->dlpi_name;
          const char* dir = name ? std::strstr(name, "/gconv/") : nullptr;
          if (dir == nullptr) return 0;
          directory.assign(name, static_cast<std::size_t>(dir - name) + 6);
          return 1;
        },
        nullptr);
  });
  return directory;
}

int ConfineReaderChild(int reportFd, const ReaderAccess& access, const ReaderLimits& limits) {
  // The input first: the report's move could land on its number.
  int input = access.inputFd;
  if (input >= 0 && input != kReaderInputFd) {
    input = ::fcntl(input, F_DUPFD_CLOEXEC, kReaderInputFd + 1);
    if (input < 0) return -1;
  }
  if (reportFd != kReaderReportFd && ::dup2(reportFd, kReaderReportFd) != kReaderReportFd) return -1;
  if (input >= 0 && input != kReaderInputFd && ::dup2(input, kReaderInputFd) != kReaderInputFd) return -1;
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null < 0) return -1;
  // Sanitizer builds keep stderr: their reports from the child must be seen.
  for (int fd = 0; fd < (kSanitizerBuild ? 2 : 3); ++fd)
    if (::dup2(null, fd) != fd) return -1;
  const unsigned firstClosed = input >= 0 ? kReaderInputFd + 1 : kReaderReportFd + 1;
  if (::syscall(SYS_close_range, firstClosed, ~0U, 0) != 0) {
    // Kernels before 5.9: close them one by one.
    for (int fd = static_cast<int>(firstClosed); fd < 65536; ++fd) ::close(fd);
  }
  for (int fd = kReaderReportFd; fd < static_cast<int>(firstClosed); ++fd) {
    const int flags = ::fcntl(fd, F_GETFD);
    if (flags < 0 || ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC) != 0) return -1;
  }
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return -1;
  const std::uint64_t mapped = MappedBytes();
  if (mapped == 0) return -1;
  // Sanitizer builds let the child read its own memory map, which their
  // reports need to name the module of each frame.
  std::vector<std::string> readable = access.readable;
  if (kSanitizerBuild) readable.push_back("/proc/self/maps");
  // The namespace first: a process under Landlock may no longer mount.
  using Means = ReaderAccess::Means;
  bool hidden = false;
  if (access.means != Means::kLandlock) {
    const Namespace made = PrivateMountNamespace(readable);
    if (made == Namespace::kFailed || (made == Namespace::kUnavailable && access.means == Means::kMountNamespace))
      return -1;
    hidden = made == Namespace::kMade;
  }
  bool restricted = false;
  if (access.means != Means::kMountNamespace && LandlockAbi() >= 1) {
    if (!RestrictFileSystem(readable)) return -1;
    restricted = true;
  }
  if (!hidden && !restricted) return -1;
  // Sanitizer builds leave file writes unlimited: their reports may go to a
  // file the test runner passed as stderr. Opening files for writing stays
  // refused.
  if (!Limit(RLIMIT_AS, static_cast<rlim_t>(mapped + limits.extraMemoryBytes)) ||
      !Limit(RLIMIT_CPU, limits.cpuSeconds) || !Limit(RLIMIT_NOFILE, 8) ||
      (!kSanitizerBuild && !Limit(RLIMIT_FSIZE, 0)) || !Limit(RLIMIT_CORE, 0))
    return -1;
  if (!InstallFilter()) return -1;
  return kReaderReportFd;
}

namespace {

// Collects a child's report from `readFd` (closed here) until it closes it,
// then waits for the child to end; at `deadline` the child is ended,
// whatever it did with the pipe, and reaped in every case.
ConfinedRun Collect(pid_t pid, int readFd, std::size_t maxReportBytes,
                    std::chrono::steady_clock::time_point deadline) {
  ConfinedRun run;
  const auto msLeft = [&] {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::int64_t>(0, left.count()));
  };
  try {
    std::string buffer(65536, '\0');
    for (;;) {
      const int left = msLeft();
      if (left == 0) {
        run.timedOut = true;
        break;
      }
      pollfd p{readFd, POLLIN, 0};
      if (::poll(&p, 1, left) <= 0) continue;  // interrupted, or the deadline is checked above
      const ssize_t n = ::read(readFd, buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      if (static_cast<std::size_t>(n) > maxReportBytes - run.report.size()) {
        run.tooLarge = true;
        break;
      }
      run.report.append(buffer, 0, static_cast<std::size_t>(n));
    }
  } catch (const std::bad_alloc&) {
    run.outOfMemory = true;
    run.report = std::string();
  }
  ::close(readFd);
  // The pipe is closed: the child has until the deadline to exit.
  int status = 0;
  bool reaped = false;
  if (!run.timedOut && !run.tooLarge && !run.outOfMemory) {
#ifdef SYS_pidfd_open
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    const int pidfd = -1;
#endif
    for (;;) {
      const pid_t got = ::waitpid(pid, &status, WNOHANG);
      if (got == pid) {
        reaped = true;
        break;
      }
      if (got < 0 && errno == ECHILD) {
        // Reaped elsewhere: how it ended is unknown, so its report is not taken.
        reaped = true;
        status = SIGKILL;
        break;
      }
      const int left = msLeft();
      if (left == 0) {
        run.timedOut = true;
        break;
      }
      if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        ::poll(&p, 1, left);
      } else {
        const timespec pause{0, 10'000'000};  // kernels before 5.3: look again every 10 ms
        ::nanosleep(&pause, nullptr);
      }
    }
    if (pidfd >= 0) ::close(pidfd);
  }
  if (!reaped) {
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
  }
  run.exited = WIFEXITED(status);
  run.status = run.exited ? WEXITSTATUS(status) : WTERMSIG(status);
  if (run.exited && run.status == kReaderConfinementFailed && run.report.empty())
    run.error = "this system cannot confine the file's reader (the kernel offers neither Landlock nor user namespaces)";
  return run;
}

// The environment of a reader program: empty, but for the sanitizer
// runtimes' options in sanitizer builds. A confined child cannot run their
// leak check (it stops the process with ptrace) or their symbolizer (a
// program of its own), so its reports show modules and offsets; nor ask
// whether stderr is a terminal (an ioctl), so they are not coloured.
std::vector<std::string> ReaderEnvironment() {
  std::vector<std::string> env;
  if (!kSanitizerBuild) return env;
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    const char* value = std::getenv(name);
    std::string v = value ? value : "";
    if (std::string_view(name) != "UBSAN_OPTIONS") v += (v.empty() ? "" : ":") + std::string("detect_leaks=0");
    v += (v.empty() ? "" : ":") + std::string("symbolize=0:color=never");
    env.push_back(std::string(name) + "=" + v);
  }
  return env;
}

// Pointers for execve: the strings' own, then a null.
std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

}  // namespace

ReaderProgram::~ReaderProgram() { ::close(fd_); }

std::shared_ptr<const ReaderProgram> ReaderProgram::Open(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st{};
  const char* why = nullptr;
  if (fd < 0)
    why = std::strerror(errno);
  else if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & 0111) == 0)
    why = "not an executable file";
  if (why != nullptr) {
    if (fd >= 0) ::close(fd);
    if (error) *error = why;
    return nullptr;
  }
  return std::shared_ptr<const ReaderProgram>(new ReaderProgram(path, fd));
}

ConfinedRun RunReaderProgram(const ReaderProgram& program, const std::vector<std::string>& args, int inputFd,
                             std::size_t maxReportBytes, int timeout_ms) {
  ConfinedRun run;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::vector<std::string> argStrings{program.path()};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<std::string> envStrings = ReaderEnvironment();
  const std::vector<char*> argv = Pointers(argStrings), envp = Pointers(envStrings);
  // The child's descriptors, first moved above its numbers here (close-on-
  // exec), so that no move into place overwrites another's source.
  constexpr int kAbove = 10, kProgramFd = kReaderInputFd + 1;
  int pipefd[2] = {-1, -1};
  std::vector<int> opened;
  const auto above = [&](int fd) {
    const int moved = fd >= 0 ? ::fcntl(fd, F_DUPFD_CLOEXEC, kAbove) : -1;
    if (moved >= 0) opened.push_back(moved);
    return moved;
  };
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null >= 0) opened.push_back(null);
  const int pipeOk = ::pipe2(pipefd, O_CLOEXEC);
  if (pipeOk == 0) opened.push_back(pipefd[1]);
  const int devnull = above(null), report = above(pipefd[1]), exe = above(program.fd());
  const int input = inputFd >= 0 ? above(inputFd) : devnull;
  const int stderrCopy = kSanitizerBuild ? above(2) : -1;
  const int err = stderrCopy >= 0 ? stderrCopy : devnull;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawnattr_init(&attributes);
  int spawned = EBADF;
  pid_t pid = -1;
  if (pipeOk == 0 && devnull >= 0 && report >= 0 && exe >= 0 && input >= 0 && err >= 0) {
    // 0-2 /dev/null (2 stderr in sanitizer builds), the report pipe, the
    // input (else /dev/null, which the reader closes), the program; nothing else.
    const int moves[][2] = {{devnull, 0}, {devnull, 1}, {err, 2}, {report, kReaderReportFd},
                            {input, kReaderInputFd}, {exe, kProgramFd}};
    for (const auto& [from, to] : moves) ::posix_spawn_file_actions_adddup2(&actions, from, to);
    ::posix_spawn_file_actions_addclosefrom_np(&actions, kProgramFd + 1);
    // No signal blocked or caught in the reader, whatever this thread has.
    sigset_t none, all;
    ::sigemptyset(&none);
    ::sigfillset(&all);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &all);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    // posix_spawn (vfork, so this process's memory is never copied) runs
    // the file opened at start-up: the child's descriptor of it, by path.
    const std::string self = "/proc/self/fd/" + std::to_string(kProgramFd);
    spawned = ::posix_spawn(&pid, self.c_str(), &actions, &attributes, argv.data(), envp.data());
  }
  ::posix_spawn_file_actions_destroy(&actions);
  ::posix_spawnattr_destroy(&attributes);
  for (const int fd : opened) ::close(fd);
  if (spawned != 0) {
    if (pipeOk == 0) ::close(pipefd[0]);
    run.error = "cannot start the reader " + program.path() + ": " + std::strerror(spawned);
    return run;
  }
  return Collect(pid, pipefd[0], maxReportBytes, deadline);
}

ConfinedRun RunConfined(const ReaderAccess& access, const std::function<std::string()>& work,
                        std::size_t maxReportBytes, int timeout_ms, const ReaderLimits& limits) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  ConfinedRun run;
  int pipefd[2];
  if (::pipe2(pipefd, O_CLOEXEC) != 0) {
    run.error = "cannot start the reader";
    return run;
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(pipefd[0]);
    ::close(pipefd[1]);
    run.error = "cannot start the reader";
    return run;
  }
  if (pid == 0) {
    ::close(pipefd[0]);
    const int report = ConfineReaderChild(pipefd[1], access, limits);
    if (report < 0) _exit(kReaderConfinementFailed);
    _exit(WriteReport(report, work()) ? 0 : 2);
  }
  ::close(pipefd[1]);
  return Collect(pid, pipefd[0], maxReportBytes, deadline);
}

}  // namespace kelvara::discovery
