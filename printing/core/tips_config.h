#pragma once
// The tips layout: a row of device labels, each with a QR code, a serial
// number line, a MAC line and up to two fixed custom texts at free positions.
// Kept in Data/ZqTipsConfig.xml in the per-user data folder (and in exported
// layout files of the same form). Lengths are millimetres.
#include <filesystem>
#include <string>

namespace kelvara::printing {

// Data/ZqTipsConfig.xml under the per-user data folder.
std::filesystem::path TipsConfigPath();

// Longest custom text kept (bytes of UTF-8).
inline constexpr std::size_t kMaxCustomTextBytes = 256;

class CTipsConfig {
 public:
  int Tips_num = 1;          // labels side by side per device
  double Tips_div = 1.0;     // gap between labels (stored; printing places them edge to edge)
  double Tips_w = 65.0;      // label width
  double Tips_h = 45.0;      // label height
  double QR_x = 22.5;
  double QR_y = 6.0;
  double QR_size = 20.0;
  double Sn_x = 1.0;
  double Sn_y = 26.0;
  double Sn_font_size = 9.0;  // serial and MAC line height and font height
  int Sn_font_w = 400;
  int m_bSnEnable = 1;
  int m_bMacEnable = 0;
  int Customize_1_enable = 0;
  double Customize_1_x = 0.0;
  double Customize_1_y = 0.0;
  double Customize_1_font_size = 9.0;
  int Customize_1_font_w = 400;
  std::string Customize_1_text;  // UTF-8
  int Customize_2_enable = 0;
  double Customize_2_x = 0.0;
  double Customize_2_y = 0.0;
  double Customize_2_font_size = 9.0;
  int Customize_2_font_w = 400;
  std::string Customize_2_text;  // UTF-8

  // Defaults, then the file: created (holding an empty TipsConfig element)
  // when missing, loaded otherwise. The folder is created when missing.
  explicit CTipsConfig(std::filesystem::path file = TipsConfigPath());

  void LoadOrCreate();
  // Creates the file when missing, then SaveTo(own path).
  bool Save();
  // Writes all fields to `path` atomically. Refuses (returns false, file
  // unchanged) an empty path, out-of-range values and texts that the file's
  // code page cannot hold.
  bool SaveTo(const std::filesystem::path& path);
  // Overwrites each field whose attribute is present, numeric and in range;
  // others keep their values. Returns 0, or non-zero (nothing changed) for a
  // missing, unreadable, oversized or malformed file.
  int LoadFrom(const std::filesystem::path& path);
  bool CreateEmptyFile(const std::filesystem::path& path);

  // Why the values cannot be saved, or empty when they are all valid.
  std::string Validate() const;
  // The message of the last refused load or save, or of the values a load
  // skipped (empty when none).
  const std::string& LastError() const { return lastError; }
  const std::filesystem::path& FilePath() const { return filePath; }

 private:
  std::filesystem::path filePath;
  std::string lastError;
};

}  // namespace kelvara::printing
