// Device logs: the writer's files, the receiver against the device simulator
// on loopback (byte for byte, across resets and refusals), the manager's rules.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "device/core/device_logs.h"
#include "device/core/log_writer.h"
#include "device/core/net_log_receiver.h"
#include "discovery/core/device_map.h"
#include "discovery/core/device_rows.h"
#include "discovery/core/search_reply.h"
#include "discovery/tests/reply_fixture.h"
#include "kelvara_test/test_env.h"
#include "simulator.h"

namespace {

using namespace kelvara;
using namespace kelvara::device;
using namespace std::chrono_literals;
using kelvara::test::MakeTempDir;

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::filesystem::path> LogFiles(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec)) out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

std::string AllLogs(const std::filesystem::path& folder) {
  std::string all;
  for (const auto& f : LogFiles(folder)) all += ReadFile(f);
  return all;
}

// Waits up to `limit` for the condition.
template <class F>
bool WaitFor(F&& done, std::chrono::milliseconds limit = 10s) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < until) {
    if (done()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return done();
}

// ---- Writer

TEST(LogWriter, KeepsBytesExactlyAndInOrderAndWritesWhatIsQueuedAtStop) {
  const auto dir = MakeTempDir("lw") / "a" / "b";  // parents are made
  std::string expected;
  {
    LogWriterThread writer(dir);
    ASSERT_EQ(writer.Start(), 0);
    for (int i = 0; i < 2000; ++i) {
      std::string text = "line " + std::to_string(i) + std::string("\0\x01\xff", 3) + "\r\n";
      writer.Write(text);
      expected += text;
    }
  }  // the destructor writes what is still queued
  const auto files = LogFiles(dir);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(ReadFile(files[0]), expected);
  EXPECT_EQ(files[0].filename().string().size(), std::string("20261210_120000.log").size());
}

TEST(LogWriter, RollsOverPastTheLimitWithoutLosingOrRepeatingABYte) {
  const auto dir = MakeTempDir("roll");
  std::time_t fixed = 1'800'000'000;  // one second for every name: the names still differ
  LogWriterThread::Options o;
  o.now = [&fixed] { return fixed; };
  const std::string name = LogWriterThread::FileNameFor(fixed);
  // A file of exactly the limit takes one more text; one byte more starts a new file.
  std::filesystem::create_directories(dir);
  {
    std::ofstream(dir / name, std::ios::binary) << std::string(LogWriterThread::kRollOverBytes, 'a');
  }
  {
    LogWriterThread writer(dir, o);
    ASSERT_EQ(writer.Start(), 0);
    writer.Write("B");
  }
  // The existing file was not this writer's: it started its own.
  auto files = LogFiles(dir);
  ASSERT_EQ(files.size(), 2u);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  LogWriterThread writer(dir, o);
  ASSERT_EQ(writer.Start(), 0);
  const auto first = writer.CurrentPath();
  {
    std::ofstream(first, std::ios::binary) << std::string(LogWriterThread::kRollOverBytes, 'a');
  }
  writer.Write("B");  // 10,485,759 bytes: still this file
  ASSERT_TRUE(WaitFor([&] { return std::filesystem::file_size(first) == LogWriterThread::kRollOverBytes + 1; }));
  writer.Write("C");  // past the limit: a new file with a distinct name
  ASSERT_TRUE(WaitFor([&] { return writer.CurrentPath() != first && std::filesystem::exists(writer.CurrentPath()); }));
  EXPECT_EQ(ReadFile(writer.CurrentPath()), "C");
  EXPECT_EQ(std::filesystem::file_size(first), LogWriterThread::kRollOverBytes + 1);
}

TEST(LogWriter, AFailingFolderIsReportedOnceAndTheBytesWait) {
  const auto root = MakeTempDir("fail");
  const auto dir = root / "logs";
  std::ofstream(dir) << "a file where the folder should be";
  std::vector<std::string> reports;
  std::mutex m;
  LogWriterThread::Options o;
  o.retryAfterError = 20ms;
  o.onError = [&](const std::string& msg) {
    std::lock_guard lock(m);
    reports.push_back(msg);
  };
  LogWriterThread writer(dir, o);
  ASSERT_EQ(writer.Start(), 0);
  writer.Write("first ");
  writer.Write("second");
  ASSERT_TRUE(WaitFor([&] {
    std::lock_guard lock(m);
    return !reports.empty();
  }));
  std::this_thread::sleep_for(200ms);  // several retries
  {
    std::lock_guard lock(m);
    EXPECT_EQ(reports.size(), 1u);
  }
  EXPECT_EQ(writer.QueuedBytes(), 12u);
  std::filesystem::remove(dir);  // the disk is back
  ASSERT_TRUE(WaitFor([&] { return writer.QueuedBytes() == 0; }));
  EXPECT_EQ(ReadFile(writer.CurrentPath()), "first second");
  std::lock_guard lock(m);
  EXPECT_EQ(reports.size(), 2u);  // failing, then writing again
}

// ---- Receiver against the simulator

class LogSim {
 public:
  explicit LogSim(int count = 1) {
    devsim::SimConfig c;
    c.discovery_port = 0;  // loopback only
    for (int i = 0; i < count; ++i) {
      devsim::DeviceConfig d;
      d.ip = "127.0.0.1";
      d.command_port = 0;
      d.log_port = 0;
      devsim::CompleteDevice(d, i);
      c.devices.push_back(d);
    }
    sim = std::make_unique<devsim::Simulator>(c);
    error = sim->Start();
  }
  std::string Control(const std::string& line) { return sim->Control(line); }
  std::uint16_t Port(int i = 0) { return sim->log_port(i); }
  // What the device received on its log port, in order.
  std::string Commands(int i = 0) {
    std::string all;
    for (const auto& e : sim->device(i).Journal(false))
      if (e.channel == "log") all += e.bytes;
    return all;
  }
  std::unique_ptr<devsim::Simulator> sim;
  std::string error;
};

std::uint32_t Loopback() { return htonl(INADDR_LOOPBACK); }

// Whether a connect to the loopback port is refused: nothing listens there.
bool ConnectRefused(std::uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = Loopback();
  const bool refused = connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 && errno == ECONNREFUSED;
  close(fd);
  return refused;
}

NetLogRecverThread::Options FastRetry() {
  NetLogRecverThread::Options o;
  o.firstRetry = 50ms;
  o.maxRetry = 200ms;
  return o;
}

// The file without the receiver's own lines.
std::string DeviceBytes(std::string text) {
  for (const char* prefix : {"connect 127.0.0.1:", "connection closed.\r\n", "Send autocmd "}) {
    for (std::size_t at; (at = text.find(prefix)) != std::string::npos;) {
      const std::size_t end = text.find("\r\n", at);
      text.erase(at, end == std::string::npos ? std::string::npos : end + 2 - at);
    }
  }
  return text;
}

TEST(NetLogReceiver, StoresExactlyWhatTheDeviceSentAcrossResets) {
  LogSim sim;
  ASSERT_EQ(sim.error, "");
  ASSERT_EQ(sim.Control("logmode 0 raw"), "ok");
  ASSERT_EQ(sim.Control("logreset 0 70000"), "ok");  // the device drops the link every 70,000 bytes
  // 200,000 bytes of a pattern with zero bytes and high bytes in it.
  ASSERT_EQ(sim.Control("logstream 0 0 200000 00ff0d0a41427a00"), "ok");
  const auto base = MakeTempDir("recv");
  NetLogRecverThread receiver(Loopback(), sim.Port(), "SIM00000001", base, FastRetry());
  ASSERT_EQ(receiver.Start(), 0);
  const auto folder = receiver.GetLogFolder();
  EXPECT_EQ(folder, base / "127_0_0_1_SIM00000001");
  ASSERT_TRUE(WaitFor([&] { return DeviceBytes(AllLogs(folder)).size() >= 200000; }, 20s));
  // devsim notes what it sent once its send returns, which on a busy machine
  // can be after the receiver has already stored those bytes.
  EXPECT_TRUE(WaitFor([&] { return sim.Control("logsent 0") == "ok 200000"; }, 5s));
  const std::string sentPath = (base / "sent.bin").string();
  ASSERT_EQ(sim.Control("logsent 0 " + sentPath), "ok 200000");
  EXPECT_TRUE(DeviceBytes(AllLogs(folder)) == ReadFile(sentPath));
  // Three links: three connect lines and two closes so far.
  const std::string all = AllLogs(folder);
  std::size_t connects = 0;
  for (std::size_t at = 0; (at = all.find("connect 127.0.0.1:", at)) != std::string::npos; ++at) ++connects;
  EXPECT_GE(connects, 3u);
}

// The receiver reads a slow log in pieces of several packets; what has arrived
// when it is stopped still reaches the file, and a log trickling in below a
// piece's size is stored within a read slice.
TEST(NetLogReceiver, StoresWhatArrivedBeforeAStopAndATrickleWithoutWaitingForAFullPiece) {
  LogSim sim;
  ASSERT_EQ(sim.error, "");
  ASSERT_EQ(sim.Control("logmode 0 raw"), "ok");
  const auto base = MakeTempDir("stopdrain");
  std::string expected;
  {
    NetLogRecverThread receiver(Loopback(), sim.Port(), "T", base, FastRetry());
    // devsim sends only the lines pushed after its side of the link is up; the
    // command it has read shows that it is.
    receiver.SetAutoCommand("slog 1,0");
    ASSERT_EQ(receiver.Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return receiver.Connected() && !sim.Commands().empty(); }));
    ASSERT_EQ(sim.Control("log 0 first line"), "ok");
    expected = "first line\r\n";
    EXPECT_TRUE(WaitFor([&] { return DeviceBytes(AllLogs(receiver.GetLogFolder())) == expected; }, 2s));
    for (int i = 0; i < 50; ++i) {
      const std::string line = "line " + std::to_string(i);
      ASSERT_EQ(sim.Control("log 0 " + line), "ok");
      expected += line + "\r\n";
    }
    ASSERT_TRUE(WaitFor([&] { return sim.Control("logsent 0") == "ok " + std::to_string(expected.size()); }));
    receiver.Stop();  // at once, while the last lines may still wait in the socket
  }
  EXPECT_EQ(DeviceBytes(AllLogs(DeviceLogFolder(base, Loopback(), "T"))), expected);
}

TEST(NetLogReceiver, SendsTheCommandAfterEachConnectAndAtOnceWhenChanged) {
  LogSim sim;
  ASSERT_EQ(sim.error, "");
  const auto base = MakeTempDir("cmd");
  NetLogRecverThread receiver(Loopback(), sim.Port(), "X", base, FastRetry());
  receiver.SetAutoCommand("slog -1,0");
  ASSERT_EQ(receiver.Start(), 0);
  ASSERT_TRUE(WaitFor([&] { return sim.Commands() == "\r\nslog -1,0\r\n"; }));
  receiver.SetAutoCommand("slog 2,1");
  ASSERT_TRUE(WaitFor([&] { return sim.Commands() == "\r\nslog -1,0\r\n\r\nslog 2,1\r\n"; }));
  // After the device closes the link, the command goes again on the new one.
  ASSERT_EQ(sim.Control("log_close 0"), "ok");
  ASSERT_TRUE(WaitFor([&] { return sim.Commands() == "\r\nslog -1,0\r\n\r\nslog 2,1\r\n\r\nslog 2,1\r\n"; }));
  ASSERT_TRUE(WaitFor([&] { return AllLogs(receiver.GetLogFolder()).find("Send autocmd OK: slog 2,1\r\n") !=
                                   std::string::npos; }));
  // An empty command sends nothing.
  receiver.SetAutoCommand("");
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(sim.Commands(), "\r\nslog -1,0\r\n\r\nslog 2,1\r\n\r\nslog 2,1\r\n");
}

TEST(NetLogReceiver, ARefusingDeviceIsOneLinePerOutage) {
  LogSim sim;
  ASSERT_EQ(sim.error, "");
  const std::uint16_t port = sim.Port();
  ASSERT_EQ(sim.Control("logmode 0 refuse"), "ok");
  // The simulator's accept loop closes the listener at its next round.
  ASSERT_TRUE(WaitFor([&] { return ConnectRefused(port); }));
  const auto base = MakeTempDir("refuse");
  NetLogRecverThread receiver(Loopback(), port, "R", base, FastRetry());
  ASSERT_EQ(receiver.Start(), 0);
  const std::string failed = "connect 127.0.0.1:" + std::to_string(port) + " failed: 111.\r\n";
  ASSERT_TRUE(WaitFor([&] { return AllLogs(receiver.GetLogFolder()) == failed; }));
  std::this_thread::sleep_for(1200ms);  // several more attempts at 50..200 ms pauses
  const std::string during = AllLogs(receiver.GetLogFolder());
  EXPECT_EQ(during, failed);
  ASSERT_EQ(sim.Control("logmode 0 normal"), "ok");
  ASSERT_TRUE(WaitFor([&] { return receiver.Connected(); }));
  ASSERT_TRUE(WaitFor([&] { return AllLogs(receiver.GetLogFolder()).find(" OK.\r\n") != std::string::npos; }));
}

TEST(NetLogReceiver, StopsPromptlyWhileTheDeviceStaysSilent) {
  LogSim sim;
  ASSERT_EQ(sim.error, "");
  ASSERT_EQ(sim.Control("logmode 0 silent"), "ok");
  const auto base = MakeTempDir("silent");
  std::vector<std::unique_ptr<NetLogRecverThread>> receivers;
  for (int i = 0; i < 20; ++i) {
    receivers.push_back(std::make_unique<NetLogRecverThread>(Loopback(), sim.Port(), "S" + std::to_string(i), base,
                                                             FastRetry()));
    ASSERT_EQ(receivers.back()->Start(), 0);
  }
  ASSERT_TRUE(WaitFor([&] {
    for (auto& r : receivers)
      if (!r->Connected()) return false;
    return true;
  }));
  for (auto& r : receivers) r->Stop();
  receivers.clear();  // joins: each body ends within one 200 ms slice
}

// ---- Manager

struct ManagerFixture {
  LogSim sim;
  std::filesystem::path docs = MakeTempDir("docs");
  SlogFilterSettings settings{"slog -1,0", (docs / "slog").string()};
  std::vector<std::string> uploads;
  discovery::ColumnMap columns;
  struct NoView : discovery::RowView {
    void RowInserted(discovery::DeviceListRow&) override {}
    void CellText(discovery::DeviceListRow&, int, const std::string&) override {}
    void RowTextColour(discovery::DeviceListRow&, discovery::RowColour) override {}
    void RowsCleared() override {}
  } view;
  std::unique_ptr<discovery::DeviceRows> rows;
  std::unique_ptr<DeviceLogs> logs;

  ManagerFixture() {
    columns.BuildColumnMap({});
    rows = std::make_unique<discovery::DeviceRows>(columns, view);
    DeviceLogs::Hooks h;
    h.settings = [this] { return settings; };
    h.uploadConfigFile = [this](discovery::DeviceListRow&, const std::string& path) {
      uploads.push_back(path);
      return 0;
    };
    h.documentsFolder = [this] { return docs; };
    h.receiver = FastRetry();
    h.port = sim.Port();
    logs = std::make_unique<DeviceLogs>(h);
  }
  ~ManagerFixture() { DeviceLogs::StopAll(*rows); }
  discovery::DeviceListRow& AddRow(const std::string& ip, const std::string& serial, const std::string& type) {
    discovery::test::FakeDevice d;
    d.serial = "K" + std::to_string(++added);
    d.deviceType = type;
    auto record = discovery::ParseSearchReply(discovery::test::ReplyText(d));
    if (!record) throw std::runtime_error("reply refused");
    map.AddOrUpdateDevice(*record, "10.77.0.1", 1);
    rows->RefreshDeviceList(map, {});
    discovery::DeviceListRow& row = *rows->FindByKey(d.serial);
    // The simulator listens on loopback, which the device map does not take from replies.
    row.m_searchInfo.lanConfig.ipAddress = ip;
    row.m_loginSerial = serial;
    return row;
  }
  discovery::DeviceMap map;
  int added = 0;
};

TEST(DeviceLogs, ReceiversFollowTheSwitchTheChecksAndTheSettings) {
  ManagerFixture f;
  ASSERT_EQ(f.sim.error, "");
  discovery::DeviceListRow& a = f.AddRow("127.0.0.1", "A1", "NVS-IPC");
  discovery::DeviceListRow& b = f.AddRow("127.0.0.1", "", "NVS-IPC");
  a.checked = true;
  b.checked = false;
  f.logs->RefreshNetLogReceivers(*f.rows);
  EXPECT_EQ(DeviceLogs::ReceiverOf(a), nullptr);  // the switch is off at start
  f.logs->SetEnabled(true);
  f.logs->RefreshNetLogReceivers(*f.rows);
  NetLogRecverThread* first = DeviceLogs::ReceiverOf(a);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(DeviceLogs::ReceiverOf(b), nullptr);
  EXPECT_EQ(first->GetLogFolder(), f.docs / "slog" / "127_0_0_1_A1");
  // A new command keeps the receiver and reaches the device at once.
  ASSERT_TRUE(WaitFor([&] { return f.sim.Commands() == "\r\nslog -1,0\r\n"; }));
  f.settings.default_filter = "slog 3";
  f.logs->RefreshNetLogReceivers(*f.rows);
  EXPECT_EQ(DeviceLogs::ReceiverOf(a), first);
  ASSERT_TRUE(WaitFor([&] { return f.sim.Commands() == "\r\nslog -1,0\r\n\r\nslog 3\r\n"; }));
  // A new folder replaces it; a row without a login serial logs under "<address>_".
  f.settings.save_path = (f.docs / "other").string();
  b.checked = true;
  f.logs->RefreshNetLogReceivers(*f.rows);
  ASSERT_NE(DeviceLogs::ReceiverOf(a), nullptr);
  EXPECT_EQ(DeviceLogs::ReceiverOf(a)->GetBaseDir(), f.docs / "other");
  ASSERT_NE(DeviceLogs::ReceiverOf(b), nullptr);
  EXPECT_EQ(DeviceLogs::ReceiverOf(b)->GetLogFolder(), f.docs / "other" / "127_0_0_1_");
  // Unchecked: gone. Switched off: all gone.
  a.checked = false;
  f.logs->UpdateNetLogReceiver(a, false);
  EXPECT_EQ(DeviceLogs::ReceiverOf(a), nullptr);
  f.logs->SetEnabled(false);
  f.logs->RefreshNetLogReceivers(*f.rows);
  EXPECT_EQ(DeviceLogs::ReceiverOf(b), nullptr);
}

// Stands in for a receiver: notes when it is told to stop and when it ends.
class OrderedResource : public discovery::RowResource {
 public:
  OrderedResource(std::vector<std::string>& events, std::string name) : events_(events), name_(std::move(name)) {}
  ~OrderedResource() override { events_.push_back("end " + name_); }
  void RequestStop() override { events_.push_back("stop " + name_); }

 private:
  std::vector<std::string>& events_;
  std::string name_;
};

// Unchecking all, a new folder (every receiver replaced) and switching off:
// each tells every receiver that goes to stop before the first is waited for.
TEST(DeviceLogs, EveryReceiverThatGoesIsToldBeforeAnyIsWaitedFor) {
  ManagerFixture f;
  ASSERT_EQ(f.sim.error, "");
  f.logs->SetEnabled(true);
  std::vector<discovery::DeviceListRow*> rows;
  for (int i = 0; i < 4; ++i) rows.push_back(&f.AddRow("127.0.0.1", "R" + std::to_string(i), "NVS-IPC"));
  const struct {
    const char* name;
    bool checked;
    bool enabled;
  } cases[] = {{"uncheck all", false, true}, {"replaced", true, true}, {"switched off", true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> events;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      rows[i]->checked = c.checked;
      rows[i]->m_netLogThread = std::make_unique<OrderedResource>(events, std::to_string(i));
    }
    f.logs->SetEnabled(c.enabled);
    f.logs->RefreshNetLogReceivers(*f.rows);
    ASSERT_EQ(events.size(), 2 * rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(events[i].rfind("stop ", 0), 0u) << events[i];
      EXPECT_EQ(events[rows.size() + i].rfind("end ", 0), 0u) << events[rows.size() + i];
    }
    // Checked rows of a logging list got their new receivers.
    for (discovery::DeviceListRow* row : rows)
      EXPECT_EQ(DeviceLogs::ReceiverOf(*row) != nullptr, c.checked && c.enabled);
  }
}

TEST(DeviceLogs, HostileSerialsStayInsideTheLogFolder) {
  ManagerFixture f;
  f.logs->SetEnabled(true);
  discovery::DeviceListRow& row = f.AddRow("127.0.0.1", "../../etc/x", "NVS-IPC");
  f.logs->UpdateNetLogReceiver(row, true);
  ASSERT_NE(DeviceLogs::ReceiverOf(row), nullptr);
  const auto folder = DeviceLogs::ReceiverOf(row)->GetLogFolder();
  EXPECT_EQ(folder.parent_path(), f.docs / "slog");
  EXPECT_EQ(folder.filename().string().find('/'), std::string::npos);
  // An address that is not dotted IPv4 gets no receiver.
  discovery::DeviceListRow& bad = f.AddRow("not-an-address", "B", "NVS-IPC");
  f.logs->UpdateNetLogReceiver(bad, true);
  EXPECT_EQ(DeviceLogs::ReceiverOf(bad), nullptr);
}

TEST(DeviceLogs, OpensTheLogPortOfTheCamerasThatNeedIt) {
  ManagerFixture f;
  discovery::DeviceListRow& cam = f.AddRow("127.0.0.1", "C", "NVS-DAV-ODUVE-2");
  discovery::DeviceListRow& other = f.AddRow("127.0.0.1", "D", "NVS-IPC-8");
  f.rows->SetLoginHandle(cam, 7);
  f.rows->SetLoginHandle(other, 8);
  f.logs->OpenDeviceSlog(*f.rows, 7);  // switch off: nothing
  EXPECT_TRUE(f.uploads.empty());
  f.logs->SetEnabled(true);
  f.logs->OpenDeviceSlog(*f.rows, 8);
  EXPECT_TRUE(f.uploads.empty());
  f.logs->OpenDeviceSlog(*f.rows, 7);
  ASSERT_EQ(f.uploads.size(), 1u);
  const auto file = f.docs / "slog" / "openslog.xml";
  EXPECT_EQ(f.uploads[0], file.string());
  EXPECT_EQ(ReadFile(file), kOpenSlogFileText);
  // An existing file is sent as it is.
  std::ofstream(file, std::ios::trunc) << "<custom/>";
  f.logs->OpenDeviceSlog(*f.rows, 7);
  EXPECT_EQ(ReadFile(file), "<custom/>");
  EXPECT_EQ(f.uploads.size(), 2u);
}

}  // namespace
