#pragma once
// Offscreen checks of a dialog laid out at fixed positions: every shown
// control lies inside its parent, text controls are wide enough for their
// text, and no two shown controls overlap (group boxes frame others and are
// left out of the overlap test). A screenshot of the page is taken, so
// painting runs; with KELVARA_SCREENSHOTS set it is also written there.
#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QWidget>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/ui/cxdlg.h"

namespace kelvara::dialogs::test {

inline std::string ControlName(const QWidget* w) { return std::to_string(w->property("controlId").toInt()); }

// Problems found; empty when the layout is clean.
inline std::vector<std::string> LayoutProblems(ui::CXDlg& d, const char* screenshotName) {
  std::vector<std::string> problems;
  std::vector<QWidget*> shown;
  for (const auto& [id, w] : d.Controls()) {
    if (!w->isVisibleTo(&d)) continue;
    const QRect r = w->geometry();
    if (!w->parentWidget()->rect().contains(r))
      problems.push_back(ControlName(w) + " lies outside its page");
    int needed = 0;
    if (auto* l = qobject_cast<QLabel*>(w)) needed = l->text().isEmpty() ? 0 : l->sizeHint().width();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) needed = b->sizeHint().width();
    if (auto* e = qobject_cast<QLineEdit*>(w)) needed = e->fontMetrics().horizontalAdvance(e->text()) + 8;
    if (auto* c = qobject_cast<QComboBox*>(w)) needed = c->fontMetrics().horizontalAdvance(c->currentText()) + 20;
    if (auto* g = qobject_cast<QGroupBox*>(w)) needed = g->fontMetrics().horizontalAdvance(g->title()) + 20;
    if (needed > r.width())
      problems.push_back(ControlName(w) + " clips its text (" + std::to_string(needed) + " > " +
                         std::to_string(r.width()) + ")");
    if (qobject_cast<QGroupBox*>(w) == nullptr) shown.push_back(w);
  }
  for (std::size_t i = 0; i < shown.size(); ++i)
    for (std::size_t j = i + 1; j < shown.size(); ++j)
      if (shown[i]->parentWidget() == shown[j]->parentWidget() &&
          shown[i]->geometry().intersects(shown[j]->geometry()))
        problems.push_back(ControlName(shown[i]) + " overlaps " + ControlName(shown[j]));
  const QPixmap shot = d.grab();
  if (shot.isNull()) problems.push_back("no screenshot");
  if (const char* dir = std::getenv("KELVARA_SCREENSHOTS"))
    shot.save(QDir(QString::fromLocal8Bit(dir)).filePath(QString::fromUtf8(screenshotName) + ".png"));
  return problems;
}

}  // namespace kelvara::dialogs::test
