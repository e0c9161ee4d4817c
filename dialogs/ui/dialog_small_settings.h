#pragma once
// The small OK dialogs of the device list: image parameters, motion
// detection, platform server and batch human/vehicle detection. Each keeps
// `cancelled` set until its OK accepts the input; refusals show their message
// and keep the dialog open with the user's input.
#include <string>

#include "common/settings_records.h"
#include "dialogs/core/detection_models.h"
#include "dialogs/ui/config_dialog.h"

namespace kelvara::dialogs {

// Request text for SystemControl 1081.
class CImageParamDialog : public ConfigDialog {
  Q_OBJECT
 public:
  explicit CImageParamDialog(QWidget* parent = nullptr);
  int mctf = -1, shutter = -1, gain = kDefaultGain;
  std::string request;
  bool cancelled = true;
  void OnOk() override;
};

// One motion-detection setting; the caller builds the block count and mask
// (MotionBlockCount, MotionBlockMask) for every checked row.
class CMdAlarmDialog : public ConfigDialog {
  Q_OBJECT
 public:
  explicit CMdAlarmDialog(QWidget* parent = nullptr);
  MotionValues values;
  bool cancelled = true;
  void OnOk() override;
};

// Platform access for every checked row (the caller numbers the account).
class CDlgIpvsSetting : public ConfigDialog {
  Q_OBJECT
 public:
  explicit CDlgIpvsSetting(QWidget* parent = nullptr);
  PlatformValues values;
  bool cancelled = true;
  void OnOk() override;

 private:
  void ApplyEnableRule();
};

// The detection choices; only a result of Accepted counts.
class CBatchSetPDDlg : public ConfigDialog {
  Q_OBJECT
 public:
  explicit CBatchSetPDDlg(QWidget* parent = nullptr);
  BatchPDSettings settings;
  void OnOk() override;
};

}  // namespace kelvara::dialogs
