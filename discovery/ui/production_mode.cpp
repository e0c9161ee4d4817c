#include "discovery/ui/production_mode.h"

#include "common/text_convert.h"
#include "common/log_text.h"
#include "discovery/core/discovery_log.h"

namespace kelvara::discovery {
namespace {

// Device texts are 8-bit in the device code page.
QString Wide(const std::string& text) { return QString::fromStdU16String(AnsiToCString(text.c_str())); }

}  // namespace

void ProductionModeActions::Play(const char* file) {
  if (hooks_.playSound) hooks_.playSound(hooks_.programDir + QLatin1Char('/') + QLatin1String(file));
}

OperatorAuth ProductionModeActions::Login() const {
  return hooks_.defaultLogin ? hooks_.defaultLogin() : OperatorAuth{"admin", ""};
}

void ProductionModeActions::PrintLabelAndRestore(const DeviceSearchInfo& record) {
  Play("startprint.mp3");
  if (!hooks_.printQrLabel || hooks_.printQrLabel(Wide(record.p2pId), Wide(record.serialNumber)) != 1)
    Log("production mode: label of %s not printed\n", EscapeForLog(record.serialNumber).c_str());
  Play("restore.mp3");
  if (hooks_.send && RestoreDevByBD(record, 0, Login(), hooks_.send) != 0)
    Log("restore IPC %s failed. error = %ld", EscapeForLog(record.serialNumber).c_str(), static_cast<long>(kBodyNotBuilt));
}

void ProductionModeActions::SwitchToDhcp(const DeviceSearchInfo& record) {
  if (hooks_.send && SetLanConfigByBD(record, Login(), hooks_.send) != 0)
    Log("set IPC %s failed. error = %ld", EscapeForLog(record.serialNumber).c_str(), static_cast<long>(kBodyNotBuilt));
}

}  // namespace kelvara::discovery
