#include "event_dispatcher.h"

#include <pthread.h>

#include <algorithm>
#include <exception>

#include "sdk_log.h"

namespace varurovodiv {

void EventDispatcher::Start() {
  std::lock_guard lock(queue_mutex_);
  if (running_) return;
  stopping_ = false;
  // Marked running only once the thread is there: a start that fails leaves
  // the next one to try again.
  thread_ = std::thread([this] {
    pthread_setname_np(pthread_self(), "vrod-events");
    Run();
  });
  running_ = true;
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
  logins_.clear();
  turns_.clear();
  device_bytes_ = 0;
  forgotten_.clear();
  running_ = false;
  thread_id_ = std::thread::id();
}

void EventDispatcher::Account(Login& login, const Queued& q, bool add) {
  const size_t cost = Cost(q.event);
  const bool device = q.origin == EventOrigin::kDevice;
  if (add) {
    login.bytes += cost;
    if (device) device_bytes_ += cost;
  } else {
    login.bytes -= cost;
    if (device) device_bytes_ -= cost;
  }
}

bool EventDispatcher::Post(SdkEvent event, EventOrigin origin) {
  const int handle = event.handle;
  bool dropped = false;
  uint64_t report = 0;
  size_t login_bytes = 0, all_bytes = 0;
  {
    std::lock_guard lock(queue_mutex_);
    if (!running_ || stopping_ || forgotten_.count(handle)) return true;
    Login& login = logins_[handle];
    const size_t cost = Cost(event);
    if (origin == EventOrigin::kDevice &&
        (login.bytes + cost > kLoginEventBudget || device_bytes_ + cost > kDeviceEventsCap)) {
      // The newest is dropped: what waits keeps its order, and nothing the
      // SDK generated (a reply, an outcome, a login change) is ever touched.
      dropped = true;
      ++login.dropped;
      ++login.unreported;
      const auto now = Clock::now();
      if (login.reported == Clock::time_point{} || now - login.reported >= kDropReportInterval) {
        report = login.unreported;
        login.unreported = 0;
        login.reported = now;
        login_bytes = login.bytes;
        all_bytes = device_bytes_;
      }
    } else {
      if (login.events.empty()) turns_.push_back(handle);
      login.events.push_back(Queued{std::move(event), origin});
      Account(login, login.events.back(), true);
    }
  }
  if (report != 0) {
    SdkLog("handle %d: %llu device events dropped (%zu bytes queued for the login, %zu for all "
           "devices)",
           handle, static_cast<unsigned long long>(report), login_bytes, all_bytes);
  }
  if (dropped) return false;
  queue_cv_.notify_one();
  return true;
}

size_t EventDispatcher::QueuedBytes(int handle) {
  std::lock_guard lock(queue_mutex_);
  const auto it = logins_.find(handle);
  return it == logins_.end() ? 0 : it->second.bytes;
}

uint64_t EventDispatcher::DroppedEvents(int handle) {
  std::lock_guard lock(queue_mutex_);
  const auto it = logins_.find(handle);
  return it == logins_.end() ? 0 : it->second.dropped;
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
  Handles handles{handle};
  Forget(handles);
}

void EventDispatcher::Forget(Handles& handles) {
  // Dropped events not yet in the log: counted here, logged after the lock.
  uint64_t unreported = 0;
  {
    std::lock_guard lock(queue_mutex_);
    bool queued = false;
    for (const int handle : handles) {
      const auto it = logins_.find(handle);
      if (it == logins_.end()) continue;
      for (const Queued& q : it->second.events) Account(it->second, q, false);
      unreported += it->second.unreported;
      queued = queued || !it->second.events.empty();
      logins_.erase(it);
    }
    forgotten_.merge(handles);
    // One pass over the turns, however many logins end.
    if (queued) {
      turns_.erase(std::remove_if(turns_.begin(), turns_.end(),
                                  [this](int h) { return logins_.count(h) == 0; }),
                   turns_.end());
    }
  }
  if (unreported != 0) {
    SdkLog("%llu device events of ended logins dropped", static_cast<unsigned long long>(unreported));
  }
  // Wait for a callback of these handles that may be running right now.
  std::lock_guard call(call_mutex_);
}

void EventDispatcher::Run() {
  for (;;) {
    SdkEvent event;
    {
      std::unique_lock lock(queue_mutex_);
      queue_cv_.wait(lock, [this] { return stopping_ || !turns_.empty(); });
      if (stopping_) return;
      // The login whose turn it is gives one event and, with more waiting,
      // goes to the back of the line.
      const int handle = turns_.front();
      turns_.pop_front();
      const auto it = logins_.find(handle);
      Login& login = it->second;
      Account(login, login.events.front(), false);
      event = std::move(login.events.front().event);
      login.events.pop_front();
      if (!login.events.empty()) {
        turns_.push_back(handle);
      } else if (login.dropped == 0) {
        logins_.erase(it);
      }
    }
    std::lock_guard call(call_mutex_);
    {
      // Checked again under the call lock: Forget may have run after the pop.
      std::lock_guard lock(queue_mutex_);
      if (stopping_) return;
      if (forgotten_.count(event.handle)) continue;
    }
    // A callback that throws (the program's code is C++) loses its own
    // event; the thread goes on with the next, as it would past a return.
    try {
      if (event.kind == SdkEvent::Kind::kStatus) {
        if (status_callback_ != nullptr) {
          status_callback_(event.handle, event.status_code, event.data.c_str(), status_user_);
        }
      } else if (aux_callback_ != nullptr) {
        aux_callback_(event.handle, event.result_and_command, event.data.c_str(), aux_user_);
      }
    } catch (const std::exception& e) {
      SdkLog("handle %d: a callback threw: %s", event.handle, e.what());
    } catch (...) {
      SdkLog("handle %d: a callback threw", event.handle);
    }
  }
}

}  // namespace varurovodiv
