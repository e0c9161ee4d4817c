// The talk calls: one talk per process, joined device by device, audio fanned
// out to the joined logins' queues, and the registered capture source.
#include "talk.h"

#include <utility>
#include <vector>

#include "sdk_boundary.h"
#include "sdk_context.h"
#include "sdk_log.h"

namespace varurovodiv {

TalkHub& TalkHub::Instance() {
  static TalkHub* hub = new TalkHub;  // never destroyed, like the SDK context
  return *hub;
}

int TalkHub::StartTalk(const wire::TalkParams& p) {
  if (p.transport > 2 || p.format > 3 || p.rate < 8000 || p.rate > 48000 || p.bits != 16 ||
      p.channels < 1 || p.channels > 2) {
    return ZQ_NETSDK_ERR_BAD_ARGUMENT;
  }
  std::lock_guard lock(mutex_);
  if (open_) return ZQ_NETSDK_ERR_TALK_STATE;
  open_ = true;
  params_ = p;
  return 0;
}

int TalkHub::StopTalk() {
  // Each member's stop is made ready before the talk closes: a stop that
  // cannot be made leaves the talk open as it was.
  std::vector<std::pair<std::shared_ptr<Session>, SessionQueue<Request>>> stops;
  {
    std::lock_guard lock(mutex_);
    if (!open_) return ZQ_NETSDK_ERR_TALK_STATE;
    stops.reserve(members_.size());
    for (auto& [handle, session] : members_) stops.emplace_back(session, session->PrepareTalkStop());
    open_ = false;
    members_.clear();
  }
  for (auto& [session, stop] : stops) session->TalkStop(stop);
  return 0;
}

int TalkHub::StartVoiceCom(int handle, std::shared_ptr<Session> session, uint32_t channel,
                           uint32_t direction) {
  std::lock_guard lock(mutex_);
  if (!open_ || members_.count(handle) != 0) return ZQ_NETSDK_ERR_TALK_STATE;
  wire::TalkParams p = params_;
  p.channel = channel;
  p.direction = direction;
  // The member's entry is made first and taken out again when the start
  // fails, so a device asked to join is always a member.
  const auto it = members_.emplace(handle, std::move(session)).first;
  int e = 0;
  try {
    e = it->second->TalkStart(p);
  } catch (...) {
    members_.erase(it);
    throw;
  }
  if (e != 0) members_.erase(it);
  return e;
}

int TalkHub::StopVoiceCom(int handle) {
  std::shared_ptr<Session> session;
  SessionQueue<Request> stop;
  {
    std::lock_guard lock(mutex_);
    auto it = members_.find(handle);
    if (it == members_.end()) return ZQ_NETSDK_ERR_TALK_STATE;
    stop = it->second->PrepareTalkStop();
    session = std::move(it->second);
    members_.erase(it);
  }
  return session->TalkStop(stop);
}

int TalkHub::AddTalk(int handle) {
  std::lock_guard lock(mutex_);
  auto it = members_.find(handle);
  return it == members_.end() ? ZQ_NETSDK_ERR_TALK_STATE : it->second->TalkAdd();
}

int TalkHub::RemoveTalk(int handle) {
  std::lock_guard lock(mutex_);
  auto it = members_.find(handle);
  return it == members_.end() ? ZQ_NETSDK_ERR_TALK_STATE : it->second->TalkRemove();
}

int TalkHub::Input(uint32_t tag, const char* data, size_t length) {
  if (data == nullptr || length == 0 || length > wire::kMaxTalkChunk) return ZQ_NETSDK_ERR_BAD_ARGUMENT;
  // One copy shared by every login's queue.
  auto audio = std::make_shared<const std::string>(data, length);
  std::lock_guard lock(mutex_);
  if (!open_) return ZQ_NETSDK_ERR_TALK_STATE;
  for (auto& [handle, session] : members_) session->TalkPush(audio, tag);
  return 0;
}

void TalkHub::Forget(int handle) {
  std::lock_guard lock(mutex_);
  members_.erase(handle);
}

void TalkHub::Reset() {
  StopCapture();
  std::lock_guard lock(mutex_);
  open_ = false;
  members_.clear();
}

int TalkHub::SetCaptureSource(const ZQ_AUDIO_CAPTURE_SOURCE* source) {
  std::lock_guard lock(capture_mutex_);
  if (capturing_) return ZQ_NETSDK_ERR_TALK_STATE;
  source_ = source != nullptr ? *source : ZQ_AUDIO_CAPTURE_SOURCE{};
  return 0;
}

void TalkHub::Deliver(const char* data, int length, void* context) {
  auto* hub = static_cast<TalkHub*>(context);
  std::lock_guard lock(hub->callback_mutex_);
  if (hub->callback_ != nullptr && data != nullptr && length > 0) {
    hub->callback_(data, length, hub->callback_user_);
  }
}

int TalkHub::StartCapture(int rate, int bits, int channels, AUDIO_CAPTURE_CALLBACK callback, void* user) {
  if (callback == nullptr || rate <= 0 || bits != 16 || channels < 1 || channels > 2) {
    return ZQ_NETSDK_ERR_BAD_ARGUMENT;
  }
  std::lock_guard lock(capture_mutex_);
  if (capturing_) return ZQ_NETSDK_ERR_TALK_STATE;
  if (source_.start == nullptr) return ZQ_NETSDK_ERR_NO_DEVICE;
  {
    std::lock_guard cb(callback_mutex_);
    callback_ = callback;
    callback_user_ = user;
  }
  const auto forget_callback = [this] {
    std::lock_guard cb(callback_mutex_);
    callback_ = nullptr;
    callback_user_ = nullptr;
  };
  int started = -1;
  try {
    started = source_.start(rate, bits, channels, &TalkHub::Deliver, this, source_.user);
  } catch (...) {
    forget_callback();  // the capture did not start: the next start finds it free
    throw;
  }
  if (started != 0) {
    forget_callback();
    SdkLog("audio capture: the source did not start");
    return ZQ_NETSDK_ERR_NO_DEVICE;
  }
  capturing_ = true;
  return 0;
}

int TalkHub::StopCapture() {
  std::lock_guard lock(capture_mutex_);
  if (!capturing_) return 0;
  if (source_.stop != nullptr) source_.stop(source_.user);
  capturing_ = false;
  // A delivery still inside the callback finishes before this returns.
  std::lock_guard cb(callback_mutex_);
  callback_ = nullptr;
  callback_user_ = nullptr;
  return 0;
}

}  // namespace varurovodiv

using varurovodiv::SdkContext;
using varurovodiv::TalkHub;

extern "C" {

using varurovodiv::GuardedCall;

int ZQ_NETSDK_IPC_StartTalk(int transport, int format, int rate, int bits, int channels) {
  return GuardedCall(__func__, [&] {
    if (!SdkContext::Instance().initialised()) return ZQ_NETSDK_ERR_NOT_INIT;
    if (transport < 0 || format < 0 || rate < 0 || bits < 0 || channels < 0) return ZQ_NETSDK_ERR_BAD_ARGUMENT;
    varurovodiv::wire::TalkParams p;
    p.transport = static_cast<uint32_t>(transport);
    p.format = static_cast<uint32_t>(format);
    p.rate = static_cast<uint32_t>(rate);
    p.bits = static_cast<uint32_t>(bits);
    p.channels = static_cast<uint32_t>(channels);
    return TalkHub::Instance().StartTalk(p);
  });
}

int ZQ_NETSDK_IPC_StopTalk(void) {
  return GuardedCall(__func__, [] { return TalkHub::Instance().StopTalk(); });
}

int ZQ_NETSDK_IPC_StartVoiceCom(int loginHandle, int channel, int direction, int /*reserved1*/,
                                int /*reserved2*/) {
  return GuardedCall(__func__, [&] {
    if (!SdkContext::Instance().initialised()) return ZQ_NETSDK_ERR_NOT_INIT;
    if (channel < 0 || direction != 1) return ZQ_NETSDK_ERR_BAD_ARGUMENT;
    auto session = SdkContext::Instance().Find(loginHandle);
    if (!session) return ZQ_NETSDK_ERR_BAD_HANDLE;
    return TalkHub::Instance().StartVoiceCom(loginHandle, std::move(session), static_cast<uint32_t>(channel),
                                             static_cast<uint32_t>(direction));
  });
}

int ZQ_NETSDK_IPC_StopVoiceCom(int loginHandle) {
  return GuardedCall(__func__, [&] { return TalkHub::Instance().StopVoiceCom(loginHandle); });
}
int ZQ_NETSDK_IPC_AddTalk(int loginHandle) {
  return GuardedCall(__func__, [&] { return TalkHub::Instance().AddTalk(loginHandle); });
}
int ZQ_NETSDK_IPC_RemoveTalk(int loginHandle) {
  return GuardedCall(__func__, [&] { return TalkHub::Instance().RemoveTalk(loginHandle); });
}

int ZQ_NETSDK_IPC_InputAudioData(int format, const char* data, int length) {
  return GuardedCall(__func__, [&] {
    if ((format < 0 || format > 3) && format != 5) return ZQ_NETSDK_ERR_BAD_ARGUMENT;
    if (length <= 0) return ZQ_NETSDK_ERR_BAD_ARGUMENT;
    return TalkHub::Instance().Input(static_cast<uint32_t>(format), data, static_cast<size_t>(length));
  });
}

int ZQ_NETSDK_IPC_GetTalkDropped(int loginHandle, unsigned long long* dropped) {
  return GuardedCall(__func__, [&] {
    if (dropped == nullptr) return ZQ_NETSDK_ERR_BAD_ARGUMENT;
    auto session = SdkContext::Instance().Find(loginHandle);
    if (!session) return ZQ_NETSDK_ERR_BAD_HANDLE;
    *dropped = session->talk_dropped();
    return 0;
  });
}

int ZQ_NETSDK_IPC_SetAudioCaptureSource(const ZQ_AUDIO_CAPTURE_SOURCE* source) {
  return GuardedCall(__func__, [&] { return TalkHub::Instance().SetCaptureSource(source); });
}

int ZQ_NETSDK_IPC_StartAudioCapture(int rate, int bits, int channels, AUDIO_CAPTURE_CALLBACK callback,
                                    void* user) {
  return GuardedCall(__func__,
                     [&] { return TalkHub::Instance().StartCapture(rate, bits, channels, callback, user); });
}

int ZQ_NETSDK_IPC_StopAudioCapture(void) {
  return GuardedCall(__func__, [] { return TalkHub::Instance().StopCapture(); });
}

}  // extern "C"
