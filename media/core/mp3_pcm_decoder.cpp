#include "media/core/mp3_pcm_decoder.h"

#include <lame/lame.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <utility>

#include "media/core/audio_resampler.h"
#include "media/core/mpa_frame_walk.h"
#include "media/core/mpa_tags.h"

namespace kelvara::media {

namespace {

constexpr int kMaxFrameSamples = 2304;

struct HipDecoder {
  hip_t hip = hip_decode_init();
  ~HipDecoder() {
    if (hip) hip_decode_exit(hip);
  }
};

}  // namespace

namespace {

// The audio range of the file between its tags.
std::pair<std::int64_t, std::int64_t> AudioRange(CMPAFileStream& stream) {
  std::int64_t begin = 0, end = stream.GetSize();
  CTags tags(stream, begin, end, [](const CMPAException&) {});
  return {begin, end};
}

std::unique_ptr<CMPAFileStream> OpenStream(const std::string& path) {
  try {
    return std::make_unique<CMPAFileStream>(path);
  } catch (const CMPAException&) {
    return nullptr;
  }
}

}  // namespace

Mp3DecodeStatus ProbeMp3File(const std::string& path) {
  const auto stream = OpenStream(path);
  if (!stream) return Mp3DecodeStatus::CannotOpen;
  try {
    const auto [begin, end] = AudioRange(*stream);
    MpaFrameWalk walk(*stream, begin, end, kMaxMp3SearchBytes);
    return walk.Next() ? Mp3DecodeStatus::Ok : Mp3DecodeStatus::Empty;
  } catch (const CMPAException&) {
    return Mp3DecodeStatus::Empty;
  }
}

Mp3DecodeStatus DecodeMp3File(const std::string& path, int targetRate, int targetChannels, const PcmSink& sink) {
  const auto stream = OpenStream(path);
  if (!stream) return Mp3DecodeStatus::CannotOpen;
  HipDecoder decoder;
  if (!decoder.hip) return Mp3DecodeStatus::Empty;
  std::array<short, kMaxFrameSamples> left{}, right{};
  std::vector<std::int16_t> interleaved(2 * kMaxFrameSamples);
  std::vector<std::int16_t> converted;
  AudioResampleContextPtr resampler;
  bool formatKnown = false;
  int sourceChannels = 1;
  bool any = false;

  try {
    const auto [begin, end] = AudioRange(*stream);
    // The decoder gets whole frames only, as our walk finds them: it never
    // holds bytes that are not audio, which it would scan again and again.
    MpaFrameWalk walk(*stream, begin, end, kMaxMp3SearchBytes);
    while (const auto frame = walk.Next()) {
      std::int64_t at = frame->offset;
      // hip copies the frame into its own buffer and never writes to ours.
      unsigned char* bytes = const_cast<std::uint8_t*>(stream->ReadBuffer(frame->length, at, false));
      mp3data_struct info{};
      int n = hip_decode1_headers(decoder.hip, bytes, frame->length, left.data(), right.data(), &info);
      while (n > 0 && n <= kMaxFrameSamples) {
        if (!formatKnown) {
          if (!info.header_parsed) {
            n = hip_decode1_headers(decoder.hip, bytes, 0, left.data(), right.data(), &info);
            continue;
          }
          formatKnown = true;
          sourceChannels = info.stereo == 2 ? 2 : 1;
          const int sourceRate = info.samplerate == 0 ? 16000 : info.samplerate;
          if (sourceRate != targetRate || sourceChannels != targetChannels)
            resampler = AudioResampleInit(targetChannels, sourceChannels, targetRate, sourceRate);
        }
        const std::size_t samples = static_cast<std::size_t>(n);
        if (sourceChannels == 1) {
          std::copy_n(left.data(), samples, interleaved.data());
        } else {
          for (std::size_t i = 0; i < samples; ++i) {
            interleaved[2 * i] = left[i];
            interleaved[2 * i + 1] = right[i];
          }
        }
        std::size_t pcmBytes = samples * static_cast<std::size_t>(sourceChannels) * 2;
        const std::uint8_t* data = reinterpret_cast<const std::uint8_t*>(interleaved.data());
        if (resampler) {
          converted.resize(AudioResampleCapacity(*resampler, pcmBytes));
          pcmBytes = AudioResample(*resampler, converted.data(), interleaved.data(), pcmBytes);
          data = reinterpret_cast<const std::uint8_t*>(converted.data());
        }
        if (pcmBytes > 0) {
          any = true;
          if (!sink(data, pcmBytes)) return Mp3DecodeStatus::Stopped;
        }
        n = hip_decode1_headers(decoder.hip, bytes, 0, left.data(), right.data(), &info);
      }
    }
  } catch (const CMPAException&) {
    // A read error ends the decode with what it gave.
  }
  return any ? Mp3DecodeStatus::Ok : Mp3DecodeStatus::Empty;
}

Mp3DecodeStatus DecodeMp3FileWhole(const std::string& path, int targetRate, int targetChannels,
                                   std::vector<std::uint8_t>& out) {
  out.clear();
  return DecodeMp3File(path, targetRate, targetChannels, [&](const std::uint8_t* data, std::size_t size) {
    out.insert(out.end(), data, data + size);
    return true;
  });
}

Mp3PcmStream::Mp3PcmStream(std::string path, int targetRate, int targetChannels, std::size_t lookAheadBytes)
    : path_(std::move(path)),
      targetRate_(targetRate),
      targetChannels_(targetChannels),
      lookAhead_(std::max<std::size_t>(lookAheadBytes, 2 * 27648 * 2)) {}

Mp3PcmStream::~Mp3PcmStream() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

Mp3DecodeStatus Mp3PcmStream::Start() {
  const Mp3DecodeStatus status = ProbeMp3File(path_);
  if (status != Mp3DecodeStatus::Ok) return status;
  thread_ = std::thread([this] { Run(); });
  return status;
}

void Mp3PcmStream::Run() {
  const Mp3DecodeStatus status =
      DecodeMp3File(path_, targetRate_, targetChannels_, [this](const std::uint8_t* data, std::size_t size) {
        std::unique_lock lock(mutex_);
        // A full look-ahead waits until the reader has taken half of it, so
        // a paced reader wakes the decoder once per half look-ahead, not at
        // every read. One decoder step may overshoot by its own size.
        if (buffer_.size() >= lookAhead_) {
          decoderWaiting_ = true;
          changed_.wait(lock, [this] { return stop_ || buffer_.size() <= lookAhead_ / 2; });
          decoderWaiting_ = false;
        }
        if (stop_) return false;
        buffer_.insert(buffer_.end(), data, data + size);
        peak_ = std::max(peak_, buffer_.size());
        if (readerWaiting_) changed_.notify_all();
        return true;
      });
  std::lock_guard lock(mutex_);
  status_ = status;
  done_ = true;
  changed_.notify_all();
}

std::size_t Mp3PcmStream::Read(std::uint8_t* out, std::size_t size) {
  std::unique_lock lock(mutex_);
  std::size_t done = 0;
  while (done < size) {
    // The reader waits until the decoder has all it asks for (or has ended),
    // so a reader ahead of the decoder is woken once, not at every frame.
    const std::size_t want = std::min(size - done, lookAhead_ / 2);
    readerWaiting_ = true;
    changed_.wait(lock, [&] { return done_ || stop_ || buffer_.size() >= want; });
    readerWaiting_ = false;
    if (buffer_.empty()) break;
    const std::size_t take = std::min(want, buffer_.size());
    std::copy_n(buffer_.begin(), take, out + done);
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(take));
    done += take;
    if (decoderWaiting_ && buffer_.size() <= lookAhead_ / 2) changed_.notify_all();
  }
  return done;
}

bool Mp3PcmStream::AtEnd() {
  std::unique_lock lock(mutex_);
  readerWaiting_ = true;
  changed_.wait(lock, [this] { return done_ || stop_ || !buffer_.empty(); });
  readerWaiting_ = false;
  return buffer_.empty();
}

std::size_t Mp3PcmStream::PeakBufferedBytes() const {
  std::lock_guard lock(mutex_);
  return peak_;
}

}  // namespace kelvara::media
