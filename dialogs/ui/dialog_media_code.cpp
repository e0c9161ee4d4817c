#include "dialogs/ui/dialog_media_code.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

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
  const char* rows[] = {"IDS_STR_ENABLE_STATUS", "IDS_STR_ZH_CN_VE_TIPS1", "IDS_STR_ZH_CN_VE_TIPS2",
                        "IDS_STR_ZH_CN_VE_TIPS3", "IDS_STR_ZH_CN_VE_TIPS4", "IDS_STR_ZH_CN_VE_TIPS5",
                        "",                       "IDS_STR_ZH_CN_VE_TIPS6", "IDS_QP_CUST",
                        "IDS_QP_MIN",             "IDS_QP_MAX",            "IDS_STR_ZH_CN_VE_LBR_ENABLE",
                        "IDS_STR_ZH_CN_VE_LBR_STYLE", "IDS_STR_ZH_CN_VE_LBR_BITRATEMODE",
                        "IDS_STR_ZH_CN_VE_LBR_BITRATE", "IDS_STR_ZH_CN_VE_LBR_MOTIONLEVEL",
                        "IDS_STR_ZH_CN_VE_LBR_NOICELEVEL"};
  AddLabel(1436, "IDS_STR_ZH_CN_MDAR_TIPS9", 0, 1);
  AddLabel(1437, "IDS_STR_ZH_CN_MDAR_TIPS10", 0, 3);
  AddLabel(1449, "IDS_VIDEO_THIRD_STREAM", 0, 5);
  for (int r = 0; r < 17; ++r) AddLabel(0, *rows[r] ? rows[r] : nullptr, r + 1, 0);
  for (int s = 0; s < 3; ++s) {
    const StreamIds& id = kIds[s];
    const int c = 1 + 2 * s;
    auto edit = [&](int cid, int row, int limit) {
      auto* e = new CEditExEx(this);
      e->SetLimitText(limit);
      RegisterControl(cid, e);
      Grid()->addWidget(e, row, c);
    };
    Keys(AddCombo(id.enable, 1, c), {"IDS_STR_ZH_CN_DISABLE", "IDS_STR_ZH_CN_ENABLE"});
    AddCombo(id.format, 2, c);
    AddCombo(id.resolution, 3, c);
    AddCombo(id.bitRateControl, 4, c)->addItems({"CBR", "VBR"});
    edit(id.iframe, 5, 3);
    AddLabel(0, nullptr, 5, c + 1)->setText("s(1-200)");
    AddCombo(id.quality, 6, c);
    edit(id.bitRate, 7, 5);
    AddLabel(id.range, nullptr, 7, c + 1);
    AddCombo(id.frameRate, 8, c);
    Keys(AddCombo(id.qpEnable, 9, c), {"IDS_STR_ZH_CN_DISABLE", "IDS_STR_ZH_CN_ENABLE"});
    for (int qp : {id.qpMin, id.qpMax}) {
      auto* combo = AddCombo(qp, qp == id.qpMin ? 10 : 11, c);
      for (int v = 0; v <= 51; ++v) combo->addItem(QString::number(v), v);
    }
    if (s == 2) continue;
    Keys(AddCombo(id.lbrEnable, 12, c), {"IDS_STR_ZH_CN_DISABLE", "IDS_STR_ZH_CN_ENABLE"});
    Keys(AddCombo(id.lbrStyle, 13, c), {"IDS_STR_ZH_CN_VE_LBR_STYLE_0", "IDS_STR_ZH_CN_VE_LBR_STYLE_1"});
    Keys(AddCombo(id.lbrMode, 14, c), {"IDS_STR_ZH_CN_VE_LBR_BITRATEMODE_0", "IDS_STR_ZH_CN_VE_LBR_BITRATEMODE_1"});
    edit(id.lbrBitRate, 15, s == 0 ? 5 : 4);
    AddLabel(id.lbrRange, nullptr, 15, c + 1);
    Keys(AddCombo(id.lbrMotion, 16, c), {"IDS_STR_ZH_CN_VE_LBR_MOTIONLEVEL_0", "IDS_STR_ZH_CN_VE_LBR_MOTIONLEVEL_1",
                                         "IDS_STR_ZH_CN_VE_LBR_MOTIONLEVEL_2"});
    Keys(AddCombo(id.lbrNoise, 17, c), {"IDS_STR_ZH_CN_VE_LBR_NOICELEVEL_0", "IDS_STR_ZH_CN_VE_LBR_NOICELEVEL_1",
                                        "IDS_STR_ZH_CN_VE_LBR_NOICELEVEL_2"});
  }
  AddLabel(1569, "IDS_STR_ZH_CN_VE_TIPS8", 18, 0);
  Keys(AddCombo(1567, 18, 1),
       {"IDS_STR_ZH_CN_VE_HIGHPROFILE", "IDS_STR_ZH_CN_VE_MAINPROFILE", "IDS_STR_ZH_CN_VE_BASEPROFILE"});
  AddLabel(1920, "CMediaCode_privatedata", 18, 2)->hide();
  auto* priv = AddCombo(1919, 18, 3);
  Keys(priv, {"IDS_STR_ZH_CN_ENABLE", "IDS_STR_ZH_CN_DISABLE"});
  priv->hide();
  AddLabel(1921, "CMediaCode_encodemode", 19, 0);
  Keys(AddCombo(1573, 19, 1), {"CMediaCode_basemode", "CMediaCode_advancemode"});
  AddLabel(1922, "CMediaCode_noicelevel", 19, 2);
  auto* noise = AddCombo(1574, 19, 3);
  for (int v = 0; v < VideoEncodeForm::kNoiseLevels; ++v) noise->addItem(QString::number(v));
  connect(AddButton(1431, "IDS_STR_ZH_CN_DEFAULT", 20, 1), &QPushButton::clicked, this, &CMediaCode::OnDefault);
  connect(AddButton(799, "IDS_STR_ZH_CN_SAVE", 20, 3), &QPushButton::clicked, this, &CMediaCode::OnSave);

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
  Write();
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
