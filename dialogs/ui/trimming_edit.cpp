#include "dialogs/ui/trimming_edit.h"

#include <algorithm>

namespace kelvara::dialogs {
namespace {

// QLineEdit cuts any text, typed or set, to its maximum length; outside the
// focus there is no maximum, so the program's texts stay whole.
constexpr int kNoLimit = 32767;

}  // namespace

CEditExEx::CEditExEx(QWidget* parent) : QLineEdit(parent) {
  setMaxLength(kNoLimit);
  // A text longer than the limit may shrink while focused; the maximum follows
  // it down to the limit, so what was deleted cannot be typed back beyond it.
  connect(this, &QLineEdit::textChanged, this, [this] {
    if (focused_) ApplyLimit();
  });
}

void CEditExEx::ApplyLimit() {
  const int most = std::max(limit_, static_cast<int>(text().size()));
  if (maxLength() != most) setMaxLength(most);
}

void CEditExEx::SetLimitText(int limit) {
  limit_ = limit;
  if (focused_) ApplyLimit();
}

void CEditExEx::focusInEvent(QFocusEvent* event) {
  focused_ = true;
  ApplyLimit();
  QLineEdit::focusInEvent(event);
}

void CEditExEx::focusOutEvent(QFocusEvent* event) {
  // Only trims: leaving a field never saves or sends anything.
  setText(text().trimmed());
  focused_ = false;
  setMaxLength(kNoLimit);
  QLineEdit::focusOutEvent(event);
}

}  // namespace kelvara::dialogs
