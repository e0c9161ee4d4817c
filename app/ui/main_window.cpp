#include "app/ui/main_window.h"

#include "app/core/version.h"

namespace kelvara {

MainWindow::MainWindow(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromLatin1(kVersionText));
  resize(1024, 700);
}

}  // namespace kelvara
