#include "common/ui/user_prompts.h"

#include <QFileDialog>
#include <QMessageBox>

namespace kelvara::ui {

int QtUserPrompts::MessageBox(QWidget* owner, const QString& text, const QString& caption, PromptIcon icon,
                              PromptButtons buttons) {
  QMessageBox::Icon qicon = QMessageBox::NoIcon;
  switch (icon) {
    case PromptIcon::kError: qicon = QMessageBox::Critical; break;
    case PromptIcon::kQuestion: qicon = QMessageBox::Question; break;
    case PromptIcon::kWarning: qicon = QMessageBox::Warning; break;
    case PromptIcon::kInformation: qicon = QMessageBox::Information; break;
    case PromptIcon::kNone: break;
  }
  QMessageBox::StandardButtons std_buttons = QMessageBox::Ok;
  if (buttons == PromptButtons::kYesNo) std_buttons = QMessageBox::Yes | QMessageBox::No;
  if (buttons == PromptButtons::kOkCancel) std_buttons = QMessageBox::Ok | QMessageBox::Cancel;
  QMessageBox box(qicon, caption, text, std_buttons, owner);
  switch (box.exec()) {
    case QMessageBox::Yes: return kAnswerYes;
    case QMessageBox::No: return kAnswerNo;
    case QMessageBox::Cancel: return kAnswerCancel;
    default: return kAnswerOk;
  }
}

QString QtUserPrompts::OpenFileName(QWidget* owner, const QString& caption, const QString& start_folder,
                                    const QString& filter) {
  return QFileDialog::getOpenFileName(owner, caption, start_folder, filter);
}

QString QtUserPrompts::SaveFileName(QWidget* owner, const QString& caption, const QString& start_path,
                                    const QString& filter) {
  return QFileDialog::getSaveFileName(owner, caption, start_path, filter);
}

QString QtUserPrompts::FolderName(QWidget* owner, const QString& caption, const QString& start_folder) {
  // The picker opens on the given folder (what the folder callback selects).
  return QFileDialog::getExistingDirectory(owner, caption, start_folder);
}

}  // namespace kelvara::ui
