#pragma once
// Production mode's actions on the refreshed devices: a device with a P2P id
// gets its QR label printed (once per row) between two sound prompts and is
// restored to its defaults; every other device is switched to DHCP.
#include <QString>
#include <functional>

#include "discovery/core/broadcast_commands.h"
#include "discovery/core/device_rows.h"

namespace kelvara::discovery {

class ProductionModeActions final : public ProductionActions {
 public:
  struct Hooks {
    // The application's label printer: QR text, text under it; 1 when printed.
    std::function<int(const QString& qrText, const QString& labelText)> printQrLabel;
    // The window's sound prompt.
    std::function<void(const QString& path)> playSound;
    QString programDir;  // where the prompts lie, without a trailing separator
    // The settings' default login as sent to devices (GBK).
    std::function<OperatorAuth()> defaultLogin;
    SendRequest send;
  };

  explicit ProductionModeActions(Hooks hooks) : hooks_(std::move(hooks)) {}

  void PrintLabelAndRestore(const DeviceSearchInfo& record) override;
  void SwitchToDhcp(const DeviceSearchInfo& record) override;

 private:
  void Play(const char* file);
  OperatorAuth Login() const;

  Hooks hooks_;
};

}  // namespace kelvara::discovery
