#pragma once
// The image parameter, motion detection and platform server dialogs without
// widgets: their lists, their checks on OK and the values they give.
#include <array>
#include <optional>
#include <string>

namespace kelvara::dialogs {

// --- Image parameters (SystemControl 1081) ---------------------------------
struct GainEntry {
  const char* text;
  int value;
};
inline constexpr std::array<GainEntry, 17> kGainList = {{
    {"DO NOT SET", -1}, {"ISO_100", 0},      {"ISO_150", 3},      {"ISO_200", 6},       {"ISO_300", 9},
    {"ISO_400", 12},    {"ISO_600", 15},     {"ISO_800", 18},     {"ISO_1600", 24},     {"ISO_3200", 30},
    {"ISO_6400", 36},   {"ISO_12800", 42},   {"ISO_25600", 48},   {"ISO_51200", 54},    {"ISO_102400", 60},
    {"ISO_204800", 66}, {"ISO_409600", 72},
}};
inline constexpr int kDefaultGain = 30;

struct ImageParamResult {
  std::string request;      // the request text when accepted
  const char* error = nullptr;  // "MCTF ERROR" or "shutter error" when refused
};
// mctf: -1 or 0..11; shutter: -1 or 1..8000; each read strictly (a field that
// is no number is refused).
ImageParamResult BuildImageParamRequest(const std::string& mctf, const std::string& shutter, int gain);

// --- Motion detection ------------------------------------------------------
struct MotionGrid {
  const char* text;
  int columns, rows;
};
inline constexpr std::array<MotionGrid, 9> kMotionGrids = {{
    {"1X1", 1, 1}, {"2X2", 2, 2}, {"3X2", 3, 2}, {"3X3", 3, 3}, {"4X3", 4, 3},
    {"4X4", 4, 4}, {"8X8", 8, 8}, {"16X16", 16, 16}, {"22X18", 22, 18},
}};
inline constexpr int kDefaultMotionGrid = 4;

struct MotionValues {
  int enable = 0;
  int sensitivity = 80;
  int threshold = 20;
  int columns = 4;
  int rows = 3;
};
struct MotionResult {
  MotionValues values;
  const char* error = nullptr;  // the message shown when refused
};
inline constexpr const char* kMotionSensitivityError = "灵敏度设置错误。";
inline constexpr const char* kMotionThresholdError = "阈值设置错误。";
// OK's checks: sensitivity and threshold strictly 0..100; an unknown grid
// index gives 4 x 3.
MotionResult ReadMotionValues(int enable, const std::string& sensitivity, const std::string& threshold,
                              int gridIndex);
// What the caller sends: (columns << 16) + rows and a mask of rows x columns
// "1", with rows limited to 18 and columns to 22.
int MotionBlockCount(int columns, int rows);
std::string MotionBlockMask(int columns, int rows);

// --- Platform server --------------------------------------------------------
struct PlatformValues {
  bool enable = false;
  std::string server;
  int port = 10001;
  std::string account;
  std::string password;
  bool playStartTone = false;
  bool numberAccount = true;
};
// The language key of OK's refusal, or nullptr when accepted: "MSGTIP47" for
// an enabled platform without address, "MSGTIP48" for a port that is not a
// number in 1..65535 (also when the platform is off).
const char* CheckPlatform(bool enable, const std::string& server, const std::string& portText, int* port);

}  // namespace kelvara::dialogs
