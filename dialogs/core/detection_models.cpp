#include "dialogs/core/detection_models.h"

#include <algorithm>

#include "dialogs/core/number_fields.h"

namespace kelvara::dialogs {

ImageParamResult BuildImageParamRequest(const std::string& mctfText, const std::string& shutterText, int gain) {
  ImageParamResult r;
  const auto mctf = ParseIntField(mctfText);
  if (!mctf || (*mctf != -1 && (*mctf < 0 || *mctf > 11))) {
    r.error = "MCTF ERROR";
    return r;
  }
  const auto shutter = ParseIntField(shutterText);
  if (!shutter || (*shutter != -1 && (*shutter < 1 || *shutter > 8000))) {
    r.error = "shutter error";
    return r;
  }
  r.request = "<REQUEST_PARAM mctf=\"" + std::to_string(*mctf) + "\" gain=\"" + std::to_string(gain) +
              "\" shuttermax=\"" + std::to_string(*shutter) + "\" />";
  return r;
}

MotionResult ReadMotionValues(int enable, const std::string& sensitivity, const std::string& threshold,
                              int gridIndex) {
  MotionResult r;
  r.values.enable = enable;
  const auto s = ParseIntFieldIn(sensitivity, 0, 100);
  if (!s) {
    r.error = kMotionSensitivityError;
    return r;
  }
  const auto t = ParseIntFieldIn(threshold, 0, 100);
  if (!t) {
    r.error = kMotionThresholdError;
    return r;
  }
  r.values.sensitivity = *s;
  r.values.threshold = *t;
  if (gridIndex >= 0 && gridIndex < static_cast<int>(kMotionGrids.size())) {
    r.values.columns = kMotionGrids[static_cast<std::size_t>(gridIndex)].columns;
    r.values.rows = kMotionGrids[static_cast<std::size_t>(gridIndex)].rows;
  }
  return r;
}

int MotionBlockCount(int columns, int rows) {
  return (std::clamp(columns, 0, 22) << 16) + std::clamp(rows, 0, 18);
}

std::string MotionBlockMask(int columns, int rows) {
  const int c = std::clamp(columns, 0, 22), r = std::clamp(rows, 0, 18);
  return std::string(static_cast<std::size_t>(c * r), '1');
}

const char* CheckPlatform(bool enable, const std::string& server, const std::string& portText, int* port) {
  if (enable && server.empty()) return "MSGTIP47";
  const auto p = ParseIntFieldIn(portText, 1, 65535);
  if (!p) return "MSGTIP48";
  if (port) *port = *p;
  return nullptr;
}

}  // namespace kelvara::dialogs
