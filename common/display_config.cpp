#include "common/display_config.h"

#include <tinyxml.h>

#include <cstring>

#include "common/paths.h"
#include "common/xml_values.h"
#include "common/xml_guard.h"

namespace {

using kelvara::CustomString;
using kelvara::DisplaySwitch;

// Identifier, key and default of every switch, in the order the file is matched.
constexpr std::array<DisplaySwitch, CLoadDisplayCfg::kSwitchCount> kDefaultSwitches = {{
    {2067, "LAYOUT_BUTTONS_ON_TOP", 0},
    {1192, "IDC_BTN_BROWSER_DEFAULTCFG", 0},
    {1053, "IDC_EDIT_FILE_DEFAULTCFG", 0},
    {1193, "IDC_BTN_CLEAR_ALL_CUST", 0},
    {1292, "IDC_BTN_UPLOAD_CFG", 1},
    {1049, "IDC_EDIT_FILE_CFG", 1},
    {1190, "IDC_BTN_BROWSER_CFG", 1},
    {1291, "IDC_BTN_UPGRADE", 1},
    {1048, "IDC_EDIT_FILE", 1},
    {1189, "IDC_BTN_BROWSER", 1},
    {1293, "IDC_BTN_UPGRADE_DIR", 1},
    {1050, "IDC_EDIT_FILE_DIR", 1},
    {1191, "IDC_BTN_BROWSER2", 1},
    {16, "ID_BATCH_MODE_FACTORY", 0},
    {25, "ID_BTN_MANUAL_FOCUS", 1},
    {4, "ID_BATCH_DEFAULT", 1},
    {7, "ID_BATCH_REBOOT_DEV", 1},
    {1030, "ID_BATCH_IP", 1},
    {21, "ID_LOGIN_SETTING", 0},
    {26, "ID_EXPORT_EXCEL", 1},
    {1034, "ID_BATCH_SET_VIDEO", 1},
    {1031, "ID_BATCH_MAINTANCE", 1},
    {11, "ID_BATCH_SET_IPVS", 1},
    {1305, "IDC_BTN_LOOP_RESTART", 0},
    {1306, "IDC_BTN_TEST_MCU", 0},
    {1028, "ID_BATCH_CCD", 1},
    {1301, "IDC_BTN_VIDEO_WINDOWS", 1},
    {1297, "IDC_BTN_PRINT", 1},
    {1294, "IDC_BTN_BATCH_CLEAR_CUSTDEVTYPE", 0},
    {6, "ID_BATCH_DOWNLOAD_CFG", 1},
    {10, "ID_BATCH_SET_TITLE", 1},
    {13, "ID_BATCH_SET_MD", 0},
    {1300, "IDC_BTN_START_TALK", 1},
    {1051, "IDC_EDIT_DEV_CUST_TYPE", 0},
    {18, "ID_BATCH_SET_IMAGE_PARAM", 0},
    {29, "ID_BATCH_MODE_PRIVACY_PROTECT", 0},
    {20, "ID_BATCH_SET_TVSYSTEM", 1},
    {19, "ID_BATCH_SNAP_JPEG", 1},
    {1029, "ID_BATCH_IO_OUTPUT", 1},
    {1296, "IDC_BTN_AUDIO_TALK", 1},
    {1295, "IDC_BTN_BATCH_MODIFY_CUSTDEVTYPE", 0},
    {1303, "IDC_BTN_PREVIEW_IRCUT_NIGHT", 0},
    {1035, "ID_BATCH_TIME", 1},
    {14, "ID_BATCH_SET_PWD", 0},
    {22, "ID_BATCH_SDCARD", 1},
    {15, "ID_BATCH_SET_LANGUAGE", 1},
    {1299, "IDC_BATCH_ONVIF_ALLNET", 1},
    {32988, "ID_BATCH_SET_VIDEO_ENCODE_TYPE", 0},
    {17, "ID_BATCH_SET_VIDEOENCODE", 0},
    {32974, "ID_BATCH_SET_AUDIOCAPTURE", 0},
    {32924, "ID_BATCH_SET_AUDIOENCODE", 0},
    {2065, "IDC_LOGO_PNG", 0},
    {1078, "IDC_QRENCODE", 0},
    {1008, "IDC_CHECK_PRINTMODE", 0},
    {32972, "STYLE", 0},
    {33014, "ID_SHOW_P2PSERVICE", 0},
    {1009, "IDC_CHECK_CLEAR_SOFTSN", 0},
    {1055, "IDC_EDIT_OPERATE_PASSWORD", 0},
    {1016, "IDC_COMBO_NETCARD", 1},
    {1052, "IDC_EDIT_DEFAULT_USER", 1},
    {32973, "ID_SERACH_AUTOSTOP", 0},
    {1298, "IDC_BTN_SET_PD", 1},
    {33450, "LIST_SHOW_lESS", 0},
    {33373, "IDS_AF_STUDY", 0},
    {33374, "IDS_PTZ_MULTIPLE_SET", 0},
    {33375, "IDS_DZOOM_MULTIPLE_SET", 0},
}};

const TiXmlElement* FindTopLevel(const TiXmlDocument& doc, const char* name) {
  return doc.FirstChildElement(name);
}

}  // namespace

CLoadDisplayCfg::CLoadDisplayCfg(std::filesystem::path display_xml)
    : path_(std::move(display_xml)),
      switches_(kDefaultSwitches),
      strings_{{CustomString{kelvara::display_id::IDS_CUST_XML_ROOT, "IDS_CUST_XML_ROOT", {}},
                CustomString{kelvara::display_id::IDS_CUST_CLOUD_TYPE, "IDS_CUST_CLOUD_TYPE", {}}}} {
  LoadSwitches();
  LoadDataStrings();
}

std::filesystem::path CLoadDisplayCfg::DefaultPath() {
  return kelvara::paths::ProgramDir() / "display.xml";
}

int CLoadDisplayCfg::GetDisplay(int id) const {
  for (const DisplaySwitch& s : switches_) {
    if (s.id == id) return s.value;
  }
  return 1;
}

std::string CLoadDisplayCfg::GetCustomString(int id) const {
  for (const CustomString& s : strings_) {
    if (s.id == id) return s.value;
  }
  return {};
}

void CLoadDisplayCfg::ApplyToDialog(const std::function<void(int, bool)>& show) const {
  for (const DisplaySwitch& s : switches_) show(s.id, s.value > 0);
}

int CLoadDisplayCfg::LoadSwitches() {
  TiXmlDocument doc;
  if (!kelvara::LoadXmlFileGuarded(doc, path_)) return 0;
  const TiXmlElement* root = FindTopLevel(doc, "root");
  if (root == nullptr) return 0;
  for (const TiXmlElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
    for (DisplaySwitch& s : switches_) {
      if (std::strcmp(e->Value(), s.key) != 0) continue;
      if (const char* v = e->Attribute("display")) s.value = kelvara::ParseDecimalInt(v);
      break;
    }
  }
  return 0;
}

int CLoadDisplayCfg::LoadDataStrings() {
  TiXmlDocument doc;
  if (!kelvara::LoadXmlFileGuarded(doc, path_)) return 0;
  const TiXmlElement* data = FindTopLevel(doc, "DATA_STRING");
  if (data == nullptr) return 0;
  for (const TiXmlElement* e = data->FirstChildElement(); e; e = e->NextSiblingElement()) {
    for (CustomString& s : strings_) {
      if (std::strcmp(e->Value(), s.key) != 0) continue;
      if (const char* v = e->Attribute("DATA")) {
        s.value = kelvara::TruncateUtf8(v, kMaxCustomStringLength);
      }
      break;
    }
  }
  return 0;
}
