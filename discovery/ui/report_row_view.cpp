#include "discovery/ui/report_row_view.h"

namespace kelvara::discovery {

void ReportRowView::RowInserted(DeviceListRow& row) {
  if (!list_) return;
  const int index = list_->InsertItem(list_->GetItemCount(), QString());
  if (index < 0) return;
  list_->SetItemData(index, &row);
  index_.insert(&row, index);
}

int ReportRowView::IndexOf(const DeviceListRow& row) {
  if (!list_) return -1;
  auto it = index_.find(&row);
  if (it != index_.end() && list_->GetItemData(*it) == &row) return *it;
  const int index = list_->FindItemData(&row);
  if (index >= 0) index_.insert(&row, index);
  return index;
}

void ReportRowView::CellText(DeviceListRow& row, int listColumn, const std::string& text) {
  const int index = IndexOf(row);
  if (index >= 0) list_->SetItemText(index, listColumn, QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void ReportRowView::RowTextColour(DeviceListRow& row, RowColour colour) {
  const int index = IndexOf(row);
  if (index < 0) return;
  const controls::ColorRef c = colour == RowColour::kRed     ? controls::MakeColorRef(255, 0, 0)
                               : colour == RowColour::kGreen ? controls::MakeColorRef(0, 255, 0)
                                                             : controls::kSystemColor;
  list_->SetCellTextColor(index, -1, c, true);
}

void ReportRowView::RowsCleared() {
  index_.clear();
  if (!list_) return;
  // The rows are freed by their owner: drop the pointers first.
  for (int i = 0; i < list_->GetItemCount(); ++i) list_->SetItemData(i, nullptr);
  list_->DeleteItems(controls::kStateAny);
}

}  // namespace kelvara::discovery
