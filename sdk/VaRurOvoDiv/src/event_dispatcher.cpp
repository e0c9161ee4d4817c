#include "event_dispatcher.h"

#include <pthread.h>

#include <algorithm>

#include "sdk_log.h"

namespace varurovodiv {

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
  login_bytes_.clear();
  device_bytes_ = 0;
  forgotten_.clear();
  running_ = false;
  thread_id_ = std::thread::id();
}

void EventDispatcher::Account(const Queued& q, bool add) {
  const size_t cost = Cost(q.event);
  size_t& login = login_bytes_[q.event.handle];
  if (add) {
    login += cost;
    if (q.origin == EventOrigin::kDevice) device_bytes_ += cost;
    return;
  }
  login -= cost;
  if (login == 0) login_bytes_.erase(q.event.handle);
  if (q.origin == EventOrigin::kDevice) device_bytes_ -= cost;
}

bool EventDispatcher::Post(SdkEvent event, EventOrigin origin) {
  {
    std::lock_guard lock(queue_mutex_);
    if (!running_ || stopping_ || forgotten_.count(event.handle)) return true;
    if (origin == EventOrigin::kDevice) {
      const size_t cost = Cost(event);
      const auto it = login_bytes_.find(event.handle);
      const size_t login = it == login_bytes_.end() ? 0 : it->second;
      if (login + cost > kLoginEventBudget || device_bytes_ + cost > kDeviceEventsCap) {
        SdkLog("handle %d: event %d does not fit (%zu bytes queued for the login, %zu for all "
               "devices)",
               event.handle, event.status_code, login, device_bytes_);
        return false;
      }
    }
    queue_.push_back(Queued{std::move(event), origin});
    Account(queue_.back(), true);
  }
  queue_cv_.notify_one();
  return true;
}

size_t EventDispatcher::QueuedBytes(int handle) {
  std::lock_guard lock(queue_mutex_);
  const auto it = login_bytes_.find(handle);
  return it == login_bytes_.end() ? 0 : it->second;
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
    const auto gone = std::stable_partition(
        queue_.begin(), queue_.end(), [handle](const Queued& q) { return q.event.handle != handle; });
    for (auto it = gone; it != queue_.end(); ++it) Account(*it, false);
    queue_.erase(gone, queue_.end());
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
      Account(queue_.front(), false);
      event = std::move(queue_.front().event);
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
