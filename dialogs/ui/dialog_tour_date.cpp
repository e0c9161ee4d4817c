#include "dialogs/ui/dialog_tour_date.h"

#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QGridLayout>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QTimeEdit>

#include "dialogs/core/preset_tour_model.h"

namespace kelvara::dialogs {
namespace {
constexpr int kChecks[3] = {1086, 1087, 1088};
constexpr int kNumbers[3] = {1249, 1251, 1254};
constexpr int kFunctions[3] = {1250, 1252, 1255};
}  // namespace

DialogAfStudyCfg::DialogAfStudyCfg(int mode, const AfStudySettings& table, QWidget* parent)
    : ConfigDialog(780, parent), mode_(mode), table_(table) {
  AddLabel(1243, "IDS_STR_ZH_CN_ADV_TIPS2", 0, 0);
  AddLabel(1244, "IDS_STR_ZH_CN_ADV_TIPS3", 0, 2);
  auto* digits = new QRegularExpressionValidator(QRegularExpression("[0-9]*"), this);
  for (int i = 0; i < 3; ++i) {
    const auto& p = table_.presets[static_cast<std::size_t>(i)];
    AddCheck(kChecks[i], nullptr, 1 + i, 0)->setChecked(p.enable != 0);
    QLineEdit* number = AddEdit(kNumbers[i], 1 + i, 1);
    number->setValidator(digits);
    number->setText(QString::number(p.presetNum));
    AddCombo(kFunctions[i], 1 + i, 2);
    AddComboLangItem(kFunctions[i], "IDS_STR_ZH_CN_SETPRESET", 0, p.functionType == 0);
    AddComboLangItem(kFunctions[i], "IDS_STR_ZH_CN_CALLPRESET", 1, p.functionType == 1);
  }
  AddLabel(1245, "IDS_INTERVEL_TIME", 4, 0);
  QLineEdit* interval = AddEdit(1253, 4, 1);
  interval->setValidator(digits);
  interval->setText(QString::number(table_.interval_sec));
  AddLabel(1259, "SEC", 4, 2);
  const struct {
    int label, combo;
    const char* key;
    std::vector<ValueEntry> list;
    int value, fallback;
  } rows[] = {{1246, 1256, "IDS_PTZ_SPEED", PtzSpeedList(), table_.nPtzSpeed, kDefaultPtzSpeed},
              {1247, 1257, "IDS_PTZ_ZOOM_INTERVAL", PtzZoomIntervalList(), table_.nPtzZoomInterval, kDefaultZoomInterval},
              {1248, 1258, "IDS_PTZ_ZOOM_STAYTIME", PtzZoomStayList(), table_.nPtzZoomStayTime, kDefaultZoomStay},
              {1263, 1262, "IDS_PTZ_ZOOM_EXECTIMES", PtzZoomTimesList(), table_.nPtzZoomExecTimes, kDefaultZoomTimes}};
  int r = 5;
  for (const auto& row : rows) {
    AddLabel(row.label, row.key, r, 0);
    AddCombo(row.combo, r, 1);
    // The zoom interval is listed in seconds: its unit label is the second "SEC".
    if (row.combo == 1257) AddLabel(1260, "SEC", r, 2);
    ++r;
    const int selected = SelectedData(row.list, row.value, row.fallback);
    for (const ValueEntry& e : row.list) AddComboItem(row.combo, QString::fromStdString(e.text), e.data, e.data == selected);
    if (mode_ == 1) {
      HideControl(row.label);
      HideControl(row.combo);
      if (row.combo == 1257) HideControl(1260);
    }
  }
  AddOkCancel(r, 3, "IDS_STR_ZH_CN_SAVE");
}

void DialogAfStudyCfg::OnOk() {
  PresetTourInput in;
  in.interval = GetItemText(1253).toStdString();
  for (std::size_t i = 0; i < 3; ++i) {
    in.presetNumber[i] = GetItemText(kNumbers[i]).toStdString();
    in.enable[i] = GetCheck(kChecks[i]);
    in.function[i] = static_cast<int>(GetComboSelData(kFunctions[i]));
  }
  in.speed = static_cast<int>(GetComboSelData(1256));
  in.zoomInterval = static_cast<int>(GetComboSelData(1257));
  in.zoomStay = static_cast<int>(GetComboSelData(1258));
  in.zoomTimes = static_cast<int>(GetComboSelData(1262));
  const PresetTourResult r = ApplyPresetTour(table_, in);
  if (r.errorKey != nullptr) {
    // The field's label and the range it takes ("Preset: 0-255").
    ShowMessage(LangText(r.errorKey) + QString(": 0-%1").arg(r.errorMax));
    return;
  }
  table_ = r.table;
  accept();
}

// --- Time-lapse date ---------------------------------------------------------------
CDialogDateSel::CDialogDateSel(QWidget* parent) : ConfigDialog(1625, parent) {
  SetCaption("CREATE_TIMELAPSE");
  const QDate today = QDate::currentDate();
  values.year = today.year();
  values.month = today.month();
  values.day = today.day();
  auto* calendar = new QCalendarWidget(this);
  RegisterControl(2072, calendar);
  Grid()->addWidget(calendar, 0, 0, 1, 2);
  AddLabel(2075, "IDS_STR_ZH_CN_VE_TIPS10", 1, 0);
  AddTime(2076, 1, 1);
  AddLabel(2078, "IDS_STR_ZH_CN_VE_TIPS11", 2, 0);
  AddTime(2077, 2, 1);
  AddLabel(2073, "IDC_STATIC_ALWAYS_CREATE", 3, 0);
  AddCheck(2021, nullptr, 3, 1);
  AddLabel(2074, "TARGET_TIMELAPSE_SECONDS", 4, 0);
  AddCombo(1016, 4, 1);
  AddOkCancel(5, 2, "OK");
  LoadControls();
}

void CDialogDateSel::LoadControls() {
  SetCheck(2021, 0);
  ResetCombo(1016);
  for (int s : kTimeLapseSeconds) AddComboItem(1016, QString::number(s), s, s == kTimeLapseDefaultSeconds);
  ControlAs<QTimeEdit>(2076)->setTime(QTime(values.start.hour % 24, values.start.minute % 60, values.start.second % 60));
  ControlAs<QTimeEdit>(2077)->setTime(QTime(values.end.hour % 24, values.end.minute % 60, values.end.second % 60));
  const QDate date(values.year, values.month, values.day);
  if (date.isValid()) ControlAs<QCalendarWidget>(2072)->setSelectedDate(date);
}

void CDialogDateSel::OnOk() {
  values.cancelled = false;
  values.alwaysRecreate = GetCheck(2021) != 0;
  values.targetSeconds = static_cast<int>(GetComboSelData(1016));
  for (auto [id, clock] : {std::pair<int, ClockTime*>{2076, &values.start}, {2077, &values.end}}) {
    const QTime t = ControlAs<QTimeEdit>(id)->time();
    *clock = {static_cast<std::uint8_t>(t.hour()), static_cast<std::uint8_t>(t.minute()),
              static_cast<std::uint8_t>(t.second())};
  }
  const QDate d = ControlAs<QCalendarWidget>(2072)->selectedDate();
  values.year = d.year();
  values.month = d.month();
  values.day = d.day();
  accept();
}

// --- One value ---------------------------------------------------------------------
CDialogInputValue::CDialogInputValue(QWidget* parent) : ConfigDialog(134, parent) {
  AddEdit(1033, 0, 0, 2);
  AddOkCancel(1, 2, "OK");
  setWindowTitle(title_);
}

void CDialogInputValue::SetTitle(const QString& title) {
  title_ = title;
  SetTitleText(title_);
}

void CDialogInputValue::SetValue(const QString& value) {
  value_ = value;
  if (!value_.isEmpty()) SetItemText(1033, value_);
}

void CDialogInputValue::OnOk() {
  value_ = GetItemText(1033);
  accept();
}

}  // namespace kelvara::dialogs
