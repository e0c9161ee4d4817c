#pragma once
// The time settings dialog: starts from the saved TimeSettings, proposes the
// daylight-saving rule of the chosen zone from the time-zone file, checks the
// NTP fields in NTP mode, saves the settings through `saveSettings` and gives
// the TimeConfig text. `notSaved` is cleared only by a successful Save.
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "common/settings_records.h"
#include "dialogs/core/time_model.h"
#include "dialogs/ui/config_dialog.h"

namespace kelvara::dialogs {

class CSYSTimeSet : public ConfigDialog {
  Q_OBJECT
 public:
  // `saveSettings` stores the new record and writes the settings file; false
  // when writing failed. `languageCode` picks the zone labels.
  CSYSTimeSet(const TimeSettings& settings, std::vector<TimeZoneRule> rules, std::string languageCode,
              std::function<bool(const TimeSettings&)> saveSettings, QWidget* parent = nullptr);
  ~CSYSTimeSet() override;

  bool notSaved = true;
  std::string xml;
  TimeSettings settings;

  void OnSave();
  void OnZoneChanged();
  bool ClockTicking() const { return clock_.isActive(); }
  static constexpr int kClockTickMs = 1000;

 protected:
  void done(int result) override;

 private:
  void Layout();
  void OnClockCheck();
  void Tick();

  std::vector<TimeZoneRule> rules_;
  const std::vector<TimeZoneEntry>& zones_;
  std::function<bool(const TimeSettings&)> save_;
  QTimer clock_;
};

}  // namespace kelvara::dialogs
