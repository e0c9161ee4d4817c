#include "dialogs/ui/dialog_small_settings.h"

#include <QCheckBox>
#include <QIntValidator>
#include <QLineEdit>
#include <QRegularExpressionValidator>

namespace kelvara::dialogs {

// --- Image parameters ----------------------------------------------------------
CImageParamDialog::CImageParamDialog(QWidget* parent) : ConfigDialog(825, parent) {
  SetCaption("IMAGEPARAMDLG");
  AddLabel(1022, "MCTF", 0, 0);
  AddEdit(1023, 0, 1)->setText(QString::number(mctf));
  AddLabel(1024, "SHUTTERMAX", 1, 0);
  AddEdit(1025, 1, 1)->setText(QString::number(shutter));
  AddLabel(1027, "GAIN", 2, 0);
  AddCombo(1026, 2, 1);
  for (const GainEntry& g : kGainList) AddComboItem(1026, g.text, g.value, g.value == kDefaultGain);
  AddOkCancel(3, 2, "OK");
}

void CImageParamDialog::OnOk() {
  const ImageParamResult r = BuildImageParamRequest(GetItemText(1023).toStdString(), GetItemText(1025).toStdString(),
                                                    static_cast<int>(GetComboSelData(1026)));
  if (r.error != nullptr) {
    ShowMessage(QString::fromUtf8(r.error));
    return;
  }
  mctf = GetItemText(1023).trimmed().toInt();
  shutter = GetItemText(1025).trimmed().toInt();
  gain = static_cast<int>(GetComboSelData(1026));
  request = r.request;
  cancelled = false;
  accept();
}

// --- Motion detection ----------------------------------------------------------
CMdAlarmDialog::CMdAlarmDialog(QWidget* parent) : ConfigDialog(824, parent) {
  SetCaption("TEXT16");
  AddLabel(1474, "TEXT17", 0, 0);
  AddCombo(1475, 0, 1);
  AddComboLangItem(1475, "DISABLE", 0, true);
  AddComboLangItem(1475, "ENABLE", 1, false);
  AddLabel(1476, "SENSITIVITY", 1, 0);
  AddEdit(1477, 1, 1)->setText(QString::number(values.sensitivity));
  AddLabel(1478, "TEXT18", 2, 0);
  AddEdit(526, 2, 1)->setText(QString::number(values.threshold));
  AddLabel(1485, "TEXT19", 3, 0);
  AddCombo(1486, 3, 1);
  for (std::size_t i = 0; i < kMotionGrids.size(); ++i)
    AddComboItem(1486, kMotionGrids[i].text, static_cast<long long>(i), static_cast<int>(i) == kDefaultMotionGrid);
  AddOkCancel(4, 2, "OK");
}

void CMdAlarmDialog::OnOk() {
  const MotionResult r = ReadMotionValues(GetComboSel(1475), GetItemText(1477).toStdString(),
                                          GetItemText(526).toStdString(), static_cast<int>(GetComboSelData(1486)));
  if (r.error != nullptr) {
    ShowMessage(QString::fromUtf8(r.error));
    return;
  }
  values = r.values;
  cancelled = false;
  accept();
}

// --- Platform server -------------------------------------------------------------
CDlgIpvsSetting::CDlgIpvsSetting(QWidget* parent) : ConfigDialog(169, parent) {
  SetCaption("TEXT2");
  AddCheck(1015, "ENABLE", 0, 0, 2);
  AddLabel(1032, "IDS_STR_ZH_CN_PLATF_TIPS2", 1, 0);
  AddEdit(1013, 1, 1);
  AddLabel(1033, "IDS_STR_ZH_CN_PLATF_TIPS3", 2, 0);
  // Digits only, as the port field is.
  AddEdit(1014, 2, 1)->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), this));
  AddLabel(1020, "IDS_STR_ZH_CN_PLATF_TIPS4", 3, 0);
  AddEdit(1942, 3, 1);
  AddLabel(1021, "IDS_STR_ZH_CN_PLATF_TIPS5", 4, 0);
  AddEdit(1943, 4, 1)->setEchoMode(QLineEdit::Password);
  AddCheck(1941, "IDC_PLATFORM_PLAYSTARTVOICE_NAME", 5, 0, 2);
  AddCheck(1944, "IDC_PLATFORM_INCREACE_USERNAME", 6, 0, 2);
  AddOkCancel(7, 2, "OK");
  SetCheck(1015, values.enable);
  SetCheck(1941, values.playStartTone);
  SetCheck(1944, values.numberAccount);
  SetItemText(1014, QString::number(values.port));
  connect(ControlAs<QCheckBox>(1015), &QCheckBox::toggled, this, [this] { ApplyEnableRule(); });
  ApplyEnableRule();
}

void CDlgIpvsSetting::ApplyEnableRule() {
  const bool on = GetCheck(1015) != 0;
  for (int id : {1013, 1014, 1942, 1943, 1941, 1944}) EnableItem(id, on);
}

void CDlgIpvsSetting::OnOk() {
  values.enable = GetCheck(1015) != 0;
  values.server = GetItemText(1013).toStdString();
  values.account = GetItemText(1942).toStdString();
  values.password = GetItemText(1943).toStdString();
  values.playStartTone = GetCheck(1941) != 0;
  values.numberAccount = GetCheck(1944) != 0;
  int port = 0;
  if (const char* key = CheckPlatform(values.enable, values.server, GetItemText(1014).toStdString(), &port)) {
    ShowMessage(LangText(key));
    return;
  }
  values.port = port;
  cancelled = false;
  accept();
}

// --- Batch human and vehicle detection ----------------------------------------------
CBatchSetPDDlg::CBatchSetPDDlg(QWidget* parent) : ConfigDialog(161, parent) {
  SetCaption("ALARM_CODE_AI_DETECT_SETTING");
  const struct {
    int label, combo;
    const char* key;
    int initial;
  } rows[] = {{2069, 1016, "IDS_STR_ENABLE_STATUS", 1}, {2070, 1017, "IDS_STR_AUDIOACTION_ENABLE", 0},
              {2071, 1018, "IDS_PUSHAPP", 1},           {2072, 1019, "IDS_TWINKLE_LIGHT", 0},
              {2073, 1020, "IDS_BLUE_RED_LIGHT", 0},    {2075, 1021, "IDS_DRAW_RECT_HUMAN", 1}};
  int r = 0;
  for (const auto& row : rows) {
    AddLabel(row.label, row.key, r, 0);
    AddCombo(row.combo, r++, 1);
    if (row.combo == 1021) {
      AddComboLangItem(1021, "DISABLE", 0, false);
      AddComboLangItem(1021, "ENABLE", 1, true);
      continue;
    }
    const char* choices[] = {"DISABLE", "IDS_DEFENCE_ALLDAY", "IDS_DEFENCE_DAYTIME", "IDS_DEFENCE_NIGHT"};
    for (int i = 0; i < 4; ++i) AddComboLangItem(row.combo, choices[i], i, i == row.initial);
  }
  AddCheck(2024, "IDS_HUMAN", r, 0);
  AddCheck(2025, "IDS_VEHICLESHAPE_CAR", r++, 1);
  AddCheck(2027, "ALARM_CODE_MOTION_DETECT", r, 0);
  AddCheck(2026, "IDS_AUDIO_DETECT", r++, 1);
  AddCheck(2028, "STR_RESET_REGION", r++, 0);
  AddOkCancel(r, 2, "OK");
  SetCheck(2024, settings.human);
  SetCheck(2025, settings.vehicle);
  SetCheck(2027, settings.motion);
  SetCheck(2026, settings.sound);
  SetCheck(2028, settings.reset_region);
}

void CBatchSetPDDlg::OnOk() {
  auto data = [this](int id) { return static_cast<int>(GetComboSelData(id)); };
  settings.alarm_schedule = data(1016);
  settings.audio_schedule = data(1017);
  settings.draw_box = data(1021);
  settings.push_schedule = data(1018);
  settings.flash_light_schedule = data(1019);
  settings.blue_red_light_schedule = data(1020);
  settings.human = GetCheck(2024);
  settings.vehicle = GetCheck(2025);
  settings.motion = GetCheck(2027);
  settings.sound = GetCheck(2026);
  settings.reset_region = GetCheck(2028);
  accept();
}

}  // namespace kelvara::dialogs
