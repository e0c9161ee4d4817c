#pragma once
// The QR label layout: a pair of labels, each with a QR code and a two-line
// text under it, kept in Data/printconfig.xml in the per-user data folder.
// Lengths are millimetres; fontsize is in printer device units.
#include <filesystem>
#include <string>

namespace kelvara::printing {

// Valid ranges. A value outside them (or 0) is replaced by its default on
// load, and a layout holding one is not saved.
inline constexpr int kMaxLabelCount = 100;
inline constexpr double kMaxLabelMm = 1000.0;
inline constexpr int kMaxFontUnits = 2000;

// Data/printconfig.xml under the per-user data folder.
std::filesystem::path QrLabelLayoutPath();

class QrLabelLayout {
 public:
  int rowNum = 2;           // labels per row (printing always prints a pair)
  int width = 30;           // label width
  int height = 15;          // label height
  int deviceLabelNum = 2;   // labels per device (stored only)
  int lineNum = 1;          // label rows (stored only)
  int fontsize = 32;        // text height, printer device units
  double div_Left_right = 1.0;  // stored only
  double div_top_bottom = 0.5;  // stored only
  double div_mid = 2.5;     // gap between the two labels of a pair
  double div_QR_ID = 3.0;   // gap between the QR code and the text

  // Zeroes every field, loads the file and gives every field that is still 0
  // (missing, 0 or out of range in the file) its default.
  explicit QrLabelLayout(std::filesystem::path file = QrLabelLayoutPath());

  // Reads every Config element under the root, in order, the last one
  // winning; a missing attribute reads as 0. Returns -1 (fields untouched)
  // for a missing, unreadable, oversized or malformed file.
  int LoadLayout();

  // Rewrites the file atomically with exactly one Config element holding the
  // current values. Returns -1, keeping the file, when a value is out of range
  // or the write fails.
  int SaveLayout();

  // Writes a file holding only the declaration and an empty ConfigList.
  bool CreateDefaultLayoutFile();

  // The message of the last refused load or save (empty when none).
  const std::string& LastError() const { return lastError; }

  // Why the values cannot be saved, or empty when they are all valid.
  std::string Validate() const;

  const std::filesystem::path& FilePath() const { return filePath; }

 private:
  void ApplyDefaults();
  std::filesystem::path filePath;
  std::string lastError;
};

}  // namespace kelvara::printing
