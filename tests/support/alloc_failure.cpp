// The replaceable global operator new of the test binaries that link it: a
// thread-local countdown makes one chosen allocation fail.
#include "kelvara_test/alloc_failure.h"

#include <dlfcn.h>

#include <cstdlib>
#include <exception>
#include <new>

namespace {

thread_local long t_countdown = -1;  // allocations left before the failure; -1: none armed
thread_local bool t_failed = false;
// When set, only allocations made by code of this shared object count.
thread_local const void* t_only_base = nullptr;

const void* ObjectBase(const void* address) {
  Dl_info info{};
  return dladdr(address, &info) != 0 ? info.dli_fbase : nullptr;
}

// True when this allocation, asked for by code at `caller`, is the one to fail.
bool FailThisOne(const void* caller) {
  if (t_countdown < 0) return false;
  if (t_only_base != nullptr && ObjectBase(caller) != t_only_base) return false;
  if (t_countdown-- > 0) return false;
  t_failed = true;
  return true;
}

void* Allocate(std::size_t size, const void* caller) {
  if (FailThisOne(caller)) throw std::bad_alloc();
  for (;;) {
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) throw std::bad_alloc();
    handler();
  }
}

void* AllocateNoThrow(std::size_t size, const void* caller) noexcept {
  if (FailThisOne(caller)) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size, __builtin_return_address(0)); }
void* operator new[](std::size_t size) { return Allocate(size, __builtin_return_address(0)); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return AllocateNoThrow(size, __builtin_return_address(0));
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return AllocateNoThrow(size, __builtin_return_address(0));
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace kelvara::test {

void FailNthAllocation(long n, const void* only_from) {
  t_failed = false;
  t_only_base = only_from != nullptr ? ObjectBase(only_from) : nullptr;
  t_countdown = n;
}

bool StopFailingAllocations() {
  t_countdown = -1;
  t_only_base = nullptr;
  const bool failed = t_failed;
  t_failed = false;
  return failed;
}

AllocationSweep SweepAllocationFailures(const std::function<long()>& call, long failure, int limit,
                                        const std::function<void()>& after_failure, const void* only_from) {
  AllocationSweep sweep;
  for (long n = 0; n < limit; ++n) {
    long result = 0;
    bool escaped = false;
    std::string what;
    FailNthAllocation(n, only_from);
    try {
      result = call();
    } catch (const std::exception& e) {
      escaped = true;
      StopFailingAllocations();  // before the text is copied
      what = e.what();
    } catch (...) {
      escaped = true;
    }
    const bool failed = StopFailingAllocations() || escaped;
    if (!failed) {
      sweep.completed = true;
      sweep.last_result = result;
      return sweep;
    }
    ++sweep.failed_calls;
    if (escaped) {
      if (sweep.escaped++ == 0) sweep.first_escape = what.empty() ? "unknown exception" : what;
    } else if (result != failure) {
      ++sweep.wrong_results;
    }
    if (after_failure) after_failure();
  }
  return sweep;
}

}  // namespace kelvara::test
