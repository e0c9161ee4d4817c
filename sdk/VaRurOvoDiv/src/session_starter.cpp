#include "session_starter.h"

#include <pthread.h>

#include <algorithm>
#include <new>
#include <system_error>

#include "sdk_log.h"
#include "session.h"

namespace varurovodiv {
namespace {

// Once its queue fills, the starter begins when no login came for
// kBurstQuiet, or kBurstWaitMax after it saw the first one, whichever is
// sooner.
constexpr auto kBurstQuiet = std::chrono::milliseconds(5);
constexpr auto kBurstWaitMax = std::chrono::milliseconds(100);
// Logins started, or ended logins woken and joined, in one step; steps of the
// two kinds take turns.
constexpr size_t kBatch = 32;

}  // namespace

bool SessionStarter::Enqueue(std::shared_ptr<Session> session) {
  bool was_empty = false;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return false;
    if (!running_) {
      try {
        thread_ = std::thread([this] { Run(); });
      } catch (const std::system_error& e) {
        SdkLog("no thread to start logins on: %s", e.what());
        return false;
      }
      running_ = true;
    }
    was_empty = queue_.empty();
    queue_.push_back(std::move(session));
    last_enqueue_ = Clock::now();
  }
  // The starter waits only when its queue is empty.
  if (was_empty) wake_.notify_one();
  return true;
}

bool SessionStarter::Retire(std::vector<std::shared_ptr<Session>>& ended) {
  if (ended.empty()) return true;
  {
    std::lock_guard lock(mutex_);
    // No thread is made for this: a starter without one never started a
    // login (its threads were made by their callers), and ends none.
    if (!running_ || stopping_) return false;
    const size_t before = retired_.size();
    try {
      for (auto& session : ended) retired_.push_back(std::move(session));
    } catch (const std::bad_alloc&) {
      // Given back as they were: the caller ends them itself.
      for (size_t i = before; i < retired_.size(); ++i) ended[i - before] = std::move(retired_[i]);
      retired_.resize(before);
      return false;
    }
  }
  ended.clear();
  wake_.notify_one();
  return true;
}

void SessionStarter::Join(std::shared_ptr<Session> finished) {
  {
    std::lock_guard lock(mutex_);
    if (!running_ || stopping_) return;
    finished_.push_back(std::move(finished));
  }
  wake_.notify_one();
}

void SessionStarter::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (!running_) return;
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
  std::lock_guard lock(mutex_);
  running_ = false;
  stopping_ = false;
}

void SessionStarter::Run() {
  pthread_setname_np(pthread_self(), "vrod-starter");
  // Nothing thrown here may end the process: a step that fails (memory
  // running out) is logged and taken again a moment later, from the queues
  // as they were left.
  for (;;) {
    try {
      Serve();
      return;
    } catch (const std::exception& e) {
      SdkLog("the login starter: %s", e.what());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void SessionStarter::Serve() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty() || !retired_.empty() || !finished_.empty(); });
    if (!finished_.empty()) {
      // Threads that have ended or are returning: each join is short.
      std::vector<std::shared_ptr<Session>> finished;
      finished.swap(finished_);
      lock.unlock();
      for (auto& session : finished) session->JoinEnded();
      finished.clear();
      lock.lock();
    }
    if (queue_.empty() && retired_.empty()) {
      if (stopping_) return;  // all started and joined
      continue;
    }
    const bool ending = !retired_.empty();
    if (ending) EndSome(lock);
    if (queue_.empty()) continue;
    // A burst of logins (a refresh logs in every new row at once) is let
    // finish before its threads are made: making a thread takes the process's
    // address-space lock, which the caller's own allocations wait for, and
    // the new threads' work would compete with the caller for the CPU. Once
    // begun, everything queued is started, also what comes meanwhile, without
    // waiting again.
    const auto now = Clock::now();
    if (!starting_) {
      if (noticed_ == Clock::time_point{}) noticed_ = now;
      starting_ = stopping_ || now >= last_enqueue_ + kBurstQuiet || now >= noticed_ + kBurstWaitMax;
    }
    if (starting_) {
      StartSome(lock);
    } else if (!ending) {
      wake_.wait_until(lock, std::min(last_enqueue_ + kBurstQuiet, noticed_ + kBurstWaitMax));
    }
  }
}

void SessionStarter::EndSome(std::unique_lock<std::mutex>& lock) {
  std::vector<std::shared_ptr<Session>> batch;
  batch.reserve(kBatch);  // before any session leaves the queue
  while (!retired_.empty() && batch.size() < kBatch) {
    batch.push_back(std::move(retired_.front()));
    retired_.pop_front();
  }
  lock.unlock();
  // Woken together, they end in parallel, each closing its link at once; a
  // batch at a time, as thousands of threads ending at once hold up the rest
  // of the process (the address-space lock again).
  for (auto& session : batch) session->RequestStop();
  for (auto& session : batch) session->Stop();
  // Most often the last references: the logins' descriptors and buffers go here.
  batch.clear();
  lock.lock();
}

void SessionStarter::StartSome(std::unique_lock<std::mutex>& lock) {
  for (size_t n = 0; n < kBatch && !queue_.empty(); ++n) {
    std::shared_ptr<Session> session = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    try {
      session->Start(this);
    } catch (const std::exception& e) {
      // Start marks a login without a thread ended before it reports it;
      // only that report was lost.
      SdkLog("a login could not be started: %s", e.what());
    }
    // A session logged out meanwhile may end here, with this last reference.
    session.reset();
    lock.lock();
  }
  if (queue_.empty()) {
    starting_ = false;
    noticed_ = Clock::time_point{};
  }
}

}  // namespace varurovodiv
