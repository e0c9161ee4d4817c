#include "device/core/row_texts.h"

namespace kelvara::device {

using discovery::DeviceListRow;
using discovery::DeviceRows;

std::string CutUtf8(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  std::size_t end = maxBytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end));
}

void SetRowStatus(DeviceRows& rows, DeviceListRow& row, const std::string& text) {
  rows.SetCellTextIfChanged(row, discovery::kColState, text);
}

void SetStatusByRecord(DeviceRows& rows, const DeviceListRow& record, const std::string& text) {
  if (rows.Columns().GetColumnIndex(discovery::kColState) < 0) return;
  if (DeviceListRow* row = rows.FindByHandle(record.m_loginHandle)) SetRowStatus(rows, *row, text);
}

void SetStatusByHandle(DeviceRows& rows, int handle, const char* key,
                       const std::function<std::string(const char*)>& lookup) {
  if (DeviceListRow* row = rows.FindByHandle(handle)) SetRowStatus(rows, *row, lookup ? lookup(key) : "");
}

void SetColumnByHandle(DeviceRows& rows, int handle, int column, const std::string& text) {
  DeviceListRow* row = rows.FindByHandle(handle);
  if (!row) return;
  if (column == discovery::kColVersion || column == discovery::kColAfVersion)
    rows.SetLoginVersion(*row, CutUtf8(text, 127));
  rows.SetCellTextIfChanged(*row, column, text);
}

void StoreDeviceInfoText(DeviceRows& rows, int handle, const std::string& text) {
  if (DeviceListRow* row = rows.FindByHandle(handle)) row->m_abilityText = CutUtf8(text, 4095);
}

void StoreFileSystemVersion(DeviceRows& rows, int handle, const std::string& text) {
  if (DeviceListRow* row = rows.FindByHandle(handle)) row->m_fsVersion = CutUtf8(text, 127);
}

void SetSerialNumberByHandle(DeviceRows& rows, int handle, const std::string& text,
                             const std::function<void(DeviceListRow&)>& netLogUpdate) {
  if (rows.Columns().GetColumnIndex(discovery::kColSerial) < 0) return;
  DeviceListRow* row = rows.FindByHandle(handle);
  if (!row) return;
  row->m_loginSerial = CutUtf8(text, 127);
  if (row->m_searchInfo.serialNumber.compare(0, 11, "BATCH_DEBUG") == 0) {
    // A longer serial number than the record holds keeps the old one.
    if (row->m_loginSerial.size() <= kSerialWidth - 1) {
      row->m_searchInfo.serialNumber = row->m_loginSerial;
      rows.SetCellTextIfChanged(*row, discovery::kColSerial, text);
    }
  }
  if (netLogUpdate) netLogUpdate(*row);
}

}  // namespace kelvara::device
