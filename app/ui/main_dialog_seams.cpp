#include "app/ui/main_dialog_seams.h"

#include <QTableWidget>

namespace kelvara::ui {

QWidget* DeviceListSeam::CreateListWidget(QWidget* parent) { return new QTableWidget(parent); }

}  // namespace kelvara::ui
