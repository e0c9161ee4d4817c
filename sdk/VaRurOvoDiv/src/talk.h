#pragma once
// The process's one talk: its format, the logins asked to join it, and the
// capture source the program registered.
#include <map>
#include <memory>
#include <mutex>

#include "VaRurOvoDiv/zq_netsdk_ipc.h"
#include "session.h"
#include "talk_wire.h"

namespace varurovodiv {

class TalkHub {
 public:
  static TalkHub& Instance();

  int StartTalk(const wire::TalkParams& params);
  int StopTalk();
  int StartVoiceCom(int handle, std::shared_ptr<Session> session, uint32_t channel, uint32_t direction);
  int StopVoiceCom(int handle);
  int AddTalk(int handle);
  int RemoveTalk(int handle);
  int Input(uint32_t tag, const char* data, size_t length);
  // A login that ends leaves the talk.
  void Forget(int handle);
  // Cleanup: the talk ends and the capture stops.
  void Reset();

  int SetCaptureSource(const ZQ_AUDIO_CAPTURE_SOURCE* source);
  int StartCapture(int rate, int bits, int channels, AUDIO_CAPTURE_CALLBACK callback, void* user);
  int StopCapture();

 private:
  static void Deliver(const char* data, int length, void* context);

  std::mutex mutex_;
  bool open_ = false;
  wire::TalkParams params_;
  std::map<int, std::shared_ptr<Session>> members_;

  // Capture: start and stop are serialised by capture_mutex_; the callback is
  // read under callback_mutex_, which a delivery holds while it runs.
  std::mutex capture_mutex_;
  ZQ_AUDIO_CAPTURE_SOURCE source_{};
  bool capturing_ = false;
  std::mutex callback_mutex_;
  AUDIO_CAPTURE_CALLBACK callback_ = nullptr;
  void* callback_user_ = nullptr;
};

}  // namespace varurovodiv
