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
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace kelvara::discovery {
namespace {

// Exit status of a child that could not confine itself.
constexpr int kConfinementFailed = 3;

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

// Where Landlock is not offered: a user and mount namespace of the child's
// own whose root is an empty tmpfs holding only `readable`, bound at their
// own paths. Everything else, /proc included, is not there (ENOENT).
bool PrivateMountNamespace(const std::vector<std::string>& readable) {
  const std::string uid = std::to_string(::getuid()), gid = std::to_string(::getgid());
  if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 || !WriteFile("/proc/self/setgroups", "deny") ||
      !WriteFile("/proc/self/uid_map", uid + " " + uid + " 1") || !WriteFile("/proc/self/gid_map", gid + " " + gid + " 1") ||
      ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return false;
  // Opened in the new namespace before anything is hidden; bound from
  // /proc/self/fd below.
  std::vector<int> fds;
  const auto closeAll = [&] {
    for (const int fd : fds) ::close(fd);
    return false;
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
    return false;
  return true;
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
  Filter f;
  // Another architecture's calls (a 32-bit entry) end the child.
  f.Load(offsetof(seccomp_data, arch));
  f.ReturnUnless(kAuditArch, kKill);
  f.Load(offsetof(seccomp_data, nr));
  // openat: read-only; what it may open is Landlock's to say.
  const std::size_t openat = f.If(SYS_openat);
  f.Load(arg(2));
  f.ReturnIfAnyBit(O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND, kRefuseOpen);
  f.Return(kAllow);
  f.EndIf(openat);
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
  f.Return(kKill);
  return f.Install();
}

// Writes all of `data` to `fd`.
bool WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

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
  for (int fd = 0; fd < 3; ++fd)
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
  const bool landlock = access.means == ReaderAccess::Means::kBest && LandlockAbi() >= 1;
  if (!(landlock ? RestrictFileSystem(access.readable) : PrivateMountNamespace(access.readable))) return -1;
  if (!Limit(RLIMIT_AS, static_cast<rlim_t>(mapped + limits.extraMemoryBytes)) ||
      !Limit(RLIMIT_CPU, limits.cpuSeconds) || !Limit(RLIMIT_NOFILE, 8) || !Limit(RLIMIT_FSIZE, 0) ||
      !Limit(RLIMIT_CORE, 0))
    return -1;
  if (!InstallFilter()) return -1;
  return kReaderReportFd;
}

ConfinedRun RunConfined(const ReaderAccess& access, const std::function<std::string()>& work,
                        std::size_t maxReportBytes, int timeout_ms, const ReaderLimits& limits) {
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
    if (report < 0) _exit(kConfinementFailed);
    _exit(WriteAll(report, work()) ? 0 : 2);
  }
  ::close(pipefd[1]);
  char buffer[65536];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      run.timedOut = true;
      break;
    }
    pollfd p{pipefd[0], POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
    if (ready <= 0) continue;  // interrupted, or the deadline is checked above
    const ssize_t n = ::read(pipefd[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (static_cast<std::size_t>(n) > maxReportBytes - run.report.size()) {
      run.tooLarge = true;
      break;
    }
    run.report.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipefd[0]);
  if (run.timedOut || run.tooLarge) ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
  run.exited = WIFEXITED(status);
  run.status = run.exited ? WEXITSTATUS(status) : WTERMSIG(status);
  if (run.exited && run.status == kConfinementFailed && run.report.empty())
    run.error = "this system cannot confine the file's reader (the kernel offers neither Landlock nor user namespaces)";
  return run;
}

}  // namespace kelvara::discovery
