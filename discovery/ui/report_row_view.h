#pragma once
// The device rows drawn in a CReportCtrl. Rows move when the user sorts, so
// each row's index is cached and checked against the row's item data before
// use; only a stale cache pays for a search. A list that is gone (the window
// closed first) turns every call into nothing.
#include <QHash>
#include <QPointer>

#include "controls/ui/report_ctrl.h"
#include "discovery/core/device_rows.h"

namespace kelvara::discovery {

class ReportRowView : public RowView {
 public:
  explicit ReportRowView(controls::CReportCtrl& list) : list_(&list) {}
  void RowInserted(DeviceListRow& row) override;
  void CellText(DeviceListRow& row, int listColumn, const std::string& text) override;
  void RowTextColour(DeviceListRow& row, RowColour colour) override;
  void RowsCleared() override;
  // The row's current index in the list, -1 when it has none.
  int IndexOf(const DeviceListRow& row);

 private:
  QPointer<controls::CReportCtrl> list_;
  QHash<const DeviceListRow*, int> index_;
};

}  // namespace kelvara::discovery
