#pragma once
// The application object: what the process prepares before the main window,
// running the main window, and what it releases afterwards.
#include <QString>
#include <memory>

#include "app/shell/shell_sdk.h"
#include "app/ui/main_dialog_seams.h"

namespace kelvara::printing {
class CLabelPrinter;
class CTipsConfig;
}  // namespace kelvara::printing

namespace kelvara::ui {

class CZqDevSearchToolApp {
 public:
  // Records the program folder, creates the per-user Data folder and loads
  // the tips layout and the label printer's layout from it.
  CZqDevSearchToolApp();
  ~CZqDevSearchToolApp();
  printing::CLabelPrinter& LabelPrinter() { return *label_printer_; }
  printing::CTipsConfig& TipsConfig() { return *tips_; }
  const QString& ProgramDir() const { return program_dir_; }
  const QString& DataDir() const { return data_dir_; }

  // Initialises the player, runs the main window until it closes, releases
  // the player again. Returns the process exit code (0).
  int InitInstance(shell::ShellSdk& sdk);

 private:
  QString program_dir_;
  QString data_dir_;
  std::unique_ptr<printing::CTipsConfig> tips_;
  std::unique_ptr<printing::CLabelPrinter> label_printer_;
};

}  // namespace kelvara::ui
