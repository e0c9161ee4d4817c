#pragma once
// The rows of a report list: texts, per-cell colours and images, the check
// state and the owner's data pointer of each row. Row order is display order
// (sorting rewrites it), so a row index means the same here and in the view.
//
// Every setter compares first and signals only real changes, one cell at a
// time, so a refresh that rewrites unchanged texts costs a compare per cell
// and repaints nothing. Inside a text batch (BeginTextBatch) text changes
// signal once, at its end.
#include <QAbstractTableModel>
#include <QIcon>
#include <QPointer>
#include <QString>
#include <QVector>
#include <unordered_map>
#include <vector>

#include "controls/core/report_table.h"

namespace kelvara::controls {

class ReportModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  struct Column {
    QString title;
    int width = 100;
    ColumnAlignment alignment = ColumnAlignment::kLeft;
  };

  explicit ReportModel(QObject* parent = nullptr);

  // QAbstractTableModel
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  int RowCount() const { return static_cast<int>(rows_.size()); }
  int ColumnCount() const { return columns_.size(); }
  bool ValidRow(int row) const { return row >= 0 && row < RowCount(); }
  bool ValidColumn(int column) const { return column >= 0 && column < ColumnCount(); }
  bool ValidCell(int row, int column) const { return ValidRow(row) && ValidColumn(column); }

  // Columns. Inserting gives every row default colours and an empty text in
  // the new column; removing shifts later cells one column left.
  void ResetColumns(const QVector<Column>& columns);  // also removes every row
  int InsertColumn(int index, const Column& column);  // clamped index, returns it
  bool RemoveColumn(int index);
  const Column& ColumnAt(int index) const { return columns_[index]; }
  bool SetColumnTitle(int index, const QString& title);

  // Rows. InsertRow clamps the index into 0..rows and returns it.
  int InsertRow(int index, const QString& first_text);
  bool RemoveRow(int row);
  int RemoveAllRows();  // returns the former count
  // Removes the rows (any order, duplicates ignored) in contiguous blocks.
  int RemoveRows(std::vector<int> rows);
  // Moves one row to `target` (both valid), keeping its whole record.
  bool MoveRow(int row, int target);
  bool SwapRows(int a, int b);
  // Reorders every row: new row i is old row order[i]. Persistent indexes
  // (the view's selection and current row, an open editor) follow their rows.
  void ApplyRowOrder(const std::vector<std::size_t>& order);

  // Cells. Setters return true when something changed.
  const QString& Text(int row, int column) const;  // empty outside the table
  bool SetText(int row, int column, const QString& text);
  // Texts set between BeginTextBatch and EndTextBatch (nested pairs count as
  // the outermost) change at once but signal once, at the end: one
  // dataChanged over the rectangle that holds every changed cell (over the
  // whole table when rows or columns came, went or moved meanwhile). A
  // refresh that rewrites a thousand cells then costs the view one update.
  void BeginTextBatch();
  void EndTextBatch();
  ColorRef TextColor(int row, int column) const;  // -1 outside the table
  ColorRef BackColor(int row, int column) const;
  // Colour setters take the range the colour addressing rules give.
  bool SetTextColor(const CellRange& cells, ColorRef color);
  bool SetBackColor(const CellRange& cells, ColorRef color);
  int Image(int row, int column) const;  // -1 when none or outside
  bool SetImage(int row, int column, int image);
  void SetImageList(const QVector<QIcon>& images);
  bool HasImageList() const { return !images_.isEmpty(); }

  bool Checked(int row) const { return ValidRow(row) && rows_[row].checked; }
  bool SetChecked(int row, bool checked);
  // Whether column 0 shows a check box.
  void SetCheckboxesShown(bool shown);
  bool CheckboxesShown() const { return checkboxes_shown_; }

  void* RowData(int row) const { return ValidRow(row) ? rows_[row].data : nullptr; }
  bool SetRowData(int row, void* data);
  // First row holding `data`, -1 when none. Constant time between changes of
  // the row order (an index is rebuilt on the first lookup after a sort,
  // insert or delete), so a refresh can look up every record.
  int FindRowData(const void* data) const;

  // The column's texts as views (valid until the next change of the model).
  std::vector<std::u16string_view> ColumnTexts(int column) const;

 signals:
  // A row's check state changed, by a click or by the program.
  void CheckChanged(int row, bool checked);

 private:
  struct Cell {
    QString text;
    ColorRef text_color = kSystemColor;
    ColorRef back_color = kSystemColor;
    int image = -1;
  };
  struct Row {
    std::vector<Cell> cells;
    void* data = nullptr;
    bool checked = false;
  };
  bool SetColor(const CellRange& cells, ColorRef color, bool text);

  QVector<Column> columns_;
  std::vector<Row> rows_;
  int text_batch_depth_ = 0;
  bool text_batch_changed_ = false;
  bool text_batch_whole_ = false;  // the table's shape changed during the batch
  int text_batch_top_ = 0, text_batch_bottom_ = 0, text_batch_left_ = 0, text_batch_right_ = 0;
  QVector<QIcon> images_;
  bool checkboxes_shown_ = false;
  // Data pointer -> first row holding it; valid until the row order changes.
  mutable std::unordered_map<const void*, int> data_rows_;
  mutable bool data_rows_valid_ = false;
  // No entry was dropped since the rebuild: a pointer missing is in no row.
  mutable bool data_rows_complete_ = false;
};

// A text batch for its lifetime (BeginTextBatch, EndTextBatch when it goes);
// nothing for a null model or one deleted meanwhile.
class ReportTextBatch {
 public:
  explicit ReportTextBatch(ReportModel* model) : model_(model) {
    if (model_) model_->BeginTextBatch();
  }
  ~ReportTextBatch() {
    if (model_) model_->EndTextBatch();
  }
  ReportTextBatch(const ReportTextBatch&) = delete;
  ReportTextBatch& operator=(const ReportTextBatch&) = delete;

 private:
  QPointer<ReportModel> model_;
};

}  // namespace kelvara::controls
