// The button panel's popups on screen (offscreen): each shows exactly its
// menu's entries, and choosing any entry - in a submenu too - hands its
// command id to the window once the menu has closed; the language entries
// then run their batch job.
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

#include "device/core/command_codes.h"
#include "device/ui/batch_popup_menus.h"
#include "device/ui/tests/batch_rows_fixture.h"

namespace kelvara::device {
namespace {

std::string Lookup(const char* key) { return std::string("<") + key + ">"; }

// The menu as "text=id" and "text[...]", as the core test describes it.
std::string Describe(const QMenu& menu) {
  std::string out;
  for (QAction* a : menu.actions()) {
    if (!out.empty()) out += " ";
    out += a->text().toStdString();
    if (a->menu() != nullptr)
      out += "[" + Describe(*a->menu()) + "]";
    else
      out += "=" + std::to_string(a->data().toInt());
  }
  return out;
}
std::string Describe(const std::vector<discovery::MenuEntry>& entries) {
  std::string out;
  for (const auto& e : entries) {
    if (!out.empty()) out += " ";
    out += e.text;
    out += e.kind == discovery::MenuEntry::Kind::kPopup ? "[" + Describe(e.children) + "]" : "=" + std::to_string(e.id);
  }
  return out;
}

// Picks the entry of `id` in the open popup the way a user does: keys down
// to it, Right into a submenu, Return on the entry. Escape when it is not there.
void ChooseWhenOpen(int id) {
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

class PopupMenusTest : public test::BatchRowsFixture {
 protected:
  std::vector<int> run;
  BatchPopupMenus Popups() {
    BatchPopupMenus::Hooks h;
    h.owner = &window;
    h.lookup = Lookup;
    h.cursor = [] { return QPoint(40, 40); };
    h.runCommand = [this](int id) {
      run.push_back(id);
      batch->OnCommand(id);
    };
    return BatchPopupMenus(h);
  }
};

TEST_F(PopupMenusTest, EveryEntryOfEveryPopupReachesItsCommand) {
  BatchPopupMenus popups = Popups();
  for (int button : BatchPopupMenus::kButtons) {
    const auto entries = PanelPopupMenu(button, Lookup);
    ASSERT_TRUE(entries);
    const auto menu = popups.BuildMenu(button);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(Describe(*menu), Describe(*entries)) << button;
    for (int id : PanelPopupCommands(*entries)) {
      run.clear();
      ChooseWhenOpen(id);
      ASSERT_TRUE(popups.OnButton(button));
      EXPECT_EQ(run, std::vector<int>{id}) << button << " entry " << id;
    }
  }
  EXPECT_FALSE(popups.OnButton(17));
}

TEST_F(PopupMenusTest, ClosingThePopupRunsNothing) {
  BatchPopupMenus popups = Popups();
  ChooseWhenOpen(-1);  // not an entry: Escape
  ASSERT_TRUE(popups.OnButton(1035));
  EXPECT_TRUE(run.empty());
}

TEST_F(PopupMenusTest, LanguageEntryRunsItsJobOverTheCheckedRows) {
  BatchPopupMenus popups = Popups();
  Check({0, 2});
  ChooseWhenOpen(33341);  // KC English
  ASSERT_TRUE(popups.OnButton(15));
  ASSERT_EQ(sdk.calls.size(), 4u);
  EXPECT_EQ(sdk.calls[0].handle, 101);
  EXPECT_EQ(sdk.calls[0].code, SET_CFG_MISC_LANGUAGE);
  EXPECT_EQ(sdk.calls[1].code, SYS_CTRL_SET_WEB_LANGUAGE);
  EXPECT_EQ(sdk.calls[2].handle, 103);
}

}  // namespace
}  // namespace kelvara::device
