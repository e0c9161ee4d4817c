// The report list as its owners use it, under the offscreen platform.
#include "controls/ui/report_ctrl.h"

#include <gtest/gtest.h>

#include <QHeaderView>
#include <QLineEdit>
#include <QPaintEvent>
#include <QSignalSpy>
#include <QTest>
#include <random>

namespace kelvara::controls {
namespace {

class ReportCtrlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    list.resize(800, 400);
    ASSERT_TRUE(list.SetColumnSpec("IP,120;Port,60,2;Name,100;Serial,120"));
    list.SetCheckboxes(kCheckFree);
    list.SetHeaderClickSort(true);
    const char* ips[] = {"192.168.1.10", "192.168.1.9", "10.0.0.1", "192.168.1.100", "172.16.0.5"};
    const char* ports[] = {"8000", "80", "554", "9", "10"};
    const char* names[] = {"alpha", "Zeta", "beta", "Gamma", "delta"};
    for (int r = 0; r < 5; ++r) {
      list.InsertItem(r, ips[r]);
      list.SetItemText(r, 1, ports[r]);
      list.SetItemText(r, 2, names[r]);
      list.SetItemText(r, 3, QString("SN%1").arg(r));
      list.SetItemData(r, &records[r]);
    }
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
  }

  QPoint CellCenter(int row, int column) { return list.GetCellRect(row, column).center(); }
  void ClickCell(int row, int column) {
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, CellCenter(row, column));
  }
  QStringList Column(int column) {
    QStringList out;
    for (int r = 0; r < list.GetItemCount(); ++r) out << list.GetItemText(r, column);
    return out;
  }

  CReportCtrl list;
  int records[5] = {};
};

TEST_F(ReportCtrlTest, ColumnSpecAndStructuredTitles) {
  EXPECT_EQ(list.GetColumnCount(), 4);
  EXPECT_EQ(list.columnWidth(1), 60);
  EXPECT_EQ(list.Model()->ColumnAt(1).alignment, ColumnAlignment::kRight);
  EXPECT_EQ(list.GetItemCount(), 5);
  // A language text with separators would shift every later column in the
  // spec form; the structured form keeps it whole.
  ASSERT_TRUE(list.SetColumns({{"Status; last, seen", 80, ColumnAlignment::kLeft}, {"Port", 50, ColumnAlignment::kLeft}}));
  EXPECT_EQ(list.GetItemCount(), 0) << "columns reset removes the rows";
  EXPECT_EQ(list.GetColumnCount(), 2);
  EXPECT_EQ(list.GetColumnHeaderText(0), "Status; last, seen");
  EXPECT_FALSE(list.SetColumnSpec(";;"));
  EXPECT_EQ(list.InsertItem(0, "x"), -1) << "no columns, no rows";
}

TEST_F(ReportCtrlTest, DataPointersAndColourAddressing) {
  EXPECT_EQ(list.GetItemData(-1), nullptr);
  const int r = list.InsertItem(5, "new");
  EXPECT_EQ(list.GetItemData(r), nullptr);
  EXPECT_EQ(list.FindItemData(&records[3]), 3);

  const ColorRef red = MakeColorRef(255, 0, 0);
  list.SetCellBkColor(-1, 2, red);  // column 2 of every row
  for (int row = 0; row < list.GetItemCount(); ++row) {
    EXPECT_EQ(list.GetCellBkColor(row, 2), red);
    EXPECT_EQ(list.GetCellBkColor(row, 1), kSystemColor);
  }
  list.SetCellTextColor(4, 99, red);  // whole row 4
  for (int c = 0; c < 4; ++c) EXPECT_EQ(list.GetCellTextColor(4, c), red);
  EXPECT_EQ(list.GetCellTextColor(3, 0), kSystemColor);
  list.SetCellTextColor(4, -1, -1);  // back to the system colour
  EXPECT_EQ(list.GetCellTextColor(4, 2), kSystemColor);
  EXPECT_EQ(list.GetCellBkColor(-1, -1), -1);
  EXPECT_EQ(list.GetCellTextColor(2, 7), -1);
  EXPECT_TRUE(list.GetCellRect(-1, 0).isEmpty());
}

TEST_F(ReportCtrlTest, StateMasksCountAndDelete) {
  list.SetCheck(1, true);
  list.SetCheck(3, true);
  list.SetItemStates(3, kStateSelected | kStateFocused);
  EXPECT_EQ(list.CountItems(kStateAny), 5);
  EXPECT_EQ(list.CountItems(kStateChecked), 2);
  EXPECT_EQ(list.CountItems(kStateUnchecked), 3);
  EXPECT_EQ(list.CountItems(kStateSelected | kStateChecked), 1);
  EXPECT_EQ(list.CountItems(kStateFocused), 1);
  EXPECT_EQ(list.CountItems(0), 0);
  EXPECT_EQ(list.GetItemStates(3), kStateSelected | kStateChecked | kStateFocused);
  EXPECT_EQ(list.GetItemStates(9), 0);
  EXPECT_EQ(list.FindNextItem(kStateChecked, 1), 3);
  EXPECT_EQ(list.FindNextItem(kStateChecked, -5), 1);
  EXPECT_EQ(list.GetFirstSelectedItem(), 3);
  EXPECT_FALSE(list.SetItemStates(2, 0));

  EXPECT_EQ(list.DeleteItems(kStateChecked), 2);
  EXPECT_EQ(list.GetItemCount(), 3);
  EXPECT_EQ(list.FindItemData(&records[1]), -1);
  EXPECT_EQ(list.FindItemData(&records[4]), 2);
  list.InvertItems(1);
  EXPECT_EQ(list.CountItems(kStateChecked), 3);
  EXPECT_EQ(list.SetStatesWhere(kStateChecked, kStateUnchecked), 3);
  EXPECT_EQ(list.DeleteItems(kStateAny), 3);
}

TEST_F(ReportCtrlTest, SingleCheckModeKeepsTopmostAndLastClicked) {
  list.SetCheck(2, true);
  list.SetCheck(4, true);
  list.SetCheckboxes(kCheckSingle);
  EXPECT_TRUE(list.GetCheck(2));
  EXPECT_FALSE(list.GetCheck(4));
  QSignalSpy checked(&list, &CReportCtrl::ItemChecked);
  QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.GetCheckBoxRect(0).center());
  EXPECT_TRUE(list.GetCheck(0));
  EXPECT_EQ(list.CountItems(kStateChecked), 1);
  ASSERT_EQ(checked.count(), 1);
  list.SetCheck(3, true);
  EXPECT_EQ(list.CountItems(kStateChecked), 1);
  EXPECT_TRUE(list.GetCheck(3));
}

TEST_F(ReportCtrlTest, ClickOnCheckBoxByMode) {
  QSignalSpy checked(&list, &CReportCtrl::ItemChecked);
  QSignalSpy changed(&list, &CReportCtrl::CheckChanged);
  list.SetItemStates(0, kStateSelected);
  const QRect box = list.GetCheckBoxRect(2);
  ASSERT_FALSE(box.isEmpty());
  QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, box.center());
  EXPECT_TRUE(list.GetCheck(2));
  ASSERT_EQ(checked.count(), 1);
  EXPECT_EQ(checked[0][0].toInt(), 2);
  EXPECT_EQ(checked[0][1].toInt(), static_cast<int>(ReportMouse::kLeftDown));
  EXPECT_EQ(list.GetSelectedCount(), 1) << "the clicked row becomes the only selected row";
  EXPECT_TRUE(list.ItemHasStates(2, kStateSelected | kStateFocused));
  EXPECT_EQ(changed.count(), 1);

  // Locked: the state stays and nothing is sent.
  list.SetCheckboxes(kCheckLocked);
  checked.clear();
  QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.GetCheckBoxRect(2).center());
  QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.GetCheckBoxRect(3).center());
  EXPECT_TRUE(list.GetCheck(2));
  EXPECT_FALSE(list.GetCheck(3));
  EXPECT_EQ(checked.count(), 0);

  // The space bar never toggles.
  list.SetCheckboxes(kCheckFree);
  list.setFocus();
  QTest::keyClick(&list, Qt::Key_Space);
  EXPECT_TRUE(list.GetCheck(2));
  EXPECT_EQ(list.CountItems(kStateChecked), 1);

  // No check boxes shown: a click there only selects.
  list.SetCheckboxes(kCheckNone);
  EXPECT_TRUE(list.GetCheckBoxRect(1).isEmpty());
  ClickCell(1, 0);
  EXPECT_FALSE(list.GetCheck(1));
}

TEST_F(ReportCtrlTest, HeaderClicksSortTypedAndToggle) {
  QSignalSpy sorted(&list, &CReportCtrl::Sorted);
  auto click_header = [&](int column) {
    const QHeaderView* h = list.horizontalHeader();
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                      QPoint(h->sectionViewportPosition(column) + h->sectionSize(column) / 2, h->height() / 2));
  };
  click_header(1);
  EXPECT_EQ(Column(1), QStringList({"9", "10", "80", "554", "8000"}));
  click_header(1);
  EXPECT_EQ(Column(1), QStringList({"8000", "554", "80", "10", "9"}));
  EXPECT_FALSE(list.IsSortAscending());
  click_header(0);
  EXPECT_EQ(Column(0), QStringList({"10.0.0.1", "172.16.0.5", "192.168.1.9", "192.168.1.10", "192.168.1.100"}));
  click_header(2);
  EXPECT_EQ(Column(2), QStringList({"Gamma", "Zeta", "alpha", "beta", "delta"}));
  EXPECT_EQ(sorted.count(), 4);

  // A refresh that rewrites texts keeps the sort state unless the order of
  // the sorted column breaks; then the next click sorts ascending again.
  list.SetItemText(0, 1, "77");
  list.SetItemText(0, 2, "Gamma");
  list.SetItemText(2, 2, "alpha0");
  EXPECT_EQ(list.GetSortColumn(), 2);
  click_header(2);
  EXPECT_FALSE(list.IsSortAscending()) << "second click reverses despite the refresh";
  list.SetItemText(0, 2, "aaa");
  EXPECT_EQ(list.GetSortColumn(), -1);
  click_header(2);
  EXPECT_TRUE(list.IsSortAscending());

  list.SetHeaderClickSort(false);
  sorted.clear();
  click_header(1);
  EXPECT_EQ(sorted.count(), 0);
  list.SetSortable(false);
  list.SortByColumn(1, true);
  EXPECT_EQ(sorted.count(), 0);
  list.SetSortable(true);
  list.SortByColumn(7, true);
  EXPECT_EQ(sorted.count(), 0);
}

// After any sort every row's pointer, check, selection, focus and colours
// still belong to the same texts.
TEST(ReportCtrlSortIntegrity, EverythingMovesWithItsTexts) {
  CReportCtrl list;
  list.SetColumnSpec("Serial,80;Mixed,80;Ip,80;Date,80");
  constexpr int kRows = 300;
  std::vector<int> records(kRows);
  std::mt19937 rng(11);
  const QString mixed[] = {"10", "12.5", "F", "-3", "7%", "abc", "", "0x10", "123456789012345"};
  for (int r = 0; r < kRows; ++r) {
    list.InsertItem(r, QString("SN%1").arg(r, 4, 10, QChar('0')));
    list.SetItemText(r, 1, mixed[rng() % std::size(mixed)]);
    list.SetItemText(r, 2, QString("10.0.%1.%2").arg(rng() % 4).arg(rng() % 256));
    list.SetItemText(r, 3, QString("2026-0%1-1%2").arg(1 + rng() % 9).arg(rng() % 10));
    list.SetItemData(r, &records[r]);
    if (rng() % 3 == 0) list.SetCheck(r, true);
    if (rng() % 5 == 0) list.SetItemStates(r, kStateSelected);
    list.SetCellBkColor(r, static_cast<int>(rng() % 4), MakeColorRef(r % 256, 0, 0));
  }
  list.SetItemStates(17, kStateFocused);
  struct Expect { QString serial; bool checked, selected, focused; std::vector<ColorRef> bk; };
  std::map<void*, Expect> before;
  for (int r = 0; r < kRows; ++r) {
    std::vector<ColorRef> bk;
    for (int c = 0; c < 4; ++c) bk.push_back(list.GetCellBkColor(r, c));
    before[list.GetItemData(r)] = {list.GetItemText(r, 0), list.GetCheck(r),
                                   list.ItemHasStates(r, kStateSelected), list.ItemHasStates(r, kStateFocused), bk};
  }
  for (int column = 0; column < 4; ++column) {
    for (bool asc : {true, false}) {
      list.SortByColumn(column, asc);
      for (int r = 0; r < kRows; ++r) {
        const Expect& e = before.at(list.GetItemData(r));
        ASSERT_EQ(list.GetItemText(r, 0), e.serial);
        ASSERT_EQ(list.GetCheck(r), e.checked);
        ASSERT_EQ(list.ItemHasStates(r, kStateSelected), e.selected);
        ASSERT_EQ(list.ItemHasStates(r, kStateFocused), e.focused);
        for (int c = 0; c < 4; ++c) ASSERT_EQ(list.GetCellBkColor(r, c), e.bk[c]);
      }
    }
  }
}

TEST_F(ReportCtrlTest, SeparatorBlocksAndOneRowSorts) {
  list.SetSeparatorText(QString("--"));
  list.SetItemText(2, 1, "--");
  list.SortByColumn(1, true);
  EXPECT_EQ(Column(1), QStringList({"80", "8000", "--", "9", "10"}));
  EXPECT_EQ(list.FindSeparatorRow(-1, 1), 2);
  EXPECT_EQ(list.FindSeparatorRow(2, 1), -1);
  list.SetSeparatorText(std::nullopt);
  EXPECT_EQ(list.FindSeparatorRow(-1, 1), -1);

  CReportCtrl one;
  one.SetColumnSpec("A");
  one.InsertItem(0, "x");
  QSignalSpy sorted(&one, &CReportCtrl::Sorted);
  one.SortByColumn(0, true);
  EXPECT_EQ(sorted.count(), 1);
}

TEST_F(ReportCtrlTest, EditorOpensOnSecondClickAndKeepsText) {
  list.SetEditable(true);
  list.ResetColumnValue(3);
  ClickCell(1, 3);  // first click selects
  EXPECT_FALSE(list.IsEditing());
  ClickCell(1, 2);  // selected row, but column 2 is not editable
  EXPECT_FALSE(list.IsEditing());
  ClickCell(1, 3);
  ASSERT_TRUE(list.IsEditing());
  QLineEdit* edit = list.GetEditControl();
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(edit->text(), "SN1");

  // The 200 ms refresh rewriting other cells leaves the editor open.
  list.SetItemText(1, 2, "renamed");
  list.SetItemText(4, 3, "SN4");
  list.SetItemText(1, 3, "SN1");  // the edited cell, unchanged
  list.SortByColumn(3, true);  // row 1 stays row 1
  EXPECT_TRUE(list.IsEditing());

  edit->setText("typed");
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_FALSE(list.IsEditing());
  EXPECT_EQ(list.GetItemText(1, 3), "SN1") << "typed changes are dropped";

  // Tab moves to the next column; Down to the next row; Esc cancels.
  ASSERT_TRUE(list.StartEdit(1, 3));
  QTest::keyClick(list.GetEditControl(), Qt::Key_Tab);
  ASSERT_TRUE(list.IsEditing());
  EXPECT_EQ(list.GetEditControl()->text(), list.GetItemText(1, 0)) << "after the last column comes column 0";
  QTest::keyClick(list.GetEditControl(), Qt::Key_Down);
  EXPECT_EQ(list.GetEditControl()->text(), list.GetItemText(2, 0));
  list.GetEditControl()->setText("changed");
  EXPECT_EQ(list.EndEdit(true), 1);
  ASSERT_TRUE(list.StartEdit(2, 0));
  EXPECT_EQ(list.EndEdit(true), 0);
  EXPECT_EQ(list.EndEdit(true), 0) << "nothing to end";

  // A change of the edited cell, or a move of its row, ends the edit.
  ASSERT_TRUE(list.StartEdit(2, 2));
  list.SetItemText(2, 2, "other");
  EXPECT_FALSE(list.IsEditing());
  ASSERT_TRUE(list.StartEdit(0, 2));
  list.InsertItem(0, "above");
  EXPECT_FALSE(list.IsEditing());
  ASSERT_TRUE(list.StartEdit(3, 2));
  list.DeleteItem(3);
  EXPECT_FALSE(list.IsEditing());
  EXPECT_FALSE(list.StartEdit(99, 0));
  list.SetEditable(false);
  EXPECT_FALSE(list.StartEdit(1, 1));
}

// Records the regions the viewport is asked to paint.
class PaintRegions : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) painted += static_cast<QPaintEvent*>(event)->region();
    return false;
  }
  QRegion painted;
};

// A text batch's change repaints the changed cells in view, and only the
// part of the changed range the viewport shows (not the whole viewport, as
// Qt's views do for a range).
TEST(ReportCtrlTextBatch, RepaintsTheChangedCellsInView) {
  CReportCtrl list;
  list.resize(400, 200);
  ASSERT_TRUE(list.SetColumnSpec("A,100;B,100;C,100"));
  for (int r = 0; r < 200; ++r) {
    list.InsertItem(r, QString("a%1").arg(r));
    list.SetItemText(r, 1, QString("b%1").arg(r));
  }
  list.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
  QCoreApplication::processEvents();
  PaintRegions regions;
  list.viewport()->installEventFilter(&regions);
  {
    const ReportTextBatch batch(list.Model());
    for (int r = 0; r < 200; ++r) list.SetItemText(r, 1, QString("changed %1").arg(r));
  }
  ASSERT_TRUE(QTest::qWaitFor([&] { return !regions.painted.isEmpty(); }, 5000));
  QCoreApplication::processEvents();
  const QRect firstCell = list.visualRect(list.Model()->index(0, 1));
  EXPECT_TRUE(regions.painted.contains(firstCell)) << "a changed cell in view is repainted";
  EXPECT_FALSE(regions.painted.contains(list.visualRect(list.Model()->index(0, 0)).center()))
      << "an unchanged column is not";
  EXPECT_EQ(list.GetItemText(150, 1), "changed 150");

  // Changes below the viewport only: nothing to paint.
  regions.painted = QRegion();
  {
    const ReportTextBatch batch(list.Model());
    list.SetItemText(190, 2, "far below");
  }
  QTest::qWait(50);
  EXPECT_TRUE(regions.painted.isEmpty());
}

TEST_F(ReportCtrlTest, HoverReportsRowAndColumn) {
  QSignalSpy hovered(&list, &CReportCtrl::RowHovered);
  QTest::mouseMove(list.viewport(), CellCenter(3, 2));
  ASSERT_GE(hovered.count(), 1);
  EXPECT_EQ(hovered.last()[0].toInt(), 3);
  EXPECT_EQ(hovered.last()[1].toInt(), 2);
}

TEST_F(ReportCtrlTest, MoveSwapAndTypedSetters) {
  EXPECT_EQ(list.MoveItem(0, 99), 4);
  EXPECT_EQ(list.GetItemData(4), &records[0]);
  EXPECT_EQ(list.MoveItemToTop(4), 0);
  EXPECT_EQ(list.GetItemData(0), &records[0]);
  EXPECT_TRUE(list.SwapItems(0, 1));
  EXPECT_EQ(list.GetItemData(1), &records[0]);
  EXPECT_FALSE(list.SwapItems(0, 9));
  EXPECT_EQ(list.MoveItem(9, 0), -1);
  list.SetItemNumber(0, 1, 2.5, 2);
  EXPECT_EQ(list.GetItemText(0, 1), "2.50");
  list.SetItemNumber(0, 1, 2.5);
  EXPECT_EQ(list.GetItemText(0, 1), "2.500000");
  list.SetItemDate(0, 1, QDateTime());
  EXPECT_EQ(list.GetItemText(0, 1), "");
  list.SetItemDate(0, 1, QDateTime(QDate(2026, 12, 10), QTime(13, 4, 5)));
  EXPECT_EQ(list.GetItemText(0, 1), "2026-12-10 13:04:05");
  list.SetItemUInt(0, 1, 4000000000u);
  EXPECT_EQ(list.GetItemText(0, 1), "4000000000");
  EXPECT_EQ(list.InsertRow(1, {"a", "b", "c", "d", "extra"}), 1);
  int extra = 0;
  EXPECT_EQ(list.InsertItem(99, "end", 0, &extra), 6);
  EXPECT_EQ(list.GetItemData(6), &extra);
  EXPECT_EQ(list.GetItemImage(6, 0), 0);
  EXPECT_EQ(list.GetItemText(1, 3), "d");
}

}  // namespace
}  // namespace kelvara::controls

namespace kelvara::controls {
namespace {

TEST(ReportCtrlImages, StripSplitsAndEditorSitsRightOfTheImage) {
  CReportCtrl list;
  list.resize(400, 200);
  list.SetColumnSpec("A,100;B,150");
  list.InsertItem(0, "a");
  list.SetItemText(0, 1, "text");
  QPixmap strip(32, 16);
  strip.fill(Qt::blue);
  list.SetImageList(strip, MakeColorRef(255, 0, 255));
  EXPECT_TRUE(list.SetItemImage(0, 1, 1));
  EXPECT_EQ(list.GetItemImage(0, 1), 1);
  EXPECT_EQ(list.GetItemImage(0, 0), -1);
  EXPECT_EQ(list.GetItemImage(5, 0), -1);
  list.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
  list.SetEditable(true);
  ASSERT_TRUE(list.StartEdit(0, 1));
  EXPECT_GE(list.GetEditControl()->geometry().left(), list.GetCellRect(0, 1).left() + 16);
}

}  // namespace
}  // namespace kelvara::controls
