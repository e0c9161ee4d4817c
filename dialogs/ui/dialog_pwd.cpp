#include "dialogs/ui/dialog_pwd.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "common/ui/user_prompts.h"

namespace kelvara::dialogs {
namespace {

enum : int { kOk = 1, kCancel = 2, kRepeat = 1010, kPassword = 1017, kLabelPassword = 1018, kLabelRepeat = 1019 };

}  // namespace

CDialogPwd::CDialogPwd(QWidget* parent) : CXDlg(132, parent) {
  setWindowTitle(LangText("TEXT14"));
  auto* grid = new QGridLayout(this);
  const struct {
    int label, edit;
    const char* key;
  } rows[] = {{kLabelPassword, kPassword, "PASSWORD"}, {kLabelRepeat, kRepeat, "TEXT15"}};
  int r = 0;
  for (const auto& row : rows) {
    auto* label = new QLabel(LangText(row.key), this);
    auto* edit = new QLineEdit(this);
    edit->setEchoMode(QLineEdit::Password);
    RegisterControl(row.label, label);
    RegisterControl(row.edit, edit);
    grid->addWidget(label, r, 0);
    grid->addWidget(edit, r++, 1);
  }
  auto* buttons = new QHBoxLayout;
  auto* ok = new QPushButton(LangText("IDS_STR_ZH_CN_ADSL_TIPS4"), this);
  auto* cancel = new QPushButton(LangText("CANCEL"), this);
  ok->setDefault(true);
  RegisterControl(kOk, ok);
  RegisterControl(kCancel, cancel);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  grid->addLayout(buttons, r, 0, 1, 2);
  connect(ok, &QPushButton::clicked, this, &CDialogPwd::OnOk);
  connect(cancel, &QPushButton::clicked, this, &CDialogPwd::reject);
}

void CDialogPwd::OnOk() {
  const std::string password = GetItemText(kPassword).toStdString();
  refused_ = !AcceptNewPassword(password);
  if (refused_) {
    ui::QtUserPrompts().MessageBox(this, LangText(kEmptyPasswordKey), QString(), ui::PromptIcon::kError, ui::PromptButtons::kOk);
    return;
  }
  values.password = password;
  values.repeat = GetItemText(kRepeat).toStdString();
  cancelled = false;
  accept();
}

}  // namespace kelvara::dialogs
