#pragma once
// The images of a firmware folder: the listing the boot-recovery server offers
// by version text, and the choice of the newest image for a device model.
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace kelvara::firmware {

struct FirmwareListEntry {
  std::int64_t modified = 0;  // last write, seconds since 1970 (UTC)
  std::string version;        // the header's rootfs name, at most 255 characters
};

// File name (without folder) -> entry, in byte order of the names.
using FirmwareList = std::map<std::string, FirmwareListEntry>;

// Every "*.bin" file of the folder (the extension in any case) that the TFTP
// helper serves (OpenServedFile: a regular file, no link leading out of the
// folder) and whose header passes CheckFirmwareHeader, run on the descriptor
// that rule opened; the check's lines go to standard output. The folder may
// use '\' separators and may lack a trailing one. An empty list when the
// folder is missing or holds no image.
FirmwareList ListFirmwareFiles(std::string_view folder);

// The factory image: the first "firmware_*.bin" file, in name order, whose
// name holds "factory_zq" after its first character, that the helper serves
// and whose header passes the same check; its file name, empty when none.
std::string FindServedFactoryImage(std::string_view folder);

// The folder text with '\' turned into '/' and a trailing '/'.
std::string NormalizeFolderText(std::string_view folder);

// The model key of a device type: every "DAV-ODUVE-" and every "NVS-NVR-" removed.
std::string ModelKeyOf(std::string_view device_type);
// True when the key names an "_AF" variant.
bool IsVariantKey(std::string_view key);

// The newest image for a model: files named "firmware_" + anything + key +
// anything + ".bin" whose name holds the key as a literal text (never as a
// pattern); with `variant`, only paths holding "_AF". The newest modification
// time wins, and of equal times the path sorting last. Empty when nothing
// matches, and for an empty key.
std::filesystem::path FindFirmwareForModel(std::string_view folder, std::string_view key, bool variant);

}  // namespace kelvara::firmware
