#include "app/ui/maintenance_wiring.h"

#include <QCursor>
#include <QPushButton>

#include "app/ui/device_list_seam.h"
#include "app/ui/zq_dev_search_tool_dlg.h"

namespace kelvara::ui {

MaintenanceWiring::MaintenanceWiring(CZqDevSearchToolDlg& dlg, discovery::DeviceListSeamImpl& list,
                                     device::BatchCommandHost& batch, UserPrompts* prompts)
    : list_(list) {
  device::BatchMaintenanceHost::Hooks hooks;
  hooks.prompts = prompts;
  hooks.owner = &dlg;
  maintenance_ = std::make_unique<device::BatchMaintenanceHost>(batch, hooks);

  device::CyclicRebootHost::Hooks cyclic;
  cyclic.selectedIndex = [&list] {
    controls::CReportCtrl* control = list.Controller().List();
    return control ? control->GetFirstSelectedItem() : -1;
  };
  cyclic.setButtonText = [&dlg](const QString& text) { dlg.SetItemText(1305, text); };
  cyclic.prompts = prompts;
  cyclic.owner = &dlg;
  cyclic_ = std::make_unique<device::CyclicRebootHost>(batch.Commands(), cyclic);

  auto on = [&dlg](int id, std::function<void()> handler) {
    if (auto* button = dlg.ControlAs<QPushButton>(id))
      QObject::connect(button, &QPushButton::clicked, &dlg, std::move(handler));
  };
  device::BatchMaintenanceHost* m = maintenance_.get();
  on(7, [m] { m->OnBatchReboot(); });
  for (int id : {22, 20, 16, 1299}) on(id, [m, id] { m->ShowPopup(id, QCursor::pos()); });
  device::CyclicRebootHost* c = cyclic_.get();
  on(1305, [c] { c->OnButton(); });
  // A stopped search and an emptied list end the test (the list's rows are gone).
  list_.onSearchStopped = [c] { c->Stop(); };
  QObject::connect(&list.Controller(), &discovery::DeviceListController::listCleared, c, [c, &batch] {
    c->Stop();
    batch.OnRowsCleared();
  });
}

MaintenanceWiring::~MaintenanceWiring() { list_.onSearchStopped = nullptr; }

}  // namespace kelvara::ui
