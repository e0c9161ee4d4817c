#pragma once
// The rows of the device list, in list order, with O(1) lookup by serial key
// and by login handle. The list refresh brings them in line with the device
// map; every cell goes through SetCellTextIfChanged, so the list widget is
// told only about cells whose text changed. Used on the UI thread only.
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "discovery/core/device_columns.h"
#include "discovery/core/device_list_row.h"
#include "discovery/core/device_map.h"
#include "discovery/core/row_format.h"

namespace kelvara::discovery {

// The list widget as the rows see it.
class RowView {
 public:
  virtual ~RowView() = default;
  virtual void RowInserted(DeviceListRow& row) = 0;  // appended at the end
  virtual void CellText(DeviceListRow& row, int listColumn, const std::string& text) = 0;
  virtual void RowTextColour(DeviceListRow& row, RowColour colour) = 0;
  virtual void RowsCleared() = 0;
};

// Production mode's actions on a refreshed device (printing a label and the
// login-free broadcasts belong to other parts of the program).
class ProductionActions {
 public:
  virtual ~ProductionActions() = default;
  // A device with a P2P id whose label is not printed yet: print and restore.
  virtual void PrintLabelAndRestore(const DeviceSearchInfo& record) = 0;
  // Every other device on every refresh: switch it to DHCP (the map's record
  // already carries DHCP 1).
  virtual void SwitchToDhcp(const DeviceSearchInfo& record) = 0;
};

struct ReloginEntry {
  DeviceListRow* row;
  int oldHandle;  // 0 for a new row
};

class DeviceRows {
 public:
  DeviceRows(const ColumnMap& columns, RowView& view);
  ~DeviceRows();

  // A new context (language texts, override names) makes the next fill of
  // each row format every column again.
  void SetFormatContext(RowFormatContext context) {
    context_ = std::move(context);
    ++generation_;
  }
  const RowFormatContext& FormatContext() const { return context_; }

  struct RefreshOptions {
    bool importing = false;       // rows created now are marked imported
    bool productionMode = false;  // no logins; labels and DHCP instead
    ProductionActions* production = nullptr;
    // Called for every record seen within the last 2 s (the boot-recovery
    // restore of a marked device); `now_ms` is the refresh's tick count.
    std::function<void(const DeviceSearchInfo&)> recentlySeen;
    std::uint32_t now_ms = 0;
  };

  // Brings the rows in line with the records of the device map that changed
  // since the last refresh (every record in production mode) and returns the
  // rows to log in, in order: new rows (outside production mode) and rows
  // whose address changed (their handle already reset to 0).
  std::vector<ReloginEntry> RefreshDeviceList(DeviceMap& map, const RefreshOptions& options);

  // Writes every cell of a row from a record.
  void FillDeviceRow(DeviceListRow& row, const DeviceSearchInfo& info);

  // Writes one cell when its text changed; -1 (hidden) is skipped. A cell of
  // the row texts written this way is formatted again by the next refresh
  // that renews its row.
  void SetCellTextIfChanged(DeviceListRow& row, int logicalColumn, const std::string& text);

  // The firmware version read over the login (m_loginVersion). The next
  // refresh puts it into a record without a search version even when no new
  // reply for the device arrives.
  void SetLoginVersion(DeviceListRow& row, std::string version);

  // Handle bookkeeping: every write of m_loginHandle goes through here.
  void SetLoginHandle(DeviceListRow& row, int handle);
  // The row holding a login handle; never matches 0 or a negative
  // (failed-login) value.
  DeviceListRow* FindByHandle(int handle) const;
  DeviceListRow* FindByKey(std::string_view key) const;

  std::size_t Count() const { return rows_.size(); }

  // Records a refresh did not make rows of: the list holds at most
  // kMaxDevices rows, and at most kMaxDevicesPerSender of devices first
  // heard from one sender address (the map's own bounds), so a flood of
  // spoofed serial numbers cannot grow it, nor one host fill it.
  struct NotListed {
    std::size_t records = 0;       // since the last take
    std::size_t ofFullSender = 0;  // of those, refused for their sender
    std::string firstFullSender;
  };
  NotListed TakeNotListed() { return std::exchange(notListed_, {}); }
  // Whether any record was not listed since the list was last cleared.
  bool SomeNotListed() const { return someNotListed_; }
  DeviceListRow& At(std::size_t i) { return *rows_[i]; }
  std::size_t CheckedCount() const;

  // Frees every row and its resources and tells the view.
  void Clear();

  const ColumnMap& Columns() const { return columns_; }

 private:
  DeviceListRow& AddRow(const std::shared_ptr<const DeviceSearchInfo>& info, std::string_view key, bool imported);
  // Whether a new row may be made for the record; counts it when not.
  bool RoomForRow(const DeviceSearchInfo& record);
  // Writes the cells of a row from a map record: only the columns whose
  // inputs changed since the row's last fill from a record (all of them after
  // a context or column change).
  void FillFromRecord(DeviceListRow& row, const std::shared_ptr<const DeviceSearchInfo>& record);
  void WriteCells(DeviceListRow& row, const RowTexts& texts, bool withColour);
  // True when the cell's text changed.
  bool WriteCell(DeviceListRow& row, int logicalColumn, const std::string& text);

  struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const { return std::hash<std::string_view>{}(key); }
  };

  const ColumnMap& columns_;
  RowView& view_;
  RowFormatContext context_;
  std::uint64_t generation_ = 1;  // of context_ and the column positions
  std::array<int, kColumnCount> positions_{};  // at the last refresh
  std::vector<std::unique_ptr<DeviceListRow>> rows_;
  std::unordered_map<std::string, DeviceListRow*, KeyHash, std::equal_to<>> byKey_;
  std::unordered_map<int, DeviceListRow*> byHandle_;
  std::vector<DeviceListRow*> loginVersionChanged_;  // since the last refresh
  std::unordered_map<std::string, std::size_t> rowsOfSender_;
  NotListed notListed_;
  bool someNotListed_ = false;
};

// The totals line under the list; `notAllListed` adds why devices are
// missing (DeviceRows::SomeNotListed).
std::string TotalsText(bool searching, std::size_t rows, std::size_t checked,
                       const std::function<std::string(const char* key)>& lookup, bool notAllListed = false);

}  // namespace kelvara::discovery
