#pragma once
// The settings the main window's frame reads and writes, each saved at once by
// its caller through Save().
#include <string>

#include "common/save_param.h"

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
  // The configuration file sent to devices (UploadCfgFileName).
  virtual std::string UploadCfgFileName() const { return {}; }
  virtual void SetUploadCfgFileName(const std::string&) {}
  virtual std::string DefaultUserName() const = 0;
  virtual std::string DefaultPassword() const = 0;
  virtual void SetDefaultUserName(const std::string& name) = 0;
  virtual void SetDefaultPassword(const std::string& password) = 0;
  virtual VideoWindowSettings VideoWindow() const = 0;
  virtual void SetVideoWindow(const VideoWindowSettings& v) = 0;
  virtual int Mouse3DLocate() const = 0;
  virtual void SetMouse3DLocate(int on) = 0;
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
  void Save() override { ++saves; }

  int full_switch_stream = 1, open_audio = 0, qr_show = 0, mouse_3d = 0;
  std::string upgrade_path, upgrade_file, user = "admin", password;
  VideoWindowSettings video_window;
  int saves = 0;
};

// The settings file: every change goes to the CSaveParam object, Save writes it.
class SaveParamShellSettings : public ShellSettings {
 public:
  explicit SaveParamShellSettings(CSaveParam& p) : p_(p) {}
  int FullSwitchStream() const override { return p_.full_switch_stream; }
  void SetFullSwitchStream(int v) override { p_.full_switch_stream = v; }
  int OpenAudio() const override { return p_.open_audio; }
  void SetOpenAudio(int v) override { p_.open_audio = v; }
  int QrShow() const override { return p_.qr_mode; }
  void SetQrShow(int v) override { p_.qr_mode = v; }
  std::string UpgradePath() const override { return p_.upgrade_folder; }
  void SetUpgradePath(const std::string& path) override { p_.upgrade_folder = path; }
  std::string UpgradeFileName() const override { return p_.upgrade_file; }
  void SetUpgradeFileName(const std::string& file) override { p_.upgrade_file = file; }
  std::string UploadCfgFileName() const override { return p_.upload_cfg_file; }
  void SetUploadCfgFileName(const std::string& file) override { p_.upload_cfg_file = file; }
  std::string DefaultUserName() const override { return p_.default_user; }
  std::string DefaultPassword() const override { return p_.default_password; }
  void SetDefaultUserName(const std::string& name) override { p_.default_user = name; }
  void SetDefaultPassword(const std::string& password) override { p_.default_password = password; }
  VideoWindowSettings VideoWindow() const override {
    return {p_.video_rows, p_.video_cols, p_.video_rect.left, p_.video_rect.top, p_.video_rect.right,
            p_.video_rect.bottom};
  }
  void SetVideoWindow(const VideoWindowSettings& v) override {
    p_.video_rows = v.rows;
    p_.video_cols = v.cols;
    p_.video_rect = {v.left, v.top, v.right, v.bottom};
  }
  int Mouse3DLocate() const override { return p_.mouse_3d_locate; }
  void SetMouse3DLocate(int on) override { p_.mouse_3d_locate = on; }
  void Save() override { p_.Save(); }
  CSaveParam& Param() { return p_; }

 private:
  CSaveParam& p_;
};

}  // namespace kelvara::shell
