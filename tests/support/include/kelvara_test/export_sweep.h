#pragma once
// A library's C exports swept over their allocations, one table row an
// export: every failed call must return the row's failure value with no
// exception, and the call that finally runs through what the row expects.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "kelvara_test/alloc_failure.h"

namespace kelvara::test {

struct ExportCase {
  const char* name;
  std::function<long()> call;
  long failure;
  std::optional<long> completes_with;
  // A failure the library reports as its own result, where it has one (a
  // file that could not be opened): as good as `failure`.
  std::optional<long> or_failure = {};
};

// Sweeps each row (`only_from` as in SweepAllocationFailures); the exports an
// exception left are named in one line, so a run shows how many there are.
inline void SweepExports(const std::vector<ExportCase>& calls, const void* only_from = nullptr) {
  std::string escaped;
  for (const ExportCase& c : calls) {
    SCOPED_TRACE(c.name);
    const AllocationSweep s = SweepAllocationFailures(
        [&] {
          const long r = c.call();
          return r == c.or_failure ? c.failure : r;
        },
        c.failure, 400, {}, only_from);
    if (s.escaped != 0) escaped += std::string(" ") + c.name;
    EXPECT_EQ(s.escaped, 0) << s.first_escape;
    EXPECT_EQ(s.wrong_results, 0);
    EXPECT_TRUE(s.completed);
    if (c.completes_with) {
      EXPECT_EQ(s.last_result, *c.completes_with);
    }
  }
  if (!escaped.empty()) std::printf("exports an exception left:%s\n", escaped.c_str());
}

}  // namespace kelvara::test
