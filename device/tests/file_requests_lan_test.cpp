// Snapshot, time-lapse and record export end to end: the real SDK and
// devsim's devices (which make the files and announce them) inside a test
// LAN namespace; the fetched files are checked with ffmpeg and ffprobe.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>

#include "device/core/file_requests.h"
#include "device/tests/devsim_fixture.h"
#include "kelvara_test/test_env.h"
#include "kelvara_test/test_lan.h"
#include "made_files.h"

namespace kelvara::device {
namespace {

namespace fs = std::filesystem;
using kelvara::test::LanSide;
using kelvara::test::TestLanOptions;
using namespace std::chrono_literals;

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A command's output and exit status.
std::pair<int, std::string> Shell(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return {-1, out};
  char buf[256];
  while (std::fgets(buf, sizeof buf, pipe)) out += buf;
  return {pclose(pipe), out};
}

std::string Quoted(const fs::path& p) { return "'" + p.string() + "'"; }

// Every regular file below `dir`, relative to it.
std::set<std::string> FilesBelow(const fs::path& dir) {
  std::set<std::string> out;
  for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it)
    if (it->is_regular_file()) out.insert(it->path().lexically_relative(dir).string());
  return out;
}

class FileRequestsLan : public ::testing::Test {
 protected:
  // The body runs on a thread inside the test LAN's PC namespace, where the
  // simulator and the SDK meet on that namespace's own loopback.
  void InLan(const std::function<void()>& body) {
    KELVARA_TEST_LAN_OR_SKIP(lan, (TestLanOptions{}));
    lan->CallInThread(LanSide::kPc, [&] {
      KELVARA_ASSERT_IN_TEST_LAN();
      root = kelvara::test::MakeTempDir("files");
      docs = root / "Documents";
      fs::create_directories(docs);
      sim = std::make_unique<test::DevsimCommands>(3, docs);
      ASSERT_EQ(sim->StartError(), "");
      ASSERT_TRUE(sim->LoginAll());
      sim->Drain();
      DeviceFileRequests::Options o;
      o.showSummary = [this](const std::string& s) { summaries.push_back(s); };
      files = std::make_unique<DeviceFileRequests>(sim->Commands(), o);
      sim->onEvent = [this](const DeviceStatusEvent& e) { files->OnStatusEvent(e); };
    sim->onReply = [this](const DeviceAuxResponse& r) { files->OnReply(r.loginHandle, r.command, r.result); };
      body();
      sim->onEvent = nullptr;
      sim->onReply = nullptr;
      files.reset();
      sim.reset();
    });
  }
  // Each request writes its own text first; the stored file's text follows.
  bool WaitDone(std::size_t row) {
    return sim->PumpUntil([&] { return sim->Status(row) == "MSGTIP9"; }, 10000ms);
  }
  std::string Control(const std::string& line) { return sim->Sim().Control(line); }

  fs::path root, docs;
  std::unique_ptr<test::DevsimCommands> sim;
  std::unique_ptr<DeviceFileRequests> files;
  std::vector<std::string> summaries;
};

TEST_F(FileRequestsLan, SnapshotsAndVideosArriveWhole) {
  InLan([&] {
    // Device 2 never announces its picture: the window's 5 s check ends it.
    ASSERT_EQ(Control("madefile 2 delay 600000"), "ok");
    files->Snapshot({&sim->Row(0), &sim->Row(1), &sim->Row(2)});
    ASSERT_TRUE(WaitDone(0));
    ASSERT_TRUE(WaitDone(1));
    EXPECT_EQ(sim->Received(0, 1043), std::vector<std::string>{kSnapshotRequest});
    EXPECT_EQ(sim->Row(2).m_snapshotPending, 1);
    files->OnSnapshotTimedOut(sim->Row(2));
    EXPECT_EQ(sim->Status(2), "SNAPPING_TIMEOUT");
    ASSERT_EQ(summaries, std::vector<std::string>{"BATCH_STATE_DONE 2, BATCH_STATE_TIMED_OUT 1"});
    for (int i = 0; i < 2; ++i) {
      const fs::path picture = docs / "snap" / "127.0.0.1" / (sim->Sim().device(i).serial() + "_1.jpg");
      ASSERT_TRUE(fs::exists(picture)) << picture;
      EXPECT_EQ(Read(picture), devsim::SamplePicture());
      const auto [status, out] = Shell("ffmpeg -v error -i " + Quoted(picture) + " -f null - 2>&1");
      EXPECT_EQ(status, 0) << out;
    }

    // A time-lapse on device 0 and a record export on device 1.
    FileRequestDay day;
    day.year = 2026;
    day.month = 3;
    day.day = 5;
    files->RequestVideo(DeviceFileKind::kTimelapse, sim->Row(0).m_key, day);
    files->RequestVideo(DeviceFileKind::kRecordExport, sim->Row(1).m_key, day);
    // Device 2 answers its export with an error: nothing is made.
    ASSERT_EQ(Control("codefault 2 1061 result 5"), "ok");
    files->RequestVideo(DeviceFileKind::kRecordExport, sim->Row(2).m_key, day);
    ASSERT_TRUE(WaitDone(0));
    ASSERT_TRUE(WaitDone(1));
    ASSERT_TRUE(sim->PumpUntil([&] { return sim->Status(2) == "FILEDOWN_REQFAIL"; }, 10000ms));
    EXPECT_EQ(sim->Row(2).m_recordExportPending, 0);
    EXPECT_EQ(sim->Received(0, 1058), std::vector<std::string>{BuildTimelapseRequest(day)});
    EXPECT_EQ(sim->Received(1, 1061), std::vector<std::string>{BuildExportRecordRequest(day)});
    for (int i = 0; i < 2; ++i) {
      // Each device's second made file.
      const fs::path video = docs / "127.0.0.1" / (sim->Sim().device(i).serial() + "_2.mp4");
      ASSERT_TRUE(fs::exists(video)) << video;
      EXPECT_EQ(Read(video), devsim::SampleVideo());
      const auto [status, out] = Shell("ffprobe -v error -show_entries stream=codec_name,width,height,nb_frames "
                                       "-of csv=p=0 " + Quoted(video) + " 2>&1");
      EXPECT_EQ(status, 0);
      EXPECT_EQ(out, "h264,32,24,4\n");
    }
  });
}

// Names a device chooses, and an address, never lead out of the documents
// folder; each file still arrives.
TEST_F(FileRequestsLan, HostileNamesStayInTheDocumentsFolder) {
  InLan([&] {
    const struct {
      const char* name;
      const char* expected;
    } cases[] = {
        {"../../x.jpg", "snap/127.0.0.1/x.jpg"}, {"a\\..\\b.jpg", "snap/127.0.0.1/b.jpg"},
        {"/etc/passwd", "passwd"},               {".h.jpg", "snap/127.0.0.1/_h.jpg"},
        {"noext", "noext"},
    };
    std::set<std::string> want;
    for (const auto& c : cases) {
      SCOPED_TRACE(c.name);
      ASSERT_EQ(Control(std::string("madefile 0 picture ") + c.name), "ok");
      files->Snapshot({&sim->Row(0)});
      ASSERT_TRUE(WaitDone(0));
      want.insert(c.expected);
      EXPECT_EQ(Read(docs / c.expected), devsim::SamplePicture());
    }
    // A hostile address in the row's record: no address folder at all.
    sim->Row(0).m_searchInfo.lanConfig.ipAddress = "../../..";
    ASSERT_EQ(Control("madefile 0 picture /mnt/sd/p.jpg"), "ok");
    files->Snapshot({&sim->Row(0)});
    ASSERT_TRUE(WaitDone(0));
    want.insert("snap/p.jpg");
    EXPECT_EQ(FilesBelow(docs), want);
    // Nothing beside the documents folder.
    EXPECT_EQ(FilesBelow(root).size(), want.size());
  });
}

}  // namespace
}  // namespace kelvara::device
