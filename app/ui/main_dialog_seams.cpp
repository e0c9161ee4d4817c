#include "app/ui/main_dialog_seams.h"

#include "controls/ui/report_ctrl.h"

namespace kelvara::ui {

QWidget* DeviceListSeam::CreateListWidget(QWidget* parent) { return new controls::CReportCtrl(parent); }

}  // namespace kelvara::ui
