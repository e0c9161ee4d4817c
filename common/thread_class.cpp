#include "common/thread_class.h"

#include <chrono>
#include <system_error>

#include "common/debug_log.h"
#include "common/xml_values.h"

using kelvara::DebugLogPrintf;


CThreadClass::CThreadClass() = default;

CThreadClass::~CThreadClass() {
  if (!stopped_.load()) {
    // The derived part is already gone while its body may still run: a derived
    // class must stop its thread in its own destructor. Waiting here at least
    // keeps this object's memory alive until the thread has ended.
    DebugLogPrintf("%s::~CThreadClass thread still running at destruction!\n", name_.c_str());
  }
  StopAndWait();
}

void CThreadClass::SetThreadName(std::string_view name) {
  name_ = kelvara::TruncateUtf8(name, kMaxNameLength);
}

int CThreadClass::IsRunning() const { return running_.load() && !stopped_.load() ? 1 : 0; }

int CThreadClass::IsStopped() const { return stopped_.load() ? 1 : 0; }

int CThreadClass::Stop() { return Kill(0); }

int CThreadClass::Kill(int timeout_ms) {
  if (stopped_.load()) {
    JoinIfEnded();
    return 0;
  }
  running_.store(false);
  if (timeout_ms <= 0) return 0;
  bool ended;
  {
    std::unique_lock lock(state_mutex_);
    ended = ended_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                            [this] { return stopped_.load(); });
  }
  if (ended) {
    JoinIfEnded();
    return 1;
  }
  DebugLogPrintf("%s::Kill() thread did not end within %d ms; left running!\n", name_.c_str(), timeout_ms);
  return 0;
}

int CThreadClass::Start() {
  if (running_.load() && !stopped_.load()) {
    DebugLogPrintf("%s::Start thread is running!\n", name_.c_str());
    return -1;
  }
  // A thread of an earlier run (asked to stop, body not yet returned) gets
  // time to end; a new one never runs beside it.
  Kill(restart_wait_ms_);
  if (!stopped_.load()) {
    DebugLogPrintf("%s::Start earlier thread has not ended, not started!\n", name_.c_str());
    return -2;
  }
  JoinIfEnded();
  // Set before the thread exists, so a Stop() right after Start() is never
  // overwritten by the new thread.
  running_.store(true);
  stopped_.store(false);
  try {
    thread_ = std::thread([this] { ThreadEntry(); });
  } catch (const std::system_error& e) {
    DebugLogPrintf("%s::Create thread Error,code=%d!\n", name_.c_str(), e.code().value());
    running_.store(false);
    stopped_.store(true);
    return -2;
  }
  return 0;
}

void CThreadClass::StopAndWait() {
  if (Kill(destroy_wait_ms_) == 0 && !stopped_.load()) {
    DebugLogPrintf("%s::StopAndWait waiting for a thread that ignores the stop request\n", name_.c_str());
  }
  if (thread_.joinable()) thread_.join();
}

int CThreadClass::Thread() { return -1; }

int CThreadClass::ThreadEntry() {
  const int result = Thread();
  {
    std::lock_guard lock(state_mutex_);
    running_.store(false);
    stopped_.store(true);
    // Notify under the lock: the owner may destroy the object as soon as it
    // sees the flag and has joined, which waits for this thread to return.
    ended_.notify_all();
  }
  return result;
}

void CThreadClass::JoinIfEnded() {
  if (stopped_.load() && thread_.joinable()) thread_.join();
}
