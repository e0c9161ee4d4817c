#pragma once
// The new-password dialog: a password and its repetition for the checked
// devices. OK refuses an empty password; comparing the two is the caller's.
#include "common/ui/cxdlg.h"
#include "dialogs/core/password_model.h"

namespace kelvara::dialogs {

class CDialogPwd : public ui::CXDlg {
  Q_OBJECT
 public:
  explicit CDialogPwd(QWidget* parent = nullptr);
  PasswordValues values;
  bool cancelled = true;
  void OnOk();
  // True when the last OK was refused (empty password).
  bool Refused() const { return refused_; }

 private:
  bool refused_ = false;
};

}  // namespace kelvara::dialogs
