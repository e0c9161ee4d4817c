// MP3 decoding and conversion for broadcast: the converter against a Python
// model of its arithmetic, the decode against `lame --decode`, and the
// streamed decode against the whole one.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <algorithm>

#include "kelvara_test/test_env.h"
#include "media/core/audio_resampler.h"
#include "media/core/mp3_pcm_decoder.h"
#include "mp3_fixtures.h"

namespace kelvara::media {
namespace {

using test::EncodedMp3Dir;

std::vector<std::uint8_t> ToBytes(const std::vector<std::int16_t>& pcm) {
  std::vector<std::uint8_t> out(pcm.size() * 2);
  std::memcpy(out.data(), pcm.data(), out.size());
  return out;
}

// lame drops the decoder's delay (and the encoder's, when the file says it):
// true when `ours` equals `ref` from some shift on, over most of `ref`.
bool AlignsWith(const std::vector<std::int16_t>& ref, const std::vector<std::int16_t>& ours, int channels) {
  for (std::size_t shift = 0; shift < 4000 && shift < ours.size(); shift += static_cast<std::size_t>(channels)) {
    const std::size_t common = std::min(ours.size() - shift, ref.size());
    if (common < ref.size() * 9 / 10) break;
    if (std::equal(ref.begin(), ref.begin() + static_cast<std::ptrdiff_t>(common), ours.begin() + static_cast<std::ptrdiff_t>(shift)))
      return true;
  }
  return false;
}

std::vector<std::int16_t> ToSamples(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::int16_t> out(bytes.size() / 2);
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return out;
}

TEST(Mp3DecodeTest, ResamplerEqualsTheModelOverRatePairs) {
  struct Case {
    int inRate, outRate, inCh, outCh, chunk;
  } cases[] = {
      {44100, 32000, 2, 1, 1152}, {44100, 16000, 2, 1, 1152}, {48000, 8000, 2, 1, 1152},
      {8000, 48000, 1, 2, 576},   {22050, 44100, 1, 1, 577},  {16000, 8000, 1, 1, 1152},
      {32000, 44100, 2, 2, 1152}, {11025, 16000, 2, 2, 300},  {48000, 11025, 1, 1, 1152},
      {24000, 16000, 1, 2, 1152}, {44100, 44100, 2, 1, 1152}, {12000, 32000, 2, 1, 999},
  };
  std::mt19937 random(7);
  const auto dir = kelvara::test::MakeTempDir("resample");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.inRate) + ">" + std::to_string(c.outRate) + " " + std::to_string(c.inCh) + ">" +
                 std::to_string(c.outCh));
    // Loud noise over a tone: clipping and sign handling matter.
    std::vector<std::int16_t> input(static_cast<std::size_t>(c.inRate) / 2 * c.inCh);
    std::uniform_int_distribution<int> noise(-9000, 9000);
    for (std::size_t i = 0; i < input.size(); ++i)
      input[i] = static_cast<std::int16_t>(
          std::clamp(24000.0 * std::sin(i * 0.01) + noise(random), -32768.0, 32767.0));
    auto ctx = AudioResampleInit(c.outCh, c.inCh, c.outRate, c.inRate);
    ASSERT_TRUE(ctx);
    std::vector<std::int16_t> ours;
    const std::size_t frames = input.size() / c.inCh;
    for (std::size_t at = 0; at < frames; at += c.chunk) {
      const std::size_t n = std::min<std::size_t>(c.chunk, frames - at);
      std::vector<std::int16_t> out(AudioResampleCapacity(*ctx, n * c.inCh * 2));
      const std::size_t bytes = AudioResample(*ctx, out.data(), input.data() + at * c.inCh, n * c.inCh * 2);
      ASSERT_LE(bytes, out.size() * 2);
      out.resize(bytes / 2);
      ours.insert(ours.end(), out.begin(), out.end());
    }
    test::WriteFileBytes(dir / "in.raw", ToBytes(input));
    const std::string command = "/usr/bin/python3 '" +
                                (kelvara::test::SourceDir() / "media/tests/resample_model.py").string() + "' " +
                                std::to_string(c.outCh) + " " + std::to_string(c.inCh) + " " +
                                std::to_string(c.outRate) + " " + std::to_string(c.inRate) + " " +
                                std::to_string(c.chunk) + " '" + (dir / "in.raw").string() + "' '" +
                                (dir / "out.raw").string() + "' && echo ok";
    ASSERT_EQ(test::CommandOutput(command), "ok\n");
    const std::vector<std::int16_t> model = ToSamples(test::ReadFileBytes(dir / "out.raw"));
    ASSERT_EQ(ours.size(), model.size());
    EXPECT_TRUE(ours == model);
    const double expected = static_cast<double>(frames) * c.outRate / c.inRate * c.outCh;
    EXPECT_NEAR(static_cast<double>(ours.size()), expected, expected * 0.01 + 8);
  }
  EXPECT_EQ(AudioResampleInit(1, 3, 8000, 16000), nullptr);
}

TEST(Mp3DecodeTest, DecodeEqualsLameDecodeOnceAligned) {
  for (const char* name : {"plain_44100_stereo.mp3", "cbr_22050_mono.mp3", "vbr_16000_stereo.mp3"}) {
    SCOPED_TRACE(name);
    const auto file = EncodedMp3Dir() / name;
    const auto dir = kelvara::test::MakeTempDir("lame");
    ASSERT_EQ(test::CommandOutput("lame --quiet --decode -t '" + file.string() + "' '" + (dir / "ref.raw").string() +
                                  "' && echo ok"),
              "ok\n");
    const std::vector<std::int16_t> ref = ToSamples(test::ReadFileBytes(dir / "ref.raw"));
    // Decode to the file's own format: no conversion.
    const std::string n(name);
    const int rate = std::stoi(n.substr(n.find('_') + 1));
    const int channels = n.find("mono") != std::string::npos ? 1 : 2;
    std::vector<std::uint8_t> bytes;
    ASSERT_EQ(DecodeMp3FileWhole(file.string(), rate, channels, bytes), Mp3DecodeStatus::Ok);
    const std::vector<std::int16_t> ours = ToSamples(bytes);
    ASSERT_GT(ref.size(), 1000u);
    EXPECT_TRUE(AlignsWith(ref, ours, channels));
  }
}

// Junk before the first frame, made to trip a decoder: megabytes of noise
// (full of sync patterns and headers that lead nowhere) and a chain of three
// false frames whose last reaches into the first real frame. The decode
// starts at the real audio and gives exactly the clean file's PCM, which
// `lame --decode` of the clean file confirms.
TEST(Mp3DecodeTest, JunkBeforeTheAudioIsPassedOver) {
  const auto clean = EncodedMp3Dir() / "plain_44100_stereo.mp3";
  const auto dir = kelvara::test::MakeTempDir("junk");
  ASSERT_EQ(test::CommandOutput("lame --quiet --decode -t '" + clean.string() + "' '" + (dir / "ref.raw").string() +
                                "' && echo ok"),
            "ok\n");
  const std::vector<std::int16_t> ref = ToSamples(test::ReadFileBytes(dir / "ref.raw"));
  std::vector<std::uint8_t> cleanPcm;
  ASSERT_EQ(DecodeMp3FileWhole(clean.string(), 44100, 2, cleanPcm), Mp3DecodeStatus::Ok);

  std::mt19937 random(31);
  std::vector<std::uint8_t> noise(4 << 20);
  for (auto& b : noise) b = static_cast<std::uint8_t>(random());
  std::vector<std::uint8_t> chain(3000, 0x00);
  for (std::size_t i = 0; i < 3; ++i) {
    const std::size_t at = chain.size() - 3 * 417 + 100 + i * 417;
    chain[at] = 0xFF, chain[at + 1] = 0xFB, chain[at + 2] = 0x90, chain[at + 3] = 0x64;
  }
  std::vector<std::uint8_t> both = noise;
  test::Append(both, chain);
  for (const auto* junk : {&noise, &chain, &both}) {
    SCOPED_TRACE(junk->size());
    std::vector<std::uint8_t> bytes = *junk;
    test::Append(bytes, test::ReadFileBytes(clean));
    test::WriteFileBytes(dir / "junk.mp3", bytes);
    std::vector<std::uint8_t> pcm;
    ASSERT_EQ(DecodeMp3FileWhole((dir / "junk.mp3").string(), 44100, 2, pcm), Mp3DecodeStatus::Ok);
    EXPECT_TRUE(pcm == cleanPcm);
    EXPECT_TRUE(AlignsWith(ref, ToSamples(pcm), 2));
    // The stream gives the same first second.
    Mp3PcmStream stream((dir / "junk.mp3").string(), 44100, 2);
    ASSERT_EQ(stream.Start(), Mp3DecodeStatus::Ok);
    std::vector<std::uint8_t> first(176400);
    ASSERT_EQ(stream.Read(first.data(), first.size()), first.size());
    EXPECT_TRUE(std::equal(first.begin(), first.end(), cleanPcm.begin()));
  }
}

TEST(Mp3DecodeTest, StreamGivesTheWholeDecodeWithinItsLookAhead) {
  const auto dir = kelvara::test::MakeTempDir("long");
  const auto file = dir / "long.mp3";
  ASSERT_EQ(test::CommandOutput("ffmpeg -v error -nostdin -y -f lavfi -i sine=frequency=300:sample_rate=44100:"
                                "duration=20 -ac 2 -c:a libmp3lame -b:a 96k '" +
                                file.string() + "' && echo ok"),
            "ok\n");
  std::vector<std::uint8_t> whole;
  ASSERT_EQ(DecodeMp3FileWhole(file.string(), 32000, 1, whole), Mp3DecodeStatus::Ok);
  const std::size_t lookAhead = 128 * 1024;
  ASSERT_GT(whole.size(), 8 * lookAhead);
  // A paced reader's pieces, and reads larger than the look-ahead itself.
  for (const std::size_t pieceBytes : {std::size_t{2560}, 3 * lookAhead + 7}) {
    Mp3PcmStream stream(file.string(), 32000, 1, lookAhead);
    ASSERT_EQ(stream.Start(), Mp3DecodeStatus::Ok);
    std::vector<std::uint8_t> streamed, piece(pieceBytes);
    while (std::size_t got = stream.Read(piece.data(), piece.size()))
      streamed.insert(streamed.end(), piece.begin(), piece.begin() + got);
    EXPECT_TRUE(stream.AtEnd());
    EXPECT_TRUE(streamed == whole) << pieceBytes;
    // One decoder step (at most 2304 stereo samples raised 6 times) past the bound.
    EXPECT_LE(stream.PeakBufferedBytes(), lookAhead + 27648 * 2);
  }
}

TEST(Mp3DecodeTest, Id3v2IsSkippedAndEmptyOrMissingFilesFail) {
  const auto dir = kelvara::test::MakeTempDir("id3");
  const auto plain = EncodedMp3Dir() / "cbr_16000_mono.mp3";
  std::vector<std::uint8_t> tagged = {'I', 'D', '3', 3, 0, 0, 0, 0, 2, 44};  // 300-byte body
  tagged.resize(310, 0xFF);  // bytes that would decode as sync if read
  test::Append(tagged, test::ReadFileBytes(plain));
  test::WriteFileBytes(dir / "tagged.mp3", tagged);
  std::vector<std::uint8_t> a, b;
  ASSERT_EQ(DecodeMp3FileWhole(plain.string(), 8000, 1, a), Mp3DecodeStatus::Ok);
  ASSERT_EQ(DecodeMp3FileWhole((dir / "tagged.mp3").string(), 8000, 1, b), Mp3DecodeStatus::Ok);
  EXPECT_TRUE(a == b);

  // A tag whose size runs past the end is no tag: the audio after it is found.
  std::vector<std::uint8_t> tooLarge = {'I', 'D', '3', 3, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F};
  test::Append(tooLarge, test::ReadFileBytes(plain));
  test::WriteFileBytes(dir / "large.mp3", tooLarge);
  test::WriteFileBytes(dir / "empty.mp3", {});
  test::WriteFileBytes(dir / "noise.mp3", std::vector<std::uint8_t>(5000, 0x55));
  struct Case {
    std::string path;
    Mp3DecodeStatus status;
  } cases[] = {{(dir / "large.mp3").string(), Mp3DecodeStatus::Ok},
               {(dir / "empty.mp3").string(), Mp3DecodeStatus::Empty},
               {(dir / "noise.mp3").string(), Mp3DecodeStatus::Empty},
               {(dir / "missing.mp3").string(), Mp3DecodeStatus::CannotOpen}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::vector<std::uint8_t> out;
    EXPECT_EQ(DecodeMp3FileWhole(c.path, 8000, 1, out), c.status);
    Mp3PcmStream stream(c.path, 8000, 1);
    EXPECT_EQ(stream.Start(), c.status);
  }
}

}  // namespace
}  // namespace kelvara::media
