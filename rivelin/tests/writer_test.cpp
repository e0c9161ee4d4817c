// The writer through its C exports, checked with ffprobe / ffmpeg.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <fstream>

#include "emp4_demuxer.h"
#include "emp4_extra_func.h"
#include "emp4_muxer.h"
#include "emp4_nal.h"
#include "kelvara_test/test_env.h"
#include "media_fixtures.h"
#include "rivelin.h"
#include "writer_helpers.h"

namespace rivelin::test {
namespace {

TEST(WriterParamTest, CodecNamesMapToMuxerCodecs) {
  struct Row {
    const char* audio;
    uint32_t enabled, codec, samplesPerPacket;
  } rows[] = {
      {"PCMU", 1, kEmp4CodecUlaw, 320},   {"G711U", 1, kEmp4CodecUlaw, 320},
      {"G.711U", 1, kEmp4CodecUlaw, 320}, {"PCMA", 1, kEmp4CodecAlaw, 320},
      {"G711A", 1, kEmp4CodecAlaw, 320},  {"G.711A", 1, kEmp4CodecAlaw, 320},
      {"AAC", 1, kEmp4CodecAac, 1024},    {"MPEG4-GENERIC", 1, kEmp4CodecAac, 1024},
      {"MP4A", 1, kEmp4CodecAac, 1024},   {"MPEG4-AAC", 1, kEmp4CodecAac, 1024},
      {"AACG4-GENERIC/x", 1, kEmp4CodecAac, 1024},
      // Unknown names record video only instead of mislabelling the audio.
      {"AAC ", 0, 0, 0}, {"", 0, 0, 0}, {"OPUS", 0, 0, 0}, {"G726", 0, 0, 0},
  };
  for (const Row& r : rows) {
    MP4_AUDIO_PARAM a{};
    std::strcpy(a.codec, r.audio);
    a.sampleRate = 8000;
    a.channels = 1;
    Emp4VideoDesc v;
    Emp4AudioDesc out;
    ConvertMp4Param(nullptr, &a, &v, &out);
    EXPECT_EQ(out.enabled, r.enabled) << r.audio;
    EXPECT_EQ(out.codec, r.codec) << r.audio;
    EXPECT_EQ(out.samplesPerPacket, r.samplesPerPacket) << r.audio;
  }
  const std::pair<const char*, uint32_t> videos[] = {
      {"H264", 1}, {"H.264", 1}, {"H265", 2}, {"H.265", 2}, {"MJPEG", 0}, {"h264", 0}};
  for (const auto& [name, codec] : videos) {
    MP4_VIDEO_PARAM p{};
    std::strcpy(p.codec, name);
    Emp4VideoDesc v;
    Emp4AudioDesc a;
    ConvertMp4Param(&p, nullptr, &v, &a);
    EXPECT_EQ(v.codec, codec) << name;
    EXPECT_EQ(a.enabled, 0u);
  }
}

TEST(WriterExportTest, RefusesBadArgumentsAndLeavesNoFile) {
  const auto dir = kelvara::test::MakeTempDir("args");
  const std::string path = (dir / "x.mp4").string();
  MP4_VIDEO_PARAM v = VideoParam("H264", 160, 120, 25);
  EXPECT_EQ(MP4Create(const_cast<char*>(path.c_str()), &v, nullptr, 3601), 0);
  EXPECT_EQ(MP4Create(const_cast<char*>(path.c_str()), &v, nullptr, 0), 0);
  v.framerate = 0;
  EXPECT_EQ(MP4Create(const_cast<char*>(path.c_str()), &v, nullptr, 60), 0);
  v = VideoParam("MJPEG", 160, 120, 25);
  EXPECT_EQ(MP4Create(const_cast<char*>(path.c_str()), &v, nullptr, 60), 0);
  EXPECT_FALSE(std::filesystem::exists(path));

  // Unknown, closed and zero handles give errors, never a crash.
  unsigned char byte = 0;
  EXPECT_EQ(WriteMP4Data(0, 1, &byte, 1, 1, 40.0), -1000);
  EXPECT_EQ(WriteMP4Data(123456, 1, &byte, 1, 1, 40.0), -1000);
  EXPECT_EQ(MP4Close(0), 0);
  EXPECT_EQ(MP4Close(987654), 0);
}

TEST(WriterExportTest, TimestampZeroRefusedAndFractionDropped) {
  const auto aus = VideoFixture(false);
  const auto dir = kelvara::test::MakeTempDir("ts");
  const std::string path = (dir / "ts.mp4").string();
  MP4_VIDEO_PARAM v = VideoParam("H264", 160, 120, 25);
  const long h = MP4Create(const_cast<char*>(path.c_str()), &v, nullptr, 60);
  ASSERT_GT(h, 0);
  auto* key = const_cast<unsigned char*>(aus[0].data.data());
  EXPECT_EQ(WriteMP4Data(h, 1, key, aus[0].data.size(), 1, 0.0), -1);
  EXPECT_EQ(WriteMP4Data(h, 1, nullptr, 10, 1, 40.0), -1);
  EXPECT_EQ(WriteMP4Data(h, 1, key, aus[0].data.size(), 1, -5.0), -1);
  EXPECT_EQ(WriteMP4Data(h, 1, key, aus[0].data.size(), 1, 0.5), 0);  // becomes 0 ms
  EXPECT_EQ(MP4Close(h), 0);
  // The handle is gone after close.
  EXPECT_EQ(WriteMP4Data(h, 1, key, aus[0].data.size(), 1, 40.0), -1000);
  EXPECT_TRUE(std::filesystem::exists(path));
}

TEST(WriterExportTest, FileWithoutKeyFrameIsDeletedAndAudioWaitsForVideo) {
  const auto aus = VideoFixture(false);
  const auto dir = kelvara::test::MakeTempDir("nokey");
  const std::string path = (dir / "nokey.mp4").string();
  MP4_VIDEO_PARAM v = VideoParam("H264", 160, 120, 25);
  MP4_AUDIO_PARAM a = AudioParam("PCMU", 8000, 1);
  const long h = MP4Create(const_cast<char*>(path.c_str()), &v, &a, 60);
  ASSERT_GT(h, 0);
  std::vector<uint8_t> g711(320, 0xFF);
  EXPECT_EQ(WriteMP4Data(h, 0, g711.data(), g711.size(), 0, 40.0), -1004);
  ASSERT_FALSE(aus[1].key);
  EXPECT_EQ(WriteMP4Data(h, 1, const_cast<uint8_t*>(aus[1].data.data()), aus[1].data.size(), 0,
                         40.0),
            -1004);
  EXPECT_EQ(MP4Close(h), 0);
  EXPECT_FALSE(std::filesystem::exists(path));
}

// The layout of a one-track H.264 recording of 1800 s at 25 fps with a
// 10-byte SPS and a 4-byte PPS. The key-frame table has room for every sample.
TEST(WriterLayoutTest, ReservedMoovMatchesWorkedExample) {
  const auto dir = kelvara::test::MakeTempDir("layout");
  const std::string path = (dir / "layout.mp4").string();
  Emp4VideoDesc v{};
  v.codec = kEmp4CodecH264;
  v.width = 1920;
  v.height = 1080;
  v.framerate = 25;
  Emp4Limits limits{1800, 0};
  Emp4Muxer* m = Emp4MuxerOpen(&v, path.c_str(), nullptr, &limits, 0);
  ASSERT_NE(m, nullptr);
  // SPS of 10 bytes (Main profile, level 4.0), PPS of 4 bytes, then an IDR.
  const std::vector<uint8_t> frame = {0, 0, 0, 1, 0x67, 0x4D, 0x00, 0x28, 0x95, 0xA0, 0x1E, 0x00,
                                      0x89, 0xF9, 0, 0, 0, 1, 0x68, 0xEE, 0x3C, 0x80,
                                      0, 0, 0, 1, 0x65, 0x88, 0x84, 0x00, 0x33};
  ASSERT_EQ(Emp4MuxerWriteVideoNALU(m, 1, frame.data(), frame.size(), 40), 0);
  ASSERT_EQ(_emp4MuxerWritePendingSample(m), 0);
  const Emp4MuxerLayout l = Emp4MuxerGetLayout(m);
  EXPECT_EQ(l.videoLimit, 54000u);
  EXPECT_EQ(l.keyFrameLimit, 54000u);
  EXPECT_EQ(l.videoEntrySize, 119u);
  EXPECT_EQ(l.videoStblSize, 1519427u - 7216u + 216016u);
  EXPECT_EQ(l.moovSize, 1519795u - 7216u + 216016u);
  EXPECT_EQ(l.mdatOffset, 36u + l.moovSize);
  Emp4MuxerClose(m);
  const auto bytes = ReadFile(path);
  ASSERT_GT(bytes.size(), l.mdatOffset + 8);
  EXPECT_EQ(std::memcmp(bytes.data() + l.mdatOffset + 4, "mdat", 4), 0);
  // The first sample starts right after the mdat header, length-prefixed:
  // SPS (10), PPS (4), IDR (5).
  const uint8_t* s = bytes.data() + l.mdatOffset + 8;
  EXPECT_EQ(s[3], 10);
  EXPECT_EQ(s[4], 0x67);
  EXPECT_EQ(s[4 + 10 + 3], 4);
  EXPECT_EQ(s[4 + 10 + 4 + 4 + 3], 5);
  EXPECT_EQ(s[4 + 10 + 4 + 4 + 4], 0x65);
}

TEST(WriterLayoutTest, LimitsOfTranscodedAudio) {
  const auto dir = kelvara::test::MakeTempDir("alimit");
  const std::string path = (dir / "a.mp4").string();
  MP4_VIDEO_PARAM v = VideoParam("H264", 160, 120, 25);
  Emp4VideoDesc vd;
  Emp4AudioDesc ad;
  MP4_AUDIO_PARAM a = AudioParam("PCMA", 8000, 1);
  ConvertMp4Param(&v, &a, &vd, &ad);
  Emp4Limits limits{1800, 0};
  Emp4Muxer* m = Emp4MuxerOpen(&vd, path.c_str(), &ad, &limits, 1);
  ASSERT_NE(m, nullptr);
  const auto l = Emp4MuxerGetLayout(m);
  EXPECT_EQ(l.audioLimit, 16875u);
  EXPECT_EQ(l.audioPacketMs, 128u);
  Emp4MuxerClose(m);
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(WriterLayoutTest, ShortGopKeepsEveryKeyFrame) {
  // A camera sending only key frames must fill the whole sample table.
  const auto aus = VideoFixture(false);
  const auto dir = kelvara::test::MakeTempDir("gop");
  const std::string path = (dir / "gop.mp4").string();
  MP4_VIDEO_PARAM v = VideoParam("H264", 160, 120, 1);
  const long h = MP4Create(const_cast<char*>(path.c_str()), &v, nullptr, 10);  // 12 samples
  ASSERT_GT(h, 0);
  int accepted = 0, rc = 0;
  for (int i = 0; i < 20 && rc == 0; ++i) {
    rc = WriteMP4Data(h, 1, const_cast<uint8_t*>(aus[0].data.data()), aus[0].data.size(), 1,
                      1000.0 + 1000 * i);
    if (rc == 0) ++accepted;
  }
  EXPECT_EQ(rc, -1003);
  EXPECT_EQ(accepted, 11);  // table of 12 entries, one kept free
  MP4Close(h);
  const auto streams = Probe(path);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0].at("nb_read_packets"), "11");
  EXPECT_EQ(DecodeErrors(path), "");
}

// Reads (video timestamps, first audio frame) back with our reader.
std::pair<std::vector<uint64_t>, std::vector<uint8_t>> ReadBack(const std::filesystem::path& path) {
  std::pair<std::vector<uint64_t>, std::vector<uint8_t>> out;
  int err = 0;
  Emp4Demuxer* d = Emp4DemuxerOpen(path.c_str(), nullptr, nullptr, nullptr, &err);
  if (!d) return out;
  uint8_t* data;
  int isAudio, key;
  uint64_t ts;
  for (int n; (n = Emp4DemuxerReadFrame(d, &data, &isAudio, &key, &ts)) > 0;) {
    if (!isAudio) out.first.push_back(ts);
    if (isAudio && out.second.empty()) out.second.assign(data, data + n);
  }
  Emp4DemuxerClose(d);
  return out;
}

TEST(WriterTimingTest, NonIncreasingVideoTimestampsStepTenMilliseconds) {
  const auto aus = VideoFixture(false);
  const auto path = kelvara::test::MakeTempDir("equal") / "equal.mp4";
  MP4_VIDEO_PARAM v = VideoParam("H264", 160, 120, 25);
  const long h = MP4Create(const_cast<char*>(path.c_str()), &v, nullptr, 60);
  ASSERT_GT(h, 0);
  const double ts[] = {1000, 1000, 990, 1100};
  for (size_t i = 0; i < 4; ++i)
    ASSERT_EQ(WriteMP4Data(h, 1, const_cast<uint8_t*>(aus[i].data.data()), aus[i].data.size(),
                           aus[i].key, ts[i]),
              0);
  MP4Close(h);
  EXPECT_EQ(ReadBack(path).first, (std::vector<uint64_t>{0, 10, 20, 100}));
}

// The AudioSpecificConfig of the esds carries the sampling-frequency index
// (a rate outside the table gives 8); the reader's ADTS header repeats it.
TEST(WriterTimingTest, AacFrequencyIndexFromSampleRate) {
  const auto aus = VideoFixture(false);
  const std::pair<uint32_t, int> rates[] = {{44100, 4}, {16000, 8}, {8000, 11}, {11000, 8}, {48000, 3}};
  for (const auto& [rate, index] : rates) {
    const auto path = kelvara::test::MakeTempDir("rate") / "rate.mp4";
    MP4_VIDEO_PARAM v = VideoParam("H264", 160, 120, 25);
    MP4_AUDIO_PARAM a = AudioParam("AAC", rate, 1);
    const long h = MP4Create(const_cast<char*>(path.c_str()), &v, &a, 60);
    ASSERT_GT(h, 0);
    ASSERT_EQ(WriteMP4Data(h, 1, const_cast<uint8_t*>(aus[0].data.data()), aus[0].data.size(), 1,
                           1000.0),
              0);
    std::vector<uint8_t> raw = {0x21, 0x10, 0x04, 0x60, 0x8C, 0x1C};  // a raw AAC frame
    ASSERT_EQ(WriteMP4Data(h, 0, raw.data(), raw.size(), 1, 1000.0), 0);
    MP4Close(h);
    const auto back = ReadBack(path).second;
    ASSERT_EQ(back.size(), raw.size() + 7) << rate;
    EXPECT_EQ((back[2] >> 2) & 0xF, index) << rate;
    EXPECT_EQ((back[2] >> 6) + 1, 2) << rate;  // AAC-LC
  }
}

// A failed write never leaves a sample both in the file and reported as
// failed: a sample whose table flush fails is kept and reported written (the
// flush is retried first thing at the next call, which fails cleanly while
// the tables still cannot be written), and a failed append is truncated away.
TEST(WriterFailureTest, SampleIsKeptAndReportedWrittenOrRolledBack) {
  const auto aus = VideoFixture(false);  // key frame every 12 units
  const auto dir = kelvara::test::MakeTempDir("fail");
  const std::string path = (dir / "f.mp4").string();
  Emp4VideoDesc v{};
  v.codec = kEmp4CodecH264;
  v.width = 160;
  v.height = 120;
  v.framerate = 25;
  Emp4Limits limits{60, 0};
  Emp4Muxer* m = Emp4MuxerOpen(&v, path.c_str(), nullptr, &limits, 0);
  ASSERT_NE(m, nullptr);
  struct Fault {
    enum { kNone, kTables, kAppends } what = kNone;
    uint64_t mdat = 0;
  } fault;
  Emp4MuxerSetWriteFault(
      m,
      [](void* c, uint64_t pos, size_t) {
        auto* f = static_cast<Fault*>(c);
        return (f->what == Fault::kTables && pos < f->mdat) ||
               (f->what == Fault::kAppends && pos >= f->mdat);
      },
      &fault);
  int frame = 0;
  const auto write = [&] {
    const auto& au = aus[static_cast<size_t>(frame % 48)];
    const int rc = Emp4MuxerWriteVideoNALU(m, au.key, au.data.data(), au.data.size(),
                                           1000 + 40 * frame);
    return rc != 0 ? rc : _emp4MuxerWritePendingSample(m);
  };
  const auto fileSize = [&] { return std::filesystem::file_size(path); };
  for (; frame < 119; ++frame) ASSERT_EQ(write(), 0) << frame;
  fault.mdat = Emp4MuxerGetLayout(m).mdatOffset;

  // The 120th sample triggers a flush that fails: it stays and reads 0.
  fault.what = Fault::kTables;
  ASSERT_EQ(write(), 0);
  ++frame;
  const auto kept = fileSize();
  // While the tables still fail, the next sample is refused and not written.
  EXPECT_EQ(write(), -1006);
  EXPECT_EQ(fileSize(), kept);
  // A failed append is refused and truncated away.
  fault.what = Fault::kAppends;
  EXPECT_EQ(write(), -1006);
  EXPECT_EQ(fileSize(), kept);
  // Once writes work again the owed flush goes out and recording goes on.
  fault.what = Fault::kNone;
  for (; frame < 130; ++frame) ASSERT_EQ(write(), 0) << frame;
  Emp4MuxerClose(m);

  auto streams = Probe(path);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0]["nb_read_packets"], "130");
  EXPECT_EQ(DecodeErrors(path), "");
  EXPECT_EQ(CountSamplesWithReader(path), std::make_pair(130, 0));
}

Emp4Muxer* OpenH264WithUlaw(const std::string& path) {
  Emp4VideoDesc v{};
  v.codec = kEmp4CodecH264;
  v.width = 160;
  v.height = 120;
  v.framerate = 25;
  Emp4AudioDesc a{};
  a.enabled = 1;
  a.codec = kEmp4CodecUlaw;
  a.samplesPerPacket = 320;
  a.sampleRate = 8000;
  a.channels = 1;
  Emp4Limits limits{60, 0};
  return Emp4MuxerOpen(&v, path.c_str(), &a, &limits, 0);
}

int WriteSample(Emp4Muxer* m, bool video, const std::vector<uint8_t>& data, bool key,
                int64_t ts) {
  const int rc = video ? Emp4MuxerWriteVideoNALU(m, key, data.data(), data.size(), ts)
                       : Emp4MuxerWriteAudio(m, data.data(), data.size(), ts);
  return rc != 0 ? rc : _emp4MuxerWritePendingSample(m);
}

// Appended samples are written in batches. When a batch cannot be written,
// only the sample that needed the write is refused: the samples gathered
// before it were reported written and reach the file with the next write.
TEST(WriterFailureTest, FailedBatchWriteRefusesOnlyTheSampleThatNeededIt) {
  const auto aus = VideoFixture(false);
  const auto dir = kelvara::test::MakeTempDir("batch");
  const std::string path = (dir / "b.mp4").string();
  Emp4Muxer* m = OpenH264WithUlaw(path);
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(WriteSample(m, true, aus[0].data, true, 1000), 0);
  const uint64_t dataStart = Emp4MuxerGetLayout(m).mdatOffset + 8;
  bool failAppends = true;
  struct Fault {
    bool* on;
    uint64_t from;
  } fault{&failAppends, dataStart};
  Emp4MuxerSetWriteFault(
      m,
      [](void* c, uint64_t pos, size_t) {
        const auto* f = static_cast<Fault*>(c);
        return *f->on && pos >= f->from;
      },
      &fault);
  // Packets of two fifths of the batch: two fit, the third needs a write.
  constexpr size_t kPacket = kEmp4WriteBatchBytes * 2 / 5;
  const auto packet = [](uint8_t fill) { return std::vector<uint8_t>(kPacket, fill); };
  const auto at = [](int i) { return 1000 + i * static_cast<int>(kPacket / 8); };  // G.711: 8 bytes a ms
  EXPECT_EQ(WriteSample(m, false, packet(0x11), true, at(0)), 0);
  EXPECT_EQ(WriteSample(m, false, packet(0x22), true, at(1)), 0);
  EXPECT_EQ(WriteSample(m, false, packet(0x33), true, at(2)), -1006);
  EXPECT_EQ(std::filesystem::file_size(path), dataStart);
  failAppends = false;
  EXPECT_EQ(WriteSample(m, false, packet(0x44), true, at(3)), 0);
  Emp4MuxerClose(m);

  EXPECT_EQ(DecodeErrors(path), "");
  int err = 0;
  Emp4Demuxer* d = Emp4DemuxerOpen(path.c_str(), nullptr, nullptr, nullptr, &err);
  ASSERT_NE(d, nullptr) << err;
  uint8_t* data;
  int isAudio, key;
  uint64_t ts;
  std::vector<uint8_t> audioFills;
  int videoFrames = 0;
  for (int n; (n = Emp4DemuxerReadFrame(d, &data, &isAudio, &key, &ts)) > 0;) {
    if (!isAudio) {
      ++videoFrames;
      continue;
    }
    EXPECT_EQ(n, static_cast<int>(kPacket));
    EXPECT_EQ(std::count(data, data + n, data[0]), n);
    audioFills.push_back(data[0]);
  }
  Emp4DemuxerClose(d);
  EXPECT_EQ(videoFrames, 1);
  EXPECT_EQ(audioFills, (std::vector<uint8_t>{0x11, 0x22, 0x44}));
}

uint32_t Load32(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(b[at]) << 24 | static_cast<uint32_t>(b[at + 1]) << 16 |
         static_cast<uint32_t>(b[at + 2]) << 8 | b[at + 3];
}

// Checks the file as a writer killed right now would leave it: every table
// entry and the mdat size point only at bytes already in the file.
void ExpectTablesPointAtWrittenData(const std::string& path, uint64_t mdatOffset) {
  const auto file = ReadFile(path);
  ASSERT_GE(file.size(), mdatOffset + 8);
  EXPECT_LE(mdatOffset + Load32(file, mdatOffset), file.size()) << "mdat size";
  const auto boxes = [&](const char* type) {
    std::vector<size_t> at;
    for (size_t i = 4; i + 4 <= mdatOffset; ++i)
      if (std::memcmp(file.data() + i, type, 4) == 0) at.push_back(i - 4);
    return at;
  };
  const auto stsz = boxes("stsz"), stco = boxes("stco");
  ASSERT_EQ(stsz.size(), 2u);
  ASSERT_EQ(stco.size(), 2u);
  for (size_t t = 0; t < 2; ++t) {
    const uint32_t n = std::min(Load32(file, stsz[t] + 16), Load32(file, stco[t] + 12));
    for (uint32_t i = 0; i < n; ++i) {
      const uint64_t end = uint64_t{Load32(file, stco[t] + 16 + 4 * i)} +
                           Load32(file, stsz[t] + 20 + 4 * i);
      ASSERT_LE(end, file.size()) << "track " << t << " sample " << i;
    }
  }
}

// The tables on disk never get ahead of the samples: checked before every
// single write of a recording whose batches go out both when full and at
// the table flushes.
TEST(WriterCrashTest, TablesNeverPointPastWrittenData) {
  const auto aus = VideoFixture(false);
  const auto pcmu = AudioPackets(AudioKind::kPcmu);
  const auto dir = kelvara::test::MakeTempDir("order");
  const std::string path = (dir / "o.mp4").string();
  Emp4Muxer* m = OpenH264WithUlaw(path);
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(WriteSample(m, true, aus[0].data, true, 1000), 0);
  struct Check {
    std::string path;
    uint64_t mdat;
    int writes = 0;
  } check{path, Emp4MuxerGetLayout(m).mdatOffset};
  Emp4MuxerSetWriteFault(
      m,
      [](void* c, uint64_t, size_t) {
        auto* k = static_cast<Check*>(c);
        ++k->writes;
        ExpectTablesPointAtWrittenData(k->path, k->mdat);
        return false;
      },
      &check);
  // Big audio packets now and then fill the batch between flushes.
  const std::vector<uint8_t> big(kEmp4WriteBatchBytes / 3, 0x7F);
  for (int i = 1; i < 300; ++i) {
    const auto& au = aus[static_cast<size_t>(i) % aus.size()];
    ASSERT_EQ(WriteSample(m, true, au.data, au.key, 1000 + 40 * i), 0) << i;
    const auto& audio = i % 50 == 0 ? big : pcmu[static_cast<size_t>(i) % pcmu.size()].data;
    ASSERT_EQ(WriteSample(m, false, audio, true, 1000 + 40 * i), 0) << i;
  }
  Emp4MuxerClose(m);
  ExpectTablesPointAtWrittenData(path, check.mdat);
  EXPECT_GT(check.writes, 20);
  EXPECT_EQ(CountSamplesWithReader(path), std::make_pair(300, 299));
}

// The vectorised start-code scan against a byte-by-byte one, on buffers
// dense in zeros and start codes at every alignment and length (the vector
// loops and the scalar tail both run).
TEST(WriterNalTest, StartCodeScanMatchesByteByByteScan) {
  const auto reference = [](const uint8_t* d, size_t n) {
    std::vector<std::pair<size_t, size_t>> out;  // offset, size
    size_t start = SIZE_MAX;
    const auto close = [&](size_t end) {
      while (end > start && d[end - 1] == 0) --end;
      if (end > start) out.push_back({start, end - start});
    };
    for (size_t i = 2; i < n; ++i) {
      if (d[i] == 1 && d[i - 1] == 0 && d[i - 2] == 0) {
        if (start != SIZE_MAX) close(i - 2);
        start = i + 1;
        i += 2;
      }
    }
    if (start != SIZE_MAX && start < n) close(n);
    return out;
  };
  uint32_t seed = 12345;
  const auto next = [&] { return seed = seed * 1103515245u + 12345u, seed >> 16; };
  std::vector<NalSpan> nals;
  for (int round = 0; round < 3000; ++round) {
    const size_t n = next() % 300;
    // Every alignment, and the data ends where the allocation ends, so a
    // sanitizer build sees any read past the end.
    std::vector<uint8_t> buf(n + round % 64);
    uint8_t* d = buf.data() + round % 64;
    const uint32_t zeroShare = next() % 4;  // from no zeros to mostly zeros
    for (size_t i = 0; i < n; ++i) {
      const uint32_t r = next() % 16;
      d[i] = r < zeroShare * 4 ? 0 : (r == 15 ? 1 : static_cast<uint8_t>(2 + next() % 254));
    }
    SplitAnnexB(d, n, nals);
    const auto want = reference(d, n);
    ASSERT_EQ(nals.size(), want.size()) << "round " << round;
    for (size_t k = 0; k < want.size(); ++k) {
      ASSERT_EQ(nals[k].data - d, static_cast<ptrdiff_t>(want[k].first)) << round;
      ASSERT_EQ(nals[k].size, want[k].second) << round;
    }
  }
}

// The channel configuration of the AudioSpecificConfig: 7.1 is 7, seven
// channels have no standard value and are refused, as are rates that the
// sample entry's 16.16 field cannot hold. ffprobe reads the configuration
// back from real AAC frames of each layout.
TEST(WriterAudioParamTest, AacChannelConfigurationAndRefusedParameters) {
  const auto aus = VideoFixture(false);
  const struct {
    uint32_t channels;
    const char* layout;  // ffmpeg's name, nullptr: refused
  } rows[] = {{1, "mono"}, {2, "stereo"}, {6, "5.1"}, {8, "7.1"}, {7, nullptr}};
  for (const auto& r : rows) {
    const auto dir = kelvara::test::MakeTempDir("chans");
    const auto path = dir / "c.mp4";
    MP4_VIDEO_PARAM v = VideoParam("H264", 160, 120, 25);
    MP4_AUDIO_PARAM a = AudioParam("AAC", 48000, r.channels);
    const long h = MP4Create(const_cast<char*>(path.c_str()), &v, &a, 60);
    if (!r.layout) {
      EXPECT_EQ(h, 0) << r.channels;
      EXPECT_FALSE(std::filesystem::exists(path));
      continue;
    }
    ASSERT_GT(h, 0) << r.channels;
    const auto frames = SplitAdts(ReadFile(Fixture(
        std::string("ch") + std::to_string(r.channels) + ".aac",
        std::string("-f lavfi -i sine=frequency=440:sample_rate=48000 -t 0.5 -af "
                    "aformat=channel_layouts=") +
            r.layout + " -c:a aac -f adts")));
    ASSERT_FALSE(frames.empty());
    ASSERT_EQ(WriteMP4Data(h, 1, const_cast<uint8_t*>(aus[0].data.data()), aus[0].data.size(), 1,
                           1000.0),
              0);
    double ts = 1000.0;
    for (const auto& f : frames) {
      ASSERT_EQ(WriteMP4Data(h, 0, const_cast<uint8_t*>(f.data.data()), f.data.size(), 1, ts), 0);
      ts += 1024.0 * 1000 / 48000;
    }
    MP4Close(h);
    auto streams = Probe(path);
    ASSERT_EQ(streams.size(), 2u) << r.channels;
    EXPECT_EQ(streams[1]["codec_name"], "aac");
    EXPECT_EQ(streams[1]["channels"], std::to_string(r.channels));
    EXPECT_EQ(DecodeErrors(path), "") << r.channels;
  }
  const auto path = kelvara::test::MakeTempDir("rate") / "r.mp4";
  MP4_VIDEO_PARAM v = VideoParam("H264", 160, 120, 25);
  for (const char* codec : {"AAC", "PCMU"}) {
    MP4_AUDIO_PARAM a = AudioParam(codec, 96000, 1);
    EXPECT_EQ(MP4Create(const_cast<char*>(path.c_str()), &v, &a, 60), 0) << codec;
    a.sampleRate = 65535;
    const long h = MP4Create(const_cast<char*>(path.c_str()), &v, &a, 60);
    EXPECT_GT(h, 0) << codec;
    MP4Close(h);
  }
}

struct EndToEndCase {
  const char* name;
  VideoKind video;
  AudioKind audio;
  bool transcode;
  const char* videoCodec;
  const char* audioCodec;  // nullptr: no audio stream expected
};

class WriterEndToEndTest : public ::testing::TestWithParam<EndToEndCase> {};

TEST_P(WriterEndToEndTest, FfprobeSeesEverySampleAndFfmpegDecodesCleanly) {
  const EndToEndCase& c = GetParam();
  const auto dir = kelvara::test::MakeTempDir(c.name);
  const auto path = dir / (std::string(c.name) + ".mp4");
  const RecordResult r = Record(path, c.video, c.audio, c.transcode);
  ASSERT_GT(r.videoAccepted, 0);
  const auto streams = Probe(path);
  ASSERT_EQ(streams.size(), c.audioCodec ? 2u : 1u);
  const auto& vs = streams[0];
  EXPECT_EQ(vs.at("codec_name"), c.videoCodec);
  EXPECT_EQ(vs.at("width"), "160");
  EXPECT_EQ(vs.at("height"), "120");
  EXPECT_EQ(std::stoi(vs.at("nb_read_packets")), r.videoAccepted);
  EXPECT_NEAR(std::stod(vs.at("duration")), r.videoAccepted * 0.040, 0.001);
  if (c.audioCodec) {
    const auto& as = streams[1];
    EXPECT_EQ(as.at("codec_name"), c.audioCodec);
    if (!c.transcode) {
      EXPECT_EQ(std::stoi(as.at("nb_read_packets")), r.audioAccepted);
    }
    EXPECT_NEAR(std::stod(as.at("duration")), r.audioSeconds, 0.15);
  }
  EXPECT_EQ(DecodeErrors(path), "");
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, WriterEndToEndTest,
    ::testing::Values(
        EndToEndCase{"h264_main_pcmu", VideoKind::kH264Main, AudioKind::kPcmu, false, "h264",
                     "pcm_mulaw"},
        EndToEndCase{"h264_high_slices_pcma", VideoKind::kH264HighSlices, AudioKind::kPcma, false,
                     "h264", "pcm_alaw"},
        EndToEndCase{"h264_main_aac_adts", VideoKind::kH264Main, AudioKind::kAacAdts, false,
                     "h264", "aac"},
        EndToEndCase{"h264_main_aac_raw", VideoKind::kH264Main, AudioKind::kAacRaw, false, "h264",
                     "aac"},
        EndToEndCase{"h265_pcmu_to_aac", VideoKind::kH265, AudioKind::kPcmu, true, "hevc", "aac"},
        EndToEndCase{"h264_high_pcma_to_aac", VideoKind::kH264HighSlices, AudioKind::kPcma, true,
                     "h264", "aac"},
        EndToEndCase{"h265_only", VideoKind::kH265, AudioKind::kNone, false, "hevc", nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// A writer killed in the middle of a recording leaves a file that ffprobe and
// our reader open, with every sample up to the last table flush.
TEST(WriterCrashTest, SigkillKeepsEverySampleUpToLastFlush) {
  const auto aus = VideoFixture(false);
  const auto pcmu = AudioPackets(AudioKind::kPcmu);
  const auto dir = kelvara::test::MakeTempDir("crash");
  const auto path = dir / "crash.mp4";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    MP4_VIDEO_PARAM v = VideoParam("H264", 160, 120, 25);
    MP4_AUDIO_PARAM a = AudioParam("PCMU", 8000, 1);
    const long h = MP4Create(const_cast<char*>(path.c_str()), &v, &a, 1800);
    if (h <= 0) _exit(2);
    // 130 video frames: the tables were flushed at 120. Audio: 125 packets,
    // flushed at 120.
    for (int i = 0; i < 130; ++i) {
      const auto& au = aus[static_cast<size_t>(i) % aus.size()];
      const bool key = i == 0 ? true : au.key;
      if (WriteMP4Data(h, 1, const_cast<uint8_t*>(au.data.data()), au.data.size(), key,
                       1000.0 + 40 * i) != 0)
        _exit(4);
      if (i < 125) {
        const auto& p = pcmu[static_cast<size_t>(i) % pcmu.size()];
        if (WriteMP4Data(h, 0, const_cast<uint8_t*>(p.data.data()), p.data.size(), 1,
                         1000.0 + 40 * i) != 0)
          _exit(5);
      }
    }
    kill(getpid(), SIGKILL);
    _exit(6);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  const auto streams = Probe(path);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0].at("nb_read_packets"), "120");
  EXPECT_EQ(streams[1].at("nb_read_packets"), "120");
  // The movie does not claim the reserved 1800 s.
  EXPECT_LT(std::stod(streams[0].at("duration")), 6.0);
  EXPECT_EQ(DecodeErrors(path), "");
  EXPECT_EQ(CountSamplesWithReader(path), std::make_pair(120, 120));
}

}  // namespace
}  // namespace rivelin::test
