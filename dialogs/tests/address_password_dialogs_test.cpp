// The address, password and default-login dialogs as the user meets them:
// fields filled on opening, the start address driving end and gateway, OK's
// refusals, Check off the UI thread, and the password dialogs' values.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "dialogs/ui/dialog_default_user.h"
#include "dialogs/ui/dialog_ip_setting.h"
#include "dialogs/ui/dialog_pwd.h"

namespace kelvara::dialogs {
namespace {

QString Text(ui::CXDlg& d, int id) { return d.ControlAs<QLineEdit>(id)->text(); }

TEST(DialogIpSetting, OpeningFillsFieldsAndStartDrivesEndAndGateway) {
  CDialogIpSetting d;
  d.SetRangeMode(true);
  d.SetDeviceCount(10);
  d.values = {0, "192.168.1.250", "255.255.255.0", "192.168.1.1", "0.0.0.0", "8.8.8.8", ""};
  d.LoadFields();
  EXPECT_EQ(Text(d, 1146), "192.168.1.254");
  EXPECT_EQ(Text(d, 1143), "0.0.0.0");
  auto* start = d.ControlAs<QLineEdit>(1141);
  start->setText("10.0.0.20");
  emit start->textEdited(start->text());
  EXPECT_EQ(Text(d, 1144), "10.0.0.1");
  EXPECT_EQ(Text(d, 1146), "10.0.0.29");
}

TEST(DialogIpSetting, OkRefusesBadValuesAndStoresGoodOnes) {
  CDialogIpSetting d;
  d.values = {0, "192.168.1.255", "255.255.255.0", "192.168.1.1", "", "", ""};
  d.LoadFields();
  // The message box would block: answer it at once.
  QTimer::singleShot(0, [] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->inherits("QMessageBox")) w->close();
  });
  d.OnOk();
  EXPECT_EQ(d.LastRefusalKey(), "MSGTIP46");
  EXPECT_TRUE(d.cancelled);
  d.ControlAs<QLineEdit>(1141)->setText("192.168.1.30");
  d.ControlAs<QLineEdit>(1143)->setText("0.0.0.0");
  d.OnOk();
  EXPECT_FALSE(d.cancelled);
  EXPECT_EQ(d.values.startAddress, "192.168.1.30");
  EXPECT_EQ(d.values.gateway, "192.168.1.1");
  EXPECT_EQ(d.values.dns1, "");  // 0.0.0.0 is stored as empty
}

TEST(DialogIpSetting, CheckRunsOffTheUiThreadAndColoursItsResult) {
  const auto ui = std::this_thread::get_id();
  std::atomic<bool> offUi{true};
  CDialogIpSetting::SetProbeForTesting([&](std::uint32_t a) {
    if (std::this_thread::get_id() == ui) offUi = false;
    return (a & 0xFF) == 3 ? 1 : 0;
  });
  CDialogIpSetting d;
  d.SetRangeMode(true);
  d.SetDeviceCount(3);
  d.values = {0, "10.0.0.2", "255.255.255.0", "", "", "", ""};
  d.LoadFields();
  d.OnCheck();
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (d.CheckRunning() && std::chrono::steady_clock::now() < end) QApplication::processEvents();
  EXPECT_TRUE(offUi);
  EXPECT_FALSE(d.noConflict);
  EXPECT_EQ(d.ResultText(), ui::CXDlg::LangText("IP_CONFLICT"));
  EXPECT_NE(d.ControlAs<QLabel>(1089)->styleSheet().indexOf("255, 0, 0"), -1);
  // A check still running when the dialog closes is cancelled, not waited out.
  CDialogIpSetting::SetProbeForTesting([](std::uint32_t) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return 0;
  });
  {
    CDialogIpSetting slow;
    slow.SetRangeMode(true);
    slow.SetDeviceCount(200);
    slow.values = {0, "10.0.0.2", "255.255.255.0", "", "", "", ""};
    slow.LoadFields();
    slow.OnCheck();
  }
  CDialogIpSetting::SetProbeForTesting(nullptr);
}

TEST(PasswordDialogs, DefaultsEmptyPasswordAndTwoDifferentTexts) {
  CDialogDefaultUser user;
  user.LoadFields();
  EXPECT_EQ(Text(user, 1085), "admin");
  EXPECT_EQ(Text(user, 1017), "470913");
  user.ControlAs<QLineEdit>(1085)->setText("root");
  user.OnOk();
  EXPECT_FALSE(user.cancelled);
  EXPECT_EQ(user.values.userName, "root");

  CDialogPwd pwd;
  EXPECT_EQ(Text(pwd, 1017), "");
  QTimer::singleShot(0, [] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->inherits("QMessageBox")) w->close();
  });
  pwd.OnOk();
  EXPECT_TRUE(pwd.Refused());
  EXPECT_TRUE(pwd.cancelled);
  EXPECT_EQ(pwd.values.password, "470913");
  pwd.ControlAs<QLineEdit>(1017)->setText("one");
  pwd.ControlAs<QLineEdit>(1010)->setText("two");
  pwd.OnOk();
  EXPECT_FALSE(pwd.cancelled);
  EXPECT_EQ(pwd.values.password, "one");
  EXPECT_EQ(pwd.values.repeat, "two");
}

}  // namespace
}  // namespace kelvara::dialogs
