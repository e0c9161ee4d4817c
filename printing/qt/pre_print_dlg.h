#pragma once
// The QR label settings dialog: ten edits over the QR label layout of the
// label printer, saved to its file by the save button; the dialog stays open.
#include "common/ui/cxdlg.h"

namespace kelvara::ui {
class UserPrompts;
}

namespace kelvara::printing {

class QrLabelLayout;

class CPrePrintDlg : public ui::CXDlg {
  Q_OBJECT
 public:
  // `layout` is the live layout of the label printer; both outlive the dialog.
  CPrePrintDlg(QrLabelLayout& layout, ui::UserPrompts& prompts, QWidget* parent = nullptr);

  bool OnInitDialog();
  // Button 1297: every edit must hold a number the layout accepts; the first
  // that does not gets the message and the focus, and the layout keeps its
  // values. Returns true when the layout was stored and saved.
  bool OnSave();

 private:
  QrLabelLayout& layout_;
  ui::UserPrompts& prompts_;
};

}  // namespace kelvara::printing
