#pragma once
// The display switches of a customer build: display.xml next to the program
// turns controls, buttons and menu items of the main window on or off, picks a
// few layout and behaviour variants, and carries two customer strings.
//
// Form of display.xml:
//   <root><STYLE display="2"/>...</root>
//   <DATA_STRING><IDS_CUST_XML_ROOT DATA="..."/><IDS_CUST_CLOUD_TYPE DATA="..."/></DATA_STRING>
// A missing, unreadable or malformed file, or one without these elements,
// leaves the defaults. The object is filled once when it is built and only read
// afterwards, so any thread may query it.
#include <array>
#include <filesystem>
#include <functional>
#include <string>

namespace kelvara {

// Identifiers of the switches and customer strings (controls and menu
// commands of the main window, or numbers that only name a switch).
namespace display_id {
inline constexpr int LAYOUT_BUTTONS_ON_TOP = 2067;
inline constexpr int IDC_BTN_BROWSER_DEFAULTCFG = 1192;
inline constexpr int IDC_EDIT_FILE_DEFAULTCFG = 1053;
inline constexpr int IDC_BTN_CLEAR_ALL_CUST = 1193;
inline constexpr int IDC_BTN_UPLOAD_CFG = 1292;
inline constexpr int IDC_EDIT_FILE_CFG = 1049;
inline constexpr int IDC_BTN_BROWSER_CFG = 1190;
inline constexpr int IDC_BTN_UPGRADE = 1291;
inline constexpr int IDC_EDIT_FILE = 1048;
inline constexpr int IDC_BTN_BROWSER = 1189;
inline constexpr int IDC_BTN_UPGRADE_DIR = 1293;
inline constexpr int IDC_EDIT_FILE_DIR = 1050;
inline constexpr int IDC_BTN_BROWSER2 = 1191;
inline constexpr int ID_BATCH_MODE_FACTORY = 16;
inline constexpr int ID_BTN_MANUAL_FOCUS = 25;
inline constexpr int ID_BATCH_DEFAULT = 4;
inline constexpr int ID_BATCH_REBOOT_DEV = 7;
inline constexpr int ID_BATCH_IP = 1030;
inline constexpr int ID_LOGIN_SETTING = 21;
inline constexpr int ID_EXPORT_EXCEL = 26;
inline constexpr int ID_BATCH_SET_VIDEO = 1034;
inline constexpr int ID_BATCH_MAINTANCE = 1031;
inline constexpr int ID_BATCH_SET_IPVS = 11;
inline constexpr int IDC_BTN_LOOP_RESTART = 1305;
inline constexpr int IDC_BTN_TEST_MCU = 1306;
inline constexpr int ID_BATCH_CCD = 1028;
inline constexpr int IDC_BTN_VIDEO_WINDOWS = 1301;
inline constexpr int IDC_BTN_PRINT = 1297;
inline constexpr int IDC_BTN_BATCH_CLEAR_CUSTDEVTYPE = 1294;
inline constexpr int ID_BATCH_DOWNLOAD_CFG = 6;
inline constexpr int ID_BATCH_SET_TITLE = 10;
inline constexpr int ID_BATCH_SET_MD = 13;
inline constexpr int IDC_BTN_START_TALK = 1300;
inline constexpr int IDC_EDIT_DEV_CUST_TYPE = 1051;
inline constexpr int ID_BATCH_SET_IMAGE_PARAM = 18;
inline constexpr int ID_BATCH_MODE_PRIVACY_PROTECT = 29;
inline constexpr int ID_BATCH_SET_TVSYSTEM = 20;
inline constexpr int ID_BATCH_SNAP_JPEG = 19;
inline constexpr int ID_BATCH_IO_OUTPUT = 1029;
inline constexpr int IDC_BTN_AUDIO_TALK = 1296;
inline constexpr int IDC_BTN_BATCH_MODIFY_CUSTDEVTYPE = 1295;
inline constexpr int IDC_BTN_PREVIEW_IRCUT_NIGHT = 1303;
inline constexpr int ID_BATCH_TIME = 1035;
inline constexpr int ID_BATCH_SET_PWD = 14;
inline constexpr int ID_BATCH_SDCARD = 22;
inline constexpr int ID_BATCH_SET_LANGUAGE = 15;
inline constexpr int IDC_BATCH_ONVIF_ALLNET = 1299;
inline constexpr int ID_BATCH_SET_VIDEO_ENCODE_TYPE = 32988;
inline constexpr int ID_BATCH_SET_VIDEOENCODE = 17;
inline constexpr int ID_BATCH_SET_AUDIOCAPTURE = 32974;
inline constexpr int ID_BATCH_SET_AUDIOENCODE = 32924;
inline constexpr int IDC_LOGO_PNG = 2065;
inline constexpr int IDC_QRENCODE = 1078;
inline constexpr int IDC_CHECK_PRINTMODE = 1008;
inline constexpr int STYLE = 32972;
inline constexpr int ID_SHOW_P2PSERVICE = 33014;
inline constexpr int IDC_CHECK_CLEAR_SOFTSN = 1009;
inline constexpr int IDC_EDIT_OPERATE_PASSWORD = 1055;
inline constexpr int IDC_COMBO_NETCARD = 1016;
inline constexpr int IDC_EDIT_DEFAULT_USER = 1052;
inline constexpr int ID_SERACH_AUTOSTOP = 32973;
inline constexpr int IDC_BTN_SET_PD = 1298;
inline constexpr int LIST_SHOW_lESS = 33450;
inline constexpr int IDS_AF_STUDY = 33373;
inline constexpr int IDS_PTZ_MULTIPLE_SET = 33374;
inline constexpr int IDS_DZOOM_MULTIPLE_SET = 33375;
inline constexpr int IDS_CUST_XML_ROOT = 33380;
inline constexpr int IDS_CUST_CLOUD_TYPE = 33381;
}  // namespace display_id

struct DisplaySwitch {
  int id;
  const char* key;  // element name in display.xml (case-sensitive)
  int value;        // > 0 shown / on; other values select variants (STYLE)
};

struct CustomString {
  int id;
  const char* key;
  std::string value;  // at most kMaxCustomStringLength bytes
};

}  // namespace kelvara

class CLoadDisplayCfg {
 public:
  static constexpr std::size_t kSwitchCount = 66;
  static constexpr std::size_t kMaxCustomStringLength = 127;

  // Reads `display_xml` (default: display.xml next to the program).
  explicit CLoadDisplayCfg(std::filesystem::path display_xml = DefaultPath());
  virtual ~CLoadDisplayCfg() = default;

  static std::filesystem::path DefaultPath();

  // The value of the first switch with that identifier; 1 for one not in the table.
  int GetDisplay(int id) const;
  // The customer string with that identifier; empty for any other identifier.
  std::string GetCustomString(int id) const;

  // Calls show(id, value > 0) for every switch, in table order. The main
  // window shows or hides its control of that identifier and passes over
  // identifiers that name none.
  void ApplyToDialog(const std::function<void(int id, bool shown)>& show) const;

  // The two readers the constructor runs; each loads the file itself. Always 0.
  int LoadSwitches();
  int LoadDataStrings();

  const std::array<kelvara::DisplaySwitch, kSwitchCount>& Switches() const { return switches_; }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
  std::array<kelvara::DisplaySwitch, kSwitchCount> switches_;
  std::array<kelvara::CustomString, 2> strings_;
};
