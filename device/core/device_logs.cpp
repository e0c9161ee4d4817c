#include "device/core/device_logs.h"

#include <arpa/inet.h>

#include <vector>

#include "common/atomic_file.h"
#include "common/debug_log.h"

namespace kelvara::device {

DeviceLogs::DeviceLogs(Hooks hooks) : hooks_(std::move(hooks)) {}

NetLogRecverThread* DeviceLogs::ReceiverOf(discovery::DeviceListRow& row) {
  return dynamic_cast<NetLogRecverThread*>(row.m_netLogThread.get());
}

void DeviceLogs::UpdateNetLogReceiver(discovery::DeviceListRow& row, bool checked) {
  if (!enabled_ || !checked) {
    row.m_netLogThread.reset();
    return;
  }
  in_addr parsed{};
  const bool valid = inet_pton(AF_INET, row.m_searchInfo.lanConfig.ipAddress.c_str(), &parsed) == 1;
  if (!valid) {
    // An address that does not parse gets no receiver.
    row.m_netLogThread.reset();
    return;
  }
  const SlogFilterSettings settings = hooks_.settings ? hooks_.settings() : SlogFilterSettings{};
  const std::filesystem::path base = settings.save_path;
  const std::uint32_t address = parsed.s_addr;
  if (NetLogRecverThread* current = ReceiverOf(row)) {
    if (current->GetIp() == address && current->GetPort() == hooks_.port && current->GetName() == row.m_loginSerial &&
        current->GetBaseDir() == base) {
      current->SetAutoCommand(settings.default_filter);
      return;
    }
    row.m_netLogThread.reset();
  }
  NetLogRecverThread::Options options = hooks_.receiver;
  if (hooks_.writeError) {
    options.writer.onError = [report = hooks_.writeError, address, name = row.m_loginSerial](const std::string& m) {
      report(address, name, m);
    };
  }
  auto receiver = std::make_unique<NetLogRecverThread>(address, hooks_.port, row.m_loginSerial, base, options);
  receiver->SetAutoCommand(settings.default_filter);
  if (receiver->Start() != 0) {
    DebugLogPrintf("device log: no receiver thread for %s", row.m_searchInfo.lanConfig.ipAddress.c_str());
    return;
  }
  row.m_netLogThread = std::move(receiver);
}

void DeviceLogs::RefreshNetLogReceivers(discovery::DeviceRows& rows) {
  // Receivers that go are all told first, so replacing many is not many waits in turn.
  if (!enabled_) {
    StopAll(rows);
    return;
  }
  for (std::size_t i = 0; i < rows.Count(); ++i) {
    discovery::DeviceListRow& row = rows.At(i);
    if (!row.checked)
      if (NetLogRecverThread* r = ReceiverOf(row)) r->Stop();
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
    if (NetLogRecverThread* r = ReceiverOf(rows.At(i))) r->Stop();
  for (std::size_t i = 0; i < rows.Count(); ++i) rows.At(i).m_netLogThread.reset();
}

}  // namespace kelvara::device
