// Device logs at speed, against the device simulator on loopback:
// 1. one receiver and its writer taking a stream as fast as it comes, as a
//    ratio to a plain reader that copies the same stream into a file;
// 2. 100 devices logging at once at 100 KB/s each: CPU per MB logged, and
//    every byte accounted for;
// 3. 100 rows' receivers, all connected, ended the ways the window ends them:
//    replaced by a new folder, unchecked all at once, logging switched off
//    or the window closed, and (for comparison) unchecked one row at a time.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "device/core/device_logs.h"
#include "device/core/net_log_receiver.h"
#include "discovery/core/device_map.h"
#include "discovery/core/device_rows.h"
#include "simulator.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::unique_ptr<kelvara::devsim::Simulator> MakeSim(int count) {
  kelvara::devsim::SimConfig c;
  c.discovery_port = 0;
  for (int i = 0; i < count; ++i) {
    kelvara::devsim::DeviceConfig d;
    d.ip = "127.0.0.1";
    d.command_port = 0;
    d.log_port = 0;
    kelvara::devsim::CompleteDevice(d, i);
    c.devices.push_back(d);
  }
  auto sim = std::make_unique<kelvara::devsim::Simulator>(c);
  if (!sim->Start().empty()) return nullptr;
  return sim;
}

std::uintmax_t FolderBytes(const fs::path& folder) {
  std::uintmax_t n = 0;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(folder, ec))
    if (e.is_regular_file()) n += e.file_size();
  return n;
}

// Connects and copies everything into a file until `total` bytes arrived.
double PlainCopySeconds(std::uint16_t port, std::uint64_t total, const fs::path& file) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const auto start = Clock::now();
  if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) return -1;
  const int out = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  static char buf[10240];
  std::uint64_t got = 0;
  while (got < total) {
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    if (write(out, buf, static_cast<size_t>(n)) != n) break;
    got += static_cast<std::uint64_t>(n);
  }
  close(out);
  close(fd);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct NoView : kelvara::discovery::RowView {
  void RowInserted(kelvara::discovery::DeviceListRow&) override {}
  void CellText(kelvara::discovery::DeviceListRow&, int, const std::string&) override {}
  void RowTextColour(kelvara::discovery::DeviceListRow&, kelvara::discovery::RowColour) override {}
  void RowsCleared() override {}
};

double MsSince(Clock::time_point start) { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); }

// 100 rows logging from one simulated device; each way of ending their
// receivers is timed from the call to its return.
int StopTimes(const fs::path& dir) {
  using namespace kelvara;
  constexpr int kRows = 100;
  auto sim = MakeSim(1);
  if (!sim) return 1;
  SlogFilterSettings settings{"slog -1,0", (dir / "stop").string()};
  device::DeviceLogs::Hooks hooks;
  hooks.settings = [&settings] { return settings; };
  hooks.port = sim->log_port(0);
  device::DeviceLogs logs(hooks);
  logs.SetEnabled(true);
  discovery::ColumnMap columns;
  columns.BuildColumnMap({});
  NoView view;
  discovery::DeviceRows rows(columns, view);
  discovery::DeviceMap map;
  for (int i = 0; i < kRows; ++i) {
    DeviceSearchInfo record;
    record.serialNumber = "L" + std::to_string(i);
    record.lanConfig.ipAddress = "10.77.1." + std::to_string(i + 1);
    map.AddOrUpdateDevice(record, "10.77.0.1", 1);
  }
  rows.RefreshDeviceList(map, {});
  for (std::size_t i = 0; i < rows.Count(); ++i) {
    rows.At(i).m_searchInfo.lanConfig.ipAddress = "127.0.0.1";  // the simulator listens on loopback
    rows.At(i).m_loginSerial = rows.At(i).m_key;
  }
  auto startAll = [&] {
    for (std::size_t i = 0; i < rows.Count(); ++i) rows.At(i).checked = true;
    logs.RefreshNetLogReceivers(rows);
    const auto until = Clock::now() + 10s;
    for (std::size_t i = 0; i < rows.Count() && Clock::now() < until; ++i)
      while (!device::DeviceLogs::ReceiverOf(rows.At(i))->Connected() && Clock::now() < until)
        std::this_thread::sleep_for(5ms);
  };
  auto uncheckAll = [&] {
    for (std::size_t i = 0; i < rows.Count(); ++i) rows.At(i).checked = false;
  };
  startAll();
  Clock::time_point start = Clock::now();
  settings.save_path = (dir / "stop2").string();
  logs.RefreshNetLogReceivers(rows);
  const double replaced = MsSince(start);
  startAll();
  uncheckAll();
  start = Clock::now();
  logs.RefreshNetLogReceivers(rows);
  const double unchecked = MsSince(start);
  startAll();
  start = Clock::now();
  device::DeviceLogs::StopAll(rows);
  const double stopped = MsSince(start);
  startAll();
  uncheckAll();
  start = Clock::now();
  for (std::size_t i = 0; i < rows.Count(); ++i) logs.UpdateNetLogReceiver(rows.At(i), false);
  const double oneByOne = MsSince(start);
  std::printf("100 receivers ended: new folder %.0f ms, uncheck all %.0f ms, switched off or window closed %.0f ms; "
              "one row at a time %.0f ms\n",
              replaced, unchecked, stopped, oneByOne);
  return 0;
}

}  // namespace

int main() {
  const fs::path dir = fs::temp_directory_path() / ("kelvara-log-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);
  constexpr std::uint64_t kTotal = 256ull << 20;
  {
    auto sim = MakeSim(1);
    if (!sim) return 1;
    sim->Control("logmode 0 raw");
    sim->Control("logstream 0 0 " + std::to_string(kTotal) + " 0123456789abcdef00ff0d0a");
    const double plain = PlainCopySeconds(sim->log_port(0), kTotal, dir / "plain.bin");
    sim->Control("logstream 0 0 " + std::to_string(kTotal) + " 0123456789abcdef00ff0d0a");
    const auto start = Clock::now();
    double seconds = 0;
    {
      kelvara::device::NetLogRecverThread receiver(htonl(INADDR_LOOPBACK), sim->log_port(0), "B", dir / "one");
      receiver.Start();
      while (FolderBytes(dir / "one") < kTotal + 20 && Clock::now() - start < 120s) std::this_thread::sleep_for(5ms);
      seconds = std::chrono::duration<double>(Clock::now() - start).count();
    }
    std::printf("one receiver: %.0f MB/s to disk; plain copy %.0f MB/s; ratio %.2f\n", kTotal / seconds / 1e6,
                kTotal / plain / 1e6, plain / seconds);
  }
  {
    constexpr int kDevices = 100;
    constexpr std::uint64_t kRate = 100 * 1000;
    constexpr std::uint64_t kPerDevice = 5 * kRate;  // five seconds each
    auto sim = MakeSim(kDevices);
    if (!sim) return 1;
    std::vector<std::unique_ptr<kelvara::device::NetLogRecverThread>> receivers;
    const double cpu0 = CpuSeconds();
    for (int i = 0; i < kDevices; ++i) {
      sim->Control("logmode " + std::to_string(i) + " raw");
      sim->Control("logstream " + std::to_string(i) + " " + std::to_string(kRate) + " " +
                   std::to_string(kPerDevice) + " 6c6f67206c696e650d0a");
      receivers.push_back(std::make_unique<kelvara::device::NetLogRecverThread>(
          htonl(INADDR_LOOPBACK), sim->log_port(i), "D" + std::to_string(i), dir / "many"));
      receivers.back()->Start();
    }
    const auto start = Clock::now();
    // The simulator itself runs in this process: its CPU is measured apart below.
    while (Clock::now() - start < 20s) {
      bool all = true;
      for (int i = 0; i < kDevices && all; ++i)
        all = FolderBytes(receivers[static_cast<size_t>(i)]->GetLogFolder()) >= kPerDevice;
      if (all) break;
      std::this_thread::sleep_for(50ms);
    }
    for (auto& r : receivers) r->Stop();
    receivers.clear();
    const double cpu = CpuSeconds() - cpu0;
    std::uint64_t lost = 0;
    for (int i = 0; i < kDevices; ++i) {
      const std::string sent = sim->Control("logsent " + std::to_string(i));
      const std::uint64_t n = std::stoull(sent.substr(3));
      const fs::path folder = kelvara::device::DeviceLogFolder(dir / "many", htonl(INADDR_LOOPBACK),
                                                                "D" + std::to_string(i));
      const std::uint64_t stored = FolderBytes(folder);
      // The stored files hold the receiver's own lines too (connect, command).
      lost += stored >= n ? 0 : n - stored;
    }
    const double mb = kDevices * kPerDevice / 1e6;
    std::printf("100 devices at 100 KB/s: %.1f MB logged, %.1f ms CPU per MB (simulator included), %llu bytes lost\n",
                mb, cpu * 1000 / mb, static_cast<unsigned long long>(lost));
  }
  if (StopTimes(dir) != 0) return 1;
  fs::remove_all(dir);
  return 0;
}
