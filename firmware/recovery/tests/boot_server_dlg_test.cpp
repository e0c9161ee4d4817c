// The recovery window offscreen, on loopback only: its log and device rows,
// and the helper it unpacks and runs as its own child.
#include "firmware/recovery/ui/boot_server_dlg.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/save_param.h"
#include "controls/ui/report_ctrl.h"
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
