#pragma once
// The maintenance commands of the button panel that the main window runs
// itself over the checked rows: bad-pixel presets, alarm outputs, the video
// codec of both streams, factory mode, the storage card, TV system, ONVIF
// all-net, and the batch reboot. Each becomes a BatchCommand, so every row
// ends in one terminal state; rows whose firmware upgrade runs are skipped by
// the reboot, format and factory mode. GUI-free: the window asks its
// questions and picks the rows (device/ui/batch_maintenance_host.h).
#include <optional>
#include <string>

#include "device/core/batch_job.h"
#include "device/core/batch_runner.h"
#include "device/core/device_commands.h"

namespace kelvara::device {

enum class MaintenanceKind {
  kBadPixel,      // 23 scan (preset 200), 24 save (preset 201)
  kIoOutput,      // 32802-32809
  kVideoType,     // 32907 H264, 32908 H265, 32909 H265+
  kFactoryMode,   // 33010 mode 0, 33013 mode 1
  kFormat,        // 33456
  kStorageInfo,   // 33457
  kTvSystem,      // 32970 PAL (1), 32971 NTSC (0)
  kOnvifAllNet,   // 32977 on (1), 32978 off (0)
};

struct MaintenanceCommand {
  MaintenanceKind kind = MaintenanceKind::kBadPixel;
  int value = 0;         // preset, mode, TV system or switch value
  int channel = 0;       // IO output: 1-4
  std::string codec;     // video type: "H264", "H265", "H265+"
};

// The command of a panel or popup id; nothing for other ids.
std::optional<MaintenanceCommand> MaintenanceCommandFor(int id);

// "<REQUEST_PARAM ChannelNo=\"%d\"Output=\"%d\"/>\n" (no blank between).
std::string BuildIoOutputRequest(int channel, int output);
// "<REQUEST_PARAM Mode=\"%d\"/>\n"
std::string BuildFactoryModeRequest(int mode);
// `Encode` with the two streams' `EncodeConfig`, tab-indented.
std::string BuildVideoTypeRequest(const std::string& codec);

// The batch command of one maintenance command. Commands that a worker
// answers through the SDK tap (`runner`) end by the device's reply; the
// bad-pixel preset ends when the SDK accepts it; factory mode ends as sent
// by its broadcast (offline rows included).
BatchCommand MakeMaintenanceCommand(DeviceCommands& commands, BatchRunner& runner, const MaintenanceCommand& command);

// The batch reboot of one row: the SDK reboot unless `broadcastOnly`, then
// the broadcast reboot with the operator's credentials; ends as sent by the
// broadcast, offline rows included, upgrading rows skipped.
BatchCommand MakeBatchRebootCommand(DeviceCommands& commands, const discovery::OperatorAuth& auth,
                                    bool broadcastOnly);

}  // namespace kelvara::device
