// devsim: plays many devices for Kelvara's tests and for trying Kelvara without
// a camera. Run it only inside a network namespace of its own (docs/devsim.md).
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "device_config.h"
#include "rtsp_server.h"
#include "simulator.h"

namespace {

std::atomic<bool> g_signalled{false};
void OnSignal(int) { g_signalled.store(true); }

void Usage() {
  std::fprintf(stderr,
               "usage: devsim [--config FILE] [--count N] [--base-ip A] [--serial-prefix P]\n"
               "              [--set KEY=VALUE]... [--discovery-port P] [--discovery-bind A]\n"
               "              [--max-seconds S] [--no-stdin] [--recover \"D|all [ARGS]\"]...\n"
               "Control commands are read from stdin (devsim ends when stdin closes);\n"
               "see docs/devsim.md.\n");
}

// Many devices need many sockets: take what the hard limit allows.
void RaiseFileLimit() {
  rlimit r{};
  if (getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur < r.rlim_max) {
    r.rlim_cur = r.rlim_max;
    setrlimit(RLIMIT_NOFILE, &r);
  }
}

}  // namespace

int main(int argc, char** argv) {
  using kelvara::devsim::DeviceConfig;
  using kelvara::devsim::SimConfig;
  SimConfig config;
  DeviceConfig templ;
  int count = 0;
  std::string base_ip = "127.0.0.1";
  std::string prefix = "SIM";
  std::vector<std::string> recoveries;  // "D [ARGS]" of the recover command, started once up
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        Usage();
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--config") {
      std::ifstream f(value());
      std::stringstream ss;
      ss << f.rdbuf();
      if (!f) {
        std::fprintf(stderr, "devsim: cannot read the configuration file\n");
        return 2;
      }
      const std::string err = kelvara::devsim::ParseConfigText(ss.str(), config);
      if (!err.empty()) {
        std::fprintf(stderr, "devsim: %s\n", err.c_str());
        return 2;
      }
    } else if (a == "--count") {
      count = std::atoi(value().c_str());
    } else if (a == "--base-ip") {
      base_ip = value();
    } else if (a == "--serial-prefix") {
      prefix = value();
    } else if (a == "--set") {
      const std::string kv = value();
      const auto eq = kv.find('=');
      if (eq == std::string::npos ||
          !kelvara::devsim::ApplyDeviceKey(templ, kv.substr(0, eq), kv.substr(eq + 1))) {
        std::fprintf(stderr, "devsim: bad --set %s\n", kv.c_str());
        return 2;
      }
    } else if (a == "--discovery-port") {
      config.discovery_port = std::atoi(value().c_str());
    } else if (a == "--discovery-bind") {
      config.discovery_bind = value();
    } else if (a == "--max-seconds") {
      config.max_seconds = std::atoi(value().c_str());
    } else if (a == "--no-stdin") {
      config.stdin_control = false;
    } else if (a == "--recover") {
      recoveries.push_back(value());
    } else {
      Usage();
      return 2;
    }
  }
  if (count > 0) {
    const std::string err =
        kelvara::devsim::GenerateDevices(templ, count, base_ip, prefix, config.devices);
    if (!err.empty()) {
      std::fprintf(stderr, "devsim: %s\n", err.c_str());
      return 2;
    }
  }
  if (config.devices.empty()) {
    std::fprintf(stderr, "devsim: no devices (use --count or --config)\n");
    return 2;
  }
  if (config.max_seconds <= 0 || config.max_seconds > 7 * 24 * 3600) config.max_seconds = 3600;

  RaiseFileLimit();
  signal(SIGPIPE, SIG_IGN);
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);

  kelvara::devsim::Simulator sim(config);
  const std::string err = sim.Start();
  if (!err.empty()) {
    std::fprintf(stderr, "devsim: %s\n", err.c_str());
    return 1;
  }
  // Live streams: one RTSP server per device that has them. A device whose
  // address or port cannot be served plays without streams.
  kelvara::devsim::RtspServer rtsp;
  std::vector<int> rtsp_device;  // simulator index of each served device
  {
    std::vector<kelvara::devsim::RtspDevice> served;
    for (int i = 0; i < sim.device_count(); ++i) {
      const DeviceConfig c = sim.device(i).config();
      if (c.rtsp == 0) continue;
      kelvara::devsim::RtspDevice r;
      r.ip = c.ip;
      r.port = c.video_port;
      r.user = c.user;
      r.password = c.password;
      r.codec = c.video_codec;
      r.main_width = c.main_width;
      r.main_height = c.main_height;
      r.sub_width = c.sub_width;
      r.sub_height = c.sub_height;
      r.fps = c.fps;
      r.channels = c.video_channels;
      served.push_back(r);
      rtsp_device.push_back(i);
    }
    if (!served.empty()) {
      const std::string rtsp_err = rtsp.Start(served);
      if (!rtsp_err.empty()) {
        std::fprintf(stderr, "devsim: no live streams: %s\n", rtsp_err.c_str());
        rtsp_device.clear();
      }
    }
  }
  std::vector<int> key_frames_seen(rtsp_device.size(), 0);
  auto serve_key_frame_requests = [&] {
    for (size_t k = 0; k < rtsp_device.size(); ++k) {
      const int n = sim.device(rtsp_device[k]).key_frame_requests();
      if (n != key_frames_seen[k]) {
        key_frames_seen[k] = n;
        rtsp.RequestKeyFrame(static_cast<int>(k));
      }
    }
  };
  auto rtsp_control = [&](const std::string& line) {
    std::istringstream in(line);
    std::string word, what, who;
    in >> word >> what >> who;
    int index = -1;
    for (int i = 0; i < sim.device_count() && index < 0; ++i)
      if (who == std::to_string(i) || who == sim.device(i).serial()) index = i;
    const auto it = std::find(rtsp_device.begin(), rtsp_device.end(), index);
    if (it == rtsp_device.end()) return std::string("err no such streaming device");
    const int k = static_cast<int>(it - rtsp_device.begin());
    return kelvara::devsim::RtspControl(rtsp, static_cast<int>(rtsp_device.size()),
                                        word + " " + what + " " + std::to_string(k));
  };

  // Devices that boot into recovery at once; a bad device or argument ends devsim.
  for (const std::string& spec : recoveries) {
    const auto space = spec.find(' ');
    const std::string who = spec.substr(0, space);
    const std::string args = space == std::string::npos ? "" : spec.substr(space);
    std::vector<std::string> targets;
    if (who == "all") {
      for (int i = 0; i < sim.device_count(); ++i) targets.push_back(std::to_string(i));
    } else {
      targets.push_back(who);
    }
    for (const std::string& t : targets) {
      const std::string reply = sim.Control("recover " + t + args);
      if (reply != "ok") {
        std::fprintf(stderr, "devsim: --recover %s: %s\n", spec.c_str(), reply.c_str());
        rtsp.Stop();
        sim.Stop();
        return 2;
      }
    }
  }

  std::cout << sim.Control("list") << "\n";
  for (size_t k = 0; k < rtsp_device.size(); ++k)
    std::cout << "rtsp " << rtsp_device[k] << " port=" << rtsp.port(static_cast<int>(k)) << "\n";
  std::cout << "ready" << std::endl;

  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(config.max_seconds);
  std::string pending;
  while (!g_signalled.load() && std::chrono::steady_clock::now() < end) {
    serve_key_frame_requests();
    if (!config.stdin_control) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;
    }
    pollfd p{STDIN_FILENO, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    char buf[4096];
    const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0) break;  // the controller went away
    pending.append(buf, static_cast<size_t>(n));
    size_t nl;
    bool quit = false;
    while ((nl = pending.find('\n')) != std::string::npos) {
      const std::string line = pending.substr(0, nl);
      pending.erase(0, nl + 1);
      if (line == "quit") {
        quit = true;
        break;
      }
      const std::string reply = line.rfind("rtsp ", 0) == 0 ? rtsp_control(line) : sim.Control(line);
      if (!reply.empty()) std::cout << reply << std::endl;
    }
    if (quit || pending.size() > (1u << 20)) break;
  }
  rtsp.Stop();
  sim.Stop();
  return 0;
}
