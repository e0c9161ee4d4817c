#pragma once
// Delivers status events and AUX responses to the registered callbacks on one
// SDK thread, in the order they were posted. Guarantees callers rely on:
// - once SetStatusCallback/SetAuxCallback returns, the old callback never runs;
// - once Forget(handle) returns, no callback for that handle runs again;
// - once Stop returns, no callback runs (queued events are dropped).
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "VaRurOvoDiv/zq_netsdk_ipc.h"

namespace varurovodiv {

struct SdkEvent {
  enum class Kind { kStatus = 1, kAux };
  Kind kind = Kind::kStatus;
  int handle = 0;
  int status_code = 0;               // kStatus
  unsigned int result_and_command = 0;  // kAux
  std::string data;                  // text, or raw bytes (alarm record)
};

class EventDispatcher {
 public:
  EventDispatcher() = default;
  ~EventDispatcher() { Stop(); }
  EventDispatcher(const EventDispatcher&) = delete;
  EventDispatcher& operator=(const EventDispatcher&) = delete;

  void Start();
  void Stop();
  void Post(SdkEvent event);
  void SetStatusCallback(STATUS_EVENT_CALLBACK callback, void* user);
  void SetAuxCallback(AUX_RESPONSE_CALLBACK callback, void* user);
  void Forget(int handle);
  bool OnDispatchThread() const { return std::this_thread::get_id() == thread_id_; }

 private:
  void Run();

  std::mutex queue_mutex_;
  std::condition_variable queue_cv_;
  std::deque<SdkEvent> queue_;
  std::set<int> forgotten_;
  bool stopping_ = false;
  bool running_ = false;

  // Held while a callback runs; recursive so a callback may re-register.
  std::recursive_mutex call_mutex_;
  STATUS_EVENT_CALLBACK status_callback_ = nullptr;
  void* status_user_ = nullptr;
  AUX_RESPONSE_CALLBACK aux_callback_ = nullptr;
  void* aux_user_ = nullptr;

  std::thread thread_;
  std::thread::id thread_id_;
};

}  // namespace varurovodiv
