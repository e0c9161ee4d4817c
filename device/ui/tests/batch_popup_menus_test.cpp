// The button panel's popups on screen (offscreen): each shows exactly its
// menu's entries, and choosing any entry - in a submenu too - hands its
// command id to the window once the menu has closed; the language entries
// then run their batch job.
#include <QMenu>
#include <gtest/gtest.h>

#include <functional>

#include "device/core/command_codes.h"
#include "device/ui/batch_popup_menus.h"
#include "device/ui/batch_maintenance_host.h"
#include "device/ui/tests/batch_rows_fixture.h"
#include "device/ui/tests/menu_chooser.h"

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

class PopupMenusTest : public test::BatchRowsFixture {
 protected:
  void SetUp() override {
    BatchRowsFixture::SetUp();
    maintenance = std::make_unique<BatchMaintenanceHost>(*batch, BatchMaintenanceHost::Hooks{});
  }
  void TearDown() override {
    BatchRowsFixture::TearDown();
    maintenance.reset();
  }
  std::unique_ptr<BatchMaintenanceHost> maintenance;
  std::vector<int> run;
  std::vector<int> taken;  // the ids the batch hosts took
  BatchPopupMenus Popups() {
    BatchPopupMenus::Hooks h;
    h.owner = &window;
    h.lookup = Lookup;
    h.cursor = [] { return QPoint(40, 40); };
    h.runCommand = [this](int id) {
      run.push_back(id);
      if (batch->OnCommand(id)) taken.push_back(id);
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
      test::ChooseWhenOpen(id);
      ASSERT_TRUE(popups.OnButton(button));
      EXPECT_EQ(run, std::vector<int>{id}) << button << " entry " << id;
    }
  }
  EXPECT_FALSE(popups.OnButton(17));
  // Every entry but the window's time sync, the list's address commands and
  // the dialog commands (a layer above) is a batch command of these hosts.
  std::vector<int> expected;
  for (int button : BatchPopupMenus::kButtons)
    for (int id : PanelPopupCommands(*PanelPopupMenu(button, Lookup)))
      if (id != 8 && id != 32945 && id != 32902 && id != 17 && id != 33000 && id != 32974 && id != 32924 &&
          id != 33388 && id != 32911 && id != 32912)
        expected.push_back(id);
  EXPECT_EQ(taken, expected);
  // Nothing checked or selected: each showed the box and sent nothing.
  EXPECT_EQ(selectionBoxes, static_cast<int>(expected.size()));
  EXPECT_TRUE(sdk.calls.empty());
}

TEST_F(PopupMenusTest, ClosingThePopupRunsNothing) {
  BatchPopupMenus popups = Popups();
  test::ChooseWhenOpen(-1);  // not an entry: Escape
  ASSERT_TRUE(popups.OnButton(1035));
  EXPECT_TRUE(run.empty());
}

TEST_F(PopupMenusTest, LanguageEntryRunsItsJobOverTheCheckedRows) {
  BatchPopupMenus popups = Popups();
  Check({0, 2});
  test::ChooseWhenOpen(33341);  // KC English
  ASSERT_TRUE(popups.OnButton(15));
  ASSERT_EQ(sdk.calls.size(), 4u);
  EXPECT_EQ(sdk.calls[0].handle, 101);
  EXPECT_EQ(sdk.calls[0].code, SET_CFG_MISC_LANGUAGE);
  EXPECT_EQ(sdk.calls[1].code, SYS_CTRL_SET_WEB_LANGUAGE);
  EXPECT_EQ(sdk.calls[2].handle, 103);
}

}  // namespace
}  // namespace kelvara::device
