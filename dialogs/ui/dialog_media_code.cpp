#include "dialogs/ui/dialog_media_code.h"

#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QStyle>
#include <QLineEdit>
#include <QPushButton>

#include "controls/ui/button_ex.h"
#include "dialogs/ui/trimming_edit.h"

namespace kelvara::dialogs {

const CMediaCode::StreamIds CMediaCode::kIds[3] = {
    {1441, 1420, 1423, 543, 1427, 544, 572, 1689, 560, 1451, 1455, 1459, 1926, 1929, 1932, 573, 1691, 1935, 1938},
    {1443, 1421, 587, 1425, 608, 1442, 1429, 1690, 604, 1452, 1456, 1460, 1928, 1931, 1934, 1440, 1692, 1937, 1940},
    {1445, 1446, 588, 1447, 609, 1450, 1448, 1719, 605, 1453, 1457, 1461, 0, 0, 0, 0, 0, 0, 0},
};

namespace {

QString Text(const char* key) {
  const QString t = ui::CXDlg::LangText(key);
  return t.isEmpty() ? QString::fromUtf8(key) : t;
}

void Keys(QComboBox* combo, std::initializer_list<const char*> keys) {
  for (const char* k : keys) combo->addItem(Text(k));
}

void SetList(QComboBox* combo, const QStringList& items, int selected) {
  combo->clear();
  combo->addItems(items);
  combo->setCurrentIndex(selected);
}

}  // namespace

CMediaCode::CMediaCode(QWidget* parent) : ConfigDialog(662, parent) {
  SetKeys(EnterKey::kNothing, true);
  SetCaption("IDS_STR_ZH_CN_MEDIA_VIDEOENCODE");
  // Boxes and the separator first, so the controls draw above them.
  RegisterControl(1464, new QGroupBox(Text("IDS_STR_ZH_CN_MEDIA_VIDEOENCODE"), this));
  RegisterControl(1468, new QGroupBox(Text("IDS_STR_ZH_CN_VE_TIPS7"), this));
  auto* line = new QFrame(this);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  RegisterControl(1465, line);
  const std::pair<int, const char*> captions[] = {
      {1436, "IDS_STR_ZH_CN_MDAR_TIPS9"},        {1437, "IDS_STR_ZH_CN_MDAR_TIPS10"},
      {1449, "IDS_VIDEO_THIRD_STREAM"},          {1438, "IDS_STR_ENABLE_STATUS"},
      {1419, "IDS_STR_ZH_CN_VE_TIPS1"},          {1422, "IDS_STR_ZH_CN_VE_TIPS2"},
      {1424, "IDS_STR_ZH_CN_VE_TIPS3"},          {1426, "IDS_STR_ZH_CN_VE_TIPS4"},
      {1428, "IDS_STR_ZH_CN_VE_TIPS5"},          {1430, "IDS_STR_ZH_CN_VE_TIPS6"},
      {1444, "IDS_QP_CUST"},                     {1454, "IDS_QP_MIN"},
      {1458, "IDS_QP_MAX"},                      {1927, "IDS_STR_ZH_CN_VE_LBR_ENABLE"},
      {1930, "IDS_STR_ZH_CN_VE_LBR_STYLE"},      {1933, "IDS_STR_ZH_CN_VE_LBR_BITRATEMODE"},
      {1439, "IDS_STR_ZH_CN_VE_LBR_BITRATE"},    {1936, "IDS_STR_ZH_CN_VE_LBR_MOTIONLEVEL"},
      {1939, "IDS_STR_ZH_CN_VE_LBR_NOICELEVEL"}, {1569, "IDS_STR_ZH_CN_VE_TIPS8"},
      {1920, "CMediaCode_privatedata"},          {1921, "CMediaCode_encodemode"},
      {1922, "CMediaCode_noicelevel"}};
  for (const auto& [cid, key] : captions) RegisterControl(cid, new QLabel(Text(key), this));
  for (int cid : {1700, 1701, 1736}) RegisterControl(cid, new QLabel(QStringLiteral("s(1-200)"), this));
  auto combo = [this](int cid) {
    auto* c = new QComboBox(this);
    RegisterControl(cid, c);
    return c;
  };
  auto edit = [this](int cid, int limit) {
    auto* e = new CEditExEx(this);
    e->SetLimitText(limit);
    RegisterControl(cid, e);
  };
  for (int s = 0; s < 3; ++s) {
    const StreamIds& id = kIds[s];
    Keys(combo(id.enable), {"IDS_STR_ZH_CN_DISABLE", "IDS_STR_ZH_CN_ENABLE"});
    combo(id.format);
    combo(id.resolution);
    combo(id.bitRateControl)->addItems({"CBR", "VBR"});
    edit(id.iframe, 3);
    combo(id.quality);
    edit(id.bitRate, 5);
    RegisterControl(id.range, new QLabel(this));
    combo(id.frameRate);
    Keys(combo(id.qpEnable), {"IDS_STR_ZH_CN_DISABLE", "IDS_STR_ZH_CN_ENABLE"});
    for (int qp : {id.qpMin, id.qpMax}) {
      auto* c = combo(qp);
      for (int v = 0; v <= 51; ++v) c->addItem(QString::number(v), v);
    }
    if (s == 2) continue;
    Keys(combo(id.lbrEnable), {"IDS_STR_ZH_CN_DISABLE", "IDS_STR_ZH_CN_ENABLE"});
    Keys(combo(id.lbrStyle), {"IDS_STR_ZH_CN_VE_LBR_STYLE_0", "IDS_STR_ZH_CN_VE_LBR_STYLE_1"});
    Keys(combo(id.lbrMode), {"IDS_STR_ZH_CN_VE_LBR_BITRATEMODE_0", "IDS_STR_ZH_CN_VE_LBR_BITRATEMODE_1"});
    edit(id.lbrBitRate, s == 0 ? 5 : 4);
    RegisterControl(id.lbrRange, new QLabel(this));
    Keys(combo(id.lbrMotion), {"IDS_STR_ZH_CN_VE_LBR_MOTIONLEVEL_0", "IDS_STR_ZH_CN_VE_LBR_MOTIONLEVEL_1",
                               "IDS_STR_ZH_CN_VE_LBR_MOTIONLEVEL_2"});
    Keys(combo(id.lbrNoise), {"IDS_STR_ZH_CN_VE_LBR_NOICELEVEL_0", "IDS_STR_ZH_CN_VE_LBR_NOICELEVEL_1",
                              "IDS_STR_ZH_CN_VE_LBR_NOICELEVEL_2"});
  }
  Keys(combo(1567), {"IDS_STR_ZH_CN_VE_HIGHPROFILE", "IDS_STR_ZH_CN_VE_MAINPROFILE", "IDS_STR_ZH_CN_VE_BASEPROFILE"});
  Keys(combo(1919), {"IDS_STR_ZH_CN_ENABLE", "IDS_STR_ZH_CN_DISABLE"});
  Keys(combo(1573), {"CMediaCode_basemode", "CMediaCode_advancemode"});
  auto* noise = combo(1574);
  for (int v = 0; v < VideoEncodeForm::kNoiseLevels; ++v) noise->addItem(QString::number(v));
  // Save and Default are drawn in the page's colour; neither is a default button.
  const QColor bg = BackgroundColor();
  for (const auto& [cid, key] : {std::pair<int, const char*>{1431, "IDS_STR_ZH_CN_DEFAULT"}, {799, "IDS_STR_ZH_CN_SAVE"}}) {
    auto* b = new controls::CButtonEx(Text(key), this);
    b->SetBkColor(controls::MakeColorRef(bg.red(), bg.green(), bg.blue()));
    b->SetPressedBkColor(controls::MakeColorRef(bg.red(), bg.green(), bg.blue()));
    b->setAutoDefault(false);
    b->setDefault(false);
    RegisterControl(cid, b);
  }
  connect(ControlAs<QPushButton>(1431), &QPushButton::clicked, this, &CMediaCode::OnDefault);
  connect(ControlAs<QPushButton>(799), &QPushButton::clicked, this, &CMediaCode::OnSave);

  for (int s = 0; s < 3; ++s) {
    const StreamIds& id = kIds[s];
    auto on = [this, s](int cid, void (VideoEncodeForm::*handler)(int)) {
      connect(ControlAs<QComboBox>(cid), &QComboBox::currentIndexChanged, this, [this, s, handler] {
        if (!writing_) Run(handler, s);
      });
    };
    on(id.format, &VideoEncodeForm::FormatChanged);
    on(id.resolution, &VideoEncodeForm::ResolutionChanged);
    on(id.bitRateControl, &VideoEncodeForm::BitRateControlChanged);
    on(id.quality, &VideoEncodeForm::QualityChanged);
    if (s < 2) {
      on(id.lbrEnable, &VideoEncodeForm::LbrEnableChanged);
      on(id.lbrMode, &VideoEncodeForm::LbrModeChanged);
    }
  }
  form.Open();
  LayoutControls();
  Write();
}

void CMediaCode::LayoutControls() {
  const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  const bool third = form.thirdStreamSupported != 0;
  const int column = third ? 100 : 150;
  // Unit and range labels are 80 wide unless the font needs more for the
  // widest range text; the page then grows to hold the third column.
  const int unit = std::max(80, fontMetrics().horizontalAdvance(QStringLiteral("kbps(10000-20000)")) + 4);
  const int rowWidth = 15 + 150 + 10 + column + 10 + 10 + unit + 10 + column + 10 + unit + 10 + 100 + 10 + unit;
  const int w = std::max(772 - scrollBar, rowWidth + 15);
  constexpr int kContentTop = 5;  // the client area shrunk by 5 on each side
  MoveControl(1465, kContentTop, kContentTop + 20, w, 1);
  SetLeftMargin(15);
  // Extras: main unit or range, sub control, its unit or range, third control, its unit or range.
  const int extras[5] = {unit, column, unit, 100, unit};
  auto row = [](int label, int main, std::initializer_list<int> more) {
    LayoutRow r;
    r.label = label;
    r.control = main;
    int i = 0;
    for (int e : more) r.extra[i++] = e;
    return r;
  };
  const StreamIds& m = kIds[0];
  const StreamIds& u = kIds[1];
  const StreamIds& t = kIds[2];
  const LayoutRow headers[] = {row(0, 1436, {0, 1437, 0, 1449, 0})};
  const LayoutRow enable[] = {row(1438, m.enable, {0, u.enable, 0, t.enable, 0})};
  const LayoutRow streams[] = {
      row(1419, m.format, {0, u.format, 0, t.format, 0}),
      row(1422, m.resolution, {0, u.resolution, 0, t.resolution, 0}),
      row(1424, m.bitRateControl, {0, u.bitRateControl, 0, t.bitRateControl, 0}),
      row(1426, m.iframe, {1700, u.iframe, 1701, t.iframe, 1736}),
      row(1428, m.quality, {0, u.quality, 0, t.quality, 0}),
      row(0, m.bitRate, {m.range, u.bitRate, u.range, t.bitRate, t.range}),
      row(1430, m.frameRate, {0, u.frameRate, 0, t.frameRate, 0})};
  const LayoutRow lbr[] = {row(1927, m.lbrEnable, {0, u.lbrEnable}),
                           row(1930, m.lbrStyle, {0, u.lbrStyle}),
                           row(1933, m.lbrMode, {0, u.lbrMode}),
                           row(1439, m.lbrBitRate, {m.lbrRange, u.lbrBitRate, u.lbrRange}),
                           row(1936, m.lbrMotion, {0, u.lbrMotion}),
                           row(1939, m.lbrNoise, {0, u.lbrNoise})};
  const LayoutRow qp[] = {row(1444, m.qpEnable, {0, u.qpEnable, 0, t.qpEnable, 0}),
                          row(1454, m.qpMin, {0, u.qpMin, 0, t.qpMin, 0}),
                          row(1458, m.qpMax, {0, u.qpMax, 0, t.qpMax, 0})};
  BeginGroupBox(1464, 10, kContentTop + 25);
  LayoutRows5(headers, 1, 150, column, extras, 0, 0);
  if (form.enableRowVisible) LayoutRows5(enable, 1, 150, column, extras, 0, 0);
  else HideRows(enable, 1);
  LayoutRows5(streams, 7, 150, column, extras, 0, 0);
  if (form.lbrSupported) LayoutRows5(lbr, 6, 150, column, extras, 0, 0);
  else HideRows(lbr, 6);
  if (form.qpRowsVisible) LayoutRows5(qp, 3, 150, column, extras, 0, 0);
  else HideRows(qp, 3);
  const int boxWidth = w - 10;
  int top = EndGroupBox(1464, boxWidth);
  if (!third) {
    for (int cid : {t.enable, t.format, t.resolution, t.bitRateControl, t.iframe, 1736, t.quality, t.bitRate, t.range,
                    t.frameRate, t.qpEnable, t.qpMin, t.qpMax, 1449})
      HideControl(cid);
  }
  BeginGroupBox(1468, 10, top + 10);
  const bool profile = form.profileVisible != 0, advanced = form.advancedModeVisible != 0;
  ShowItem(1569, profile);
  ShowItem(1567, profile);
  if (profile) PlaceControlPairAtMargin(1569, 1567, 25, 150, 150);
  HideControlPair(1920, 1919);
  for (int cid : {1921, 1573, 1922, 1574}) ShowItem(cid, advanced);
  if (advanced) {
    PlaceControlPairAtMargin(1921, 1573, 25, 150, 150);
    PlaceControlPairAtMargin(1922, 1574, 25, 150, 150);
  }
  SetLayoutTop(EndGroupBox(1468, boxWidth) + 10);
  PlaceControl(1431, 200, w - 320);
  PlaceControl(799, 100, w - 110);
  // The content height as the page records it: the last row plus 275.
  SetContentSize(w, AdvanceLayoutTop(35) + 275);
  resize(w + scrollBar, 600);
}

void CMediaCode::Run(void (VideoEncodeForm::*handler)(int), int stream) {
  Read();
  (form.*handler)(stream);
  Write();
}

void CMediaCode::OnDefault() {
  Read();
  form.Default();
  Write();
}

void CMediaCode::Read() {
  for (int s = 0; s < 3; ++s) {
    const StreamIds& id = kIds[s];
    auto& st = form.streams[s];
    auto index = [this](int cid) { return ControlAs<QComboBox>(cid)->currentIndex(); };
    auto text = [this](int cid) { return ControlAs<QLineEdit>(cid)->text().toStdString(); };
    st.enable = index(id.enable);
    st.format = index(id.format);
    st.resolution = index(id.resolution);
    st.bitRateControl = index(id.bitRateControl);
    st.iframe = text(id.iframe);
    st.qualityIndex = index(id.quality);
    st.bitRate = text(id.bitRate);
    st.frameRate = index(id.frameRate);
    st.qpEnable = index(id.qpEnable);
    st.qpMin = index(id.qpMin);
    st.qpMax = index(id.qpMax);
    if (s == 2) continue;
    st.lbrEnable = index(id.lbrEnable);
    st.lbrStyle = index(id.lbrStyle);
    st.lbrMode = index(id.lbrMode);
    st.lbrBitRate = text(id.lbrBitRate);
    st.lbrMotion = index(id.lbrMotion);
    st.lbrNoise = index(id.lbrNoise);
  }
  form.profile = ControlAs<QComboBox>(1567)->currentIndex();
  form.privateData = ControlAs<QComboBox>(1919)->currentIndex();
  form.encodeMode = ControlAs<QComboBox>(1573)->currentIndex();
  form.noiseLevel = ControlAs<QComboBox>(1574)->currentIndex();
}

void CMediaCode::Write() {
  writing_ = true;
  for (int s = 0; s < 3; ++s) {
    const StreamIds& id = kIds[s];
    const auto& st = form.streams[s];
    auto combo = [this](int cid) { return ControlAs<QComboBox>(cid); };
    auto edit = [this](int cid) { return ControlAs<QLineEdit>(cid); };
    combo(id.enable)->setCurrentIndex(st.enable);
    QStringList list;
    for (const auto& f : st.formats) list << QString::fromStdString(f);
    SetList(combo(id.format), list, st.format);
    list.clear();
    for (const auto& r : st.resolutions) list << QString::fromStdString(r);
    SetList(combo(id.resolution), list, st.resolution);
    combo(id.bitRateControl)->setCurrentIndex(st.bitRateControl);
    edit(id.iframe)->setText(QString::fromStdString(st.iframe));
    auto* quality = combo(id.quality);
    quality->clear();
    for (size_t i = 0; i < st.quality.size(); ++i) {
      QString caption = Text(st.quality[i].captionKey.c_str());
      if (i > 0) caption += QString("\t[%1kbps]").arg(st.quality[i].bitRate);
      quality->addItem(caption, st.quality[i].bitRate);
    }
    quality->setCurrentIndex(st.qualityIndex);
    edit(id.bitRate)->setText(QString::fromStdString(st.bitRate));
    edit(id.bitRate)->setEnabled(st.bitRateEnabled);
    ControlAs<QLabel>(id.range)->setText(QString::fromStdString(st.rangeLabel));
    list.clear();
    for (int f : st.frameRates) list << QString::number(f);
    SetList(combo(id.frameRate), list, st.frameRate);
    combo(id.frameRate)->setEnabled(st.frameRateEnabled);
    for (int cid : {id.qpEnable, id.qpMin, id.qpMax}) combo(cid)->setEnabled(st.qpEnabled);
    combo(id.qpEnable)->setCurrentIndex(st.qpEnable);
    combo(id.qpMin)->setCurrentIndex(st.qpMin);
    combo(id.qpMax)->setCurrentIndex(st.qpMax);
    if (s == 2) continue;
    combo(id.lbrEnable)->setCurrentIndex(st.lbrEnable);
    combo(id.lbrStyle)->setCurrentIndex(st.lbrStyle);
    combo(id.lbrMode)->setCurrentIndex(st.lbrMode);
    combo(id.lbrMotion)->setCurrentIndex(st.lbrMotion);
    combo(id.lbrNoise)->setCurrentIndex(st.lbrNoise);
    for (int cid : {id.lbrStyle, id.lbrMode, id.lbrMotion, id.lbrNoise}) combo(cid)->setEnabled(st.lbrListsEnabled);
    edit(id.lbrBitRate)->setText(QString::fromStdString(st.lbrBitRate));
    edit(id.lbrBitRate)->setEnabled(st.lbrEditEnabled);
    ControlAs<QLabel>(id.lbrRange)->setText(QString::fromStdString(st.lbrRangeLabel));
  }
  ControlAs<QComboBox>(1567)->setCurrentIndex(form.profile);
  ControlAs<QComboBox>(1919)->setCurrentIndex(form.privateData);
  ControlAs<QComboBox>(1573)->setCurrentIndex(form.encodeMode);
  ControlAs<QComboBox>(1574)->setCurrentIndex(form.noiseLevel);
  writing_ = false;
}

void CMediaCode::OnSave() {
  Read();
  const EncodeSaveResult r = form.Save();
  if (r.status != EncodeSaveResult::Status::Ready) {
    ShowMessage(LangText(r.messageKey.c_str()));
    return;
  }
  if (Prompts().MessageBox(this, LangText("MSG_VIDEO_ENCODE_SET"), LangText("TEXT21"), ui::PromptIcon::kQuestion,
                           ui::PromptButtons::kYesNo) != ui::kAnswerYes)
    return;
  form.Confirm(r.xml);
  xml = r.xml;
  cancelled = false;
  accept();
}

}  // namespace kelvara::dialogs
