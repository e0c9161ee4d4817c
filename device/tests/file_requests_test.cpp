// Snapshot, time-lapse and record export against a recording SDK: the exact
// requests, the files fetched when the device announces them, and one
// terminal state per row.
#include "device/core/file_requests.h"

#include <gtest/gtest.h>

#include <map>

#include "device/core/event_texts.h"
#include "device/tests/command_fixture.h"

namespace kelvara::device::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Fails the requests of chosen handles, and file fetches when asked to.
class PickySdk : public RecordingSdk {
 public:
  int SystemControl(int h, int code, const std::string& text) override {
    RecordingSdk::SystemControl(h, code, text);
    return refuseHandle == h ? -1 : 0;
  }
  int GetFileByName(int h, int kind, const std::string& devicePath, const std::string& path) override {
    RecordingSdk::GetFileByName(h, kind, devicePath, path);
    return refuseFetch ? -1 : 0;
  }
  int refuseHandle = -1;
  bool refuseFetch = false;
};

class FileRequestsTest : public CommandFixture {
 protected:
  FileRequestsTest() {
    DeviceCommands::Options o;
    o.sdk = &picky;
    o.lookup = [](const char* key) { return std::string(key); };
    o.documentsDir = [this] { return docs; };
    commands = std::make_unique<DeviceCommands>(rows, o);
    replies = std::make_unique<AuxReplyHandler>(*commands);
    events = std::make_unique<StatusEventHandler>(*commands, *replies);
    DeviceFileRequests::Options f;
    f.now = [this] { return now; };
    f.secondsNow = [] { return std::int64_t{1765353600}; };
    f.infoBox = [this](const char* text, const char* caption) { boxes.push_back(std::string(text) + "/" + caption); };
    f.showSummary = [this](const std::string& s) { summaries.push_back(s); };
    files = std::make_unique<DeviceFileRequests>(*commands, f);
  }
  DeviceListRow& Add(const std::string& serial, int handle, const std::string& ip) {
    discovery::test::FakeDevice d;
    d.serial = serial;
    d.ip = ip;
    return AddRow(d, handle);
  }
  // A status event as the window delivers it: the handler, then the requests.
  void Event(int handle, int type, const std::string& data) {
    const DeviceStatusEvent e{handle, type, data};
    events->OnDeviceStatusEvent(e);
    files->OnStatusEvent(e);
  }
  void Alarm(int handle, int code, const std::string& detail) {
    DeviceAlarmInfo a;
    a.alarmCode = code;
    a.detail = detail;
    Event(handle, 23, a.ToRecord());
  }
  void Fetched(int handle, const std::string& local, bool ok = true) {
    Event(handle, ok ? 16 : 17, "<RESPONSE_PARAM LocalFileName=\"" + local + "\" />");
  }
  std::vector<SdkCall> Calls(const std::string& fn) {
    std::vector<SdkCall> out;
    for (const SdkCall& c : picky.calls)
      if (c.fn == fn) out.push_back(c);
    return out;
  }

  PickySdk picky;
  std::unique_ptr<DeviceFileRequests> files;
  std::chrono::steady_clock::time_point now{};
  std::vector<std::string> boxes, summaries;
};

TEST(FileRequestTexts, ExactBytes) {
  EXPECT_EQ(std::string(kSnapshotRequest), "<REQUEST_PARAM Stream=\"0\"Quality=\"100\"/>\n");
  // 5 March 2026, recreate off, 60 s, 07:30:00 to 19:30:00.
  FileRequestDay day;
  day.year = 2026;
  day.month = 3;
  day.day = 5;
  day.recreate = false;
  day.targetSeconds = 60;
  EXPECT_EQ(BuildTimelapseRequest(day),
            "<REQUEST_PARAM year=\"2026\" month=\"3\" day=\"5\" recreate=\"0\" targetsec=\"60\" "
            "StartTime=\"07:30:00\" EndTime=\"19:30:00\" />\n");
  day.recreate = true;
  day.startHour = 0;
  day.startMinute = 5;
  day.startSecond = 9;
  day.endHour = 23;
  day.endMinute = 59;
  day.endSecond = 59;
  day.month = 12;
  day.day = 31;
  EXPECT_EQ(BuildExportRecordRequest(day),
            "<REQUEST_PARAM year=\"2026\" month=\"12\" day=\"31\" recreate=\"1\" "
            "StartTime=\"00:05:09\" EndTime=\"23:59:59\" />\n");
}

TEST_F(FileRequestsTest, BatchSnapshotEndsEveryRowOnce) {
  DeviceListRow& ok = Add("S-OK", 101, "10.77.1.1");
  DeviceListRow& off = Add("S-OFF", 102, "10.77.1.2");
  DeviceListRow& nologin = Add("S-NOLOGIN", 103, "10.77.1.3");
  DeviceListRow& refused = Add("S-REFUSED", 104, "10.77.1.4");
  DeviceListRow& silent = Add("S-SILENT", 105, "10.77.1.5");
  DeviceListRow& badFile = Add("S-BADFILE", 106, "10.77.1.6");
  off.m_online = false;
  rows.SetLoginHandle(nologin, 0);
  picky.refuseHandle = 104;
  rows.SetCellTextIfChanged(off, discovery::kColState, "-");
  files->Snapshot({&ok, &off, &nologin, &refused, &silent, &badFile});

  const std::vector<SdkCall> sent = {{"SystemControl", 101, 1043, kSnapshotRequest},
                                     {"SystemControl", 104, 1043, kSnapshotRequest},
                                     {"SystemControl", 105, 1043, kSnapshotRequest},
                                     {"SystemControl", 106, 1043, kSnapshotRequest}};
  EXPECT_EQ(picky.calls, sent);
  EXPECT_EQ(Status(ok), "SNAPPIC");
  EXPECT_EQ(ok.m_snapshotPending, 1);
  EXPECT_EQ(ok.m_snapshotTime, 1765353600);
  // Each row shows the request's own text; an offline row keeps its text.
  EXPECT_EQ(Status(off), "-");
  EXPECT_EQ(Status(nologin), "MSGTIP23");
  EXPECT_EQ(Status(refused), "SNAPPIC_REQFAIL");
  EXPECT_EQ(refused.m_snapshotPending, 0);

  // A second request while the picture is awaited: the box, nothing sent.
  files->Snapshot({&ok});
  EXPECT_EQ(boxes, std::vector<std::string>{"SNAPPING_WAIT/INFO"});
  EXPECT_EQ(picky.calls.size(), 4u);

  // The device announces the picture: fetched by its path, stored below the
  // documents folder; the row is done only when the file is there.
  Alarm(101, 23, "/mnt/sd/snap/p1.jpg");
  EXPECT_EQ(ok.m_snapshotPending, 0);
  ASSERT_EQ(Calls("GetFileByName").size(), 1u);
  const SdkCall fetch = Calls("GetFileByName")[0];
  EXPECT_EQ(fetch.devicePath, "/mnt/sd/snap/p1.jpg");
  EXPECT_EQ(fetch.text, (docs / "snap" / "10.77.1.1" / "p1.jpg").string());
  EXPECT_EQ(Status(ok), "FILEDOWNLOADDING");
  Fetched(101, "/elsewhere/p1.jpg");  // not the file it waits for
  EXPECT_TRUE(summaries.empty());
  Fetched(101, fetch.text);
  EXPECT_EQ(Status(ok), "MSGTIP9");  // the stored file's own text

  // A fetch the device cannot serve fails the row.
  Alarm(106, 23, "/mnt/sd/snap/p6.jpg");
  Fetched(106, Calls("GetFileByName").back().text, false);
  EXPECT_EQ(Status(badFile), "MSGTIP8");

  // The silent device: the window's 5 s check times the row out; its late
  // announcement fetches nothing.
  EXPECT_TRUE(summaries.empty());
  files->OnSnapshotTimedOut(silent);
  EXPECT_EQ(Status(silent), "SNAPPING_TIMEOUT");
  EXPECT_EQ(silent.m_snapshotPending, 0);
  Alarm(105, 23, "/mnt/sd/snap/p5.jpg");
  EXPECT_EQ(Calls("GetFileByName").size(), 2u);
  ASSERT_EQ(summaries.size(), 1u);
  EXPECT_EQ(summaries[0],
            "BATCH_STATE_OFFLINE 1, BATCH_STATE_NOT_LOGGED_IN 1, BATCH_STATE_REFUSED 1, BATCH_STATE_DONE 1, "
            "BATCH_STATE_FAILED 1, BATCH_STATE_TIMED_OUT 1");
  EXPECT_EQ(files->ActiveJobs(), 0u);
}

TEST_F(FileRequestsTest, FetchRefusedSlowFetchAndLostLinkEndTheRow) {
  DeviceListRow& a = Add("S-A", 101, "10.77.1.1");
  DeviceListRow& b = Add("S-B", 102, "10.77.1.2");
  DeviceListRow& c = Add("S-C", 103, "10.77.1.3");
  files->Snapshot({&a, &b, &c});
  picky.refuseFetch = true;
  Alarm(101, 23, "/p/a.jpg");
  EXPECT_EQ(Status(a), "FILEDOWN_REQFAIL");
  picky.refuseFetch = false;
  Event(102, 3, "");  // the login ended
  EXPECT_EQ(Status(b), "MSGTIP4");
  // Announced, but the file does not arrive within the job's time.
  Alarm(103, 23, "/p/c.jpg");
  now += 29999ms;
  files->OnTick();
  EXPECT_NE(Status(c), "SNAPPING_TIMEOUT");
  now += 1ms;
  files->OnTick();
  EXPECT_EQ(Status(c), "SNAPPING_TIMEOUT");
  EXPECT_EQ(files->ActiveJobs(), 0u);
  Fetched(103, Calls("GetFileByName").back().text);  // too late: counted once, as timed out
  EXPECT_EQ(summaries, std::vector<std::string>{"BATCH_STATE_FAILED 1, BATCH_STATE_TIMED_OUT 1, BATCH_STATE_LINK_LOST 1"});

  // The device's own answer to the request: a good one keeps the row
  // waiting; an error, or the SDK's time-out and lost-link answers, end it
  // and clear its pending flag.
  const struct {
    int result;
    const char* summary;
    const char* text;  // the row's text after the answer
  } answers[] = {{5, "BATCH_STATE_FAILED 1", "SNAPPIC_REQFAIL"},
                 {255, "BATCH_STATE_TIMED_OUT 1", "SNAPPING_TIMEOUT"},
                 {254, "BATCH_STATE_LINK_LOST 1", "SNAPPIC"}};
  for (const auto& answer : answers) {
    SCOPED_TRACE(answer.result);
    files->Snapshot({&a});
    files->OnReply(101, 1043, 0);
    files->OnReply(101, 1058, answer.result);  // not this row's request
    EXPECT_EQ(a.m_snapshotPending, 1);
    files->OnReply(101, 1043, answer.result);
    EXPECT_EQ(a.m_snapshotPending, 0);
    EXPECT_EQ(summaries.back(), answer.summary);
    EXPECT_EQ(Status(a), answer.text);
  }

  // An emptied list ends every waiting row as link lost.
  files->Snapshot({&a});
  rows.Clear();
  files->OnRowsCleared();
  EXPECT_EQ(summaries.back(), "BATCH_STATE_LINK_LOST 1");
  EXPECT_EQ(files->ActiveJobs(), 0u);
}

// The row is looked up by serial after the dialog: a list rebuilt while it
// was open, a row gone offline or logged out, each ends in its own state.
TEST_F(FileRequestsTest, TimelapseAndExportCheckTheRowByItsSerial) {
  FileRequestDay day;
  day.year = 2026;
  day.month = 3;
  day.day = 5;
  files->RequestVideo(DeviceFileKind::kTimelapse, "S-GONE", day);
  EXPECT_TRUE(picky.calls.empty());

  DeviceListRow& off = Add("S-OFF", 101, "10.77.1.1");
  off.m_online = false;
  rows.SetCellTextIfChanged(off, discovery::kColState, "-");
  files->RequestVideo(DeviceFileKind::kTimelapse, "S-OFF", day);
  DeviceListRow& nologin = Add("S-NOLOGIN", 102, "10.77.1.2");
  rows.SetLoginHandle(nologin, 0);
  files->RequestVideo(DeviceFileKind::kRecordExport, "S-NOLOGIN", day);
  EXPECT_TRUE(picky.calls.empty());
  EXPECT_EQ(Status(off), "-");
  EXPECT_EQ(Status(nologin), "FILEDOWN_REQFAIL");
  EXPECT_EQ(off.m_timelapsePending, 0);

  DeviceListRow& refused = Add("S-REFUSED", 103, "10.77.1.3");
  picky.refuseHandle = 103;
  files->RequestVideo(DeviceFileKind::kTimelapse, "S-REFUSED", day);
  EXPECT_EQ(Status(refused), "FILEDOWN_REQFAIL");
  EXPECT_EQ(refused.m_timelapsePending, 0);

  // Both on one device: the first video announced is the time-lapse's.
  DeviceListRow& cam = Add("S-CAM", 104, "10.77.1.4");
  files->RequestVideo(DeviceFileKind::kTimelapse, "S-CAM", day);
  EXPECT_EQ(Status(cam), "SUCCEED_TIMELAPSE_REQ");
  files->RequestVideo(DeviceFileKind::kRecordExport, "S-CAM", day);
  EXPECT_EQ(Status(cam), "SUCCEED_EXPORTRECORD_REQ");
  EXPECT_EQ(cam.m_timelapsePending, 1);
  EXPECT_EQ(cam.m_recordExportPending, 1);
  const auto sent = Calls("SystemControl");
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[1], SdkCall("SystemControl", 104, 1058, BuildTimelapseRequest(day)));
  EXPECT_EQ(sent[2], SdkCall("SystemControl", 104, 1061, BuildExportRecordRequest(day)));

  Alarm(104, 47, "/mnt/sd/rec/tl.mp4");
  EXPECT_EQ(cam.m_timelapsePending, 0);
  EXPECT_EQ(cam.m_recordExportPending, 1);
  Alarm(104, 47, "/mnt/sd/rec/ex.mp4");
  EXPECT_EQ(cam.m_recordExportPending, 0);
  const auto fetches = Calls("GetFileByName");
  ASSERT_EQ(fetches.size(), 2u);
  EXPECT_EQ(fetches[0].text, (docs / "10.77.1.4" / "tl.mp4").string());
  EXPECT_EQ(fetches[1].text, (docs / "10.77.1.4" / "ex.mp4").string());
  const std::size_t before = summaries.size();
  Fetched(104, fetches[1].text);  // the export's file first
  Fetched(104, fetches[0].text);
  EXPECT_EQ(Status(cam), "MSGTIP9");
  EXPECT_EQ(summaries.size(), before + 2);
  EXPECT_EQ(summaries.back(), "BATCH_STATE_DONE 1");
  EXPECT_EQ(files->ActiveJobs(), 0u);
}

// Names and an address a device chooses never lead out of the documents folder.
TEST_F(FileRequestsTest, HostileNamesAndAddressStayInTheDocumentsFolder) {
  struct Case {
    const char* ip;
    const char* devicePath;
    const char* expected;  // below the documents folder
  } cases[] = {
      {"10.77.1.1", "../../x.jpg", "snap/10.77.1.1/x.jpg"},
      {"10.77.1.1", "a\\..\\b.jpg", "snap/10.77.1.1/b.jpg"},
      {"10.77.1.1", "/etc/passwd", "passwd"},
      {"10.77.1.1", ".h.jpg", "snap/10.77.1.1/_h.jpg"},
      {"10.77.1.1", "/mnt/sd/noext", "noext"},
      {"../../..", "/mnt/sd/p.jpg", "snap/p.jpg"},
      {"10.77.1.1/../../x", "/mnt/sd/v.mp4", "v.mp4"},
  };
  int handle = 200;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.ip) + " " + c.devicePath);
    DeviceListRow& row = Add("S-" + std::to_string(handle), handle, "10.77.1.1");
    row.m_searchInfo.lanConfig.ipAddress = c.ip;
    files->Snapshot({&row});
    Alarm(handle, 23, c.devicePath);
    ASSERT_FALSE(Calls("GetFileByName").empty());
    const fs::path local = Calls("GetFileByName").back().text;
    EXPECT_EQ(local.lexically_relative(docs).string(), c.expected);
    EXPECT_EQ(local.lexically_normal(), local);
    Fetched(handle, local.string());
    EXPECT_EQ(files->ActiveJobs(), 0u);
    ++handle;
  }
}

}  // namespace
}  // namespace kelvara::device::test
