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

#include "dialogs/ui/dialog_remote_cfg.h"
#include "simulator.h"

namespace kelvara::dialogs {
namespace {

TEST(RemoteCfgPages, EditAndSaveABlockOfTheDevice) {
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
  devsim::Simulator sim(c);
  ASSERT_EQ(sim.Start(), "");

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
