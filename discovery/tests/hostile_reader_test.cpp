// Kelvara's .xls import against a reader that the workbook has taken over:
// the test build of the reader program (kelvara-xls-reader-hostile,
// hostile_reader.cpp) misbehaves as the crafted file given to the import
// asks. The program must end a child that hangs, refuse a report that
// claims millions without making room for them (and never end on running
// out of memory), and give the child nothing of its memory or of files
// beyond its input. Each import runs in a process of its own, bounded in
// time and, in release builds, in address space.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <string_view>

#include "discovery/core/device_sheet.h"
#include "discovery/core/xls_workbook.h"
#include "discovery/tests/child_process.h"
#include "kelvara_test/test_env.h"

namespace kelvara::discovery {
namespace {

namespace fs = std::filesystem;

#ifdef KELVARA_SANITIZER_BUILD
constexpr bool kUnderSanitizer = true;
#else
constexpr bool kUnderSanitizer = false;
#endif

int TimeScale() {
  const char* s = std::getenv("KELVARA_TEST_TIME_SCALE");
  return s && std::atoi(s) > 0 ? std::atoi(s) : 1;
}

// The test build of the reader for the tests of a scope, then the shipped
// one again. Its time-out grows with the build's slowness (sanitizers).
struct HostileReaderInUse {
  explicit HostileReaderInUse(int timeout_ms = kXlsReaderTimeout_ms * TimeScale()) {
    EXPECT_EQ(UseXlsReader(kelvara::test::BinDir() / "kelvara-xls-reader-hostile", timeout_ms), "");
  }
  ~HostileReaderInUse() { UseXlsReader(); }
};

// The text of an import's refusal, or "imported"; then whether a child of
// this process is left, running or not reaped.
std::string ImportOutcome(const fs::path& file) {
  const ImportResult r = ImportDeviceSheet(file);
  const bool childLeft = ::waitpid(-1, nullptr, WNOHANG) >= 0 || errno != ECHILD;
  return (r.error ? r.error->Text() : "imported") + (childLeft ? " [a child is left]" : "");
}

// A file the container check takes over on.
fs::path ExtractTrigger(const std::string& what) {
  const fs::path file = kelvara::test::MakeTempDir() / "hostile.xls";
  std::ofstream(file, std::ios::binary) << "KELVARA-MISBEHAVE:extract:" << what << ";";
  return file;
}

// A sound workbook with an "EXPORT" sheet whose stream ends in a record the
// reader does not know, holding the trigger: the container check passes it
// on and the reader takes over on it.
fs::path ReadTrigger(const std::string& what) {
  std::string stream = BuildBiff8Workbook({XlsSheet{kExportSheetName, {{XlsCell::Text("IPADDR")}}}});
  const std::string body = "KELVARA-MISBEHAVE:read:" + what + ";";
  const char header[4] = {0x34, 0x12, static_cast<char>(body.size()), 0};
  stream.append(header, 4).append(body);
  std::string error;
  const std::string file = WrapWorkbookStream(stream, &error);
  EXPECT_FALSE(file.empty()) << error;
  const fs::path path = kelvara::test::MakeTempDir() / "hostile.xls";
  std::ofstream(path, std::ios::binary) << file;
  return path;
}

// The child closes its report pipe and blocks, or blocks with it open: the
// import is refused at the reader's time-out and the child reaped.
TEST(HostileXlsReader, AChildThatHangsIsEndedAndReapedAtTheDeadline) {
  const int timeout_ms = 1000 * TimeScale();
  HostileReaderInUse reader(timeout_ms);
  for (const char* how : {"hang-closed", "hang-open"}) {
    const fs::path file = ExtractTrigger(how);
    EXPECT_EQ(test_process::Run([&] { return ImportOutcome(file); }),
              "reading the workbook took longer than " + std::to_string(timeout_ms / 1000) +
                  " s; the reader was stopped")
        << how;
  }
}

// Reports of 16 MiB that claim 4 million sheet names, texts or rows, or 16
// million cells in one row: each is refused on its count before anything
// is made for it. The program that read them ran with 256 MiB of address
// space to spare (in release builds), where making room for the claims
// needs 0.1 to 0.5 GB. With 8 MiB to spare it cannot hold a report of 64
// MiB (which needs new mappings whatever this process freed before): a
// refusal too, not the end of the program.
TEST(HostileXlsReader, ReportsThatClaimMillionsAreRefusedInBoundedMemory) {
  HostileReaderInUse reader;
  const std::string refused = "the workbook's reader sent a report that cannot be right: ";
  struct Case {
    const char* what;
    std::uint64_t spareBytes;
    std::string error;
  } cases[] = {
      {"names:16", 256ull << 20, refused + "it claims 4194297 sheet names (at most 65536)"},
      {"texts:16", 256ull << 20, refused + "it claims 4194294 texts (at most 524544)"},
      {"rows:16", 256ull << 20, refused + "it claims 4194294 rows (at most 2049)"},
      {"cells:16", 256ull << 20, refused + "it claims 16777175 cells in row 1 (at most 256)"},
      {"cells:64", 8ull << 20, "this program has not enough memory for what the reader reports"},
  };
  for (const Case& c : cases) {
    // The sanitizers' runtimes reserve terabytes: no address-space limit there.
    if (kUnderSanitizer && c.spareBytes < (256ull << 20)) continue;
    const fs::path file = ReadTrigger(c.what);
    const auto limit = [&] {
      if (kUnderSanitizer) return true;
      std::uint64_t pages = 0;
      if (std::FILE* f = std::fopen("/proc/self/statm", "re")) {
        if (std::fscanf(f, "%lu", &pages) != 1) pages = 0;
        std::fclose(f);
      }
      // The soft limit only: the reader program started from here sets its own.
      rlimit r{};
      ::getrlimit(RLIMIT_AS, &r);
      r.rlim_cur = pages * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)) + c.spareBytes;
      return pages > 0 && ::setrlimit(RLIMIT_AS, &r) == 0;
    };
    EXPECT_EQ(test_process::Run([&] { return ImportOutcome(file); }, limit), c.error)
        << c.what << " with " << (c.spareBytes >> 20) << " MiB to spare";
  }
}

// A device password in this process's memory and environment stands in for
// what the child must not hold: it finds the text it put in its own memory,
// and nothing of this process's.
TEST(HostileXlsReader, TheChildHoldsNothingOfTheProgramsMemory) {
  HostileReaderInUse reader;
  std::mt19937_64 random(std::random_device{}());
  char digits[33];
  std::snprintf(digits, sizeof digits, "%016llx%016llx", static_cast<unsigned long long>(random()),
                static_cast<unsigned long long>(random()));
  const auto password = std::make_unique<std::string>(std::string("KELVARA-MARKER-") + digits);
  ::setenv("KELVARA_TEST_DEVICE_PASSWORD", password->c_str(), 1);
  const fs::path file = ExtractTrigger("marker");
  const std::string got = ImportOutcome(file);
  ::unsetenv("KELVARA_TEST_DEVICE_PASSWORD");
  EXPECT_EQ(got, "markers: " + std::string(32, 'c'));
  EXPECT_EQ(got.find(digits), std::string::npos);
}

// The child asks for a file's size and owner beyond its input, by path
// (newfstatat) and through an O_PATH descriptor. Where user namespaces work
// the path does not exist for it; where they do not, Landlock alone cannot
// keep the size and owner from it (docs/discovery.md).
TEST(HostileXlsReader, TheChildLearnsNothingOfFilesBeyondItsInput) {
  HostileReaderInUse reader;
  const fs::path secret = kelvara::test::MakeTempDir() / "secret.txt";
  std::ofstream(secret) << std::string(12345, 's');
  const fs::path file = ExtractTrigger("stat:" + secret.string());
  const std::string stat = test_process::UserNamespacesWork()
                               ? "No such file or directory"
                               : "size 12345 uid " + std::to_string(::getuid());
  EXPECT_EQ(ImportOutcome(file), "stat=" + stat + " opath=Permission denied");
}

// In sanitizer builds the child's reports reach this process's stderr
// whole, with modules and offsets, and the import is refused.
TEST(HostileXlsReader, SanitizerReportsOfTheChildAreSeen) {
  if (!kUnderSanitizer) GTEST_SKIP() << "only sanitizer builds report";
  HostileReaderInUse reader;
  const char* halt = std::getenv("UBSAN_OPTIONS");
  struct Case {
    const char* what;
    const char* report;
    const char* end;  // the report's last line, which a child ended mid-report lacks
  } cases[] = {
      {"asan", "AddressSanitizer: heap-buffer-overflow", "==ABORTING"},
      {"ubsan", "runtime error: signed integer overflow", "SUMMARY: UndefinedBehaviorSanitizer"},
  };
  for (const Case& c : cases) {
    // UBSan goes on after its report unless told to halt.
    if (std::string_view(c.what) == "ubsan" && (!halt || !std::strstr(halt, "halt_on_error=1"))) continue;
    const fs::path file = ExtractTrigger(c.what), log = kelvara::test::MakeTempDir() / "stderr.txt";
    std::fflush(stderr);
    const int saved = ::dup(2);
    const int to = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(to, 0);
    ::dup2(to, 2);
    const std::string got = ImportOutcome(file);
    ::dup2(saved, 2);
    ::close(saved);
    ::close(to);
    EXPECT_EQ(got, "not an Excel 97-2003 workbook, or a damaged one") << c.what;
    std::ifstream in(log);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(text.find(c.report), std::string::npos) << text;
    EXPECT_NE(text.find(c.end), std::string::npos) << text;
    // Frames name their module, for a symbolizer afterwards.
    EXPECT_NE(text.find("kelvara-xls-reader-hostile+0x"), std::string::npos) << text;
  }
}

}  // namespace
}  // namespace kelvara::discovery
