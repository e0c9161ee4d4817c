#include "dialogs/ui/dialog_media_vcapture.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QTime>
#include <QTimeEdit>

#include "common/debug_log.h"
#include "dialogs/core/light_form.h"
#include "dialogs/ui/trimming_edit.h"

namespace kelvara::dialogs {
namespace {

struct EditField {
  int id;
  const char* label;
  std::string VideoCaptureForm::*field;
};

const EditField kEdits[] = {
    {1203, "IDS_STR_ZH_CN_VC_TIPS14", &VideoCaptureForm::brightness},
    {609, "IDS_STR_ZH_CN_VC_TIPS25", &VideoCaptureForm::contrast},
    {597, "IDS_STR_ZH_CN_VC_TIPS15", &VideoCaptureForm::saturation},
    {605, "IDS_STR_ZH_CN_VC_TIPS6", &VideoCaptureForm::sharpness},
    {614, "IDS_STR_ZH_CN_VC_TIPS16", &VideoCaptureForm::backlight},
    {1194, "IDS_STR_HLC", &VideoCaptureForm::hlc},
    {590, "IDC_MEDIA_VIDEOCAPTURE_XCROP_NAME", &VideoCaptureForm::cropX},
    {591, "IDC_MEDIA_VIDEOCAPTURE_YCROP_NAME", &VideoCaptureForm::cropY},
    {1438, "IDS_STR_SHUTTER_SPEED", &VideoCaptureForm::shutterSpeedDay},
    {1445, "IDS_STR_SHUTTER_SPEED", &VideoCaptureForm::shutterSpeedNight},
    {589, "IDS_STR_ZH_CN_VC_TIPS11", &VideoCaptureForm::ircutSensitivity},
    {1442, "IDS_STR_WDR_SCOPE", &VideoCaptureForm::wdrLevel},
    {1444, "IDS_STR_ANTI_FOG_SCOPE", &VideoCaptureForm::defogLevel},
    {615, "IDC_NR3D_NAME", &VideoCaptureForm::tnf},
    {616, "IDC_NR2D_NAME", &VideoCaptureForm::snf},
    {617, "IDS_TURNOFF_LED", &VideoCaptureForm::lightOff},
    {618, "IDS_ISP_PREVENT_FACE_OVER_EXPOSURE", &VideoCaptureForm::faceExposure},
    {1991, "IDC_VCPAD_AWBRGAIN_NAME", &VideoCaptureForm::wbR},
    {2019, "IDC_VCPAD_AWBGGAIN_NAME", &VideoCaptureForm::wbG},
    {1992, "IDC_VCPAD_AWBBGAIN_NAME", &VideoCaptureForm::wbB},
};

// Lists chosen by position.
struct IndexField {
  int id;
  const char* label;
  int VideoCaptureForm::*field;
  std::vector<const char*> keys;
};

const std::vector<IndexField>& IndexFields() {
  static const std::vector<IndexField> fields = {
      {1213, "IDS_STR_ZH_CN_VC_TIPS2", &VideoCaptureForm::tvSystem, {"60HZ", "50HZ"}},
      {1210, "IDC_MEDIA_VIDEOCAPTURE_FORCEANTIFLICK_NAME", &VideoCaptureForm::antiFlicker,
       {"IDS_STR_ZH_CN_DISABLE", "IDS_STR_ZH_CN_ENABLE"}},
      {1234, "IDS_STR_ZH_CN_VC_TIPS21", &VideoCaptureForm::hflip, {"IDS_STR_ZH_CN_DISABLE", "IDS_STR_ZH_CN_ENABLE"}},
      {1238, "IDS_STR_ZH_CN_VC_TIPS22", &VideoCaptureForm::vflip, {"IDS_STR_ZH_CN_DISABLE", "IDS_STR_ZH_CN_ENABLE"}},
      {1235, "IDC_ROTATE", &VideoCaptureForm::rotate, {"IDS_STR_ZH_CN_DISABLE", "IDS_STR_ZH_CN_ENABLE"}},
      {1978, "IDC_VCPAD_AWBMODE_NAME", &VideoCaptureForm::wbManual, {"IDS_STR_ZH_CN_VC_TIPS28", "IDS_STR_ZH_CN_VC_TIPS29"}},
      {1568, "IDS_STR_ZH_CN_VE_TIPS9", &VideoCaptureForm::wdrMode, {"IDS_STR_ZH_CN_DISABLE", "IDS_STR_ZH_CN_ENABLE"}},
      {1576, "IDS_STR_ANTI_FOG_FLAG", &VideoCaptureForm::defog, {"IDS_STR_ZH_CN_DISABLE", "IDS_STR_ZH_CN_ENABLE"}},
      {1575, "IDS_STR_SHUTTER_MODE", &VideoCaptureForm::shutterMode, {"IDS_STR_AUTO_KM_TIP", "IDS_STR_ZH_CN_MANUAL"}},
      {1582, "IDS_STR_SHUTTER_MODE_NIGHT", &VideoCaptureForm::shutterModeNight,
       {"IDS_STR_AUTO_KM_TIP", "IDS_STR_ZH_CN_MANUAL"}},
      {1189, "IDS_STR_ZH_CN_VC_TIPS10", &VideoCaptureForm::keepColor, {"IDS_STR_ZH_CN_VC_TIPS31", "IDS_STR_ZH_CN_VC_TIPS30"}},
  };
  return fields;
}

QString Text(const char* key) {
  const QString t = ui::CXDlg::LangText(key);
  return t.isEmpty() ? QString::fromUtf8(key) : t;
}

QTime ToTime(const ClockTime& t) { return QTime(t.hour, t.minute, t.second); }
ClockTime FromTime(const QTime& t) {
  return {static_cast<std::uint8_t>(t.hour()), static_cast<std::uint8_t>(t.minute()),
          static_cast<std::uint8_t>(t.second())};
}

void SelectData(QComboBox* combo, int data) {
  const int at = combo->findData(data);
  if (at >= 0) combo->setCurrentIndex(at);
}

int Data(const QComboBox* combo, int none) { return combo->currentIndex() < 0 ? none : combo->currentData().toInt(); }

}  // namespace

CMediaVCapture::CMediaVCapture(int deviceCount, QWidget* parent)
    : ConfigDialog(769, parent), deviceCount_(deviceCount) {
  SetKeys(EnterKey::kNothing, true);
  int row = 0;
  for (const auto& e : kEdits) {
    AddLabel(0, e.label, row, 0);
    auto* edit = new CEditExEx(this);
    RegisterControl(e.id, edit);
    Grid()->addWidget(edit, row++, 1);
  }
  row = 0;
  for (const auto& f : IndexFields()) {
    AddLabel(0, f.label, row, 2);
    auto* combo = AddCombo(f.id, row++, 3);
    for (const char* k : f.keys) combo->addItem(Text(k));
  }
  auto addData = [&](int id, const char* label, const std::vector<ListItem>& items) {
    AddLabel(0, label, row, 2);
    auto* combo = AddCombo(id, row++, 3);
    for (const auto& i : items)
      combo->addItem(i.literal ? QString::fromStdString(i.key)
                               : Text(i.key.c_str()) + (i.key2.empty() ? QString() : Text(i.key2.c_str())) +
                                     QString::fromStdString(i.suffix),
                     i.data);
  };
  std::vector<ListItem> gains{{"IDC_AUTO_GAIN", -1}};
  const std::pair<const char*, int> iso[] = {
      {"ISO_100", 0},     {"ISO_150", 3},      {"ISO_200", 6},       {"ISO_300", 9},       {"ISO_400", 12},
      {"ISO_600", 15},    {"ISO_800", 18},     {"ISO_1600", 24},     {"ISO_3200", 30},     {"ISO_6400", 36},
      {"ISO_12800", 42},  {"ISO_25600", 48},   {"ISO_51200", 54},    {"ISO_102400", 60},   {"ISO_204800", 66},
      {"ISO_409600", 72}};
  for (const auto& [name, db] : iso) gains.emplace_back(name, db, "", "", true);
  addData(1190, "IDC_MANUAL_GAIN", gains);
  std::vector<ListItem> ircut(IrcutModeItems().begin(), IrcutModeItems().begin() + 5);
  addData(1181, "IDS_STR_ZH_CN_VC_TIPS9", ircut);
  addData(1198, "IDC_MEDIA_VCIRCUT_LEDDELAY_NAME", LedDelayItems());
  addData(1182, "IDC_MEDIA_VCIRCUT_LED_BRIGHTMODE_NAME",
          {{"IDS_STR_ZH_CN_VC_TIPS28", 0}, {"IDS_STR_ZH_CN_VC_TIPS29", 1},
           {"IDC_MEDIA_VCIRCUT_LED_BRIGHT_NAME", 2, "IDS_STR_ZH_CN_VC_TIPS28"}});
  addData(1186, "IDC_MEDIA_VCIRCUT_LED_BRIGHT_NAME", LedBrightnessItems());
  const std::vector<ListItem> modes{{"0", 0, "", "", true}, {"1", 1, "", "", true}, {"2", 2, "", "", true},
                                    {"3", 3, "", "", true}};
  addData(1578, "IDS_ISP_MODE_COLOR", modes);
  addData(1579, "IDS_ISP_MODE_NIGHT", modes);
  addData(1580, "IDS_LED_MODE",
          {{"IDS_LED_MODE_PURERED", 0}, {"IDS_LED_MODE_PUREWHITE", 1}, {"IDS_INTELEGENT", 2, "IDS_DUAL_LIGHT"}});
  addData(1581, "IDS_ISP_ADV_MODE", ImageOptionItems());
  addData(1206, "IDC_MEDIA_VCIRCUT_VIDEO_ENCODE_MODE_NAME",
          {{"IDC_MEDIA_VCIRCUT_VIDEO_ENCODE_MODE_NORMAL", 0},
           {"IDC_MEDIA_VCIRCUT_VIDEO_ENCODE_MODE_FORCEFRAMERATE", 1},
           {"IDC_MEDIA_VCIRCUT_VIDEO_ENCODE_MODE_SUPERSTAR", 2}});
  const std::pair<int, const char*> times[] = {{1562, "IDS_STR_ZH_CN_VC_TIPS12"},
                                               {1563, "IDS_STR_ZH_CN_VC_TIPS13"},
                                               {1565, "IDS_STR_ZH_CN_VE_TIPS10"},
                                               {1566, "IDS_STR_ZH_CN_VE_TIPS11"}};
  for (const auto& [id, label] : times) {
    AddLabel(0, label, row, 2);
    AddTime(id, row++, 3);
  }
  connect(AddButton(1172, "IDS_STR_ZH_CN_DEFAULT", row, 1), &QPushButton::clicked, this, &CMediaVCapture::OnDefault);
  connect(AddButton(1173, "IDS_STR_ZH_CN_SAVE", row, 3), &QPushButton::clicked, this, &CMediaVCapture::OnSave);
  OnDefault();
}

CMediaVCapture::~CMediaVCapture() { kelvara::DebugLogPrintf("CMediaVCapture::StreamConfig(SUB_STREAM, NULL, this)"); }

void CMediaVCapture::OnDefault() { FillControls(FormFromRecord(DefaultVideoCaptureParams())); }

void CMediaVCapture::FillControls(const VideoCaptureForm& f) {
  for (const auto& e : kEdits) ControlAs<QLineEdit>(e.id)->setText(QString::fromStdString(f.*e.field));
  for (const auto& i : IndexFields()) ControlAs<QComboBox>(i.id)->setCurrentIndex(f.*i.field);
  auto* gain = ControlAs<QComboBox>(1190);
  gain->setCurrentIndex(std::max(0, gain->findData(f.gain)));
  auto* ircut = ControlAs<QComboBox>(1181);
  const int at = ircut->findData(f.ircutMode.value_or(2));
  ircut->setCurrentIndex(at >= 0 ? at : ircut->findData(2));
  SelectData(ControlAs<QComboBox>(1198), f.ircutOpenLedDelay);
  SelectData(ControlAs<QComboBox>(1182), f.ledBrightnessMode);
  SelectData(ControlAs<QComboBox>(1186), f.ledBrightness);
  SelectData(ControlAs<QComboBox>(1578), f.ispModeColor);
  SelectData(ControlAs<QComboBox>(1579), f.ispModeNight);
  SelectData(ControlAs<QComboBox>(1580), f.ledMode);
  SelectData(ControlAs<QComboBox>(1581), f.ispAdvMode);
  SelectData(ControlAs<QComboBox>(1206), f.videoEncodeMode);
  ControlAs<QTimeEdit>(1562)->setTime(ToTime(f.nightStart));
  ControlAs<QTimeEdit>(1563)->setTime(ToTime(f.nightEnd));
  ControlAs<QTimeEdit>(1565)->setTime(ToTime(f.wdrStart));
  ControlAs<QTimeEdit>(1566)->setTime(ToTime(f.wdrEnd));
}

VideoCaptureForm CMediaVCapture::ReadControls() const {
  VideoCaptureForm f;
  for (const auto& e : kEdits) f.*e.field = ControlAs<QLineEdit>(e.id)->text().toStdString();
  for (const auto& i : IndexFields()) f.*i.field = std::max(0, ControlAs<QComboBox>(i.id)->currentIndex());
  f.gain = Data(ControlAs<QComboBox>(1190), -1);
  const auto* ircut = ControlAs<QComboBox>(1181);
  if (ircut->currentIndex() >= 0) f.ircutMode = ircut->currentData().toInt();
  f.ircutOpenLedDelay = Data(ControlAs<QComboBox>(1198), 0);
  f.ledBrightnessMode = Data(ControlAs<QComboBox>(1182), 0);
  f.ledBrightness = Data(ControlAs<QComboBox>(1186), 0);
  f.ispModeColor = Data(ControlAs<QComboBox>(1578), 0);
  f.ispModeNight = Data(ControlAs<QComboBox>(1579), 0);
  f.ledMode = Data(ControlAs<QComboBox>(1580), 0);
  f.ispAdvMode = Data(ControlAs<QComboBox>(1581), 0);
  f.videoEncodeMode = Data(ControlAs<QComboBox>(1206), 0);
  f.nightStart = FromTime(ControlAs<QTimeEdit>(1562)->time());
  f.nightEnd = FromTime(ControlAs<QTimeEdit>(1563)->time());
  f.wdrStart = FromTime(ControlAs<QTimeEdit>(1565)->time());
  f.wdrEnd = FromTime(ControlAs<QTimeEdit>(1566)->time());
  return f;
}

void CMediaVCapture::OnSave() {
  const CaptureSaveResult r = SaveVideoCapture(ReadControls());
  if (r.ircutModeRead) lastIrcutMode = r.ircutMode;
  if (!r.Ok()) {
    Prompts().MessageBox(this, LangText(r.messageKey.c_str()), LangText("IDS_STR_ZH_CN_ERROR"), ui::PromptIcon::kError,
                         ui::PromptButtons::kOk);
    return;
  }
  QString question = LangText("MSG_VIDEO_CAPTURE_SET");
  if (!question.contains("%1")) question = QStringLiteral("Send these image settings to %1 device(s)?");
  if (Prompts().MessageBox(this, question.arg(deviceCount_), LangText("TEXT21"), ui::PromptIcon::kQuestion,
                           ui::PromptButtons::kYesNo) != ui::kAnswerYes)
    return;
  xml = r.xml;
  cancelled = false;
  accept();
}

}  // namespace kelvara::dialogs
