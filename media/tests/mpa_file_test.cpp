// MP3 analysis: the frame walk against ffprobe on encoder-made files, the
// tags and VBR headers those files carry, and hand-made files for the
// search rules, damaged frames and sizes that do not fit the file.
#include <gtest/gtest.h>

#include <sstream>

#include "media/core/mpa_file.h"
#include "media/core/mpa_frame_walk.h"
#include "media/core/mpa_tags.h"
#include "mp3_fixtures.h"

namespace kelvara::media {
namespace {

using test::Append;
using test::EncodedMp3Dir;
using test::SyntheticFrames;

struct Packet {
  std::int64_t pos;
  std::int64_t size;
  bool operator==(const Packet&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Packet& p) { return os << p.pos << "+" << p.size; }

std::vector<Packet> FfprobePackets(const std::filesystem::path& file) {
  std::istringstream in(test::CommandOutput("ffprobe -v error -show_entries packet=pos,size -of compact=p=0 '" +
                                            file.string() + "'"));
  std::vector<Packet> packets;
  std::string line;
  while (std::getline(in, line)) {
    Packet p{};
    if (std::sscanf(line.c_str(), "size=%ld|pos=%ld", &p.size, &p.pos) == 2) packets.push_back(p);
  }
  return packets;
}

std::vector<Packet> Walk(CMPAFile& file) {
  std::vector<Packet> frames;
  for (auto f = file.GetFrame(CMPAFile::First); f; f = file.GetFrame(CMPAFile::Next, f.get()))
    frames.push_back({f->GetOffset(), f->GetLength()});
  return frames;
}

std::vector<Packet> WalkBytes(const std::vector<std::uint8_t>& bytes) {
  CMPAFile file("mem.mp3", bytes);
  return Walk(file);
}

TEST(MpaFileTest, FrameWalkEqualsFfprobeOnEveryEncodedFile) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(EncodedMp3Dir())) {
    SCOPED_TRACE(entry.path().filename().string());
    CMPAFile file(entry.path().string());
    std::vector<Packet> walked = Walk(file);
    // The VBR header frame carries no audio: the demuxer does not deliver it.
    if (file.GetVBRHeader()) {
      ASSERT_FALSE(walked.empty());
      EXPECT_EQ(walked.front().pos, file.GetVBRHeader()->offset - 4 - file.GetFirstFrame().GetHeader().GetSideInfoSize());
      walked.erase(walked.begin());
    }
    const std::vector<Packet> probed = FfprobePackets(entry.path());
    ASSERT_FALSE(probed.empty());
    EXPECT_EQ(walked, probed);
    EXPECT_EQ(file.GetEnd(), walked.back().pos + walked.back().size);
    ++files;
  }
  EXPECT_EQ(files, 22);
}

TEST(MpaFileTest, HeadersOfEveryRateAndMode) {
  struct Case {
    const char* name;
    std::uint32_t rate;
    bool mono;
    std::uint32_t samples;
  } cases[] = {
      {"cbr_8000_mono.mp3", 8000, true, 576},      {"cbr_11025_mono.mp3", 11025, true, 576},
      {"cbr_12000_mono.mp3", 12000, true, 576},    {"cbr_16000_mono.mp3", 16000, true, 576},
      {"cbr_22050_mono.mp3", 22050, true, 576},    {"cbr_24000_mono.mp3", 24000, true, 576},
      {"cbr_32000_mono.mp3", 32000, true, 1152},   {"cbr_44100_mono.mp3", 44100, true, 1152},
      {"cbr_48000_mono.mp3", 48000, true, 1152},   {"vbr_8000_stereo.mp3", 8000, false, 576},
      {"vbr_22050_stereo.mp3", 22050, false, 576}, {"vbr_48000_stereo.mp3", 48000, false, 1152},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CMPAFile file((EncodedMp3Dir() / c.name).string());
    const CMPAHeader& h = file.GetFirstFrame().GetHeader();
    EXPECT_EQ(h.GetSamplingRate(), c.rate);
    EXPECT_EQ(h.IsMono(), c.mono);
    EXPECT_EQ(h.GetSamplesPerFrame(), c.samples);
    EXPECT_EQ(h.layer, CMPAHeader::Layer3);
    EXPECT_EQ(file.GetVBRHeader() != nullptr, std::string(c.name).starts_with("vbr"));
  }
}

TEST(MpaFileTest, FrameLengthFollowsBitrateRateAndPadding) {
  const std::uint8_t noPadding[4] = {0xFF, 0xFB, 0x90, 0x00};
  const std::uint8_t padding[4] = {0xFF, 0xFB, 0x92, 0x00};
  EXPECT_EQ(CMPAHeader(noPadding).CalcFrameSize(), 417u);
  EXPECT_EQ(CMPAHeader(padding).CalcFrameSize(), 418u);
  // MPEG-1 Layer I, 32 kHz, 32 kbit/s: 12 x 32000 / 32000 slots of 4 bytes.
  const std::uint8_t layer1[4] = {0xFF, 0xFF, 0x18, 0x00};
  EXPECT_EQ(CMPAHeader(layer1).CalcFrameSize(), 48u);
  EXPECT_EQ(CMPAHeader(layer1).GetSamplesPerFrame(), 384u);
  // MPEG-2 Layer III, 22.05 kHz, 64 kbit/s: 72 x 64000 / 22050 = 208.
  const std::uint8_t lsf[4] = {0xFF, 0xF3, 0x80, 0xC0};
  EXPECT_EQ(CMPAHeader(lsf).CalcFrameSize(), 208u);
  EXPECT_EQ(CMPAHeader(lsf).GetSideInfoSize(), 9u);
}

TEST(MpaFileTest, CorruptHeadersRaiseTheirCode) {
  struct Case {
    std::uint8_t b[4];
    CMPAException::ErrorID id;
  } cases[] = {
      {{0xFF, 0xEB, 0x90, 0x00}, CMPAException::HeaderCorrupt},  // version 1
      {{0xFF, 0xF9, 0x90, 0x00}, CMPAException::HeaderCorrupt},  // layer value 0
      {{0xFF, 0xFB, 0xF0, 0x00}, CMPAException::HeaderCorrupt},  // bitrate index 15
      {{0xFF, 0xFB, 0x00, 0x00}, CMPAException::FreeBitrate},
      {{0xFF, 0xFB, 0x9C, 0x00}, CMPAException::HeaderCorrupt},  // rate index 3
      {{0xFF, 0xFB, 0x90, 0x02}, CMPAException::HeaderCorrupt},  // emphasis 2
      {{0xFF, 0xFD, 0x10, 0x00}, CMPAException::HeaderCorrupt},  // Layer II stereo 32 kbit/s
      {{0xFF, 0xFD, 0xB0, 0xC0}, CMPAException::HeaderCorrupt},  // Layer II mono 224 kbit/s
  };
  for (const auto& c : cases) {
    try {
      CMPAHeader h(c.b);
      ADD_FAILURE() << "accepted " << std::hex << int(c.b[1]) << " " << int(c.b[2]) << " " << int(c.b[3]);
    } catch (const CMPAException& e) {
      EXPECT_EQ(e.GetErrorID(), c.id);
    }
  }
  // Layer II allocation tables by bitrate per channel and rate.
  const std::uint8_t l2Stereo192at48[4] = {0xFF, 0xFD, 0xA4, 0x00};
  EXPECT_EQ(CMPAHeader(l2Stereo192at48).allocationTable, 0);
  const std::uint8_t l2Stereo64at32[4] = {0xFF, 0xFD, 0x48, 0x00};
  EXPECT_EQ(CMPAHeader(l2Stereo64at32).allocationTable, 3);
  const std::uint8_t l2Mono96at44[4] = {0xFF, 0xFD, 0x60, 0xC0};
  EXPECT_EQ(CMPAHeader(l2Mono96at44).allocationTable, 1);
}

TEST(MpaFileTest, GarbageBeforeTheFirstFrameIsPassedOver) {
  std::vector<std::uint8_t> bytes(100, 0x11);
  // A sync pattern with a valid header whose next frame is not there.
  bytes[20] = 0xFF, bytes[21] = 0xFB, bytes[22] = 0x90, bytes[23] = 0x00;
  // And one with a corrupt header.
  bytes[60] = 0xFF, bytes[61] = 0xFF, bytes[62] = 0xFF;
  Append(bytes, SyntheticFrames(5));
  const auto frames = WalkBytes(bytes);
  ASSERT_EQ(frames.size(), 5u);
  EXPECT_EQ(frames.front().pos, 100);
}

TEST(MpaFileTest, ShiftedFramesAreFollowedAndDamageIsResynchronised) {
  std::vector<std::uint8_t> bytes = SyntheticFrames(3);
  bytes.push_back(0);  // next header one byte late: found by the exact probes
  Append(bytes, SyntheticFrames(3));
  bytes.insert(bytes.end(), 40, 0x00);  // a longer gap: found by resync
  Append(bytes, SyntheticFrames(3));
  const auto frames = WalkBytes(bytes);
  std::vector<Packet> expected;
  for (int i = 0; i < 3; ++i) expected.push_back({i * 417, 417});
  for (int i = 0; i < 3; ++i) expected.push_back({1251 + 1 + i * 417, 417});
  for (int i = 0; i < 3; ++i) expected.push_back({2503 + 40 + i * 417, 417});
  EXPECT_EQ(frames, expected);

  CMPAFile file("mem.mp3", bytes);
  auto last = file.GetFrame(CMPAFile::Last);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->GetOffset(), expected.back().pos);
  auto prev = file.GetFrame(CMPAFile::Prev, last.get());
  ASSERT_TRUE(prev);
  EXPECT_EQ(prev->GetOffset(), expected[7].pos);
}

TEST(MpaFileTest, FilesWithoutUsableFramesRaise) {
  const auto codeOf = [](const std::vector<std::uint8_t>& bytes) {
    try {
      CMPAFile file("bad.mp3", bytes);
    } catch (const CMPAException& e) {
      EXPECT_EQ(e.FileName(), "bad.mp3");
      return static_cast<int>(e.GetErrorID());
    }
    return -1;
  };
  // No sync within 163840 bytes.
  std::vector<std::uint8_t> zeros(200000, 0);
  Append(zeros, SyntheticFrames(3));
  EXPECT_EQ(codeOf(zeros), CMPAException::NoFrameInTolerance);
  // Free format frames.
  std::vector<std::uint8_t> free = SyntheticFrames(4);
  for (std::size_t i = 0; i < free.size(); i += 417) free[i + 2] = 0x00;
  EXPECT_EQ(codeOf(free), CMPAException::FreeBitrate);
  EXPECT_EQ(codeOf({}), CMPAException::NoFrame);
  EXPECT_EQ(codeOf(std::vector<std::uint8_t>(1000, 0x20)), CMPAException::NoFrame);
}

std::vector<Packet> FrameWalk(CMPAFileStream& stream, std::int64_t begin, std::int64_t end,
                              std::int64_t maxSearch = -1) {
  MpaFrameWalk walk(stream, begin, end, maxSearch);
  std::vector<Packet> frames;
  while (const auto f = walk.Next()) frames.push_back({f->offset, f->length});
  return frames;
}

std::vector<Packet> FrameWalkBytes(const std::vector<std::uint8_t>& bytes, std::int64_t maxSearch = -1) {
  CMPAFileStream stream("mem.mp3", bytes);
  return FrameWalk(stream, 0, static_cast<std::int64_t>(bytes.size()), maxSearch);
}

std::vector<Packet> Frames(std::int64_t at, int count) {
  std::vector<Packet> out;
  for (int i = 0; i < count; ++i) out.push_back({at + i * 417, 417});
  return out;
}

TEST(MpaFrameWalkTest, EqualsFfprobeOnEveryEncodedFile) {
  for (const auto& entry : std::filesystem::directory_iterator(EncodedMp3Dir())) {
    SCOPED_TRACE(entry.path().filename().string());
    CMPAFileStream stream(entry.path().string());
    std::int64_t begin = 0, end = stream.GetSize();
    CTags tags(stream, begin, end, [](const CMPAException&) {});
    std::vector<Packet> walked = FrameWalk(stream, begin, end);
    CMPAFile file(entry.path().string());
    if (file.GetVBRHeader()) walked.erase(walked.begin());  // not audio: the demuxer leaves it out
    EXPECT_EQ(walked, FfprobePackets(entry.path()));
  }
}

TEST(MpaFrameWalkTest, RunsOfMatchingHeadersDecideWhereAudioStarts) {
  // Three chained false frames whose last reaches 100 bytes into the audio: a
  // sync on fewer than four headers would cut the first real frame.
  std::vector<std::uint8_t> chained(2000, 0x11);
  for (int i = 0; i < 3; ++i) {
    const std::size_t at = 2000 - 3 * 417 + 100 + static_cast<std::size_t>(i) * 417;
    chained[at] = 0xFF, chained[at + 1] = 0xFB, chained[at + 2] = 0x90, chained[at + 3] = 0x64;
  }
  Append(chained, SyntheticFrames(6));

  std::vector<std::uint8_t> damaged = SyntheticFrames(4);
  damaged.insert(damaged.end(), 300, 0xFF);  // sync bytes, no header
  Append(damaged, SyntheticFrames(5));

  std::vector<std::uint8_t> cut = SyntheticFrames(5);
  cut.resize(cut.size() - 10);

  std::vector<std::uint8_t> shortTail(50, 0x00);
  Append(shortTail, SyntheticFrames(2));  // fewer than a run, ending the file

  std::vector<std::uint8_t> tooFar(5000, 0x00);
  Append(tooFar, SyntheticFrames(5));

  std::vector<std::uint8_t> mixed = SyntheticFrames(5);
  Append(mixed, SyntheticFrames(5, true));  // stereo, then a mono run

  struct Case {
    const char* name;
    const std::vector<std::uint8_t>& bytes;
    std::int64_t maxSearch;
    std::vector<Packet> expected;
  } cases[] = {
      {"false chain before the audio", chained, -1, Frames(2000, 6)},
      {"damage inside", damaged, -1, [] {
         auto f = Frames(0, 4);
         for (const auto& p : Frames(4 * 417 + 300, 5)) f.push_back(p);
         return f;
       }()},
      {"last frame cut short", cut, -1, Frames(0, 4)},
      {"short file", shortTail, -1, Frames(50, 2)},
      {"audio past the search bound", tooFar, 4096, {}},
      {"audio within the search bound", tooFar, 5000, Frames(5000, 5)},
      {"format change", mixed, -1, Frames(0, 10)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FrameWalkBytes(c.bytes, c.maxSearch), c.expected);
  }
  EXPECT_TRUE(FrameWalkBytes({}).empty());
  EXPECT_TRUE(FrameWalkBytes(std::vector<std::uint8_t>(5000, 0xFF)).empty());
}

TEST(MpaFileTest, ErrorTextsCarryFileAndCall) {
  try {
    CMPAFile file("/nonexistent/x.mp3");
    FAIL();
  } catch (const CMPAException& e) {
    EXPECT_EQ(e.GetErrorID(), CMPAException::ErrOpenFile);
    EXPECT_EQ(e.Message(), "/nonexistent/x.mp3: 'CreateFile'\nCan't open the file.\nNo such file or directory");
  }
  EXPECT_EQ(CMPAException(CMPAException::CorruptLyricsTag).Message(), "Corrupt Lyrics3 Tag");
  EXPECT_STREQ(CMPAException::ErrorText(CMPAException::NoFrameInTolerance),
               "No subsequent frame found within tolerance range.");
}

}  // namespace
}  // namespace kelvara::media
