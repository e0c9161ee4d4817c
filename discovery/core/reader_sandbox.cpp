#include "discovery/core/reader_sandbox.h"

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <vector>

namespace kelvara::discovery {
namespace {

constexpr int kReportFd = 3;

#if defined(__x86_64__)
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_AARCH64;
#else
constexpr std::uint32_t kAuditArch = 0;
#endif

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

bool InstallFilter() {
  if (kAuditArch == 0) return true;  // no filter where we do not know the call numbers' architecture
  const int allowed[] = {
      SYS_read,   SYS_pread64,   SYS_readv,     SYS_write,      SYS_writev,       SYS_lseek,
      SYS_close,  SYS_fstat,     SYS_newfstatat, SYS_statx,     SYS_fcntl,        SYS_mmap,
      SYS_munmap, SYS_mremap,    SYS_mprotect,  SYS_madvise,    SYS_brk,          SYS_futex,
      SYS_exit,   SYS_exit_group, SYS_rt_sigreturn, SYS_rt_sigprocmask, SYS_rt_sigaction, SYS_sigaltstack,
      SYS_getpid, SYS_gettid,
#ifdef SYS_stat
      SYS_stat,
#endif
  };
  std::vector<sock_filter> prog;
  const auto stmt = [&](std::uint16_t code, std::uint32_t k) { prog.push_back(BPF_STMT(code, k)); };
  const auto jump = [&](std::uint16_t code, std::uint32_t k, std::uint8_t jt, std::uint8_t jf) {
    prog.push_back(BPF_JUMP(code, k, jt, jf));
  };
  constexpr std::uint32_t kAllow = SECCOMP_RET_ALLOW;
  constexpr std::uint32_t kRefuse = SECCOMP_RET_ERRNO | (EPERM & SECCOMP_RET_DATA);
  // Another architecture's calls (a 32-bit entry) are refused outright.
  stmt(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch));
  jump(BPF_JMP | BPF_JEQ | BPF_K, kAuditArch, 1, 0);
  stmt(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS);
  stmt(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr));
  // openat: only without write access, creation or truncation.
  jump(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat, 0, 4);
  stmt(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2]));
  jump(BPF_JMP | BPF_JSET | BPF_K, O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND, 1, 0);
  stmt(BPF_RET | BPF_K, kAllow);
  stmt(BPF_RET | BPF_K, kRefuse);
  for (const int nr : allowed) {
    jump(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(nr), 0, 1);
    stmt(BPF_RET | BPF_K, kAllow);
  }
  stmt(BPF_RET | BPF_K, kRefuse);
  const sock_fprog fprog{static_cast<unsigned short>(prog.size()), prog.data()};
  return ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &fprog, 0, 0) == 0;
}

}  // namespace

int ConfineReaderChild(int reportFd, const ReaderLimits& limits) {
  if (reportFd != kReportFd && ::dup2(reportFd, kReportFd) != kReportFd) return -1;
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null < 0) return -1;
  for (int fd = 0; fd < 3; ++fd)
    if (::dup2(null, fd) != fd) return -1;
  if (::syscall(SYS_close_range, kReportFd + 1, ~0U, 0) != 0) {
    // Kernels before 5.9: close them one by one.
    for (int fd = kReportFd + 1; fd < 65536; ++fd) ::close(fd);
  }
  const int flags = ::fcntl(kReportFd, F_GETFD);
  if (flags < 0 || ::fcntl(kReportFd, F_SETFD, flags | FD_CLOEXEC) != 0) return -1;
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return -1;
  const std::uint64_t mapped = MappedBytes();
  if (mapped == 0) return -1;
  if (!Limit(RLIMIT_AS, static_cast<rlim_t>(mapped + limits.extraMemoryBytes)) ||
      !Limit(RLIMIT_CPU, limits.cpuSeconds) || !Limit(RLIMIT_NOFILE, 8) || !Limit(RLIMIT_FSIZE, 0) ||
      !Limit(RLIMIT_CORE, 0))
    return -1;
  if (!InstallFilter()) return -1;
  return kReportFd;
}

}  // namespace kelvara::discovery
