#include "printing/qt/device_label_button.h"

#include "common/language_table.h"
#include "common/ui/user_prompts.h"
#include "printing/qt/label_printer.h"

namespace kelvara::printing {
namespace {

QString Lang(const char* key) { return QString::fromStdString(LangText(key)); }

}  // namespace

QString FallbackQrText(const QString& serialText, const QString& macText) {
  return QStringLiteral("SN:") + serialText + QStringLiteral(";MAC:") + macText;
}

int OnPrintDeviceLabel(QWidget* owner, const DeviceLabelFields* selected, CLabelPrinter& printer,
                       ui::UserPrompts& prompts) {
  using ui::PromptButtons;
  using ui::PromptIcon;
  if (selected == nullptr) {
    prompts.MessageBox(owner, Lang("STRING_CHOOSE_DEVICE"), Lang("WARRNING"), PromptIcon::kWarning);
    return 0;
  }
  QString qrText = selected->p2pId;
  const QString serialText = selected->oemSerial.isEmpty() ? selected->serial : selected->oemSerial;
  const QString macText = selected->mac;
  if (qrText.isEmpty()) {
    const int answer = prompts.MessageBox(owner, Lang("STRING_P2PID_EMPTY"), Lang("TEXT21"), PromptIcon::kWarning,
                                          PromptButtons::kYesNo);
    if (answer != ui::kAnswerYes) return 0;
    qrText = FallbackQrText(serialText, macText);
  }
  const int printed = printer.PrintDeviceLabel(qrText, serialText, macText);
  prompts.MessageBox(owner, Lang(printed == 1 ? "STRING_PRINT_OK" : "STRING_PRINT_FAILED"), Lang("WARRNING"),
                     PromptIcon::kWarning);
  return printed;
}

}  // namespace kelvara::printing
