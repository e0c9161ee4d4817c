#include "bench_media.h"

#include "kelvara_test/bench.h"

#include <malloc.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace rivelin::bench {
namespace {

std::vector<uint8_t> Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void Ffmpeg(const std::string& args, const std::string& out) {
  const std::string cmd =
      "ffmpeg -nostdin -hide_banner -loglevel error -y " + args + " '" + out + "'";
  if (std::system(cmd.c_str()) != 0) throw std::runtime_error("ffmpeg failed: " + cmd);
}

}  // namespace

const std::string& TempDir() {
  static const kelvara::bench::TempFolder dir("rivelin-bench");
  static const std::string path = dir.path().string();
  return path;
}

namespace {

// Splits an Annex B stream into access units. A new unit starts at the first
// slice of a picture, or at a parameter set, SEI or delimiter after a slice.
std::vector<Unit> SplitUnits(const std::vector<uint8_t>& s, VideoCodec codec) {
  std::vector<size_t> starts;
  for (size_t i = 0; i + 3 < s.size();) {
    if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
      starts.push_back(i + 3);
      i += 3;
    } else {
      ++i;
    }
  }
  std::vector<Unit> out;
  Unit cur{{}, false};
  bool hasSlice = false;
  for (size_t k = 0; k < starts.size(); ++k) {
    const size_t b = starts[k];
    size_t e = k + 1 < starts.size() ? starts[k + 1] - 3 : s.size();
    while (e > b && s[e - 1] == 0) --e;
    if (e < b + 3) continue;
    bool slice, first, boundary, key;
    if (codec == VideoCodec::kH264) {
      const int type = s[b] & 0x1F;
      slice = type == 1 || type == 5;
      first = slice && (s[b + 1] & 0x80);  // first_mb_in_slice == 0
      boundary = type == 7 || type == 8 || type == 6 || type == 9;
      key = type == 5;
    } else {
      const int type = (s[b] >> 1) & 0x3F;
      slice = type <= 31;
      first = slice && (s[b + 2] & 0x80);  // first_slice_segment_in_pic_flag
      boundary = (type >= 32 && type <= 35) || type == 39;  // VPS, SPS, PPS, AUD, prefix SEI
      key = type >= 16 && type <= 21;
    }
    if (hasSlice && (first || boundary)) {
      out.push_back(std::move(cur));
      cur = {{}, false};
      hasSlice = false;
    }
    const uint8_t sc[4] = {0, 0, 0, 1};
    cur.data.insert(cur.data.end(), sc, sc + 4);
    cur.data.insert(cur.data.end(), s.begin() + static_cast<ptrdiff_t>(b),
                    s.begin() + static_cast<ptrdiff_t>(e));
    if (slice) hasSlice = true;
    if (key) cur.key = true;
  }
  if (hasSlice) out.push_back(std::move(cur));
  return out;
}

}  // namespace

const std::vector<Unit>& VideoUnits(VideoCodec codec) {
  static const std::vector<Unit> h264 = [] {
    const std::string path = TempDir() + "/v.h264";
    Ffmpeg("-f lavfi -i testsrc2=size=1280x720:rate=25 -t 4 -pix_fmt yuv420p -c:v libx264 "
           "-preset ultrafast -b:v 8M -bf 0 -g 50 -f h264",
           path);
    return SplitUnits(Read(path), VideoCodec::kH264);
  }();
  if (codec == VideoCodec::kH264) return h264;
  // The same picture and rate in H.265, parameter sets before every key
  // frame as a camera sends them.
  static const std::vector<Unit> h265 = [] {
    const std::string path = TempDir() + "/v.h265";
    Ffmpeg("-f lavfi -i testsrc2=size=1280x720:rate=25 -t 4 -pix_fmt yuv420p -c:v libx265 "
           "-preset ultrafast -b:v 8M -bf 0 -g 50 "
           "-x265-params log-level=error:repeat-headers=1:bframes=0 -f hevc",
           path);
    return SplitUnits(Read(path), VideoCodec::kH265);
  }();
  return h265;
}

const std::vector<uint8_t>& G711Minute() {
  static const std::vector<uint8_t> bytes = [] {
    const std::string path = TempDir() + "/a.ulaw";
    Ffmpeg("-f lavfi -i anoisesrc=color=pink:sample_rate=8000:amplitude=0.3 -t 60 "
           "-c:a pcm_mulaw -f mulaw",
           path);
    return Read(path);
  }();
  return bytes;
}

const std::vector<std::vector<uint8_t>>& AacFrames16k() {
  static const std::vector<std::vector<uint8_t>> frames = [] {
    const std::string path = TempDir() + "/a.aac";
    Ffmpeg("-f lavfi -i anoisesrc=color=pink:sample_rate=16000:amplitude=0.3 -t 60 "
           "-c:a aac -b:a 32k -f adts",
           path);
    const auto s = Read(path);
    std::vector<std::vector<uint8_t>> out;
    for (size_t i = 0; i + 7 <= s.size();) {
      if (s[i] != 0xFF || (s[i + 1] & 0xF0) != 0xF0) throw std::runtime_error("bad ADTS stream");
      const size_t header = (s[i + 1] & 1) ? 7 : 9;
      const size_t length = (static_cast<size_t>(s[i + 3] & 3) << 11) |
                            (static_cast<size_t>(s[i + 4]) << 3) | (s[i + 5] >> 5);
      if (length <= header || i + length > s.size()) break;
      out.emplace_back(s.begin() + static_cast<ptrdiff_t>(i + header),
                       s.begin() + static_cast<ptrdiff_t>(i + length));
      i += length;
    }
    return out;
  }();
  return frames;
}

double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double ThreadCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_THREAD, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

size_t HeapInUse() {
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

}  // namespace rivelin::bench
