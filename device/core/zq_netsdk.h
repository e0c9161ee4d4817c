#pragma once
// The device SDK behind the DeviceSdk interface, and the registration of the
// callback bridge with it.
#include "device/core/row_login.h"
#include "device/core/sdk_bridge.h"

namespace kelvara::device {

class ZqNetSdk : public DeviceSdk {
 public:
  int Login(const std::string& address, unsigned short port, const std::string& user,
            const std::string& password) override;
  void Logout(int handle) override;
  void LogoutAll() override;
  void SetAutoReconnect(int handle, int on) override;
};

// Registers StatusEventCallBack and AuxResponseCallBack with `sink` as their
// user value; nullptr unregisters (once that returns no callback runs).
void RegisterSdkCallbacks(SdkEventSink* sink);

}  // namespace kelvara::device
