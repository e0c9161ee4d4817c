#include "media/core/audio_file_feeders.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace kelvara::media {

// ---- decoded PCM -----------------------------------------------------------

int CAudioDecodeMp3::ChunkBytes(int rate, int channels) {
  return static_cast<int>(static_cast<double>((rate << (channels - 1)) * 2) / (1000 / kPeriodMs));
}

CAudioDecodeMp3::CAudioDecodeMp3(std::string path, int targetRate, int targetChannels, AudioDataCallback data,
                                 FileFinishedCallback finished)
    : path_(std::move(path)),
      targetRate_(targetRate),
      targetChannels_(targetChannels),
      chunkBytes_(ChunkBytes(targetRate, targetChannels)),
      data_(std::move(data)),
      finished_(std::move(finished)),
      piece_(static_cast<std::size_t>(chunkBytes_)) {}

CAudioDecodeMp3::~CAudioDecodeMp3() { timer_.Stop(); }

Mp3DecodeStatus CAudioDecodeMp3::Decode() {
  timer_.Stop();
  stream_ = std::make_unique<Mp3PcmStream>(path_, targetRate_, targetChannels_);
  return stream_->Start();
}

namespace {

// The silent lead-in ticks do nothing, so they are one wait of the timer (a
// thread's wake-up is what pacing costs): the first tick comes after the
// silent ones still due, and a pause during the lead-in keeps the ticks that
// had passed, as single ticks would have.
double FirstPeriod(unsigned& tickCount, unsigned leadInTicks, double period,
                   std::chrono::steady_clock::time_point& leadInFrom) {
  leadInFrom = std::chrono::steady_clock::now();
  if (tickCount >= leadInTicks) return period;
  return (leadInTicks - tickCount + 1) * period;
}

void CountLeadInTicks(unsigned& tickCount, unsigned leadInTicks, double period,
                      std::chrono::steady_clock::time_point leadInFrom) {
  if (tickCount >= leadInTicks) return;
  const double passed = std::chrono::duration<double>(std::chrono::steady_clock::now() - leadInFrom).count();
  tickCount = std::min(leadInTicks, tickCount + static_cast<unsigned>(passed / period));
}

}  // namespace

bool CAudioDecodeMp3::StartTimer() {
  if (!stream_ || ended_) return false;
  constexpr double period = kPeriodMs / 1000.0;
  return timer_.Start(FirstPeriod(tickCount_, kLeadInTicks, period, leadInFrom_), [this] { return OnTick(); });
}

void CAudioDecodeMp3::StopTimer() {
  timer_.Stop();
  CountLeadInTicks(tickCount_, kLeadInTicks, kPeriodMs / 1000.0, leadInFrom_);
}

std::optional<double> CAudioDecodeMp3::OnTick() {
  constexpr double period = kPeriodMs / 1000.0;
  tickCount_ = std::max(tickCount_, kLeadInTicks);
  const std::size_t got = stream_->Read(piece_.data(), piece_.size());
  if (got > 0 && data_) data_(piece_.data(), got);
  if (got < piece_.size() || stream_->AtEnd()) {
    if (--repeatCount_ <= 0) {
      ended_ = true;
      if (finished_) finished_();
      return std::nullopt;
    }
    // Another pass starts the file again.
    stream_ = std::make_unique<Mp3PcmStream>(path_, targetRate_, targetChannels_);
    stream_->Start();
  }
  return period;
}

// ---- MP3 frames ------------------------------------------------------------

CMp3Player::CMp3Player(std::string path, AudioDataCallback data, FileFinishedCallback finished)
    : path_(std::move(path)), data_(std::move(data)), finished_(std::move(finished)) {}

CMp3Player::~CMp3Player() {
  timer_.Stop();
  if (fd_ >= 0) ::close(fd_);
}

bool CMp3Player::Open() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return false;
  if (!fileInfo_) {
    try {
      fileInfo_ = std::make_unique<CMPAFile>(path_, 0, 0, onTagError);
    } catch (const CMPAException&) {
      return false;
    }
  }
  if (fileInfo_->GetAudioBytes() <= 0) {
    fileInfo_.reset();
    return false;
  }
  return true;
}

bool CMp3Player::Start() {
  if (!fileInfo_ && !Open()) return false;
  if (ended_) return false;
  // A resumed broadcast sends the frame it holds; a new one reads the first.
  if (!currentFrame_) ReadNextFrame();
  if (!currentFrame_) return false;
  return timer_.Start(FirstPeriod(tickCount_, LeadInTicks(), frameSeconds_, leadInFrom_), [this] { return OnTick(); });
}

void CMp3Player::Stop() {
  timer_.Stop();
  if (frameSeconds_ > 0) CountLeadInTicks(tickCount_, LeadInTicks(), frameSeconds_, leadInFrom_);
}

// About a second of frames: the ticks before the first frame goes out.
unsigned CMp3Player::LeadInTicks() const {
  return frameSeconds_ > 0 ? static_cast<unsigned>(std::ceil(1.0 / frameSeconds_)) : 0;
}

void CMp3Player::ReadNextFrame() {
  frameLength_ = 0;
  if (!fileInfo_) return;
  currentFrame_ = currentFrame_ ? fileInfo_->GetFrame(CMPAFile::Next, currentFrame_.get())
                                : fileInfo_->GetFrame(CMPAFile::First);
  if (!currentFrame_) return;
  const CMPAHeader& h = currentFrame_->GetHeader();
  frameSeconds_ = static_cast<double>(h.GetSamplesPerFrame()) / h.GetSamplingRate();
  if (fd_ < 0) return;
  const std::size_t length = currentFrame_->GetLength();
  if (debugLog) {
    char line[64];
    std::snprintf(line, sizeof line, "offset %u, size %u", static_cast<unsigned>(currentFrame_->GetOffset()),
                  static_cast<unsigned>(length));
    debugLog(line);
  }
  if (length > kFrameBufferBytes) return;
  // Only a whole frame is sent: a frame cut short by the end of the file
  // or a failed read is passed over.
  std::size_t done = 0;
  while (done < length) {
    const ssize_t got = ::pread(fd_, frameBuffer_ + done, length - done,
                                static_cast<off_t>(currentFrame_->GetOffset()) + static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return;
    done += static_cast<std::size_t>(got);
  }
  frameLength_ = length;
}

std::optional<double> CMp3Player::OnTick() {
  tickCount_ = std::max(tickCount_, LeadInTicks());
  const double sentSeconds = frameSeconds_;
  if (frameLength_ > 0 && data_) data_(frameBuffer_, frameLength_);
  ReadNextFrame();
  if (!currentFrame_) {
    if (debugLog) debugLog(path_ + " read finished.");
    if (--repeatCount_ <= 0) {
      ended_ = true;
      if (finished_) finished_();
      return std::nullopt;
    }
  }
  // The next frame is due one played frame after this one.
  return sentSeconds;
}

}  // namespace kelvara::media
