#pragma once
// The PC microphone through Qt Multimedia, captured on a thread of its own.
// Start fails when the machine has no audio input; Stop returns once the
// capture thread has let go of the device, so no callback runs after it.
#include <QThread>
#include <memory>

#include "media/core/audio_capture_source.h"

class QAudioSource;
class QIODevice;

namespace kelvara::media {

class QtMicrophoneSource : public AudioCaptureSource {
 public:
  QtMicrophoneSource();
  ~QtMicrophoneSource() override;
  int Start(int rate, int bits, int channels, Callback callback) override;
  void Stop() override;

 private:
  class Worker;
  QThread thread_;
  Worker* worker_ = nullptr;  // lives on thread_
};

}  // namespace kelvara::media
