#include "firmware/tests/upgrade_harness.h"

#include <VaRurOvoDiv/zq_netsdk_ipc.h>

#include <thread>

#include "device/core/zq_netsdk.h"
#include "digest.h"
#include "kelvara_test/test_env.h"

namespace kelvara::firmware::test {

std::string Sha256Hex(const std::string& bytes) {
  return varurovodiv::wire::ToHex(varurovodiv::wire::DigestBytes(varurovodiv::wire::Sha256Of(bytes)));
}

UpgradeHarness::UpgradeHarness(devsim::Simulator& s) : sim(s) {
  columns.BuildColumnMap({});
  auto rows_fn = [this] { return &rows.rows; };
  auto lookup = [](const char* key) { return std::string(key); };
  seams = std::make_unique<FirmwareDeviceSeams>([this] { return actions.get(); });
  device::DeviceCommands::Options options;
  options.sdk = &command_sdk;
  options.lookup = lookup;
  options.documentsDir = [] { return kelvara::test::HomeDir() / "Documents"; };
  options.seams.login = seams.get();
  options.seams.transfers = seams.get();
  commands = std::make_unique<device::DeviceCommands>([this]() -> discovery::DeviceRows& { return rows.rows; },
                                                      std::move(options));
  replies = std::make_unique<device::AuxReplyHandler>(*commands);
  events = std::make_unique<device::StatusEventHandler>(*commands, *replies);
  workers = std::make_unique<CommandFileWorkers>(rows_fn, *commands);
  actions = std::make_unique<FirmwareActions>(rows_fn, sdk, *workers, window, lookup, [this] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  });
  ZQ_NETSDK_IPC_Init();
  device::RegisterSdkCallbacks(static_cast<device::SdkEventSink*>(&sink));
  for (int i = 0; i < sim.device_count(); ++i) {
    auto info = discovery::ParseSearchReply(sim.device(i).SearchReplyText());
    if (!info) continue;
    map.AddOrUpdateDevice(*info, "10.77.0.1", 1);
  }
  rows.rows.RefreshDeviceList(map, {});
}

UpgradeHarness::~UpgradeHarness() {
  ZQ_NETSDK_IPC_LogoutAll();
  device::RegisterSdkCallbacks(nullptr);
  ZQ_NETSDK_IPC_Cleanup();
}

bool UpgradeHarness::LoginAll(std::chrono::milliseconds limit) {
  for (int i = 0; i < sim.device_count(); ++i) {
    discovery::DeviceListRow& row = Row(i);
    const devsim::DeviceConfig c = sim.device(i).config();
    const int handle = ZQ_NETSDK_IPC_Login(c.ip.c_str(), static_cast<unsigned short>(sim.command_port(i)),
                                           c.user.c_str(), c.password.c_str(), 0);
    ZQ_NETSDK_IPC_SetAutoReconnect(handle, 1);
    rows.rows.SetLoginHandle(row, handle);
    row.checked = true;
    row.m_loginVersion = c.fs_version;
  }
  return PumpUntil(
      [this] {
        for (int i = 0; i < sim.device_count(); ++i)
          if (!Row(i).m_online) return false;
        return true;
      },
      limit);
}

bool UpgradeHarness::PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit,
                               std::chrono::milliseconds watch_every) {
  const auto end = std::chrono::steady_clock::now() + limit;
  auto next_watch = std::chrono::steady_clock::now() + watch_every;
  while (!done()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) return false;
    std::deque<device::DeviceStatusEvent> status;
    std::deque<device::DeviceAuxResponse> answers;
    {
      std::unique_lock lock(sink.mutex);
      sink.cv.wait_for(lock, std::chrono::milliseconds(20),
                       [this] { return !sink.events.empty() || !sink.replies.empty(); });
      status.swap(sink.events);
      answers.swap(sink.replies);
    }
    for (const auto& e : status) {
      seen.push_back(e);
      device::ApplyLoginStateEvent(rows.rows, e, [](const char* key) { return std::string(key); });
      events->OnDeviceStatusEvent(e);
    }
    for (const auto& r : answers) replies->OnDeviceAuxResponse(r);
    if (std::chrono::steady_clock::now() >= next_watch) {
      actions->OnUpgradeWatchTick();
      next_watch += watch_every;
    }
  }
  return true;
}

bool UpgradeHarness::FinishRun(std::chrono::milliseconds limit) {
  return PumpUntil(
      [this] {
        if (!actions->Jobs().RunFinished()) return false;
        for (std::size_t i = 0; i < rows.rows.Count(); ++i)
          if (rows.rows.At(i).m_busy) return false;
        return true;
      },
      limit);
}

std::vector<std::string> UpgradeHarness::ReceivedFiles(int device) {
  std::vector<std::string> out;
  for (const auto& e : sim.device(device).Journal(false))
    if (e.channel == "file") out.push_back(e.bytes);
  return out;
}

}  // namespace kelvara::firmware::test
