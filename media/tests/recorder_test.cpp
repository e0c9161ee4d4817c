// The MP4 recorder and the raw dumps, checked with ffprobe: segments start at
// key frames and together hold every frame pushed; writer failures stop the
// recording visibly or start the next segment; the stream thread never waits
// for the disk; a killed recorder leaves a readable file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kelvara_test/test_env.h"
#include "media/core/record_thread.h"
#include "media/core/record_yuv_thread.h"

namespace kelvara::media {
namespace {

namespace fs = std::filesystem;

std::string Shell(const std::string& command) { return kelvara::test::CommandOutput(command); }

struct AccessUnit {
  std::vector<unsigned char> bytes;
  bool key = false;
};

// A 320x240 H.264 stream at 25 fps with a key frame every second, cut into
// access units at its delimiters (made once by ffmpeg).
const std::vector<AccessUnit>& TestStream() {
  static const std::vector<AccessUnit> units = [] {
    const fs::path file = kelvara::test::MakeTempDir("h264") / "s.h264";
    Shell("ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25 -t 26 -c:v libx264 -preset ultrafast "
        "-g 25 -bf 0 -x264-params aud=1 -f h264 " + file.string());
    std::ifstream in(file, std::ios::binary);
    const std::vector<unsigned char> all((std::istreambuf_iterator<char>(in)), {});
    std::vector<AccessUnit> out;
    for (size_t i = 0; i + 4 < all.size(); ++i) {
      if (all[i] == 0 && all[i + 1] == 0 && all[i + 2] == 0 && all[i + 3] == 1 && (all[i + 4] & 0x1F) == 9) {
        out.emplace_back();
      }
      if (!out.empty()) out.back().bytes.push_back(all[i]);
      if (i + 4 < all.size() && all[i] == 0 && all[i + 1] == 0 && all[i + 2] == 1 && (all[i + 3] & 0x1F) == 5 &&
          !out.empty())
        out.back().key = true;
    }
    if (!out.empty()) out.back().bytes.insert(out.back().bytes.end(), all.end() - 4, all.end());
    return out;
  }();
  return units;
}

MEDIA_STREAM_INFO VideoInfo() {
  MEDIA_STREAM_INFO info;
  std::memset(&info, 0, sizeof info);
  info.hasVideo = 1;
  std::strcpy(info.video.codec, "H264");
  info.video.width = 320;
  info.video.height = 240;
  info.video.framerate = 25;
  return info;
}

struct Probe {
  int frames = 0;
  bool first_key = false;
};

Probe ProbeFile(const fs::path& file) {
  Probe p;
  const std::string out =
      Shell("ffprobe -v error -select_streams v:0 -show_entries packet=flags -of csv=p=0 '" + file.string() + "'");
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty()) continue;
    if (p.frames == 0) p.first_key = line[0] == 'K';
    ++p.frames;
  }
  return p;
}

// The real writer, with a clock that follows the video written: the recorder
// sees as much wall time pass as the stream it has written, however fast the
// test pushes. Counts the files closed.
class ClockedSink : public Mp4Sink {
 public:
  explicit ClockedSink(std::atomic<std::uint64_t>& clock) : clock_(clock) {}
  long Create(const std::string& path, MEDIA_STREAM_INFO& info, bool audio, long limit) override {
    return RivelinSink().Create(path, info, audio, limit);
  }
  int Write(long handle, int is_video, const unsigned char* data, unsigned long length, int key, double ts) override {
    const int r = RivelinSink().Write(handle, is_video, data, length, key, ts);
    if (is_video && follow) clock_ = 1000 + static_cast<std::uint64_t>(ts);
    return r;
  }
  std::atomic<bool> follow{true};  // false: the clock stands still
  int Close(long handle) override {
    closed.fetch_add(1);
    return RivelinSink().Close(handle);
  }
  std::atomic<int> closed{0};

 private:
  std::atomic<std::uint64_t>& clock_;
};

TEST(Recorder, SegmentsStartAtKeyFramesAndHoldEveryFrame) {
  const auto& units = TestStream();
  ASSERT_GE(units.size(), 625u);
  const fs::path base = kelvara::test::MakeTempDir("rec");
  std::atomic<std::uint64_t> clock{1000};
  ClockedSink sink(clock);
  RecordOptions o;
  o.base_folder = base;
  o.segment_s = 10;
  o.max_queue_ms = 60000;  // the whole stream arrives at once here
  o.now_ms = [&] { return clock.load(); };
  o.sink = &sink;
  CRecordThread rec(o);
  MEDIA_STREAM_INFO info = VideoInfo();
  ASSERT_EQ(rec.Start("10.77.1.1", &info, 0, 0), 0);
  // 25 s of stream: a file ends at the first key frame more than 10 s after
  // the file's start on the clock.
  for (int i = 0; i < 625; ++i) {
    const AccessUnit& u = units[static_cast<size_t>(i)];
    rec.PushFrame(0, u.bytes.data(), static_cast<int>(u.bytes.size()), u.key, 40.0 + 40.0 * i);
  }
  rec.Stop();
  EXPECT_TRUE(rec.FailureReason().empty());
  const auto files = rec.Files();
  ASSERT_EQ(files.size(), 3u);
  int total = 0;
  std::vector<int> counts;
  for (const fs::path& f : files) {
    EXPECT_EQ(f.parent_path().filename(), "10.77.1.1");
    EXPECT_NE(f.filename().string().find("--vv-0"), std::string::npos);
    const Probe p = ProbeFile(f);
    EXPECT_TRUE(p.first_key) << f;
    counts.push_back(p.frames);
    total += p.frames;
  }
  EXPECT_EQ(total, 625);  // no frame lost or written twice across segments
  // A key frame every second: a file ends at the first key frame more than 10 s in.
  EXPECT_EQ(counts, (std::vector<int>{275, 275, 75}));
  // Same-second segment names are distinct.
  EXPECT_NE(files[0].filename(), files[1].filename());
}

TEST(Recorder, StreamWithoutVideoIsRefusedAndFramesBeforeAKeyFrameAreDropped) {
  const fs::path base = kelvara::test::MakeTempDir("rec");
  RecordOptions o;
  o.base_folder = base;
  CRecordThread rec(o);
  MEDIA_STREAM_INFO none;
  std::memset(&none, 0, sizeof none);
  EXPECT_EQ(rec.Start("d", &none, 0, 0), -1);
  MEDIA_STREAM_INFO info = VideoInfo();
  ASSERT_EQ(rec.Start("d", &info, 0, 0), 0);
  const auto& units = TestStream();
  for (int i = 5; i < 60; ++i) {  // starts mid-GOP: 5..24 cannot be decoded
    const AccessUnit& u = units[static_cast<size_t>(i)];
    rec.PushFrame(0, u.bytes.data(), static_cast<int>(u.bytes.size()), u.key, 40.0 * (i + 1));
  }
  rec.Stop();
  ASSERT_EQ(rec.Files().size(), 1u);
  const Probe p = ProbeFile(rec.Files()[0]);
  EXPECT_TRUE(p.first_key);
  EXPECT_EQ(p.frames, 35);
}

// A writer that fails on demand and can hold the worker inside a write.
class FakeSink : public Mp4Sink {
 public:
  long Create(const std::string&, MEDIA_STREAM_INFO&, bool, long) override {
    std::lock_guard lock(m);
    ++creates;
    return fail_create ? 0 : creates;
  }
  int Write(long handle, int is_video, const unsigned char*, unsigned long, int key, double) override {
    std::unique_lock lock(m);
    ++writes;
    if (block) {
      inside = true;
      cv.notify_all();
      cv.wait(lock, [&] { return !block; });
    }
    writes_per_file.resize(static_cast<size_t>(handle) + 1);
    if (is_video && key) ++keys;
    if (fail_with != 0 && writes >= fail_after) {
      const int r = fail_with;
      if (once) fail_with = 0;
      return r;
    }
    ++writes_per_file[static_cast<size_t>(handle)];
    return 0;
  }
  int Close(long) override { return 0; }

  std::mutex m;
  std::condition_variable cv;
  long creates = 0;
  int writes = 0, keys = 0, fail_with = 0, fail_after = 0;
  bool once = false, block = false, inside = false, fail_create = false;
  std::vector<int> writes_per_file;
};

void PushUnits(CRecordThread& rec, int from, int to) {
  const auto& units = TestStream();
  for (int i = from; i < to; ++i) {
    const AccessUnit& u = units[static_cast<size_t>(i)];
    rec.PushFrame(0, u.bytes.data(), static_cast<int>(u.bytes.size()), u.key, 40.0 * (i + 1));
  }
}

// Pre-recording (mode 2): until a file opens the queue keeps at most two
// seconds of video, beginning at a key frame; the file then starts with them.
TEST(Recorder, PreRecordingKeepsTheLastTwoSecondsFromAKeyFrame) {
  RecordOptions o;
  o.base_folder = kelvara::test::MakeTempDir("rec");
  CRecordThread rec(o);
  MEDIA_STREAM_INFO info = VideoInfo();
  ASSERT_EQ(rec.Start("pre", &info, 2, 0), 0);
  EXPECT_TRUE(rec.Files().empty());
  // 110 frames, key frames at 0, 25, 50, 75, 100: the last 49 are 61..109,
  // and the kept run begins at the key frame 75.
  PushUnits(rec, 0, 110);
  ASSERT_EQ(rec.OpenFile(), 0);
  PushUnits(rec, 110, 160);
  rec.Stop();
  EXPECT_TRUE(rec.FailureReason().empty());
  const auto files = rec.Files();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_NE(files[0].filename().string().find("--vv-2"), std::string::npos);
  const Probe p = ProbeFile(files[0]);
  EXPECT_TRUE(p.first_key);
  EXPECT_EQ(p.frames, 35 + 50);
}

// Modes 2 and 3: a file that reaches the segment time closes, and the frames
// from its last key frame on are pre-recording again for the next file.
TEST(Recorder, AfterAnAlarmSegmentClosesFramesArePreRecordedAgain) {
  std::atomic<std::uint64_t> clock{1000};
  ClockedSink sink(clock);
  RecordOptions o;
  o.base_folder = kelvara::test::MakeTempDir("rec");
  o.segment_s = 2;
  o.now_ms = [&] { return clock.load(); };
  o.sink = &sink;
  CRecordThread rec(o);
  MEDIA_STREAM_INFO info = VideoInfo();
  ASSERT_EQ(rec.Start("alarm", &info, 2, 0), 0);
  PushUnits(rec, 0, 30);  // kept: all, from the key frame 0
  ASSERT_EQ(rec.OpenFile(), 0);
  for (int i = 0; i < 1000 && rec.Files().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(rec.Files().size(), 1u);  // the worker has opened the file
  // Key frames at 50 (2 s in: not past) and 75 (3 s: the file closes there).
  PushUnits(rec, 30, 160);
  for (int i = 0; i < 1000 && sink.closed.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(sink.closed.load(), 1);
  EXPECT_TRUE(rec.IsRunning());
  // The next alarm, before its own segment time is up: the last two seconds
  // from a key frame, 125..159.
  sink.follow = false;
  ASSERT_EQ(rec.OpenFile(), 0);
  rec.Stop();
  const auto files = rec.Files();
  ASSERT_EQ(files.size(), 2u);
  const Probe first = ProbeFile(files[0]), second = ProbeFile(files[1]);
  EXPECT_TRUE(first.first_key);
  EXPECT_EQ(first.frames, 75);  // 0..74
  EXPECT_TRUE(second.first_key);
  EXPECT_EQ(second.frames, 35);
}

TEST(Recorder, FullFileStartsTheNextSegmentAtOnce) {
  FakeSink sink;
  sink.fail_with = kMp4FileFull;
  sink.fail_after = 26;  // refused: the key frame that opens the second GOP
  sink.once = true;
  RecordOptions o;
  o.base_folder = kelvara::test::MakeTempDir("rec");
  o.sink = &sink;
  CRecordThread rec(o);
  MEDIA_STREAM_INFO info = VideoInfo();
  ASSERT_EQ(rec.Start("d", &info, 0, 0), 0);
  PushUnits(rec, 0, 60);
  rec.Stop();
  EXPECT_TRUE(rec.FailureReason().empty());
  EXPECT_EQ(rec.Files().size(), 2u);
  ASSERT_GE(sink.writes_per_file.size(), 3u);
  EXPECT_EQ(sink.writes_per_file[1], 25);
  EXPECT_EQ(sink.writes_per_file[2], 35);  // the refused key frame begins the new file
}

TEST(Recorder, WriterErrorAndFailedNextFileStopVisibly) {
  for (int which : {0, 1}) {
    FakeSink sink;
    RecordOptions o;
    o.base_folder = kelvara::test::MakeTempDir("rec");
    o.sink = &sink;
    o.segment_s = 1;
    // Every look at the clock finds a second more: each key frame ends a segment.
    auto clock = std::make_shared<std::atomic<std::uint64_t>>(0);
    o.now_ms = [clock] { return clock->fetch_add(1000); };
    if (which == 0) {
      sink.fail_with = -1006;  // a full disk
      sink.fail_after = 10;
    }
    CRecordThread rec(o);
    std::atomic<int> told{0};
    std::string reason;
    rec.SetFailureCallback([&](const std::string& r) {
      reason = r;
      told.fetch_add(1);
    });
    MEDIA_STREAM_INFO info = VideoInfo();
    ASSERT_EQ(rec.Start("d", &info, 0, 0), 0);
    if (which == 1) {
      std::lock_guard lock(sink.m);
      sink.fail_create = true;  // the next segment cannot be made
    }
    PushUnits(rec, 0, 80);
    for (int i = 0; i < 200 && told.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(told.load(), 1);
    EXPECT_FALSE(rec.IsRunning());
    EXPECT_FALSE(rec.FailureReason().empty());
    const int writes = [&] { std::lock_guard lock(sink.m); return sink.writes; }();
    PushUnits(rec, 80, 100);  // ignored now
    rec.Stop();
    EXPECT_EQ(sink.writes, writes);
  }
}

TEST(Recorder, StreamThreadNeverWaitsForTheDiskAndTheQueueIsBounded) {
  FakeSink sink;
  sink.block = true;
  RecordOptions o;
  o.base_folder = kelvara::test::MakeTempDir("rec");
  o.sink = &sink;
  o.max_queue_ms = 3000;
  CRecordThread rec(o);
  MEDIA_STREAM_INFO info = VideoInfo();
  ASSERT_EQ(rec.Start("d", &info, 0, 0), 0);
  PushUnits(rec, 0, 1);
  {
    std::unique_lock lock(sink.m);
    sink.cv.wait(lock, [&] { return sink.inside; });  // the worker is stuck in a write
  }
  // Pushing goes on while the worker is inside the write (a push that took the
  // writer's lock would hang here).
  PushUnits(rec, 1, 200);
  EXPECT_GT(rec.DroppedFrames(), 0u);
  {
    std::lock_guard lock(sink.m);
    sink.block = false;
    sink.cv.notify_all();
  }
  rec.Stop();
  // Kept: 3 s of stream (frames 1..75); dropped up to the next key frame
  // after that, then kept again while there was room.
  EXPECT_LT(sink.writes, 200);
  EXPECT_GE(sink.writes, 76);
}

TEST(Recorder, KilledRecorderLeavesAReadableFile) {
  const fs::path base = kelvara::test::MakeTempDir("rec");
  const auto& units = TestStream();
  ASSERT_GE(units.size(), 400u);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  if (child == 0) {
    RecordOptions o;
    o.base_folder = base;
    o.max_queue_ms = 60000;
    auto* rec = new CRecordThread(o);
    MEDIA_STREAM_INFO info = VideoInfo();
    if (rec->Start("d", &info, 0, 0) != 0) _exit(1);
    PushUnits(*rec, 0, 400);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // the writer flushes and syncs
    (void)!write(ready[1], "r", 1);
    for (;;) pause();
  }
  close(ready[1]);
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(ready[0]);
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(base))
    if (e.path().extension() == ".mp4") files.push_back(e.path());
  ASSERT_EQ(files.size(), 1u);
  const Probe p = ProbeFile(files[0]);
  EXPECT_TRUE(p.first_key);
  EXPECT_GE(p.frames, 360);  // every sample up to the last flush (every 120)
  EXPECT_LE(p.frames, 400);
}

// A disk that fills: a 2 MiB tmpfs in a mount namespace of a child process.
TEST(Recorder, FullDiskEndsTheRecordingVisibly) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a private tmpfs";
  const fs::path dir = kelvara::test::MakeTempDir("tmpfs");
  const pid_t child = fork();
  if (child == 0) {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=2m") != 0)
      _exit(77);
    RecordOptions o;
    o.base_folder = dir;
    CRecordThread rec(o);
    std::atomic<int> told{0};
    rec.SetFailureCallback([&](const std::string&) { told.fetch_add(1); });
    MEDIA_STREAM_INFO info = VideoInfo();
    if (rec.Start("d", &info, 0, 0) != 0) _exit(2);
    const auto& units = TestStream();
    for (int round = 0; round < 40 && told.load() == 0; ++round) {
      for (int i = 0; i < 600; ++i) {
        const AccessUnit& u = units[static_cast<size_t>(i)];
        rec.PushFrame(0, u.bytes.data(), static_cast<int>(u.bytes.size()), u.key, 40.0 * (round * 600 + i + 1));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (int i = 0; i < 300 && told.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const bool stopped = told.load() == 1 && !rec.IsRunning() && !rec.FailureReason().empty();
    rec.Stop();
    _exit(stopped ? 0 : 3);
  }
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "no private tmpfs here";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(RawDump, StreamDumpBeginsAtAKeyFrameAndFfprobeCountsIt) {
  const auto& units = TestStream();
  RecordYuvOptions o;
  o.base_folder = kelvara::test::MakeTempDir("raw");
  CRecordYuvThread dump(1, o);
  EXPECT_EQ(dump.Start("10.77.1.2", 320, 240), 0);
  for (int i = 10; i < 110; ++i) {
    const AccessUnit& u = units[static_cast<size_t>(i)];
    dump.PushFrame(u.bytes.data(), static_cast<int>(u.bytes.size()), u.key, 320, 240);
  }
  dump.Stop();
  dump.PushFrame(units[0].bytes.data(), 10, 1, 0, 0);  // after Stop: ignored
  ASSERT_EQ(dump.Files().size(), 1u);
  const fs::path f = dump.Files()[0];
  EXPECT_EQ(f.extension(), ".H264");
  EXPECT_EQ(f.filename().string().rfind("H264_", 0), 0u);
  EXPECT_NE(f.filename().string().find("-320X240.H264"), std::string::npos);
  const std::string n = Shell("ffprobe -v error -f h264 -count_frames -select_streams v:0 -show_entries "
                            "stream=nb_read_frames -of csv=p=0 '" + f.string() + "'");
  EXPECT_EQ(std::atoi(n.c_str()), 85);  // from the key frame at 25
}

// A disk stall drops frames; the dump then resumes at a key frame, so every
// gap in what was written is followed by a key frame and the file decodes.
TEST(RawDump, StreamDumpResumesAtAKeyFrameAfterADrop) {
  const auto& units = TestStream();
  std::mutex m;
  std::condition_variable cv;
  bool stalled = true, inside = false;
  RecordYuvOptions o;
  o.base_folder = kelvara::test::MakeTempDir("raw");
  o.max_queue_bytes = units[0].bytes.size() + units[1].bytes.size() * 6;  // room for a key frame
  o.before_write = [&] {
    std::unique_lock lock(m);
    inside = true;
    cv.notify_all();
    cv.wait(lock, [&] { return !stalled; });
  };
  CRecordYuvThread dump(1, o);
  ASSERT_EQ(dump.Start("d", 320, 240), 0);
  auto push = [&](int i) {
    const AccessUnit& u = units[static_cast<size_t>(i)];
    dump.PushFrame(u.bytes.data(), static_cast<int>(u.bytes.size()), u.key, 320, 240);
  };
  push(0);
  {
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return inside; }));  // the worker holds frame 0
  }
  for (int i = 1; i < 40; ++i) push(i);  // the queue fills: the rest is dropped
  {
    std::lock_guard lock(m);
    stalled = false;
    cv.notify_all();
  }
  for (int i = 40; i < 110; ++i) {
    push(i);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  dump.Stop();
  ASSERT_EQ(dump.Files().size(), 1u);
  std::ifstream in(dump.Files()[0], std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  // Which units the file holds, in order.
  std::vector<int> written;
  std::size_t at = 0;
  for (int i = 0; i < 110 && at < bytes.size(); ++i) {
    const auto& b = units[static_cast<size_t>(i)].bytes;
    if (bytes.compare(at, b.size(), std::string(b.begin(), b.end())) == 0) {
      written.push_back(i);
      at += b.size();
    }
  }
  EXPECT_EQ(at, bytes.size()) << "the file holds whole units only";
  ASSERT_FALSE(written.empty());
  EXPECT_EQ(written.front(), 0);
  EXPECT_EQ(written.back(), 109);
  int gaps = 0;
  for (std::size_t k = 1; k < written.size(); ++k) {
    if (written[k] == written[k - 1] + 1) continue;
    ++gaps;
    EXPECT_TRUE(units[static_cast<size_t>(written[k])].key) << "unit " << written[k] << " follows a gap";
  }
  EXPECT_GE(gaps, 1);
}

TEST(RawDump, PictureDumpWritesI420AndStartsANewFileAfterTheLimit) {
  RecordYuvOptions o;
  o.base_folder = kelvara::test::MakeTempDir("yuv");
  CRecordYuvThread dump(0, o);
  const int w = 16, h = 8, ys = 32, cs = 16;
  std::vector<unsigned char> picture(16 + ys * h + cs * (h / 2) * 2, 7);
  const uint32_t words[4] = {ys, cs, cs, 0};
  std::memcpy(picture.data(), words, sizeof words);
  dump.PushFrame(picture.data(), static_cast<int>(picture.size()), 1, w, h);  // before Start: ignored
  ASSERT_EQ(dump.Start("d", w, h), 0);
  for (int i = 0; i < 1001; ++i) dump.PushFrame(picture.data(), static_cast<int>(picture.size()), 1, w, h);
  dump.Stop();
  const auto files = dump.Files();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(fs::file_size(files[0]), 1000u * w * h * 3 / 2);
  EXPECT_EQ(fs::file_size(files[1]), 1u * w * h * 3 / 2);
  EXPECT_NE(files[0], files[1]);
}

}  // namespace
}  // namespace kelvara::media
