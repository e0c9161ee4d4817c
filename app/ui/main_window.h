#pragma once
#include <QDialog>

namespace kelvara {

// The program's main window.
class MainWindow : public QDialog {
  Q_OBJECT
 public:
  explicit MainWindow(QWidget* parent = nullptr);
};

}  // namespace kelvara
