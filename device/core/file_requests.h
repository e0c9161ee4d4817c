#pragma once
// Files a device makes on request: a snapshot (1043), a time-lapse video of
// one day (1058) and an export of one day's recordings (1061). The device
// announces the file later by an alarm (23 for the picture, 47 for a video);
// the status-event handler then fetches it through DownloadDeviceFile, whose
// naming rules keep every name below the documents folder.
//
// Each request runs as a BatchJob over its rows, so every row taken ends in
// one terminal state: done once the announced file is stored, failed when
// its download fails or is refused, timed out when the picture is not
// announced in time (or the whole fetch takes too long), link lost when the
// login ends first; failed too when the device answers the request itself
// with an error. Rows are kept by serial, never by record. UI thread only;
// nothing here blocks.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/core/batch_job.h"
#include "device/core/device_commands.h"
#include "device/core/sdk_bridge.h"

namespace kelvara::device {

// The day and daily window of a time-lapse or record export (the date
// dialog's values).
struct FileRequestDay {
  int year = 0, month = 0, day = 0;
  bool recreate = false;
  int targetSeconds = 60;  // time-lapse only
  int startHour = 7, startMinute = 30, startSecond = 0;
  int endHour = 19, endMinute = 30, endSecond = 0;
};

// The snapshot request; the device expects no blank between the attributes.
inline constexpr char kSnapshotRequest[] = "<REQUEST_PARAM Stream=\"0\"Quality=\"100\"/>\n";
std::string BuildTimelapseRequest(const FileRequestDay& day);
std::string BuildExportRecordRequest(const FileRequestDay& day);

enum class DeviceFileKind { kSnapshot, kTimelapse, kRecordExport };
// The request's command code (1043, 1058, 1061).
int DeviceFileCode(DeviceFileKind kind);

class DeviceFileRequests {
 public:
  struct Options {
    // From the request to the stored file, past which a row times out. A
    // picture not announced within 5 s times out earlier (OnSnapshotTimedOut).
    std::chrono::milliseconds snapshotTimeout{30000};
    std::chrono::milliseconds videoTimeout{600000};
    BatchJob::Clock now;                        // for the jobs' time-outs
    std::function<std::int64_t()> secondsNow;   // the PC clock, seconds since 1970
    // An information box (text key, caption key).
    std::function<void(const char* textKey, const char* captionKey)> infoBox;
    // The summary of a finished run, which also goes to the debug log.
    std::function<void(const std::string&)> showSummary;
  };
  DeviceFileRequests(DeviceCommands& commands, Options options);
  ~DeviceFileRequests();
  DeviceFileRequests(const DeviceFileRequests&) = delete;
  DeviceFileRequests& operator=(const DeviceFileRequests&) = delete;

  // A snapshot for each row in order. A row whose picture is still awaited
  // gets the "SNAPPING_WAIT" box and is not taken again.
  void Snapshot(const std::vector<DeviceListRow*>& rows);
  // A time-lapse or record export for the row with `serial` (looked up again
  // after the date dialog); nothing when the row is gone.
  void RequestVideo(DeviceFileKind kind, const std::string& serial, const FileRequestDay& day);

  // Every status event after its handler ran (the downloads it started are
  // known by then).
  void OnStatusEvent(const DeviceStatusEvent& event);
  // An AUX reply: the device's answer to the request itself. An error (or
  // the SDK's lost-link and time-out answers) ends a row still waiting for
  // its announcement; a good answer only says the device is at work.
  void OnReply(int handle, int command, int result);
  // The picture of `row` was not announced within 5 s (the main window's
  // snapshot timer, which has already cleared the pending flag).
  void OnSnapshotTimedOut(DeviceListRow& row);
  // The list was emptied: every waiting row lost its link.
  void OnRowsCleared();
  void OnTick();

  std::size_t ActiveJobs() const { return jobs_.size(); }

 private:
  struct Download {
    int handle = 0;
    std::string devicePath;
    std::string localPath;
    int result = 0;
  };
  // A fetched file a row waits for, by local path.
  struct Awaited {
    int handle = 0;
    int code = 0;
    std::string localPath;
  };
  void Run(DeviceFileKind kind, const std::vector<DeviceListRow*>& rows, std::function<int(DeviceListRow&)> send);
  bool Waiting(int handle, int code) const;
  void EndRow(int handle, int code, int result);
  void TimeOutRow(int handle, int code);
  void OnAnnounced(int handle, int code, const std::string& devicePath);
  void Reap();

  DeviceCommands& commands_;
  Options options_;
  std::vector<std::unique_ptr<BatchJob>> jobs_;
  std::vector<Download> downloads_;  // started while the current event was handled
  std::vector<Awaited> awaited_;
};

}  // namespace kelvara::device
