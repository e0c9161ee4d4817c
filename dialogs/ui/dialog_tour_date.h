#pragma once
// The preset tour settings, the time-lapse date and the one-value input.
#include <QString>

#include "common/settings_records.h"
#include "dialogs/core/clock_models.h"
#include "dialogs/ui/config_dialog.h"

namespace kelvara::dialogs {

// Mode 0 edits the AF-study table, mode 1 the PTZ-multiple table (its PTZ
// rows hidden). The caller stores GetConfig() whichever way it closes.
class DialogAfStudyCfg : public ConfigDialog {
  Q_OBJECT
 public:
  DialogAfStudyCfg(int mode, const AfStudySettings& table, QWidget* parent = nullptr);
  AfStudySettings GetConfig() const { return table_; }
  void OnOk() override;

 private:
  int mode_;
  AfStudySettings table_;
};

// Day, daily window and target length of a time-lapse video; read the
// members after `cancelled` is cleared.
class CDialogDateSel : public ConfigDialog {
  Q_OBJECT
 public:
  explicit CDialogDateSel(QWidget* parent = nullptr);
  DateSelValues values;
  // Puts the members into the controls (call after presetting them).
  void LoadControls();
  void OnOk() override;
};

// One line of text with a title.
class CDialogInputValue : public ConfigDialog {
  Q_OBJECT
 public:
  explicit CDialogInputValue(QWidget* parent = nullptr);
  void SetTitle(const QString& title);
  void SetValue(const QString& value);
  QString GetValue() const { return value_; }
  void OnOk() override;

 private:
  QString title_ = QString::fromUtf8("输入数据");
  QString value_;
};

}  // namespace kelvara::dialogs
