// kelvara-xls-reader-hostile: a test build of the .xls reader program that
// plays one a workbook has taken over (a parser exploit). It is the shipped
// reader, but once confined it looks in what it reads (the file given to
// the container check, or the compound file given to the reader) for
// "KELVARA-MISBEHAVE:<mode>:<what>;" and, in that mode, does <what> instead
// of reading:
//   extract:hang-closed   closes its report pipe and blocks for good
//   extract:hang-open     blocks for good with the pipe open
//   extract:marker        searches its memory for "KELVARA-MARKER-" and 32
//                         hex digits (a text the test puts in its own
//                         memory) and for one it put in its own memory
//                         first; refuses with "markers: <digits>..."
//   extract:stat:<path>   learns <path>'s size and owner by newfstatat and
//                         by an O_PATH open and fstat; refuses with what it got
//   extract:asan          reads past a heap block (a report in ASan builds)
//   extract:ubsan         overflows a signed integer (a report in UBSan builds)
//   read:names|texts|rows|cells[:MIB]
//                         reports a read of the sheet "EXPORT" that claims
//                         millions of sheet names, texts, rows or cells in one
//                         row, each as small as the report's format allows, in
//                         a report of MIB MiB (kXlsMaxReportBytes if not given)
// Never installed, never opened by the program: tests choose it with
// UseXlsReader.
#include <fcntl.h>
#include <linux/futex.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "discovery/core/reader_sandbox.h"
#include "discovery/core/xls_reader_child.h"
#include "discovery/core/xls_workbook.h"

namespace {

using namespace kelvara::discovery;

const char kTrigger[] = "KELVARA-MISBEHAVE:";
const char kMarker[] = "KELVARA-MARKER-";
constexpr std::size_t kMarkerDigits = 32;

[[noreturn]] void BlockForGood() {
  static std::uint32_t word = 0;
  for (;;) ::syscall(SYS_futex, &word, FUTEX_WAIT_PRIVATE, 0, nullptr, nullptr, 0);
}

// The readable mappings, listed before the confinement hides /proc.
struct Region {
  std::uintptr_t start, end;
};
std::vector<Region> gRegions;

void ListRegions() {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    unsigned long start = 0, end = 0;
    char perms[5] = {};
    if (std::sscanf(line.c_str(), "%lx-%lx %4s", &start, &end, perms) != 3 || perms[0] != 'r') continue;
    if (line.find("[vvar") != std::string::npos || line.find("[vsyscall]") != std::string::npos) continue;
    // The sanitizers' shadow memory: terabytes of nothing.
    if (end - start > (1ul << 30)) continue;
    // Adjacent mappings are one: a text may run from one into the next.
    if (!gRegions.empty() && gRegions.back().end == start)
      gRegions.back().end = end;
    else
      gRegions.push_back({start, end});
  }
}

sigjmp_buf gFault;
void OnFault(int) { siglongjmp(gFault, 1); }

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// Every marker's digits in the listed regions. Pages unmapped since they
// were listed end their region (SIGSEGV/SIGBUS).
// Kept outside the function: sigsetjmp leaves locals changed after it undefined.
std::vector<std::string> gFound;

__attribute__((no_sanitize("address"))) std::vector<std::string> FindMarkers() {
  std::vector<std::string>& found = gFound;
  found.reserve(64);
  struct sigaction fault{}, oldSegv{}, oldBus{};
  fault.sa_handler = OnFault;
  ::sigaction(SIGSEGV, &fault, &oldSegv);
  ::sigaction(SIGBUS, &fault, &oldBus);
  const std::size_t prefix = sizeof kMarker - 1;
  for (const Region& region : gRegions) {
    if (sigsetjmp(gFault, 1) != 0) continue;
    for (std::uintptr_t at = region.start; at + prefix + kMarkerDigits <= region.end; ++at) {
      const char* p = reinterpret_cast<const char*>(at);
      if (p[0] != kMarker[0]) continue;
      std::size_t i = 1;
      while (i < prefix && p[i] == kMarker[i]) ++i;
      if (i < prefix) continue;
      std::size_t digits = 0;
      while (digits < kMarkerDigits && IsHex(p[prefix + digits])) ++digits;
      if (digits == kMarkerDigits && found.size() < found.capacity()) found.emplace_back(p + prefix, kMarkerDigits);
    }
  }
  ::sigaction(SIGSEGV, &oldSegv, nullptr);
  ::sigaction(SIGBUS, &oldBus, nullptr);
  return found;
}

std::string Outcome(long rc) { return rc == 0 ? "ok" : std::strerror(errno); }

std::string StatOutside(const std::string& path) {
  struct stat st{};
  std::string out = "stat=";
  const long rc = ::syscall(SYS_newfstatat, AT_FDCWD, path.c_str(), &st, 0);
  out += rc == 0 ? "size " + std::to_string(st.st_size) + " uid " + std::to_string(st.st_uid) : Outcome(rc);
  const int fd = static_cast<int>(::syscall(SYS_openat, AT_FDCWD, path.c_str(), O_PATH | O_CLOEXEC));
  out += " opath=";
  if (fd < 0) return out + Outcome(fd);
  st = {};
  out += ::fstat(fd, &st) == 0 ? "size " + std::to_string(st.st_size) + " uid " + std::to_string(st.st_uid) : "no fstat";
  ::close(fd);
  return out;
}

void PutU32(std::string& out, std::uint32_t v) { out.append(reinterpret_cast<const char*>(&v), 4); }
void PutText(std::string& out, const std::string& t) {
  PutU32(out, static_cast<std::uint32_t>(t.size()));
  out += t;
}

// A successful read of "EXPORT" whose one claim fills a report of `size`
// bytes: every entry as small as the format allows.
std::string CountsReport(const std::string& what, std::size_t size) {
  std::string out;
  out.reserve(size);
  out.push_back(1);
  PutText(out, "");
  // Header fields after the claim: sheet name, texts, rows (4 + 6, 4, 4).
  const std::size_t tail = 10 + 4 + 4;
  if (what == "names") {
    const std::size_t count = (size - out.size() - 4 - tail) / 4;
    PutU32(out, static_cast<std::uint32_t>(count));
    out.append(count * 4, '\0');
  } else {
    PutU32(out, 1);
    PutText(out, "EXPORT");
  }
  PutText(out, "EXPORT");
  if (what == "texts") {
    const std::size_t count = (size - out.size() - 4 - 4) / 4;
    PutU32(out, static_cast<std::uint32_t>(count));
    out.append(count * 4, '\0');
  } else {
    PutU32(out, 0);
  }
  if (what == "rows") {
    const std::size_t count = (size - out.size() - 4) / 4;
    PutU32(out, static_cast<std::uint32_t>(count));
    out.append(count * 4, '\0');
  } else if (what == "cells") {
    PutU32(out, 1);
    const std::size_t count = size - out.size() - 4;
    PutU32(out, static_cast<std::uint32_t>(count));
    out.append(count, '\0');  // empty cells: a type byte each
  } else {
    PutU32(out, 0);
  }
  return out;
}

std::optional<std::string> TakeOver(const std::string& mode, const std::string& input) {
  std::string bytes = input;
  if (mode == kXlsReaderRead) {
    std::ifstream file(input, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(file), {});
  }
  const std::string wanted = kTrigger + mode + ":";
  const std::size_t at = bytes.find(wanted);
  if (at == std::string::npos) return std::nullopt;
  const std::size_t end = bytes.find(';', at);
  const std::string what = bytes.substr(at + wanted.size(), end == std::string::npos ? 0 : end - at - wanted.size());
  if (what == "hang-closed") {
    ::close(kReaderReportFd);
    BlockForGood();
  }
  if (what == "hang-open") BlockForGood();
  if (what == "marker") {
    // Its own, made here so that no copy of it sits in the program's file.
    static char own[64];
    std::memcpy(own, kMarker, sizeof kMarker - 1);
    std::memset(own + sizeof kMarker - 1, 'c', kMarkerDigits);
    asm volatile("" : : "r"(own) : "memory");  // nothing here reads it: keep the stores
    std::string out = "Emarkers:";
    for (const std::string& digits : FindMarkers()) out += " " + digits;
    return out;
  }
  if (what.rfind("stat:", 0) == 0) return "E" + StatOutside(what.substr(5));
  if (what == "asan") {
    char* block = new char[8];
    volatile std::size_t end = 8;
    volatile char past = block[end];
    delete[] block;
    return "Eread past a block: " + std::to_string(past);
  }
  if (what == "ubsan") {
    volatile int most = 0x7fffffff;
    const int over = most + 1;
    return "Eoverflowed: " + std::to_string(over);
  }
  if (mode == kXlsReaderRead) {
    const std::size_t colon = what.find(':');
    const std::size_t size = colon == std::string::npos ? kXlsMaxReportBytes : std::stoul(what.substr(colon + 1)) << 20;
    return CountsReport(what.substr(0, colon), std::min(size, kXlsMaxReportBytes));
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  XlsReaderHooks hooks;
  hooks.beforeConfinement = ListRegions;
  hooks.takeOver = TakeOver;
  return XlsReaderMain(argc, argv, hooks);
}
