#include "dialogs/ui/dialog_default_user.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace kelvara::dialogs {
namespace {

enum : int { kOk = 1, kCancel = 2, kPassword = 1017, kLabelUser = 1083, kLabelPassword = 1084, kUser = 1085 };

}  // namespace

CDialogDefaultUser::CDialogDefaultUser(QWidget* parent) : CXDlg(1621, parent) {
  setWindowTitle(LangText("TEXT14"));
  auto* grid = new QGridLayout(this);
  auto* userLabel = new QLabel(LangText("IDS_STR_ZH_CN_USERNAME"), this);
  auto* passwordLabel = new QLabel(LangText("PASSWORD"), this);
  auto* user = new QLineEdit(this);
  auto* password = new QLineEdit(this);
  password->setEchoMode(QLineEdit::Password);
  RegisterControl(kLabelUser, userLabel);
  RegisterControl(kLabelPassword, passwordLabel);
  RegisterControl(kUser, user);
  RegisterControl(kPassword, password);
  grid->addWidget(userLabel, 0, 0);
  grid->addWidget(user, 0, 1);
  grid->addWidget(passwordLabel, 1, 0);
  grid->addWidget(password, 1, 1);
  auto* buttons = new QHBoxLayout;
  auto* ok = new QPushButton(LangText("OK"), this);
  auto* cancel = new QPushButton(LangText("CANCEL"), this);
  ok->setDefault(true);
  RegisterControl(kOk, ok);
  RegisterControl(kCancel, cancel);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  grid->addLayout(buttons, 2, 0, 1, 2);
  connect(ok, &QPushButton::clicked, this, &CDialogDefaultUser::OnOk);
  connect(cancel, &QPushButton::clicked, this, &CDialogDefaultUser::reject);
}

void CDialogDefaultUser::showEvent(QShowEvent* event) {
  LoadFields();
  CXDlg::showEvent(event);
}

void CDialogDefaultUser::LoadFields() {
  SetItemText(kUser, QString::fromStdString(values.userName));
  SetItemText(kPassword, QString::fromStdString(values.password));
}

void CDialogDefaultUser::OnOk() {
  values.userName = GetItemText(kUser).toStdString();
  values.password = GetItemText(kPassword).toStdString();
  cancelled = false;
  accept();
}

}  // namespace kelvara::dialogs
