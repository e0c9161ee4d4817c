#include "device/core/device_logs.h"

#include <arpa/inet.h>

#include <optional>
#include <vector>

#include "common/atomic_file.h"
#include "common/debug_log.h"

namespace kelvara::device {

DeviceLogs::DeviceLogs(Hooks hooks) : hooks_(std::move(hooks)) {}

NetLogRecverThread* DeviceLogs::ReceiverOf(discovery::DeviceListRow& row) {
  return dynamic_cast<NetLogRecverThread*>(row.m_netLogThread.get());
}

namespace {

// The row's address in network order; nothing when it is not dotted IPv4.
std::optional<std::uint32_t> RowAddress(const discovery::DeviceListRow& row) {
  in_addr parsed{};
  if (inet_pton(AF_INET, row.m_searchInfo.lanConfig.ipAddress.c_str(), &parsed) != 1) return std::nullopt;
  return parsed.s_addr;
}

}  // namespace

bool DeviceLogs::KeepsReceiver(discovery::DeviceListRow& row, bool checked, const SlogFilterSettings& settings) const {
  const NetLogRecverThread* current = ReceiverOf(row);
  if (current == nullptr || !enabled_ || !checked) return false;
  const std::optional<std::uint32_t> address = RowAddress(row);
  return address && current->GetIp() == *address && current->GetPort() == hooks_.port &&
         current->GetName() == row.m_loginSerial && current->GetBaseDir() == std::filesystem::path(settings.save_path);
}

void DeviceLogs::UpdateNetLogReceiver(discovery::DeviceListRow& row, bool checked) {
  const SlogFilterSettings settings = hooks_.settings ? hooks_.settings() : SlogFilterSettings{};
  if (KeepsReceiver(row, checked, settings)) {
    ReceiverOf(row)->SetAutoCommand(settings.default_filter);
    return;
  }
  row.m_netLogThread.reset();
  const std::optional<std::uint32_t> parsed = RowAddress(row);
  // Off, unchecked, or an address that does not parse: no receiver.
  if (!enabled_ || !checked || !parsed) return;
  const std::uint32_t address = *parsed;
  NetLogRecverThread::Options options = hooks_.receiver;
  if (hooks_.writeError) {
    options.writer.onError = [report = hooks_.writeError, address, name = row.m_loginSerial](const std::string& m) {
      report(address, name, m);
    };
  }
  auto receiver =
      std::make_unique<NetLogRecverThread>(address, hooks_.port, row.m_loginSerial, settings.save_path, options);
  receiver->SetAutoCommand(settings.default_filter);
  if (receiver->Start() != 0) {
    DebugLogPrintf("device log: no receiver thread for %s", row.m_searchInfo.lanConfig.ipAddress.c_str());
    return;
  }
  row.m_netLogThread = std::move(receiver);
}

void DeviceLogs::RefreshNetLogReceivers(discovery::DeviceRows& rows) {
  if (!enabled_) {
    StopAll(rows);
    return;
  }
  // Every receiver that goes (row unchecked, or a new address, name or
  // folder) is told first; only then is each waited for and replaced, so
  // N of them take about one stop time, not N.
  const SlogFilterSettings settings = hooks_.settings ? hooks_.settings() : SlogFilterSettings{};
  for (std::size_t i = 0; i < rows.Count(); ++i) {
    discovery::DeviceListRow& row = rows.At(i);
    if (row.m_netLogThread && !KeepsReceiver(row, row.checked, settings)) row.m_netLogThread->RequestStop();
  }
  for (std::size_t i = 0; i < rows.Count(); ++i) UpdateNetLogReceiver(rows.At(i), rows.At(i).checked);
}

void DeviceLogs::OpenDeviceSlog(discovery::DeviceRows& rows, int handle) {
  if (!enabled_ || handle <= 0) return;
  for (std::size_t i = 0; i < rows.Count(); ++i) {
    discovery::DeviceListRow& row = rows.At(i);
    if (row.m_loginHandle != handle) continue;
    if (row.m_searchInfo.deviceType.find(kOpenSlogDeviceType) == std::string::npos) return;
    SendOpenSlogFile(static_cast<int>(i), &row);
    return;
  }
}

int DeviceLogs::SendOpenSlogFile(int index, discovery::DeviceListRow* row) {
  if (row == nullptr || index < 0 || !enabled_ || !hooks_.documentsFolder) return -1;
  const std::filesystem::path file = hooks_.documentsFolder() / "slog" / "openslog.xml";
  std::error_code ec;
  // An existing file is sent as it is; a missing one is written first.
  if (!std::filesystem::is_regular_file(file, ec)) {
    std::filesystem::create_directories(file.parent_path(), ec);
    if (!WriteFileAtomically(file, kOpenSlogFileText)) {
      DebugLogPrintf("device log: cannot write %s", file.string().c_str());
      return -1;
    }
  }
  return hooks_.uploadConfigFile ? hooks_.uploadConfigFile(*row, file.string()) : -1;
}

void DeviceLogs::StopAll(discovery::DeviceRows& rows) {
  for (std::size_t i = 0; i < rows.Count(); ++i)
    if (rows.At(i).m_netLogThread) rows.At(i).m_netLogThread->RequestStop();
  for (std::size_t i = 0; i < rows.Count(); ++i) rows.At(i).m_netLogThread.reset();
}

}  // namespace kelvara::device
