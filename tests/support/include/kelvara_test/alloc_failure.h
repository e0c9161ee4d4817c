#pragma once
// Allocation failures on demand, for tests of what a call does when memory runs
// out. A test binary that links kelvara_test_alloc_failure replaces the global
// operator new; the shared libraries it loads allocate through it too. Only the
// thread that armed a failure sees it, so the threads of a library (and of an
// in-process simulator) keep allocating normally.
#include <functional>
#include <string>

namespace kelvara::test {

// The calling thread's `n`th allocation from now (0: the next one) throws
// std::bad_alloc (a nothrow allocation returns null); later ones succeed.
// With `only_from` (any address in a shared object) only the allocations that
// object's own code asks for count and fail: a library over a toolkit that is
// not safe against failing allocations (Qt's widgets) is tested on its own
// code alone.
void FailNthAllocation(long n, const void* only_from = nullptr);
// Disarms; true when the armed failure was thrown (or returned) since arming.
bool StopFailingAllocations();

// What one sweep of a call over its allocations found.
struct AllocationSweep {
  int failed_calls = 0;   // calls whose injected failure was reached
  int escaped = 0;        // of those, calls an exception left
  int wrong_results = 0;  // of those, calls that returned something else than the failure value
  bool completed = false; // a call ran through without reaching its failure
  long last_result = 0;   // what the completing call returned
  std::string first_escape;  // the first escaped exception's text
};

// Calls `call` with its first, second, ... allocation on this thread failing,
// until a call runs without reaching the failure (at most `limit` calls). Each
// failed call must return `failure` without an exception; `after_failure`, when
// set, runs after each failed call (to check nothing was left behind).
AllocationSweep SweepAllocationFailures(const std::function<long()>& call, long failure, int limit = 400,
                                        const std::function<void()>& after_failure = {},
                                        const void* only_from = nullptr);

}  // namespace kelvara::test
