#include "dialogs/ui/trimming_edit.h"

namespace kelvara::dialogs {

CEditExEx::CEditExEx(QWidget* parent) : QLineEdit(parent) {}

void CEditExEx::SetLimitText(int limit) {
  limit_ = limit;
  setMaxLength(limit);
}

void CEditExEx::focusInEvent(QFocusEvent* event) {
  setMaxLength(limit_);
  QLineEdit::focusInEvent(event);
}

void CEditExEx::focusOutEvent(QFocusEvent* event) {
  // Only trims: leaving a field never saves or sends anything.
  setText(text().trimmed());
  QLineEdit::focusOutEvent(event);
}

}  // namespace kelvara::dialogs
