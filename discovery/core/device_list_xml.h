#pragma once
// The device list as an XML file: root element "root", one "ipcamera"
// element per device with its addresses, ports, identity and title as
// attributes (8-bit device texts, the file declared gb2312).
#include <filesystem>
#include <string>
#include <vector>

#include "discovery/core/device_import.h"
#include "discovery/core/device_sheet.h"

namespace kelvara::discovery {

// Files larger than this are refused before they are parsed.
inline constexpr std::uintmax_t kXmlImportMaxBytes = 8u << 20;

// The document text of the devices, in the order given.
std::string BuildDeviceListXml(const std::vector<ExportedDevice>& devices);

// The devices of a document text, every one checked: the root must be
// "root", no DOCTYPE (entity definitions) is accepted, every attribute must
// fit its field, addresses must be dotted, numbers decimal. Elements other
// than "ipcamera" are skipped. The first fault refuses the whole file.
ImportResult DevicesFromXml(const std::string& text);

// Reads and checks a file.
ImportResult ImportDeviceListXml(const std::filesystem::path& path);

// "IPC EXPORT 20260305-143000.xml" for the local time given.
std::string ProposedXmlExportName(int year, int month, int day, int hour, int minute, int second);

}  // namespace kelvara::discovery
