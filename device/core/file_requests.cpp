#include "device/core/file_requests.h"

#include <algorithm>
#include <cstdio>

#include "common/debug_log.h"
#include "common/language_table.h"
#include "device/core/device_files.h"
#include "device/core/event_texts.h"
#include "device/core/row_texts.h"

namespace kelvara::device {

namespace {

// Status events that end a login (logout, offline, failed or replaced login).
bool LinkLostEvent(int type) { return type == 2 || type == 3 || type == 5 || type == 31 || type == 34; }

constexpr int kEventDownloadDone = 16;
constexpr int kEventDownloadFailed = 17;
constexpr int kEventAlarm = 23;
constexpr int kAlarmSnapshot = 23;
constexpr int kAlarmVideo = 47;

}  // namespace

std::string BuildTimelapseRequest(const FileRequestDay& d) {
  char text[256];
  std::snprintf(text, sizeof text,
                "<REQUEST_PARAM year=\"%d\" month=\"%d\" day=\"%d\" recreate=\"%d\" targetsec=\"%d\" "
                "StartTime=\"%02d:%02d:%02d\" EndTime=\"%02d:%02d:%02d\" />\n",
                d.year, d.month, d.day, d.recreate ? 1 : 0, d.targetSeconds, d.startHour, d.startMinute,
                d.startSecond, d.endHour, d.endMinute, d.endSecond);
  return text;
}

std::string BuildExportRecordRequest(const FileRequestDay& d) {
  char text[256];
  std::snprintf(text, sizeof text,
                "<REQUEST_PARAM year=\"%d\" month=\"%d\" day=\"%d\" recreate=\"%d\" "
                "StartTime=\"%02d:%02d:%02d\" EndTime=\"%02d:%02d:%02d\" />\n",
                d.year, d.month, d.day, d.recreate ? 1 : 0, d.startHour, d.startMinute, d.startSecond, d.endHour,
                d.endMinute, d.endSecond);
  return text;
}

int DeviceFileCode(DeviceFileKind kind) {
  switch (kind) {
    case DeviceFileKind::kSnapshot: return 1043;
    case DeviceFileKind::kTimelapse: return 1058;
    case DeviceFileKind::kRecordExport: return 1061;
  }
  return 0;
}

DeviceFileRequests::DeviceFileRequests(DeviceCommands& commands, Options options)
    : commands_(commands), options_(std::move(options)) {
  if (!options_.now) options_.now = [] { return std::chrono::steady_clock::now(); };
  if (!options_.secondsNow) options_.secondsNow = [] { return static_cast<std::int64_t>(std::time(nullptr)); };
  commands_.onDownloadRequested = [this](DeviceListRow& row, const std::string& devicePath,
                                         const std::string& localPath, int result) {
    downloads_.push_back({row.m_loginHandle, devicePath, localPath, result});
  };
}

DeviceFileRequests::~DeviceFileRequests() { commands_.onDownloadRequested = nullptr; }

void DeviceFileRequests::Run(DeviceFileKind kind, const std::vector<DeviceListRow*>& rows,
                             std::function<int(DeviceListRow&)> send) {
  if (rows.empty()) return;
  BatchCommand command;
  command.answer = BatchCommand::Answer::kReply;
  command.replyCode = DeviceFileCode(kind);
  command.send = std::move(send);
  const auto timeout = kind == DeviceFileKind::kSnapshot ? options_.snapshotTimeout : options_.videoTimeout;
  auto job = std::make_unique<BatchJob>(
      std::move(command), [this](const std::string& serial) { return commands_.Rows().FindByKey(serial); }, timeout,
      options_.now);
  // The row keeps the texts of the request and of the handlers that fetch
  // the file; the job adds the not-logged-in text and says when it stopped
  // waiting (a device's own error answer is written by OnReply).
  job->onState = [this, kind](DeviceListRow* row, BatchState state) {
    if (!row) return;
    const bool snapshot = kind == DeviceFileKind::kSnapshot;
    const char* key = nullptr;
    if (state == BatchState::kNotLoggedIn) key = snapshot ? LangKey("MSGTIP23") : LangKey("FILEDOWN_REQFAIL");
    if (state == BatchState::kTimedOut) key = snapshot ? LangKey("SNAPPING_TIMEOUT") : BatchStateKey(state);
    if (key) SetRowStatus(commands_.Rows(), *row, commands_.Text(key));
  };
  job->onFinished = [this](const BatchSummary& summary) {
    const std::string text = BatchSummaryText(summary, [this](const char* k) { return commands_.Text(k); });
    DebugLogPrintf("device file request finished: %s\n", text.c_str());
    if (options_.showSummary) options_.showSummary(text);
  };
  BatchJob* raw = job.get();
  jobs_.push_back(std::move(job));
  raw->Start(rows);
  Reap();
}

void DeviceFileRequests::Snapshot(const std::vector<DeviceListRow*>& rows) {
  std::vector<DeviceListRow*> taken;
  for (DeviceListRow* row : rows) {
    if (!row) continue;
    // One picture at a time per device: the earlier request still owns the row.
    if (row->m_snapshotPending) {
      if (options_.infoBox) options_.infoBox(LangKey("SNAPPING_WAIT"), LangKey("INFO"));
      continue;
    }
    taken.push_back(row);
  }
  Run(DeviceFileKind::kSnapshot, taken, [this](DeviceListRow& row) {
    const int result = commands_.Sdk().SystemControl(row.m_loginHandle, 1043, kSnapshotRequest);
    if (result != 0) {
      commands_.SetStatus(row, LangKey("SNAPPIC_REQFAIL"));
      return result;
    }
    commands_.SetStatus(row, LangKey("SNAPPIC"));
    row.m_snapshotPending = 1;
    row.m_snapshotTime = options_.secondsNow();
    return 0;
  });
}

void DeviceFileRequests::RequestVideo(DeviceFileKind kind, const std::string& serial, const FileRequestDay& day) {
  if (kind == DeviceFileKind::kSnapshot) return;
  DeviceListRow* row = commands_.Rows().FindByKey(serial);
  if (!row) return;
  const bool timelapse = kind == DeviceFileKind::kTimelapse;
  const std::string text = timelapse ? BuildTimelapseRequest(day) : BuildExportRecordRequest(day);
  Run(kind, {row}, [this, timelapse, text](DeviceListRow& r) {
    const int result =
        commands_.Sdk().SystemControl(r.m_loginHandle, timelapse ? 1058 : 1061, text);
    if (result != 0) {
      commands_.SetStatus(r, LangKey("FILEDOWN_REQFAIL"));
      return result;
    }
    commands_.SetStatus(r, timelapse ? LangKey("SUCCEED_TIMELAPSE_REQ") : LangKey("SUCCEED_EXPORTRECORD_REQ"));
    (timelapse ? r.m_timelapsePending : r.m_recordExportPending) = 1;
    return 0;
  });
}

bool DeviceFileRequests::Waiting(int handle, int code) const {
  for (const auto& job : jobs_)
    for (const BatchJob::Entry& e : job->Entries())
      if (e.state == BatchState::kPending && e.handle == handle &&
          std::find(e.awaiting.begin(), e.awaiting.end(), code) != e.awaiting.end())
        return true;
  return false;
}

void DeviceFileRequests::EndRow(int handle, int code, int result) {
  for (auto& job : jobs_)
    if (job->OnReply(handle, code, result)) break;
}

void DeviceFileRequests::TimeOutRow(int handle, int code) {
  for (auto& job : jobs_)
    if (job->OnRowTimedOut(handle, code)) break;
}

void DeviceFileRequests::OnAnnounced(int handle, int code, const std::string& devicePath) {
  // A row waits for one file: not again once its file is on the way.
  const bool fetching = std::any_of(awaited_.begin(), awaited_.end(),
                                    [&](const Awaited& a) { return a.handle == handle && a.code == code; });
  if (fetching || !Waiting(handle, code)) return;
  for (auto it = downloads_.rbegin(); it != downloads_.rend(); ++it) {
    if (it->handle != handle || it->devicePath != devicePath) continue;
    if (it->result != 0) {
      EndRow(handle, code, it->result);
    } else {
      awaited_.push_back({handle, code, it->localPath});
    }
    return;
  }
}

void DeviceFileRequests::OnStatusEvent(const DeviceStatusEvent& event) {
  const int handle = event.loginHandle;
  if (event.eventType == kEventDownloadDone || event.eventType == kEventDownloadFailed) {
    const std::string name = DownloadedFileName(event.data);
    auto it = std::find_if(awaited_.begin(), awaited_.end(),
                           [&](const Awaited& a) { return !name.empty() && a.localPath == name; });
    if (it != awaited_.end()) {
      const Awaited done = *it;
      awaited_.erase(it);
      EndRow(done.handle, done.code, event.eventType == kEventDownloadDone ? 0 : 1);
    }
  } else if (event.eventType == kEventAlarm) {
    const DeviceAlarmInfo alarm = DeviceAlarmInfo::FromRecord(event.data);
    // The handler has fetched the file of a request it found pending and
    // cleared that flag; which flag went tells whose file it is.
    const DeviceListRow* row = commands_.Rows().FindByHandle(handle);
    if (row && alarm.alarmCode == kAlarmSnapshot && !row->m_snapshotPending) {
      OnAnnounced(handle, 1043, alarm.detail);
    } else if (row && alarm.alarmCode == kAlarmVideo) {
      if (!row->m_timelapsePending && Waiting(handle, 1058) &&
          std::none_of(awaited_.begin(), awaited_.end(),
                       [&](const Awaited& a) { return a.handle == handle && a.code == 1058; })) {
        OnAnnounced(handle, 1058, alarm.detail);
      } else if (!row->m_recordExportPending) {
        OnAnnounced(handle, 1061, alarm.detail);
      }
    }
  } else if (LinkLostEvent(event.eventType)) {
    for (auto& job : jobs_) job->OnLinkLost(handle);
  }
  downloads_.clear();
  Reap();
}

void DeviceFileRequests::OnReply(int handle, int command, int result) {
  if (result == 0 || (command != 1043 && command != 1058 && command != 1061)) return;
  const bool fetching = std::any_of(awaited_.begin(), awaited_.end(),
                                    [&](const Awaited& a) { return a.handle == handle && a.code == command; });
  if (fetching || !Waiting(handle, command)) return;
  // Nothing will be announced: the request is no longer pending.
  if (DeviceListRow* row = commands_.Rows().FindByHandle(handle)) {
    if (command == 1043) {
      row->m_snapshotPending = 0;
      row->m_snapshotTime = 0;
    } else {
      (command == 1058 ? row->m_timelapsePending : row->m_recordExportPending) = 0;
    }
  }
  EndRow(handle, command, result);
  // The device turned the request down: the request's own failure text (the
  // SDK's time-out and lost link are told by the job and the event handler).
  DeviceListRow* row = commands_.Rows().FindByHandle(handle);
  if (row && result != kReplyResultTimedOut && result != kReplyResultLinkLost)
    commands_.SetStatus(*row, command == 1043 ? LangKey("SNAPPIC_REQFAIL") : LangKey("FILEDOWN_REQFAIL"));
  Reap();
}

void DeviceFileRequests::OnSnapshotTimedOut(DeviceListRow& row) {
  row.m_snapshotPending = 0;
  row.m_snapshotTime = 0;
  if (!Waiting(row.m_loginHandle, 1043)) {
    commands_.SetStatus(row, LangKey("SNAPPING_TIMEOUT"));
    return;
  }
  TimeOutRow(row.m_loginHandle, 1043);
  Reap();
}

void DeviceFileRequests::OnRowsCleared() {
  for (auto& job : jobs_) job->OnRowsCleared();
  Reap();
}

void DeviceFileRequests::OnTick() {
  for (auto& job : jobs_) job->OnTick();
  Reap();
}

void DeviceFileRequests::Reap() {
  jobs_.erase(std::remove_if(jobs_.begin(), jobs_.end(), [](const auto& j) { return j->Finished(); }), jobs_.end());
  // A row that ended otherwise (time-out, lost link) no longer waits for its file.
  awaited_.erase(std::remove_if(awaited_.begin(), awaited_.end(),
                                [this](const Awaited& a) { return !Waiting(a.handle, a.code); }),
                 awaited_.end());
}

}  // namespace kelvara::device
