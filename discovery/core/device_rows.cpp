#include "discovery/core/device_rows.h"

#include <utility>

#include "common/language_table.h"

namespace kelvara::discovery {

DeviceRows::DeviceRows(const ColumnMap& columns, RowView& view) : columns_(columns), view_(view) {}

DeviceRows::~DeviceRows() = default;

namespace {

// A row's key: the serial number as the device sent it, at most 63 characters.
std::string_view RowKey(const std::string& serialNumber) {
  return std::string_view(serialNumber).substr(0, 63);
}

}  // namespace

DeviceListRow& DeviceRows::AddRow(const std::shared_ptr<const DeviceSearchInfo>& info, std::string_view key,
                                  bool imported) {
  auto row = std::make_unique<DeviceListRow>();
  row->m_key = std::string(key);
  row->m_imported = imported ? 1 : 0;
  row->m_searchInfo = *info;
  DeviceListRow& ref = *row;
  byKey_.emplace(row->m_key, row.get());
  rows_.push_back(std::move(row));
  view_.RowInserted(ref);
  FillFromRecord(ref, info);
  return ref;
}

std::vector<ReloginEntry> DeviceRows::RefreshDeviceList(DeviceMap& map, const RefreshOptions& options) {
  std::vector<ReloginEntry> relogin;
  std::vector<std::shared_ptr<const DeviceSearchInfo>> records = map.TakeChanged();
  if (options.productionMode) records = map.AllRecords();
  // A column shown or hidden since the last tick: every row's next fill
  // writes all its cells.
  std::array<int, kColumnCount> positions{};
  for (int id = 0; id < kColumnCount; ++id) positions[static_cast<std::size_t>(id)] = columns_.GetColumnIndex(id);
  if (positions != positions_) {
    positions_ = positions;
    ++generation_;
  }
  for (const auto& shared : records) {
    const DeviceSearchInfo& record = *shared;
    const std::string_view key = RowKey(record.serialNumber);
    DeviceListRow* row = FindByKey(key);
    if (row) {
      const bool addressChanged = record.lanConfig.ipAddress != row->m_searchInfo.lanConfig.ipAddress;
      FillFromRecord(*row, shared);
      if (addressChanged) {
        relogin.push_back({row, row->m_loginHandle});
        SetLoginHandle(*row, 0);
      }
      // Assigned in place: the row's strings keep their buffers.
      row->m_searchInfo = record;
      if (row->m_searchInfo.version.empty())
        row->m_searchInfo.version = CutToField(row->m_loginVersion, kVersionWidth);
    } else {
      if (!RoomForRow(record)) continue;
      row = &AddRow(shared, key, options.importing);
      if (!options.productionMode) relogin.push_back({row, 0});
    }
    if (options.productionMode && options.production) {
      if (!record.p2pId.empty() && row->m_labelPrinted == 0) {
        row->m_labelPrinted = 1;
        options.production->PrintLabelAndRestore(record);
      } else {
        DeviceSearchInfo dhcp = record;
        map.Modify(record.serialNumber, [&](DeviceSearchInfo& r) {
          r.lanConfig.dhcp = 1;
          dhcp = r;
        });
        options.production->SwitchToDhcp(dhcp);
      }
    }
  }
  // Versions read over a login since the last tick reach records whose reply
  // had none, without waiting for a further reply.
  for (DeviceListRow* row : loginVersionChanged_) {
    if (row->m_searchInfo.version.empty())
      row->m_searchInfo.version = CutToField(row->m_loginVersion, kVersionWidth);
  }
  loginVersionChanged_.clear();
  if (options.recentlySeen) {
    std::vector<DeviceSearchInfo> recent;
    map.ForEach([&](const DeviceSearchInfo& r) {
      if (options.now_ms - r.lastSeenTick_ms < 2000) recent.push_back(r);
    });
    // Outside the map's lock: the hook may broadcast.
    for (const auto& r : recent) options.recentlySeen(r);
  }
  return relogin;
}

bool DeviceRows::RoomForRow(const DeviceSearchInfo& record) {
  const bool full = rows_.size() >= kMaxDevices;
  std::size_t* ofSender = record.senderAddress.empty() ? nullptr : &rowsOfSender_[record.senderAddress];
  if (!full && (ofSender == nullptr || *ofSender < kMaxDevicesPerSender)) {
    if (ofSender != nullptr) ++*ofSender;
    return true;
  }
  if (ofSender != nullptr && *ofSender == 0) rowsOfSender_.erase(record.senderAddress);
  ++notListed_.records;
  if (!full) {
    ++notListed_.ofFullSender;
    if (notListed_.firstFullSender.empty()) notListed_.firstFullSender = record.senderAddress;
  }
  someNotListed_ = true;
  return false;
}

void DeviceRows::FillDeviceRow(DeviceListRow& row, const DeviceSearchInfo& info) {
  row.cellsToRefill.reset();
  WriteCells(row, FormatRow(info, context_), true);
  // Not a map record: the next refresh of the row writes every cell.
  row.filledFrom.reset();
}

void DeviceRows::FillFromRecord(DeviceListRow& row, const std::shared_ptr<const DeviceSearchInfo>& record) {
  if (!row.filledFrom || row.filledGeneration != generation_) {
    row.cellsToRefill.reset();
    WriteCells(row, FormatRow(*record, context_), true);
  } else {
    bool colourChanged = false;
    const std::bitset<kColumnCount> refill = std::exchange(row.cellsToRefill, {});
    const RowTexts texts = FormatChangedCells(*row.filledFrom, *record, context_, refill, &colourChanged);
    WriteCells(row, texts, colourChanged);
  }
  row.filledFrom = record;
  row.filledGeneration = generation_;
}

void DeviceRows::WriteCells(DeviceListRow& row, const RowTexts& texts, bool withColour) {
  for (int id = 0; id < kColumnCount; ++id) {
    const auto& t = texts.cells[static_cast<std::size_t>(id)];
    if (t) WriteCell(row, id, *t);
  }
  if (withColour && texts.colour != row.shownColour) {
    row.shownColour = texts.colour;
    view_.RowTextColour(row, texts.colour);
  }
}

bool DeviceRows::WriteCell(DeviceListRow& row, int logicalColumn, const std::string& text) {
  const int position = columns_.GetColumnIndex(logicalColumn);
  if (position < 0) return false;
  std::string& shown = row.shownText[static_cast<std::size_t>(logicalColumn)];
  if (shown == text) return false;
  shown = text;
  view_.CellText(row, position, text);
  return true;
}

void DeviceRows::SetCellTextIfChanged(DeviceListRow& row, int logicalColumn, const std::string& text) {
  if (WriteCell(row, logicalColumn, text)) row.cellsToRefill.set(static_cast<std::size_t>(logicalColumn));
}

void DeviceRows::SetLoginVersion(DeviceListRow& row, std::string version) {
  row.m_loginVersion = std::move(version);
  loginVersionChanged_.push_back(&row);
}

void DeviceRows::SetLoginHandle(DeviceListRow& row, int handle) {
  if (row.m_loginHandle > 0) {
    auto it = byHandle_.find(row.m_loginHandle);
    if (it != byHandle_.end() && it->second == &row) byHandle_.erase(it);
  }
  if (row.m_loginHandle != handle) ClearPendingRequests(row);
  row.m_loginHandle = handle;
  // The SDK never hands out one handle twice at a time; should it, the first
  // row keeps it, as a scan in list order would find.
  if (handle > 0) byHandle_.emplace(handle, &row);
}

DeviceListRow* DeviceRows::FindByHandle(int handle) const {
  if (handle <= 0) return nullptr;
  auto it = byHandle_.find(handle);
  return it == byHandle_.end() ? nullptr : it->second;
}

DeviceListRow* DeviceRows::FindByKey(std::string_view key) const {
  auto it = byKey_.find(key);
  return it == byKey_.end() ? nullptr : it->second;
}

std::size_t DeviceRows::CheckedCount() const {
  std::size_t n = 0;
  for (const auto& r : rows_) n += r->checked ? 1 : 0;
  return n;
}

void DeviceRows::Clear() {
  byKey_.clear();
  byHandle_.clear();
  loginVersionChanged_.clear();
  rowsOfSender_.clear();
  notListed_ = {};
  someNotListed_ = false;
  // Each row's receiver ends with it (its destructor stops its threads): all
  // are told first, so N of them take about one stop time.
  for (auto& row : rows_)
    if (row->m_netLogThread) row->m_netLogThread->RequestStop();
  rows_.clear();
  view_.RowsCleared();
}

std::string TotalsText(bool searching, std::size_t rows, std::size_t checked,
                       const std::function<std::string(const char* key)>& lookup, bool notAllListed) {
  auto text = [&](const char* key) { return lookup ? lookup(key) : std::string(); };
  std::string s;
  if (searching) s += text(LangKey("CStorePlayBack_tip_searching"));
  s += text(LangKey("STR_TOTAL")) + ":" + std::to_string(rows) + " ";
  s += text(LangKey("STR_SELECTED")) + ":" + std::to_string(checked) + " ";
  if (notAllListed) s += text(LangKey("DEVICES_NOT_LISTED"));
  return s;
}

}  // namespace kelvara::discovery
