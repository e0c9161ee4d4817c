#pragma once
// Where files fetched from devices are stored. A device names the files
// (alarm pictures, announced files, snapshots), so every name goes through
// the common path sanitiser, lands below the documents folder, and never
// replaces an earlier file.
#include <filesystem>
#include <functional>
#include <string>

#include "discovery/core/device_records.h"

namespace kelvara::device {

// "<documents>/config_<serial>_<ip>.dev.xml" (serial and address sanitised).
std::filesystem::path ConfigFileDownloadPath(const std::filesystem::path& documents, const DeviceSearchInfo& device);

// The local path of a file fetched by device path:
// - the local name (the device path's last part after "\" or "/" when empty),
//   sanitised;
// - "<documents>/snap/<ip>/<name>" when the name contains ".jpg" after its
//   first character, "<documents>/<ip>/<name>" for ".mp4", else
//   "<documents>/<name>"; the address folder only for a valid dotted address;
// - a name `taken` says is in use gets "_1", "_2", ... before its extension.
std::filesystem::path DeviceFileDownloadPath(const std::filesystem::path& documents, const std::string& deviceIp,
                                             const std::string& devicePath, const std::string& localName,
                                             const std::function<bool(const std::filesystem::path&)>& taken);

// The configuration file a finished download names (event 16 text
// <RESPONSE_PARAM LocalFileName="..."/>): the name, or "" when the text is no
// such element.
std::string DownloadedFileName(const std::string& eventText);

// Re-saves a downloaded "config_*.dev.xml" file beside itself as ".xml"
// (temporary file and rename). True when it was written.
bool ResaveConfigDownload(const std::string& localFileName);

}  // namespace kelvara::device
