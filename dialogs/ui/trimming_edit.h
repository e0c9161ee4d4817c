#pragma once
// The single-line edit of the configuration pages: the length limit is
// applied whenever the field gets the focus, and leading and trailing blanks
// are removed whenever it loses it. A limit set with SetLimitText is kept for
// later focus changes (it is not replaced by the default of 30).
//
// The limit bounds what the user types, as an edit's text limit does: text
// the program sets is taken whole, and focusing a field whose text is
// already longer than the limit cuts nothing (typing cannot lengthen it).
#include <QLineEdit>

namespace kelvara::dialogs {

class CEditExEx : public QLineEdit {
  Q_OBJECT
 public:
  explicit CEditExEx(QWidget* parent = nullptr);
  void SetLimitText(int limit);
  int Limit() const { return limit_; }

 protected:
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  void ApplyLimit();
  int limit_ = 30;
  bool focused_ = false;
};

}  // namespace kelvara::dialogs
