#pragma once
// The process-wide state behind the C functions: the login table, the event
// dispatcher and the settings that apply to new logins.
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "event_dispatcher.h"
#include "sdk_timeouts.h"
#include "session.h"
#include "session_starter.h"

namespace varurovodiv {

class SdkContext {
 public:
  static SdkContext& Instance();

  int Init();
  int Cleanup();
  int Login(LoginParams params);
  int Logout(int handle);
  int LogoutAll();
  int SetAutoReconnect(int handle, bool enable);
  std::shared_ptr<Session> Find(int handle);
  EventDispatcher& dispatcher() { return dispatcher_; }
  bool initialised();

 private:
  // Logouts: End marks the sessions stopped and hands them to the starter,
  // under mutex_ (or, when the starter cannot take them, leaves them to
  // Forget); Forget then drops their events and talk memberships and
  // joins what the starter did not take.
  void End(std::vector<std::shared_ptr<Session>>& ended);
  // Neither allocates, so a logout that has begun ends every login it took.
  void Forget(std::vector<std::shared_ptr<Session>>& ended, EventDispatcher::Handles& handles);

  std::mutex mutex_;
  bool initialised_ = false;
  bool default_reconnect_ = false;
  Timeouts timeouts_;
  std::map<int, std::shared_ptr<Session>> sessions_;
  EventDispatcher dispatcher_;
  // Makes the new logins' threads, so Login returns at once.
  SessionStarter starter_;
  // Handles are never reused within a process, not even across Cleanup/Init.
  static std::atomic<int> next_handle_;
};

}  // namespace varurovodiv
