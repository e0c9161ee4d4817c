#include "app/ui/firmware_seam.h"

#include <chrono>
#include <unordered_map>

#include "app/ui/zq_dev_search_tool_dlg.h"
#include "common/language_table.h"

namespace kelvara::ui {

FirmwareSeamImpl::FirmwareSeamImpl(discovery::DeviceListController& list, shell::ShellSettings& settings)
    : list_(list), settings_(settings) {}

FirmwareSeamImpl::~FirmwareSeamImpl() = default;

int FirmwareSeamImpl::FirstSelectedRow() const {
  controls::CReportCtrl* view = list_.List();
  const int index = view ? view->GetFirstSelectedItem() : -1;
  const void* data = index >= 0 ? view->GetItemData(index) : nullptr;
  discovery::DeviceRows& rows = list_.Rows();
  for (std::size_t i = 0; data != nullptr && i < rows.Count(); ++i)
    if (&rows.At(i) == data) return static_cast<int>(i);
  return -1;
}

std::vector<int> FirmwareSeamImpl::RowsInListOrder() const {
  std::vector<int> order;
  controls::CReportCtrl* view = list_.List();
  discovery::DeviceRows& rows = list_.Rows();
  if (view == nullptr) return order;
  std::unordered_map<const void*, int> index;
  index.reserve(rows.Count());
  for (std::size_t i = 0; i < rows.Count(); ++i) index.emplace(&rows.At(i), static_cast<int>(i));
  for (int item = 0; item < view->GetItemCount(); ++item)
    if (auto it = index.find(view->GetItemData(item)); it != index.end()) order.push_back(it->second);
  return order;
}

void FirmwareSeamImpl::AttachWindow(CZqDevSearchToolDlg& window, device::DeviceCommands& commands) {
  auto rows = [this] { return &list_.Rows(); };
  auto lookup = [](const char* key) { return LangText(key); };
  firmware::ui::WindowServices services;
  services.upgrade_busy = [&window] { return window.UpgradeBusy(); };
  services.set_upgrade_busy = [&window](bool busy) { window.SetUpgradeBusy(busy); };
  services.start_upgrade_watch = [&window] { window.StartUpgradeWatch(); };
  services.first_selected_row = [this] { return FirstSelectedRow(); };
  services.rows_in_list_order = [this] { return RowsInListOrder(); };
  services.copy_device_record = [this](const std::string& serial, DeviceSearchInfo& out) {
    auto record = list_.Map().CopyDeviceRecord(serial);
    if (record) out = *record;
    return record.has_value();
  };
  services.saved_path = [this](firmware::PathSetting which) {
    switch (which) {
      case firmware::PathSetting::kUpgradeFile: return settings_.UpgradeFileName();
      case firmware::PathSetting::kUpgradeFolder: return settings_.UpgradePath();
      case firmware::PathSetting::kUploadConfigFile: return settings_.UploadCfgFileName();
    }
    return std::string();
  };
  services.save_path = [this](firmware::PathSetting which, const std::string& value) {
    switch (which) {
      case firmware::PathSetting::kUpgradeFile: settings_.SetUpgradeFileName(value); break;
      case firmware::PathSetting::kUpgradeFolder: settings_.SetUpgradePath(value); break;
      case firmware::PathSetting::kUploadConfigFile: settings_.SetUploadCfgFileName(value); break;
    }
    settings_.Save();
  };
  workers_ = std::make_unique<firmware::CommandFileWorkers>(rows, commands);
  window_ = std::make_unique<firmware::ui::QtFirmwareWindow>(window, *window.Services().prompts, std::move(services));
  const auto start = std::chrono::steady_clock::now();
  actions_ = std::make_unique<firmware::FirmwareActions>(rows, sdk_, *workers_, *window_, lookup, [start] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  });
  actions_->SetProgramFolder(window.Services().program_dir.toStdString());
}

bool FirmwareSeamImpl::OnCommand(int id) { return actions_ && actions_->OnCommand(id); }

void FirmwareSeamImpl::OnDropFiles(const QStringList& paths) {
  if (!actions_) return;
  std::vector<std::string> items;
  for (const QString& p : paths) items.push_back(p.toStdString());
  actions_->OnDropFiles(items);
}

bool FirmwareSeamImpl::UpgradeWatchTick() { return !actions_ || actions_->OnUpgradeWatchTick(); }

void FirmwareSeamImpl::UpgradeRunEnded() {
  if (actions_) actions_->OnUpgradeRunEnded();
}


}  // namespace kelvara::ui
