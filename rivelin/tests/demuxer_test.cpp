// The reader on our own files, on FFmpeg's files and on damaged files.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "emp4_demuxer.h"
#include "emp4_nal.h"
#include "kelvara_test/test_env.h"
#include "media_fixtures.h"
#include "writer_helpers.h"

namespace rivelin::test {
namespace {

struct Frame {
  std::vector<uint8_t> data;
  bool audio;
  bool key;
  uint64_t ts;
};

std::vector<Frame> ReadAll(const std::filesystem::path& path, Emp4VideoDesc* v = nullptr,
                           Emp4AudioDesc* a = nullptr, int* error = nullptr) {
  int err = 0;
  Emp4Demuxer* d = Emp4DemuxerOpen(path.c_str(), v, a, nullptr, &err);
  if (error) *error = err;
  std::vector<Frame> frames;
  if (!d) return frames;
  for (int i = 0; i < 100000; ++i) {
    uint8_t* data = nullptr;
    int isAudio = 0, key = 0;
    uint64_t ts = 0;
    const int n = Emp4DemuxerReadFrame(d, &data, &isAudio, &key, &ts);
    if (n <= 0) {
      EXPECT_EQ(n, -1008);
      break;
    }
    frames.push_back({std::vector<uint8_t>(data, data + n), isAudio != 0, key != 0, ts});
  }
  Emp4DemuxerClose(d);
  return frames;
}

// The access unit with every start code made 4 bytes long.
std::vector<uint8_t> Normalized(const std::vector<uint8_t>& au) {
  std::vector<uint8_t> out;
  for (const auto& nal : SplitAnnexB(au.data(), au.size())) {
    const uint8_t sc[4] = {0, 0, 0, 1};
    out.insert(out.end(), sc, sc + 4);
    out.insert(out.end(), nal.data, nal.data + nal.size);
  }
  return out;
}

bool EndsWith(const std::vector<uint8_t>& s, const std::vector<uint8_t>& tail) {
  return s.size() >= tail.size() &&
         std::equal(tail.begin(), tail.end(), s.end() - static_cast<ptrdiff_t>(tail.size()));
}

struct OwnCase {
  const char* name;
  VideoKind video;
  AudioKind audio;
};

class DemuxerOwnFilesTest : public ::testing::TestWithParam<OwnCase> {};

// Every frame comes back as written, in time order, with timestamps in ms
// from the start.
TEST_P(DemuxerOwnFilesTest, ReturnsWhatTheWriterAccepted) {
  const OwnCase& c = GetParam();
  const auto path = kelvara::test::MakeTempDir(c.name) / "own.mp4";
  const RecordResult r = Record(path, c.video, c.audio, false);
  const auto aus = VideoFixture(c.video);
  const auto packets = AudioPackets(c.audio);
  Emp4VideoDesc v;
  Emp4AudioDesc a;
  const auto frames = ReadAll(path, &v, &a);
  EXPECT_EQ(v.width, 160u);
  EXPECT_EQ(v.height, 120u);
  EXPECT_EQ(v.framerate, 25u);
  EXPECT_EQ(v.codec, c.video == VideoKind::kH265 ? 2u : 1u);
  EXPECT_EQ(a.enabled, c.audio == AudioKind::kNone ? 0u : 1u);
  size_t vi = 0, ai = 0;
  uint64_t last = 0;
  for (const Frame& f : frames) {
    EXPECT_GE(f.ts, last);
    last = f.ts;
    if (!f.audio) {
      ASSERT_LT(vi, aus.size());
      EXPECT_EQ(f.ts, 40 * vi);
      EXPECT_EQ(f.key, aus[vi].key) << vi;
      EXPECT_TRUE(EndsWith(f.data, Normalized(aus[vi].data))) << vi;
      if (f.key) {
        // Key frames carry the parameter sets in front.
        EXPECT_GT(f.data.size(), Normalized(aus[vi].data).size());
      }
      ++vi;
    } else {
      ASSERT_LT(ai, packets.size());
      EXPECT_EQ(f.ts, static_cast<uint64_t>(AudioPacketMs(c.audio)) * ai);
      std::vector<uint8_t> expected = packets[ai].data;
      if (c.audio == AudioKind::kAacRaw || c.audio == AudioKind::kAacAdts) {
        // Stored without ADTS; returned behind a generated header.
        ASSERT_GT(f.data.size(), 7u);
        EXPECT_EQ(f.data[0], 0xFF);
        const size_t len = ((f.data[3] & 3u) << 11) | (f.data[4] << 3) | (f.data[5] >> 5);
        EXPECT_EQ(len, f.data.size());
        if (c.audio == AudioKind::kAacAdts) expected.erase(expected.begin(), expected.begin() + 7);
        EXPECT_TRUE(EndsWith(f.data, expected));
        EXPECT_EQ(f.data.size(), expected.size() + 7);
      } else {
        EXPECT_EQ(f.data, expected);
      }
      ++ai;
    }
  }
  EXPECT_EQ(static_cast<int>(vi), r.videoAccepted);
  EXPECT_EQ(static_cast<int>(ai), r.audioAccepted);
}

INSTANTIATE_TEST_SUITE_P(Files, DemuxerOwnFilesTest,
                         ::testing::Values(OwnCase{"h264_pcmu", VideoKind::kH264Main, AudioKind::kPcmu},
                                           OwnCase{"h264slices_aac", VideoKind::kH264HighSlices,
                                                   AudioKind::kAacAdts},
                                           OwnCase{"h265_aacraw", VideoKind::kH265, AudioKind::kAacRaw},
                                           OwnCase{"h265_pcma", VideoKind::kH265, AudioKind::kPcma}),
                         [](const auto& info) { return std::string(info.param.name); });

// Files written by FFmpeg's muxers: the frame counts match ffprobe and the
// video we return decodes cleanly as an elementary stream.
TEST(DemuxerFfmpegFilesTest, ReadsFilesOfFfmpeg) {
  VideoFixture(VideoKind::kH264Main);
  const auto h264 = Fixture("main.h264", "");  // already made: only its path
  VideoFixture(VideoKind::kH265);
  AudioPackets(AudioKind::kAacAdts);
  AudioPackets(AudioKind::kPcmu);
  const auto dir = h264.parent_path();
  struct Row {
    const char* name;
    std::string args;
    const char* rawFormat;
    int audioFrames;  // -1: not checked
  } rows[] = {
      {"ff_h264_aac.mp4",
       "-r 25 -i '" + (dir / "main.h264").string() + "' -i '" + (dir / "a.aac").string() +
           "' -c copy -movflags +faststart",
       "h264", -1},
      {"ff_h265.mp4", "-r 25 -i '" + (dir / "main.h265").string() + "' -c copy -tag:v hvc1",
       "hevc", -1},
      {"ff_h264_ulaw.mov",
       "-r 25 -i '" + (dir / "main.h264").string() + "' -f mulaw -ar 8000 -ac 1 -i '" +
           (dir / "a.ulaw").string() + "' -c copy",
       "h264", -1},
  };
  for (const Row& row : rows) {
    const auto file = Fixture(row.name, row.args);
    const auto streams = Probe(file);
    ASSERT_FALSE(streams.empty()) << row.name;
    Emp4VideoDesc v;
    Emp4AudioDesc a;
    int err = 0;
    const auto frames = ReadAll(file, &v, &a, &err);
    ASSERT_FALSE(frames.empty()) << row.name << " error " << err;
    int video = 0, audio = 0;
    size_t audioBytes = 0;
    std::vector<uint8_t> es;
    for (const Frame& f : frames) {
      if (f.audio) {
        ++audio;
        audioBytes += f.data.size();
      } else {
        ++video;
        es.insert(es.end(), f.data.begin(), f.data.end());
      }
    }
    EXPECT_EQ(std::to_string(video), streams[0].at("nb_read_packets")) << row.name;
    if (std::string(row.name).find("ulaw") == std::string::npos) {
      if (streams.size() > 1) {
        EXPECT_EQ(std::to_string(audio), streams[1].at("nb_read_packets"));
      }
    } else {
      // Raw G.711 in one-byte samples is read a chunk at a time: every byte.
      EXPECT_EQ(audioBytes, 16000u);
    }
    EXPECT_EQ(v.width, 160u);
    const auto esPath = file.parent_path() / (std::string(row.name) + ".es");
    WriteFile(esPath, es);
    const std::string frameCount =
        RunCommand("ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames "
            "-of csv=p=0 -f " + std::string(row.rawFormat) + " '" + esPath.string() + "'");
    EXPECT_EQ(std::stoi(frameCount), video) << row.name;
    EXPECT_EQ(RunCommand("ffmpeg -nostdin -v error -f " + std::string(row.rawFormat) + " -i '" +
                  esPath.string() + "' -f null - 2>&1"),
              "")
        << row.name;
  }
}

TEST(DemuxerSeekTest, LandsOnKeyFrameAtOrBeforeTarget) {
  const auto path = kelvara::test::MakeTempDir("seek") / "seek.mp4";
  Record(path, VideoKind::kH264Main, AudioKind::kPcmu, false);
  int err = 0;
  Emp4Demuxer* d = Emp4DemuxerOpen(path.c_str(), nullptr, nullptr, nullptr, &err);
  ASSERT_NE(d, nullptr);
  // Key frames every 12 frames = 480 ms.
  const std::pair<uint64_t, uint64_t> cases[] = {
      {0, 0}, {1, 0}, {480, 480}, {500, 480}, {1000, 960}, {1960, 1920}};
  for (const auto& [target, expect] : cases) {
    ASSERT_EQ(Emp4DemuxerSeek(d, target), 0);
    uint8_t* data;
    int isAudio = 0, key = 0;
    uint64_t ts = 0;
    // Audio from the key frame's time comes first on equal timestamps.
    ASSERT_GT(Emp4DemuxerReadFrame(d, &data, &isAudio, &key, &ts), 0);
    EXPECT_EQ(ts, expect) << target;
    if (isAudio) {
      ASSERT_GT(Emp4DemuxerReadFrame(d, &data, &isAudio, &key, &ts), 0);
    }
    EXPECT_FALSE(isAudio);
    EXPECT_TRUE(key) << target;
    EXPECT_EQ(ts, expect) << target;
  }
  ASSERT_EQ(Emp4DemuxerSeek(d, 5000), 0);
  uint8_t* data;
  int isAudio, key;
  uint64_t ts;
  EXPECT_EQ(Emp4DemuxerReadFrame(d, &data, &isAudio, &key, &ts), -1008);
  Emp4DemuxerClose(d);
  EXPECT_EQ(Emp4DemuxerSeek(nullptr, 0), -1000);
  EXPECT_EQ(Emp4DemuxerReadFrame(nullptr, &data, &isAudio, &key, &ts), -1000);
}

// Damaged copies: cut anywhere, or with box sizes of 0 and 1 (64-bit).
TEST(DemuxerDamageTest, TruncatedFilesGiveFewerFramesOrACleanError) {
  const auto dir = kelvara::test::MakeTempDir("trunc");
  const auto path = dir / "full.mp4";
  Record(path, VideoKind::kH264Main, AudioKind::kPcmu, false, 5);
  const auto bytes = ReadFile(path);
  const size_t full = ReadAll(path).size();
  ASSERT_EQ(full, 100u);
  size_t previous = 0;
  for (int i = 1; i <= 40; ++i) {
    const size_t cut = bytes.size() * static_cast<size_t>(i) / 40;
    const auto p = dir / ("cut" + std::to_string(i) + ".mp4");
    WriteFile(p, std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(cut)));
    int err = 0;
    const auto frames = ReadAll(p, nullptr, nullptr, &err);
    if (frames.empty()) {
      EXPECT_TRUE(err == 4 || err == 0) << cut;
    }
    EXPECT_GE(frames.size(), previous);
    previous = frames.size();
  }
  EXPECT_EQ(previous, full);
  // Missing file, folder, empty file.
  int err = 0;
  EXPECT_EQ(Emp4DemuxerOpen((dir / "none.mp4").c_str(), nullptr, nullptr, nullptr, &err), nullptr);
  EXPECT_EQ(err, 2);
  EXPECT_EQ(Emp4DemuxerOpen(dir.c_str(), nullptr, nullptr, nullptr, &err), nullptr);
  EXPECT_EQ(err, 2);
  WriteFile(dir / "empty.mp4", {});
  EXPECT_EQ(Emp4DemuxerOpen((dir / "empty.mp4").c_str(), nullptr, nullptr, nullptr, &err), nullptr);
  EXPECT_EQ(err, 4);
}

TEST(DemuxerDamageTest, MdatSizeZeroAndLargeSizeAreRead) {
  const auto dir = kelvara::test::MakeTempDir("sizes");
  const auto path = dir / "full.mp4";
  Record(path, VideoKind::kH264Main, AudioKind::kNone, false, 5);
  auto bytes = ReadFile(path);
  // Find the mdat header (after moov).
  const uint32_t moovSize = (bytes[36] << 24) | (bytes[37] << 16) | (bytes[38] << 8) | bytes[39];
  const size_t mdat = 36 + moovSize;
  ASSERT_EQ(std::memcmp(&bytes[mdat + 4], "mdat", 4), 0);
  auto zero = bytes;
  std::memset(&zero[mdat], 0, 4);  // size 0: to the end of the file
  WriteFile(dir / "zero.mp4", zero);
  EXPECT_EQ(ReadAll(dir / "zero.mp4").size(), 50u);
  // Size 1 with a 64-bit size: the reserved 8 bytes become "free" + header.
  auto large = bytes;
  const uint64_t body = bytes.size() - mdat;
  std::vector<uint8_t> hdr = {0, 0, 0, 1, 'm', 'd', 'a', 't'};
  for (int i = 7; i >= 0; --i) hdr.push_back(static_cast<uint8_t>((body + 8) >> (8 * i)));
  large.insert(large.begin() + static_cast<ptrdiff_t>(mdat) + 8, hdr.begin() + 8, hdr.end());
  std::copy(hdr.begin(), hdr.begin() + 8, large.begin() + static_cast<ptrdiff_t>(mdat));
  // The chunk offsets now point 8 bytes early: the frames fail to match but
  // the file must open and read without error or crash.
  WriteFile(dir / "large.mp4", large);
  int err = 0;
  const auto frames = ReadAll(dir / "large.mp4", nullptr, nullptr, &err);
  EXPECT_EQ(err, 0);
  EXPECT_EQ(frames.size(), 50u);
  // A moov that claims more than the file holds is refused.
  auto big = bytes;
  big[36] = 0x7F;
  WriteFile(dir / "big.mp4", big);
  EXPECT_TRUE(ReadAll(dir / "big.mp4", nullptr, nullptr, &err).empty());
  EXPECT_EQ(err, 4);
}

// An edit list whose media time lies far past every sample (a 64-bit value
// from a damaged or hostile file) puts the audio before the start: its
// timestamps clamp to 0 instead of wrapping around to absurd values.
TEST(DemuxerDamageTest, HugeEditMediaTimeKeepsTimestampsInRange) {
  const auto dir = kelvara::test::MakeTempDir("elst");
  const auto path = dir / "full.mp4";
  Record(path, VideoKind::kH264Main, AudioKind::kPcmu, false, 5);
  auto bytes = ReadFile(path);
  const std::string_view tag = "edts";
  const auto found = std::search(bytes.begin(), bytes.end(), tag.begin(), tag.end());
  ASSERT_NE(found, bytes.end());
  const size_t edts = static_cast<size_t>(found - bytes.begin()) - 4;
  // The writer's 48-byte edit room: edts (36) and free (12).
  ASSERT_EQ(bytes[edts + 3], 36);
  ASSERT_EQ(std::memcmp(&bytes[edts + 40], "free", 4), 0);
  // edts(48) { elst(40) version 1, one entry: duration 1000, media time 10^16 }
  std::vector<uint8_t> box = {0, 0, 0, 48, 'e', 'd', 't', 's', 0, 0, 0, 40, 'e', 'l', 's', 't',
                              1, 0, 0, 0, 0, 0, 0, 1};
  auto put64 = [&box](uint64_t v) {
    for (int i = 7; i >= 0; --i) box.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  put64(1000);
  put64(10'000'000'000'000'000ull);
  box.insert(box.end(), {0, 1, 0, 0, 0, 0, 0, 0});
  ASSERT_EQ(box.size(), 48u);
  std::copy(box.begin(), box.end(), bytes.begin() + static_cast<ptrdiff_t>(edts));
  WriteFile(dir / "elst.mp4", bytes);
  int err = 0;
  const auto frames = ReadAll(dir / "elst.mp4", nullptr, nullptr, &err);
  ASSERT_EQ(err, 0);
  ASSERT_EQ(frames.size(), 100u);
  for (const Frame& f : frames) EXPECT_LE(f.ts, 5000u) << (f.audio ? "audio" : "video");
}

// A one-track H.265 file made by hand: `claimed` samples of one byte each in
// a single chunk (one stts entry, one stsc run, one size for all), with
// `present` bytes of sample data really in the file. The sample entry has no
// hvcC, so the track has no parameter sets.
std::vector<uint8_t> CraftedFile(uint32_t claimed, size_t present) {
  const auto u32 = [](std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  const auto box = [&](const char* type, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> b;
    u32(b, static_cast<uint32_t>(8 + body.size()));
    b.insert(b.end(), type, type + 4);
    b.insert(b.end(), body.begin(), body.end());
    return b;
  };
  const auto full = [&](std::initializer_list<uint32_t> words, size_t zeros = 0) {
    std::vector<uint8_t> b(4, 0);  // version 0, flags 0
    for (uint32_t w : words) u32(b, w);
    b.resize(b.size() + zeros, 0);
    return b;
  };
  const auto cat = [](std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> b;
    for (const auto& p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
  };
  std::vector<uint8_t> entry(78, 0);
  entry[7] = 1;                    // data reference index
  entry[25] = 160, entry[27] = 120;  // width, height
  std::vector<uint8_t> hdlr = full({0});
  hdlr.insert(hdlr.end(), {'v', 'i', 'd', 'e'});
  hdlr.resize(hdlr.size() + 13, 0);
  const auto ftyp = box("ftyp", {'i', 's', 'o', 'm', 0, 0, 0, 0, 'i', 's', 'o', 'm'});
  // The chunk offset depends on the moov size, which does not depend on it.
  const auto moov = [&](uint32_t chunk) {
    const auto stbl = box("stbl", cat({box("stsd", cat({full({1}), box("hev1", entry)})),
                                       box("stts", full({1, claimed, 1})),
                                       box("stsz", full({1, claimed})),
                                       box("stsc", full({1, 1, claimed, 1})),
                                       box("stco", full({1, chunk}))}));
    const auto mdia = box("mdia", cat({box("mdhd", full({0, 0, 90000, claimed}, 4)),
                                       box("hdlr", hdlr), box("minf", stbl)}));
    return box("moov", cat({box("mvhd", full({0, 0, 1000, 0}, 80)), box("trak", mdia)}));
  };
  const uint32_t chunk = static_cast<uint32_t>(ftyp.size() + moov(0).size() + 8);
  std::vector<uint8_t> mdat(present, 0x26);  // a byte that is no start code
  return cat({ftyp, moov(chunk), box("mdat", mdat)});
}

long MaxRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// Sample tables that claim far more samples than the file holds are indexed
// only up to the file's end (checked sample by sample, not chunk by chunk);
// more than 4 million real samples in a track are refused; a track without
// parameter sets opens (no copy from an empty set).
TEST(DemuxerDamageTest, SampleCountsAreBoundedByTheFileAndTheLimit) {
  const auto dir = kelvara::test::MakeTempDir("crafted");
  const struct {
    const char* name;
    uint32_t claimed;
    size_t present;
    size_t frames;  // 0: refused
  } rows[] = {
      {"fits", 100, 100, 100},
      {"50M claimed, 18 kB", 50'000'000, 18'000, 18'000},
      {"4G claimed, 1 kB", 0xFFFFFFFF, 1'000, 1'000},
      {"over the limit", 4'000'001, 4'000'001, 0},
  };
  for (const auto& r : rows) {
    const auto path = dir / "crafted.mp4";
    WriteFile(path, CraftedFile(r.claimed, r.present));
    const long rssBefore = MaxRssKb();
    Emp4VideoDesc v;
    int err = 0;
    Emp4Demuxer* d = Emp4DemuxerOpen(path.c_str(), &v, nullptr, nullptr, &err);
    if (r.claimed > r.present) {  // no index of the claim, only of what is there
      EXPECT_LT(MaxRssKb() - rssBefore, 256 * 1024) << r.name;
    }
    if (r.frames == 0) {
      EXPECT_EQ(d, nullptr) << r.name;
      continue;
    }
    ASSERT_NE(d, nullptr) << r.name;
    EXPECT_EQ(v.codec, kEmp4CodecH265);
    EXPECT_EQ(v.metaLength, 0u);
    EXPECT_EQ(Emp4DemuxerVideoFrames(d), r.frames) << r.name;
    Emp4DemuxerClose(d);
    EXPECT_EQ(ReadAll(path).size(), r.frames) << r.name;
  }
}

// Durations are exact: a recording shorter than a second still opens, and
// its length in whole seconds rounds up.
TEST(DemuxerDurationTest, ShortRecordingOpensWithExactDuration) {
  const auto aus = VideoFixture(false);
  const auto path = kelvara::test::MakeTempDir("short") / "short.mp4";
  MP4_VIDEO_PARAM v = VideoParam("H264", 160, 120, 25);
  const long h = MP4Create(const_cast<char*>(path.c_str()), &v, nullptr, 1800);
  ASSERT_GT(h, 0);
  for (size_t i = 0; i < 12; ++i)
    ASSERT_EQ(WriteMP4Data(h, 1, const_cast<uint8_t*>(aus[i].data.data()), aus[i].data.size(),
                           aus[i].key, 5000.0 + 40.0 * static_cast<double>(i)),
              0);
  MP4Close(h);
  int err = 0;
  Emp4FileInfo info{};
  Emp4Demuxer* d = Emp4DemuxerOpen(path.c_str(), nullptr, nullptr, &info, &err);
  ASSERT_NE(d, nullptr) << err;
  EXPECT_EQ(Emp4DemuxerDurationMs(d), 480u);
  EXPECT_EQ(info.durationSec, 1u);
  Emp4DemuxerClose(d);
  EXPECT_EQ(MP4GetFileTimes(const_cast<char*>(path.c_str())), 1);
  const auto streams = Probe(path);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0].at("duration"), "0.480000");
}

TEST(DemuxerSampleFormTest, OldAndNewSampleFormsBecomeStartCodes) {
  const std::vector<uint8_t> sc = {0, 0, 0, 1};
  // New form: each NAL unit with its own length.
  const std::vector<uint8_t> sei = {0x06, 0x05, 0x01, 0x80};
  const std::vector<uint8_t> idr = {0x65, 0x88, 0x80, 0x10};
  std::vector<uint8_t> sample = {0, 0, 0, 4};
  sample.insert(sample.end(), sei.begin(), sei.end());
  sample.insert(sample.end(), {0, 0, 0, 4});
  sample.insert(sample.end(), idr.begin(), idr.end());
  std::vector<uint8_t> out;
  AppendSampleAsAnnexB(out, sample.data(), sample.size(), 4);
  std::vector<uint8_t> expect = sc;
  expect.insert(expect.end(), sei.begin(), sei.end());
  expect.insert(expect.end(), sc.begin(), sc.end());
  expect.insert(expect.end(), idr.begin(), idr.end());
  EXPECT_EQ(out, expect);
  // Old form: one length for the whole access unit, later units keep their
  // start codes.
  std::vector<uint8_t> old = {0, 0, 0, 12};
  old.insert(old.end(), idr.begin(), idr.end());
  old.insert(old.end(), sc.begin(), sc.end());
  old.insert(old.end(), idr.begin(), idr.end());
  out.clear();
  AppendSampleAsAnnexB(out, old.data(), old.size(), 4);
  expect = sc;
  expect.insert(expect.end(), idr.begin(), idr.end());
  expect.insert(expect.end(), sc.begin(), sc.end());
  expect.insert(expect.end(), idr.begin(), idr.end());
  EXPECT_EQ(out, expect);
  // Old H.265 form: stored in start-code form, returned as stored.
  const std::vector<uint8_t> h265 = {0, 0, 0, 1, 0x40, 0x01, 0x0C, 0x01, 0, 0, 1, 0x26, 0x01, 0xAF};
  out.clear();
  AppendSampleAsAnnexB(out, h265.data(), h265.size(), 4);
  EXPECT_EQ(out, h265);
}

}  // namespace
}  // namespace rivelin::test
