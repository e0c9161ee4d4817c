#include "device/ui/batch_file_commands.h"

namespace kelvara::device {

BatchFileCommands::BatchFileCommands(DeviceCommandHost& commands, Hooks hooks)
    : commands_(commands), hooks_(std::move(hooks)) {
  DeviceFileRequests::Options options;
  options.infoBox = hooks_.infoBox;
  options.showSummary = hooks_.showSummary;
  requests_ = std::make_unique<DeviceFileRequests>(commands_.Commands(), std::move(options));
  previous_ = commands_.afterStatusEvent;
  commands_.afterStatusEvent = [this](const DeviceStatusEvent& e) {
    if (previous_) previous_(e);
    requests_->OnStatusEvent(e);
    if (requests_->ActiveJobs() == 0) tick_.stop();
  };
  previousReply_ = commands_.afterAuxResponse;
  commands_.afterAuxResponse = [this](const DeviceAuxResponse& r) {
    if (previousReply_) previousReply_(r);
    requests_->OnReply(r.loginHandle, r.command, r.result);
    if (requests_->ActiveJobs() == 0) tick_.stop();
  };
  tick_.setInterval(250);
  QObject::connect(&tick_, &QTimer::timeout, this, [this] {
    requests_->OnTick();
    if (requests_->ActiveJobs() == 0) tick_.stop();
  });
}

BatchFileCommands::~BatchFileCommands() {
  commands_.afterStatusEvent = previous_;
  commands_.afterAuxResponse = previousReply_;
}

bool BatchFileCommands::OnCommand(int id) {
  switch (id) {
    case 32790: {
      const int index = hooks_.selectedIndex ? hooks_.selectedIndex() : -1;
      if (discovery::DeviceListRow* row = commands_.RowAt(index)) requests_->Snapshot({row});
      break;
    }
    case 33382: RequestVideo(DeviceFileKind::kTimelapse); break;
    case 33383: RequestVideo(DeviceFileKind::kRecordExport); break;
    default: return false;
  }
  if (requests_->ActiveJobs() > 0 && !tick_.isActive()) tick_.start();
  return true;
}

void BatchFileCommands::OnBatchSnapshot() {
  if (!hooks_.checkSelection || hooks_.checkSelection() < 1) return;
  requests_->Snapshot(commands_.CheckedRows());
  if (requests_->ActiveJobs() > 0 && !tick_.isActive()) tick_.start();
}

void BatchFileCommands::RequestVideo(DeviceFileKind kind) {
  const int index = hooks_.selectedIndex ? hooks_.selectedIndex() : -1;
  const discovery::DeviceListRow* row = commands_.RowAt(index);
  if (!row || !hooks_.askDay) return;
  // The dialog is modal: the list may change meanwhile, so the row is kept
  // by its serial and looked up again afterwards.
  const std::string serial = row->m_key;
  const std::optional<FileRequestDay> day = hooks_.askDay();
  if (!day) return;
  requests_->RequestVideo(kind, serial, *day);
}

void BatchFileCommands::OnSnapshotTimedOut(int index) {
  if (discovery::DeviceListRow* row = commands_.RowAt(index)) requests_->OnSnapshotTimedOut(*row);
}

}  // namespace kelvara::device
