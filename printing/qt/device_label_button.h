#pragma once
// The main window's label button: prints the tips-layout label of the
// selected device and tells the user how it went.
#include <QString>

class QWidget;

namespace kelvara::ui {
class UserPrompts;
}

namespace kelvara::printing {

class CLabelPrinter;

// What the label needs of a device-list row.
struct DeviceLabelFields {
  QString p2pId;
  QString oemSerial;  // preferred over serial when not empty
  QString serial;
  QString mac;
};

// The QR text of a device without a P2P identifier: "SN:<serial>;MAC:<mac>".
QString FallbackQrText(const QString& serialText, const QString& macText);

// selected == nullptr: no row is selected ("STRING_CHOOSE_DEVICE"). A device
// without a P2P identifier is printed with FallbackQrText only when the user
// answers Yes. Returns PrintDeviceLabel's result, or 0 when nothing was printed.
int OnPrintDeviceLabel(QWidget* owner, const DeviceLabelFields* selected, CLabelPrinter& printer,
                       ui::UserPrompts& prompts);

}  // namespace kelvara::printing
