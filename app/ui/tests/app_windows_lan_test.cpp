// The whole program in the test LAN, as a user runs it: the main window finds
// devsim's camera, every top-level window the program makes is opened and
// closed again (the remote configuration with Escape), the default login is
// changed through its dialog, and the main window is closed. The program must
// end cleanly with each of those windows deleted exactly once.
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "app/shell/main_layout.h"
#include "app/ui/linked_shell_sdk.h"
#include "app/ui/live_view_seam.h"
#include "app/ui/zq_dev_search_tool_app.h"
#include "app/ui/zq_dev_search_tool_dlg.h"
#include "controls/ui/report_ctrl.h"
#include "dialogs/ui/dialog_default_user.h"
#include "kelvara_test/test_lan.h"
#include "media/ui/wnd_manager.h"
#include "printing/qt/qr_encode_dlg.h"
#include "simulator.h"
#include "whole_program_test.h"

namespace kelvara::ui {
namespace {

using kelvara::test::LanSide;
using kelvara::test::TestLan;
using kelvara::test::TestLanOptions;
namespace ids = shell::ids;

// Runs `answer` on the next modal window once it opens.
void AnswerNextModal(const std::function<void(QWidget*)>& answer) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [poll, answer] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      poll->stop();
      poll->deleteLater();
      answer(modal);
    }
  });
  poll->start(20);
}

// Qt's warnings while the program runs (a window deleted behind its owner's
// back is one of them).
std::vector<std::string>& QtWarnings() {
  static std::vector<std::string> warnings;
  return warnings;
}

// Each window the test opened, with how often it was destroyed.
struct Watched {
  QPointer<QWidget> window;
  std::shared_ptr<int> destroyed = std::make_shared<int>(0);
};

TEST(AppWindowsLan, EveryWindowOpensAndClosesAndTheProgramEndsCleanly) {
  std::string why;
  std::unique_ptr<TestLan> lan = TestLan::Create(TestLanOptions{.lan_addresses = 1}, &why);
  if (!lan) GTEST_SKIP() << "test LAN unavailable (" << why << ")";
  devsim::SimConfig config;
  config.stdin_control = false;
  devsim::DeviceConfig d;
  d.ip = TestLan::LanAddress(0);
  d.device_type = "NVS-DAV-ODUVE-IPC";
  d.command_port = 8091;
  devsim::CompleteDevice(d, 0);
  config.devices.push_back(d);
  std::unique_ptr<devsim::Simulator> sim;
  ASSERT_EQ(lan->CallInThread(LanSide::kLan,
                              [&] {
                                sim = std::make_unique<devsim::Simulator>(config);
                                return sim->Start();
                              }),
            "");
  // The program searches by broadcast as soon as it opens: only from inside the LAN.
  ASSERT_TRUE(lan->EnterOnThisThread(LanSide::kPc));

  std::map<std::string, Watched> opened;
  auto watch = [&opened](const std::string& name, QWidget* w) {
    if (w == nullptr || opened.count(name)) return;
    Watched& entry = opened[name];
    entry.window = w;
    QObject::connect(w, &QObject::destroyed, [count = entry.destroyed] { ++*count; });
  };
  std::vector<std::string> steps;
  // Message boxes (a device that cannot play yet, ...) are answered as they come.
  test::MessageBoxCloser boxes;

  QTimer::singleShot(0, [&] {
    CZqDevSearchToolDlg* dlg = nullptr;
    if (!QTest::qWaitFor([&] { return (dlg = test::MainWindow()) != nullptr; }, 10000)) return;
    auto* list = dlg->ControlAs<controls::CReportCtrl>(ids::kDeviceList);
    auto* live = dynamic_cast<LiveViewSeamImpl*>(dlg->Services().live_view);
    const bool found = list != nullptr && live != nullptr &&
                       QTest::qWaitFor([&] { return list->GetItemCount() >= 1; }, 20000);
    if (found) {
      steps.push_back("found");
      list->selectRow(0);
      // The remote configuration of the selected row (list menu, English,
      // channel 0), closed with Escape.
      dlg->Services().device_list->OnCommand(33414);
      if (QWidget* config = live->RemoteConfigWindow()) {
        watch("remote configuration", config);
        QTest::keyClick(config, Qt::Key_Escape);
        if (!config->isVisible()) steps.push_back("configuration closed");
      }
      // Play all: the video window.
      dlg->Services().device_list->OnCommand(32937);
      watch("video", dlg->VideoHost());
      // The preview popup and the QR popup.
      dlg->ShowPreviewPopup(1, 20, 20, QString::fromStdString(d.serial));
      watch("preview popup", live->Preview());
      live->HidePreviewPopup();
      dlg->Services().printing->ShowQrPopup(dlg, QStringLiteral("QR-TEXT"), false);
      dlg->Services().printing->HideQrPopup();
      for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<printing::CQR_EncodeDlg*>(w) != nullptr) watch("QR popup", w);
      // The modeless tools of the window.
      dlg->OnAudioCommand(1296);
      watch("intercom", dlg->AudioPlayDlg());
      dlg->ShowManualFocusDlg();
      watch("focus", dlg->ManualFocusDlg());
      dlg->ShowBootServerDlg();
      watch("boot recovery", dlg->BootServerDlg());
      for (const char* name : {"intercom", "focus", "boot recovery"})
        if (opened.count(name) && opened[name].window) opened[name].window->close();
      // The modal windows: about and the two label settings dialogs.
      for (int command : {kSysCommandAbout, kSysCommandQrPrintSetting, kSysCommandTips}) {
        AnswerNextModal([](QWidget* modal) { modal->close(); });
        dlg->OnSysCommand(command);
        steps.push_back("modal " + std::to_string(command));
      }
      // The default login dialog (button 21): the top row shows what it saved.
      AnswerNextModal([](QWidget* modal) {
        if (auto* login = qobject_cast<dialogs::CDialogDefaultUser*>(modal)) {
          login->SetItemText(1085, QStringLiteral("operator2"));
          login->SetItemText(1017, QStringLiteral("secret2"));
          login->OnOk();
        } else {
          modal->close();
        }
      });
      if (auto* button = dlg->ControlAs<QPushButton>(21)) button->click();
      if (dlg->GetItemText(ids::kDefaultUser) == QStringLiteral("operator2") &&
          dlg->GetItemText(ids::kDefaultPassword) == QStringLiteral("secret2"))
        steps.push_back("top row follows the login");
    }
    dlg->close();
  });

  const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& m) {
    if (type != QtDebugMsg && type != QtInfoMsg) QtWarnings().push_back(m.toStdString());
  });
  CZqDevSearchToolApp app;
  LinkedShellSdk sdk;
  EXPECT_EQ(app.InitInstance(sdk), 0);
  boxes.Stop();
  qInstallMessageHandler(previous);
  for (const std::string& warning : QtWarnings()) EXPECT_EQ(warning.find("deleted directly"), std::string::npos) << warning;

  EXPECT_EQ(steps, (std::vector<std::string>{"found", "configuration closed", "modal 16", "modal 33024", "modal 33025",
                                             "top row follows the login"}))
      << "message boxes: " << boxes.Texts().size();
  for (const char* name :
       {"remote configuration", "video", "preview popup", "QR popup", "intercom", "focus", "boot recovery"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(opened.count(name)) << "never opened";
    EXPECT_TRUE(opened[name].window.isNull());
    EXPECT_EQ(*opened[name].destroyed, 1);
  }
  sim->Stop();
}

}  // namespace
}  // namespace kelvara::ui
