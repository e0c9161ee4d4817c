#include "writer_helpers.h"

#include <gtest/gtest.h>

#include <cstring>

#include "emp4_demuxer.h"

namespace rivelin::test {

MP4_VIDEO_PARAM VideoParam(const char* codec, uint32_t width, uint32_t height, uint32_t fps) {
  MP4_VIDEO_PARAM p{};
  std::strncpy(p.codec, codec, sizeof p.codec - 1);
  p.width = width;
  p.height = height;
  p.framerate = fps;
  return p;
}

MP4_AUDIO_PARAM AudioParam(const char* codec, uint32_t rate, uint32_t channels) {
  MP4_AUDIO_PARAM p{};
  std::strncpy(p.codec, codec, sizeof p.codec - 1);
  p.sampleRate = rate;
  p.channels = channels;
  return p;
}

std::vector<AccessUnit> VideoFixture(VideoKind kind) {
  const std::string src = "-f lavfi -i testsrc=size=160x120:rate=25 -t 2 -pix_fmt yuv420p ";
  switch (kind) {
    case VideoKind::kH264Main:
      return SplitAccessUnits(
          ReadFile(Fixture("main.h264", src + "-c:v libx264 -profile:v main -bf 0 -g 12 -f h264")),
          false);
    case VideoKind::kH264HighSlices:
      // Four slices per frame, access unit delimiters, SEI before the IDR, and
      // a PPS longer than four bytes (8x8 transform).
      return SplitAccessUnits(
          ReadFile(Fixture("high.h264", src +
                                            "-c:v libx264 -profile:v high -bf 0 -g 12 "
                                            "-x264-params slices=4:aud=1 -f h264")),
          false);
    case VideoKind::kH265:
      return SplitAccessUnits(
          ReadFile(Fixture("main.h265", src +
                                            "-c:v libx265 -x265-params "
                                            "bframes=0:keyint=12:log-level=error -f hevc")),
          true);
  }
  return {};
}

std::vector<Packet> AudioPackets(AudioKind kind) {
  const std::string tone8k = "-f lavfi -i sine=frequency=440:sample_rate=8000 -t 2 ";
  const std::string tone16k = "-f lavfi -i sine=frequency=440:sample_rate=16000 -t 2 ";
  switch (kind) {
    case AudioKind::kNone:
      return {};
    case AudioKind::kPcmu:
      return SplitFixed(ReadFile(Fixture("a.ulaw", tone8k + "-c:a pcm_mulaw -f mulaw")), 320);
    case AudioKind::kPcma:
      return SplitFixed(ReadFile(Fixture("a.alaw", tone8k + "-c:a pcm_alaw -f alaw")), 320);
    case AudioKind::kAacAdts:
    case AudioKind::kAacRaw: {
      auto frames = SplitAdts(ReadFile(Fixture("a.aac", tone16k + "-c:a aac -b:a 32k -f adts")));
      if (kind == AudioKind::kAacRaw)
        for (auto& f : frames) f.data.erase(f.data.begin(), f.data.begin() + 7);
      return frames;
    }
  }
  return {};
}

int AudioPacketMs(AudioKind kind) {
  return (kind == AudioKind::kAacAdts || kind == AudioKind::kAacRaw) ? 64 : 40;
}

RecordResult Record(const std::filesystem::path& path, VideoKind video, AudioKind audio,
                    bool transcode, long durationSec) {
  RecordResult r;
  const auto aus = VideoFixture(video);
  const auto packets = AudioPackets(audio);
  MP4_VIDEO_PARAM v = VideoParam(video == VideoKind::kH265 ? "H265" : "H264", 160, 120, 25);
  MP4_AUDIO_PARAM a{};
  switch (audio) {
    case AudioKind::kPcmu:
      a = AudioParam("PCMU", 8000, 1);
      break;
    case AudioKind::kPcma:
      a = AudioParam("PCMA", 8000, 1);
      break;
    case AudioKind::kAacAdts:
    case AudioKind::kAacRaw:
      a = AudioParam("MPEG4-GENERIC", 16000, 1);
      break;
    case AudioKind::kNone:
      break;
  }
  auto* create = transcode ? MP4Create_aac : MP4Create;
  const long h = create(const_cast<char*>(path.c_str()), &v,
                        audio == AudioKind::kNone ? nullptr : &a, durationSec);
  EXPECT_GT(h, 0);
  if (h <= 0) return r;
  const int packetMs = AudioPacketMs(audio);
  size_t vi = 0, ai = 0;
  while (vi < aus.size() || ai < packets.size()) {
    const double vts = 1000.0 + 40.0 * static_cast<double>(vi);
    const double ats = 1000.0 + packetMs * static_cast<double>(ai);
    if (vi < aus.size() && (ai >= packets.size() || vts <= ats)) {
      const auto& au = aus[vi++];
      const int rc = WriteMP4Data(h, 1, const_cast<uint8_t*>(au.data.data()), au.data.size(),
                                  au.key, vts);
      EXPECT_EQ(rc, 0) << "video " << vi;
      if (rc == 0) ++r.videoAccepted;
    } else {
      const auto& p = packets[ai++];
      const int rc = WriteMP4Data(h, 0, const_cast<uint8_t*>(p.data.data()), p.data.size(), 1, ats);
      EXPECT_EQ(rc, 0) << "audio " << ai;
      if (rc == 0) ++r.audioAccepted;
    }
  }
  r.audioSeconds = r.audioAccepted * packetMs / 1000.0;
  EXPECT_EQ(MP4Close(h), 0);
  return r;
}

std::pair<int, int> CountSamplesWithReader(const std::filesystem::path& path) {
  int err = 0;
  Emp4Demuxer* d = Emp4DemuxerOpen(path.c_str(), nullptr, nullptr, nullptr, &err);
  if (!d) return {-1, -1};
  int video = 0, audio = 0;
  for (int i = 0; i < 1000000; ++i) {
    uint8_t* data = nullptr;
    int isAudio = 0, key = 0;
    uint64_t ts = 0;
    const int n = Emp4DemuxerReadFrame(d, &data, &isAudio, &key, &ts);
    if (n <= 0) break;
    (isAudio ? audio : video)++;
  }
  Emp4DemuxerClose(d);
  return {video, audio};
}

}  // namespace rivelin::test
