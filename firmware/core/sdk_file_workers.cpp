#include "firmware/core/sdk_file_workers.h"

#include <system_error>

#include "common/folder_functions.h"
#include "common/language_table.h"
#include "common/path_component.h"

namespace kelvara::firmware {
namespace fs = std::filesystem;
using discovery::DeviceListRow;

SdkFileWorkers::SdkFileWorkers(std::function<discovery::DeviceRows*()> rows, FileSdk& sdk,
                               FirmwareActions::Lookup lookup)
    : rows_(std::move(rows)), sdk_(sdk), lookup_(std::move(lookup)) {}

DeviceListRow* SdkFileWorkers::RowAt(int row) const {
  discovery::DeviceRows* rows = rows_();
  if (rows == nullptr || row < 0 || static_cast<std::size_t>(row) >= rows->Count()) return nullptr;
  return &rows->At(static_cast<std::size_t>(row));
}

void SdkFileWorkers::Status(DeviceListRow& row, const char* key) {
  if (discovery::DeviceRows* rows = rows_())
    rows->SetCellTextIfChanged(row, discovery::kColState, lookup_ ? lookup_(key) : std::string());
}

int SdkFileWorkers::UploadConfigFileToRow(int row, const std::string& local_path) {
  DeviceListRow* record = RowAt(row);
  if (record == nullptr) return -1;
  return UploadConfigFile(record, local_path);
}

int SdkFileWorkers::UploadConfigFile(const DeviceListRow* record, const std::string& local_path) {
  if (record == nullptr) return -1;
  if (!record->m_online) return 0;
  // The texts go to the first row holding the record's handle.
  discovery::DeviceRows* rows = rows_();
  DeviceListRow* row = rows ? rows->FindByHandle(record->m_loginHandle) : nullptr;
  if (record->m_loginHandle <= 0) {
    if (row) Status(*row, LangKey("MSGTIP20"));
    return 0;
  }
  const int r = sdk_.SetConfigFile(record->m_loginHandle, local_path);
  if (row) Status(*row, r != 0 ? LangKey("MSGTIP31") : LangKey("MSGTIP32"));
  return 0;
}

int SdkFileWorkers::DownloadConfigFile(int index) {
  DeviceListRow* row = RowAt(index);
  if (row == nullptr) return -1;
  if (!row->m_online) return 0;
  if (row->m_loginHandle <= 0) {
    Status(*row, LangKey("MSGTIP21"));
    return 0;
  }
  const fs::path docs = GetShellFolderPath(5);
  CreateFolderPath(docs);
  const fs::path local = docs / ("config_" + SanitizePathComponent(row->m_searchInfo.serialNumber) + "_" +
                                 SanitizePathComponent(row->m_searchInfo.lanConfig.ipAddress) + ".dev.xml");
  std::error_code ec;
  fs::remove(local, ec);
  const int r = sdk_.GetConfigFile(row->m_loginHandle, local.string());
  Status(*row, r != 0 ? LangKey("MSGTIP33") : LangKey("MSGTIP18"));
  return 0;
}

std::string DeviceFileLocalPath(const fs::path& documents, const std::string& ip, const std::string& device_path,
                                const std::string& local_name) {
  std::string name = local_name;
  if (name.empty()) {
    const auto cut = device_path.find_last_of('\\') != std::string::npos ? device_path.find_last_of('\\')
                                                                         : device_path.find_last_of('/');
    name = SanitizePathComponent(cut == std::string::npos ? device_path : device_path.substr(cut + 1));
  }
  const auto jpg = name.find(".jpg");
  const auto mp4 = name.find(".mp4");
  const std::string folder_ip = SanitizePathComponent(ip);
  if (jpg != std::string::npos && jpg > 0) {
    const fs::path dir = documents / "snap" / folder_ip;
    CreateFolderPath(dir);
    return (dir / name).string();
  }
  if (mp4 != std::string::npos && mp4 > 0) {
    const fs::path dir = documents / folder_ip;
    CreateFolderPath(dir);
    return (dir / name).string();
  }
  return name;
}

int SdkFileWorkers::DownloadDeviceFile(int index, const std::string& device_path, const std::string& local_name) {
  DeviceListRow* row = RowAt(index);
  if (row == nullptr) return -1;
  if (!row->m_online) return 0;
  if (row->m_loginHandle <= 0) {
    Status(*row, LangKey("MSGTIP21"));
    return 0;
  }
  const std::string local =
      DeviceFileLocalPath(GetShellFolderPath(5), row->m_searchInfo.lanConfig.ipAddress, device_path, local_name);
  const int r = sdk_.GetFileByName(row->m_loginHandle, 1, device_path, local);
  Status(*row, r != 0 ? LangKey("FILEDOWN_REQFAIL") : LangKey("FILEDOWNLOADDING"));
  return 0;
}

}  // namespace kelvara::firmware
