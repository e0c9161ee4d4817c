#pragma once
// For tests that run the whole program (CZqDevSearchToolApp::InitInstance) and
// act on its window from inside its event loop.
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <string>
#include <vector>

#include "app/ui/zq_dev_search_tool_dlg.h"

namespace kelvara::ui::test {

// The program's main window once it shows; null before.
inline CZqDevSearchToolDlg* MainWindow() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* dlg = qobject_cast<CZqDevSearchToolDlg*>(w); dlg != nullptr && dlg->isVisible()) return dlg;
  return nullptr;
}

// Answers every message box with OK as it opens, keeping its text.
class MessageBoxCloser {
 public:
  MessageBoxCloser() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) {
          texts_.push_back(box->text().toStdString());
          box->done(QMessageBox::Ok);
        }
    });
    timer_.start(50);
  }
  void Stop() { timer_.stop(); }
  const std::vector<std::string>& Texts() const { return texts_; }

 private:
  QTimer timer_;
  std::vector<std::string> texts_;
};

}  // namespace kelvara::ui::test
