#include <QApplication>

#include "app/ui/linked_shell_sdk.h"
#include "app/ui/zq_dev_search_tool_app.h"
#include "common/process_functions.h"

int main(int argc, char** argv) {
  // Every login holds descriptors of its own: a large list needs more than
  // the soft limit a desktop session starts programs with.
  kelvara::RaiseOpenFileLimit();
  QApplication app(argc, argv);
  QApplication::setApplicationName("Kelvara");
  kelvara::ui::CZqDevSearchToolApp the_app;
  kelvara::ui::LinkedShellSdk sdk;
  return the_app.InitInstance(sdk);
}
