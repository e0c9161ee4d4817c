#include "dialogs/ui/dialog_pages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QTimeEdit>

#include "dialogs/core/audio_models.h"
#include "dialogs/core/clock_models.h"
#include "dialogs/ui/trimming_edit.h"

namespace kelvara::dialogs {
namespace {

ClockTime ToClock(const QTime& t) {
  return {static_cast<std::uint8_t>(t.hour()), static_cast<std::uint8_t>(t.minute()),
          static_cast<std::uint8_t>(t.second())};
}
QTime ToTime(ClockTime c) { return QTime(c.hour % 24, c.minute % 60, c.second % 60); }

}  // namespace

// --- Audio capture -------------------------------------------------------------
namespace {

// The audio pages' rows: label 160, control 120, extras 40, 25 px a row; the
// group box from (10, 30) to 10 px short of the content's right edge; Save
// (80 x 20) 100 px left of the right edge of a 360 px wide content, 10 px
// below the box; the content 40 px taller than the button's top.
constexpr int kAudioLabelWidth = 160, kAudioControlWidth = 120, kAudioExtraWidth = 40;
constexpr int kAudioGroupX = 10, kAudioGroupY = 30;
constexpr int kAudioSaveX = 360 - 100, kAudioSaveWidth = 80, kAudioSaveHeight = 20;
constexpr int kAudioPageWidth = 772;

// The page's width: 772 less a vertical scroll bar, so the page never needs
// a horizontal one in a window of 772 whose content scrolls vertically.
int AudioContentWidth(const QWidget& w) {
  return kAudioPageWidth - w.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &w);
}

// Lays out the rows in the group box, the Save button below it, and sizes
// the page; returns the content height.
int LayoutAudioPage(ConfigDialog& d, int group, const ui::CXDlg::LayoutRow* rows, int count,
                    const ui::CXDlg::LayoutRow* hidden, int hiddenCount, int save) {
  const int width = AudioContentWidth(d);
  d.BeginGroupBox(group, kAudioGroupX, kAudioGroupY);
  d.LayoutRows2(rows, count, kAudioLabelWidth, kAudioControlWidth, kAudioExtraWidth, kAudioExtraWidth, 0, 0);
  if (hidden != nullptr) d.HideRows(hidden, hiddenCount);
  d.EndGroupBox(group, width - 2 * kAudioGroupX);
  const int saveY = d.LayoutTop();
  d.MoveControl(save, kAudioSaveX, saveY, kAudioSaveWidth, kAudioSaveHeight);
  const int height = saveY + 40;
  d.SetPageSize(width, height);
  return height;
}

}  // namespace

CMediaACapture::CMediaACapture(QWidget* parent) : ConfigDialog(817, parent) {
  SetKeys(EnterKey::kNothing, false);
  UsePage({});
  SetCaption("IDS_STR_ZH_CN_MEDIA_ACAPTURE");
  AddLabel(1450, "IDS_STR_ZH_CN_MEDIA_ACAPTURE", 0, 0);
  AddGroupBox(1452, "IDS_STR_ZH_CN_MEDIA_ACAPTURE");
  const struct {
    int label, slider, edit;
    const char* key;
    int initial;
  } rows[] = {{1453, 4725, 1454, "IDS_STR_ZH_CN_AC_TIPS1", 50}, {1456, 4726, 1457, "IDS_STR_ZH_CN_AP_TIPS1", 100}};
  for (const auto& row : rows) {
    AddLabel(row.label, row.key, 0, 0);
    auto* slider = AddPageControl(row.slider, new QSlider(Qt::Horizontal, Page()));
    slider->setRange(0, 100);
    slider->setValue(row.initial);
    // The volumes are trimming edits of three characters.
    auto* edit = AddPageControl(row.edit, new CEditExEx(Page()));
    edit->SetLimitText(3);
    edit->setText(QString::number(row.initial));
    // The slider writes its position into the edit; typing does not move it.
    connect(slider, &QSlider::valueChanged, edit, [edit](int v) { edit->setText(QString::number(v)); });
  }
  AddLabel(4688, "IDS_STR_AMPLIFY", 0, 0);
  AddCombo(4689, 0, 0);
  AddLabel(4691, "IDS_STR_RAANSWER", 0, 0);
  AddCombo(4690, 0, 0);
  for (int id : {4689, 4690}) {
    AddComboLangItem(id, "IDS_STR_ZH_CN_DISABLE", 0, true);
    AddComboLangItem(id, "IDS_STR_ZH_CN_ENABLE", 1, false);
  }
  connect(AddButton(1455, "IDS_STR_ZH_CN_SAVE", 0, 0), &QPushButton::clicked, this, &CMediaACapture::OnSave);
  MoveControl(1450, kAudioGroupX, 5, AudioContentWidth(*this) - 2 * kAudioGroupX, 20);
  resize(kAudioPageWidth, LayoutPage());
}

int CMediaACapture::LayoutPage() {
  static const LayoutRow rows[] = {{1453, 4725, {1454}}, {1456, 4726, {1457}}, {4688, 4689, {}}};
  // The answer-by-key row exists but is never shown.
  static const LayoutRow hidden[] = {{4691, 4690, {}}};
  return LayoutAudioPage(*this, 1452, rows, 3, hidden, 1, 1455);
}

void CMediaACapture::resizeEvent(QResizeEvent* event) {
  ConfigDialog::resizeEvent(event);
  LayoutPage();  // on every resize, at the same positions
}

void CMediaACapture::OnSave() {
  xml = BuildAudioCaptureXml(AudioVolumeText(GetItemText(1454).toStdString(), GetSliderPos(4725)),
                             AudioVolumeText(GetItemText(1457).toStdString(), GetSliderPos(4726)),
                             GetComboSel(4689) == 1 ? 1 : 0, GetComboSel(4690) == 1 ? 1 : 0);
  cancelled = false;
  accept();
}

// --- Audio encode ----------------------------------------------------------------
CMediaAEncode::CMediaAEncode(QWidget* parent) : ConfigDialog(819, parent) {
  SetKeys(EnterKey::kNothing, false);
  UsePage({});
  SetCaption("IDS_STR_ZH_CN_MEDIA_AENCODE");
  AddGroupBox(1416, "IDS_STR_ZH_CN_MEDIA_AENCODE");
  AddLabel(1457, "IDS_STR_ZH_CN_EENABLE", 0, 0);
  AddCombo(1458, 0, 0);
  AddLabel(1460, "IDS_STR_ZH_CN_ETYPE", 0, 0);
  AddCombo(1461, 0, 0);
  AddLabel(1462, "IDS_STR_ZH_CN_SAMPLERATE", 0, 0);
  AddCombo(545, 0, 0);
  AddLabel(1463, "IDS_STR_ZH_CN_BITRATE", 0, 0);
  AddCombo(561, 0, 0);
  connect(AddButton(1456, "IDS_STR_ZH_CN_SAVE", 0, 0), &QPushButton::clicked, this, &CMediaAEncode::OnSave);
  AddComboLangItem(1458, "IDS_STR_ZH_CN_DISABLE", 0, false);
  AddComboLangItem(1458, "IDS_STR_ZH_CN_ENABLE", 1, true);
  for (const std::string& t : AudioEncodeTypes()) AddComboString(1461, QString::fromStdString(t), false);
  SetComboSel(1461, 0);
  OnTypeChanged();
  ApplyEnableRule();
  connect(ControlAs<QComboBox>(1461), &QComboBox::activated, this, [this] { OnTypeChanged(); });
  connect(ControlAs<QComboBox>(545), &QComboBox::activated, this, [this] { OnRateChanged(); });
  connect(ControlAs<QComboBox>(1458), &QComboBox::activated, this, [this] { ApplyEnableRule(); });
  resize(kAudioPageWidth, LayoutPage());
}

int CMediaAEncode::LayoutPage() {
  static const LayoutRow rows[] = {{1457, 1458, {}}, {1460, 1461, {}}, {1462, 545, {}}, {1463, 561, {}}};
  return LayoutAudioPage(*this, 1416, rows, 4, nullptr, 0, 1456);
}

void CMediaAEncode::resizeEvent(QResizeEvent* event) {
  ConfigDialog::resizeEvent(event);
  LayoutPage();
}

void CMediaAEncode::OnTypeChanged() {
  const int previous = std::max(GetComboSel(545), 0);
  ResetCombo(545);
  ResetCombo(561);
  const auto rates = AudioSampleRates(GetItemText(1461).toStdString());
  for (const std::string& r : rates) AddComboString(545, QString::fromStdString(r), false);
  SetComboSel(545, KeptIndex(previous, static_cast<int>(rates.size())));
  OnRateChanged();
}

void CMediaAEncode::OnRateChanged() {
  const QString previous = ControlAs<QComboBox>(561)->currentText();
  ResetCombo(561);
  for (const std::string& b : AudioBitRates(GetItemText(1461).toStdString(), GetItemText(545).toStdString()))
    AddComboString(561, QString::fromStdString(b), false);
  auto* bits = ControlAs<QComboBox>(561);
  bits->setCurrentIndex(std::max(bits->findText(previous, Qt::MatchExactly), 0));
}

void CMediaAEncode::ApplyEnableRule() {
  const bool on = GetComboSel(1458) == 1;
  for (int id : {1461, 545, 561}) EnableItem(id, on);
}

void CMediaAEncode::OnSave() {
  xml = BuildAudioEncodeXml(GetComboSel(1458) == 1 ? 1 : 0, GetItemText(545).toStdString(),
                            GetItemText(1461).toStdString(), GetItemText(561).toStdString());
  cancelled = false;
  accept();
}

// --- Scheduled maintenance -----------------------------------------------------------
CSYSRMDlg::CSYSRMDlg(QWidget* parent) : ConfigDialog(1619, parent) {
  SetKeys(EnterKey::kNothing, false);
  SetCaption("IDS_STR_ZH_CN_SYSRM");
  AddLabel(1731, "IDS_STR_ZH_CN_SYSRM", 0, 0, 2);
  AddLabel(1732, "IDS_STR_ZH_CN_SYSRM", 1, 0);
  AddCombo(1719, 1, 1);
  AddLabel(1733, "IDS_STR_ZH_CN_SYSRMDATE", 2, 0);
  AddCombo(1721, 2, 1);
  AddLabel(1734, "IDS_STR_ZH_CN_SYSRMTIME", 3, 0);
  AddTime(1723, 3, 1)->setTime(QTime(2, 0, 0));
  connect(AddButton(1725, "IDS_STR_ZH_CN_SAVE", 4, 1), &QPushButton::clicked, this, &CSYSRMDlg::OnSave);
  AddComboLangString(1719, "IDS_STR_ZH_CN_DISABLE", true);
  AddComboLangString(1719, "IDS_STR_ZH_CN_ENABLE", false);
  const char* days[] = {"IDS_STR_ZH_CN_MON",  "IDS_STR_ZH_CN_TUE",  "IDS_STR_ZH_CN_WED", "IDS_STR_ZH_CN_THUR",
                        "IDS_STR_ZH_CN_FRID", "IDS_STR_ZH_CN_SAT", "IDS_STR_ZH_CN_SUN", "IDS_STR_ZH_CN_EDAY"};
  for (int i = 0; i < 8; ++i) AddComboLangString(1721, days[i], i == kMaintenanceEveryDay);
  connect(ControlAs<QComboBox>(1719), &QComboBox::currentIndexChanged, this, [this](int index) {
    EnableItem(1721, index != 0);
    EnableItem(1723, index != 0);
  });
}

void CSYSRMDlg::OnSave() {
  xml = BuildMaintenanceXml(GetComboSel(1719), GetComboSel(1721), ToClock(ControlAs<QTimeEdit>(1723)->time()));
  cancelled = false;
  accept();
}

// --- Alarm clock ------------------------------------------------------------------------
namespace {
constexpr int kClockChecks[5] = {4707, 4709, 4710, 4711, 4712};
constexpr int kClockPickers[5] = {4699, 4700, 4701, 4702, 4703};
}  // namespace

// The clock page: two group boxes of rows (label or check box 140, time
// picker 100, 25 px a row) and Save below them at the right.
namespace {
constexpr int kClockX = 20, kClockLabelWidth = 140, kClockPickerWidth = 100, kClockPageWidth = 300;
}  // namespace

CSYSClock::CSYSClock(QWidget* parent) : ConfigDialog(4691, parent) {
  // Only Save and the close box end this dialog.
  SetKeys(EnterKey::kNothing, true);
  // A page is a quarter of the client, a line one row; a resize scrolls back.
  UsePage({.quarterLineStep = false, .quarterPageStep = true, .resetOnResize = true});
  AddGroupBox(4714, "IDS_STR_ALARMOCLOCK");
  AddCheck(4704, "IDS_STR_ZH_CN_ENABLE", 0, 0);
  AddLabel(4708, "IDS_STR_ZH_CN_VE_TIPS10", 0, 0);
  AddTime(4705, 0, 0);
  AddLabel(4713, "IDS_STR_ZH_CN_VE_TIPS11", 0, 0);
  AddTime(4706, 0, 0);
  AddGroupBox(4715, "IDS_STR_ALARMCLOCK");
  for (int i = 0; i < 5; ++i) {
    AddCheck(kClockChecks[i], nullptr, 0, 0)->setText(QString::number(i + 1));
    AddTime(kClockPickers[i], 0, 0);
    connect(ControlAs<QCheckBox>(kClockChecks[i]), &QCheckBox::toggled, this, [this] { ApplyChecks(false); });
  }
  connect(AddButton(1858, "IDS_STR_ZH_CN_SAVE", 0, 0), &QPushButton::clicked, this, &CSYSClock::OnSave);
  connect(ControlAs<QCheckBox>(4704), &QCheckBox::toggled, this, [this] { ApplyChecks(true); });
  const int groupWidth = kClockPageWidth - 20;
  BeginGroupBox(4714, 10, 10);
  PlaceControl(4704, kClockLabelWidth + 10 + kClockPickerWidth, kClockX);
  AdvanceLayoutTop(25);
  PlaceControlPair(4708, 4705, 25, kClockLabelWidth, kClockPickerWidth, kClockX);
  PlaceControlPair(4713, 4706, 25, kClockLabelWidth, kClockPickerWidth, kClockX);
  EndGroupBox(4714, groupWidth);
  BeginGroupBox(4715, 10, LayoutTop());
  for (int i = 0; i < 5; ++i)
    PlaceControlPair(kClockChecks[i], kClockPickers[i], 25, kClockLabelWidth, kClockPickerWidth, kClockX);
  EndGroupBox(4715, groupWidth);
  const int saveY = LayoutTop();
  MoveControl(1858, kClockPageWidth - 10 - 80, saveY, 80, 22);
  SetPageSize(kClockPageWidth, saveY + 22 + 10);
  resize(Page()->size());
  LoadControls();
}

void CSYSClock::SetClockSettings(const AlarmClockSettings& settings) {
  settings_ = settings;
  LoadControls();
}

void CSYSClock::LoadControls() {
  const QSignalBlocker block(ControlAs<QCheckBox>(4704));
  SetCheck(4704, settings_.oclock_enable);
  ControlAs<QTimeEdit>(4705)->setTime(ToTime(settings_.oclock_from));
  ControlAs<QTimeEdit>(4706)->setTime(ToTime(settings_.oclock_to));
  for (int i = 0; i < 5; ++i) {
    SetCheck(kClockChecks[i], settings_.clocks[static_cast<std::size_t>(i)].enable);
    const auto& c = settings_.clocks[static_cast<std::size_t>(i)];
    ControlAs<QTimeEdit>(kClockPickers[i])->setTime(ToTime({c.hour, c.minute, c.second}));
  }
  ApplyChecks(false);
}

void CSYSClock::ApplyChecks(bool chimeJustToggled) {
  const bool chime = GetCheck(4704) != 0;
  EnableItem(4705, chime);
  EnableItem(4706, chime);
  if (chimeJustToggled && chime) {
    auto* end = ControlAs<QTimeEdit>(4706);
    end->setTime(ToTime(ChimeEndWhenEnabled(ToClock(end->time()))));
  }
  for (int i = 0; i < 5; ++i) EnableItem(kClockPickers[i], GetCheck(kClockChecks[i]) != 0);
}

void CSYSClock::OnSave() {
  AlarmClockSettings s{};
  s.oclock_enable = static_cast<std::uint8_t>(GetCheck(4704));
  s.oclock_from = ToClock(ControlAs<QTimeEdit>(4705)->time());
  s.oclock_to = ToClock(ControlAs<QTimeEdit>(4706)->time());
  for (int i = 0; i < 5; ++i) {
    const ClockTime t = ToClock(ControlAs<QTimeEdit>(kClockPickers[i])->time());
    s.clocks[static_cast<std::size_t>(i)] = {static_cast<std::uint8_t>(GetCheck(kClockChecks[i])), t.hour, t.minute,
                                             t.second};
  }
  settings_ = s;
  xml = BuildAlarmClockXml(s);
  cancelled = false;
  accept();
}

}  // namespace kelvara::dialogs
