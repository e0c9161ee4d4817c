#include "session_starter.h"

#include <pthread.h>

#include <system_error>

#include "sdk_log.h"
#include "session.h"

namespace varurovodiv {

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
