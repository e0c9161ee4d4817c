#pragma once
// A RowView that records what the list would be told.
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "discovery/core/device_rows.h"

namespace kelvara::discovery::test {

class RecordingView : public RowView {
 public:
  void RowInserted(DeviceListRow& row) override { order.push_back(&row); }
  void CellText(DeviceListRow& row, int listColumn, const std::string& text) override {
    cells[{&row, listColumn}] = text;
    ++writes;
  }
  void RowTextColour(DeviceListRow& row, RowColour colour) override { colours[&row] = colour; }
  void RowsCleared() override {
    order.clear();
    cells.clear();
    colours.clear();
  }
  std::string Cell(DeviceListRow* row, int listColumn) const {
    auto it = cells.find({row, listColumn});
    return it == cells.end() ? std::string("<unset>") : it->second;
  }
  std::vector<DeviceListRow*> order;
  std::map<std::pair<DeviceListRow*, int>, std::string> cells;
  std::map<DeviceListRow*, RowColour> colours;
  int writes = 0;
};

}  // namespace kelvara::discovery::test
