#include "device/ui/cyclic_reboot_host.h"

#include "common/language_table.h"

namespace kelvara::device {

CyclicRebootHost::CyclicRebootHost(DeviceCommandHost& commands, Hooks hooks)
    : commands_(commands), hooks_(std::move(hooks)), test_(commands.Commands()) {
  timer_.setInterval(hooks_.periodMs);
  QObject::connect(&timer_, &QTimer::timeout, this, [this] { test_.Step(); });
  test_.onStopped = [this] {
    timer_.stop();
    if (hooks_.setButtonText) hooks_.setButtonText(QString::fromUtf8(kStartText));
  };
}

void CyclicRebootHost::OnButton() {
  if (test_.Running()) {
    test_.Stop();
    return;
  }
  const int index = hooks_.selectedIndex ? hooks_.selectedIndex() : -1;
  if (index < 0) {
    if (hooks_.prompts != nullptr)
      hooks_.prompts->MessageBox(hooks_.owner, QString::fromStdString(commands_.Commands().Text(LangKey("MSGTIP13"))),
                                 QStringLiteral("ERROR"), ui::PromptIcon::kError, ui::PromptButtons::kOk);
    return;
  }
  // A row without a record, or credentials refused (their message was shown):
  // the test does not start.
  if (test_.Start(commands_.RowAt(index)) != CyclicRebootTest::StartResult::kStarted) return;
  if (hooks_.setButtonText) hooks_.setButtonText(QString::fromUtf8(kStopText));
  timer_.start();
}

}  // namespace kelvara::device
