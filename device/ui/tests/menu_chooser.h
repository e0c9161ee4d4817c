#pragma once
// Chooses an entry of the popup menu that is about to open (QMenu::exec
// blocks), the way a user does: keys down to it, Right into a submenu,
// Return on the entry; Escape when the menu has no entry of that id.
#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QTimer>

namespace kelvara::device::test {

inline void ChooseWhenOpen(int id) {
  QTimer::singleShot(0, [id] {
    auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (popup == nullptr) return ChooseWhenOpen(id);
    for (QAction* a : popup->actions()) {
      if (a->menu() == nullptr && a->data().toInt() == id) {
        popup->setActiveAction(a);
        QTest::keyClick(popup, Qt::Key_Return);
        return;
      }
      if (a->menu() != nullptr) {
        for (QAction* inner : a->menu()->actions()) {
          if (inner->data().toInt() != id) continue;
          popup->setActiveAction(a);
          QTest::keyClick(popup, Qt::Key_Right);
          QTimer::singleShot(0, [sub = a->menu(), inner] {
            sub->setActiveAction(inner);
            QTest::keyClick(sub, Qt::Key_Return);
          });
          return;
        }
      }
    }
    QTest::keyClick(popup, Qt::Key_Escape);
  });
}

}  // namespace kelvara::device::test
