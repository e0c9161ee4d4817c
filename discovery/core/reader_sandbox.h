#pragma once
// Confinement of a process that parses a file from outside (the .xls reader
// and its container check): whatever the parser does on hostile bytes, the
// process can only open the files it was given for reading, use a bounded
// amount of memory and CPU time, and write to the one descriptor it reports
// through. What it may reach is confined by Landlock and a private mount
// namespace (each where the system offers it); how it may act (which system
// calls) by a seccomp filter that ends it on any other call.
//
// The reader is a program of its own (RunReaderProgram): the parent opens it
// once and starts it with fexecve and an empty environment, so the child
// holds nothing of the parent's memory; the program confines itself
// (ConfineReaderChild) before it touches its input. The parent trusts
// nothing it reports: the child is ended at the deadline whatever it does
// with its pipe, and the report is bounded.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kelvara::discovery {

struct ReaderLimits {
  // Address space the child may map beyond what it had when it confined itself.
  std::uint64_t extraMemoryBytes = 512ull << 20;
  unsigned cpuSeconds = 30;
};

// What a confined child may reach besides its report descriptor.
struct ReaderAccess {
  // Files, or directories with everything beneath them, it may open for
  // reading, by absolute paths. Any other open is refused.
  std::vector<std::string> readable;
  // A descriptor the parent opened for it, kept as kReaderInputFd; -1 for none.
  int inputFd = -1;
  // kBest: a private mount namespace where user namespaces work (its own
  // user namespace; other paths do not exist, ENOENT, so not even their
  // size or owner can be learnt) and Landlock where the kernel offers it
  // (other opens: EACCES); at least one of them. The others take one alone
  // (tests of each).
  enum class Means { kBest, kMountNamespace, kLandlock };
  Means means = Means::kBest;
};

inline constexpr int kReaderReportFd = 3;
inline constexpr int kReaderInputFd = 4;

// The Landlock ABI version the kernel offers, 0 when it has none (too old,
// or turned off at boot).
int LandlockAbi();

// The directory of the code-page modules iconv loads from files ("" when it
// loads none). Loads the UTF-16 converter every workbook needs and keeps it
// loaded, so that the confined reader finds it in memory and opens nothing
// for it; other code pages are loaded from this directory on first use.
// Call before confining.
const std::string& CodePageModuleDirectory();

// Called in the child before it touches its input. Moves `reportFd` to
// kReaderReportFd and access.inputFd to kReaderInputFd, points 0-2 at
// /dev/null (2 stays where it was in sanitizer builds, for their reports)
// and closes every other descriptor; sets no-new-privileges; hides every
// path but access.readable in a mount namespace of its own and lets it open
// only those (Landlock, which also keeps it from signalling processes
// outside itself where the kernel can); limits address space, CPU time,
// open descriptors (8), file writes (0 bytes) and core dumps (none); then
// installs a seccomp filter that allows reading, read-only opens (not
// O_PATH), memory management, writing to open descriptors, fcntl
// F_GETFD/F_GETFL/F_SETFD only, its own signal handling and exiting, and
// ends the child (SIGSYS) on any other call (sanitizer builds allow the few
// calls their runtimes make). Returns kReaderReportFd, or -1 when a step
// failed: the child must then exit with kReaderConfinementFailed.
int ConfineReaderChild(int reportFd, const ReaderAccess& access, const ReaderLimits& limits = {});

// Writes all of `data` to `fd` (a child's report); false when it could not.
bool WriteReport(int fd, const std::string& data);

// Exit status of a child that could not confine itself.
inline constexpr int kReaderConfinementFailed = 3;

// How a confined child ended.
struct ConfinedRun {
  std::string error;        // the child could not be started or confined
  bool exited = false;      // it exited (with `status`) rather than being ended by signal `status`
  int status = 0;
  bool timedOut = false;    // ended at the deadline (reporting, or after it closed its pipe)
  bool tooLarge = false;    // ended when its report passed the bound
  bool outOfMemory = false; // this process could not hold the report
  std::string report;       // what it wrote, whole only when it exited with 0
  bool Clean() const {
    return error.empty() && exited && status == 0 && !timedOut && !tooLarge && !outOfMemory;
  }
};

// A reader program, opened once (at start-up): what it runs is the file as
// it was then, whatever later happens to the file or its folder.
class ReaderProgram {
 public:
  // Opens an executable regular file; nullptr with *error set when it cannot.
  static std::shared_ptr<const ReaderProgram> Open(const std::string& path, std::string* error);
  ~ReaderProgram();
  ReaderProgram(const ReaderProgram&) = delete;
  ReaderProgram& operator=(const ReaderProgram&) = delete;
  const std::string& path() const { return path_; }
  int fd() const { return fd_; }

 private:
  ReaderProgram(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
  std::string path_;
  int fd_;
};

// Starts `program` (argv[1...] = `args`, an empty environment; sanitizer
// builds pass on their runtime's options) in a child whose descriptors are
// 0-2 /dev/null (2 this process's in sanitizer builds), kReaderReportFd the
// report pipe and kReaderInputFd `inputFd` (when not -1), nothing else, and
// collects its report. The child is ended and reaped at `timeout_ms` from
// the start whatever it does with the pipe, and when it reports more than
// `maxReportBytes`.
ConfinedRun RunReaderProgram(const ReaderProgram& program, const std::vector<std::string>& args, int inputFd,
                             std::size_t maxReportBytes, int timeout_ms);

// Forks a child, confines it (`error` says so when that fails), runs `work`
// there and sends its result back, collected as by RunReaderProgram. The
// child is a copy of this process, memory included: only for code that has
// nothing to hide from what it runs (the tests of the confinement itself).
// Outside files are read through RunReaderProgram.
ConfinedRun RunConfined(const ReaderAccess& access, const std::function<std::string()>& work,
                        std::size_t maxReportBytes, int timeout_ms, const ReaderLimits& limits = {});

}  // namespace kelvara::discovery
