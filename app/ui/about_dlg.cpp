#include "app/ui/about_dlg.h"

#include <QLabel>
#include <QPushButton>

#include "common/language_table.h"

namespace kelvara::ui {

CAboutDlg::CAboutDlg(const QString& version, QWidget* parent) : CXDlg(100, parent) {
  auto* title = new QLabel(this);
  title->setGeometry(20, 20, 320, 20);
  RegisterControl(1081, title);
  auto* version_text = new QLabel(version, this);
  version_text->setGeometry(20, 45, 320, 20);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setGeometry(260, 75, 80, 26);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  resize(360, 115);
}

bool CAboutDlg::OnInitDialog() {
  setWindowTitle(QStringLiteral("About"));
  if (Control(1081) != nullptr) SetItemText(1081, QString::fromStdString(LanguageTable::Instance().GetTitle()));
  return true;
}

}  // namespace kelvara::ui
