#pragma once
// The two ways a local MP3 file feeds a broadcast, each paced on its own
// PacedTimer thread:
// - CAudioDecodeMp3: decoded PCM at the broadcast's rate, 40 ms per tick
//   after a lead-in of 20 ticks.
// - CMp3Player: the file's frames unchanged, one per frame duration after a
//   lead-in of about a second.
// Both call `data` on the timer thread and `finished` once at the end of
// the file; Stop joins the timer thread, so no call runs after it returns.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "media/core/mp3_pcm_decoder.h"
#include "media/core/mpa_file.h"
#include "media/core/paced_timer.h"

namespace kelvara::media {

using AudioDataCallback = std::function<void(const std::uint8_t* data, std::size_t size)>;
using FileFinishedCallback = std::function<void()>;

class CAudioDecodeMp3 {
 public:
  static constexpr int kPeriodMs = 40;
  static constexpr unsigned kLeadInTicks = 20;

  CAudioDecodeMp3(std::string path, int targetRate, int targetChannels, AudioDataCallback data,
                  FileFinishedCallback finished);
  ~CAudioDecodeMp3();

  // Starts the decoding: Ok, CannotOpen, or Empty when the file gives no PCM.
  Mp3DecodeStatus Decode();
  // Starts (or resumes, without a new lead-in) the ticks; false when the
  // timer cannot run.
  bool StartTimer();
  void StopTimer();
  // Ticks passed so far, the silent lead-in included (read while stopped).
  unsigned TicksPassed() const { return tickCount_; }

  // Bytes of 40 ms of 16-bit PCM.
  static int ChunkBytes(int rate, int channels);
  int chunkBytes() const { return chunkBytes_; }

 private:
  std::optional<double> OnTick();

  const std::string path_;
  const int targetRate_;
  const int targetChannels_;
  const int chunkBytes_;
  AudioDataCallback data_;
  FileFinishedCallback finished_;
  std::unique_ptr<Mp3PcmStream> stream_;
  std::vector<std::uint8_t> piece_;
  unsigned tickCount_ = 0;  // ticks passed, the silent lead-in included
  std::chrono::steady_clock::time_point leadInFrom_;
  int repeatCount_ = 1;
  bool ended_ = false;
  PacedTimer timer_;
};

class CMp3Player {
 public:
  static constexpr std::size_t kFrameBufferBytes = 10240;

  CMp3Player(std::string path, AudioDataCallback data, FileFinishedCallback finished);
  ~CMp3Player();

  // True when the file opens and holds audio frames.
  bool Open();
  // Starts or resumes (sending the frame it holds first, no new lead-in).
  bool Start();
  void Stop();

  // Tag errors met while opening, for the caller to show.
  CTags::ErrorSink onTagError;
  // Debug lines ("offset %u, size %u", "%s read finished.").
  std::function<void(const std::string&)> debugLog;

 private:
  std::optional<double> OnTick();
  void ReadNextFrame();
  unsigned LeadInTicks() const;

  const std::string path_;
  AudioDataCallback data_;
  FileFinishedCallback finished_;
  std::unique_ptr<CMPAFile> fileInfo_;
  std::unique_ptr<CMPAFrame> currentFrame_;
  int fd_ = -1;
  std::uint8_t frameBuffer_[kFrameBufferBytes];
  std::size_t frameLength_ = 0;
  double frameSeconds_ = 0.0;
  unsigned tickCount_ = 0;  // ticks passed, the silent lead-in included
  std::chrono::steady_clock::time_point leadInFrom_;
  int repeatCount_ = 1;
  bool ended_ = false;
  PacedTimer timer_;
};

}  // namespace kelvara::media
