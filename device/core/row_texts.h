#pragma once
// Result and version texts in the device list: how command results, events
// and values read over a login reach a row, by row or by login handle. Texts
// are UTF-8. UI thread only.
#include <functional>
#include <string>
#include <string_view>

#include "discovery/core/device_rows.h"

namespace kelvara::device {

// Status column (logical 14) of the row.
void SetRowStatus(discovery::DeviceRows& rows, discovery::DeviceListRow& row, const std::string& text);
// Status column of the row holding `record`'s login handle.
void SetStatusByRecord(discovery::DeviceRows& rows, const discovery::DeviceListRow& record,
                       const std::string& text);
// The language text of `key` into the status column of the handle's row.
void SetStatusByHandle(discovery::DeviceRows& rows, int handle, const char* key,
                       const std::function<std::string(const char*)>& lookup);
// Text into a column of the handle's row; columns 11 and 12 also keep it as
// the login version (even when the column is hidden).
void SetColumnByHandle(discovery::DeviceRows& rows, int handle, int logicalColumn, const std::string& text);
void StoreDeviceInfoText(discovery::DeviceRows& rows, int handle, const std::string& text);
void StoreFileSystemVersion(discovery::DeviceRows& rows, int handle, const std::string& text);
// Keeps the serial number read over the login; a batch-debug row takes it as
// its serial number and shows it. `netLogUpdate` re-applies the row's device
// log. Nothing happens when the serial column is hidden.
void SetSerialNumberByHandle(discovery::DeviceRows& rows, int handle, const std::string& text,
                             const std::function<void(discovery::DeviceListRow&)>& netLogUpdate = {});

// Cuts UTF-8 text to at most `maxBytes` without splitting a character.
std::string CutUtf8(std::string_view text, std::size_t maxBytes);

}  // namespace kelvara::device
