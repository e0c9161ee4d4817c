#pragma once
// The edge of the SDK's C functions: whatever a call's body throws becomes
// ZQ_NETSDK_ERR_INTERNAL (or the function's own failure value) and a line in
// the SDK's log naming the function.
#include <utility>

#include "VaRurOvoDiv/zq_netsdk_ipc.h"
#include "common/c_boundary.h"
#include "sdk_log.h"

namespace varurovodiv {

template <class Result, class Body>
Result GuardedCall(const char* function, Result failure, Body&& body) noexcept {
  return kelvara::CallAtCBoundary(failure, std::forward<Body>(body), [function](const char* what) {
    SdkLog("%s failed inside the SDK: %s", function, what);
  });
}

template <class Body>
int GuardedCall(const char* function, Body&& body) noexcept {
  return GuardedCall(function, int{ZQ_NETSDK_ERR_INTERNAL}, std::forward<Body>(body));
}

}  // namespace varurovodiv
