#pragma once
// One process that plays many devices: discovery on UDP 3001, the SDK protocol
// on each device's command port, the device log on TCP 9999, all with bounded
// waits so that Stop() returns within a fraction of a second.
#include <netinet/in.h>

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device.h"
#include "device_config.h"
#include "lan_addresses.h"
#include "recovery_mode.h"

namespace kelvara::devsim {

class Simulator {
 public:
  explicit Simulator(SimConfig config);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Binds every socket and starts the threads; returns an error text or "".
  std::string Start();
  void Stop();

  // One control command (docs/devsim.md); returns the reply lines.
  std::string Control(const std::string& line);

  int device_count() const { return static_cast<int>(devices_.size()); }
  Device& device(int index) { return *devices_[static_cast<size_t>(index)]; }
  uint16_t command_port(int index) const;
  uint16_t log_port(int index) const;
  uint16_t discovery_port() const { return discovery_port_; }
  // The addresses this simulator put on the namespace's interface.
  std::vector<std::string> added_addresses() const { return addresses_.added(); }

 private:
  struct Listener {
    int sdk_fd = -1;
    int log_fd = -1;
    std::string bound_ip;
    std::string checked_ip;  // the address last made sure of (empty until Start)
    uint16_t sdk_port = 0;
    uint16_t log_port = 0;
  };
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };

  void AcceptLoop();
  bool Reconcile(size_t index);
  void ReportMissingAddresses();
  void Notice(const std::string& line);
  void CloseListener(Listener& l);
  void Spawn(void (Simulator::*fn)(Device&, int), Device& d, int fd);
  void ServeSdk(Device& d, int fd);
  void ServeLog(Device& d, int fd);
  void DiscoveryLoop();
  void HandleDatagram(const std::string& text, const sockaddr_in& from);
  Device* Find(const std::string& key);

  SimConfig config_;
  std::vector<std::unique_ptr<Device>> devices_;
  mutable std::mutex listeners_mutex_;
  std::vector<Listener> listeners_;
  int discovery_fd_ = -1;
  uint16_t discovery_port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread accept_thread_;
  std::thread discovery_thread_;
  std::mutex workers_mutex_;
  std::list<Worker> workers_;
  InterfaceAddresses addresses_;  // those put on the LAN for moved devices
  RecoveryRuns recovery_;  // after devices_: its threads end first
};

}  // namespace kelvara::devsim
