#pragma once
// The SDK as the command workers use it, with every request reported after
// it was made (handle, command code, immediate result): batch jobs learn
// from it what a worker sent and whether the SDK accepted it.
#include <functional>
#include <string>

#include "device/core/command_sdk.h"

namespace kelvara::device {

class SdkTap : public CommandSdk {
 public:
  explicit SdkTap(CommandSdk* inner = nullptr) : inner_(inner) {}
  void SetInner(CommandSdk* inner) { inner_ = inner; }

  // Called after each request; code 0 for reboots and file calls.
  std::function<void(int handle, int code, int result)> onRequest;

  int SystemControl(int h, int code, const std::string& text) override {
    return Report(h, code, inner_->SystemControl(h, code, text));
  }
  int GetDVRConfig(int h, int code) override { return Report(h, code, inner_->GetDVRConfig(h, code)); }
  int SetDVRConfig(int h, int code, const std::string& text) override {
    return Report(h, code, inner_->SetDVRConfig(h, code, text));
  }
  int SetDeviceConfig(int h, int code, const std::string& text) override {
    return Report(h, code, inner_->SetDeviceConfig(h, code, text));
  }
  int RebootDVR(int h) override { return Report(h, 0, inner_->RebootDVR(h)); }
  int PTZPreset(int h, int operation, int preset) override {
    return Report(h, 0, inner_->PTZPreset(h, operation, preset));
  }
  int GetConfigFile(int h, const std::string& path) override { return Report(h, 0, inner_->GetConfigFile(h, path)); }
  int SetConfigFile(int h, const std::string& path) override { return Report(h, 0, inner_->SetConfigFile(h, path)); }
  int GetFileByName(int h, int kind, const std::string& devicePath, const std::string& path) override {
    return Report(h, 0, inner_->GetFileByName(h, kind, devicePath, path));
  }

 private:
  int Report(int h, int code, int result) {
    if (onRequest) onRequest(h, code, result);
    return result;
  }
  CommandSdk* inner_;
};

}  // namespace kelvara::device
