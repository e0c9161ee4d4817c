#include "common/ui/cxdlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>
#include <QApplication>
#include <gtest/gtest.h>

namespace kelvara::ui {
namespace {

struct CXDlgTest : ::testing::Test {
  CXDlg dlg{4714};
  QGroupBox* box = new QGroupBox(&dlg);
  QComboBox* combo = new QComboBox(&dlg);
  QCheckBox* check = new QCheckBox(&dlg);
  QLabel* label = new QLabel(&dlg);
  QLineEdit* edit = new QLineEdit(&dlg);
  void SetUp() override {
    dlg.RegisterControl(10, box);
    dlg.RegisterControl(20, combo);
    dlg.RegisterControl(30, check);
    dlg.RegisterControl(40, label);
    dlg.RegisterControl(41, edit);
  }
};

TEST_F(CXDlgTest, GroupBoxesAndRows) {
  dlg.BeginGroupBox(10, 5, 100);
  EXPECT_EQ(dlg.LayoutTop(), 125);
  EXPECT_EQ(dlg.EndGroupBox(10, 300), 135);
  EXPECT_EQ(box->geometry(), QRect(5, 100, 300, 35));
  EXPECT_EQ(dlg.EndGroupBox(99, 300), 0);  // missing box

  // A missing control still advances the next x by its width and the gap.
  dlg.SetLayoutTop(200);
  dlg.PlaceControl(999, 50, 10);
  EXPECT_EQ(dlg.NextX(), 70);
  dlg.PlaceControlPairAtMargin(40, 41, 25, 80, 120);
  EXPECT_EQ(label->geometry(), QRect(10, 200, 80, 20));
  EXPECT_EQ(edit->geometry(), QRect(100, 200, 120, 20));
  EXPECT_EQ(dlg.LayoutTop(), 225);

  // Nested boxes keep their own tops.
  dlg.BeginGroupBox(10, 0, 300);
  dlg.AdvanceLayoutTop(50);
  EXPECT_EQ(dlg.EndGroupBox(10, 100), 385);
  EXPECT_EQ(box->height(), 85);
}

TEST_F(CXDlgTest, LayoutRowsPlacesExtrasBesideTheControl) {
  auto* e1 = new QLabel(&dlg);
  auto* e2 = new QWidget(&dlg);
  dlg.RegisterControl(51, e1);
  dlg.RegisterControl(52, e2);
  CXDlg::LayoutRow rows[] = {{40, 41, {51, 52, 0, 0, 0}}, {0, 0, {}}};
  dlg.SetLayoutTop(10);
  dlg.LayoutRows2(rows, 2, 80, 100, 30, 40, 1, 0);
  EXPECT_EQ(dlg.LayoutTop(), 35);
  // Texts, edits and lists as high as the row's control; others 25.
  EXPECT_EQ(e1->geometry(), QRect(210 + 10, 10, 30, 20));
  EXPECT_EQ(e2->geometry(), QRect(210 + 30 + 20, 10, 40, 25));
  EXPECT_FALSE(e1->isEnabled());
  dlg.HideRows(rows, 2);
  EXPECT_TRUE(e1->isHidden() && label->isHidden());
}

TEST_F(CXDlgTest, ComboHelpers) {
  EXPECT_EQ(dlg.SelectComboByText(77, "x"), -1);
  EXPECT_EQ(dlg.GetComboSel(77), 0);
  EXPECT_EQ(dlg.SetComboSel(77, 0), -1);
  dlg.AddComboItem(20, "all", 0, false);
  dlg.AddComboItem(20, "one", 11, false);
  dlg.AddComboItem(20, "two", 22, true);
  EXPECT_EQ(dlg.GetComboSel(20), 2);
  EXPECT_EQ(dlg.GetComboSelData(20), 22);
  EXPECT_EQ(dlg.SelectComboByText(20, "nothing"), 0);
  EXPECT_EQ(dlg.GetComboSel(20), 2);
  EXPECT_EQ(dlg.SelectComboByText(20, "one"), 0);
  EXPECT_EQ(dlg.GetComboSel(20), 1);
  dlg.SelectComboByData(20, 22);
  EXPECT_EQ(dlg.GetComboSel(20), 2);

  dlg.DeleteComboString(20, "all");  // item 0 is never deleted
  EXPECT_EQ(dlg.GetComboCount(20), 3);
  dlg.DeleteComboString(20, "two");  // the selected one: item 0 selected
  EXPECT_EQ(dlg.GetComboCount(20), 2);
  EXPECT_EQ(dlg.GetComboSel(20), 0);
  dlg.DeleteSelectedComboItem(20);  // item 0 selected: nothing
  EXPECT_EQ(dlg.GetComboCount(20), 2);
  dlg.SetComboSel(20, 1);
  dlg.DeleteSelectedComboItem(20);
  EXPECT_EQ(dlg.GetComboCount(20), 1);
  EXPECT_EQ(dlg.GetComboSel(20), 0);
}

TEST_F(CXDlgTest, CheckAndTextHelpers) {
  dlg.SetCheck(30, 1);
  EXPECT_EQ(dlg.GetCheck(30), 1);
  dlg.SetCheck(30, -1);
  EXPECT_EQ(dlg.GetCheck(30), 0);
  EXPECT_EQ(dlg.GetCheck(31), 0);
  dlg.SetItemUInt(40, 4294967295u);
  EXPECT_EQ(dlg.GetItemText(40), "4294967295");
  dlg.SetItemTextA(41, nullptr);
  EXPECT_EQ(dlg.GetItemText(41), "");
  EXPECT_EQ(dlg.GetItemText(999), "");
  EXPECT_EQ(dlg.EnableControl(41, false), 0);
  EXPECT_EQ(dlg.EnableControl(41, true), 1);
  EXPECT_EQ(dlg.EnableControl(999, true), 0);
  EXPECT_EQ(dlg.SetButtonBkColor(nullptr), -1);
  EXPECT_EQ(dlg.SendMessageToParent(1, 0, 0), -1);
}

TEST_F(CXDlgTest, ScrollsWhenContentIsTaller) {
  dlg.resize(300, 200);
  label->setGeometry(10, 500, 50, 20);
  const int bar = dlg.style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  dlg.SetContentSize(300 - bar, 600);  // as wide as the room beside the bar
  EXPECT_EQ(dlg.ClientSize(), QSize(300 - bar, 200));
  dlg.ScrollTo(1000);  // clamped to content - height
  EXPECT_EQ(dlg.ScrollOffset(), 400);
  EXPECT_EQ(label->y(), 100);
  dlg.ScrollTo(0);
  EXPECT_EQ(label->y(), 500);
  dlg.SetContentSize(300, 100);
  EXPECT_EQ(dlg.ScrollOffset(), 0);
}

TEST_F(CXDlgTest, WheelOverAnUnfocusedListScrollsThePage) {
  dlg.resize(300, 200);
  dlg.show();
  combo->addItems({"a", "b", "c"});
  combo->setGeometry(10, 50, 80, 20);
  dlg.SetContentSize(200, 600);
  QWheelEvent down(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                   Qt::NoScrollPhase, false);
  QApplication::sendEvent(combo, &down);
  EXPECT_EQ(combo->currentIndex(), 0);
  EXPECT_EQ(dlg.ScrollOffset(), 25);
  // Focused, the list takes the wheel as usual.
  QApplication::setActiveWindow(&dlg);
  combo->setFocus();
  if (!combo->hasFocus()) GTEST_SKIP() << "the platform gives no focus";
  QApplication::sendEvent(combo, &down);
  EXPECT_EQ(combo->currentIndex(), 1);
  EXPECT_EQ(dlg.ScrollOffset(), 25);
}

TEST_F(CXDlgTest, ScrollsAcrossWhenContentIsWider) {
  dlg.resize(300, 200);
  dlg.show();  // resizes reach a shown window
  label->setGeometry(500, 10, 50, 20);
  const int bar = dlg.style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  auto bars = [&] {
    std::pair<bool, bool> shown{false, false};  // vertical, horizontal
    for (auto* b : dlg.findChildren<QScrollBar*>(Qt::FindDirectChildrenOnly)) {
      if (b->isHidden()) continue;
      (b->orientation() == Qt::Vertical ? shown.first : shown.second) = true;
    }
    return shown;
  };
  // Only wider: a horizontal bar, which takes its height from the client.
  dlg.SetContentSize(800, 150);
  EXPECT_EQ(bars(), std::make_pair(false, true));
  dlg.ScrollToX(10000);  // clamped to content - width
  EXPECT_EQ(dlg.HorizontalOffset(), 500);
  EXPECT_EQ(label->pos(), QPoint(0, 10));
  QWheelEvent back(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(120, 0), Qt::NoButton, Qt::NoModifier,
                   Qt::NoScrollPhase, false);
  QApplication::sendEvent(&dlg, &back);
  EXPECT_EQ(dlg.HorizontalOffset(), 475);
  // A content just lower than the window still needs a vertical bar once
  // the horizontal bar has taken its room, and each bar then leaves the
  // other's room out of its range.
  dlg.SetContentSize(800, 200 - bar + 1);
  EXPECT_EQ(bars(), std::make_pair(true, true));
  EXPECT_EQ(dlg.ClientSize(), QSize(300 - bar, 200 - bar));
  dlg.ScrollTo(1000);
  EXPECT_EQ(dlg.ScrollOffset(), 1);
  dlg.ScrollToX(10000);
  EXPECT_EQ(dlg.HorizontalOffset(), 500 + bar);
  // Room again: both bars go and the controls come back to their places.
  dlg.resize(900, 700);
  EXPECT_EQ(bars(), std::make_pair(false, false));
  EXPECT_EQ(label->pos(), QPoint(500, 10));
}

}  // namespace
}  // namespace kelvara::ui
