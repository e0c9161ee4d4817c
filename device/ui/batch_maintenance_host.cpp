#include "device/ui/batch_maintenance_host.h"

#include <QAction>
#include <QMenu>
#include <cstdio>

#include "common/language_table.h"

namespace kelvara::device {

namespace {

struct PopupEntry {
  const char* key;  // language key, or the text itself when `literal`
  int id;
  bool literal = false;
};

std::vector<PopupEntry> PopupOf(int buttonId) {
  switch (buttonId) {
    case 22: return {{LangKey("ID_BATCH_FORMAT_SDCARD"), 33456}, {LangKey("ID_BATCH_GET_STORAGEINFO"), 33457}};
    case 20: return {{"50HZ (PAL)", 32970, true}, {"60HZ (NTSC)", 32971, true}};
    case 16: return {{LangKey("ENABLE"), 33010}, {LangKey("STRING_CLOSE"), 33013}};
    case 1299: return {{LangKey("ENABLE"), 32977}, {LangKey("DISABLE"), 32978}};
    default: return {};
  }
}

}  // namespace

BatchMaintenanceHost::BatchMaintenanceHost(BatchCommandHost& batch, Hooks hooks)
    : batch_(batch), hooks_(std::move(hooks)) {
  batch_.AddCommandHandler([this](int id) { return OnCommand(id); });
}

QMenu* BatchMaintenanceHost::BuildPopup(int buttonId, QWidget* parent) {
  const std::vector<PopupEntry> entries = PopupOf(buttonId);
  if (entries.empty()) return nullptr;
  auto* menu = new QMenu(parent);
  for (const PopupEntry& e : entries) {
    QAction* action = menu->addAction(e.literal ? QString::fromUtf8(e.key) : QString::fromStdString(LangText(e.key)));
    action->setData(e.id);
  }
  return menu;
}

bool BatchMaintenanceHost::ShowPopup(int buttonId, const QPoint& at) {
  QMenu* menu = BuildPopup(buttonId, hooks_.owner);
  if (menu == nullptr) return false;
  QAction* chosen = menu->exec(at);
  const int id = chosen != nullptr ? chosen->data().toInt() : 0;
  delete menu;
  if (id != 0) OnCommand(id);
  return true;
}

int BatchMaintenanceHost::Ask(const QString& text, const QString& caption) {
  if (hooks_.prompts == nullptr) return ui::kAnswerNo;
  return hooks_.prompts->MessageBox(hooks_.owner, text, caption, ui::PromptIcon::kQuestion, ui::PromptButtons::kYesNo);
}

void BatchMaintenanceHost::ErrorBox(const char* key) {
  if (hooks_.prompts == nullptr) return;
  hooks_.prompts->MessageBox(hooks_.owner, QString::fromStdString(batch_.Commands().Commands().Text(key)),
                             QStringLiteral("ERROR"), ui::PromptIcon::kError, ui::PromptButtons::kOk);
}

std::vector<discovery::DeviceListRow*> BatchMaintenanceHost::Checked() {
  std::vector<discovery::DeviceListRow*> rows;
  for (discovery::DeviceListRow* row : batch_.Commands().CheckedRows())
    if (row != nullptr) rows.push_back(row);
  return rows;
}

int BatchMaintenanceHost::RunCounting(const std::vector<discovery::DeviceListRow*>& rows, BatchCommand command) {
  auto ok = std::make_shared<int>(0);
  command.send = [send = std::move(command.send), ok](discovery::DeviceListRow& row) {
    const int result = send(row);
    if (result == 0) ++*ok;
    return result;
  };
  batch_.Run(rows, std::move(command));
  return *ok;
}

bool BatchMaintenanceHost::OnCommand(int id) {
  const std::optional<MaintenanceCommand> m = MaintenanceCommandFor(id);
  if (!m) return false;
  DeviceCommands& c = batch_.Commands().Commands();
  auto text = [&c](const char* key) { return QString::fromStdString(c.Text(key)); };
  const auto& checkSelection = batch_.GetHooks().checkSelection;
  auto selected = [&checkSelection] { return checkSelection && checkSelection() >= 1; };
  const BatchCommand command = MakeMaintenanceCommand(c, batch_.Runner(), *m);
  switch (m->kind) {
    case MaintenanceKind::kBadPixel: {
      if (!selected()) return true;
      const int ok = RunCounting(Checked(), command);
      char summary[256];
      std::snprintf(summary, sizeof summary, "[%d preset ptz] %s%d", m->value, c.Text(LangKey("SUCCEED_SET_NUM")).c_str(),
                    ok);
      if (hooks_.prompts != nullptr)
        hooks_.prompts->MessageBox(hooks_.owner, QString::fromUtf8(summary), QString(), ui::PromptIcon::kNone,
                                   ui::PromptButtons::kOk);
      return true;
    }
    case MaintenanceKind::kIoOutput:
      if (selected()) batch_.Run(Checked(), command);
      return true;
    case MaintenanceKind::kVideoType:
      if (!selected()) return true;
      if (Ask(text(LangKey("ID_BATCH_SET_VIDEOTYPE_TIPS")), text(LangKey("TEXT21"))) != ui::kAnswerYes) return true;
      batch_.Run(Checked(), command);
      return true;
    case MaintenanceKind::kFactoryMode: {
      const QString question = text(LangKey("MSG_MODE_FACTORY_COMFIRM")) + " " +
                               text(m->value == 0 ? LangKey("ENABLE") : LangKey("STRING_CLOSE")) + "?";
      if (Ask(question, text(LangKey("TEXT21"))) != ui::kAnswerYes) return true;
      if (RunCounting(Checked(), command) == 0) ErrorBox(LangKey("MSGTIP13"));
      return true;
    }
    case MaintenanceKind::kFormat:
    case MaintenanceKind::kStorageInfo: {
      if (m->kind == MaintenanceKind::kFormat &&
          Ask(text(LangKey("ID_BATCH_SET_FORMAT_COMFIRM")) + " ?", text(LangKey("TEXT21"))) != ui::kAnswerYes)
        return true;
      const std::vector<discovery::DeviceListRow*> rows = Checked();
      if (rows.empty()) {
        ErrorBox(LangKey("MSGTIP13"));
        return true;
      }
      batch_.Run(rows, command);
      return true;
    }
    case MaintenanceKind::kTvSystem:
    case MaintenanceKind::kOnvifAllNet: {
      if (!selected()) return true;
      const char* key =
          m->kind == MaintenanceKind::kTvSystem ? LangKey("MSG_BATCH_SET_TVSYSTEM") : LangKey("MSG_BATCH_SET_ONVIFALLNET");
      // These two go on unless the answer is No.
      if (Ask(text(key), text(LangKey("TEXT21"))) == ui::kAnswerNo) return true;
      batch_.Run(Checked(), command);
      return true;
    }
  }
  return true;
}

void BatchMaintenanceHost::OnBatchReboot() {
  DeviceCommands& c = batch_.Commands().Commands();
  discovery::OperatorAuth auth;
  if (!c.Seams().Network().GetOperatorAuth(auth)) return;
  const bool broadcastOnly = c.BroadcastRebootSwitch() > 0;
  if (!c.Confirm(LangKey("MSGTIP38"), LangKey("TEXT21"))) return;
  const std::vector<discovery::DeviceListRow*> rows = Checked();
  if (rows.empty()) {
    ErrorBox(LangKey("MSGTIP16"));
    return;
  }
  batch_.Run(rows, MakeBatchRebootCommand(c, auth, broadcastOnly));
}

}  // namespace kelvara::device
