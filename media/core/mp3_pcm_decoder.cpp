#include "media/core/mp3_pcm_decoder.h"

#include <fcntl.h>
#include <lame/lame.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "media/core/audio_resampler.h"

namespace kelvara::media {

namespace {

constexpr std::size_t kBlockBytes = 640;
constexpr int kMaxFrameSamples = 2304;

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// Bytes read at `offset`, fewer only at the end of the file; -1 on error.
ssize_t ReadFull(int fd, std::uint8_t* out, std::size_t size, off_t offset) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::pread(fd, out + done, size - done, offset + static_cast<off_t>(done));
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<ssize_t>(done);
}

struct HipDecoder {
  hip_t hip = hip_decode_init();
  ~HipDecoder() {
    if (hip) hip_decode_exit(hip);
  }
};

}  // namespace

Mp3DecodeStatus DecodeMp3File(const std::string& path, int targetRate, int targetChannels, const PcmSink& sink) {
  Fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return Mp3DecodeStatus::CannotOpen;
  const off_t length = ::lseek(file.get(), 0, SEEK_END);
  if (length <= 0) return Mp3DecodeStatus::Empty;

  // A leading ID3v2 tag is passed over; its size is taken as it stands and a
  // size past the end simply leaves nothing to decode.
  off_t offset = 0;
  std::uint8_t head[10];
  if (ReadFull(file.get(), head, 10, 0) == 10 && std::memcmp(head, "ID3", 3) == 0) {
    const off_t size = (off_t{head[6] & 0x7F} << 21) | (off_t{head[7] & 0x7F} << 14) |
                       (off_t{head[8] & 0x7F} << 7) | off_t{head[9] & 0x7F};
    offset = size + 10;
  }

  HipDecoder decoder;
  if (!decoder.hip) return Mp3DecodeStatus::Empty;
  std::array<std::uint8_t, kBlockBytes> block{};
  std::array<short, kMaxFrameSamples> left{}, right{};
  std::vector<std::int16_t> interleaved(2 * kMaxFrameSamples);
  std::vector<std::int16_t> converted;
  AudioResampleContextPtr resampler;
  bool formatKnown = false;
  int sourceChannels = 1;
  bool any = false;

  for (;;) {
    const ssize_t got = ReadFull(file.get(), block.data(), kBlockBytes, offset);
    if (got <= 0) break;
    offset += got;
    std::fill(block.begin() + got, block.end(), 0);
    mp3data_struct info{};
    int n = hip_decode1_headers(decoder.hip, block.data(), kBlockBytes, left.data(), right.data(), &info);
    while (n > 0 && n <= kMaxFrameSamples) {
      if (!formatKnown) {
        if (!info.header_parsed) {
          n = hip_decode1_headers(decoder.hip, block.data(), 0, left.data(), right.data(), &info);
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
      std::size_t bytes = samples * static_cast<std::size_t>(sourceChannels) * 2;
      const std::uint8_t* data = reinterpret_cast<const std::uint8_t*>(interleaved.data());
      if (resampler) {
        converted.resize(AudioResampleCapacity(*resampler, bytes));
        bytes = AudioResample(*resampler, converted.data(), interleaved.data(), bytes);
        data = reinterpret_cast<const std::uint8_t*>(converted.data());
      }
      if (bytes > 0) {
        any = true;
        if (!sink(data, bytes)) return Mp3DecodeStatus::Stopped;
      }
      n = hip_decode1_headers(decoder.hip, block.data(), 0, left.data(), right.data(), &info);
    }
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
  thread_ = std::thread([this] { Run(); });
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return done_ || !buffer_.empty(); });
  if (!buffer_.empty()) return Mp3DecodeStatus::Ok;
  return status_;
}

void Mp3PcmStream::Run() {
  const Mp3DecodeStatus status =
      DecodeMp3File(path_, targetRate_, targetChannels_, [this](const std::uint8_t* data, std::size_t size) {
        std::unique_lock lock(mutex_);
        // One decoder step may overshoot the look-ahead by its own size.
        changed_.wait(lock, [this] { return stop_ || buffer_.size() < lookAhead_; });
        if (stop_) return false;
        buffer_.insert(buffer_.end(), data, data + size);
        peak_ = std::max(peak_, buffer_.size());
        changed_.notify_all();
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
    changed_.wait(lock, [this] { return done_ || stop_ || !buffer_.empty(); });
    if (buffer_.empty()) break;
    const std::size_t take = std::min(size - done, buffer_.size());
    std::copy_n(buffer_.begin(), take, out + done);
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(take));
    done += take;
    changed_.notify_all();
  }
  return done;
}

bool Mp3PcmStream::AtEnd() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return done_ || stop_ || !buffer_.empty(); });
  return buffer_.empty();
}

std::size_t Mp3PcmStream::PeakBufferedBytes() const {
  std::lock_guard lock(mutex_);
  return peak_;
}

}  // namespace kelvara::media
