#pragma once
// The default login dialog: the user name and password used for devices
// that report no account.
#include "common/ui/cxdlg.h"
#include "dialogs/core/password_model.h"

namespace kelvara::dialogs {

class CDialogDefaultUser : public ui::CXDlg {
  Q_OBJECT
 public:
  explicit CDialogDefaultUser(QWidget* parent = nullptr);
  DefaultUserValues values;
  bool cancelled = true;
  // Puts `values` into the edits (done when the dialog shows).
  void LoadFields();
  void OnOk();

 protected:
  void showEvent(QShowEvent* event) override;
};

}  // namespace kelvara::dialogs
