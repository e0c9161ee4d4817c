#pragma once
// Where microphone sound comes from: the sound card (Qt, in media/ui), or a
// file of 16-bit PCM played in 40 ms pieces in real time for tests, or
// nothing (a machine without a microphone). Stop returns when no callback
// runs any more.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "media/core/paced_timer.h"

namespace kelvara::media {

class AudioCaptureSource {
 public:
  using Callback = std::function<void(const std::uint8_t* data, std::size_t size)>;
  virtual ~AudioCaptureSource() = default;
  // 0, or non-zero when there is no device to capture from.
  virtual int Start(int rate, int bits, int channels, Callback callback) = 0;
  virtual void Stop() = 0;
};

// No microphone: every start fails.
class NoCaptureSource : public AudioCaptureSource {
 public:
  int Start(int, int, int, Callback) override { return -1; }
  void Stop() override {}
};

// Raw PCM from a file, taken as the capture format asked for, looping.
class FileCaptureSource : public AudioCaptureSource {
 public:
  explicit FileCaptureSource(std::string path) : path_(std::move(path)) {}
  ~FileCaptureSource() override { Stop(); }
  int Start(int rate, int bits, int channels, Callback callback) override;
  void Stop() override { timer_.Stop(); }

 private:
  std::string path_;
  std::vector<std::uint8_t> pcm_;
  std::size_t position_ = 0;
  std::size_t piece_ = 0;
  Callback callback_;
  PacedTimer timer_;
};

}  // namespace kelvara::media
