#pragma once
// The program's settings (zq_cfg.xml in the per-user config folder): folders
// and files last chosen, live-view layout and player modes, the default device
// login, the first address for consecutive addressing, and the device-side
// settings the configuration dialogs edit.
//
// Owners change a field and call Save() at once; nothing is saved at exit.
// Save() rewrites the whole file atomically, so a crash or a full disk leaves
// the old file. The file is UTF-8 and says so; files that declare gb2312 or
// GBK (written by earlier versions) are read as GBK. A missing or malformed
// file leaves the defaults; unknown elements are skipped.
//
// Not thread-safe: built, changed and saved on the UI thread.
#include <filesystem>
#include <string>
#include <string_view>

#include "common/settings_records.h"

class TiXmlDocument;
class TiXmlElement;

class CSaveParam {
 public:
  // The video dialog's rectangle in screen pixels.
  struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const Rect&) const = default;
  };

  // Sets the defaults, then loads `file` (default: zq_cfg.xml in the config folder).
  explicit CSaveParam(std::filesystem::path file = DefaultPath());
  virtual ~CSaveParam() = default;

  static std::filesystem::path DefaultPath();

  // Writes every value to the file. 0 on success, -1 when the file could not
  // be written (the old file is then unchanged).
  int Save();
  // Sets the device-side defaults and reads the file over them. Always 0.
  int Load();

  // The whole document as Save() writes it.
  std::string ToXmlText() const;
  // Sets the device-side defaults and reads an XML text over them (what Load
  // does with the file's content). Always 0.
  int LoadFromText(std::string_view xml);

  // The default login, for device logins and login-free network settings.
  std::string GetDefaultUserName() const { return default_user; }
  std::string GetDefaultPassword() const { return default_password; }

  const std::filesystem::path& FilePath() const { return file_path; }

  // The title default: "Camera" as hexadecimal UTF-8.
  static constexpr char kDefaultTitleHex[] = "43616d657261";
  static constexpr char kDefaultNtpServer[] = "pool.ntp.org";

  std::filesystem::path file_path;
  std::string upgrade_folder;     // UpgradePath
  std::string upgrade_file;       // UpgradeFileName
  std::string upload_cfg_file;    // UploadCfgFileName
  std::string mp3_file;           // Mp3FilePath
  std::string app_file;           // AppFilePath
  std::string import_file;        // ImportFilePath
  int full_switch_stream = 1;     // main stream check box
  int open_audio = 0;             // live audio check box
  int video_rows = 0;
  int video_cols = 0;
  int play_mode = 0;
  int scale_mode = 0;
  int decode_mode = 1;
  Rect video_rect;
  std::string default_user = "admin";
  std::string default_password = "470913";
  std::string default_from_ip = "0.0.0.0";
  int record_switch = 0;          // live view's record switch; never saved
  int qr_mode = 1;                // 0 or 1
  int mouse_3d_locate = 0;        // 0 or 1
  kelvara::OverlayConfig overlay;
  kelvara::MediaLightConfig media_light;
  kelvara::TimeSettings time_settings;
  kelvara::AlarmClockSettings alarm_clock;
  kelvara::AfStudySettings af_study;
  kelvara::AfStudySettings ptz_multiple;
  kelvara::SlogFilterSettings slog_filter;

 private:
  void SetDeviceDefaults();
  void LoadDocument(const TiXmlDocument& doc, bool gbk);
  void SaveOverlay(TiXmlElement& root) const;
  void LoadOverlay(const TiXmlElement& e, bool gbk);
  void SaveMediaLight(TiXmlElement& root) const;
  void LoadMediaLight(const TiXmlElement& e);
};
