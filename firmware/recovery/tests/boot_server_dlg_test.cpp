// The recovery window offscreen, on loopback only: its log and device rows,
// and the helper it unpacks and runs as its own child.
#include "firmware/recovery/ui/boot_server_dlg.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextDocument>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

#include "common/language_table.h"
#include "common/save_param.h"
#include "controls/ui/report_ctrl.h"
#include "firmware/tests/image_builder.h"
#include "kelvara_test/test_env.h"

namespace kelvara::firmware {
namespace {

namespace fs = std::filesystem;

template <class F>
bool WaitFor(F&& done, int ms = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

QStringList Lines(const CBootServerDlg& dlg) { return dlg.LogPane()->toPlainText().split('\n'); }

bool LogHas(const CBootServerDlg& dlg, const QString& text) { return dlg.LogPane()->toPlainText().contains(text); }

struct Host : BootServerHost {
  int clears = 0, searches = 0;
  bool running = false;
  void ClearDevicesForSearch() override { ++clears; }
  void OnSearchButton() override { ++searches; }
  bool IsSearchRunning() override { return running; }
};

BootServerOptions LoopbackOptions() {
  BootServerOptions options;
  options.program_folder = QString::fromStdString(::kelvara::test::BinDir().string());
  options.helper_arguments = {"-p", "0", "-a", "127.0.0.1"};
  options.listener.port = 0;  // an ephemeral port: nothing is ever sent
  options.probe = [](std::uint32_t) { return 0; };
  return options;
}

TEST(BootServerDlg, OpensWithNumberedTipsAndColumns) {
  Host host;
  CSaveParam settings(::kelvara::test::MakeTempDir("cfg") / "zq_cfg.xml");
  CBootServerDlg dlg(&host, &settings, LoopbackOptions());
  dlg.OnInitDialog();
  EXPECT_FALSE(settings.upgrade_folder.empty());  // defaulted to the shared documents
  const QStringList lines = Lines(dlg);
  ASSERT_GE(lines.size(), 5);
  EXPECT_TRUE(lines[0].startsWith("00001:"));
  EXPECT_TRUE(lines[1].startsWith("00002:"));
  EXPECT_EQ(dlg.DeviceList()->GetColumnCount(), 5);
  EXPECT_EQ(dlg.DeviceList()->GetColumnHeaderText(0), "Index");
  EXPECT_EQ(dlg.DeviceList()->GetColumnHeaderText(1), "UUID");
  EXPECT_EQ(dlg.GetCheck(CBootServerDlg::kRestoreFactory), 1);
  EXPECT_TRUE(dlg.Control(CBootServerDlg::kStart)->isEnabled());
  EXPECT_FALSE(dlg.Control(CBootServerDlg::kStop)->isEnabled());

  // The log keeps a bounded number of lines, numbered on.
  for (int i = 0; i < 6000; ++i) dlg.AppendLog(QString("line %1").arg(i));
  EXPECT_EQ(dlg.LogPane()->blockCount(), 5000);
  EXPECT_TRUE(Lines(dlg).last().endsWith(":line 5999"));
  EXPECT_TRUE(Lines(dlg).last().startsWith(QString("%1:").arg(6000 + lines.size(), 5, 10, QLatin1Char('0'))));
}

TEST(BootServerDlg, RowsChangeInPlaceAndComeBackAfterClearing) {
  Host host;
  CBootServerDlg dlg(&host, nullptr, LoopbackOptions());
  dlg.OnInitDialog();
  auto* list = dlg.DeviceList();
  dlg.UpdateDeviceRow({"zq01", "Waiting", "a.bin", "10.0.0.5", "00 01 02 03 04 05", 0, 0});
  dlg.UpdateDeviceRow({"zq02", "Waiting", "b.bin", "10.0.0.6", "00 01 02 03 04 06", 0, 0});
  dlg.UpdateDeviceRow({"zq01", "Recovered", "a.bin", "10.0.0.5", "00 01 02 03 04 05", 10, 0});
  ASSERT_EQ(list->GetItemCount(), 2);
  EXPECT_EQ(list->GetItemText(0, 0), "01");
  EXPECT_EQ(list->GetItemText(0, 1), "zq01");
  EXPECT_EQ(list->GetItemText(0, 4), "Recovered");
  EXPECT_EQ(list->GetItemText(1, 0), "02");
  dlg.OnClearList();
  EXPECT_EQ(list->GetItemCount(), 0);
  EXPECT_EQ(host.clears, 1);
  dlg.UpdateDeviceRow({"zq02", "x", "b.bin", "10.0.0.6", "", 3, 0});
  EXPECT_EQ(list->GetItemText(0, 0), "01");

  // Unticking and ticking the restore box: the list is cleared and a search starts.
  dlg.SetCheck(CBootServerDlg::kRestoreFactory, 0);
  dlg.OnRestoreFactoryCheck();
  EXPECT_FALSE(dlg.Server().RestoreEnabled());
  dlg.SetCheck(CBootServerDlg::kRestoreFactory, 1);
  dlg.OnRestoreFactoryCheck();
  EXPECT_TRUE(dlg.Server().RestoreEnabled());
  EXPECT_EQ(host.searches, 1);
}

TEST(BootServerDlg, HelperIsUnpackedRunAsChildAndEnded) {
  if (!fs::exists(::kelvara::test::BinDir() / "zqfileserver.7z")) GTEST_SKIP() << "no zqfileserver.7z";
  Host host;
  const fs::path folder = ::kelvara::test::MakeTempDir("fw");
  // A stale copy from an earlier run is never what runs.
  std::ofstream(folder / "zqfileserver") << "#!/bin/sh\nexit 0\n";
  CBootServerDlg dlg(&host, nullptr, LoopbackOptions());
  dlg.OnInitDialog();
  dlg.SetItemText(CBootServerDlg::kFolder, QString::fromStdString(folder.string()));
  EXPECT_EQ(dlg.StartService(), 0);
  dlg.UpdateServiceButtons();
  EXPECT_TRUE(dlg.HelperRunning());
  EXPECT_GT(fs::file_size(folder / "zqfileserver"), 10000u);
  EXPECT_EQ(host.searches, 1);
  EXPECT_FALSE(dlg.Control(CBootServerDlg::kStart)->isEnabled());
  const qint64 first = dlg.HelperPid();
  // The helper says where it serves; its lines reach the log.
  EXPECT_TRUE(WaitFor([&] {
    return LogHas(dlg, QString::fromStdString("zqfileserver: serving " + fs::canonical(folder).string() + " on UDP"));
  })) << dlg.LogPane()->toPlainText().toStdString();

  // Start again: the listener already runs (-1), the helper is restarted.
  EXPECT_EQ(dlg.StartService(), -1);
  EXPECT_TRUE(dlg.HelperRunning());
  EXPECT_NE(dlg.HelperPid(), first);
  EXPECT_EQ(kill(static_cast<pid_t>(first), 0), -1);  // the first one is gone

  EXPECT_EQ(dlg.StopService(), 0);
  EXPECT_FALSE(dlg.HelperRunning());
  EXPECT_EQ(dlg.StopService(), -1);
}

// Starting the service lists the folder with the image check: its lines reach
// standard output, images of the field it accepts are offered, a truncated
// one is not.
TEST(BootServerDlg, StartingTheServiceListsTheFolderWithTheImageCheck) {
  if (!fs::exists(::kelvara::test::BinDir() / "zqfileserver.7z")) GTEST_SKIP() << "no zqfileserver.7z";
  Host host;
  const fs::path folder = ::kelvara::test::MakeTempDir("fw");
  const std::string padded = test::BuildImage("IPC-PAD_V1");
  test::WriteFile(folder / "padded.bin", padded + std::string(4096 - padded.size() % 4096, '\xff'));
  const std::string cut = test::BuildImage("IPC-CUT_V1");
  test::WriteFile(folder / "cut.bin", cut.substr(0, cut.size() - 100));
  CBootServerDlg dlg(&host, nullptr, LoopbackOptions());
  dlg.OnInitDialog();
  dlg.SetItemText(CBootServerDlg::kFolder, QString::fromStdString(folder.string()));
  testing::internal::CaptureStdout();
  const int started = dlg.StartService();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(started, 0);
  EXPECT_NE(out.find("size error(header->file_size = " + std::to_string(padded.size()) + ", total_size = " +
                     std::to_string(fs::file_size(folder / "padded.bin")) + "\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("truncated image: rootfs part ends at " + std::to_string(cut.size()) +
                     ", beyond the end of the file (" + std::to_string(cut.size() - 100) + " bytes)\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(dlg.Server().ChooseFirmwareFile("IPC-PAD"), "padded.bin");
  EXPECT_EQ(dlg.Server().ChooseFirmwareFile("IPC-CUT"), "");
  dlg.StopService();
}

TEST(BootServerDlg, HelperThatCannotBindIsReported) {
  if (!fs::exists(::kelvara::test::BinDir() / "zqfileserver.7z")) GTEST_SKIP() << "no zqfileserver.7z";
  // Hold a loopback port so the helper's bind fails, as port 69 does without the capability.
  const int held = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(held, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  socklen_t length = sizeof a;
  getsockname(held, reinterpret_cast<sockaddr*>(&a), &length);
  BootServerOptions options = LoopbackOptions();
  options.helper_arguments = {"-p", QString::number(ntohs(a.sin_port)), "-a", "127.0.0.1"};
  Host host;
  CBootServerDlg dlg(&host, nullptr, options);
  dlg.OnInitDialog();
  dlg.SetItemText(CBootServerDlg::kFolder, QString::fromStdString(::kelvara::test::MakeTempDir("fw").string()));
  dlg.StartService();
  // The cause is named: here another program holds the port (no capability hint).
  EXPECT_TRUE(WaitFor([&] { return LogHas(dlg, "cannot use its port"); })) << dlg.LogPane()->toPlainText().toStdString();
  EXPECT_TRUE(LogHas(dlg, "another program, such as a TFTP server, holds it"));
  EXPECT_FALSE(LogHas(dlg, "CAP_NET_BIND_SERVICE"));
  dlg.StopService();
  close(held);

  // Any other end of the helper is logged with what it said.
  options.helper_arguments = {"-p", "0", "-a", "127.0.0.1", "-d", "/nonexistent/folder"};
  CBootServerDlg other(&host, nullptr, options);
  other.OnInitDialog();
  other.SetItemText(CBootServerDlg::kFolder, QString::fromStdString(::kelvara::test::MakeTempDir("fw").string()));
  other.StartService();
  EXPECT_TRUE(WaitFor([&] { return LogHas(other, "the file server ended (exit code 2): zqfileserver: cannot open folder"); }))
      << other.LogPane()->toPlainText().toStdString();
  other.StopService();
}

// A UDP port free on loopback now.
std::uint16_t FreeUdpPort() {
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t length = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
  close(s);
  return ntohs(a.sin_port);
}

long RssKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

// A flood on the recovery port costs the window a few lines and one count per
// sender and window, never a line (and a queued call) per datagram; malformed
// datagrams are dropped with a counted line; the device list still shows each
// device's newest step. Only datagrams that are never answered are sent, to
// loopback: nothing leaves it.
TEST(BootServerDlg, FloodOnTheRecoveryPortIsBoundedAndCounted) {
  BootServerOptions options = LoopbackOptions();
  options.listener.port = FreeUdpPort();
  options.listener.log_limits.window_ms = 1000;
  Host host;
  CBootServerDlg dlg(&host, nullptr, options);
  dlg.OnInitDialog();
  // The loopback address as the adapter: datagrams to it are the adapter's.
  auto* netcard = dlg.ControlAs<QComboBox>(CBootServerDlg::kNetcard);
  netcard->addItem("127.0.0.1", QVariant::fromValue<qulonglong>(htonl(INADDR_LOOPBACK)));
  netcard->setCurrentIndex(netcard->count() - 1);
  ASSERT_EQ(dlg.Server().AdapterAddress(), htonl(INADDR_LOOPBACK));
  // A known device, made without a reply going anywhere.
  dlg.Server().SetFirmwareList({{"ipc_a.bin", {100, "IPC-A_V1.0"}}});
  ASSERT_NE(dlg.Server().HandleRequest(htonl(INADDR_LOOPBACK), "CMD_CODE=1;DEV_TYPE=IPC-A;UUID=known").find("RESULT=0"),
            std::string::npos);
  ASSERT_EQ(dlg.StartListener(), 1);
  ASSERT_TRUE(WaitFor([&] { return dlg.DeviceList()->GetItemCount() == 1; }));
  const unsigned first_line = dlg.LogPane()->blockCount();

  const std::string datagrams[] = {
      "CMD_CODE=3;DEV_TYPE=IPC-A;UUID=known;STEP=5",
      "CMD_CODE=3;DEV_TYPE=IPC-A\n00099:forged;UUID=known;STEP=6",
      "no request at all",
      "CMD_CODE=7;DEV_TYPE=IPC-A;UUID=other",
  };
  std::atomic<bool> done{false};
  std::atomic<long> sent{0};
  std::thread flood([&] {
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(options.listener.port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    for (long i = 0; std::chrono::steady_clock::now() < end; ++i) {
      const std::string& d = datagrams[i % 4];
      if (sendto(s, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) > 0) ++sent;
    }
    close(s);
    done = true;
  });
  const long rss_before = RssKiB();
  auto longest = std::chrono::steady_clock::duration::zero();
  auto last = std::chrono::steady_clock::now();
  while (!done) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const auto now = std::chrono::steady_clock::now();
    longest = std::max(longest, now - last);
    last = now;
  }
  flood.join();
  const long rss_after = RssKiB();
  // The last word of the device, then the count of the flood's window.
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(options.listener.port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const std::string final_report = "CMD_CODE=3;DEV_TYPE=IPC-A;UUID=known;STEP=9";
  sendto(s, final_report.data(), final_report.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  close(s);
  EXPECT_TRUE(WaitFor([&] { return LogHas(dlg, "more datagrams not logged in the last 1 s"); }, 5000))
      << dlg.LogPane()->toPlainText().toStdString();
  const QString step9 = QString::fromStdString(LanguageTable::Instance().GetLanguageString("UPDATE_PROCESS_UPDATE_FW_END"));
  EXPECT_TRUE(WaitFor([&] { return dlg.DeviceList()->GetItemText(0, 4) == step9; }));
  EXPECT_EQ(dlg.DeviceList()->GetItemCount(), 1);
  std::cout << "flood: " << sent.load() << " datagrams in 3 s; longest UI pass "
            << std::chrono::duration_cast<std::chrono::milliseconds>(longest).count() << " ms; RSS " << rss_before
            << " -> " << rss_after << " KiB\n";

  const QStringList lines = Lines(dlg).mid(static_cast<int>(first_line));
  EXPECT_LT(lines.size(), 400) << "lines written for " << sent.load() << " datagrams";
  EXPECT_TRUE(LogHas(dlg, "127.0.0.1: malformed datagram of 17 bytes dropped (1 so far)"));
  EXPECT_TRUE(LogHas(dlg, "127.0.0.1: datalen 43"));
  EXPECT_TRUE(LogHas(dlg, "IPC-A\\n00099:forged:known:"));
  for (const QString& line : lines) EXPECT_FALSE(line.startsWith("00099:forged")) << line.toStdString();
  dlg.StopListener();
}

// A stand-in for the helper: the window "unpacks" it with an archiver of the
// test's own (a script copying `helper_script` into the folder), so the test
// decides what the helper prints.
BootServerOptions FakeHelperOptions(const std::string& helper_script) {
  const fs::path program = ::kelvara::test::MakeTempDir("prog");
  test::WriteFile(program / "zqfileserver.7z", "");
  test::WriteFile(program / "helper.sh", helper_script);
  const fs::path archiver = program / "archiver.sh";
  test::WriteFile(archiver, "#!/bin/sh\nfor a; do case \"$a\" in -o*) cp '" + (program / "helper.sh").string() +
                                "' \"${a#-o}/zqfileserver\";; esac; done\n");
  fs::permissions(archiver, fs::perms::owner_all);
  BootServerOptions options = LoopbackOptions();
  options.program_folder = QString::fromStdString(program.string());
  options.archiver = QString::fromStdString(archiver.string());
  options.helper_arguments = {};
  return options;
}

// The most log lines any one event (a pass of the UI thread's loop) added.
class LinesPerPass : public QObject {
 public:
  explicit LinesPerPass(const QPlainTextEdit* log) : log_(log), last_(log->blockCount()) {
    QCoreApplication::instance()->installEventFilter(this);
  }
  ~LinesPerPass() override { QCoreApplication::instance()->removeEventFilter(this); }
  int most() const { return most_; }
  bool eventFilter(QObject*, QEvent*) override {
    const int now = log_->blockCount();
    most_ = std::max(most_, now - last_);
    last_ = now;
    return false;
  }

 private:
  const QPlainTextEdit* log_;
  int last_, most_ = 0;
};

// The helper's flood lines ("1" to "30000") shown in `lines`, those counted
// as dropped, and its honest lines in order.
struct FloodTally {
  long shown = 0, dropped = 0;
  QStringList honest;
};
FloodTally Tally(const QStringList& lines) {
  FloodTally tally;
  const QRegularExpression count("^\\d+:(\\d+) log lines dropped");
  for (const QString& line : lines) {
    const QString text = line.section(':', 1);
    if (text.startsWith("honest")) tally.honest << text;
    bool number = false;
    text.toInt(&number);
    tally.shown += number;
    if (const auto m = count.match(line); m.hasMatch()) tally.dropped += m.captured(1).toLong();
  }
  return tally;
}

// A helper printing 30,000 lines at once (here while the window is busy, so
// a full pipe waits for it) costs the window one bounded batch per pass, the
// rest counted in one line each pass; every line the helper printed is shown
// or counted, and its honest lines before the flood and after it (once the
// window has taken the flood) come out in order.
TEST(BootServerDlg, FloodOfHelperLinesIsTakenInBoundedBatches) {
  const fs::path go = ::kelvara::test::MakeTempDir("go") / "go";
  BootServerOptions options = FakeHelperOptions("#!/bin/sh\necho honest 1\necho honest 2\nseq 30000\nwhile [ ! -e '" +
                                                go.string() +
                                                "' ]; do sleep 0.05; done\necho honest 3\necho honest 4\n"
                                                "exec sleep 60\n");
  options.max_log_lines = 100000;  // every line stays, so they can be counted
  Host host;
  CBootServerDlg dlg(&host, nullptr, options);
  dlg.OnInitDialog();
  dlg.SetItemText(CBootServerDlg::kFolder, QString::fromStdString(::kelvara::test::MakeTempDir("fw").string()));
  const int first_line = dlg.LogPane()->blockCount();
  int most_per_pass = 0;
  ASSERT_EQ(dlg.StartService(), 0) << dlg.LogPane()->toPlainText().toStdString();
  std::this_thread::sleep_for(std::chrono::seconds(1));  // the helper fills its pipe meanwhile
  auto longest = std::chrono::steady_clock::duration::zero();
  {
    LinesPerPass passes(dlg.LogPane());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    auto next_tally = std::chrono::steady_clock::now();
    while (!dlg.LogPane()->document()->lastBlock().text().endsWith(":honest 4") &&
           std::chrono::steady_clock::now() < deadline) {
      const auto start = std::chrono::steady_clock::now();
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      longest = std::max(longest, std::chrono::steady_clock::now() - start);
      // The flood taken, the helper goes on with its honest lines.
      if (!fs::exists(go) && std::chrono::steady_clock::now() >= next_tally) {
        const FloodTally tally = Tally(Lines(dlg).mid(first_line));
        if (tally.shown + tally.dropped >= 30000) test::WriteFile(go, "");
        next_tally = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
      }
    }
    most_per_pass = passes.most();
  }
  dlg.StopService();

  const FloodTally tally = Tally(Lines(dlg).mid(first_line));
  std::cout << "30000 helper lines: " << tally.shown << " shown, " << tally.dropped
            << " counted as dropped; at most " << most_per_pass << " log lines in one pass; longest call of "
            << "processEvents " << std::chrono::duration_cast<std::chrono::milliseconds>(longest).count() << " ms\n";
  EXPECT_EQ(tally.shown + tally.dropped, 30000);
  EXPECT_LE(most_per_pass, static_cast<int>(RecoveryUiFeed::kMaxLines) + 2);
  EXPECT_EQ(tally.honest.join(", ").toStdString(), "honest 1, honest 2, honest 3, honest 4");
}

// An honest helper's few lines all come, in order and before the line saying
// it ended.
TEST(BootServerDlg, HonestHelperLinesComeInOrderBeforeItsEnd) {
  Host host;
  CBootServerDlg dlg(&host, nullptr,
                     FakeHelperOptions("#!/bin/sh\necho 'zqfileserver: serving /x on UDP 69'\n"
                                       "echo '127.0.0.1:2000 refused: file not found: a.bin'\n"
                                       "echo '127.0.0.1:2001 b.bin sent 1000 bytes'\nexit 0\n"));
  dlg.OnInitDialog();
  dlg.SetItemText(CBootServerDlg::kFolder, QString::fromStdString(::kelvara::test::MakeTempDir("fw").string()));
  const int first_line = dlg.LogPane()->blockCount();
  ASSERT_EQ(dlg.StartService(), 0);
  ASSERT_TRUE(WaitFor([&] { return LogHas(dlg, "the file server ended"); })) << dlg.LogPane()->toPlainText().toStdString();
  QStringList texts;
  for (const QString& line : Lines(dlg).mid(first_line)) texts << line.section(':', 1);
  const QStringList expected = {"zqfileserver: serving /x on UDP 69", "127.0.0.1:2000 refused: file not found: a.bin",
                                "127.0.0.1:2001 b.bin sent 1000 bytes", "the file server ended (exit code 0)"};
  EXPECT_EQ(texts.mid(texts.size() - expected.size()).join('\n').toStdString(), expected.join('\n').toStdString());
  dlg.StopService();
}

TEST(BootServerDlg, MissingArchiveFailsWithALogLine) {
  Host host;
  BootServerOptions options = LoopbackOptions();
  options.program_folder = QString::fromStdString(::kelvara::test::MakeTempDir("empty").string());
  CBootServerDlg dlg(&host, nullptr, options);
  dlg.OnInitDialog();
  dlg.SetItemText(CBootServerDlg::kFolder, QString::fromStdString(::kelvara::test::MakeTempDir("fw").string()));
  EXPECT_EQ(dlg.StartService(), -1);
  EXPECT_TRUE(LogHas(dlg, "cannot unpack the file server"));
  EXPECT_FALSE(dlg.HelperRunning());
  EXPECT_EQ(host.searches, 0);
  dlg.StopService();
}

}  // namespace
}  // namespace kelvara::firmware
