#include "dialogs/ui/dialog_media_light.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTime>
#include <QTimeEdit>

#include "common/language_table.h"

#include <QGridLayout>
#include <QLabel>
#include "dialogs/ui/trimming_edit.h"

namespace kelvara::dialogs {
namespace {

QString CXDlgText(const std::string& key) { return ui::CXDlg::LangText(key.c_str()); }

QString ItemText(const ListItem& item) {
  if (item.literal) return QString::fromStdString(item.key);
  return CXDlgText(item.key) + (item.key2.empty() ? QString() : CXDlgText(item.key2)) +
         QString::fromStdString(item.suffix);
}

void Fill(QComboBox* combo, const std::vector<ListItem>& items) {
  for (const auto& i : items) combo->addItem(ItemText(i), i.data);
}

void SelectData(QComboBox* combo, int data) {
  const int at = combo->findData(data);
  if (at >= 0) combo->setCurrentIndex(at);
}

int Data(const QComboBox* combo, int none) { return combo->currentIndex() < 0 ? none : combo->currentData().toInt(); }

QTime ToTime(const ClockTime& t) { return QTime(t.hour, t.minute, t.second); }
ClockTime FromTime(const QTime& t) {
  return {static_cast<std::uint8_t>(t.hour()), static_cast<std::uint8_t>(t.minute()),
          static_cast<std::uint8_t>(t.second())};
}

}  // namespace

CMediaLight::CMediaLight(const MediaLightConfig& given, QWidget* parent) : ConfigDialog(4713, parent), record(given) {
  SetKeys(EnterKey::kNothing, false);
  AddLabel(1564, "IDS_STR_LIGHT_CFG", 0, 0, 2);
  AddLabel(1179, "IDS_STR_ZH_CN_VC_TIPS9", 1, 0);
  Fill(AddCombo(1181, 1, 1), IrcutModeItems());
  AddLabel(1193, "IDS_STR_ZH_CN_VC_TIPS12", 2, 0);
  AddTime(1562, 2, 1);
  AddLabel(1195, "IDS_STR_ZH_CN_VC_TIPS13", 3, 0);
  AddTime(1563, 3, 1);
  AddLabel(1196, "IDC_MEDIA_VCIRCUT_LEDDELAY_NAME", 4, 0);
  Fill(AddCombo(1198, 4, 1), LedDelayItems());
  AddLabel(1215, nullptr, 5, 0)->setText(LangText("IDS_TURNOFF_LED") + LangText("IDS_STR_ZH_CN_MD_TIPS2"));
  auto* slider = new QSlider(Qt::Horizontal, this);
  slider->setRange(0, 100);
  RegisterControl(870, slider);
  Grid()->addWidget(slider, 5, 1);
  auto* edit = new CEditExEx(this);
  edit->setEnabled(false);
  RegisterControl(617, edit);
  Grid()->addWidget(edit, 5, 2);
  connect(slider, &QSlider::valueChanged, edit, [edit](int v) { edit->setText(QString::number(v)); });
  AddLabel(1928, "IDS_LED_MODE", 6, 0);
  auto* ledMode = AddCombo(1580, 6, 1);
  const std::string lang = kelvara::LanguageTable::Instance().GetLanguageCode();
  const QString blank = lang == "zh-cn" || lang == "zh-tw" ? QString() : QStringLiteral(" ");
  ledMode->addItem(LangText("IDS_INTELEGENT") + blank + LangText("IDS_DUAL_LIGHT"), 2);
  ledMode->addItem(LangText("IDS_LED_MODE_PURERED"), 0);
  ledMode->addItem(LangText("IDS_LED_MODE_PUREWHITE"), 1);
  AddLabel(1929, "IDS_ISP_ADV_MODE", 7, 0);
  Fill(AddCombo(1581, 7, 1), ImageOptionItems());
  AddLabel(1180, "IDC_MEDIA_VCIRCUT_LED_BRIGHTMODE_NAME", 8, 0);
  auto* brightMode = AddCombo(1182, 8, 1);
  brightMode->addItem(LangText("IDS_STR_ZH_CN_VC_TIPS28"), 0);
  brightMode->addItem(LangText("IDS_STR_ZH_CN_VC_TIPS29"), 1);
  brightMode->addItem(LangText("IDC_MEDIA_VCIRCUT_LED_BRIGHT_NAME") + LangText("IDS_STR_ZH_CN_VC_TIPS28"), 2);
  brightMode->addItem(LangText("IDC_MEDIA_VCIRCUT_LED_BRIGHT_LOW"), 3);
  AddLabel(1184, "IDC_MEDIA_VCIRCUT_LED_BRIGHT_NAME", 9, 0);
  Fill(AddCombo(1186, 9, 1), LedBrightnessItems());
  auto* save = AddButton(1173, "IDS_STR_ZH_CN_SAVE", 10, 1);
  connect(save, &QPushButton::clicked, this, &CMediaLight::OnSave);
  FillControls();
}

void CMediaLight::FillControls() {
  const LightForm f = LightFormFromRecord(record);
  SelectData(ControlAs<QComboBox>(1580), f.ledMode);
  SelectData(ControlAs<QComboBox>(1581), f.ispAdvMode);
  SelectData(ControlAs<QComboBox>(1181), f.ircutMode);
  SelectData(ControlAs<QComboBox>(1198), f.ledDelay);
  SelectData(ControlAs<QComboBox>(1182), f.ledBrightnessMode);
  SelectData(ControlAs<QComboBox>(1186), f.ledBrightness);
  ControlAs<QTimeEdit>(1562)->setTime(ToTime(f.start));
  ControlAs<QTimeEdit>(1563)->setTime(ToTime(f.end));
  ControlAs<QSlider>(870)->setValue(f.lightOff);
  ControlAs<QLineEdit>(617)->setText(QString::number(f.lightOff));
}

void CMediaLight::OnSave() {
  LightForm f;
  f.ircutMode = Data(ControlAs<QComboBox>(1181), 0);
  f.ledDelay = Data(ControlAs<QComboBox>(1198), 0);
  f.ledBrightnessMode = Data(ControlAs<QComboBox>(1182), 0);
  f.ledBrightness = Data(ControlAs<QComboBox>(1186), 0);
  f.start = FromTime(ControlAs<QTimeEdit>(1562)->time());
  f.end = FromTime(ControlAs<QTimeEdit>(1563)->time());
  f.ledMode = Data(ControlAs<QComboBox>(1580), 0);
  f.ispAdvMode = Data(ControlAs<QComboBox>(1581), 0);
  f.lightOff = ControlAs<QLineEdit>(617)->text().toInt();
  record = LightRecordFromForm(f, record);
  cancelled = false;
  accept();
}

}  // namespace kelvara::dialogs
