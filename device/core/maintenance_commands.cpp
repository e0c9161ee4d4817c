#include "device/core/maintenance_commands.h"

#include <tinyxml.h>

#include <cstdio>

#include "common/debug_log.h"
#include "common/language_table.h"
#include "common/log_text.h"
#include "device/core/command_codes.h"

namespace kelvara::device {

namespace {

// The SDK's PTZ preset operation "set preset".
constexpr int kPtzSetPreset = 8;

std::string Printf(const char* format, int a, int b = 0) {
  char text[96];
  const int n = std::snprintf(text, sizeof text, format, a, b);
  return std::string(text, n > 0 ? static_cast<std::size_t>(n) : 0);
}

MaintenanceCommand Make(MaintenanceKind kind, int value = 0, int channel = 0, std::string codec = {}) {
  MaintenanceCommand m;
  m.kind = kind;
  m.value = value;
  m.channel = channel;
  m.codec = std::move(codec);
  return m;
}

}  // namespace

std::optional<MaintenanceCommand> MaintenanceCommandFor(int id) {
  switch (id) {
    case 23: return Make(MaintenanceKind::kBadPixel, 200);
    case 24: return Make(MaintenanceKind::kBadPixel, 201);
    case 32907: return Make(MaintenanceKind::kVideoType, 0, 0, "H264");
    case 32908: return Make(MaintenanceKind::kVideoType, 0, 0, "H265");
    case 32909: return Make(MaintenanceKind::kVideoType, 0, 0, "H265+");
    case 33010: return Make(MaintenanceKind::kFactoryMode, 0);
    case 33013: return Make(MaintenanceKind::kFactoryMode, 1);
    case 33456: return Make(MaintenanceKind::kFormat);
    case 33457: return Make(MaintenanceKind::kStorageInfo);
    case 32970: return Make(MaintenanceKind::kTvSystem, 1);
    case 32971: return Make(MaintenanceKind::kTvSystem, 0);
    case 32977: return Make(MaintenanceKind::kOnvifAllNet, 1);
    case 32978: return Make(MaintenanceKind::kOnvifAllNet, 0);
    default: break;
  }
  if (id >= 32802 && id <= 32809) {
    const int k = id - 32802;
    return Make(MaintenanceKind::kIoOutput, k % 2, k / 2 + 1);
  }
  return std::nullopt;
}

std::string BuildIoOutputRequest(int channel, int output) {
  return Printf("<REQUEST_PARAM ChannelNo=\"%d\"Output=\"%d\"/>\n", channel, output);
}

std::string BuildFactoryModeRequest(int mode) { return Printf("<REQUEST_PARAM Mode=\"%d\"/>\n", mode); }

std::string BuildVideoTypeRequest(const std::string& codec) {
  TiXmlDocument doc;
  TiXmlElement root("Encode");
  for (int stream = 1; stream <= 2; ++stream) {
    TiXmlElement e("EncodeConfig");
    e.SetAttribute("Stream", stream);
    e.SetAttribute("Resolution", "INVALID");
    e.SetAttribute("EncodeFormat", codec.c_str());
    e.SetAttribute("BitRateControl", "VBR");
    e.SetAttribute("Initquant", 100);
    e.SetAttribute("BitRate", 200000);
    e.SetAttribute("FrameRate", 25);
    root.InsertEndChild(e);
  }
  doc.InsertEndChild(root);
  TiXmlPrinter printer;
  printer.SetIndent("\t");
  doc.Accept(&printer);
  return printer.CStr();
}

BatchCommand MakeMaintenanceCommand(DeviceCommands& c, BatchRunner& runner, const MaintenanceCommand& m) {
  using Answer = BatchCommand::Answer;
  switch (m.kind) {
    case MaintenanceKind::kBadPixel: {
      BatchCommand command;
      command.answer = Answer::kAccepted;
      command.send = [&c, preset = m.value](DeviceListRow& row) {
        const int result = c.Sdk().PTZPreset(row.m_loginHandle, kPtzSetPreset, preset);
        if (result != 0) c.SetStatus(row, LangKey("SET_PRESET_FAILED"));
        return result;
      };
      return command;
    }
    case MaintenanceKind::kIoOutput:
      return runner.FromWorker([&c, text = BuildIoOutputRequest(m.channel, m.value)](DeviceListRow* row) {
        if (c.Sdk().SystemControl(row->m_loginHandle, SYS_CTRL_SET_IO_OUTPUT, text) != 0)
          c.SetStatus(*row, LangKey("SET_IOOUTPUT_FAILED"));
      });
    case MaintenanceKind::kVideoType:
      return runner.FromWorker([&c, text = BuildVideoTypeRequest(m.codec)](DeviceListRow* row) {
        if (c.Sdk().SetDVRConfig(row->m_loginHandle, SET_CFG_VIDEO_ENCODE, text) != 0) c.SetStatus(*row, LangKey("MSGTIP39"));
      });
    case MaintenanceKind::kFactoryMode: {
      BatchCommand command;
      command.answer = Answer::kBroadcast;
      command.skipBusy = true;
      command.send = [&c, mode = m.value](DeviceListRow& row) {
        // The device's own switch first where it is reachable; the broadcast
        // reaches it by serial whether it is logged in or not.
        if (row.m_online && row.m_loginHandle > 0)
          c.Sdk().SystemControl(row.m_loginHandle, SYS_CTRL_SET_FACTORY_MODE, BuildFactoryModeRequest(mode));
        const long result = c.Seams().Network().SetFactoryModeByBD(row.m_searchInfo.serialNumber, mode);
        if (result != 0)
          DebugLogPrintf("set factory mode IPC %s failed. error = %ld",
                         EscapeForLog(row.m_searchInfo.serialNumber).c_str(), result);
        return static_cast<int>(result);
      };
      return command;
    }
    case MaintenanceKind::kFormat:
      return runner.FromWorker([&c](DeviceListRow* row) { c.FormatRowSdCard(row); }, Answer::kReply, true);
    case MaintenanceKind::kStorageInfo:
      return runner.FromWorker(
          [&c](DeviceListRow* row) { c.Sdk().SystemControl(row->m_loginHandle, SYS_CTRL_GET_STORAGE_INFO, ""); });
    case MaintenanceKind::kTvSystem:
      return runner.FromWorker([&c, v = m.value](DeviceListRow* row) { c.RequestTvSystemChange(row, v); });
    case MaintenanceKind::kOnvifAllNet:
      return runner.FromWorker([&c, v = m.value](DeviceListRow* row) { c.RequestOnvifAllNetChange(row, v); });
  }
  return {};
}

BatchCommand MakeBatchRebootCommand(DeviceCommands& c, const discovery::OperatorAuth& auth, bool broadcastOnly) {
  BatchCommand command;
  command.answer = BatchCommand::Answer::kBroadcast;
  command.skipBusy = true;
  command.send = [&c, auth, broadcastOnly](DeviceListRow& row) {
    if (!broadcastOnly && row.m_online) c.RebootRow(&row);
    const long result = c.Seams().Network().RebootDevByBD(row.m_searchInfo.serialNumber, auth);
    if (result != 0)
      DebugLogPrintf("RebootDevByBD %s failed. error = %ld", EscapeForLog(row.m_searchInfo.serialNumber).c_str(),
                     result);
    return static_cast<int>(result);
  };
  return command;
}

}  // namespace kelvara::device
