// The row store without a view: change signals and row moves.
#include "controls/ui/report_model.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <algorithm>
#include <random>

namespace kelvara::controls {
namespace {

class ReportModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    model.ResetColumns({{"A", 50, ColumnAlignment::kLeft}, {"B", 50, ColumnAlignment::kRight},
                        {"C", 50, ColumnAlignment::kCenter}});
    for (int r = 0; r < 4; ++r) {
      model.InsertRow(r, QString("r%1").arg(r));
      model.SetText(r, 1, QString::number(r));
    }
  }
  ReportModel model;
};

TEST_F(ReportModelTest, SignalsOnlyRealChangesOfOneCell) {
  QSignalSpy spy(&model, &QAbstractItemModel::dataChanged);
  EXPECT_FALSE(model.SetText(2, 1, "2"));
  EXPECT_FALSE(model.SetTextColor({2, 2, 0, 2}, kSystemColor));
  EXPECT_EQ(spy.count(), 0);
  EXPECT_TRUE(model.SetText(2, 1, "x"));
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy[0][0].toModelIndex(), model.index(2, 1));
  EXPECT_EQ(spy[0][1].toModelIndex(), model.index(2, 1));
  spy.clear();
  // A row-wide colour where only columns 1..2 change: one signal over them.
  model.SetBackColor({1, 1, 0, 0}, MakeColorRef(1, 2, 3));
  spy.clear();
  model.SetBackColor({1, 1, 0, 2}, MakeColorRef(1, 2, 3));
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy[0][0].toModelIndex(), model.index(1, 1));
  EXPECT_EQ(spy[0][1].toModelIndex(), model.index(1, 2));
  EXPECT_EQ(model.data(model.index(1, 2), Qt::BackgroundRole).value<QColor>(), QColor(1, 2, 3));
  EXPECT_FALSE(model.data(model.index(0, 2), Qt::BackgroundRole).isValid()) << "system colour";
  EXPECT_FALSE(model.SetText(9, 0, "out of range"));
  EXPECT_EQ(model.Text(9, 0), QString());
}

// A text batch: texts change at once, the view hears of them once at the end
// of the outermost batch, over the cells that changed (the whole table when a
// row came or went meanwhile, since the changed cells may have moved).
TEST_F(ReportModelTest, TextBatchSignalsOnceOverTheChangedCells) {
  QSignalSpy spy(&model, &QAbstractItemModel::dataChanged);
  model.BeginTextBatch();
  EXPECT_TRUE(model.SetText(1, 2, "a"));
  model.BeginTextBatch();
  EXPECT_TRUE(model.SetText(3, 0, "b"));
  EXPECT_FALSE(model.SetText(2, 1, "2")) << "unchanged";
  model.EndTextBatch();
  EXPECT_EQ(model.Text(1, 2), "a");
  EXPECT_EQ(spy.count(), 0) << "the inner batch's end is not the end";
  model.EndTextBatch();
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy[0][0].toModelIndex(), model.index(1, 0));
  EXPECT_EQ(spy[0][1].toModelIndex(), model.index(3, 2));
  spy.clear();

  {
    const ReportTextBatch batch(&model);
    EXPECT_FALSE(model.SetText(1, 2, "a"));
  }
  EXPECT_EQ(spy.count(), 0) << "nothing changed";

  {
    const ReportTextBatch batch(&model);
    model.SetText(2, 2, "c");
    model.InsertRow(0, "new");
  }
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy[0][0].toModelIndex(), model.index(0, 0));
  EXPECT_EQ(spy[0][1].toModelIndex(), model.index(4, 2));
  EXPECT_EQ(model.Text(3, 2), "c");
  spy.clear();

  // After the batch, each change signals by itself again.
  model.SetText(0, 1, "x");
  EXPECT_EQ(spy.count(), 1);
  model.EndTextBatch();  // unbalanced: ignored
  model.SetText(0, 1, "y");
  EXPECT_EQ(spy.count(), 2);
}

TEST_F(ReportModelTest, ColumnsInsertedAndRemovedCarryColours) {
  model.SetTextColor({0, 3, 1, 1}, MakeColorRef(9, 9, 9));
  model.InsertColumn(0, {"New", 30, ColumnAlignment::kLeft});
  EXPECT_EQ(model.TextColor(2, 0), kSystemColor);
  EXPECT_EQ(model.TextColor(2, 2), MakeColorRef(9, 9, 9));
  EXPECT_EQ(model.Text(2, 1), "r2");
  model.RemoveColumn(0);
  model.RemoveColumn(0);  // column 0 goes: custom colours shift left
  EXPECT_EQ(model.TextColor(2, 0), MakeColorRef(9, 9, 9));
  EXPECT_EQ(model.Text(3, 0), "3");
}

TEST_F(ReportModelTest, RowOrderMovesEverythingAndPersistentIndexes) {
  int a = 0, b = 0;
  model.SetRowData(0, &a);
  model.SetRowData(3, &b);
  model.SetChecked(3, true);
  model.SetBackColor({3, 3, 0, 2}, MakeColorRef(5, 5, 5));
  QPersistentModelIndex p3(model.index(3, 2)), p0(model.index(0, 0));
  model.ApplyRowOrder({3, 2, 1, 0});
  EXPECT_EQ(model.Text(0, 0), "r3");
  EXPECT_EQ(model.RowData(0), &b);
  EXPECT_EQ(model.RowData(3), &a);
  EXPECT_TRUE(model.Checked(0));
  EXPECT_FALSE(model.Checked(3));
  EXPECT_EQ(model.BackColor(0, 1), MakeColorRef(5, 5, 5));
  EXPECT_EQ(p3.row(), 0);
  EXPECT_EQ(p3.column(), 2);
  EXPECT_EQ(p0.row(), 3);
  EXPECT_EQ(model.FindRowData(&a), 3);
  EXPECT_EQ(model.FindRowData(nullptr), 1);
  model.ApplyRowOrder({0, 1});  // wrong size: ignored
  EXPECT_EQ(model.Text(0, 0), "r3");
}

TEST_F(ReportModelTest, MoveSwapAndBulkRemove) {
  EXPECT_TRUE(model.MoveRow(0, 3));
  EXPECT_EQ(model.Text(3, 0), "r0");
  EXPECT_EQ(model.Text(0, 0), "r1");
  EXPECT_TRUE(model.MoveRow(3, 0));
  EXPECT_EQ(model.Text(0, 0), "r0");
  EXPECT_TRUE(model.SwapRows(0, 2));
  EXPECT_EQ(model.Text(0, 0), "r2");
  EXPECT_EQ(model.Text(2, 0), "r0");
  EXPECT_EQ(model.RemoveRows({3, 0, 1, 1, 7, -1}), 3);
  ASSERT_EQ(model.RowCount(), 1);
  EXPECT_EQ(model.Text(0, 0), "r0");
}

TEST_F(ReportModelTest, CheckStateShownOnlyWithCheckboxes) {
  QSignalSpy checks(&model, &ReportModel::CheckChanged);
  EXPECT_FALSE(model.data(model.index(0, 0), Qt::CheckStateRole).isValid());
  model.SetCheckboxesShown(true);
  model.SetChecked(1, true);
  model.SetChecked(1, true);  // no change, no signal
  EXPECT_EQ(checks.count(), 1);
  EXPECT_EQ(model.data(model.index(1, 0), Qt::CheckStateRole).toInt(), Qt::Checked);
  EXPECT_FALSE(model.data(model.index(1, 1), Qt::CheckStateRole).isValid());
  EXPECT_FALSE(model.flags(model.index(1, 0)) & Qt::ItemIsUserCheckable);
}

}  // namespace
}  // namespace kelvara::controls

namespace kelvara::controls {
namespace {

// The pointer index against a plain scan, through every kind of change.
TEST(ReportModelDataIndex, AgreesWithAScanThroughChanges) {
  ReportModel model;
  model.ResetColumns({{"A", 10, ColumnAlignment::kLeft}});
  int records[40] = {};
  std::mt19937 rng(5);
  auto scan = [&](const void* p) {
    for (int r = 0; r < model.RowCount(); ++r)
      if (model.RowData(r) == p) return r;
    return -1;
  };
  for (int step = 0; step < 3000; ++step) {
    const int n = model.RowCount();
    switch (rng() % 8) {
      case 0: model.InsertRow(n, QString::number(step)); break;  // append
      case 1: model.InsertRow(static_cast<int>(rng() % (n + 1)), "x"); break;
      case 2: if (n) model.RemoveRow(static_cast<int>(rng() % n)); break;
      case 3: if (n) model.MoveRow(static_cast<int>(rng() % n), static_cast<int>(rng() % n)); break;
      case 4: {
        std::vector<std::size_t> order(n);
        for (int i = 0; i < n; ++i) order[i] = i;
        std::shuffle(order.begin(), order.end(), rng);
        model.ApplyRowOrder(order);
        break;
      }
      default:  // duplicates and nulls included
        if (n) model.SetRowData(static_cast<int>(rng() % n), rng() % 5 ? &records[rng() % 40] : nullptr);
        break;
    }
    const void* probe = rng() % 10 ? &records[rng() % 40] : nullptr;
    ASSERT_EQ(model.FindRowData(probe), scan(probe)) << "step " << step;
  }
}

}  // namespace
}  // namespace kelvara::controls
