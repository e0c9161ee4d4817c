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
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping, and all started
    // A burst of logins (a refresh logs in every new row at once) is let
    // finish before its threads are made: making a thread takes the process's
    // address-space lock, which the caller's own allocations wait for, and
    // the new threads' work would compete with the caller for the CPU.
    const auto noticed = Clock::now();
    while (!stopping_) {
      const auto now = Clock::now();
      if (now >= last_enqueue_ + kBurstQuiet || now >= noticed + kBurstWaitMax) break;
      wake_.wait_until(lock, std::min(last_enqueue_ + kBurstQuiet, noticed + kBurstWaitMax));
    }
    // Then everything queued, also what comes meanwhile, without waiting again.
    while (!queue_.empty()) {
      std::shared_ptr<Session> session = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      session->Start();
      // A session logged out meanwhile may end here, with this last reference.
      session.reset();
      lock.lock();
    }
  }
}

}  // namespace varurovodiv
