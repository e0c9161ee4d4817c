#include "app/ui/device_files_wiring.h"

#include <QPushButton>

#include "app/ui/device_list_seam.h"
#include "app/ui/zq_dev_search_tool_dlg.h"
#include "common/language_table.h"
#include "common/ui/user_prompts.h"
#include "dialogs/ui/dialog_tour_date.h"

namespace kelvara::ui {

DeviceFilesWiring::DeviceFilesWiring(CZqDevSearchToolDlg& dlg, discovery::DeviceListSeamImpl& list,
                                     device::DeviceCommandHost& commands, UserPrompts* prompts)
    : list_(list) {
  device::BatchFileCommands::Hooks hooks;
  hooks.checkSelection = [&dlg] { return dlg.CheckSelection(); };
  hooks.selectedIndex = [&list] {
    controls::CReportCtrl* control = list.Controller().List();
    return control ? control->GetFirstSelectedItem() : -1;
  };
  hooks.askDay = []() -> std::optional<device::FileRequestDay> {
    // Without a parent, as the window runs it.
    dialogs::CDialogDateSel date;
    if (date.exec() != QDialog::Accepted || date.values.cancelled) return std::nullopt;
    const dialogs::DateSelValues& v = date.values;
    device::FileRequestDay day;
    day.year = v.year;
    day.month = v.month;
    day.day = v.day;
    day.recreate = v.alwaysRecreate;
    day.targetSeconds = v.targetSeconds;
    day.startHour = v.start.hour;
    day.startMinute = v.start.minute;
    day.startSecond = v.start.second;
    day.endHour = v.end.hour;
    day.endMinute = v.end.minute;
    day.endSecond = v.end.second;
    return day;
  };
  hooks.infoBox = [prompts, &dlg](const char* textKey, const char* captionKey) {
    if (prompts)
      prompts->MessageBox(&dlg, QString::fromStdString(LangText(textKey)), QString::fromStdString(LangText(captionKey)),
                          PromptIcon::kInformation);
  };
  files_ = std::make_unique<device::BatchFileCommands>(commands, std::move(hooks));

  device::BatchFileCommands* f = files_.get();
  if (auto* button = dlg.ControlAs<QPushButton>(19))
    QObject::connect(button, &QPushButton::clicked, f, [f] { f->OnBatchSnapshot(); });
  list_.onSnapshotTimedOut = [f](int row) { f->OnSnapshotTimedOut(row); };
  QObject::connect(&list.Controller(), &discovery::DeviceListController::listCleared, f, [f] { f->OnRowsCleared(); });
}

DeviceFilesWiring::~DeviceFilesWiring() { list_.onSnapshotTimedOut = nullptr; }

}  // namespace kelvara::ui
