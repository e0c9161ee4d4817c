#pragma once
// Shared base of the configuration dialogs: controls created by id in a grid
// of rows, messages through injectable prompts, and the keys.
//
// Keys: a dialog whose confirm button is OK (id 1) makes OK the one default
// button, so Enter runs OK's checks as the button would. A page with its own
// Save button has no default button at all: Enter does nothing (it never
// closes the page unsaved, and never saves behind the user's back). Escape
// and the close box reject: the not-confirmed flag stays set, nothing is
// sent or saved; a dialog may swallow Escape too.
#include <QString>

#include "common/ui/cxdlg.h"
#include "common/ui/user_prompts.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimeEdit;

namespace kelvara::dialogs {

inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

class ConfigDialog : public ui::CXDlg {
  Q_OBJECT
 public:
  ConfigDialog(int templateId, QWidget* parent);

  // Messages go here (tests put a recorder in); null restores the real boxes.
  void SetPrompts(ui::UserPrompts* prompts) { prompts_ = prompts; }
  ui::UserPrompts& Prompts();
  // The confirm button's handler (dialogs confirmed with OK).
  virtual void OnOk() {}
  // Shows a message with no caption.
  void ShowMessage(const QString& text, ui::PromptIcon icon = ui::PromptIcon::kNone);

 protected:
  enum class EnterKey { kDefaultButton, kNothing };
  void SetKeys(EnterKey enter, bool swallowEscape) {
    enter_ = enter;
    swallowEscape_ = swallowEscape;
  }
  void keyPressEvent(QKeyEvent* event) override;
  void reject() override;

  // Row builders on the dialog's grid: row r, column c.
  QGridLayout* Grid() { return grid_; }
  QLabel* AddLabel(int id, const char* key, int row, int column, int columnSpan = 1);
  QLineEdit* AddEdit(int id, int row, int column, int columnSpan = 1);
  QComboBox* AddCombo(int id, int row, int column, int columnSpan = 1);
  QCheckBox* AddCheck(int id, const char* key, int row, int column, int columnSpan = 1);
  QPushButton* AddButton(int id, const char* key, int row, int column, int columnSpan = 1);
  QTimeEdit* AddTime(int id, int row, int column, int columnSpan = 1);
  // OK (default) and Cancel on the given row; OK calls OnOk().
  void AddOkCancel(int row, int columnSpan, const char* okKey);
  // The window caption from a language key, when its text is not empty.
  void SetCaption(const char* key);

 private:
  ui::UserPrompts* prompts_ = nullptr;
  QGridLayout* grid_;
  EnterKey enter_ = EnterKey::kDefaultButton;
  bool swallowEscape_ = false;
};

}  // namespace kelvara::dialogs
