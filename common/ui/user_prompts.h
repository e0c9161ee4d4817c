#pragma once
// Message boxes and file and folder pickers go through this interface, so tests
// answer them without a display and never block.
#include <QString>

class QWidget;

namespace kelvara::ui {

enum class PromptIcon { kNone = 0, kError = 16, kQuestion = 32, kWarning = 48, kInformation = 64 };
enum class PromptButtons { kOk, kYesNo, kOkCancel };
// The answers, with the numbers the callers compare against.
enum PromptAnswer : int { kAnswerOk = 1, kAnswerCancel = 2, kAnswerYes = 6, kAnswerNo = 7 };

class UserPrompts {
 public:
  virtual ~UserPrompts() = default;
  virtual int MessageBox(QWidget* owner, const QString& text, const QString& caption, PromptIcon icon,
                         PromptButtons buttons = PromptButtons::kOk) = 0;
  // Empty when the user cancels.
  virtual QString OpenFileName(QWidget* owner, const QString& caption, const QString& start_folder,
                               const QString& filter) = 0;
  virtual QString SaveFileName(QWidget* owner, const QString& caption, const QString& start_path,
                               const QString& filter) = 0;
  virtual QString FolderName(QWidget* owner, const QString& caption, const QString& start_folder) = 0;
};

// The real dialogs.
class QtUserPrompts final : public UserPrompts {
 public:
  int MessageBox(QWidget* owner, const QString& text, const QString& caption, PromptIcon icon,
                 PromptButtons buttons) override;
  QString OpenFileName(QWidget* owner, const QString& caption, const QString& start_folder,
                       const QString& filter) override;
  QString SaveFileName(QWidget* owner, const QString& caption, const QString& start_path,
                       const QString& filter) override;
  QString FolderName(QWidget* owner, const QString& caption, const QString& start_folder) override;
};

}  // namespace kelvara::ui
