#include "kelvara_test/bench.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <set>
#include <system_error>

namespace kelvara::bench {

namespace {

// The folders still there, removed at exit (std::exit runs this; a crash
// does not, and the runner's own temporary folder catches what is left).
struct Leftovers {
  std::mutex mutex;
  std::set<std::filesystem::path> folders;
  ~Leftovers() {
    for (const auto& f : folders) {
      std::error_code ec;
      std::filesystem::remove_all(f, ec);
    }
  }
};

Leftovers& AtExit() {
  static Leftovers leftovers;
  return leftovers;
}

}  // namespace

void PrintRatio(const std::string& name, double value, const std::string& goal) {
  std::printf("ratio %s %.3f goal %s\n", name.c_str(), value, goal.c_str());
  std::fflush(stdout);
}

void PrintMeasured(const std::string& name, double value, const std::string& unit, const std::string& goal) {
  std::printf("measured %s %.4g %s goal %s\n", name.c_str(), value, unit.c_str(), goal.c_str());
  std::fflush(stdout);
}

void Skip(benchmark::State& state, const std::string& why) { state.SkipWithError(("skipped: " + why).c_str()); }

TempFolder::TempFolder(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::system_error(errno, std::generic_category(), "mkdtemp");
  path_ = pattern;
  Leftovers& l = AtExit();
  std::lock_guard lock(l.mutex);
  l.folders.insert(path_);
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
  Leftovers& l = AtExit();
  std::lock_guard lock(l.mutex);
  l.folders.erase(path_);
}

int RunBenchmarks(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  std::size_t ran = 0;
  try {
    ran = benchmark::RunSpecifiedBenchmarks();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "a benchmark threw: %s\n", e.what());
    benchmark::Shutdown();
    return 1;
  }
  benchmark::Shutdown();
  if (ran == 0) std::fprintf(stderr, "no benchmark matched\n");
  return ran == 0 ? 1 : 0;
}

}  // namespace kelvara::bench
