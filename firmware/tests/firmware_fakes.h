#pragma once
// A window, SDK and workers that record what the firmware handlers do, and
// device-list rows made from search replies.
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "discovery/core/search_reply.h"
#include "discovery/tests/recording_view.h"
#include "discovery/tests/reply_fixture.h"
#include "firmware/core/firmware_actions.h"

namespace kelvara::firmware::test {

class FakeWindow : public FirmwareWindow {
 public:
  std::string FieldText(int id) override { return fields[id]; }
  void SetFieldText(int id, const std::string& text) override { fields[id] = text; }
  bool AutoActionsChecked() override { return auto_actions; }
  void ErrorBox(const std::string& text) override { boxes.push_back(text); }
  std::string OpenFile(const OpenFileRequest& r) override {
    requests.push_back(r);
    if (answers.empty()) return {};
    std::string a = answers.front();
    answers.pop_front();
    return a;
  }
  std::string ChooseFolder(const std::string& title, const std::filesystem::path&) override {
    folder_titles.push_back(title);
    return folder_answer;
  }
  bool UpgradeBusy() override { return busy; }
  void SetUpgradeBusy(bool b) override { busy = b; }
  void StartUpgradeWatch() override { ++watch_starts; }
  int FirstSelectedRow() override { return selected; }
  std::vector<int> RowsInListOrder() override { return list_order; }
  bool CopyDeviceRecord(const std::string& serial, DeviceSearchInfo& out) override {
    auto it = records.find(serial);
    if (it == records.end()) return false;
    out = it->second;
    return true;
  }
  std::string SavedPath(PathSetting which) override { return saved[which]; }
  void SavePath(PathSetting which, const std::string& value) override { saved[which] = value; }
  void ShowRunSummary(const RunSummary& s) override { summaries.push_back(s); }

  std::map<int, std::string> fields;
  bool auto_actions = false;
  std::vector<std::string> boxes;
  std::deque<std::string> answers;
  std::vector<OpenFileRequest> requests;
  std::vector<std::string> folder_titles;
  std::string folder_answer;
  bool busy = false;
  int watch_starts = 0;
  int selected = -1;
  std::vector<int> list_order;  // empty: the rows' own order
  std::map<std::string, DeviceSearchInfo> records;
  std::map<PathSetting, std::string> saved;
  std::vector<RunSummary> summaries;
};

class FakeSdk : public FirmwareSdk {
 public:
  int Upgrade(int handle, const std::string& path) override {
    upgrades.push_back({handle, path});
    return refuse ? -4 : 0;
  }
  int GetUpgradeProgress(int handle) override { return progress[handle]; }
  int UploadOemAppFile(int handle, const std::string& path) override {
    oem.push_back({handle, path});
    return 0;
  }
  std::vector<std::pair<int, std::string>> upgrades, oem;
  std::map<int, int> progress;
  bool refuse = false;
};

class FakeWorkers : public FileWorkers {
 public:
  int UploadConfigFileToRow(int row, const std::string& path) override {
    uploads.push_back({row, path});
    return 0;
  }
  int UploadConfigFile(const discovery::DeviceListRow* record, const std::string& path) override {
    record_uploads.push_back({record->m_loginHandle, path});
    return 0;
  }
  int DownloadConfigFile(int row) override {
    downloads.push_back(row);
    return 0;
  }
  int DownloadDeviceFile(int row, const std::string& device_path, const std::string& local) override {
    device_files.push_back({row, device_path + " -> " + local});
    return 0;
  }
  std::vector<std::pair<int, std::string>> uploads, record_uploads, device_files;
  std::vector<int> downloads;
};

// Rows built from search replies, logged in with handles 101, 102, ...
struct Rows {
  Rows() : rows(columns, view) { columns.BuildColumnMap({}); }
  discovery::DeviceListRow& Add(const std::string& serial, const std::string& type, bool online = true,
                                bool checked = true) {
    discovery::test::FakeDevice d;
    d.serial = serial;
    d.deviceType = "NVS-IPC";  // the search keeps recorders and servers only
    d.ip = "10.77.1." + std::to_string(rows.Count() + 1);
    map.AddOrUpdateDevice(*discovery::ParseSearchReply(discovery::test::ReplyText(d)), "10.77.0.1", 1);
    rows.RefreshDeviceList(map, {});
    discovery::DeviceListRow& r = *rows.FindByKey(serial);
    rows.SetLoginHandle(r, 100 + static_cast<int>(rows.Count()));
    r.m_online = online;
    r.checked = checked;
    r.m_loginVersion = "V1";
    r.m_searchInfo.deviceType = type;
    return r;
  }
  std::string Status(discovery::DeviceListRow& row) {
    return view.Cell(&row, columns.GetColumnIndex(discovery::kColState));
  }
  discovery::ColumnMap columns;
  discovery::test::RecordingView view;
  discovery::DeviceMap map;
  discovery::DeviceRows rows;
};

}  // namespace kelvara::firmware::test
