#pragma once
// Base of the long-running worker objects that own one thread each (the device
// log receiver and writer). A derived class supplies the body in Thread(); the
// base starts the thread, says whether it runs, asks it to stop and waits for
// it with a time-out.
//
// A thread is never ended by force: a body that ignores the stop request past
// the time-out is logged and left running, and the object keeps owning it, so
// nothing the thread uses is freed under it. The object's destructor waits for
// the thread as long as it takes.
//
// Rule for derived classes: the body polls IsRunning() (or a flag of its own)
// between short steps and returns when it turns false. A derived class whose
// body uses its own members calls StopAndWait() first thing in its destructor,
// so the thread has ended before those members are destroyed (the base
// destructor runs only after them).
//
// Start, Stop, Kill, StopAndWait and the destructor belong to the owner's
// thread; IsRunning and IsStopped may be called from any thread. Only the body
// is virtual, so a body that polls IsRunning() reads no virtual table while the
// object is being destroyed.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

class CThreadClass {
 public:
  CThreadClass();
  virtual ~CThreadClass();

  CThreadClass(const CThreadClass&) = delete;
  CThreadClass& operator=(const CThreadClass&) = delete;

  // Names the thread in log lines; at most 255 bytes are kept. Call before Start.
  void SetThreadName(std::string_view name);
  const std::string& ThreadName() const { return name_; }

  // 1 while the owner wants the thread to go on and its body has not returned.
  int IsRunning() const;
  // 1 when no body runs (never started, or the body returned).
  int IsStopped() const;

  // Asks the thread to stop and returns at once (Kill(0)).
  int Stop();

  // Asks the thread to stop and waits up to `timeout_ms` for its body to
  // return. 1 when it ended within the time, else 0 (also without a thread, or
  // with a time-out of 0 or less, which does not wait). A thread that does not
  // end in time is logged and stays owned by this object.
  int Kill(int timeout_ms);

  // 0 started; -1 already running; -2 no thread was started (the system refused
  // to create one, or a thread of an earlier run has still not ended within the
  // restart wait).
  int Start();

  // Asks the thread to stop, waits the destroy wait, logs when it has not ended,
  // then waits until it has. Returns once no thread of this object runs.
  void StopAndWait();

  // How long Start waits for a thread of an earlier run, and StopAndWait (the
  // destructor) for the thread before it logs and goes on waiting.
  void SetStopTimeouts(int restart_ms, int destroy_ms) {
    restart_wait_ms_ = restart_ms;
    destroy_wait_ms_ = destroy_ms;
  }

  static constexpr int kRestartWaitMs = 60000;
  static constexpr int kDestroyWaitMs = 5000;
  static constexpr std::size_t kMaxNameLength = 255;

 protected:
  // The thread body; the base's returns -1 at once.
  virtual int Thread();

  // For derived classes; the base never locks it.
  std::mutex m_critical;

 private:
  // Runs on the new thread: the body, then marks the object stopped.
  int ThreadEntry();
  // Joins a thread whose body has returned.
  void JoinIfEnded();

  std::string name_;
  int restart_wait_ms_ = kRestartWaitMs;
  int destroy_wait_ms_ = kDestroyWaitMs;
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> stopped_{true};
  std::mutex state_mutex_;
  std::condition_variable ended_;
};
