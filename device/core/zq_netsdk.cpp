#include "device/core/zq_netsdk.h"

#include <VaRurOvoDiv/zq_netsdk_ipc.h>

namespace kelvara::device {

int ZqNetSdk::Login(const std::string& address, unsigned short port, const std::string& user,
                    const std::string& password) {
  return ZQ_NETSDK_IPC_Login(address.c_str(), port, user.c_str(), password.c_str(), 0);
}

void ZqNetSdk::Logout(int handle) { ZQ_NETSDK_IPC_Logout(handle); }

void ZqNetSdk::LogoutAll() { ZQ_NETSDK_IPC_LogoutAll(); }

void ZqNetSdk::SetAutoReconnect(int handle, int on) { ZQ_NETSDK_IPC_SetAutoReconnect(handle, on); }

void RegisterSdkCallbacks(SdkEventSink* sink) {
  if (sink) {
    ZQ_NETSDK_IPC_SetStatusEventCallBack(&StatusEventCallBack, sink);
    ZQ_NETSDK_IPC_SetAUXResponseCallBack(&AuxResponseCallBack, sink);
  } else {
    ZQ_NETSDK_IPC_SetStatusEventCallBack(nullptr, nullptr);
    ZQ_NETSDK_IPC_SetAUXResponseCallBack(nullptr, nullptr);
  }
}

}  // namespace kelvara::device
