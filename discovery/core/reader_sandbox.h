#pragma once
// Confinement of a child process that parses a file from outside (the .xls
// reader): whatever the parser does on hostile bytes, the child can only read
// files, use a bounded amount of memory and CPU time, and write to the one
// descriptor it reports through.
#include <cstdint>

namespace kelvara::discovery {

struct ReaderLimits {
  // Address space the child may map beyond what it had at the fork.
  std::uint64_t extraMemoryBytes = 512ull << 20;
  unsigned cpuSeconds = 30;
};

// Called in the child right after fork(), before it touches the file.
// Moves `reportFd` to descriptor 3, points 0-2 at /dev/null and closes every
// other descriptor; sets no-new-privileges; limits address space, CPU time,
// open descriptors (8), file writes (0 bytes) and core dumps (none); then
// installs a seccomp filter that refuses (EPERM) every system call but those
// of reading files, memory management, writing to open descriptors, its own
// signal handling and exiting; an open is allowed read-only only. Returns the report descriptor
// (3), or -1 when a step failed: the child must then exit.
int ConfineReaderChild(int reportFd, const ReaderLimits& limits = {});

}  // namespace kelvara::discovery
