#pragma once
// devsim as a child process on loopback (no discovery), for stream tests: its
// stdin takes control commands, its stdout gives the ports it bound.
#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>

namespace kelvara::test {

class DevsimProcess {
 public:
  DevsimProcess() = default;
  ~DevsimProcess();
  DevsimProcess(const DevsimProcess&) = delete;
  DevsimProcess& operator=(const DevsimProcess&) = delete;

  // Starts build/bin/devsim with a configuration file of this text and waits
  // for "ready" (up to 30 s). False with the reason in *why.
  bool Start(const std::string& config_text, std::string* why);
  // One control command; the first reply line.
  std::string Command(const std::string& line);
  int RtspPort(int device) const;
  int SdkPort(int device) const;

 private:
  bool ReadLine(std::string& line, std::chrono::milliseconds timeout);

  pid_t pid_ = -1;
  int to_child_ = -1, from_child_ = -1;
  std::string buffered_;
  std::map<int, int> rtsp_ports_, sdk_ports_;
};

}  // namespace kelvara::test
