#include "session_starter.h"

#include <pthread.h>

#include <algorithm>
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
    for (auto& session : ended) retired_.push_back(std::move(session));
  }
  ended.clear();
  wake_.notify_one();
  return true;
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
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] {
      return stopping_ || !queue_.empty() || !retired_.empty() || !ended_.empty();
    });
    if (!retired_.empty()) {
      WakeRetired(lock);
    } else if (!queue_.empty()) {
      StartQueued(lock);
    } else if (!ended_.empty()) {
      // One at a time, so that what is queued meanwhile waits for one join at most.
      std::shared_ptr<Session> session = std::move(ended_.front());
      ended_.pop_front();
      lock.unlock();
      session->Stop();
      // Most often the last reference: the login's descriptor and buffer go here.
      session.reset();
      lock.lock();
    } else {
      return;  // stopping, and all started and joined
    }
  }
}

void SessionStarter::WakeRetired(std::unique_lock<std::mutex>& lock) {
  std::deque<std::shared_ptr<Session>> woken;
  woken.swap(retired_);
  lock.unlock();
  // Each wake-up lets a thread run at once, often on the waker's core: done
  // here, not by the thread that logged them out.
  for (auto& session : woken) session->RequestStop();
  lock.lock();
  for (auto& session : woken) ended_.push_back(std::move(session));
}

void SessionStarter::StartQueued(std::unique_lock<std::mutex>& lock) {
  // A burst of logins (a refresh logs in every new row at once) is let
  // finish before its threads are made: making a thread takes the process's
  // address-space lock, which the caller's own allocations wait for, and
  // the new threads' work would compete with the caller for the CPU.
  const auto noticed = Clock::now();
  while (!stopping_) {
    if (!retired_.empty()) WakeRetired(lock);
    const auto now = Clock::now();
    if (now >= last_enqueue_ + kBurstQuiet || now >= noticed + kBurstWaitMax) break;
    wake_.wait_until(lock, std::min(last_enqueue_ + kBurstQuiet, noticed + kBurstWaitMax));
  }
  // Then everything queued, also what comes meanwhile, without waiting again;
  // logins ended meanwhile are woken first.
  while (!queue_.empty()) {
    if (!retired_.empty()) WakeRetired(lock);
    std::shared_ptr<Session> session = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    session->Start();
    // A session logged out meanwhile may end here, with this last reference.
    session.reset();
    lock.lock();
  }
}

}  // namespace varurovodiv
