#pragma once
// The address dialog: one device's network settings, or in range mode a
// start and end address for a batch. The caller fills the values, runs it
// and reads them back when `cancelled` is false. Check probes the range on
// a worker thread; closing the dialog cancels it.
#include <QPointer>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "common/ui/cxdlg.h"
#include "dialogs/core/ip_setting_model.h"

class QLabel;
class QLineEdit;

namespace kelvara::dialogs {

class CDialogIpSetting : public ui::CXDlg {
  Q_OBJECT
 public:
  explicit CDialogIpSetting(QWidget* parent = nullptr);
  ~CDialogIpSetting() override;

  void SetRangeMode(bool on) { model_.rangeMode = on; }
  void SetDeviceCount(int count) { model_.deviceCount = count; }
  // Consecutive addressing: refuse a range with fewer addresses than devices.
  void SetRequireFullRange(bool on) { model_.requireFullRange = on; }

  // In: the start values; out: what the user confirmed.
  IpSettingValues values;
  bool cancelled = true;
  bool noConflict = false;

  // The address probe of the Check button (1 = answered); PingTest by default.
  static void SetProbeForTesting(std::function<int(std::uint32_t hostOrder)> probe);

  // Fills the fields from `values` (done before the dialog shows).
  void LoadFields();
  // The buttons, callable by tests.
  void OnOk();
  void OnCheck();
  bool CheckRunning() const { return checking_; }
  QString ResultText() const;
  // The message OK showed last (its language key), "" when none.
  std::string LastRefusalKey() const { return lastRefusal_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void reject() override;

 private:
  void OnStartEdited();
  void OnDhcpClicked();
  void ShowCheckResult(const AddressCheckResult& result);
  void StopCheck();
  std::uint32_t Field(int id) const;
  void SetField(int id, std::uint32_t address);

  IpSettingModel model_;
  bool loaded_ = false;
  bool checking_ = false;
  std::shared_ptr<std::atomic<bool>> cancel_;
  std::thread worker_;
  std::string lastRefusal_;
};

}  // namespace kelvara::dialogs
