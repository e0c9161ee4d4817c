#pragma once
// The device list's 27 logical columns and which of them are shown. Every
// writer of a cell names the logical id; the column map gives its position in
// the list, or -1 when the column is hidden (the write is then skipped).
#include <array>
#include <functional>
#include <string>

namespace kelvara::discovery {

enum ColumnId : int {
  kColIp = 0,
  kColHttpPort = 1,
  kColModel = 2,
  kColExtNumber = 3,
  kColMainNumber = 4,
  kColExtName = 5,
  kColAddressBoxIp = 6,
  kColNotes = 7,
  kColManageCenter = 8,
  kColTitle = 9,
  kColPreview = 10,
  kColVersion = 11,
  kColAfVersion = 12,
  kColModule4gVersion = 13,
  kColState = 14,
  kColAllnet = 15,
  kColSerial = 16,
  kColNetmask = 17,
  kColMac = 18,
  kColSdCard = 19,
  kColP2pType = 20,
  kColP2pId = 21,
  kColUptime = 22,
  kColNetcard = 23,
  kColCloudStatus = 24,
  kColUuid = 25,
  kColOemSerial = 26,
};
inline constexpr int kColumnCount = 27;

struct ColumnInfo {
  const char* title;  // a language key, or the header itself when literal
  bool titleIsKey;
  int width_px;
};
const ColumnInfo& GetColumnInfo(int id);

// Display switches that choose the columns (read once at start).
struct ColumnSwitches {
  bool listShowLess = false;  // "LIST_SHOW_lESS" == 1
  int style = 0;              // "STYLE"
};

class ColumnMap {
 public:
  ColumnMap() { positions_.fill(-1); }
  // Enters the shown ids in ascending order, each at the next position.
  void BuildColumnMap(const ColumnSwitches& switches);
  // The list position of a logical id; -1 when hidden or out of range.
  int GetColumnIndex(int id) const {
    return id >= 0 && id < kColumnCount ? positions_[static_cast<std::size_t>(id)] : -1;
  }
  int ShownCount() const { return shown_; }
  // "header,width;" for each shown column in position order, the text the
  // report control's SetColumnSpec takes. `lookup` turns a key into its text.
  std::string ColumnSpec(const std::function<std::string(const char* key)>& lookup) const;

 private:
  std::array<int, kColumnCount> positions_;
  int shown_ = 0;
};

}  // namespace kelvara::discovery
