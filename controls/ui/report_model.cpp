#include "controls/ui/report_model.h"

#include <QColor>
#include <algorithm>
#include <utility>

namespace kelvara::controls {
namespace {

QColor ToQColor(ColorRef c) { return QColor(ColorRed(c), ColorGreen(c), ColorBlue(c)); }

Qt::Alignment ToQtAlignment(ColumnAlignment a) {
  switch (a) {
    case ColumnAlignment::kCenter: return Qt::AlignHCenter | Qt::AlignVCenter;
    case ColumnAlignment::kRight: return Qt::AlignRight | Qt::AlignVCenter;
    default: return Qt::AlignLeft | Qt::AlignVCenter;
  }
}

const QString kEmpty;

}  // namespace

ReportModel::ReportModel(QObject* parent) : QAbstractTableModel(parent) {
  // Cells of a text batch may have moved: its end signals the whole table.
  const auto shapeChanged = [this] {
    if (text_batch_depth_ > 0) text_batch_whole_ = true;
  };
  connect(this, &QAbstractItemModel::rowsInserted, this, shapeChanged);
  connect(this, &QAbstractItemModel::rowsRemoved, this, shapeChanged);
  connect(this, &QAbstractItemModel::rowsMoved, this, shapeChanged);
  connect(this, &QAbstractItemModel::columnsInserted, this, shapeChanged);
  connect(this, &QAbstractItemModel::columnsRemoved, this, shapeChanged);
  connect(this, &QAbstractItemModel::modelReset, this, shapeChanged);
  connect(this, &QAbstractItemModel::layoutChanged, this, shapeChanged);
}

int ReportModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : RowCount();
}

int ReportModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ColumnCount();
}

QVariant ReportModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || !ValidCell(index.row(), index.column())) return {};
  const Row& row = rows_[index.row()];
  const Cell& cell = row.cells[index.column()];
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
      return cell.text;
    case Qt::ForegroundRole:
      return cell.text_color == kSystemColor ? QVariant() : QVariant(ToQColor(cell.text_color));
    case Qt::BackgroundRole:
      return cell.back_color == kSystemColor ? QVariant() : QVariant(ToQColor(cell.back_color));
    case Qt::CheckStateRole:
      if (index.column() == 0 && checkboxes_shown_) return row.checked ? Qt::Checked : Qt::Unchecked;
      return {};
    case Qt::TextAlignmentRole:
      return static_cast<int>(ToQtAlignment(columns_[index.column()].alignment));
    case Qt::DecorationRole:
      if (cell.image >= 0 && cell.image < images_.size()) return images_[cell.image];
      return {};
    default:
      return {};
  }
}

QVariant ReportModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || !ValidColumn(section)) return {};
  if (role == Qt::DisplayRole) return columns_[section].title;
  if (role == Qt::TextAlignmentRole) return static_cast<int>(ToQtAlignment(columns_[section].alignment));
  return {};
}

Qt::ItemFlags ReportModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  // Not user-checkable and not editable: the control handles check clicks
  // and opens its editor itself, by the list's own rules.
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void ReportModel::ResetColumns(const QVector<Column>& columns) {
  beginResetModel();
  rows_.clear();
  data_rows_valid_ = false;
  columns_ = columns;
  endResetModel();
}

int ReportModel::InsertColumn(int index, const Column& column) {
  index = std::clamp(index, 0, ColumnCount());
  beginInsertColumns({}, index, index);
  columns_.insert(index, column);
  for (Row& r : rows_) r.cells.insert(r.cells.begin() + index, Cell{});
  endInsertColumns();
  return index;
}

bool ReportModel::RemoveColumn(int index) {
  if (!ValidColumn(index)) return false;
  beginRemoveColumns({}, index, index);
  columns_.removeAt(index);
  for (Row& r : rows_) r.cells.erase(r.cells.begin() + index);
  endRemoveColumns();
  return true;
}

bool ReportModel::SetColumnTitle(int index, const QString& title) {
  if (!ValidColumn(index)) return false;
  columns_[index].title = title;
  emit headerDataChanged(Qt::Horizontal, index, index);
  return true;
}

int ReportModel::InsertRow(int index, const QString& first_text) {
  index = std::clamp(index, 0, RowCount());
  beginInsertRows({}, index, index);
  Row row;
  row.cells.resize(columns_.size());
  if (!row.cells.empty()) row.cells[0].text = first_text;
  rows_.insert(rows_.begin() + index, std::move(row));
  if (index != RowCount() - 1) data_rows_valid_ = false;  // appending moves no row
  endInsertRows();
  return index;
}

bool ReportModel::RemoveRow(int row) {
  if (!ValidRow(row)) return false;
  beginRemoveRows({}, row, row);
  rows_.erase(rows_.begin() + row);
  data_rows_valid_ = false;
  endRemoveRows();
  return true;
}

int ReportModel::RemoveAllRows() {
  const int n = RowCount();
  if (n == 0) return 0;
  beginRemoveRows({}, 0, n - 1);
  rows_.clear();
  data_rows_valid_ = false;
  endRemoveRows();
  return n;
}

int ReportModel::RemoveRows(std::vector<int> rows) {
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  rows.erase(std::remove_if(rows.begin(), rows.end(), [this](int r) { return !ValidRow(r); }),
             rows.end());
  // From the bottom up, one signal per block of adjacent rows.
  std::size_t end = rows.size();
  while (end > 0) {
    std::size_t begin = end - 1;
    while (begin > 0 && rows[begin - 1] == rows[begin] - 1) --begin;
    const int first = rows[begin], last = rows[end - 1];
    beginRemoveRows({}, first, last);
    rows_.erase(rows_.begin() + first, rows_.begin() + last + 1);
    data_rows_valid_ = false;
    endRemoveRows();
    end = begin;
  }
  return static_cast<int>(rows.size());
}

bool ReportModel::MoveRow(int row, int target) {
  if (!ValidRow(row) || !ValidRow(target)) return false;
  if (row == target) return true;
  beginMoveRows({}, row, row, {}, target > row ? target + 1 : target);
  data_rows_valid_ = false;
  if (target > row) {
    std::rotate(rows_.begin() + row, rows_.begin() + row + 1, rows_.begin() + target + 1);
  } else {
    std::rotate(rows_.begin() + target, rows_.begin() + row, rows_.begin() + row + 1);
  }
  endMoveRows();
  return true;
}

bool ReportModel::SwapRows(int a, int b) {
  if (!ValidRow(a) || !ValidRow(b)) return false;
  if (a == b) return true;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  std::swap(rows_[a], rows_[b]);
  data_rows_valid_ = false;
  QModelIndexList from, to;
  for (const QModelIndex& i : persistentIndexList()) {
    if (i.row() == a || i.row() == b) {
      from << i;
      to << index(i.row() == a ? b : a, i.column());
    }
  }
  changePersistentIndexList(from, to);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
  return true;
}

void ReportModel::ApplyRowOrder(const std::vector<std::size_t>& order) {
  if (order.size() != rows_.size()) return;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  std::vector<Row> sorted;
  sorted.reserve(rows_.size());
  std::vector<int> new_row_of(rows_.size());
  for (std::size_t i = 0; i < order.size(); ++i) {
    sorted.push_back(std::move(rows_[order[i]]));
    new_row_of[order[i]] = static_cast<int>(i);
  }
  rows_.swap(sorted);
  data_rows_valid_ = false;
  const QModelIndexList from = persistentIndexList();
  QModelIndexList to;
  to.reserve(from.size());
  for (const QModelIndex& i : from) to << index(new_row_of[i.row()], i.column());
  changePersistentIndexList(from, to);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

const QString& ReportModel::Text(int row, int column) const {
  return ValidCell(row, column) ? rows_[row].cells[column].text : kEmpty;
}

namespace {
const QList<int> kTextRoles = {Qt::DisplayRole, Qt::EditRole};
}  // namespace

bool ReportModel::SetText(int row, int column, const QString& text) {
  if (!ValidCell(row, column)) return false;
  QString& cell = rows_[row].cells[column].text;
  if (cell == text) return false;
  cell = text;
  if (text_batch_depth_ > 0) {
    if (!std::exchange(text_batch_changed_, true)) {
      text_batch_top_ = text_batch_bottom_ = row;
      text_batch_left_ = text_batch_right_ = column;
    } else {
      text_batch_top_ = std::min(text_batch_top_, row);
      text_batch_bottom_ = std::max(text_batch_bottom_, row);
      text_batch_left_ = std::min(text_batch_left_, column);
      text_batch_right_ = std::max(text_batch_right_, column);
    }
    return true;
  }
  const QModelIndex i = index(row, column);
  emit dataChanged(i, i, kTextRoles);
  return true;
}

void ReportModel::BeginTextBatch() { ++text_batch_depth_; }

void ReportModel::EndTextBatch() {
  if (text_batch_depth_ == 0 || --text_batch_depth_ > 0) return;
  const bool whole = std::exchange(text_batch_whole_, false);
  if (!std::exchange(text_batch_changed_, false) || RowCount() == 0 || ColumnCount() == 0) return;
  if (whole) {
    emit dataChanged(index(0, 0), index(RowCount() - 1, ColumnCount() - 1), kTextRoles);
    return;
  }
  emit dataChanged(index(text_batch_top_, text_batch_left_), index(text_batch_bottom_, text_batch_right_), kTextRoles);
}

ColorRef ReportModel::TextColor(int row, int column) const {
  return ValidCell(row, column) ? rows_[row].cells[column].text_color : kSystemColor;
}

ColorRef ReportModel::BackColor(int row, int column) const {
  return ValidCell(row, column) ? rows_[row].cells[column].back_color : kSystemColor;
}

bool ReportModel::SetTextColor(const CellRange& cells, ColorRef color) {
  return SetColor(cells, color, true);
}

bool ReportModel::SetBackColor(const CellRange& cells, ColorRef color) {
  return SetColor(cells, color, false);
}

bool ReportModel::SetColor(const CellRange& cells, ColorRef color, bool text) {
  if (cells.empty() || !ValidRow(cells.first_row) || !ValidRow(cells.last_row) ||
      !ValidColumn(cells.first_column) || !ValidColumn(cells.last_column)) {
    return false;
  }
  if (color < 0) color = kSystemColor;
  const QList<int> roles = {text ? Qt::ForegroundRole : Qt::BackgroundRole};
  bool any = false;
  for (int r = cells.first_row; r <= cells.last_row; ++r) {
    // One signal per row, spanning the cells of that row that changed.
    int lo = -1, hi = -1;
    for (int c = cells.first_column; c <= cells.last_column; ++c) {
      ColorRef& slot = text ? rows_[r].cells[c].text_color : rows_[r].cells[c].back_color;
      if (slot == color) continue;
      slot = color;
      if (lo < 0) lo = c;
      hi = c;
    }
    if (lo >= 0) {
      any = true;
      emit dataChanged(index(r, lo), index(r, hi), roles);
    }
  }
  return any;
}

int ReportModel::Image(int row, int column) const {
  return ValidCell(row, column) ? rows_[row].cells[column].image : -1;
}

bool ReportModel::SetImage(int row, int column, int image) {
  if (!ValidCell(row, column)) return false;
  int& slot = rows_[row].cells[column].image;
  if (slot != image) {
    slot = image;
    const QModelIndex i = index(row, column);
    emit dataChanged(i, i, {Qt::DecorationRole});
  }
  return true;
}

void ReportModel::SetImageList(const QVector<QIcon>& images) {
  images_ = images;
  if (RowCount() > 0 && ColumnCount() > 0) {
    emit dataChanged(index(0, 0), index(RowCount() - 1, ColumnCount() - 1), {Qt::DecorationRole});
  }
}

bool ReportModel::SetChecked(int row, bool checked) {
  if (!ValidRow(row)) return false;
  if (rows_[row].checked == checked) return true;
  rows_[row].checked = checked;
  if (ColumnCount() > 0) {
    const QModelIndex i = index(row, 0);
    emit dataChanged(i, i, {Qt::CheckStateRole});
  }
  emit CheckChanged(row, checked);
  return true;
}

void ReportModel::SetCheckboxesShown(bool shown) {
  if (checkboxes_shown_ == shown) return;
  checkboxes_shown_ = shown;
  if (RowCount() > 0 && ColumnCount() > 0) {
    emit dataChanged(index(0, 0), index(RowCount() - 1, 0), {Qt::CheckStateRole});
  }
}

bool ReportModel::SetRowData(int row, void* data) {
  if (!ValidRow(row)) return false;
  void*& slot = rows_[row].data;
  if (data_rows_valid_ && slot != data) {
    // Keep the index exact: it names the first row of each pointer. When the
    // old pointer's entry was this row, another row may still hold it, so a
    // later lookup of it falls back to a scan.
    if (slot) {
      auto it = data_rows_.find(slot);
      if (it != data_rows_.end() && it->second == row) {
        data_rows_.erase(it);
        data_rows_complete_ = false;
      }
    }
    if (data) {
      auto [it, inserted] = data_rows_.emplace(data, row);
      if (!inserted && it->second > row) it->second = row;
    }
  }
  slot = data;
  return true;
}

int ReportModel::FindRowData(const void* data) const {
  if (data) {
    if (!data_rows_valid_) {
      data_rows_.clear();
      for (int i = RowCount() - 1; i >= 0; --i) {
        if (rows_[i].data) data_rows_[rows_[i].data] = i;
      }
      data_rows_valid_ = true;
      data_rows_complete_ = true;
    }
    const auto it = data_rows_.find(data);
    if (it != data_rows_.end() && ValidRow(it->second) && rows_[it->second].data == data) return it->second;
    if (it == data_rows_.end() && data_rows_complete_) return -1;
  }
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].data == data) return static_cast<int>(i);
  }
  return -1;
}

std::vector<std::u16string_view> ReportModel::ColumnTexts(int column) const {
  std::vector<std::u16string_view> texts;
  if (!ValidColumn(column)) return texts;
  texts.reserve(rows_.size());
  for (const Row& r : rows_) {
    const QString& t = r.cells[column].text;
    texts.emplace_back(reinterpret_cast<const char16_t*>(t.constData()), static_cast<std::size_t>(t.size()));
  }
  return texts;
}

}  // namespace kelvara::controls
