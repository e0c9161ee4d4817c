#pragma once
// MP3 to 16-bit PCM at the broadcast's rate and channel count, through LAME's
// hip decoder and the broadcast resampler.
//
// DecodeMp3File is the whole decode step by step: skip a leading ID3v2 tag,
// feed the decoder 640-byte blocks (the last padded with zeros), take every
// frame it gives, convert it when its rate or channels differ from the
// target, and hand the bytes to a sink in file order.
//
// Mp3PcmStream runs that decode on a thread of its own and keeps at most a
// bounded look-ahead of PCM, so a long file does not sit in memory whole;
// its reader gets exactly the bytes the whole decode would give.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kelvara::media {

enum class Mp3DecodeStatus { Ok, CannotOpen, Empty, Stopped };

// The sink returns false to stop the decode.
using PcmSink = std::function<bool(const std::uint8_t* data, std::size_t size)>;
Mp3DecodeStatus DecodeMp3File(const std::string& path, int targetRate, int targetChannels, const PcmSink& sink);

// The whole decode in memory (tests and benchmarks).
Mp3DecodeStatus DecodeMp3FileWhole(const std::string& path, int targetRate, int targetChannels,
                                   std::vector<std::uint8_t>& out);

class Mp3PcmStream {
 public:
  static constexpr std::size_t kDefaultLookAheadBytes = 512 * 1024;

  Mp3PcmStream(std::string path, int targetRate, int targetChannels,
               std::size_t lookAheadBytes = kDefaultLookAheadBytes);
  // Stops and joins the decode thread.
  ~Mp3PcmStream();
  Mp3PcmStream(const Mp3PcmStream&) = delete;
  Mp3PcmStream& operator=(const Mp3PcmStream&) = delete;

  // Starts decoding and waits until the first PCM is there or the decode has
  // ended: CannotOpen, Empty (no PCM at all) or Ok.
  Mp3DecodeStatus Start();

  // Copies up to `size` bytes, waiting while the decoder is behind; fewer
  // only at the end of the file.
  std::size_t Read(std::uint8_t* out, std::size_t size);
  // True once every byte has been read (waits for the decoder to tell).
  bool AtEnd();

  // The most PCM bytes held at once so far.
  std::size_t PeakBufferedBytes() const;

 private:
  void Run();

  const std::string path_;
  const int targetRate_;
  const int targetChannels_;
  const std::size_t lookAhead_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::uint8_t> buffer_;
  std::size_t peak_ = 0;
  bool done_ = false;
  bool stop_ = false;
  Mp3DecodeStatus status_ = Mp3DecodeStatus::Ok;
  std::thread thread_;
};

}  // namespace kelvara::media
