#include "app/ui/device_list_seam.h"

namespace kelvara::discovery {

DeviceListSeamImpl::DeviceListSeamImpl(DeviceListController::Options options)
    : controller_(std::move(options)) {}

QWidget* DeviceListSeamImpl::CreateListWidget(QWidget* parent) { return controller_.CreateListWidget(parent); }

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
