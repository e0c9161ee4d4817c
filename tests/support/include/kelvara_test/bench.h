#pragma once
// What every benchmark shares (`make bench`, scripts/run-benchmarks.sh):
// - the two lines it reads into its tables: a ratio of ours over a reference
//   doing the same work in the same run, and an absolute figure in its unit;
// - skipping a case this machine cannot run (the test LAN needs root), told
//   apart from a failure;
// - a temporary folder that goes with everything in it, whatever way the
//   benchmark ends;
// - a main for benchmarks that set up something first (a QApplication): it
//   takes Google Benchmark's flags and fails when no case ran.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

namespace kelvara::bench {

// Prints "ratio <name> <value> goal <goal>": `value` is ours over the
// reference; `goal` is "<=x", ">=x" or "-" (no goal).
void PrintRatio(const std::string& name, double value, const std::string& goal);

// Prints "measured <name> <value> <unit> goal <goal>": an absolute figure
// (ms per login, s per GiB...), `unit` one word.
void PrintMeasured(const std::string& name, double value, const std::string& unit, const std::string& goal);

// Ends the case as skipped, not failed: "skipped: <why>".
void Skip(benchmark::State& state, const std::string& why);

// A fresh folder under the temporary folder (TMPDIR), removed with all it
// holds when the object goes; one still there at exit (a static one, or a
// benchmark that called exit) goes then.
class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix);
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Initialises Google Benchmark from the arguments and runs the cases they
// select. 1 when an argument is not Google Benchmark's, no case was
// selected, or a case threw (the message on standard error); else 0.
int RunBenchmarks(int argc, char** argv);

}  // namespace kelvara::bench
