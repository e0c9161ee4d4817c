#include <QApplication>

#include "app/ui/main_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Kelvara");
  kelvara::MainWindow window;
  window.show();
  return app.exec();
}
