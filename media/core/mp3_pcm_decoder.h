#pragma once
// MP3 to 16-bit PCM at the broadcast's rate and channel count, through LAME's
// hip decoder and the broadcast resampler.
//
// DecodeMp3File is the whole decode step by step: leave out the tags at both
// ends, feed the decoder the frames our frame walk finds (mpa_frame_walk.h:
// a run of several matching headers puts it in step, so bytes before the
// audio never reach the decoder, which would scan them again with every
// block and take time that grows with their square), take every frame it
// gives, convert it when its rate or channels differ from the target, and
// hand the bytes to a sink in file order.
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

// The most bytes one search for frames passes over (before the audio, or
// across damage inside it); a file whose audio lies further in is taken as
// holding none. Searching is linear: 8 MiB take about 50 ms.
inline constexpr std::int64_t kMaxMp3SearchBytes = 8 << 20;

// Whether the file opens and holds a frame the decode would start with:
// Ok, CannotOpen or Empty. Costs one bounded search, no decoding.
Mp3DecodeStatus ProbeMp3File(const std::string& path);

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

  // Probes the file (ProbeMp3File) and, when it holds a frame, starts the
  // decode thread without waiting for its first PCM: Ok, CannotOpen or Empty.
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
  // Who waits on changed_, so the other side signals only then.
  bool readerWaiting_ = false;
  bool decoderWaiting_ = false;
  Mp3DecodeStatus status_ = Mp3DecodeStatus::Ok;
  std::thread thread_;
};

}  // namespace kelvara::media
