#pragma once
// The edge of Rivelin's C functions: whatever a call's body throws becomes
// the function's failure result and a line in Rivelin's own log.
#include <utility>

#include "common/c_boundary.h"
#include "debug_util.h"

template <class Result, class Body>
Result RivelinCall(const char* function, Result failure, Body&& body) noexcept {
  return kelvara::CallAtCBoundary(failure, std::forward<Body>(body), [function](const char* what) {
    DebugLog(function, "rivelin", __LINE__, nullptr, "failed inside the library: %s\n", what);
  });
}
