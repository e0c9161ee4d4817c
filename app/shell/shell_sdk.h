#pragma once
// The process-wide set-up and release calls of the device SDK, the RTSP client
// and the player, behind one interface: start-up and shut-down call them in a
// fixed order, and tests record that order with a fake.
#include <string>

namespace kelvara::shell {

class ShellSdk {
 public:
  virtual ~ShellSdk() = default;
  // Player, before the main window exists; released when it closes and again at exit.
  virtual int PlayerInit() = 0;
  virtual int PlayerReleaseAll() = 0;
  // RTSP client, in the main window's initialisation; released when it closes.
  virtual int RtspInitLib() = 0;
  virtual int RtspReleaseLib() = 0;
  // Device SDK set-up: init, version queries, the status-event and AUX-reply
  // callbacks (user value = the sink that posts SDK events to the main
  // window), automatic reconnect.
  virtual int NetSdkInit() = 0;
  virtual std::string NetSdkVersion() = 0;
  virtual std::string NetSdkBuildDate() = 0;
  virtual int RegisterCallbacks(void* event_sink) = 0;
  virtual int SetAutoReconnect(int login_handle, int on) = 0;
  // Device SDK shut-down: log every device out, stop callbacks, join the SDK's threads.
  virtual int LogoutAll() = 0;
  virtual int UnregisterCallbacks() = 0;
  virtual int NetSdkCleanup() = 0;
};

}  // namespace kelvara::shell
