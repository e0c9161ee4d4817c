#pragma once
// Small files Kelvara builds and hands to devices through the SDK: the custom
// model name (devicetype.oem), the OEM default configuration
// (config.defaut.xml) and prefixed copies of OEM application files. They are
// written atomically into a private folder of this process (mode 0700, made
// with mkdtemp under the runtime folder or, without one, the temporary
// folder), never under fixed names in a shared folder another user could
// plant. Also the tables of the OEM application and cloud identity menus.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kelvara::firmware {

// The private folder, made on first use; empty when it cannot be made.
std::filesystem::path DeviceFileFolder();

// Blanks (space, tab, CR, LF) cut from both ends.
std::string TrimBlanks(std::string_view text);

// "SET_OEM_DEVTYPE_FLAG=" + name, or "DEL_OEM_DEVTYPE_FLAG=" without a name.
std::string DeviceTypeFileText(const std::optional<std::string>& name);
// Writes devicetype.oem with that text; its path, or empty on failure.
std::filesystem::path WriteDeviceTypeFile(const std::optional<std::string>& name);

// 1 when the file is an XML document whose root "SOLVENConfig" has the child
// elements RecordConfig, ServerConfig, SystemConfig, NetworkConfig,
// MediaConfig, MediaStreamConfig and AlarmConfig; else 0.
int CheckOemDefaultConfig(const std::filesystem::path& path);
// Reprints the configuration (one tab as indent) with the root attribute
// SET_OEM_DEFAULT_CONFIG="1" into config.defaut.xml; 1 and its path, or 0.
int PrepareOemDefaultConfig(const std::filesystem::path& path, std::filesystem::path& out);
// The reprinted text itself (empty when the file is no SOLVENConfig document).
std::string OemDefaultConfigText(const std::filesystem::path& path);

// A byte copy of `source` named prefix + the source's file name; its path, or empty.
std::filesystem::path CopyOemAppFile(const std::filesystem::path& source, std::string_view prefix);

// The OEM application file menus: command, the dialog's default extension
// and filter, and the prefix the device reads the file's kind from.
struct OemAppFileKind {
  int command;
  const char* default_ext;
  const char* filter;
  const char* prefix;
};
const OemAppFileKind* FindOemAppFileKind(int command);
inline constexpr int kMenuFaceModel = 33308;

// The cloud identity files fetched from a device (33378, 33379).
struct CloudIdFile {
  int command;
  const char* device_path;
  const char* extension;
};
const CloudIdFile* FindCloudIdFile(int command);
// serial [+ "_" + p2p id] + extension, through the common path sanitiser.
std::string CloudIdLocalName(std::string_view serial, std::string_view p2p_id, std::string_view extension);

}  // namespace kelvara::firmware
