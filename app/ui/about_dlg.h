#pragma once
// The About box of the window menu.
#include "common/ui/cxdlg.h"

namespace kelvara::ui {

class CAboutDlg : public CXDlg {
  Q_OBJECT
 public:
  explicit CAboutDlg(const QString& version, QWidget* parent = nullptr);
  // Title "About"; control 1081 shows the language's title text.
  bool OnInitDialog();
};

}  // namespace kelvara::ui
