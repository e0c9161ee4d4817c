#include "dialogs/ui/dialog_title_setting.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "dialogs/core/osd_title_model.h"

namespace kelvara::dialogs {
namespace {

enum : int {
  kTitle = 1009, kTimePos = 1011, kTitlePos = 1019, kInfo = 1014, kStyle = 1017, kFormat = 1018,
  kFont = 1402, kWeek = 1406, kClock = 1407, kEnable = 1016, kIp = 1012, kModel = 1015, kSerial = 1013,
};

}  // namespace

CDialogTitleSetting::CDialogTitleSetting(const OverlayConfig& start, QWidget* parent)
    : ConfigDialog(168, parent), overlay(start) {
  SetCaption("TEXT3");
  AddCheck(kEnable, "ENABLE", 0, 0);
  AddLabel(1022, "IDS_STR_ZH_CN_OSD_TIPS2", 1, 0);
  AddCombo(kTimePos, 1, 1);
  AddLabel(1020, "IDS_STR_ZH_CN_OSD_TIPS3", 2, 0);
  AddCombo(kFormat, 2, 1);
  AddLabel(1024, "IDS_STR_ZH_CN_OSD_TIPS4", 3, 0);
  AddCombo(kTitlePos, 3, 1);
  AddLabel(1025, "IDS_STR_ZH_CN_OSD_TIPS5", 4, 0);
  AddEdit(kTitle, 4, 1)->setText("Camera");
  AddLabel(0, nullptr, 5, 0);
  AddCombo(kInfo, 5, 1);
  AddLabel(1023, "IDC_VCPAD_COLORSTYLEMODE_NAME", 6, 0);
  AddCombo(kStyle, 6, 1);
  AddLabel(1400, "IDS_STR_FONT_SIZE", 7, 0);
  AddCombo(kFont, 7, 1);
  AddLabel(1404, "IDS_STR_DISPLAY_WEEK", 8, 0);
  AddCombo(kWeek, 8, 1);
  AddLabel(1405, nullptr, 9, 0)->setText(LangText("STR_12HOUR") + "/" + LangText("STR_24HOUR"));
  AddCombo(kClock, 9, 1);
  AddLabel(1021, "TEXT9", 10, 0);
  AddCheck(kIp, "IP", 11, 0);
  AddCheck(kModel, "MODEL", 11, 1);
  AddCheck(kSerial, "SN", 12, 0);
  AddOkCancel(13, 2, "OK");

  const char* positions[] = {"IDS_STR_ZH_CN_OSD_TIPS7", "IDS_STR_ZH_CN_OSD_TIPS8", "IDS_STR_ZH_CN_OSD_TIPS9",
                             "IDS_STR_ZH_CN_OSD_TIPS10"};
  for (int id : {kTimePos, kTitlePos}) {
    for (int i = 0; i < 4; ++i) AddComboLangItem(id, positions[i], i, i == 0);
    AddComboLangItem(id, "IDS_STR_OSD_DISABLE", kOsdPositionOff, false);
  }
  for (int i = 0; i < 4; ++i)
    AddComboLangItem(kInfo, ("IDS_STR_ZH_CN_OLINFO_TIPS" + std::to_string(i + 1)).c_str(), i, i == 0);
  for (int i = 0; i < 7; ++i) AddComboLangItem(kStyle, ("IDC_OSD_STYLE_" + std::to_string(i + 1)).c_str(), i, i == 3);
  for (std::size_t i = 0; i < kOsdTimeFormats.size(); ++i)
    AddComboItem(kFormat, kOsdTimeFormats[i], static_cast<long long>(i), i == 0);
  AddComboLangItem(kFont, "IDS_STR_FONT_SIZE_NORMAL", 0, true);
  AddComboLangItem(kFont, "IDS_STR_FONT_SIZE_BIG", 1, false);
  AddComboLangItem(kFont, "IDS_STR_FONT_SIZE_LARGE", 2, false);
  AddComboLangItem(kWeek, "IDS_STR_ZH_CN_DISABLE", 0, true);
  AddComboLangItem(kWeek, "IDS_STR_ZH_CN_ENABLE", 1, false);
  AddComboItem(kClock, LangText("STR_24HOUR"), 0, true);
  AddComboItem(kClock, LangText("STR_12HOUR"), 1, false);
  LoadControls();
}

void CDialogTitleSetting::LoadControls() {
  const OsdControlValues v = OsdControlsFromRecord(overlay);
  SetCheck(kIp, showIp);
  SetCheck(kModel, showModel);
  SetCheck(kSerial, showSerial);
  SetCheck(kEnable, v.enable);
  SelectComboByData(kClock, v.clock);
  SelectComboByData(kInfo, v.transparency);
  SelectComboByData(kStyle, v.style);
  SelectComboByData(kWeek, v.week);
  SelectComboByData(kFont, v.fontSize);
  SelectComboByData(kFormat, v.timeFormat);
  ControlAs<QLineEdit>(kTitle)->setText(QString::fromStdString(v.title));
  SelectComboByData(kTimePos, v.timePosition);
  SelectComboByData(kTitlePos, v.titlePosition);
}

void CDialogTitleSetting::SaveControls() {
  showIp = GetCheck(kIp);
  showModel = GetCheck(kModel);
  showSerial = GetCheck(kSerial);
  OsdControlValues v;
  v.enable = GetCheck(kEnable);
  v.transparency = static_cast<int>(GetComboSelData(kInfo));
  v.style = static_cast<int>(GetComboSelData(kStyle));
  v.week = static_cast<int>(GetComboSelData(kWeek));
  v.fontSize = static_cast<int>(GetComboSelData(kFont));
  v.clock = static_cast<int>(GetComboSelData(kClock));
  v.timeFormat = static_cast<int>(GetComboSelData(kFormat));
  v.timePosition = static_cast<int>(GetComboSelData(kTimePos));
  v.titlePosition = static_cast<int>(GetComboSelData(kTitlePos));
  v.title = GetItemText(kTitle).toStdString();
  overlay = OsdRecordFromControls(v);
  title = v.title;
}

void CDialogTitleSetting::OnOk() {
  cancelled = false;
  SaveControls();
  accept();
}

}  // namespace kelvara::dialogs
