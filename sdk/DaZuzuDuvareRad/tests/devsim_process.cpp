#include "devsim_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "kelvara_test/test_env.h"

namespace kelvara::test {

DevsimProcess::~DevsimProcess() {
  if (to_child_ >= 0) close(to_child_);  // devsim ends when its stdin closes
  if (pid_ > 0) {
    for (int i = 0; i < 100; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      usleep(20000);
    }
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  if (from_child_ >= 0) close(from_child_);
}

bool DevsimProcess::Start(const std::string& config_text, std::string* why) {
  const std::string config_path = (MakeTempDir("devsim") / "devsim.conf").string();
  std::ofstream(config_path) << config_text;
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0) {
    *why = "pipe";
    return false;
  }
  const std::string bin = (BinDir() / "devsim").string();
  pid_ = fork();
  if (pid_ == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[0]), close(in[1]), close(out[0]), close(out[1]);
    // devsim is the peer, not what is tested: in sanitizer builds GStreamer's
    // uninstrumented internals would stop it with reports about themselves.
    setenv("TSAN_OPTIONS", "report_bugs=0", 1);
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    execl(bin.c_str(), bin.c_str(), "--config", config_path.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  to_child_ = in[1];
  from_child_ = out[0];
  if (pid_ < 0) {
    *why = "fork";
    return false;
  }
  std::string line;
  while (ReadLine(line, std::chrono::seconds(30))) {
    if (line == "ready") return true;
    int index = 0, port = 0;
    if (std::sscanf(line.c_str(), "rtsp %d port=%d", &index, &port) == 2) rtsp_ports_[index] = port;
    char serial[64], ip[64];
    int log = 0;
    if (std::sscanf(line.c_str(), "device %d %63s %63s sdk=%d log=%d", &index, serial, ip, &port, &log) == 5)
      sdk_ports_[index] = port;
  }
  *why = "devsim did not become ready";
  return false;
}

bool DevsimProcess::ReadLine(std::string& line, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const size_t nl = buffered_.find('\n');
    if (nl != std::string::npos) {
      line = buffered_.substr(0, nl);
      buffered_.erase(0, nl + 1);
      return true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{from_child_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char buf[1024];
    const ssize_t n = read(from_child_, buf, sizeof buf);
    if (n <= 0) return false;
    buffered_.append(buf, static_cast<size_t>(n));
  }
}

std::string DevsimProcess::Command(const std::string& line) {
  const std::string text = line + "\n";
  if (write(to_child_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return "";
  std::string reply;
  return ReadLine(reply, std::chrono::seconds(10)) ? reply : "";
}

int DevsimProcess::RtspPort(int device) const {
  auto it = rtsp_ports_.find(device);
  return it == rtsp_ports_.end() ? 0 : it->second;
}

int DevsimProcess::SdkPort(int device) const {
  auto it = sdk_ports_.find(device);
  return it == sdk_ports_.end() ? 0 : it->second;
}

}  // namespace kelvara::test
