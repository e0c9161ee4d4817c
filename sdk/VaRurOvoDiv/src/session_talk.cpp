// The talk on one login link: TALK_START and its answer, the audio queue the
// callers fill without waiting, TALK_DATA frames on the session thread, and
// the end of the talk (asked for, by the device, or with the link).
#include <new>

#include "VaRurOvoDiv/zq_netsdk_ipc.h"
#include "sdk_log.h"
#include "session.h"

namespace varurovodiv {
namespace {

// Pieces of audio waiting per login: with 40-ms pieces about 2.5 s, enough
// for a device to answer TALK_START and for the window to add it.
constexpr size_t kTalkQueuePieces = 64;
// Audio kept in the send buffer at most, so that a slow link drops audio
// instead of holding requests and heartbeats behind it.
constexpr size_t kTalkWindow = 64 * 1024;

// The status event of a device's answer to TALK_START.
int TalkRefusalEvent(int result) {
  switch (result) {
    case wire::kResultBusy: return STATUS_EVENT_TALK_BUSY;
    case wire::kResultBadRequest: return STATUS_EVENT_TALK_PARAM_ERROR;
    default: return STATUS_EVENT_TALK_UNSUPPORTED;
  }
}

}  // namespace

int Session::TalkStart(const wire::TalkParams& params) {
  // The request and its queue node are made before anything changes, so a
  // start that cannot be made leaves the talk as it was.
  SessionQueue<Request> one(1);
  Request& r = one.front();
  r.type = wire::FrameType::kTalkStart;
  r.payload = wire::EncodeTalkParams(params);
  r.wants_aux = false;
  r.talk = Request::Talk::kStart;
  {
    std::lock_guard lock(talk_mutex_);
    if (talk_state_ != TalkState::kNone) return ZQ_NETSDK_ERR_TALK_STATE;
    talk_state_ = TalkState::kStarting;
    talk_queue_.clear();
  }
  const int result = Submit(one);
  if (result != 0) {
    std::lock_guard lock(talk_mutex_);
    talk_state_ = TalkState::kNone;
  }
  return result;
}

int Session::TalkAdd() {
  std::lock_guard lock(talk_mutex_);
  if (talk_state_ == TalkState::kAccepted || talk_state_ == TalkState::kRemoved) {
    talk_state_ = TalkState::kSending;
  }
  if (talk_state_ != TalkState::kSending) return ZQ_NETSDK_ERR_TALK_STATE;
  Wake();
  return 0;
}

int Session::TalkRemove() {
  std::lock_guard lock(talk_mutex_);
  if (talk_state_ == TalkState::kAccepted) {
    talk_queue_.clear();  // held for AddTalk, never let through
    talk_state_ = TalkState::kRemoved;
  }
  if (talk_state_ == TalkState::kSending) talk_state_ = TalkState::kRemoved;
  // What was handed over before still goes out; nothing new is taken.
  return talk_state_ == TalkState::kRemoved ? 0 : ZQ_NETSDK_ERR_TALK_STATE;
}

SessionQueue<Request> Session::PrepareTalkStop() {
  SessionQueue<Request> one(1);
  Request& r = one.front();
  r.type = wire::FrameType::kTalkStop;
  r.wants_aux = false;
  r.talk = Request::Talk::kStop;
  // Room for every piece the queue can hold (TalkPush keeps it within this).
  r.audio_before.reserve(kTalkQueuePieces);
  return one;
}

int Session::TalkStop(SessionQueue<Request>& prepared) {
  Request& r = prepared.front();
  {
    std::lock_guard lock(talk_mutex_);
    if (talk_state_ == TalkState::kNone) return 0;  // ended by the device or the link
    // Audio the device was let to hear goes out before the stop; audio held
    // back for a device that was never added is dropped.
    if (talk_state_ == TalkState::kSending || talk_state_ == TalkState::kRemoved) {
      for (const TalkPiece& p : talk_queue_) r.audio_before.emplace_back(p.audio, p.tag);
    }
    talk_queue_.clear();
    talk_state_ = TalkState::kNone;
  }
  Submit(prepared);  // a link that is down has ended the talk anyway
  return 0;
}

bool Session::TalkPush(const std::shared_ptr<const std::string>& audio, uint32_t tag) {
  if (stop_.load()) return false;
  {
    std::lock_guard lock(talk_mutex_);
    // Audio input before the device answered waits for AddTalk.
    if (talk_state_ == TalkState::kNone || talk_state_ == TalkState::kRemoved) return false;
    if (talk_queue_.size() >= kTalkQueuePieces) {
      talk_dropped_.fetch_add(1);
      return true;
    }
    try {
      talk_queue_.push_back({audio, tag});
    } catch (const std::bad_alloc&) {
      // No memory for the piece: dropped like one that finds the queue full,
      // so every other device of the talk still gets it.
      talk_dropped_.fetch_add(1);
      return true;
    }
    if (talk_state_ != TalkState::kSending) return true;
  }
  Wake();
  return true;
}

void Session::PumpTalk() {
  std::lock_guard lock(talk_mutex_);
  if (talk_state_ != TalkState::kSending && talk_state_ != TalkState::kRemoved) return;
  while (!talk_queue_.empty() && outbuf_.size() < kTalkWindow) {
    const TalkPiece& piece = talk_queue_.front();
    if (!QueueFrame(wire::FrameType::kTalkData, NextSequence(), piece.tag, *piece.audio)) {
      talk_dropped_.fetch_add(1);
    }
    talk_queue_.pop_front();
  }
}

void Session::TalkRequestDone(uint32_t sequence, const Pending& p, int result) {
  if (p.talk == Request::Talk::kStop) {
    if (result == wire::kResultOk) PostStatus(STATUS_EVENT_TALK_STOPPED);
    return;
  }
  {
    std::lock_guard lock(talk_mutex_);
    // The answer to a start that was stopped (or replaced) since changes nothing.
    if (sequence != talk_start_sequence_ || talk_state_ != TalkState::kStarting) return;
    if (result == wire::kResultOk) {
      talk_state_ = TalkState::kAccepted;
    } else {
      talk_state_ = TalkState::kNone;
      talk_queue_.clear();
    }
  }
  if (result != wire::kResultOk) SdkLog("handle %d: talk refused (%d)", handle_, result);
  PostStatus(result == wire::kResultOk ? STATUS_EVENT_TALK_STARTED : TalkRefusalEvent(result));
}

void Session::TalkEndedByDevice(uint32_t code) {
  if (code != STATUS_EVENT_TALK_STOPPED && code != STATUS_EVENT_TALK_BUSY &&
      code != STATUS_EVENT_TALK_PARAM_ERROR && code != STATUS_EVENT_TALK_UNSUPPORTED) {
    return;
  }
  std::lock_guard lock(talk_mutex_);
  if (talk_state_ == TalkState::kNone) return;
  SdkLog("handle %d: the device ended the talk (event %u)", handle_, code);
  talk_state_ = TalkState::kNone;
  talk_queue_.clear();
}

void Session::TalkLinkLost() {
  bool starting = false;
  {
    std::lock_guard lock(talk_mutex_);
    starting = talk_state_ == TalkState::kStarting;
    talk_state_ = TalkState::kNone;
    talk_queue_.clear();
  }
  // A start still waiting for its answer gets one.
  if (starting) PostStatus(STATUS_EVENT_TALK_UNSUPPORTED);
}

}  // namespace varurovodiv
