#include "dialogs/ui/dialog_time_set.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QDateTimeEdit>
#include <QGridLayout>
#include <QScreen>
#include <QLineEdit>
#include <QAbstractItemView>
#include <QPushButton>
#include <algorithm>
#include <utility>

namespace kelvara::dialogs {
namespace {

enum : int {
  kSource = 1093, kZone = 1097, kServer = 1101, kPort = 523, kInterval = 555, kPcTime = 1085, kRemoteTime = 1086,
  kAutoSync = 1087, kDst = 1088, kDstAuto = 1089, kStartMonth = 1094, kEndMonth = 1096, kStartWeek = 1098,
  kEndWeek = 1104, kStartDay = 1109, kEndDay = 1110, kStartHour = 1114, kEndHour = 1115, kOffset = 1112,
  kStartMinute = 1116, kEndMinute = 1117, kSave = 1108,
};
constexpr int kStartRow[] = {kStartMonth, kStartWeek, kStartDay, kStartHour, kStartMinute};
constexpr int kEndRow[] = {kEndMonth, kEndWeek, kEndDay, kEndHour, kEndMinute};

// Rows: labels 150 wide at x 20 inside group boxes at x 10; 25 px a row.
constexpr int kX = 20, kLabelWidth = 150, kPageWidth = 640;
constexpr int kSourceWidth = 150, kZoneWidth = 300, kServerWidth = 200, kNumberWidth = 80, kPickerWidth = 170;
// The daylight-saving rows: month, week, weekday, hour, minute.
constexpr int kRuleWidths[5] = {100, 90, 100, 50, 55};

constexpr int kDstCombos[] = {kStartMonth, kStartWeek, kStartDay, kStartHour,
                              kEndMonth,   kEndWeek,   kEndDay,   kEndHour, kOffset};

}  // namespace

CSYSTimeSet::CSYSTimeSet(const TimeSettings& start, std::vector<TimeZoneRule> rules, std::string languageCode,
                         std::function<bool(const TimeSettings&)> saveSettings, QWidget* parent)
    : ConfigDialog(736, parent), settings(start), rules_(std::move(rules)), zones_(TimeZonesFor(languageCode)),
      save_(std::move(saveSettings)) {
  SetKeys(EnterKey::kNothing, false);
  UsePage({});
  SetCaption("IDS_STR_ZH_CN_TIMESETUP_TITLE");
  AddGroupBox(1071, "IDS_STR_ZH_CN_TIMESETUP_TITLE");
  AddLabel(1091, "IDS_STR_ZH_CN_TIMESETUP_TIPS1", 0, 0);
  AddCombo(kSource, 0, 0);
  AddLabel(1095, "IDS_STR_ZH_CN_TIMESETUP_TIPS2", 0, 0);
  AddCombo(kZone, 0, 0);
  AddLabel(1099, "IDS_STR_ZH_CN_TIMESETUP_TIPS3", 0, 0);
  AddEdit(kServer, 0, 0);
  AddLabel(1103, "IDS_STR_ZH_CN_TIMESETUP_TIPS5", 0, 0);
  AddEdit(kPort, 0, 0);
  AddLabel(1105, "IDS_STR_ZH_CN_TIMESETUP_TIPS6", 0, 0);
  AddEdit(kInterval, 0, 0);
  AddLabel(1106, "IDS_STR_ZH_CN_SECOND", 0, 0);
  AddLabel(1107, "IDS_STR_ZH_CN_TIME", 0, 0);
  for (int id : {kPcTime, kRemoteTime}) {
    auto* picker = AddPageControl(id, new QDateTimeEdit(Page()));
    picker->setDisplayFormat("yyyy-MM-dd HH:mm:ss");
  }
  HideControl(kRemoteTime);
  AddCheck(kAutoSync, "IDS_STR_ZH_CN_TIMESETUP_TIPS7", 0, 0)->setChecked(true);
  AddGroupBox(1072, "IDS_STR_SUMMERTIME_SETTING");
  AddCheck(kDst, "IDS_STR_SUMMERTIME_ENABLE", 0, 0);
  AddCheck(kDstAuto, "IDS_STR_SUMMERTIME_AUTO", 0, 0)->hide();
  AddLabel(1100, "IDS_STR_SUMMERTIME_FROM", 0, 0);
  AddLabel(1102, "IDS_STR_SUMMERTIME_TO", 0, 0);
  for (int id : kStartRow) AddCombo(id, 0, 0);
  for (int id : kEndRow) AddCombo(id, 0, 0);
  AddLabel(1111, "IDS_STR_SUMMERTIME_OFFSET", 0, 0);
  AddCombo(kOffset, 0, 0);
  connect(AddButton(kSave, "IDS_STR_ZH_CN_SAVE", 0, 0), &QPushButton::clicked, this, &CSYSTimeSet::OnSave);

  AddComboLangItem(kSource, "IDS_STR_ZH_CN_TIMESETUP_TIPS4", 0, false);
  AddComboLangItem(kSource, "IDS_STR_ZH_CN_MANUAL", 1, false);
  AddComboItem(kSource, "P2P", 2, false);
  SetComboSel(kSource, TimeSourceIndex(settings.time_mode));
  for (const TimeZoneEntry& z : zones_) AddComboItem(kZone, QString::fromStdString(z.label), z.minutes, false);
  SetComboSel(kZone, std::max(TimeZoneIndex(zones_, settings.time_zone), 0));
  for (int id : {kStartMonth, kEndMonth})
    for (int m = 1; m <= 12; ++m)
      AddComboLangItem(id, ("IDS_STR_SUMMERTIME_MONTH_" + std::to_string(m)).c_str(), m, m == 1);
  for (int id : {kStartWeek, kEndWeek})
    for (int w = 1; w <= 5; ++w) AddComboLangItem(id, ("IDS_STR_SUMMERTIME_WEEK_" + std::to_string(w)).c_str(), w, w == 1);
  for (int id : {kStartDay, kEndDay})
    for (int d = 0; d <= 6; ++d) AddComboLangItem(id, ("timeweek" + std::to_string(d)).c_str(), d, d == 0);
  for (int id : {kStartHour, kEndHour})
    for (int h = 0; h <= 23; ++h) AddComboItem(id, QString::number(h), h, h == 0);
  for (int o = 30; o <= 240; o += 30) AddComboItem(kOffset, QString::number(o), o, o == 30);
  for (int id : {kStartMinute, kEndMinute}) {
    AddComboItem(id, ":00", 0, true);
    EnableItem(id, false);
  }
  SetItemText(kServer, QString::fromStdString(settings.ntp_server));
  SetItemText(kPort, QString::number(settings.ntp_port));
  SetItemText(kInterval, QString::number(settings.ntp_refresh_interval));

  connect(ControlAs<QComboBox>(kZone), &QComboBox::activated, this, [this] { OnZoneChanged(); });
  connect(ControlAs<QComboBox>(kSource), &QComboBox::currentIndexChanged, this, [this] { Layout(); });
  connect(ControlAs<QCheckBox>(kDst), &QCheckBox::toggled, this, [this] { Layout(); });
  connect(ControlAs<QCheckBox>(kDstAuto), &QCheckBox::toggled, this, [this] { Layout(); });
  connect(ControlAs<QCheckBox>(kAutoSync), &QCheckBox::toggled, this, [this] { OnClockCheck(); });
  connect(&clock_, &QTimer::timeout, this, [this] { Tick(); });
  clock_.setInterval(kClockTickMs);
  Tick();
  OnClockCheck();
  // The zone list drops down as wide as its widest label.
  auto* zone = ControlAs<QComboBox>(kZone);
  int widest = 0;
  for (int i = 0; i < zone->count(); ++i) widest = std::max(widest, zone->fontMetrics().horizontalAdvance(zone->itemText(i)));
  zone->view()->setMinimumWidth(widest + 30);
  Layout();
}

CSYSTimeSet::~CSYSTimeSet() { clock_.stop(); }

void CSYSTimeSet::done(int result) {
  clock_.stop();
  ConfigDialog::done(result);
}

void CSYSTimeSet::Tick() { ControlAs<QDateTimeEdit>(kPcTime)->setDateTime(QDateTime::currentDateTime()); }

void CSYSTimeSet::OnClockCheck() {
  if (GetCheck(kAutoSync) != 0) {
    Tick();
    clock_.start();
  } else {
    clock_.stop();
  }
}

void CSYSTimeSet::Layout() {
  const bool ntp = GetComboSel(kSource) == 0;
  const bool dst = GetCheck(kDst) != 0;
  EnableItem(kDstAuto, dst);
  const bool manualRule = dst && GetCheck(kDstAuto) == 0;
  for (int id : kDstCombos) EnableItem(id, manualRule);

  // Rows top-down; the rows of the other time source are hidden and take no room.
  const int groupWidth = kPageWidth - 20;
  BeginGroupBox(1071, 10, 10);
  PlaceControlPair(1091, kSource, 25, kLabelWidth, kSourceWidth, kX);
  PlaceControlPair(1095, kZone, 25, kLabelWidth, kZoneWidth, kX);
  for (int id : {1099, int(kServer), 1103, int(kPort), 1105, int(kInterval), 1106}) ShowItem(id, ntp);
  for (int id : {1107, int(kPcTime), int(kAutoSync)}) ShowItem(id, !ntp);
  if (ntp) {
    PlaceControlPair(1099, kServer, 25, kLabelWidth, kServerWidth, kX);
    PlaceControlPair(1103, kPort, 25, kLabelWidth, kNumberWidth, kX);
    PlaceControlPair(1105, kInterval, 0, kLabelWidth, kNumberWidth, kX);
    PlaceControl(1106, 100, NextX());
    AdvanceLayoutTop(25);
  } else {
    PlaceControlPair(1107, kPcTime, 0, kLabelWidth, kPickerWidth, kX);
    PlaceControl(kAutoSync, groupWidth - NextX(), NextX());
    AdvanceLayoutTop(25);
  }
  EndGroupBox(1071, groupWidth);
  BeginGroupBox(1072, 10, LayoutTop());
  PlaceControl(kDst, kLabelWidth + 200, kX);
  AdvanceLayoutTop(25);
  for (const auto& [label, row] : {std::pair{1100, kStartRow}, std::pair{1102, kEndRow}}) {
    PlaceControl(label, kLabelWidth, kX);
    for (int i = 0; i < 5; ++i) PlaceControl(row[i], kRuleWidths[i], NextX());
    AdvanceLayoutTop(25);
  }
  // The save button (80 x 22) at the right end of the last row.
  PlaceControlPair(1111, kOffset, 0, kLabelWidth, kNumberWidth, kX);
  MoveControl(kSave, 10 + groupWidth - 10 - 80, LayoutTop(), 80, 22);
  AdvanceLayoutTop(25);
  EndGroupBox(1072, groupWidth);
  SetPageSize(kPageWidth, LayoutTop() + 10);
  // The dialog follows the page as the source's rows come and go, so Save
  // never needs scrolling to (as far as the screen allows).
  QSize fit = Page()->size();
  if (QScreen* s = screen()) fit = fit.boundedTo(s->availableGeometry().size());
  if (size() != fit) resize(fit);
}

void CSYSTimeSet::OnZoneChanged() {
  const int index = GetComboSel(kZone);
  if (index < 0 || index >= static_cast<int>(zones_.size())) return;
  const TimeZoneRule* rule = RuleForZone(rules_, zones_[static_cast<std::size_t>(index)].minutes);
  if (rule == nullptr) return;
  SelectComboByData(kStartMonth, rule->start.month);
  SelectComboByData(kStartWeek, rule->start.week);
  SelectComboByData(kStartDay, rule->start.weekday);
  SelectComboByData(kStartHour, rule->start.hour);
  SelectComboByData(kEndMonth, rule->end.month);
  SelectComboByData(kEndWeek, rule->end.week);
  SelectComboByData(kEndDay, rule->end.weekday);
  SelectComboByData(kEndHour, rule->end.hour);
  // The rule records carry no offset of their own (0): the offset list has
  // no such entry, so it keeps its selection.
  SelectComboByData(kOffset, 0);
}

void CSYSTimeSet::OnSave() {
  TimeDialogInput in;
  in.source = GetComboSel(kSource);
  in.zoneIndex = GetComboSel(kZone);
  in.server = GetItemText(kServer).toStdString();
  in.port = GetItemText(kPort).toStdString();
  in.interval = GetItemText(kInterval).toStdString();
  in.dstEnable = GetCheck(kDst) != 0;
  in.dstAuto = GetCheck(kDstAuto) != 0;
  in.dstOffset = static_cast<int>(GetComboSelData(kOffset));
  auto d = [this](int id) { return static_cast<int>(GetComboSelData(id)); };
  in.start = {d(kStartMonth), d(kStartWeek), d(kStartDay), d(kStartHour)};
  in.end = {d(kEndMonth), d(kEndWeek), d(kEndDay), d(kEndHour)};
  const TimeDialogResult r = BuildTimeConfig(settings, in, zones_);
  if (r.errorKey != nullptr) {
    ShowMessage(LangText(r.errorKey));
    return;
  }
  if (save_ && !save_(r.settings)) {
    // The device text is not given out when the settings could not be kept.
    ShowMessage(LangText("MSG_SETTINGS_SAVE_FAILED"), ui::PromptIcon::kError);
    return;
  }
  settings = r.settings;
  xml = r.xml;
  notSaved = false;
  accept();
}

}  // namespace kelvara::dialogs
