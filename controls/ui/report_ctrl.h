#pragma once
// CReportCtrl: the program's multi-column report list (device lists, the
// boot-recovery list, the audio lists). A table view over a ReportModel,
// with check boxes in four modes, per-cell colours, row-state masks, typed
// sorting by column and an in-place editor that shows a cell's text.
//
// Rows are addressed by index in display order. An index is only valid until
// rows are inserted, deleted or sorted: find a row again by its data pointer
// (FindItemData) rather than keeping an index across events. Everything a
// row holds (texts, colours, images, check, selection, focus, data pointer)
// moves with it when the list is sorted.
//
// See docs/controls.md for how the device lists use it.
#include <QDateTime>
#include <QSet>
#include <QTableView>
#include <optional>
#include <string>

#include "controls/core/report_table.h"
#include "controls/ui/report_model.h"

class QLineEdit;

namespace kelvara::controls {

class ReportDelegate;

// The mouse event that changed a check box, as ItemChecked reports it.
enum class ReportMouse : int {
  kLeftDown = 0x0201,
  kLeftDoubleClick = 0x0203,
  kRightDown = 0x0204,
  kRightDoubleClick = 0x0206,
  kMiddleDown = 0x0207,
  kMiddleDoubleClick = 0x0209,
};

// Check-box behaviour.
enum ReportCheckMode : int {
  kCheckNone = 0,    // no check boxes
  kCheckFree = 1,    // any number of rows checked
  kCheckSingle = 2,  // at most one row checked
  kCheckLocked = 3,  // shown, but clicks do not change them
};

class CReportCtrl : public QTableView {
  Q_OBJECT
 public:
  explicit CReportCtrl(QWidget* parent = nullptr);
  ~CReportCtrl() override;

  ReportModel* Model() const { return model_; }

  // ---- Columns
  // "title,width[,alignment];..." (width 100 and left when missing; alignment
  // 1 centre, 2 right). Removes every row and column first. True when any
  // column was added. Titles that may hold ',' or ';' (texts from language
  // files) belong in SetColumns.
  bool SetColumnSpec(const QString& spec);
  bool SetColumns(const QVector<ReportModel::Column>& columns);
  int InsertColumn(int index, const QString& title, ColumnAlignment alignment = ColumnAlignment::kLeft,
                   int width = 100);
  bool DeleteColumn(int column);
  int DeleteAllColumns();
  int GetColumnCount() const { return model_->ColumnCount(); }
  QString GetColumnHeaderText(int column) const;
  bool SetColumnHeaderText(int column, const QString& text);

  // ---- Options
  void SetGridLines(bool on) { setShowGrid(on); }
  // Mode 0-3 (ReportCheckMode). Mode 2 keeps only the topmost check.
  void SetCheckboxes(int mode);
  int GetCheckboxes() const { return check_mode_; }
  void SetEditable(bool on);
  bool IsEditable() const { return editable_; }
  // Marks a column whose cells a second click opens in the editor.
  void ResetColumnValue(int column) { editable_columns_.insert(column); }
  // Whether a header click sorts; owners turn it on once the columns exist.
  void SetHeaderClickSort(bool on) { header_click_sort_ = on; }
  bool HeaderClickSort() const { return header_click_sort_; }

  // ---- Rows
  int GetItemCount() const { return model_->RowCount(); }
  // Inserts at `index` (clamped to 0..rows) with the first column's text;
  // returns the new index, -1 when the list has no columns.
  int InsertItem(int index, const QString& text);
  // The same with the first cell's image and the row's data pointer.
  int InsertItem(int index, const QString& text, int image, void* data = nullptr);
  // Inserts with one text per column (extra texts are ignored).
  int InsertRow(int index, const QStringList& texts);
  // Deletes one row; with select_next the following row is selected first.
  bool DeleteItem(int row, bool select_next = false);
  // Deletes the rows matching a state mask (kStateAny: all); returns how many.
  int DeleteItems(int mask);
  int MoveItem(int row, int target);  // new index or -1
  int MoveItemUp(int row, int count = 1) { return MoveItem(row, row - count); }
  int MoveItemDown(int row, int count = 1) { return MoveItem(row, row + count); }
  int MoveItemToTop(int row) { return MoveItem(row, 0); }
  int MoveItemToBottom(int row) { return MoveItem(row, GetItemCount() - 1); }
  bool SwapItems(int a, int b);

  // ---- Cells
  // Unchanged texts cost one compare and repaint nothing; true when the cell
  // exists.
  bool SetItemText(int row, int column, const QString& text);
  QString GetItemText(int row, int column) const { return model_->Text(row, column); }
  bool SetItemInt(int row, int column, int value);
  bool SetItemUInt(int row, int column, unsigned value);
  bool SetItemChar(int row, int column, QChar value);
  // decimals >= 0: that many decimals; below 0: six.
  bool SetItemNumber(int row, int column, double value, int decimals = -1);
  // "yyyy-MM-dd HH:mm:ss", which the column sort reads as a date; an invalid
  // value gives an empty text.
  bool SetItemDate(int row, int column, const QDateTime& value);

  // The owner's pointer of a row (never freed by the control); null when
  // none or out of range.
  bool SetItemData(int row, void* data) { return model_->SetRowData(row, data); }
  void* GetItemData(int row) const { return model_->RowData(row); }
  int FindItemData(const void* data) const { return model_->FindRowData(data); }

  // Colours (0x00BBGGRR, -1 = system colour). A valid row and column set
  // one cell; an out-of-range column (e.g. -1) means the whole row, an
  // out-of-range row the whole column, both every cell. Only cells whose
  // colour really changes are repainted, so `redraw` needs no extra work.
  void SetCellTextColor(int row, int column, ColorRef color, bool redraw = true);
  void SetCellBkColor(int row, int column, ColorRef color, bool redraw = true);
  // -1 outside the list and for cells in the system colour.
  ColorRef GetCellTextColor(int row, int column) const { return model_->TextColor(row, column); }
  ColorRef GetCellBkColor(int row, int column) const { return model_->BackColor(row, column); }
  QRect GetCellRect(int row, int column) const;
  // Where row's check box is drawn (empty when none is shown).
  QRect GetCheckBoxRect(int row) const;

  void SetImageList(const QVector<QIcon>& images) { model_->SetImageList(images); }
  // A strip of 16-pixel-wide images; pixels of `mask_color` are transparent.
  void SetImageList(const QPixmap& strip, ColorRef mask_color);
  bool SetItemImage(int row, int column, int image) { return model_->SetImage(row, column, image); }
  int GetItemImage(int row, int column) const { return model_->Image(row, column); }

  // ---- States (ReportStateFlag)
  int GetItemStates(int row) const;  // 0 out of range
  bool ItemHasStates(int row, int mask) const;
  // Applies select, deselect, check, uncheck, focus, unfocus in that order.
  bool SetItemStates(int row, int flags);
  int CountItems(int mask) const;
  int SetStatesWhere(int mask, int flags);
  int FindNextItem(int mask, int after = -1) const;
  // Mode 0 inverts every row's selection, mode 1 every row's check.
  void InvertItems(int mode);
  bool GetCheck(int row) const { return model_->Checked(row); }
  bool SetCheck(int row, bool checked);
  int GetSelectedCount() const;
  int GetFirstSelectedItem() const;  // -1 when none
  void EnsureSingleCheck(int row);

  // ---- Sorting
  // Sorts by a column's texts (typed reading per pair), within the blocks
  // between separator rows; emits Sorted.
  void SortByColumn(int column, bool ascending);
  bool IsSortable() const;
  bool SetSortable(bool on);
  int GetSortColumn() const { return sort_column_; }
  bool IsSortAscending() const { return sort_ascending_; }
  void SetSeparatorText(const std::optional<QString>& text);
  std::optional<QString> GetSeparatorText() const;
  int FindSeparatorRow(int after, int column) const;

  // ---- In-place editor
  bool StartEdit(int row, int column);
  // 1 when committing and the editor's text differs from the cell; the cell
  // itself never changes.
  int EndEdit(bool commit);
  bool IsEditing() const;
  QLineEdit* GetEditControl() const;

  void FitToParent();

 signals:
  // A click changed a row's check box (modes 1 and 2); `mouse` is a
  // ReportMouse value.
  void ItemChecked(int row, int mouse);
  // After every SortByColumn.
  void Sorted(int column, bool ascending);
  // A row's check state changed, by a click or by the program.
  void CheckChanged(int row, bool checked);
  // The row and column under the mouse changed (-1, -1 when it left).
  void RowHovered(int row, int column);
  // A left click in the list, after its own handling; row -1 when it hit no row.
  void ListClicked(int row);

 protected:
  // A range of changed cells (a text batch of the model) repaints only the
  // part of it the viewport shows; the base class repaints the whole
  // viewport for any range wider than one cell.
  void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void HandleMouseClick(QMouseEvent* event, ReportMouse message, bool left_down);
  int OnCheckChanged(int row, bool old_checked, bool new_checked, ReportMouse message);
  void OnColumnClick(int column);
  void ResetSortState();
  // Keeps the sort state only while `row` still sits in order.
  void KeepSortIfInPlace(int row);
  bool IsSeparator(int row, int column) const;
  // Ends the edit when the edited cell moved or went away.
  void CheckEditPlace();
  bool IsRowSelected(int row) const;
  bool IsRowFocused(int row) const;
  void SelectOnly(int row);
  void ApplyColumnWidths();

  ReportModel* model_;
  ReportDelegate* delegate_;
  int check_mode_ = kCheckFree;
  bool editable_ = false;
  bool header_click_sort_ = false;
  QSet<int> editable_columns_;
  int sort_column_ = -1;
  bool sort_ascending_ = true;
  std::optional<std::u16string> separator_;
  int edit_row_ = -1, edit_column_ = -1;
  QPersistentModelIndex edit_index_;
  int hover_row_ = -1, hover_column_ = -1;
};

}  // namespace kelvara::controls
