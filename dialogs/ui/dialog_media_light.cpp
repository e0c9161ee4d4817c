#include "dialogs/ui/dialog_media_light.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTime>
#include <QTimeEdit>

#include "common/language_table.h"

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
  // Enter and Escape close the page unsaved; only Save keeps the record.
  SetKeys(EnterKey::kClose, false);
  SetCaption("IDS_STR_LIGHT_CFG");
  RegisterControl(1564, new QGroupBox(LangText("IDS_STR_LIGHT_CFG"), this));
  const std::pair<int, const char*> captions[] = {
      {1179, "IDS_STR_ZH_CN_VC_TIPS9"},  {1193, "IDS_STR_ZH_CN_VC_TIPS12"},
      {1195, "IDS_STR_ZH_CN_VC_TIPS13"}, {1196, "IDC_MEDIA_VCIRCUT_LEDDELAY_NAME"},
      {1928, "IDS_LED_MODE"},            {1929, "IDS_ISP_ADV_MODE"},
      {1180, "IDC_MEDIA_VCIRCUT_LED_BRIGHTMODE_NAME"}, {1184, "IDC_MEDIA_VCIRCUT_LED_BRIGHT_NAME"}};
  for (const auto& [id, key] : captions) RegisterControl(id, new QLabel(LangText(key), this));
  RegisterControl(1215, new QLabel(LangText("IDS_TURNOFF_LED") + LangText("IDS_STR_ZH_CN_MD_TIPS2"), this));
  auto combo = [this](int id) {
    auto* c = new QComboBox(this);
    RegisterControl(id, c);
    return c;
  };
  Fill(combo(1181), IrcutModeItems());
  for (int id : {1562, 1563}) {
    auto* t = new QTimeEdit(this);
    t->setDisplayFormat("HH:mm:ss");
    RegisterControl(id, t);
  }
  Fill(combo(1198), LedDelayItems());
  auto* slider = new QSlider(Qt::Horizontal, this);
  slider->setRange(0, 100);
  RegisterControl(870, slider);
  auto* edit = new CEditExEx(this);
  RegisterControl(617, edit);
  connect(slider, &QSlider::valueChanged, edit, [edit](int v) { edit->setText(QString::number(v)); });
  auto* ledMode = combo(1580);
  const std::string lang = kelvara::LanguageTable::Instance().GetLanguageCode();
  const QString blank = lang == "zh-cn" || lang == "zh-tw" ? QString() : QStringLiteral(" ");
  ledMode->addItem(LangText("IDS_INTELEGENT") + blank + LangText("IDS_DUAL_LIGHT"), 2);
  ledMode->addItem(LangText("IDS_LED_MODE_PURERED"), 0);
  ledMode->addItem(LangText("IDS_LED_MODE_PUREWHITE"), 1);
  Fill(combo(1581), ImageOptionItems());
  auto* brightMode = combo(1182);
  brightMode->addItem(LangText("IDS_STR_ZH_CN_VC_TIPS28"), 0);
  brightMode->addItem(LangText("IDS_STR_ZH_CN_VC_TIPS29"), 1);
  brightMode->addItem(LangText("IDC_MEDIA_VCIRCUT_LED_BRIGHT_NAME") + LangText("IDS_STR_ZH_CN_VC_TIPS28"), 2);
  brightMode->addItem(LangText("IDC_MEDIA_VCIRCUT_LED_BRIGHT_LOW"), 3);
  Fill(combo(1186), LedBrightnessItems());
  auto* save = new QPushButton(LangText("IDS_STR_ZH_CN_SAVE"), this);
  save->setAutoDefault(false);  // Enter never saves
  save->setDefault(false);
  RegisterControl(1173, save);
  connect(save, &QPushButton::clicked, this, &CMediaLight::OnSave);
  LayoutControls();
  FillControls();
}

void CMediaLight::LayoutControls() {
  // One group, label and control 220 wide; the first row leaves out the
  // day/night buttons this page does not carry.
  using Row = LayoutRow;
  const Row top[] = {{1179, 1181}, {1193, 1562}, {1195, 1563}};
  const Row light[] = {{1196, 1198}, {1215, 870, {617}}};
  const Row modes[] = {{1928, 1580}, {1929, 1581}, {1180, 1182}, {1184, 1186}};
  BeginGroupBox(1564, 10, 10);
  SetLeftMargin(25);
  LayoutRows2(top, 3, 220, 220, 80, 80, 0, 0);
  LayoutRows2(light, 2, 220, 220, 50, 160, 0, 0);
  EnableItem(617, false);
  LayoutRows2(modes, 4, 220, 220, 80, 80, 0, 0);
  constexpr int kWidth = 560;
  const int bottom = EndGroupBox(1564, kWidth);
  SetLeftMargin(10);
  MoveControl(1173, 10 + kWidth - 80, bottom + 10, 80, 20);
  SetContentSize(kWidth + 20, bottom + 40);
  resize(kWidth + 20, bottom + 40);
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
