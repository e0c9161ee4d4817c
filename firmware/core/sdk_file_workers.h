#pragma once
// The device-command workers that move files, over the device SDK: each looks
// its row up, acts only for an online row with a login handle, calls the SDK
// and writes the row's status text (the transfer's end arrives later as a
// status event). The commands subsystem may hand FirmwareActions its own.
#include <functional>
#include <string>

#include "discovery/core/device_rows.h"
#include "firmware/core/firmware_actions.h"

namespace kelvara::firmware {

class FileSdk {
 public:
  virtual ~FileSdk() = default;
  virtual int SetConfigFile(int handle, const std::string& local_path) = 0;
  virtual int GetConfigFile(int handle, const std::string& local_path) = 0;
  virtual int GetFileByName(int handle, int kind, const std::string& device_path, const std::string& local_path) = 0;
};

class SdkFileWorkers final : public FileWorkers {
 public:
  SdkFileWorkers(std::function<discovery::DeviceRows*()> rows, FileSdk& sdk, FirmwareActions::Lookup lookup);
  int UploadConfigFileToRow(int row, const std::string& local_path) override;
  int UploadConfigFile(const discovery::DeviceListRow* record, const std::string& local_path) override;
  int DownloadConfigFile(int row) override;
  int DownloadDeviceFile(int row, const std::string& device_path, const std::string& local_name) override;

 private:
  discovery::DeviceListRow* RowAt(int row) const;
  void Status(discovery::DeviceListRow& row, const char* key);

  std::function<discovery::DeviceRows*()> rows_;
  FileSdk& sdk_;
  FirmwareActions::Lookup lookup_;
};

// Where DownloadDeviceFile stores a file: the device path's last part when no
// local name is given (made safe for a file name); pictures (".jpg") below
// <documents>/snap/<ip>/, recordings (".mp4") below <documents>/<ip>/, other
// names as given.
std::string DeviceFileLocalPath(const std::filesystem::path& documents, const std::string& ip,
                                const std::string& device_path, const std::string& local_name);

}  // namespace kelvara::firmware
