#include "sdk_context.h"

#include <vector>

#include "sdk_log.h"
#include "talk.h"

namespace varurovodiv {

std::atomic<int> SdkContext::next_handle_{1};

SdkContext& SdkContext::Instance() {
  // Never destroyed: a program that forgets Cleanup must not have SDK threads
  // torn down under it by static destructors.
  static SdkContext* context = new SdkContext;
  return *context;
}

bool SdkContext::initialised() {
  std::lock_guard lock(mutex_);
  return initialised_;
}

int SdkContext::Init() {
  std::lock_guard lock(mutex_);
  if (initialised_) return 0;
  SdkLogRefresh();
  timeouts_ = Timeouts::FromEnvironment();
  dispatcher_.Start();
  initialised_ = true;
  SdkLog("initialised");
  return 0;
}

int SdkContext::Cleanup() {
  if (dispatcher_.OnDispatchThread()) return ZQ_NETSDK_ERR_BAD_ARGUMENT;  // from a callback
  std::map<int, std::shared_ptr<Session>> sessions;
  {
    std::lock_guard lock(mutex_);
    if (!initialised_) return 0;
    initialised_ = false;
    sessions.swap(sessions_);
  }
  TalkHub::Instance().Reset();
  for (auto& [handle, s] : sessions) s->RequestStop();
  for (auto& [handle, s] : sessions) s->Stop();
  // Sessions still waiting for their thread were stopped above: none starts.
  starter_.Stop();
  dispatcher_.Stop();
  // The callers' user values may be freed next: forget them.
  dispatcher_.SetStatusCallback(nullptr, nullptr);
  dispatcher_.SetAuxCallback(nullptr, nullptr);
  SdkLog("cleaned up");
  return 0;
}

int SdkContext::Login(LoginParams params) {
  std::shared_ptr<Session> session;
  {
    std::lock_guard lock(mutex_);
    if (!initialised_) return ZQ_NETSDK_ERR_NOT_INIT;
    const int handle = next_handle_.fetch_add(1);
    session = std::make_shared<Session>(handle, std::move(params), timeouts_, default_reconnect_,
                                        dispatcher_);
    const auto it = sessions_.emplace(handle, session).first;
    // The thread is made elsewhere; should that be impossible, here. A login
    // whose thread can be neither queued nor made is taken out of the table
    // again: the caller gets no handle, and none is left behind.
    try {
      if (!starter_.Enqueue(session)) session->Start();
    } catch (...) {
      session->MarkStopped();
      sessions_.erase(it);
      throw;
    }
  }
  return session->handle();
}

int SdkContext::Logout(int handle) {
  // Everything a logout needs is made before the login is touched: a logout
  // that cannot be made leaves the login as it was.
  std::vector<std::shared_ptr<Session>> ended;
  ended.reserve(1);
  EventDispatcher::Handles handles{handle};
  {
    std::lock_guard lock(mutex_);
    auto it = sessions_.find(handle);
    if (it == sessions_.end()) return ZQ_NETSDK_ERR_BAD_HANDLE;
    ended.push_back(std::move(it->second));
    sessions_.erase(it);
    End(ended);
  }
  Forget(ended, handles);
  return 0;
}

int SdkContext::LogoutAll() {
  std::vector<std::shared_ptr<Session>> ended;
  EventDispatcher::Handles handles;
  {
    std::lock_guard lock(mutex_);
    if (!initialised_) return ZQ_NETSDK_ERR_NOT_INIT;
    // Made in full before a login is touched, as in Logout.
    ended.reserve(sessions_.size());
    for (const auto& entry : sessions_) handles.insert(handles.end(), entry.first);
    for (auto& [handle, s] : sessions_) ended.push_back(std::move(s));
    sessions_.clear();
    End(ended);
  }
  Forget(ended, handles);
  return 0;
}

void SdkContext::End(std::vector<std::shared_ptr<Session>>& ended) {
  // Marked ended here and handed to the starter, which wakes their threads
  // (each then closes its link and ends) and joins them: a wake-up costs its
  // caller far more than a flag, as the woken thread often takes its CPU.
  // Both under the lock, so a Cleanup on another thread finds each session
  // either still in the table or with the starter, and joins it either way.
  for (auto& s : ended) s->MarkStopped();
  starter_.Retire(ended);
}

void SdkContext::Forget(std::vector<std::shared_ptr<Session>>& ended, EventDispatcher::Handles& handles) {
  // Outside the lock: Forget waits for a running callback, which may call the SDK.
  for (const int handle : handles) TalkHub::Instance().Forget(handle);
  dispatcher_.Forget(handles);
  // What the starter did not take (it has no thread, or Cleanup is stopping
  // it) is woken and joined here.
  for (auto& s : ended) s->RequestStop();
  for (auto& s : ended) s->Stop();
}

int SdkContext::SetAutoReconnect(int handle, bool enable) {
  std::shared_ptr<Session> session;
  {
    std::lock_guard lock(mutex_);
    if (!initialised_) return ZQ_NETSDK_ERR_NOT_INIT;
    if (handle == 0) {
      default_reconnect_ = enable;
      return 0;
    }
    auto it = sessions_.find(handle);
    if (it == sessions_.end()) return ZQ_NETSDK_ERR_BAD_HANDLE;
    session = it->second;
  }
  session->SetAutoReconnect(enable);
  return 0;
}

std::shared_ptr<Session> SdkContext::Find(int handle) {
  std::lock_guard lock(mutex_);
  auto it = sessions_.find(handle);
  return it == sessions_.end() ? nullptr : it->second;
}

}  // namespace varurovodiv
