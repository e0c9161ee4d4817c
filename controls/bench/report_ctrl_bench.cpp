// The device list's load: a 200 ms refresh over 5,000 rows that rewrites
// every cell's text and every row's colour with 1% of them changed, and a
// header sort of 10,000 rows per column type, on a shown (offscreen) list.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdlib>
#include <random>

#include "controls/ui/report_ctrl.h"
#include "kelvara_test/bench.h"

namespace kelvara::controls {
namespace {

constexpr int kColumns = 20;  // the device list's column count

struct Table {
  std::vector<QStringList> texts;   // per row, per column
  std::vector<ColorRef> colors;     // per row
};

Table MakeTable(int rows, std::mt19937& rng) {
  Table t;
  for (int r = 0; r < rows; ++r) {
    QStringList row;
    row << QString("192.168.%1.%2").arg(r / 250).arg(r % 250) << QString::number(80 + rng() % 9000)
        << QString("IPC-%1").arg(rng() % 1000);
    for (int c = 3; c < kColumns; ++c) row << QString("cell %1-%2").arg(r).arg(c);
    t.texts.push_back(row);
    t.colors.push_back(kSystemColor);
  }
  return t;
}

// A second version of the table with `percent` of cells and rows changed.
Table Change(Table t, int percent, std::mt19937& rng) {
  const int rows = static_cast<int>(t.texts.size());
  const int cells = rows * kColumns * percent / 100;
  for (int i = 0; i < cells; ++i) {
    auto& cell = t.texts[rng() % rows][static_cast<int>(rng() % kColumns)];
    cell += QLatin1Char('*');
  }
  for (int i = 0; i < rows * percent / 100; ++i) t.colors[rng() % rows] = MakeColorRef(255, 0, 0);
  return t;
}

void Fill(CReportCtrl& list, const Table& t) {
  for (int r = 0; r < static_cast<int>(t.texts.size()); ++r) {
    for (int c = 0; c < kColumns; ++c) list.SetItemText(r, c, t.texts[r][c]);
    list.SetCellTextColor(r, -1, t.colors[r], true);
  }
}

std::unique_ptr<CReportCtrl> MakeList(const Table& t) {
  auto list = std::make_unique<CReportCtrl>();
  QVector<ReportModel::Column> cols;
  for (int c = 0; c < kColumns; ++c) cols.push_back({QString("C%1").arg(c), 80, ColumnAlignment::kLeft});
  list->SetColumns(cols);
  list->SetCheckboxes(kCheckFree);
  for (int r = 0; r < static_cast<int>(t.texts.size()); ++r) list->InsertItem(r, QString());
  Fill(*list, t);
  list->resize(1600, 900);
  list->show();
  QApplication::processEvents();
  return list;
}

// state.range(0): percent of cells changed per pass (0 or 1).
void BM_Refresh5000(benchmark::State& state) {
  std::mt19937 rng(1);
  const Table a = MakeTable(5000, rng);
  const Table b = Change(a, static_cast<int>(state.range(0)), rng);
  auto list = MakeList(a);
  long long changed = 0;
  QObject::connect(list->Model(), &QAbstractItemModel::dataChanged, [&changed] { ++changed; });
  bool flip = false;
  for (auto _ : state) {
    Fill(*list, flip ? a : b);
    flip = !flip;
    state.PauseTiming();
    QApplication::processEvents();  // the repaint is the view's, not the refresh's
    state.ResumeTiming();
  }
  state.counters["dataChanged/pass"] =
      benchmark::Counter(static_cast<double>(changed) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_Refresh5000)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The refresh finds each device's row by its record: 5,000 lookups.
void BM_FindAllRecords5000(benchmark::State& state) {
  std::mt19937 rng(3);
  const Table t = MakeTable(5000, rng);
  auto list = MakeList(t);
  std::vector<int> records(5000);
  for (int r = 0; r < 5000; ++r) list->SetItemData(r, &records[r]);
  list->SortByColumn(1, true);  // rows no longer in record order
  for (auto _ : state) {
    long long sum = 0;
    for (const int& rec : records) sum += list->FindItemData(&rec);
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_FindAllRecords5000)->Unit(benchmark::kMicrosecond);

// state.range(0): column sorted (0 IPv4, 1 port as hex digits, 2 text,
// 3 number with %, 4 date), alternating direction as header clicks do.
void BM_Sort10000(benchmark::State& state) {
  std::mt19937 rng(2);
  Table t = MakeTable(10000, rng);
  for (auto& row : t.texts) {
    row[3] = QString("%1.%2%").arg(rng() % 100).arg(rng() % 10);
    row[4] = QString("2026-%1-%2 %3:%4:00").arg(1 + rng() % 12).arg(10 + rng() % 18).arg(rng() % 24).arg(10 + rng() % 50);
    row[kColumns - 1] = QString("k%1").arg(rng());  // a shuffle key
  }
  auto list = MakeList(t);
  list->SetHeaderClickSort(true);
  const int column = static_cast<int>(state.range(0));
  bool ascending = true;
  for (auto _ : state) {
    state.PauseTiming();
    list->SortByColumn(kColumns - 1, true);  // start each sort from a random order
    state.ResumeTiming();
    list->SortByColumn(column, ascending);
    ascending = !ascending;
  }
  const char* names[] = {"ipv4", "hex digits", "text", "number", "date"};
  state.SetLabel(names[column]);
  state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_Sort10000)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelvara::controls

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  return kelvara::bench::RunBenchmarks(argc, argv);
}
