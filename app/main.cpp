#include <QApplication>

#include "app/ui/linked_shell_sdk.h"
#include "app/ui/zq_dev_search_tool_app.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Kelvara");
  kelvara::ui::CZqDevSearchToolApp the_app;
  kelvara::ui::LinkedShellSdk sdk;
  return the_app.InitInstance(sdk);
}
