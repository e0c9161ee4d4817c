#pragma once
// The device simulator on loopback for the tests: devices with the given
// password, on ports the system picks, without discovery or streams.
#include <memory>
#include <string>

#include "simulator.h"

namespace varurovodiv::test {

inline std::unique_ptr<kelvara::devsim::Simulator> StartLoopbackDevices(const std::string& password,
                                                                        int count) {
  kelvara::devsim::SimConfig c;
  c.discovery_port = 0;  // loopback only
  for (int i = 0; i < count; ++i) {
    kelvara::devsim::DeviceConfig d;
    d.ip = "127.0.0.1";
    d.command_port = 0;
    d.log_port = 0;
    d.password = password;
    d.rtsp = 0;
    kelvara::devsim::CompleteDevice(d, i);
    c.devices.push_back(d);
  }
  auto sim = std::make_unique<kelvara::devsim::Simulator>(c);
  if (!sim->Start().empty()) return nullptr;
  return sim;
}

inline std::unique_ptr<kelvara::devsim::Simulator> StartLoopbackDevice(const std::string& password) {
  return StartLoopbackDevices(password, 1);
}

}  // namespace varurovodiv::test
