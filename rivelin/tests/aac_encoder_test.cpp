// G.711 expansion against ffmpeg's decoders, the transcoder's framing, and
// A/V sync of transcoded recordings decoded by ffmpeg.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "emp4_aac_encoder.h"
#include "kelvara_test/test_env.h"
#include "media_fixtures.h"
#include "writer_helpers.h"

namespace rivelin::test {
namespace {

std::vector<int16_t> FfmpegDecodeAllCodes(const char* format) {
  const auto dir = kelvara::test::MakeTempDir(format);
  std::vector<uint8_t> codes(256);
  for (int i = 0; i < 256; ++i) codes[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  WriteFile(dir / "in.raw", codes);
  int rc = 0;
  RunCommand("ffmpeg -nostdin -v error -f " + std::string(format) + " -ar 8000 -ac 1 -i '" +
          (dir / "in.raw").string() + "' -f s16le -acodec pcm_s16le '" + (dir / "out.raw").string() +
          "'",
      &rc);
  EXPECT_EQ(rc, 0);
  const auto bytes = ReadFile(dir / "out.raw");
  std::vector<int16_t> out(bytes.size() / 2);
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return out;
}

TEST(G711Test, AllCodesMatchFfmpeg) {
  const auto ulaw = FfmpegDecodeAllCodes("mulaw");
  const auto alaw = FfmpegDecodeAllCodes("alaw");
  ASSERT_EQ(ulaw.size(), 256u);
  ASSERT_EQ(alaw.size(), 256u);
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(G711UlawToLinear(static_cast<uint8_t>(i)), ulaw[static_cast<size_t>(i)]) << i;
    EXPECT_EQ(G711AlawToLinear(static_cast<uint8_t>(i)), alaw[static_cast<size_t>(i)]) << i;
  }
  EXPECT_EQ(G711UlawToLinear(0xFF), 0);
  EXPECT_EQ(G711AlawToLinear(0xD5), 8);
}

TEST(AacEncoderTest, RefusesBadParameters) {
  EXPECT_EQ(emp4_aac_enc_create(10, 8000, 1), nullptr);
  EXPECT_EQ(emp4_aac_enc_create(11, 0, 1), nullptr);
  EXPECT_EQ(emp4_aac_enc_create(12, 8000, 0), nullptr);
}

TEST(AacEncoderTest, OneFramePer1024SamplesAndFlushPadsTheRest) {
  Emp4AacEncoder* enc = emp4_aac_enc_create(11, 8000, 1);
  ASSERT_NE(enc, nullptr);
  std::vector<uint8_t> out(emp4_aac_enc_max_out(enc));
  std::vector<uint8_t> packet(320, 0xFF);
  // The encoder's look-ahead holds back the first frames; count what comes
  // out per 1024 input samples once it runs.
  int frames = 0, feeds = 0;
  for (; feeds < 3; ++feeds)
    EXPECT_EQ(emp4_aac_enc_feed(enc, packet.data(), packet.size(), out.data(), out.size()), 0);
  for (; feeds < 64; ++feeds) {
    const int n = emp4_aac_enc_feed(enc, packet.data(), packet.size(), out.data(), out.size());
    ASSERT_GE(n, 0);
    if (n > 0) ++frames;
  }
  // 64 x 320 = 20480 samples = 20 frames, less the priming still inside.
  EXPECT_GE(frames, 17);
  EXPECT_LE(frames, 20);
  int flushed = 0;
  for (int i = 0; i < 16; ++i) {
    const int n = emp4_aac_enc_flush(enc, out.data(), out.size());
    ASSERT_GE(n, 0);
    if (n == 0) break;
    ++flushed;
  }
  // Every input sample (and the look-ahead) comes out: frames cover the
  // input plus the encoder delay.
  EXPECT_GE((frames + flushed) * 1024, 20480 + static_cast<int>(emp4_aac_enc_delay(enc)));
  emp4_aac_enc_destroy(enc);
}

TEST(AacEncoderTest, ShortInputStillYieldsAFrameAtFlush) {
  Emp4AacEncoder* enc = emp4_aac_enc_create(12, 8000, 1);
  ASSERT_NE(enc, nullptr);
  std::vector<uint8_t> out(emp4_aac_enc_max_out(enc));
  std::vector<uint8_t> in(100, 0xD5);
  EXPECT_EQ(emp4_aac_enc_feed(enc, in.data(), in.size(), out.data(), out.size()), 0);
  EXPECT_GT(emp4_aac_enc_flush(enc, out.data(), out.size()), 0);
  emp4_aac_enc_destroy(enc);
}

// Index of the first sample whose magnitude passes the threshold.
long Onset(const std::vector<uint8_t>& s16le, int threshold) {
  for (size_t i = 0; i + 1 < s16le.size(); i += 2) {
    const int16_t v = static_cast<int16_t>(s16le[i] | (s16le[i + 1] << 8));
    if (std::abs(v) > threshold) return static_cast<long>(i / 2);
  }
  return -1;
}

// G.711 that is silent for 0.5 s and then a tone, transcoded alongside
// video: ffmpeg must hear the tone start 0.5 s after the video starts.
TEST(AacEncoderTest, TranscodedAudioKeepsSyncWithVideo) {
  const auto aus = VideoFixture(false);
  const auto g711 = SplitFixed(
      ReadFile(Fixture("onset.ulaw",
                       "-f lavfi -i sine=frequency=1000:sample_rate=8000:duration=2:samples_per_frame=80 "
                       "-af \"volume=enable='lt(t,0.5)':volume=0\" -c:a pcm_mulaw -f mulaw")),
      320);
  ASSERT_EQ(g711.size(), 50u);
  for (int startMs : {0, 200}) {
    const auto dir = kelvara::test::MakeTempDir("sync");
    const auto path = dir / "sync.mp4";
    MP4_VIDEO_PARAM v = VideoParam("H264", 160, 120, 25);
    MP4_AUDIO_PARAM a = AudioParam("PCMU", 8000, 1);
    const long h = MP4Create_aac(const_cast<char*>(path.c_str()), &v, &a, 60);
    ASSERT_GT(h, 0);
    size_t ai = 0;
    for (size_t vi = 0; vi < aus.size(); ++vi) {
      const double vts = 1000.0 + 40.0 * static_cast<double>(vi);
      ASSERT_EQ(WriteMP4Data(h, 1, const_cast<uint8_t*>(aus[vi].data.data()), aus[vi].data.size(),
                             aus[vi].key, vts),
                0);
      while (ai < g711.size() && 1000.0 + startMs + 40.0 * static_cast<double>(ai) <= vts) {
        ASSERT_EQ(WriteMP4Data(h, 0, const_cast<uint8_t*>(g711[ai].data.data()), 320, 1,
                               1000.0 + startMs + 40.0 * static_cast<double>(ai)),
                  0);
        ++ai;
      }
    }
    MP4Close(h);
    const auto streams = Probe(path);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[1].at("codec_name"), "aac");
    EXPECT_NEAR(std::stod(streams[1].at("start_time")), startMs / 1000.0, 0.002) << startMs;
    EXPECT_EQ(DecodeErrors(path), "");
    int rc = 0;
    RunCommand("ffmpeg -nostdin -v error -i '" + path.string() + "' -map 0:a -f s16le -ac 1 -ar 8000 '" +
            (dir / "a.raw").string() + "'",
        &rc);
    ASSERT_EQ(rc, 0);
    // The decoded track starts at the audio's own start; the tone comes
    // 0.5 s into it (within 5 ms).
    const long onset = Onset(ReadFile(dir / "a.raw"), 2000);
    EXPECT_NEAR(onset, 4000, 40) << "start " << startMs;
  }
}

}  // namespace
}  // namespace rivelin::test
