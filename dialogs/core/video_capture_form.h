#pragma once
// The image capture page without widgets: the 140-byte video-capture record
// with the page's defaults, the form the controls show (edit texts, list
// choices, times), and Save's checks and <Video><Capture/> text.
#include <optional>
#include <string>

#include <VaRurOvoDiv/zq_netsdk_records.h>

#include "common/settings_records.h"

namespace kelvara::dialogs {

using VideoCaptureParams = ZQ_VIDEO_CAPTURE_CONFIG;
static_assert(sizeof(VideoCaptureParams) == 140);

// All bytes zero except the page's defaults.
VideoCaptureParams DefaultVideoCaptureParams();

struct VideoCaptureForm {
  // Edits, as typed.
  std::string brightness, contrast, saturation, sharpness, backlight, hlc, cropX, cropY;
  std::string shutterSpeedDay, shutterSpeedNight, ircutSensitivity, wdrLevel, defogLevel;
  std::string tnf, snf, lightOff, faceExposure;
  std::string wbR, wbG, wbB;
  // Lists chosen by position.
  int tvSystem = 0, antiFlicker = 0, hflip = 0, vflip = 0, rotate = 0, wdrMode = 0, defog = 0;
  int shutterMode = 0, shutterModeNight = 0, keepColor = 0, wbManual = 0;
  // Lists chosen by item data.
  int gain = -1;  // dB, -1 automatic
  std::optional<int> ircutMode;  // none selected: 2
  int ircutOpenLedDelay = 0, ledBrightnessMode = 0, ledBrightness = 10;
  int ispModeColor = 0, ispModeNight = 0, ledMode = 0, ispAdvMode = 0, videoEncodeMode = 0;
  ClockTime nightStart, nightEnd, wdrStart, wdrEnd;
};

// The controls' contents for a record (edits as unsigned decimal).
VideoCaptureForm FormFromRecord(const VideoCaptureParams& record);

struct CaptureSaveResult {
  std::string messageKey;  // empty when the text was built
  std::string xml;
  int ircutMode = 2;        // the IR-cut mode Save read (kept even when a later check fails)
  bool ircutModeRead = false;
  bool Ok() const { return messageKey.empty(); }
};

// The checks in their order, then the text. Every edit that reaches the
// block is checked, the noise filters 0-255 and the two sensitivities 0-100.
CaptureSaveResult SaveVideoCapture(const VideoCaptureForm& form);

// The form's values as a record (for tests and the block's byte layout):
// the form must have passed SaveVideoCapture.
VideoCaptureParams RecordFromForm(const VideoCaptureForm& form);

}  // namespace kelvara::dialogs
