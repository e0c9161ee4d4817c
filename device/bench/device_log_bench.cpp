// Device logs at speed, against the device simulator on loopback:
// 1. one receiver and its writer taking a stream as fast as it comes, as a
//    ratio to a plain reader that copies the same stream into a file;
// 2. 100 devices logging at once at 100 KB/s each: CPU per MB logged, and
//    every byte accounted for.
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

#include "device/core/net_log_receiver.h"
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
  fs::remove_all(dir);
  return 0;
}
