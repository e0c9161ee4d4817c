#include "device/core/device_files.h"

#include <tinyxml.h>

#include <cstring>

#include "common/atomic_file.h"
#include "common/input_validators.h"
#include "common/path_component.h"
#include "common/device_reply_xml.h"
#include "common/xml_guard.h"

namespace kelvara::device {

namespace fs = std::filesystem;

fs::path ConfigFileDownloadPath(const fs::path& documents, const DeviceSearchInfo& device) {
  return documents / SanitizePathComponent("config_" + device.serialNumber + "_" + device.lanConfig.ipAddress +
                                           ".dev.xml");
}

fs::path DeviceFileDownloadPath(const fs::path& documents, const std::string& deviceIp, const std::string& devicePath,
                                const std::string& localName,
                                const std::function<bool(const fs::path&)>& taken) {
  std::string name = localName;
  if (name.empty()) {
    std::size_t cut = devicePath.rfind('\\');
    if (cut == std::string::npos) cut = devicePath.rfind('/');
    name = cut == std::string::npos ? devicePath : devicePath.substr(cut + 1);
  }
  name = SanitizePathComponent(name);
  const bool ipFolder = IsValidIpAddress(deviceIp);
  fs::path folder = documents;
  const std::size_t jpg = name.find(".jpg");
  const std::size_t mp4 = name.find(".mp4");
  if (jpg != std::string::npos && jpg > 0) {
    folder /= "snap";
    if (ipFolder) folder /= deviceIp;
  } else if (mp4 != std::string::npos && mp4 > 0) {
    if (ipFolder) folder /= deviceIp;
  }
  fs::path path = folder / name;
  if (!taken || !taken(path)) return path;
  const fs::path stem = fs::path(name).stem();
  const fs::path ext = fs::path(name).extension();
  for (int n = 1;; ++n) {
    path = folder / (stem.string() + "_" + std::to_string(n) + ext.string());
    if (!taken(path)) return path;
  }
}

std::string DownloadedFileName(const std::string& eventText) {
  TiXmlDocument doc;
  if (!kelvara::ParseDeviceReplyXml(doc, eventText, "Download reply")) return {};
  const TiXmlElement* root = doc.RootElement();
  if (!root || std::strcmp(root->Value(), "RESPONSE_PARAM") != 0) return {};
  const char* name = root->Attribute("LocalFileName");
  if (!name) return {};
  return std::string(name, strnlen(name, 255));
}

bool ResaveConfigDownload(const std::string& localFileName) {
  const std::size_t at = localFileName.rfind(".dev.xml");
  if (at == std::string::npos || localFileName.find("config_") == std::string::npos) return false;
  TiXmlDocument doc;
  if (!kelvara::LoadXmlFileGuarded(doc, localFileName, TIXML_ENCODING_LEGACY)) return false;
  TiXmlPrinter printer;
  doc.Accept(&printer);
  std::string target = localFileName;
  target.replace(at, 8, ".xml");
  return WriteFileAtomically(target, printer.CStr());
}

}  // namespace kelvara::device
