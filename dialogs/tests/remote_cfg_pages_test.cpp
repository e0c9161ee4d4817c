// The remote configuration window with a simulated device on loopback: the
// library logs in, shows a page per block the device has, and its Save writes
// the block back through the device's own checks.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "config_pages.h"
#include "dialogs/ui/dialog_remote_cfg.h"
#include "simulator.h"

namespace kelvara::dialogs {
namespace {

std::unique_ptr<devsim::Simulator> StartDevice() {
  devsim::SimConfig c;
  c.discovery_port = 0;  // loopback only
  devsim::DeviceConfig dev;
  dev.ip = "127.0.0.1";
  dev.command_port = 0;
  dev.log_port = 0;
  dev.password = "pw1";
  dev.rtsp = 0;
  devsim::CompleteDevice(dev, 0);
  c.devices.push_back(dev);
  auto sim = std::make_unique<devsim::Simulator>(c);
  return sim->Start().empty() ? std::move(sim) : nullptr;
}

std::string Repeat(const std::string& s, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += s;
  return out;
}

// A device whose blocks are too deep or wide to show: each such page says
// why, the other pages work, and a block of the largest size a page takes
// is drawn in full.
TEST(RemoteCfgPages, BlocksTooDeepOrWideShowTheReasonOnTheirPage) {
  const auto sim = StartDevice();
  ASSERT_NE(sim, nullptr);
  sim->device(0).PutBlock(208, Repeat("<a>", 300'000));                         // 900 KB of nesting
  sim->device(0).PutBlock(210, "<r>" + Repeat("<e a='1' b='2' c='3' d='4'/>", 25'000) + "</r>");  // 100,000 attributes
  std::string full = "<Config>";
  for (std::size_t i = 0; i < remote_config::kMaxPageFields / 2; ++i) full += "<Channel Name=\"c\" Value=\"1\"/>";
  sim->device(0).PutBlock(202, full + "</Config>");

  CRemoteCfgDlg d({"127.0.0.1", sim->command_port(0), "admin", "pw1", 0}, "en-us");
  d.show();
  auto* tabs = d.findChild<QTabWidget*>("RemoteConfigPages");
  ASSERT_NE(tabs, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return tabs->count() > 0; }, 20000));
  auto state = [&](int code) {
    QWidget* page = d.findChild<QWidget*>(QStringLiteral("RemoteConfigPage:%1").arg(code));
    return page ? page->findChild<QLabel*>("RemoteConfigPageState")->text().toStdString() : std::string("no page");
  };
  EXPECT_EQ(state(208), "unreadable block: the XML nests deeper than 128 elements");
  EXPECT_EQ(state(210), "unreadable block: the block has more than 8192 fields");
  QWidget* time = d.findChild<QWidget*>("RemoteConfigPage:202");
  ASSERT_NE(time, nullptr);
  EXPECT_EQ(time->findChildren<QLineEdit*>().size(), static_cast<qsizetype>(remote_config::kMaxPageFields));
  QWidget* audio = d.findChild<QWidget*>("RemoteConfigPage:507");
  ASSERT_NE(audio, nullptr);
  EXPECT_NE(audio->findChild<QLineEdit*>("Capture.Volume"), nullptr);
  // Refresh reads the refused block again, still off the UI thread, with the same answer.
  d.findChild<QWidget*>("RemoteConfigPage:208")->findChild<QPushButton*>("Refresh")->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return state(208) != "reading"; }, 10000));
  EXPECT_EQ(state(208), "unreadable block: the XML nests deeper than 128 elements");
  d.close();
}

TEST(RemoteCfgPages, EditAndSaveABlockOfTheDevice) {
  const auto started = StartDevice();
  ASSERT_NE(started, nullptr);
  devsim::Simulator& sim = *started;

  CRemoteCfgDlg d({"127.0.0.1", sim.command_port(0), "admin", "pw1", 0}, "en-us");
  d.show();
  auto* tabs = d.findChild<QTabWidget*>("RemoteConfigPages");
  ASSERT_NE(tabs, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return tabs->count() > 0; }, 10000));
  EXPECT_EQ(d.findChild<QLabel*>("RemoteConfigState")->text(), "logged in");
  EXPECT_EQ(tabs->tabText(0), "Network");
  if (const char* dir = std::getenv("KELVARA_SCREENSHOTS"))
    d.grab().save(QString::fromLocal8Bit(dir) + "/remote_config.png");
  QWidget* page = d.findChild<QWidget*>("RemoteConfigPage:507");
  ASSERT_NE(page, nullptr);
  auto* volume = page->findChild<QLineEdit*>("Capture.Volume");
  auto* state = page->findChild<QLabel*>("RemoteConfigPageState");
  ASSERT_NE(volume, nullptr);
  volume->setText("33");
  page->findChild<QPushButton*>("Save")->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return state->text() == "saved"; }, 10000)) << state->text().toStdString();
  EXPECT_NE(sim.device(0).GetConfig(507).text.find("Volume=\"33\""), std::string::npos);
  // The device refuses a volume out of range; its block stays.
  volume = page->findChild<QLineEdit*>("Capture.Volume");
  volume->setText("150");
  page->findChild<QPushButton*>("Save")->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return state->text().startsWith("refused"); }, 10000));
  EXPECT_NE(sim.device(0).GetConfig(507).text.find("Volume=\"33\""), std::string::npos);
  // Refresh reads what the device holds.
  page->findChild<QPushButton*>("Refresh")->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return state->text() == "read"; }, 10000));
  EXPECT_EQ(page->findChild<QLineEdit*>("Capture.Volume")->text(), "33");
  // A page still busy when the window closes drops its answer.
  page->findChild<QPushButton*>("Refresh")->click();
  d.close();
  EXPECT_EQ(d.Instance(), 0);
  QTest::qWait(200);
}

}  // namespace
}  // namespace kelvara::dialogs
