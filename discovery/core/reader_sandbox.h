#pragma once
// Confinement of a child process that parses a file from outside (the .xls
// reader and its container check): whatever the parser does on hostile
// bytes, the child can only open the files it was given for reading, use a
// bounded amount of memory and CPU time, and write to the one descriptor it
// reports through. What it may reach is confined by Landlock (or a private
// mount namespace); how it may act (which system calls) by a seccomp filter
// that ends it on any other call.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kelvara::discovery {

struct ReaderLimits {
  // Address space the child may map beyond what it had at the fork.
  std::uint64_t extraMemoryBytes = 512ull << 20;
  unsigned cpuSeconds = 30;
};

// What a confined child may reach besides its report descriptor.
struct ReaderAccess {
  // Files, or directories with everything beneath them, it may open for
  // reading, by absolute paths. Any other open is refused (EACCES).
  std::vector<std::string> readable;
  // A descriptor the parent opened for it, kept as kReaderInputFd; -1 for none.
  int inputFd = -1;
  // Landlock where the kernel offers it, else a private mount namespace
  // (its own user namespace; other paths then do not exist: ENOENT).
  // kMountNamespace takes the namespace even where Landlock is offered.
  enum class Means { kBest, kMountNamespace };
  Means means = Means::kBest;
};

inline constexpr int kReaderReportFd = 3;
inline constexpr int kReaderInputFd = 4;

// The Landlock ABI version the kernel offers, 0 when it has none (too old,
// or turned off at boot).
int LandlockAbi();

// The directory of the code-page modules iconv loads from files ("" when it
// loads none). Loads the UTF-16 converter every workbook needs and keeps it
// loaded, so that a child forked later finds it in memory and opens nothing
// for it; other code pages are loaded from this directory on first use.
// Call in the parent, before the fork.
const std::string& CodePageModuleDirectory();

// Called in the child right after fork(), before it touches the file.
// Moves `reportFd` to kReaderReportFd and access.inputFd to kReaderInputFd,
// points 0-2 at /dev/null and closes every other descriptor; sets
// no-new-privileges; lets the child open only access.readable (Landlock,
// which also keeps it from signalling processes outside itself where the
// kernel can) or, where the kernel offers no Landlock, shows it only those
// in a mount namespace of its own; limits address space, CPU time, open
// descriptors (8), file writes (0 bytes) and core dumps (none); then
// installs a seccomp filter that allows reading, read-only opens, memory
// management, writing to open descriptors, fcntl F_GETFD/F_GETFL/F_SETFD
// only, its own signal handling and exiting, and ends the child (SIGSYS) on
// any other call. Returns
// kReaderReportFd, or -1 when a step failed: the child must then exit.
int ConfineReaderChild(int reportFd, const ReaderAccess& access, const ReaderLimits& limits = {});

// How a confined child ended.
struct ConfinedRun {
  std::string error;        // the child could not be started or confined
  bool exited = false;      // it exited (with `status`) rather than being ended by signal `status`
  int status = 0;
  bool timedOut = false;    // ended after the time-out
  bool tooLarge = false;    // ended when its report passed the bound
  std::string report;       // what it wrote, whole only when it exited with 0
  bool Clean() const { return error.empty() && exited && status == 0 && !timedOut && !tooLarge; }
};

// Forks a child, confines it (`error` says so when that fails), runs `work` there
// and sends its result back. The child is ended when it runs longer than
// `timeout_ms` or reports more than `maxReportBytes`.
ConfinedRun RunConfined(const ReaderAccess& access, const std::function<std::string()>& work,
                        std::size_t maxReportBytes, int timeout_ms, const ReaderLimits& limits = {});

}  // namespace kelvara::discovery
