#include "app/ui/device_list_seam.h"

namespace kelvara::discovery {

DeviceListSeamImpl::DeviceListSeamImpl(DeviceListController::Options options, DeviceListActions::Hooks actions)
    : controller_(std::move(options)), actionHooks_(std::move(actions)) {}

QWidget* DeviceListSeamImpl::CreateListWidget(QWidget* parent) {
  controls::CReportCtrl* list = controller_.CreateListWidget(parent);
  if (!actions_) {
    actionHooks_.window = parent;
    actions_ = std::make_unique<DeviceListActions>(controller_, actionHooks_);
    // Right click: the device list's context menu at the cursor.
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(list, &QWidget::customContextMenuRequested, actions_.get(), [this, list](const QPoint& at) {
      // The row under the cursor becomes the selected row, as a right click selects it.
      const QModelIndex index = list->indexAt(at);
      if (index.isValid() && !list->selectionModel()->isRowSelected(index.row(), QModelIndex()))
        list->selectRow(index.row());
      actions_->OnListRightClick(list->viewport()->mapToGlobal(at));
    });
    QObject::connect(list, &controls::CReportCtrl::RowHovered, actions_.get(),
                     [this](int row, int column) { actions_->OnListHotTrack(row, column); });
    QObject::connect(list, &QAbstractItemView::doubleClicked, actions_.get(), [this] { actions_->OnListDblClick(); });
  }
  return list;
}

void DeviceListSeamImpl::OnCommand(int id) {
  if (actions_) actions_->OnCommand(id);
}


void DeviceListSeamImpl::InitColumns() { controller_.InitDeviceListColumns(); }

void DeviceListSeamImpl::StartSearch() {
  // A new search ends every login and starts from an empty list.
  controller_.StopSearch();
  controller_.ClearDevicesForSearch();
  controller_.SetSearching(true);
  controller_.StartSearch();
}

void DeviceListSeamImpl::StopSearch() {
  controller_.StopSearch();
  controller_.SetSearching(false);
  if (onSearchStopped) onSearchStopped();
}

void DeviceListSeamImpl::SendSearchRequest() { controller_.SendSearchRequest(); }

void DeviceListSeamImpl::RefreshDeviceList() { controller_.RefreshDeviceList(); }

int DeviceListSeamImpl::CheckedRowCount() {
  controls::CReportCtrl* list = controller_.List();
  return list ? list->CountItems(controls::kStateChecked) : 0;
}

QString DeviceListSeamImpl::FirstSelectedP2pId() {
  controls::CReportCtrl* list = controller_.List();
  if (!list) return {};
  const int index = list->GetFirstSelectedItem();
  const auto* row = index >= 0 ? static_cast<const DeviceListRow*>(list->GetItemData(index)) : nullptr;
  return row ? QString::fromStdString(row->m_searchInfo.p2pId) : QString();
}

bool DeviceListSeamImpl::SelectedLabelFields(printing::DeviceLabelFields& out) {
  controls::CReportCtrl* list = controller_.List();
  if (!list) return false;
  const int index = list->GetFirstSelectedItem();
  const auto* row = index >= 0 ? static_cast<const DeviceListRow*>(list->GetItemData(index)) : nullptr;
  if (row == nullptr) return false;
  const DeviceSearchInfo& r = row->m_searchInfo;
  out.p2pId = QString::fromStdString(r.p2pId);
  out.oemSerial = QString::fromStdString(r.oemSerial);
  out.serial = QString::fromStdString(r.serialNumber);
  out.mac = QString::fromStdString(r.lanConfig.macAddress);
  return true;
}

QString DeviceListSeamImpl::P2pIdOfRow(int index) {
  controls::CReportCtrl* list = controller_.List();
  if (!list || index < 0 || index >= list->GetItemCount()) return {};
  const auto* row = static_cast<const DeviceListRow*>(list->GetItemData(index));
  return row ? QString::fromStdString(row->m_searchInfo.p2pId) : QString();
}

void DeviceListSeamImpl::ForEachRow(const std::function<bool(int row, shell::RowTimerState&)>& fn) {
  controls::CReportCtrl* list = controller_.List();
  if (!list) return;
  for (int i = 0; i < list->GetItemCount(); ++i) {
    auto* row = static_cast<DeviceListRow*>(list->GetItemData(i));
    if (!row) continue;
    shell::RowTimerState state;
    state.upgrading = row->m_busy;
    state.snapshot_pending = row->m_snapshotPending != 0;
    state.snapshot_start_s = row->m_snapshotTime;
    state.night_demo_state = row->m_ircutDemoState;
    const bool go_on = fn(i, state);
    row->m_busy = state.upgrading;
    row->m_snapshotPending = state.snapshot_pending ? 1 : 0;
    row->m_snapshotTime = state.snapshot_start_s;
    row->m_ircutDemoState = state.night_demo_state;
    if (!go_on) break;
  }
}

void DeviceListSeamImpl::OnSdkStatusEvent(device::DeviceStatusEvent event) {
  controller_.OnDeviceStatusEvent(event);
}

void DeviceListSeamImpl::OnSdkAuxResponse(device::DeviceAuxResponse response) {
  controller_.OnDeviceAuxResponse(response);
}

void DeviceListSeamImpl::ClearRows() {
  controller_.StopSearch();
  controller_.ClearDeviceMapAndList();
}

}  // namespace kelvara::discovery
