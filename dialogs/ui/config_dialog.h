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
class QScrollArea;
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
  // kClose: Enter ends the dialog like Escape, unconfirmed (a page whose
  // Enter goes to the platform's plain OK without a handler of its own).
  enum class EnterKey { kDefaultButton, kNothing, kClose };
  void SetKeys(EnterKey enter, bool swallowEscape) {
    enter_ = enter;
    swallowEscape_ = swallowEscape;
  }
  void keyPressEvent(QKeyEvent* event) override;
  void reject() override;


 public:
  // How a page with fixed positions scrolls when its window is smaller than
  // its content.
  struct PageScrolling {
    bool quarterLineStep = true;   // a line is a quarter of the client size (else kPageLineStep)
    bool quarterPageStep = false;  // a page is a quarter of the client size (else the client size)
    bool resetOnResize = false;    // a resize scrolls back to the top left
  };
  static constexpr int kPageLineStep = 25;  // one row of the layout helpers
  // Switches the dialog from the grid to fixed positions on a page inside a
  // scrolling area; call first. Controls added afterwards live on the page
  // and are placed with the CXDlg layout cursor (PlaceControl, LayoutRows2...).
  void UsePage(PageScrolling scrolling);
  // The page's size after laying out; the window scrolls when it is smaller.
  void SetPageSize(int width, int height);
  QWidget* Page() const { return page_; }
  QScrollArea* PageArea() const { return area_; }
  // A group box on the page (a frame with a caption, below the controls).
  QWidget* AddGroupBox(int id, const char* key);
  // Makes `control` a page control registered under `id` (no grid).
  template <class T>
  T* AddPageControl(int id, T* control) {
    RegisterControl(id, control);
    return control;
  }

 protected:
  // Row builders on the dialog's grid: row r, column c (on a page: the
  // controls are created there and placed by the caller).
  QGridLayout* Grid() { return grid_; }
  QWidget* Parent();
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
  // The window caption as it is; the dialog opens wide enough to show it.
  void SetTitleText(const QString& title);
  void showEvent(QShowEvent* event) override;

 private:
  void Place(QWidget* w, int row, int column, int rowSpan, int columnSpan);
  void UpdatePageSteps();
  ui::UserPrompts* prompts_ = nullptr;
  QGridLayout* grid_;
  QWidget* page_ = nullptr;
  QScrollArea* area_ = nullptr;
  PageScrolling scrolling_;
  EnterKey enter_ = EnterKey::kDefaultButton;
  bool swallowEscape_ = false;
  int titleWidth_ = 0;  // the width the caption needs in a window frame
};

}  // namespace kelvara::dialogs
