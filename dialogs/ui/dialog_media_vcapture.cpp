#include "dialogs/ui/dialog_media_vcapture.h"

#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QMouseEvent>
#include <QLabel>
#include <QScrollBar>
#include <QSlider>
#include <QStyle>
#include <QTime>
#include <QTimeEdit>
#include <QWheelEvent>

#include "common/debug_log.h"
#include "common/language_table.h"
#include "controls/ui/button_ex.h"
#include "dialogs/core/light_form.h"
#include "dialogs/core/video_capture_rules.h"
#include "dialogs/ui/trimming_edit.h"

namespace kelvara::dialogs {
namespace {

struct EditField {
  int id;
  std::string VideoCaptureForm::*field;
};

const EditField kEdits[] = {
    {1203, &VideoCaptureForm::brightness},     {609, &VideoCaptureForm::contrast},
    {597, &VideoCaptureForm::saturation},      {605, &VideoCaptureForm::sharpness},
    {614, &VideoCaptureForm::backlight},       {1194, &VideoCaptureForm::hlc},
    {590, &VideoCaptureForm::cropX},           {591, &VideoCaptureForm::cropY},
    {1438, &VideoCaptureForm::shutterSpeedDay}, {1445, &VideoCaptureForm::shutterSpeedNight},
    {589, &VideoCaptureForm::ircutSensitivity}, {1442, &VideoCaptureForm::wdrLevel},
    {1444, &VideoCaptureForm::defogLevel},     {615, &VideoCaptureForm::tnf},
    {616, &VideoCaptureForm::snf},             {617, &VideoCaptureForm::lightOff},
    {618, &VideoCaptureForm::faceExposure},    {1991, &VideoCaptureForm::wbR},
    {2019, &VideoCaptureForm::wbG},            {1992, &VideoCaptureForm::wbB},
};

// Lists chosen by position.
struct IndexField {
  int id;
  int VideoCaptureForm::*field;
  std::vector<const char*> keys;
  bool literal = false;
};

const std::vector<IndexField>& IndexFields() {
  static const std::vector<const char*> onOff = {"IDS_STR_ZH_CN_DISABLE", "IDS_STR_ZH_CN_ENABLE"};
  static const std::vector<const char*> autoManual = {"IDS_STR_AUTO_KM_TIP", "IDS_STR_ZH_CN_MANUAL"};
  static const std::vector<IndexField> fields = {
      {1213, &VideoCaptureForm::tvSystem, {"60HZ", "50HZ"}, true},
      {1210, &VideoCaptureForm::antiFlicker, onOff},
      {1234, &VideoCaptureForm::hflip, onOff},
      {1238, &VideoCaptureForm::vflip, onOff},
      {1235, &VideoCaptureForm::rotate, onOff},
      {1978, &VideoCaptureForm::wbManual, {"IDS_STR_ZH_CN_VC_TIPS28", "IDS_STR_ZH_CN_VC_TIPS29"}},
      {1568, &VideoCaptureForm::wdrMode, onOff},
      {1576, &VideoCaptureForm::defog, onOff},
      {1575, &VideoCaptureForm::shutterMode, autoManual},
      {1582, &VideoCaptureForm::shutterModeNight, autoManual},
      {1189, &VideoCaptureForm::keepColor, {"IDS_STR_ZH_CN_VC_TIPS31", "IDS_STR_ZH_CN_VC_TIPS30"}},
  };
  return fields;
}

// Captions: a key without a text shows the key (there is no template text).
const std::pair<int, const char*> kCaptions[] = {
    {1179, "IDS_STR_ZH_CN_VC_TIPS9"},
    {1187, "IDS_STR_ZH_CN_VC_TIPS10"},
    {1191, "IDS_STR_ZH_CN_VC_TIPS11"},
    {1196, "IDC_MEDIA_VCIRCUT_LEDDELAY_NAME"},
    {1193, "IDS_STR_ZH_CN_VC_TIPS12"},
    {1195, "IDS_STR_ZH_CN_VC_TIPS13"},
    {1205, "IDS_STR_ZH_CN_VC_TIPS14"},
    {1207, "IDS_STR_ZH_CN_VC_TIPS25"},
    {1209, "IDS_STR_ZH_CN_VC_TIPS15"},
    {1199, "IDS_STR_ZH_CN_VC_TIPS6"},
    {1201, "IDS_STR_ZH_CN_VC_TIPS16"},
    {1192, "IDS_STR_HLC"},
    {1211, "IDS_STR_ZH_CN_VC_TIPS2"},
    {1232, "IDS_STR_ZH_CN_VC_TIPS21"},
    {1236, "IDS_STR_ZH_CN_VC_TIPS22"},
    {1233, "IDC_ROTATE"},
    {1188, "IDC_MANUAL_GAIN"},
    {1570, "IDS_STR_ZH_CN_VE_TIPS9"},
    {1441, "IDS_STR_WDR_SCOPE"},
    {1577, "IDS_STR_ANTI_FOG_FLAG"},
    {1443, "IDS_STR_ANTI_FOG_SCOPE"},
    {1571, "IDS_STR_ZH_CN_VE_TIPS10"},
    {1572, "IDS_STR_ZH_CN_VE_TIPS11"},
    {1202, "IDC_NR2D_NAME"},
    {1204, "IDC_NR3D_NAME"},
    {1973, "IDC_VCPAD_AWBMODE_NAME"},
    {2006, "IDC_VCPAD_AWBRGAIN_NAME"},
    {2017, "IDC_VCPAD_AWBGGAIN_NAME"},
    {2008, "IDC_VCPAD_AWBBGAIN_NAME"},
    {1208, "IDC_MEDIA_VIDEOCAPTURE_FORCEANTIFLICK_NAME"},
    {1212, "IDC_MEDIA_VIDEOCAPTURE_XCROP_NAME"},
    {1214, "IDC_MEDIA_VIDEOCAPTURE_YCROP_NAME"},
    {1926, "IDS_ISP_MODE_COLOR"},
    {1927, "IDS_ISP_MODE_NIGHT"},
    {1928, "IDS_LED_MODE"},
    {1929, "IDS_ISP_ADV_MODE"},
    {1923, "IDS_STR_SHUTTER_MODE"},
    {1930, "IDS_STR_SHUTTER_MODE_NIGHT"},
    {1924, "IDS_STR_SHUTTER_SPEED"},
    {1942, "IDS_STR_ZH_CN_VC_TIPS33"},
    {1943, "IDS_STR_ZH_CN_VC_TIPS32"},
    {1180, "IDC_MEDIA_VCIRCUT_LED_BRIGHTMODE_NAME"},
    {1184, "IDC_MEDIA_VCIRCUT_LED_BRIGHT_NAME"},
    {1200, "IDC_MEDIA_VCIRCUT_VIDEO_ENCODE_MODE_NAME"},
    {1216, "IDS_ISP_PREVENT_FACE_OVER_EXPOSURE"},
};

QString Text(const char* key) {
  const QString t = ui::CXDlg::LangText(key);
  return t.isEmpty() ? QString::fromUtf8(key) : t;
}

QString ItemText(const ListItem& i) {
  if (i.literal) return QString::fromStdString(i.key);
  return Text(i.key.c_str()) + (i.key2.empty() ? QString() : Text(i.key2.c_str())) + QString::fromStdString(i.suffix);
}

QTime ToTime(const ClockTime& t) { return QTime(t.hour, t.minute, t.second); }
ClockTime FromTime(const QTime& t) {
  return {static_cast<std::uint8_t>(t.hour()), static_cast<std::uint8_t>(t.minute()),
          static_cast<std::uint8_t>(t.second())};
}

int Data(const QComboBox* combo, int none) { return combo->currentIndex() < 0 ? none : combo->currentData().toInt(); }

using Row = ui::CXDlg::LayoutRow;

// Rows of the three groups (label, control, extras).
const Row kIrcutTop[] = {{1179, 1181, {1183, 1185}}};
const Row kIrcutPairs[] = {{1187, 1189, {1191, 589}}, {1193, 1562, {1195, 1563}}};
const Row kIrcutMode[] = {{1928, 1580, {1929, 1581}}};
const Row kIrcutLight[] = {{1180, 1182, {1184, 1186}}, {1196, 1198, {1215, 870, 617}}};
const Row kCaptureRows[] = {
    {1205, 859, {1203}}, {1207, 860, {597}},  {1209, 861, {605}},  {1199, 863, {609}},   {1201, 864, {614}},
    {1192, 865, {1194}}, {1202, 868, {615}},  {1204, 869, {616}},  {1216, 871, {618}},   {1973, 1978},
    {2006, 2007, {1991}}, {2017, 2018, {2019}}, {2008, 2009, {1992}}, {1188, 1190},       {1211, 1213},
    {1208, 1210},        {1577, 1576},       {1443, 867, {1444}},
};
const Row kWdrRow[] = {{1570, 1568}};
const Row kWdrLevelRow[] = {{1441, 866, {1442}}};
const Row kShutterRows[] = {{1923, 1575}, {1942, 1438, {1925}}, {1930, 1582}, {1943, 1445, {1941}}};
const Row kImageRows[] = {{1926, 1578}, {1927, 1579}, {1200, 1206}, {1212, 590}, {1214, 591},
                          {1232, 1234}, {1236, 1238}, {1233, 1235}};
const Row kWdrTimeRows[] = {{1571, 1565}, {1572, 1566}};

template <std::size_t N>
constexpr int Count(const Row (&)[N]) {
  return static_cast<int>(N);
}

}  // namespace

CMediaVCapture::CMediaVCapture(int deviceCount, QWidget* parent)
    : ConfigDialog(769, parent), deviceCount_(deviceCount) {
  SetKeys(EnterKey::kNothing, true);
  SetCaption("IDS_STR_ZH_CN_MEDIA_VIDEOCAPTURE");
  pageWidth_ = 772 - style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  CreateControls();
  resize(772, 600);
  Relayout();
  // Wide enough for the whole width of the page beside the vertical bar.
  resize(ContentWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent), 600);
  ApplyRules();
  for (int id : {1924, 1571, 1565, 1572, 1566}) HideControl(id);
  OnDefault();
  // Left-button double clicks are swallowed on the page and its controls.
  for (QWidget* w : findChildren<QWidget*>()) w->installEventFilter(this);
}

CMediaVCapture::~CMediaVCapture() { kelvara::DebugLogPrintf("CMediaVCapture::StreamConfig(SUB_STREAM, NULL, this)"); }

void CMediaVCapture::CreateControls() {
  // Boxes first, so the controls inside draw above them.
  const std::pair<int, const char*> groups[] = {
      {1564, "IDS_STR_ZH_CN_VC_TIPS1"}, {1197, "IDS_STR_ZH_CN_MEDIA_VIDEOCAPTURE"}, {1971, nullptr}};
  for (const auto& [id, key] : groups) RegisterControl(id, new QGroupBox(key ? Text(key) : QString(), this));
  for (const auto& [id, key] : kCaptions) RegisterControl(id, new QLabel(Text(key), this));
  RegisterControl(1215, new QLabel(LangText("IDS_TURNOFF_LED") + LangText("IDS_STR_ZH_CN_MD_TIPS2"), this));
  for (int id : {1925, 1941}) RegisterControl(id, new QLabel(QStringLiteral("1/(10~10000s)"), this));

  for (const auto& e : kEdits) {
    auto* edit = new CEditExEx(this);
    RegisterControl(e.id, edit);
  }
  for (int id : {589, 614, 1194, 1203, 597, 605, 609}) {
    ControlAs<CEditExEx>(id)->SetLimitText(3);
    Control(id)->installEventFilter(this);
  }
  ControlAs<CEditExEx>(590)->setText("0");
  ControlAs<CEditExEx>(591)->setText("0");

  for (const auto& p : CaptureSliders()) {
    auto* slider = new QSlider(Qt::Horizontal, this);
    slider->setRange(p.min, p.max);
    RegisterControl(p.slider, slider);
    const int edit = p.edit;
    // Moving a slider shows its position in its edit; nothing is committed.
    connect(slider, &QSlider::valueChanged, this, [this, edit](int v) {
      if (!filling_) SetItemText(edit, QString::number(v));
    });
  }

  for (const auto& f : IndexFields()) {
    auto* combo = new QComboBox(this);
    RegisterControl(f.id, combo);
    for (const char* k : f.keys) combo->addItem(f.literal ? QString::fromUtf8(k) : Text(k));
    combo->setCurrentIndex(0);
  }
  auto dataCombo = [this](int id, const std::vector<ListItem>& items) {
    auto* combo = new QComboBox(this);
    RegisterControl(id, combo);
    for (const auto& i : items) combo->addItem(ItemText(i), i.data);
    combo->setCurrentIndex(0);
    return combo;
  };
  std::vector<ListItem> gains{{"IDC_AUTO_GAIN", -1}};
  for (const auto& g : IsoGainTable())
    if (!g.name.empty()) gains.emplace_back(g.name, g.gain, "", "", true);
  dataCombo(1190, gains);
  const std::vector<ListItem> ircut(IrcutModeItems().begin(), IrcutModeItems().begin() + 5);
  dataCombo(1181, ircut)->setCurrentIndex(IndexOfData(ircut, 2));
  dataCombo(1198, LedDelayItems());
  dataCombo(1182, {{"IDS_STR_ZH_CN_VC_TIPS28", 0},
                   {"IDS_STR_ZH_CN_VC_TIPS29", 1},
                   {"IDC_MEDIA_VCIRCUT_LED_BRIGHT_NAME", 2, "IDS_STR_ZH_CN_VC_TIPS28"}});
  dataCombo(1186, LedBrightnessItems())->setCurrentIndex(IndexOfData(LedBrightnessItems(), 10));
  const std::vector<ListItem> modes{{"0", 0, "", "", true}, {"1", 1, "", "", true}, {"2", 2, "", "", true},
                                    {"3", 3, "", "", true}};
  dataCombo(1578, modes);
  dataCombo(1579, modes);
  auto* ledMode = dataCombo(1580, {{"IDS_LED_MODE_PURERED", 0}, {"IDS_LED_MODE_PUREWHITE", 1}});
  const std::string lang = LanguageTable::Instance().GetLanguageCode();
  const QString blank = lang == "zh-cn" || lang == "zh-tw" ? QString() : QStringLiteral(" ");
  ledMode->addItem(Text("IDS_INTELEGENT") + blank + Text("IDS_DUAL_LIGHT"), 2);
  dataCombo(1581, ImageOptionItems());
  dataCombo(1206, {{"IDC_MEDIA_VCIRCUT_VIDEO_ENCODE_MODE_NORMAL", 0},
                   {"IDC_MEDIA_VCIRCUT_VIDEO_ENCODE_MODE_FORCEFRAMERATE", 1},
                   {"IDC_MEDIA_VCIRCUT_VIDEO_ENCODE_MODE_SUPERSTAR", 2}});
  for (int id : {1562, 1563, 1565, 1566}) {
    auto* t = new QTimeEdit(this);
    t->setDisplayFormat("HH:mm:ss");
    RegisterControl(id, t);
  }

  // Buttons: drawn by the page in its own colour; none is a default button.
  const std::pair<int, const char*> buttons[] = {{1183, "IDS_STR_ZH_CN_VC_TIPS23"},
                                                 {1185, "IDS_STR_ZH_CN_VC_TIPS24"},
                                                 {1172, "IDS_STR_ZH_CN_DEFAULT"},
                                                 {1173, "IDS_STR_ZH_CN_SAVE"}};
  const QColor bg = BackgroundColor();
  const controls::ColorRef colour = controls::MakeColorRef(bg.red(), bg.green(), bg.blue());
  for (const auto& [id, key] : buttons) {
    auto* b = new controls::CButtonEx(Text(key), this);
    b->SetBkColor(colour);
    b->SetPressedBkColor(colour);
    b->setAutoDefault(false);
    b->setDefault(false);
    RegisterControl(id, b);
  }
  connect(ControlAs<QPushButton>(1172), &QPushButton::clicked, this, &CMediaVCapture::OnDefault);
  connect(ControlAs<QPushButton>(1173), &QPushButton::clicked, this, &CMediaVCapture::OnSave);
  connect(ControlAs<QPushButton>(1183), &QPushButton::clicked, this, [this] { dayNightRequest = DayNightRequest(false); });
  connect(ControlAs<QPushButton>(1185), &QPushButton::clicked, this, [this] { dayNightRequest = DayNightRequest(true); });

  // Each governing list re-runs the rules when its choice changes.
  for (int id : {1181, 1568, 1576, 1978, 1575, 1582, 1182})
    connect(ControlAs<QComboBox>(id), &QComboBox::currentIndexChanged, this, [this] {
      if (!filling_) ApplyRules();
    });
}

void CMediaVCapture::LayoutControls() {
  const int w = pageWidth_;
  const int half = w / 2;
  // Group 1: IR-cut and fill light across the page.
  BeginGroupBox(1564, 10, 25);
  SetLeftMargin(25);
  LayoutRows2(kIrcutTop, Count(kIrcutTop), 160, 160, 80, 80, 0, 0);
  LayoutRows2(kIrcutPairs, Count(kIrcutPairs), 160, 160, 160, 160, 0, 0);
  const int fiveWide[5] = {160, 160, 50, 0, 0};
  LayoutRows5(kIrcutMode, Count(kIrcutMode), 160, 160, fiveWide, 0, 0);
  LayoutRows5(kIrcutLight, Count(kIrcutLight), 160, 160, fiveWide, 0, 0);
  EnableItem(617, false);
  const int top = EndGroupBox(1564, w) + 10;
  // Group 2: video capture, the left column.
  BeginGroupBox(1197, 10, top);
  SetLeftMargin(25);
  LayoutRows2(kCaptureRows, Count(kCaptureRows), 160, 120, 50, 50, 0, 0);
  const int leftBottom = EndGroupBox(1197, half - 2);
  // Group 3: image, the right column.
  BeginGroupBox(1971, half + 12, top);
  SetLeftMargin(half + 12 + 20);
  LayoutRows2(kWdrRow, Count(kWdrRow), 160, 120, 50, 50, 0, 0);
  HideRows(kWdrLevelRow, Count(kWdrLevelRow));
  // The range label takes what its text needs; the speed edit gives way.
  const int range = fontMetrics().horizontalAdvance(QStringLiteral("1/(10~10000s)")) + 4;
  LayoutRows2(kShutterRows, Count(kShutterRows), 160, std::min(80, half - 2 - 20 - 160 - 30 - range), range, 50, 0, 0);
  LayoutRows2(kImageRows, Count(kImageRows), 160, 120, 50, 50, 0, 0);
  const int rightBottom = EndGroupBox(1971, half - 2);
  HideRows(kWdrTimeRows, Count(kWdrTimeRows));
  HideControl(1924);
  SetLeftMargin(10);
  const int buttonsTop = std::max(leftBottom, rightBottom) + 10;
  MoveControl(1172, w - 200, buttonsTop, 80, 20);
  MoveControl(1173, w - 100, buttonsTop, 80, 20);
  // The groups reach 10 beyond W (the IR-cut box starts at 10 and is W wide);
  // the content ends 10 after the rightmost control, so nothing hides under
  // the vertical bar and a narrower window scrolls across to it.
  int right = w;
  for (const auto& [id, control] : Controls())
    if (!control->isHidden()) right = std::max(right, control->geometry().right() + 1 + 10);
  SetContentSize(right, buttonsTop + 40);
}

void CMediaVCapture::Relayout() {
  // Rows are placed for an unscrolled page, then the offsets are restored.
  const int offset = ScrollOffset(), across = HorizontalOffset();
  ScrollTo(0);
  ScrollToX(0);
  LayoutControls();
  ScrollTo(offset);
  ScrollToX(across);
}

void CMediaVCapture::resizeEvent(QResizeEvent* event) {
  ConfigDialog::resizeEvent(event);
  if (pageWidth_ > 0 && Control(1173) != nullptr) {
    Relayout();
    ApplyRules();  // the layout shows every row; the rules hide the day/night buttons again
  }
}

void CMediaVCapture::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    event->accept();
    return;
  }
  ConfigDialog::mouseDoubleClickEvent(event);
}

void CMediaVCapture::wheelEvent(QWheelEvent* event) {
  // One step is a quarter of the window's height, once per wheel message; a
  // sideways wheel moves the page across.
  if (event->angleDelta().y() == 0) {
    ConfigDialog::wheelEvent(event);
    return;
  }
  if (ContentHeight() < ClientSize().height()) {
    event->ignore();
    return;
  }
  const int step = std::max(1, ClientSize().height() / 4);
  ScrollTo(ScrollOffset() + (event->angleDelta().y() > 0 ? -step : step));
  event->accept();
}

void CMediaVCapture::ApplyRules() {
  const RuleEffect e = AllCaptureRules(ReadControls(), lastIrcutMode);
  for (const auto& s : e.enable) EnableItem(s.id, s.on);
  for (const auto& s : e.show) ShowItem(s.id, s.on);
}

void CMediaVCapture::SetSlider(int id, int value) {
  if (auto* s = ControlAs<QSlider>(id)) {
    const bool was = filling_;
    filling_ = true;
    if (s->value() != value) s->setValue(value);
    filling_ = was;
  }
}

void CMediaVCapture::OnDefault() { FillControls(FormFromRecord(DefaultVideoCaptureParams())); }

void CMediaVCapture::FillControls(const VideoCaptureForm& f) {
  filling_ = true;
  for (const auto& e : kEdits) ControlAs<QLineEdit>(e.id)->setText(QString::fromStdString(f.*e.field));
  for (const auto& i : IndexFields()) ControlAs<QComboBox>(i.id)->setCurrentIndex(f.*i.field);
  auto* gain = ControlAs<QComboBox>(1190);
  gain->setCurrentIndex(std::max(0, gain->findData(f.gain)));
  auto* ircut = ControlAs<QComboBox>(1181);
  const int at = ircut->findData(f.ircutMode.value_or(2));
  ircut->setCurrentIndex(at >= 0 ? at : ircut->findData(2));
  const std::pair<int, int> byData[] = {{1198, f.ircutOpenLedDelay}, {1182, f.ledBrightnessMode},
                                        {1186, f.ledBrightness},     {1578, f.ispModeColor},
                                        {1579, f.ispModeNight},      {1580, f.ledMode},
                                        {1581, f.ispAdvMode},        {1206, f.videoEncodeMode}};
  for (const auto& [id, data] : byData) SelectComboByData(id, data);
  ControlAs<QTimeEdit>(1562)->setTime(ToTime(f.nightStart));
  ControlAs<QTimeEdit>(1563)->setTime(ToTime(f.nightEnd));
  ControlAs<QTimeEdit>(1565)->setTime(ToTime(f.wdrStart));
  ControlAs<QTimeEdit>(1566)->setTime(ToTime(f.wdrEnd));
  // Sliders take the edits' values.
  for (const auto& p : CaptureSliders()) SetSlider(p.slider, ControlAs<QLineEdit>(p.edit)->text().toInt());
  filling_ = false;
  ApplyRules();
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

bool CMediaVCapture::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonDblClick &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
    return true;
  if (event->type() == QEvent::FocusOut && !leaving_) {
    const auto reason = static_cast<QFocusEvent*>(event)->reason();
    // A window switch or a popup is no leaving of the field.
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
      if (auto* w = qobject_cast<QWidget*>(watched)) OnLeaveField(w->property("controlId").toInt());
  }
  return ConfigDialog::eventFilter(watched, event);
}

void CMediaVCapture::OnLeaveField(int editId) {
  auto* edit = ControlAs<QLineEdit>(editId);
  if (edit == nullptr) return;
  const auto r = LeaveCaptureField(editId, edit->text().toStdString());
  if (!r) return;
  edit->setText(QString::fromStdString(r->text));
  for (const auto& c : CaptureLeaveChecks())
    if (c.edit == editId && c.slider != 0 && r->slider) SetSlider(c.slider, *r->slider);
  if (!r->messageKey.empty()) {
    // The box takes the focus: that is no second leaving.
    leaving_ = true;
    Prompts().MessageBox(this, LangText(r->messageKey.c_str()), LangText("IDS_STR_ZH_CN_ERROR"),
                         ui::PromptIcon::kError, ui::PromptButtons::kOk);
    leaving_ = false;
  }
}

void CMediaVCapture::OnSave() {
  const CaptureSaveResult r = SaveVideoCapture(ReadControls());
  if (r.ircutModeRead) lastIrcutMode = r.ircutMode;
  if (!r.Ok()) {
    Prompts().MessageBox(this, LangText(r.messageKey.c_str()), LangText("IDS_STR_ZH_CN_ERROR"), ui::PromptIcon::kError,
                         ui::PromptButtons::kOk);
    ApplyRules();  // the last saved IR-cut mode may show the day/night buttons
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
