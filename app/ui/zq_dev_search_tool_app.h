#pragma once
// The application object: what the process prepares before the main window,
// running the main window, and what it releases afterwards.
#include <QString>

#include "app/shell/shell_sdk.h"
#include "app/ui/main_dialog_seams.h"

namespace kelvara::ui {

class CZqDevSearchToolApp {
 public:
  // Records the program folder and creates the per-user Data folder (the
  // label layout and tips settings live there).
  CZqDevSearchToolApp();
  const QString& ProgramDir() const { return program_dir_; }
  const QString& DataDir() const { return data_dir_; }

  // Initialises the player, runs the main window until it closes, releases
  // the player again. Returns the process exit code (0).
  int InitInstance(shell::ShellSdk& sdk);

 private:
  QString program_dir_;
  QString data_dir_;
};

// The local IPv4 addresses with their adapters' names.
std::vector<NetCard> LocalNetCards();

}  // namespace kelvara::ui
