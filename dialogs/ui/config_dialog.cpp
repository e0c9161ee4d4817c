#include "dialogs/ui/config_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimeEdit>

namespace kelvara::dialogs {

ConfigDialog::ConfigDialog(int templateId, QWidget* parent) : CXDlg(templateId, parent), grid_(new QGridLayout(this)) {}

ui::UserPrompts& ConfigDialog::Prompts() {
  static ui::QtUserPrompts real;
  return prompts_ != nullptr ? *prompts_ : real;
}

void ConfigDialog::ShowMessage(const QString& text, ui::PromptIcon icon) {
  Prompts().MessageBox(this, text, QString(), icon, ui::PromptButtons::kOk);
}

void ConfigDialog::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if ((key == Qt::Key_Return || key == Qt::Key_Enter) && enter_ == EnterKey::kNothing) {
    event->accept();
    return;
  }
  if (key == Qt::Key_Escape && swallowEscape_) {
    event->accept();
    return;
  }
  CXDlg::keyPressEvent(event);
}

void ConfigDialog::reject() { QDialog::reject(); }

QLabel* ConfigDialog::AddLabel(int id, const char* key, int row, int column, int span) {
  auto* w = new QLabel(key ? LangText(key) : QString(), this);
  if (id > 0) RegisterControl(id, w);
  grid_->addWidget(w, row, column, 1, span);
  return w;
}

QLineEdit* ConfigDialog::AddEdit(int id, int row, int column, int span) {
  auto* w = new QLineEdit(this);
  RegisterControl(id, w);
  grid_->addWidget(w, row, column, 1, span);
  return w;
}

QComboBox* ConfigDialog::AddCombo(int id, int row, int column, int span) {
  auto* w = new QComboBox(this);
  RegisterControl(id, w);
  grid_->addWidget(w, row, column, 1, span);
  return w;
}

QCheckBox* ConfigDialog::AddCheck(int id, const char* key, int row, int column, int span) {
  auto* w = new QCheckBox(key ? LangText(key) : QString(), this);
  RegisterControl(id, w);
  grid_->addWidget(w, row, column, 1, span);
  return w;
}

QPushButton* ConfigDialog::AddButton(int id, const char* key, int row, int column, int span) {
  auto* w = new QPushButton(key ? LangText(key) : QString(), this);
  // Only OK may be the default button; a page's Save never is.
  w->setAutoDefault(false);
  w->setDefault(false);
  RegisterControl(id, w);
  grid_->addWidget(w, row, column, 1, span);
  return w;
}

QTimeEdit* ConfigDialog::AddTime(int id, int row, int column, int span) {
  auto* w = new QTimeEdit(this);
  w->setDisplayFormat("HH:mm:ss");
  RegisterControl(id, w);
  grid_->addWidget(w, row, column, 1, span);
  return w;
}

void ConfigDialog::AddOkCancel(int row, int span, const char* okKey) {
  auto* box = new QHBoxLayout;
  auto* ok = new QPushButton(LangText(okKey), this);
  auto* cancel = new QPushButton(LangText("CANCEL"), this);
  cancel->setAutoDefault(false);
  ok->setDefault(true);
  RegisterControl(kIdOk, ok);
  RegisterControl(kIdCancel, cancel);
  box->addStretch();
  box->addWidget(ok);
  box->addWidget(cancel);
  grid_->addLayout(box, row, 0, 1, span);
  connect(ok, &QPushButton::clicked, this, [this] { OnOk(); });
  connect(cancel, &QPushButton::clicked, this, &ConfigDialog::reject);
}

void ConfigDialog::SetCaption(const char* key) {
  const QString text = LangText(key);
  if (!text.isEmpty()) setWindowTitle(text);
}

}  // namespace kelvara::dialogs
