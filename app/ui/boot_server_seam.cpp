#include "app/ui/boot_server_seam.h"

#include "app/ui/device_list_seam.h"

namespace kelvara::ui {

BootServerSeam::BootServerSeam(discovery::DeviceListSeamImpl& list, SearchButton search)
    : list_(list), search_(std::move(search)) {}

firmware::CBootServerDlg* BootServerSeam::Make(QWidget* parent, CSaveParam* settings,
                                                firmware::BootServerOptions options) {
  auto* boot = new firmware::CBootServerDlg(this, settings, std::move(options), parent);
  discovery::DeviceListController& controller = list_.Controller();
  controller.SetRecoveryMarks(&boot->Server());
  QObject::connect(boot, &QObject::destroyed, [&controller] { controller.SetRecoveryMarks(nullptr); });
  boot->OnInitDialog();
  return boot;
}

void BootServerSeam::ClearDevicesForSearch() { list_.Controller().ClearDevicesForSearch(); }

void BootServerSeam::OnSearchButton() {
  if (search_.press) search_.press();
}

bool BootServerSeam::IsSearchRunning() { return search_.running && search_.running(); }

}  // namespace kelvara::ui
