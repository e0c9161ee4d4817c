#pragma once
// Where a test may write and where it finds the source tree's fixtures.
#include <filesystem>
#include <string>

namespace kelvara::test {

// The temporary folder that KELVARA_HOME points to for this test process.
// Created before the first test runs and removed after the last.
const std::filesystem::path& HomeDir();

// A fresh, empty folder below HomeDir() for one test.
std::filesystem::path MakeTempDir(const char* prefix = "t");

// The source tree (KELVARA_SOURCE_DIR, set by CTest) and the build's bin folder.
std::filesystem::path SourceDir();
std::filesystem::path BinDir();

// What a shell command (an outside oracle such as ffprobe) prints on its
// standard output; empty when it cannot be run.
std::string CommandOutput(const std::string& command);

// Called by the test mains before the tests run.
void SetUpTestHome();
void TearDownTestHome();

// A test home for the life of the object (a benchmark's): removed with all
// it holds when the object goes, however the benchmark ends its run.
struct ScopedTestHome {
  ScopedTestHome() { SetUpTestHome(); }
  ~ScopedTestHome() { TearDownTestHome(); }
  ScopedTestHome(const ScopedTestHome&) = delete;
  ScopedTestHome& operator=(const ScopedTestHome&) = delete;
};

}  // namespace kelvara::test
