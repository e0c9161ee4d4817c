#pragma once
// The settings the main window's frame reads and writes, each saved at once by
// its caller through Save().
#include <string>

namespace kelvara::shell {

struct VideoWindowSettings {
  int rows = 0, cols = 0;                       // grid; 0 = none saved
  int left = 0, top = 0, right = 0, bottom = 0;  // screen pixels
};

class ShellSettings {
 public:
  virtual ~ShellSettings() = default;
  virtual int FullSwitchStream() const = 0;
  virtual void SetFullSwitchStream(int value) = 0;
  virtual int OpenAudio() const = 0;
  virtual void SetOpenAudio(int value) = 0;
  virtual int QrShow() const = 0;
  virtual void SetQrShow(int value) = 0;
  virtual std::string UpgradePath() const = 0;
  virtual void SetUpgradePath(const std::string& path) = 0;
  virtual std::string UpgradeFileName() const = 0;
  virtual void SetUpgradeFileName(const std::string& file) = 0;
  virtual std::string DefaultUserName() const = 0;
  virtual std::string DefaultPassword() const = 0;
  virtual void SetDefaultUserName(const std::string& name) = 0;
  virtual void SetDefaultPassword(const std::string& password) = 0;
  virtual VideoWindowSettings VideoWindow() const = 0;
  virtual void SetVideoWindow(const VideoWindowSettings& v) = 0;
  virtual int Mouse3DLocate() const = 0;
  virtual void SetMouse3DLocate(int on) = 0;
  virtual int PtzMultipleIntervalSec() const = 0;
  // Writes every setting to the settings file.
  virtual void Save() = 0;
};

// Settings held in memory only (used until a file-backed object is given, and in tests).
class MemoryShellSettings : public ShellSettings {
 public:
  int FullSwitchStream() const override { return full_switch_stream; }
  void SetFullSwitchStream(int v) override { full_switch_stream = v; }
  int OpenAudio() const override { return open_audio; }
  void SetOpenAudio(int v) override { open_audio = v; }
  int QrShow() const override { return qr_show; }
  void SetQrShow(int v) override { qr_show = v; }
  std::string UpgradePath() const override { return upgrade_path; }
  void SetUpgradePath(const std::string& p) override { upgrade_path = p; }
  std::string UpgradeFileName() const override { return upgrade_file; }
  void SetUpgradeFileName(const std::string& f) override { upgrade_file = f; }
  std::string DefaultUserName() const override { return user; }
  std::string DefaultPassword() const override { return password; }
  void SetDefaultUserName(const std::string& n) override { user = n; }
  void SetDefaultPassword(const std::string& p) override { password = p; }
  VideoWindowSettings VideoWindow() const override { return video_window; }
  void SetVideoWindow(const VideoWindowSettings& v) override { video_window = v; }
  int Mouse3DLocate() const override { return mouse_3d; }
  void SetMouse3DLocate(int on) override { mouse_3d = on; }
  int PtzMultipleIntervalSec() const override { return ptz_interval_s; }
  void Save() override { ++saves; }

  int full_switch_stream = 1, open_audio = 0, qr_show = 0, mouse_3d = 0, ptz_interval_s = 0;
  std::string upgrade_path, upgrade_file, user = "admin", password;
  VideoWindowSettings video_window;
  int saves = 0;
};

}  // namespace kelvara::shell
