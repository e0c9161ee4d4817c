#include "event_dispatcher.h"

#include <pthread.h>

#include <algorithm>

#include "sdk_log.h"

namespace varurovodiv {
namespace {
// A callback that never returns must not make the SDK grow without bound.
constexpr size_t kMaxQueued = 1u << 18;
}  // namespace

void EventDispatcher::Start() {
  std::lock_guard lock(queue_mutex_);
  if (running_) return;
  stopping_ = false;
  running_ = true;
  thread_ = std::thread([this] {
    pthread_setname_np(pthread_self(), "vrod-events");
    Run();
  });
  thread_id_ = thread_.get_id();
}

void EventDispatcher::Stop() {
  {
    std::lock_guard lock(queue_mutex_);
    if (!running_) return;
    stopping_ = true;
  }
  queue_cv_.notify_all();
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(queue_mutex_);
  queue_.clear();
  forgotten_.clear();
  running_ = false;
  thread_id_ = std::thread::id();
}

void EventDispatcher::Post(SdkEvent event) {
  {
    std::lock_guard lock(queue_mutex_);
    if (!running_ || stopping_ || forgotten_.count(event.handle)) return;
    if (queue_.size() >= kMaxQueued) {
      SdkLog("event queue full, dropping event %d of handle %d", event.status_code, event.handle);
      return;
    }
    queue_.push_back(std::move(event));
  }
  queue_cv_.notify_one();
}

void EventDispatcher::SetStatusCallback(STATUS_EVENT_CALLBACK callback, void* user) {
  std::lock_guard call(call_mutex_);
  status_callback_ = callback;
  status_user_ = user;
}

void EventDispatcher::SetAuxCallback(AUX_RESPONSE_CALLBACK callback, void* user) {
  std::lock_guard call(call_mutex_);
  aux_callback_ = callback;
  aux_user_ = user;
}

void EventDispatcher::Forget(int handle) {
  {
    std::lock_guard lock(queue_mutex_);
    forgotten_.insert(handle);
    queue_.erase(std::remove_if(queue_.begin(), queue_.end(),
                                [handle](const SdkEvent& e) { return e.handle == handle; }),
                 queue_.end());
  }
  // Wait for a callback of this handle that may be running right now.
  std::lock_guard call(call_mutex_);
}

void EventDispatcher::Run() {
  for (;;) {
    SdkEvent event;
    {
      std::unique_lock lock(queue_mutex_);
      queue_cv_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      event = std::move(queue_.front());
      queue_.pop_front();
    }
    std::lock_guard call(call_mutex_);
    {
      // Checked again under the call lock: Forget may have run after the pop.
      std::lock_guard lock(queue_mutex_);
      if (stopping_) return;
      if (forgotten_.count(event.handle)) continue;
    }
    if (event.kind == SdkEvent::Kind::kStatus) {
      if (status_callback_ != nullptr) {
        status_callback_(event.handle, event.status_code, event.data.c_str(), status_user_);
      }
    } else if (aux_callback_ != nullptr) {
      aux_callback_(event.handle, event.result_and_command, event.data.c_str(), aux_user_);
    }
  }
}

}  // namespace varurovodiv
