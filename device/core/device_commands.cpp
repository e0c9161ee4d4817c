#include "device/core/device_commands.h"

#include "common/debug_log.h"
#include "common/log_text.h"
#include "common/language_table.h"
#include "common/paths.h"
#include "common/text_convert.h"
#include "device/core/command_codes.h"
#include "device/core/device_files.h"
#include "device/core/request_builders.h"
#include "device/core/row_texts.h"

namespace kelvara::device {
namespace {

// The user's texts go to devices in their 8-bit code page.
std::string ToDevice(const std::string& utf8) { return Utf8ToGbk(utf8); }

}  // namespace

LoginActions& DeviceSeams::Login() const {
  static LoginActions none;
  return login ? *login : none;
}
TransferEvents& DeviceSeams::Transfers() const {
  static TransferEvents none;
  return transfers ? *transfers : none;
}
IntercomDialog& DeviceSeams::Intercom() const {
  static IntercomDialog none;
  return intercom ? *intercom : none;
}
FocusDialog& DeviceSeams::Focus() const {
  static FocusDialog none;
  return focus ? *focus : none;
}
NetworkCommands& DeviceSeams::Network() const {
  static NetworkCommands none;
  return network ? *network : none;
}

DeviceCommands::DeviceCommands(discovery::DeviceRows& rows, Options options)
    : DeviceCommands([&rows]() -> discovery::DeviceRows& { return rows; }, std::move(options)) {}

DeviceCommands::DeviceCommands(std::function<discovery::DeviceRows&()> rows, Options options)
    : rows_(std::move(rows)), options_(std::move(options)) {
  if (!options_.fileTimeNow) options_.fileTimeNow = FileTimeNow;
}

std::string DeviceCommands::Text(const char* key) const {
  return options_.lookup ? options_.lookup(key) : std::string();
}

void DeviceCommands::SetStatus(DeviceListRow& row, const char* key) { SetRowStatus(Rows(), row, Text(key)); }

std::filesystem::path DeviceCommands::DocumentsDir() const {
  return options_.documentsDir ? options_.documentsDir() : paths::DocumentsDir();
}

std::tm DeviceCommands::LocalTimeNow() const {
  if (options_.localTimeNow) return options_.localTimeNow();
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return tm;
}

bool DeviceCommands::Ready(DeviceListRow& row, const char* notLoggedInKey) {
  if (!row.m_online) return false;
  if (row.m_loginHandle <= 0) {
    SetStatus(row, notLoggedInKey);
    return false;
  }
  return true;
}

int DeviceCommands::SetConfigWorker(DeviceListRow* row, int code, const std::string& text, const char* failKey) {
  if (!row) return -1;
  if (!Ready(*row, LangKey("MSGTIP40"))) return 0;
  if (Sdk().SetDVRConfig(row->m_loginHandle, code, text) != 0) SetStatus(*row, failKey);
  return 0;
}

int DeviceCommands::SystemControlWorker(DeviceListRow* row, int code, const std::string& text, const char* failKey) {
  if (!row) return -1;
  if (!Ready(*row, LangKey("MSGTIP40"))) return 0;
  const int result = Sdk().SystemControl(row->m_loginHandle, code, text);
  if (result != 0 && failKey) SetStatus(*row, failKey);
  return 0;
}

int DeviceCommands::RequestBlock(DeviceListRow* row, int code, const std::function<void(DeviceListRow&)>& mark) {
  if (!row) return -1;
  if (!Ready(*row, LangKey("MSGTIP40"))) return 0;
  // Only an accepted get marks the row; a refused one leaves it as it was.
  if (Sdk().GetDVRConfig(row->m_loginHandle, code) == 0) mark(*row);
  return 0;
}

int DeviceCommands::UploadConfigFileToRow(DeviceListRow* row, const std::string& localPath) {
  if (!row) return -1;
  return UploadConfigFile(row, localPath);
}

int DeviceCommands::DownloadConfigFile(DeviceListRow* row) {
  if (!row) return -1;
  if (!Ready(*row, LangKey("MSGTIP21"))) return 0;
  const std::filesystem::path path = ConfigFileDownloadPath(DocumentsDir(), row->m_searchInfo);
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  std::filesystem::remove(path, ec);
  requestedDownloads_.insert(path.string());
  if (Sdk().GetConfigFile(row->m_loginHandle, path.string()) != 0) {
    requestedDownloads_.erase(path.string());
    SetStatus(*row, LangKey("MSGTIP33"));
  } else {
    SetStatus(*row, LangKey("MSGTIP18"));
  }
  return 0;
}

int DeviceCommands::DownloadDeviceFile(DeviceListRow* row, const std::string& devicePath, const std::string& localName) {
  if (!row) return -1;
  if (!Ready(*row, LangKey("MSGTIP21"))) return 0;
  const std::filesystem::path path =
      DeviceFileDownloadPath(DocumentsDir(), row->m_searchInfo.lanConfig.ipAddress, devicePath, localName,
                             [this](const std::filesystem::path& p) {
                               std::error_code ec;
                               return requestedDownloads_.count(p.string()) != 0 || std::filesystem::exists(p, ec);
                             });
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  requestedDownloads_.insert(path.string());
  const int result = Sdk().GetFileByName(row->m_loginHandle, kFileKindDevicePath, devicePath, path.string());
  if (result != 0) {
    requestedDownloads_.erase(path.string());
    SetStatus(*row, LangKey("FILEDOWN_REQFAIL"));
  } else {
    SetStatus(*row, LangKey("FILEDOWNLOADDING"));
  }
  if (onDownloadRequested) onDownloadRequested(*row, devicePath, path.string(), result);
  return 0;
}

bool DeviceCommands::TakeRequestedDownload(const std::string& localPath) {
  return requestedDownloads_.erase(localPath) != 0;
}

int DeviceCommands::RebootRow(DeviceListRow* row) {
  if (!row) return -1;
  if (!Ready(*row, LangKey("MSGTIP23"))) return 0;
  SetStatus(*row, Sdk().RebootDVR(row->m_loginHandle) != 0 ? LangKey("MSGTIP35") : LangKey("RESTARTING"));
  return 0;
}

int DeviceCommands::SyncRowTime(DeviceListRow* row) {
  if (!row) return -1;
  if (!Ready(*row, LangKey("MSGTIP22"))) return 0;
  if (SendTimeSync(row->m_loginHandle) != 0) SetStatus(*row, LangKey("MSGTIP36"));
  return 0;
}

int DeviceCommands::SetRowOsdTitle(DeviceListRow* row, const OverlayConfig& overlay, const OsdTitleChoice& choice) {
  if (!row) return -1;
  if (!Ready(*row, LangKey("MSGTIP40"))) return 0;
  const auto text = BuildOverlayRequest(overlay, BuildOsdTitleHex(overlay, choice, row->m_searchInfo));
  if (!text || Sdk().SetDVRConfig(row->m_loginHandle, SET_CFG_VIDEO_OVERLAY, *text) != 0)
    SetStatus(*row, LangKey("MSGTIP39"));
  return 0;
}

int DeviceCommands::SetRowAdminPassword(DeviceListRow* row, const std::string& password) {
  return SetConfigWorker(row, SET_CFG_USER, BuildAdminPasswordRequest(ToDevice(password)), LangKey("MSGTIP41"));
}

int DeviceCommands::FormatRowSdCard(DeviceListRow* row) {
  return SystemControlWorker(row, SYS_CTRL_FORMAT_STORAGE, kFormatStorageRequest, LangKey("MSGTIP41"));
}

int DeviceCommands::SetRowLanguage(DeviceListRow* row, const std::string& languageCode) {
  if (!row) return -1;
  if (!Ready(*row, LangKey("MSGTIP40"))) return 0;
  const auto text = BuildLanguageRequest(ToDevice(languageCode));
  if (!text || Sdk().SetDVRConfig(row->m_loginHandle, SET_CFG_MISC_LANGUAGE, *text) != 0)
    SetStatus(*row, LangKey("MSGTIP42"));
  return 0;
}

int DeviceCommands::SetRowLanguageAndWeb(DeviceListRow* row, int webDefaultLanguage, const std::string& languageCode,
                                         int kcWeb) {
  if (!row) return -1;
  if (!Ready(*row, LangKey("MSGTIP40"))) return 0;
  const auto config = BuildLanguageRequest(DeviceLanguageFor(languageCode));
  if (!config || Sdk().SetDVRConfig(row->m_loginHandle, SET_CFG_MISC_LANGUAGE, *config) != 0)
    SetStatus(*row, LangKey("MSGTIP42"));
  const auto web = BuildWebLanguageRequest(webDefaultLanguage, kcWeb, languageCode);
  if (!web || Sdk().SystemControl(row->m_loginHandle, SYS_CTRL_SET_WEB_LANGUAGE, *web) != 0)
    SetStatus(*row, LangKey("MSGTIP42"));
  return 0;
}

int DeviceCommands::RequestTvSystemChange(DeviceListRow* row, int value) {
  return RequestBlock(row, GET_CFG_VIDEO_CAPTURE, [value](DeviceListRow& r) {
    r.m_tvSystemPending = 1;
    r.m_tvSystemValue = value;
  });
}

int DeviceCommands::RequestNightModeDemo(DeviceListRow* row) {
  return RequestBlock(row, GET_CFG_VIDEO_CAPTURE, [](DeviceListRow& r) { r.m_ircutDemoState = 1; });
}

int DeviceCommands::RequestOnvifAllNetChange(DeviceListRow* row, int value) {
  return RequestBlock(row, GET_CFG_NETWORK_LAN, [value](DeviceListRow& r) {
    r.m_allnetPending = 1;
    r.m_allnetValue = value;
  });
}

int DeviceCommands::RequestHikAccessChange(DeviceListRow* row, int value) {
  return RequestBlock(row, GET_CFG_MEDIA_STREAM, [value](DeviceListRow& r) {
    r.m_hikPending = 1;
    r.m_hikValue = value;
  });
}

int DeviceCommands::RequestDhAccessChange(DeviceListRow* row, int value) {
  return RequestBlock(row, GET_CFG_MEDIA_STREAM, [value](DeviceListRow& r) {
    r.m_dhPending = 1;
    r.m_dhValue = value;
  });
}

int DeviceCommands::RequestVendorAccessChange(DeviceListRow* row, int value) {
  return RequestBlock(row, GET_CFG_MEDIA_STREAM, [value](DeviceListRow& r) {
    r.m_krnPending = 1;
    r.m_krnValue = value;
  });
}

int DeviceCommands::RequestStreamAccessChange(DeviceListRow* row, int value) {
  return RequestBlock(row, GET_CFG_MEDIA_STREAM, [value](DeviceListRow& r) {
    r.m_onvifPending = 1;
    r.m_onvifValue = value;
  });
}

int DeviceCommands::TestRowMcu(DeviceListRow* row) {
  // The result is not examined.
  return SystemControlWorker(row, SYS_CTRL_MCU_TEST, "", nullptr);
}

int DeviceCommands::SetRowPlatformConfig(DeviceListRow* row, int enable, const std::string& server, int port,
                                         const std::string& userName, const std::string& password, int playTone,
                                         int incrementOn, int increment) {
  if (!row) return -1;
  const std::string user = IncrementUserName(ToDevice(userName), incrementOn, increment);
  return SetConfigWorker(row, SET_CFG_PLATFORM,
                         BuildPlatformRequest(enable, ToDevice(server), port, user, ToDevice(password), playTone),
                         LangKey("MSGTIP43"));
}

int DeviceCommands::SetRowVideoEncode(DeviceListRow* row, const std::string& text) {
  return SetConfigWorker(row, SET_CFG_VIDEO_ENCODE, ToDevice(text), LangKey("IDS_STR_ZH_CN_SET_FAILED"));
}

int DeviceCommands::SetRowAudioEncode(DeviceListRow* row, const std::string& text) {
  return SetConfigWorker(row, SET_CFG_AUDIO_ENCODE, ToDevice(text), LangKey("IDS_STR_ZH_CN_SET_FAILED"));
}

int DeviceCommands::SetRowAudioCapture(DeviceListRow* row, const std::string& text) {
  return SetConfigWorker(row, SET_CFG_AUDIO_CAPTURE, ToDevice(text), LangKey("IDS_STR_ZH_CN_SET_FAILED"));
}

int DeviceCommands::SetRowImageParam(DeviceListRow* row, const std::string& text) {
  return SystemControlWorker(row, SYS_CTRL_SET_IMAGE_PARAM, ToDevice(text), LangKey("SET_FAILED"));
}

int DeviceCommands::SetRowVideoCapture(DeviceListRow* row, const std::string& text) {
  return SetConfigWorker(row, SET_CFG_VIDEO_CAPTURE, ToDevice(text), LangKey("SET_FAILED"));
}

int DeviceCommands::RequestAlarmConfigChange(DeviceListRow* row, const BatchPDSettings& settings) {
  return RequestBlock(row, GET_CFG_ALARM, [&settings](DeviceListRow& r) {
    r.m_pdPending = 1;
    r.m_pdSettings = settings;
  });
}

int DeviceCommands::RequestLightChange(DeviceListRow* row, const MediaLightConfig& settings) {
  return RequestBlock(row, GET_CFG_VIDEO_CAPTURE, [&settings](DeviceListRow& r) {
    r.m_lightPending = 1;
    r.m_lightSettings = settings;
  });
}

int DeviceCommands::SetRowMotionDetect(DeviceListRow* row, int enable, int blockCount, const std::string& blockConfig,
                                       int sensitivity, int alarmThreshold) {
  if (!row) return -1;
  if (!Ready(*row, LangKey("MSGTIP40"))) return 0;
  const auto text = BuildMotionDetectRequest(enable, blockCount, blockConfig, sensitivity, alarmThreshold);
  if (!text || Sdk().SetDVRConfig(row->m_loginHandle, SET_CFG_MOTION_DETECT_ALARM, *text) != 0)
    SetStatus(*row, LangKey("MSGTIP45"));
  return 0;
}

int DeviceCommands::FactoryResetRow(DeviceListRow* row) {
  if (!row) return -1;
  if (!Ready(*row, LangKey("MSGTIP40"))) return 0;
  if (Sdk().SystemControl(row->m_loginHandle, SYS_CTRL_RESTORE_FACTORY, "") != 0) SetStatus(*row, LangKey("MSGTIP44"));
  // The reboot goes out whatever the reset's result.
  if (Sdk().RebootDVR(row->m_loginHandle) != 0) SetStatus(*row, LangKey("MSGTIP35"));
  return 0;
}

int DeviceCommands::SetRowMaintenance(DeviceListRow* row, const std::string& text) {
  return SetConfigWorker(row, SET_CFG_TIMED_MAINTENANCE, ToDevice(text), LangKey("SET_TIMINGMAINTANCE_FAILED"));
}

int DeviceCommands::SetRowTimeConfig(DeviceListRow* row, const std::string& text) {
  return SetConfigWorker(row, SET_CFG_TIME, ToDevice(text), LangKey("SET_TIMECONFIG_FAILED"));
}

int DeviceCommands::SetRowAlarmClock(DeviceListRow* row, const std::string& text) {
  return SetConfigWorker(row, SET_CFG_ALARM_CLOCK, ToDevice(text), LangKey("SET_ALARMCLOCKCONFIG_FAILED"));
}

int DeviceCommands::SetRowP2PConfig(DeviceListRow* row, int enable) {
  return SetConfigWorker(row, SET_CFG_P2P, BuildP2PRequest(enable), LangKey("SET_FAILED"));
}

int DeviceCommands::StartAudioLoopTest(DeviceListRow* row) {
  return SystemControlWorker(row, SYS_CTRL_AUDIO_LOOP_TEST, "", LangKey("IDS_STR_ZH_CN_SET_FAILED"));
}

// --- Direct commands ---

int DeviceCommands::SendTimeSync(int handle) {
  return Sdk().SystemControl(handle, SYS_CTRL_SET_TIME, BuildTimeSyncRequest(options_.fileTimeNow()));
}

int DeviceCommands::UploadConfigFile(DeviceListRow* row, const std::string& localPath) {
  if (!row) return -1;
  if (!row->m_online) return 0;
  if (row->m_loginHandle <= 0) {
    SetStatusByRecord(Rows(), *row, Text(LangKey("MSGTIP20")));
    return 0;
  }
  const int result = Sdk().SetConfigFile(row->m_loginHandle, localPath);
  SetStatusByRecord(Rows(), *row, Text(result != 0 ? LangKey("MSGTIP31") : LangKey("MSGTIP32")));
  return 0;
}

namespace {

void BroadcastReboot(NetworkCommands& network, const DeviceListRow& row, const discovery::OperatorAuth& auth) {
  const long result = network.RebootDevByBD(row.m_searchInfo.serialNumber, auth);
  if (result != 0)
    DebugLogPrintf("RebootDevByBD %s failed. error = %ld", EscapeForLog(row.m_searchInfo.serialNumber).c_str(), result);
}

}  // namespace

void DeviceCommands::RebootSelectedRow(DeviceListRow* row) {
  if (!row) return;
  if (row->m_busy) {
    // A reboot would break the firmware upgrade running on the device.
    SetStatus(*row, LangKey("BATCH_STATE_UPGRADING"));
    return;
  }
  NetworkCommands& network = Seams().Network();
  const int broadcastOnly = options_.broadcastRebootSwitch ? options_.broadcastRebootSwitch() : 0;
  if (broadcastOnly > 0) {
    discovery::OperatorAuth auth;
    if (!network.GetOperatorAuth(auth)) return;
    BroadcastReboot(network, *row, auth);
    return;
  }
  if (row->m_online) RebootRow(row);
  BroadcastReboot(network, *row, options_.defaultLogin ? options_.defaultLogin() : discovery::OperatorAuth{});
}

void DeviceCommands::BatchSyncTime(const std::vector<DeviceListRow*>& checked) {
  for (DeviceListRow* row : checked) SyncRowTime(row);
  if (checked.empty() && options_.errorBox) options_.errorBox(LangKey("MSGTIP17"));
}

void DeviceCommands::SendToChecked(const std::vector<DeviceListRow*>& checked, int code, const std::string& text) {
  for (DeviceListRow* row : checked) {
    if (row) Sdk().SystemControl(row->m_loginHandle, code, text);
  }
}

void DeviceCommands::EndNightModeDemo(DeviceListRow& row) {
  if (row.m_ircutDemoState > 1) {
    const int handle = row.m_loginHandle;
    if (Sdk().SystemControl(handle, SYS_CTRL_SET_IRCUT_MODE, kDayModeRequest) != 0)
      SetStatusByHandle(Rows(), handle, LangKey("MSG_SET_IRCUT_FAILED"), options_.lookup);
    // The device's own block as it was before the demonstration.
    if (!row.m_videoCaptureBlock.empty()) {
      const int result = Sdk().SetDVRConfig(handle, SET_CFG_VIDEO_CAPTURE, row.m_videoCaptureBlock);
      SetStatusByHandle(Rows(), handle, result == 0 ? LangKey("MSG_SET_IRCUT_OK") : LangKey("MSG_SET_IRCUT_FAILED"),
                        options_.lookup);
    }
  }
  row.m_ircutDemoState = 0;
}

}  // namespace kelvara::device
