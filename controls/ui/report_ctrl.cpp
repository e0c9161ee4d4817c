#include "controls/ui/report_ctrl.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QBitmap>

#include "controls/core/report_sort.h"
#include "controls/ui/report_delegate.h"

namespace kelvara::controls {
namespace {

std::u16string ToU16(const QString& s) {
  return std::u16string(reinterpret_cast<const char16_t*>(s.constData()), static_cast<std::size_t>(s.size()));
}

std::u16string_view View(const QString& s) {
  return {reinterpret_cast<const char16_t*>(s.constData()), static_cast<std::size_t>(s.size())};
}

}  // namespace

CReportCtrl::CReportCtrl(QWidget* parent)
    : QTableView(parent), model_(new ReportModel(this)), delegate_(new ReportDelegate(this)) {
  setModel(model_);
  setItemDelegate(delegate_);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setWordWrap(false);
  setShowGrid(false);
  setMouseTracking(true);
  verticalHeader()->hide();
  // Uniform row heights keep layout cost flat with thousands of rows.
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  horizontalHeader()->setSectionsClickable(true);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);

  connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &CReportCtrl::OnColumnClick);
  connect(model_, &ReportModel::CheckChanged, this, &CReportCtrl::CheckChanged);
  for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved,
                      &QAbstractItemModel::columnsInserted, &QAbstractItemModel::columnsRemoved}) {
    connect(model_, signal, this, &CReportCtrl::CheckEditPlace);
  }
  connect(model_, &QAbstractItemModel::rowsMoved, this, &CReportCtrl::CheckEditPlace);
  connect(model_, &QAbstractItemModel::layoutChanged, this, &CReportCtrl::CheckEditPlace);
  connect(model_, &QAbstractItemModel::modelReset, this, &CReportCtrl::CheckEditPlace);
}

CReportCtrl::~CReportCtrl() = default;

// ---------------------------------------------------------------- columns

bool CReportCtrl::SetColumnSpec(const QString& spec) {
  QVector<ReportModel::Column> columns;
  for (const ColumnSpec& c : ParseColumnSpec(spec.toStdString())) {
    columns.push_back({QString::fromStdString(c.title), c.width, c.alignment});
  }
  return SetColumns(columns);
}

bool CReportCtrl::SetColumns(const QVector<ReportModel::Column>& columns) {
  EndEdit(true);
  ResetSortState();
  model_->ResetColumns(columns);
  ApplyColumnWidths();
  return !columns.isEmpty();
}

void CReportCtrl::ApplyColumnWidths() {
  for (int c = 0; c < model_->ColumnCount(); ++c) setColumnWidth(c, model_->ColumnAt(c).width);
}

int CReportCtrl::InsertColumn(int index, const QString& title, ColumnAlignment alignment, int width) {
  const int at = model_->InsertColumn(index, {title, width, alignment});
  setColumnWidth(at, width);
  if (sort_column_ >= at) ++sort_column_;
  return at;
}

bool CReportCtrl::DeleteColumn(int column) {
  if (!model_->RemoveColumn(column)) return false;
  if (sort_column_ == column) {
    ResetSortState();
  } else if (sort_column_ > column) {
    --sort_column_;
  }
  return true;
}

int CReportCtrl::DeleteAllColumns() {
  const int n = model_->ColumnCount();
  SetColumns({});
  return n;
}

QString CReportCtrl::GetColumnHeaderText(int column) const {
  return model_->ValidColumn(column) ? model_->ColumnAt(column).title : QString();
}

bool CReportCtrl::SetColumnHeaderText(int column, const QString& text) {
  return model_->SetColumnTitle(column, text);
}

// ---------------------------------------------------------------- options

void CReportCtrl::SetCheckboxes(int mode) {
  EndEdit(true);
  check_mode_ = mode;
  model_->SetCheckboxesShown(mode != kCheckNone);
  if (mode != kCheckNone) EnsureSingleCheck(-1);
}

void CReportCtrl::SetEditable(bool on) {
  if (!on) EndEdit(true);
  editable_ = on;
}

// ---------------------------------------------------------------- rows

int CReportCtrl::InsertItem(int index, const QString& text) {
  if (model_->ColumnCount() == 0) return -1;
  const int row = model_->InsertRow(index, text);
  KeepSortIfInPlace(row);
  return row;
}

int CReportCtrl::InsertItem(int index, const QString& text, int image, void* data) {
  if (model_->ColumnCount() == 0) return -1;
  const int row = model_->InsertRow(index, text);
  model_->SetImage(row, 0, image);
  model_->SetRowData(row, data);
  KeepSortIfInPlace(row);
  return row;
}

int CReportCtrl::InsertRow(int index, const QStringList& texts) {
  if (model_->ColumnCount() == 0) return -1;
  const int row = model_->InsertRow(index, texts.value(0));
  for (int c = 1; c < texts.size() && c < model_->ColumnCount(); ++c) model_->SetText(row, c, texts[c]);
  KeepSortIfInPlace(row);
  return row;
}

bool CReportCtrl::DeleteItem(int row, bool select_next) {
  if (!model_->ValidRow(row)) return false;
  if (select_next && model_->ValidRow(row + 1)) SetItemStates(row + 1, kStateSelected);
  return model_->RemoveRow(row);
}

int CReportCtrl::DeleteItems(int mask) {
  if (mask == 0) return 0;
  setUpdatesEnabled(false);
  int deleted = 0;
  if (mask & kStateAny) {
    deleted = model_->RemoveAllRows();
  } else {
    std::vector<int> rows;
    for (int r = 0; r < model_->RowCount(); ++r) {
      if (ItemHasStates(r, mask)) rows.push_back(r);
    }
    deleted = model_->RemoveRows(std::move(rows));
  }
  setUpdatesEnabled(true);
  return deleted;
}

int CReportCtrl::MoveItem(int row, int target) {
  if (!model_->ValidRow(row)) return -1;
  target = std::clamp(target, 0, model_->RowCount() - 1);
  if (target == row) return row;
  ResetSortState();
  model_->MoveRow(row, target);
  return target;
}

bool CReportCtrl::SwapItems(int a, int b) {
  if (!model_->ValidRow(a) || !model_->ValidRow(b)) return false;
  ResetSortState();
  return model_->SwapRows(a, b);
}

// ---------------------------------------------------------------- cells

bool CReportCtrl::SetItemText(int row, int column, const QString& text) {
  if (!model_->SetText(row, column, text)) return model_->ValidCell(row, column);
  // Only a real change of the edited cell ends the edit; only a change that
  // breaks the order of the sorted column ends the sorted state.
  if (row == edit_row_ && column == edit_column_) EndEdit(true);
  if (column == sort_column_) KeepSortIfInPlace(row);
  return true;
}

bool CReportCtrl::SetItemInt(int row, int column, int value) {
  return SetItemText(row, column, QString::number(value));
}

bool CReportCtrl::SetItemUInt(int row, int column, unsigned value) {
  return SetItemText(row, column, QString::number(value));
}

bool CReportCtrl::SetItemChar(int row, int column, QChar value) {
  return SetItemText(row, column, QString(value));
}

bool CReportCtrl::SetItemNumber(int row, int column, double value, int decimals) {
  return SetItemText(row, column, QString::number(value, 'f', decimals >= 0 ? decimals : 6));
}

bool CReportCtrl::SetItemDate(int row, int column, const QDateTime& value) {
  return SetItemText(row, column, value.isValid() ? value.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString());
}

void CReportCtrl::SetCellTextColor(int row, int column, ColorRef color, bool) {
  model_->SetTextColor(ResolveColorTarget(row, column, model_->RowCount(), model_->ColumnCount()), color);
}

void CReportCtrl::SetCellBkColor(int row, int column, ColorRef color, bool) {
  model_->SetBackColor(ResolveColorTarget(row, column, model_->RowCount(), model_->ColumnCount()), color);
}

QRect CReportCtrl::GetCellRect(int row, int column) const {
  if (!model_->ValidCell(row, column)) return {};
  return visualRect(model_->index(row, column));
}

void CReportCtrl::SetImageList(const QPixmap& strip, ColorRef mask_color) {
  QVector<QIcon> images;
  const QColor mask(ColorRed(mask_color), ColorGreen(mask_color), ColorBlue(mask_color));
  for (int x = 0; x + 16 <= strip.width(); x += 16) {
    QPixmap image = strip.copy(x, 0, 16, strip.height());
    image.setMask(image.createMaskFromColor(mask, Qt::MaskInColor));
    images.push_back(QIcon(image));
  }
  model_->SetImageList(images);
}

QRect CReportCtrl::GetCheckBoxRect(int row) const {
  if (!model_->ValidCell(row, 0)) return {};
  const QModelIndex index = model_->index(row, 0);
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  option.rect = visualRect(index);
  return delegate_->CheckIndicatorRect(option, index);
}

// ---------------------------------------------------------------- states

bool CReportCtrl::IsRowSelected(int row) const {
  return selectionModel()->isRowSelected(row, {});
}

bool CReportCtrl::IsRowFocused(int row) const {
  return currentIndex().isValid() && currentIndex().row() == row;
}

int CReportCtrl::GetItemStates(int row) const {
  if (!model_->ValidRow(row)) return 0;
  return ComposeItemStates(IsRowSelected(row), model_->Checked(row), IsRowFocused(row));
}

bool CReportCtrl::ItemHasStates(int row, int mask) const {
  if (!model_->ValidRow(row)) return false;
  if (mask == 0 || (mask & kStateAny)) return mask != 0;
  // Ask the selection model only when the mask needs it.
  int flags = model_->Checked(row) ? kStateChecked : kStateUnchecked;
  if (mask & (kStateSelected | kStateUnselected)) flags |= IsRowSelected(row) ? kStateSelected : kStateUnselected;
  if (mask & (kStateFocused | kStateUnfocused)) flags |= IsRowFocused(row) ? kStateFocused : kStateUnfocused;
  return kelvara::controls::ItemHasStates(flags, mask);
}

bool CReportCtrl::SetItemStates(int row, int flags) {
  if (!model_->ValidRow(row) || flags == 0) return false;
  const QModelIndex index = model_->index(row, 0);
  if (flags & kStateSelected) selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
  if (flags & kStateUnselected) selectionModel()->select(index, QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
  bool ok = true;
  if (flags & kStateChecked) {
    ok = model_->SetChecked(row, true) && ok;
    EnsureSingleCheck(row);
  }
  if (flags & kStateUnchecked) ok = model_->SetChecked(row, false) && ok;
  if (flags & kStateFocused) {
    const int column = std::max(currentIndex().column(), 0);
    selectionModel()->setCurrentIndex(model_->index(row, column), QItemSelectionModel::NoUpdate);
  }
  if ((flags & kStateUnfocused) && IsRowFocused(row)) {
    selectionModel()->setCurrentIndex({}, QItemSelectionModel::NoUpdate);
  }
  return ok;
}

int CReportCtrl::CountItems(int mask) const {
  if (mask & kStateAny) return model_->RowCount();
  if (mask == 0) return 0;
  int n = 0;
  for (int r = 0; r < model_->RowCount(); ++r) n += ItemHasStates(r, mask) ? 1 : 0;
  return n;
}

int CReportCtrl::SetStatesWhere(int mask, int flags) {
  if (mask == 0 || flags == 0) return 0;
  std::vector<int> rows;
  for (int r = 0; r < model_->RowCount(); ++r) {
    if (ItemHasStates(r, mask)) rows.push_back(r);
  }
  for (int r : rows) {
    // The single-check rule runs once at the end, over the whole list.
    SetItemStates(r, flags & ~kStateChecked);
    if (flags & kStateChecked) model_->SetChecked(r, true);
  }
  if (flags & kStateChecked) EnsureSingleCheck(-1);
  return static_cast<int>(rows.size());
}

int CReportCtrl::FindNextItem(int mask, int after) const {
  for (int r = std::max(after + 1, 0); r < model_->RowCount(); ++r) {
    if (ItemHasStates(r, mask)) return r;
  }
  return -1;
}

void CReportCtrl::InvertItems(int mode) {
  const int n = model_->RowCount();
  if (n == 0) return;
  if (mode == 0) {
    selectionModel()->select(QItemSelection(model_->index(0, 0), model_->index(n - 1, 0)),
                             QItemSelectionModel::Toggle | QItemSelectionModel::Rows);
  } else if (mode == 1) {
    for (int r = 0; r < n; ++r) model_->SetChecked(r, !model_->Checked(r));
  }
}

bool CReportCtrl::SetCheck(int row, bool checked) {
  if (!model_->SetChecked(row, checked)) return false;
  if (checked) EnsureSingleCheck(row);
  return true;
}

int CReportCtrl::GetSelectedCount() const {
  return static_cast<int>(selectionModel()->selectedRows().size());
}

int CReportCtrl::GetFirstSelectedItem() const {
  int first = -1;
  for (const QModelIndex& i : selectionModel()->selectedRows()) {
    if (first < 0 || i.row() < first) first = i.row();
  }
  return first;
}

void CReportCtrl::EnsureSingleCheck(int row) {
  if (check_mode_ != kCheckSingle) return;
  int keep = row;
  if (keep < 0) {
    for (int r = 0; r < model_->RowCount() && keep < 0; ++r) {
      if (model_->Checked(r)) keep = r;
    }
  }
  for (int r = 0; r < model_->RowCount(); ++r) {
    if (r != keep && model_->Checked(r)) model_->SetChecked(r, false);
  }
}

void CReportCtrl::SelectOnly(int row) {
  const QModelIndex index = model_->index(row, std::max(currentIndex().column(), 0));
  selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

// ---------------------------------------------------------------- sorting

void CReportCtrl::OnColumnClick(int column) {
  if (!header_click_sort_) return;
  const bool ascending = column != sort_column_ ? true : !sort_ascending_;
  SortByColumn(column, ascending);
}

void CReportCtrl::SortByColumn(int column, bool ascending) {
  if (!model_->ValidColumn(column) || !IsSortable()) return;
  sort_column_ = column;
  sort_ascending_ = ascending;
  const auto order = SortColumnOrder(model_->ColumnTexts(column), ascending, separator_);
  bool moved = false;
  for (std::size_t i = 0; i < order.size() && !moved; ++i) moved = order[i] != i;
  if (moved) model_->ApplyRowOrder(order);
  emit Sorted(column, ascending);
}

bool CReportCtrl::IsSortable() const {
  return !horizontalHeader()->isHidden() && horizontalHeader()->sectionsClickable();
}

bool CReportCtrl::SetSortable(bool on) {
  horizontalHeader()->setSectionsClickable(on);
  if (!on) ResetSortState();
  horizontalHeader()->viewport()->update();
  return true;
}

void CReportCtrl::ResetSortState() {
  sort_column_ = -1;
  sort_ascending_ = true;
}

bool CReportCtrl::IsSeparator(int row, int column) const {
  return separator_ && View(model_->Text(row, column)) == *separator_;
}

void CReportCtrl::KeepSortIfInPlace(int row) {
  if (sort_column_ < 0) return;
  const int c = sort_column_;
  if (!model_->ValidCell(row, c) || IsSeparator(row, c)) {
    ResetSortState();
    return;
  }
  std::optional<std::u16string_view> before, after;
  if (model_->ValidRow(row - 1) && !IsSeparator(row - 1, c)) before = View(model_->Text(row - 1, c));
  if (model_->ValidRow(row + 1) && !IsSeparator(row + 1, c)) after = View(model_->Text(row + 1, c));
  if (!InSortedPlace(before, View(model_->Text(row, c)), after, sort_ascending_)) ResetSortState();
}

void CReportCtrl::SetSeparatorText(const std::optional<QString>& text) {
  separator_.reset();
  if (text) separator_ = ToU16(*text);
}

std::optional<QString> CReportCtrl::GetSeparatorText() const {
  if (!separator_) return std::nullopt;
  return QString(reinterpret_cast<const QChar*>(separator_->data()), static_cast<qsizetype>(separator_->size()));
}

int CReportCtrl::FindSeparatorRow(int after, int column) const {
  if (!separator_) return -1;
  for (int r = std::max(after + 1, 0); r < model_->RowCount(); ++r) {
    if (IsSeparator(r, column)) return r;
  }
  return -1;
}

// ---------------------------------------------------------------- editing

bool CReportCtrl::IsEditing() const {
  return editable_ && edit_index_.isValid() && model_->ValidCell(edit_row_, edit_column_);
}

QLineEdit* CReportCtrl::GetEditControl() const {
  return edit_index_.isValid() ? qobject_cast<QLineEdit*>(indexWidget(edit_index_)) : nullptr;
}

bool CReportCtrl::StartEdit(int row, int column) {
  if (!editable_ || !model_->ValidCell(row, column)) return false;
  if (IsEditing() && row == edit_row_ && column == edit_column_) return true;
  EndEdit(true);
  const QModelIndex index = model_->index(row, column);
  selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  edit_row_ = row;
  edit_column_ = column;
  edit_index_ = index;
  openPersistentEditor(index);
  QLineEdit* editor = GetEditControl();
  if (!editor) {
    edit_row_ = edit_column_ = -1;
    edit_index_ = QPersistentModelIndex();
    return false;
  }
  editor->installEventFilter(this);
  editor->selectAll();
  editor->setFocus();
  return true;
}

int CReportCtrl::EndEdit(bool commit) {
  if (!IsEditing()) {
    edit_row_ = edit_column_ = -1;
    edit_index_ = QPersistentModelIndex();
    return 0;
  }
  QLineEdit* editor = GetEditControl();
  const int result = commit && editor && editor->text() != model_->Text(edit_row_, edit_column_) ? 1 : 0;
  const QPersistentModelIndex index = edit_index_;
  edit_row_ = edit_column_ = -1;
  edit_index_ = QPersistentModelIndex();
  const bool had_focus = editor && editor->hasFocus();
  closePersistentEditor(index);
  if (had_focus) setFocus();
  return result;
}

void CReportCtrl::CheckEditPlace() {
  if (edit_row_ < 0) return;
  if (!edit_index_.isValid()) {
    edit_row_ = edit_column_ = -1;
    edit_index_ = QPersistentModelIndex();
    return;
  }
  if (edit_index_.row() != edit_row_ || edit_index_.column() != edit_column_) EndEdit(true);
}

bool CReportCtrl::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress || watched != GetEditControl()) {
    return QTableView::eventFilter(watched, event);
  }
  const int row = edit_row_, column = edit_column_;
  switch (static_cast<QKeyEvent*>(event)->key()) {
    case Qt::Key_Tab:
      EndEdit(true);
      StartEdit(row, column + 1 < model_->ColumnCount() ? column + 1 : 0);
      return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      EndEdit(true);
      return true;
    case Qt::Key_Escape:
      EndEdit(false);
      return true;
    case Qt::Key_Up:
      if (row <= 0) break;
      EndEdit(true);
      StartEdit(row - 1, column);
      scrollTo(model_->index(row - 1, column), QAbstractItemView::EnsureVisible);
      return true;
    case Qt::Key_Down:
      if (row + 1 >= model_->RowCount()) break;
      EndEdit(true);
      StartEdit(row + 1, column);
      scrollTo(model_->index(row + 1, column), QAbstractItemView::EnsureVisible);
      return true;
    default:
      break;
  }
  return QTableView::eventFilter(watched, event);
}

// ---------------------------------------------------------------- input

void CReportCtrl::keyPressEvent(QKeyEvent* event) {
  // The keyboard never toggles a check box or the selection with space.
  if (event->key() == Qt::Key_Space && !IsEditing()) {
    event->accept();
    return;
  }
  QTableView::keyPressEvent(event);
}

void CReportCtrl::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles) {
  const bool wholeTable = topLeft.row() == 0 && topLeft.column() == 0 && bottomRight.row() == model_->RowCount() - 1 &&
                          bottomRight.column() == model_->ColumnCount() - 1;
  if (topLeft == bottomRight || !topLeft.isValid() || !bottomRight.isValid() || wholeTable || !isVisible()) {
    QTableView::dataChanged(topLeft, bottomRight, roles);
    return;
  }
  // Rows are shown in model order (sorting reorders the model), so the rows
  // in view are one run from the top of the viewport to its bottom.
  const int top = std::max(topLeft.row(), rowAt(0));
  int bottom = rowAt(viewport()->height() - 1);
  if (bottom < 0 || bottom > bottomRight.row()) bottom = bottomRight.row();
  if (top > bottom) return;
  const int y0 = rowViewportPosition(top);
  const int y1 = rowViewportPosition(bottom) + rowHeight(bottom);
  QRegion dirty;
  for (int c = topLeft.column(); c <= bottomRight.column(); ++c) {
    if (!isColumnHidden(c)) dirty += QRect(columnViewportPosition(c), y0, columnWidth(c), y1 - y0);
  }
  dirty &= viewport()->rect();
  if (!dirty.isEmpty()) viewport()->update(dirty);
}

void CReportCtrl::mousePressEvent(QMouseEvent* event) {
  switch (event->button()) {
    case Qt::LeftButton: {
      HandleMouseClick(event, ReportMouse::kLeftDown, true);
      const QModelIndex hit = indexAt(event->position().toPoint());
      emit ListClicked(hit.isValid() ? hit.row() : -1);
      break;
    }
    case Qt::RightButton: HandleMouseClick(event, ReportMouse::kRightDown, false); break;
    case Qt::MiddleButton: HandleMouseClick(event, ReportMouse::kMiddleDown, false); break;
    default: QTableView::mousePressEvent(event); break;
  }
}

void CReportCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
  switch (event->button()) {
    case Qt::LeftButton: HandleMouseClick(event, ReportMouse::kLeftDoubleClick, false); break;
    case Qt::RightButton: HandleMouseClick(event, ReportMouse::kRightDoubleClick, false); break;
    case Qt::MiddleButton: HandleMouseClick(event, ReportMouse::kMiddleDoubleClick, false); break;
    default: QTableView::mouseDoubleClickEvent(event); break;
  }
}

void CReportCtrl::HandleMouseClick(QMouseEvent* event, ReportMouse message, bool left_down) {
  const QPoint pos = event->position().toPoint();
  const QModelIndex index = indexAt(pos);
  const int row = index.isValid() ? index.row() : -1;
  const int column = index.isValid() ? index.column() : -1;
  const bool old_checked = model_->Checked(row);
  const bool was_editing = IsEditing();
  EndEdit(true);
  const bool was_selected_and_focused = left_down && row >= 0 && IsRowSelected(row) && IsRowFocused(row);

  const bool double_click = message == ReportMouse::kLeftDoubleClick ||
                            message == ReportMouse::kRightDoubleClick ||
                            message == ReportMouse::kMiddleDoubleClick;
  if (double_click) {
    QTableView::mouseDoubleClickEvent(event);
  } else {
    QTableView::mousePressEvent(event);
  }
  // The list's own check toggling: a left click on the box. Locked boxes
  // (mode 3) keep their state.
  const bool left = message == ReportMouse::kLeftDown || message == ReportMouse::kLeftDoubleClick;
  if (left && column == 0 && model_->CheckboxesShown() && check_mode_ != kCheckLocked &&
      GetCheckBoxRect(row).contains(pos)) {
    model_->SetChecked(row, !old_checked);
  }
  const bool new_checked = model_->Checked(row);
  OnCheckChanged(row, old_checked, new_checked, message);

  if (left_down && editable_ && old_checked == new_checked && !was_editing && was_selected_and_focused &&
      editable_columns_.contains(column)) {
    StartEdit(row, column);
  }
}

int CReportCtrl::OnCheckChanged(int row, bool old_checked, bool new_checked, ReportMouse message) {
  if (!model_->ValidRow(row) || check_mode_ == kCheckNone || old_checked == new_checked) return 0;
  if (check_mode_ == kCheckLocked) {
    model_->SetChecked(row, old_checked);
    return 1;
  }
  if (check_mode_ == kCheckSingle && new_checked) EnsureSingleCheck(row);
  SelectOnly(row);
  emit ItemChecked(row, static_cast<int>(message));
  return 1;
}

void CReportCtrl::mouseMoveEvent(QMouseEvent* event) {
  QTableView::mouseMoveEvent(event);
  const QModelIndex index = indexAt(event->position().toPoint());
  const int row = index.isValid() ? index.row() : -1;
  const int column = index.isValid() ? index.column() : -1;
  if (row != hover_row_ || column != hover_column_) {
    hover_row_ = row;
    hover_column_ = column;
    emit RowHovered(row, column);
  }
}

void CReportCtrl::leaveEvent(QEvent* event) {
  QTableView::leaveEvent(event);
  if (hover_row_ != -1 || hover_column_ != -1) {
    hover_row_ = hover_column_ = -1;
    emit RowHovered(-1, -1);
  }
}

void CReportCtrl::FitToParent() {
  if (parentWidget()) setGeometry(parentWidget()->rect());
}

}  // namespace kelvara::controls
