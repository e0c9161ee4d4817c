#include "printing/qt/print_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>

#include "common/paths.h"
#include "common/ui/user_prompts.h"
#include "printing/core/tips_config.h"

namespace kelvara::printing {

namespace {

constexpr char kFileFilter[] = "File(*.xml);;All Files(*.*)";

QFont PreviewFont(double heightPx, int weight) {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(std::max(1, static_cast<int>(heightPx)));
  font.setWeight(static_cast<QFont::Weight>(std::clamp(weight, 1, 1000)));
  return font;
}

// The custom text controls a check box enables.
constexpr int kCustom1Controls[] = {tips_ids::kCustom1X, tips_ids::kCustom1Y, tips_ids::kCustom1FontSize,
                                    tips_ids::kCustom1FontWeight, tips_ids::kCustom1Text};
constexpr int kCustom2Controls[] = {tips_ids::kCustom2X, tips_ids::kCustom2Y, tips_ids::kCustom2FontSize,
                                    tips_ids::kCustom2FontWeight, tips_ids::kCustom2Text};

// Decimal and integer edits read back by the save.
constexpr int kEdits[] = {tips_ids::kWidth,     tips_ids::kHeight,       tips_ids::kDiv,       tips_ids::kNum,
                          tips_ids::kQrX,       tips_ids::kQrY,          tips_ids::kQrSize,    tips_ids::kSnX,
                          tips_ids::kSnY,       tips_ids::kSnFontSize,   tips_ids::kCustom1X,  tips_ids::kCustom1Y,
                          tips_ids::kCustom1FontSize, tips_ids::kCustom1Text, tips_ids::kCustom2X, tips_ids::kCustom2Y,
                          tips_ids::kCustom2FontSize, tips_ids::kCustom2Text};

}  // namespace

// ---- CTips

CTips::CTips(const CTipsConfig& tips, QWidget* parent) : QWidget(parent), tips_(tips) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void CTips::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(128, 128, 128));
  const PreviewScene scene = BuildTipsPreview(tips_, scale_);
  painter.fillRect(QRectF(scene.qrX, scene.qrY, scene.qrSide, scene.qrSide), Qt::black);
  painter.setBackgroundMode(Qt::TransparentMode);
  painter.setPen(Qt::black);
  for (const PreviewText& t : scene.texts) {
    painter.setFont(PreviewFont(t.height, t.weight));
    const QRectF line(t.left, t.top, std::max(0.0, width() - t.left), t.height);
    painter.drawText(line, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, QString::fromStdString(t.text));
  }
}

// ---- CPrintDlg

CPrintDlg::CPrintDlg(CTipsConfig& tips, ui::UserPrompts& prompts, QWidget* parent)
    : CXDlg(143, parent), tips_(tips), prompts_(prompts) {
  auto label = [this](int id, int x, int y, int w) {
    auto* l = new QLabel(this);
    l->setGeometry(x, y + 3, w, 20);
    if (id > 0) RegisterControl(id, l);
    return l;
  };
  auto edit = [this](int id, int x, int y, int w = 60) {
    auto* e = new QLineEdit(this);
    e->setGeometry(x, y, w, 24);
    RegisterControl(id, e);
  };
  auto weights = [this](int id, int x, int y) {
    auto* c = new QComboBox(this);
    c->setGeometry(x, y, 80, 24);
    for (const std::string& w : FontWeightChoices()) c->addItem(QString::fromStdString(w));
    RegisterControl(id, c);
  };
  auto check = [this](int id, int x, int y, int w, const QString& text = {}) {
    auto* c = new QCheckBox(text, this);
    c->setGeometry(x, y + 2, w, 20);
    RegisterControl(id, c);
    return c;
  };
  auto button = [this](int id, int x, int y, int w) {
    auto* b = new QPushButton(this);
    b->setAutoDefault(false);  // Enter never presses save, import or export
    b->setGeometry(x, y, w, 28);
    RegisterControl(id, b);
    return b;
  };

  auto* fields = new QGroupBox(this);
  fields->setGeometry(10, 8, 560, 372);
  RegisterControl(1018, fields);
  int y = 34;
  label(1021, 20, y, 110);
  label(2051, 135, y, 70);
  edit(tips_ids::kWidth, 210, y);
  label(2052, 285, y, 70);
  edit(tips_ids::kHeight, 360, y);
  y += 34;
  label(2053, 20, y, 110);
  edit(tips_ids::kDiv, 135, y);
  label(2054, 210, y, 140);
  edit(tips_ids::kNum, 360, y);
  y += 34;
  label(2055, 20, y, 110);
  label(0, 135, y, 14)->setText(QStringLiteral("X"));
  edit(tips_ids::kQrX, 150, y, 50);
  label(0, 210, y, 14)->setText(QStringLiteral("Y"));
  edit(tips_ids::kQrY, 225, y, 50);
  label(2056, 285, y, 70);
  edit(tips_ids::kQrSize, 360, y);
  y += 34;
  check(tips_ids::kSnEnable, 20, y, 55, QStringLiteral("SN"));
  check(tips_ids::kMacEnable, 75, y, 60, QStringLiteral("MAC"));
  label(0, 135, y, 14)->setText(QStringLiteral("X"));
  edit(tips_ids::kSnX, 150, y, 50);
  label(0, 210, y, 14)->setText(QStringLiteral("Y"));
  edit(tips_ids::kSnY, 225, y, 50);
  label(2057, 285, y, 70);
  edit(tips_ids::kSnFontSize, 360, y);
  label(2058, 425, y, 50);
  weights(tips_ids::kSnFontWeight, 478, y);
  struct Custom {
    int check, x, y, size, sizeLabel, weight, weightLabel, text;
  };
  const Custom customs[] = {
      {tips_ids::kCustom1Enable, tips_ids::kCustom1X, tips_ids::kCustom1Y, tips_ids::kCustom1FontSize, 2059,
       tips_ids::kCustom1FontWeight, 2060, tips_ids::kCustom1Text},
      {tips_ids::kCustom2Enable, tips_ids::kCustom2X, tips_ids::kCustom2Y, tips_ids::kCustom2FontSize, 2061,
       tips_ids::kCustom2FontWeight, 2062, tips_ids::kCustom2Text},
  };
  for (const Custom& c : customs) {
    y += 40;
    QCheckBox* box = check(c.check, 20, y, 112);
    connect(box, &QCheckBox::clicked, this, [this, id = c.check] { OnCustomCheck(id); });
    label(0, 135, y, 14)->setText(QStringLiteral("X"));
    edit(c.x, 150, y, 50);
    label(0, 210, y, 14)->setText(QStringLiteral("Y"));
    edit(c.y, 225, y, 50);
    label(c.sizeLabel, 285, y, 70);
    edit(c.size, 360, y);
    label(c.weightLabel, 425, y, 50);
    weights(c.weight, 478, y);
    y += 30;
    label(c.check == tips_ids::kCustom1Enable ? 2063 : 0, 40, y, 90);
    edit(c.text, 135, y, 423);
  }
  y += 40;
  QLabel* note = label(2035, 20, y, 540);
  note->setWordWrap(true);
  note->setGeometry(20, y, 540, 40);

  auto* previewGroup = new QGroupBox(this);
  previewGroup->setGeometry(580, 8, 420, 372);
  RegisterControl(tips_ids::kPreviewGroup, previewGroup);
  preview_ = new CTips(tips_, this);

  const int by = 392;
  connect(button(tips_ids::kImport, 10, by, 150), &QPushButton::clicked, this, &CPrintDlg::OnImport);
  connect(button(tips_ids::kExport, 170, by, 150), &QPushButton::clicked, this, &CPrintDlg::OnExport);
  connect(button(tips_ids::kSave, 330, by, 150), &QPushButton::clicked, this, [this] { OnSave(); });
  // The print set-up button is hidden: label printing uses the default printer.
  button(tips_ids::kPrintSetup, 490, by, 100)->hide();
  setFixedSize(1010, by + 40);
}

bool CPrintDlg::OnInitDialog() {
  setWindowTitle(LangText("TIPS_STR_TITLE"));
  SetItemLangText(1018, "TIPS_STR_TITLE");
  SetItemLangText(tips_ids::kPreviewGroup, "TIPS_STR_PRE");
  SetItemLangText(2035, "TIPS_STR_TIP_1");
  SetItemLangText(1021, "TIPS_STR_TIP_SIZE");
  SetItemLangText(2051, "TIPS_STR_WIDTH");
  SetItemLangText(2052, "TIPS_STR_HEIGHT");
  SetItemLangText(2053, "TIPS_STR_TIP_DIV");
  SetItemLangText(2054, "TIPS_STR_TIP_NUM");
  SetItemLangText(2055, "TIPS_STR_QRCODE");
  SetItemLangText(2056, "TIPS_STR_SIZE");
  SetItemLangText(2057, "TIPS_STR_FONT_SIZE");
  SetItemLangText(2059, "TIPS_STR_FONT_SIZE");
  SetItemLangText(2061, "TIPS_STR_FONT_SIZE");
  SetItemLangText(2058, "TIPS_STR_FONT_WIDTH");
  SetItemLangText(2060, "TIPS_STR_FONT_WIDTH");
  SetItemLangText(2062, "TIPS_STR_FONT_WIDTH");
  SetItemLangText(tips_ids::kCustom1Enable, "TIPS_STR_CUSTOM_1");
  SetItemLangText(tips_ids::kCustom2Enable, "TIPS_STR_CUSTOM_2");
  SetItemLangText(tips_ids::kImport, "TIPS_STR_IMPORT_CFG");
  SetItemLangText(tips_ids::kExport, "TIPS_STR_EXPORT_CFG");
  SetItemLangText(tips_ids::kSave, "TIPS_STR_SAVE_CFG");
  SetItemLangText(2063, "IDC_TEXT");
  FillControls();
  PlacePreview();
  return true;
}

void CPrintDlg::FillControls() {
  const TipsForm form = TipsFormFromConfig(tips_);
  for (const auto& [id, text] : form.edits) SetItemText(id, QString::fromStdString(text));
  SetCheck(tips_ids::kSnEnable, form.snEnable);
  SetCheck(tips_ids::kMacEnable, form.macEnable);
  SetCheck(tips_ids::kCustom1Enable, form.custom1Enable);
  SetCheck(tips_ids::kCustom2Enable, form.custom2Enable);
  // Selected by text: a stored weight that is not in the list leaves none
  // selected (a filled combo box would otherwise keep showing its first item).
  auto select = [this](int id, const std::string& text) {
    const auto* combo = ControlAs<QComboBox>(id);
    if (combo != nullptr && combo->findText(QString::fromStdString(text), Qt::MatchExactly) < 0) {
      SetComboSel(id, -1);
    } else {
      SelectComboByText(id, QString::fromStdString(text));
    }
  };
  select(tips_ids::kSnFontWeight, form.snWeight);
  select(tips_ids::kCustom1FontWeight, form.custom1Weight);
  select(tips_ids::kCustom2FontWeight, form.custom2Weight);
  OnCustomCheck(tips_ids::kCustom1Enable);
  OnCustomCheck(tips_ids::kCustom2Enable);
}

void CPrintDlg::OnCustomCheck(int checkId) {
  const bool on = GetCheck(checkId) != 0;
  if (checkId == tips_ids::kCustom1Enable)
    for (int id : kCustom1Controls) EnableItem(id, on);
  if (checkId == tips_ids::kCustom2Enable)
    for (int id : kCustom2Controls) EnableItem(id, on);
}

TipsForm CPrintDlg::ReadControls() const {
  TipsForm form;
  for (int id : kEdits) form.edits[id] = GetItemText(id).toStdString();
  form.snEnable = GetCheck(tips_ids::kSnEnable);
  form.macEnable = GetCheck(tips_ids::kMacEnable);
  form.custom1Enable = GetCheck(tips_ids::kCustom1Enable);
  form.custom2Enable = GetCheck(tips_ids::kCustom2Enable);
  auto weight = [this](int id) { return GetComboSel(id) >= 0 ? GetItemText(id).toStdString() : std::string(); };
  form.snWeight = weight(tips_ids::kSnFontWeight);
  form.custom1Weight = weight(tips_ids::kCustom1FontWeight);
  form.custom2Weight = weight(tips_ids::kCustom2FontWeight);
  return form;
}

bool CPrintDlg::OnSave() {
  const FormCheck check = ApplyTipsForm(ReadControls(), tips_);
  if (!check.ok) {
    prompts_.MessageBox(this, LangText(check.messageKey.c_str()), QString(), ui::PromptIcon::kWarning);
    if (QWidget* w = Control(check.focusId)) w->setFocus();
    return false;
  }
  const bool saved = tips_.Save();
  if (!saved)
    prompts_.MessageBox(this, QString::fromStdString(tips_.LastError()), QString(), ui::PromptIcon::kError);
  PlacePreview();
  return saved;
}

void CPrintDlg::OnImport() {
  const QString path = prompts_.OpenFileName(this, LangText("TIPS_STR_IMPORT_CFG"), QString(),
                                             QString::fromLatin1(kFileFilter));
  if (path.isEmpty()) return;
  // A file that cannot be read leaves the values as they were and says why.
  if (tips_.LoadFrom(path.toStdString()) != 0)
    prompts_.MessageBox(this, QString::fromStdString(tips_.LastError()), QString(), ui::PromptIcon::kError);
  else if (!tips_.Save())
    prompts_.MessageBox(this, QString::fromStdString(tips_.LastError()), QString(), ui::PromptIcon::kError);
  FillControls();
  PlacePreview();
}

void CPrintDlg::OnExport() {
  const QString start = QDir(QString::fromStdString(paths::DocumentsDir().string())).filePath("printDlg.xml");
  const QString path =
      prompts_.SaveFileName(this, LangText("TIPS_STR_EXPORT_CFG"), start, QString::fromLatin1(kFileFilter));
  if (path.isEmpty()) return;
  if (!tips_.SaveTo(path.toStdString()))
    prompts_.MessageBox(this, QString::fromStdString(tips_.LastError()), QString(), ui::PromptIcon::kError);
}

void CPrintDlg::PlacePreview() {
  const QRect group = Control(tips_ids::kPreviewGroup)->geometry();
  const PreviewPlacement p =
      PlaceTipsPreview(group.x(), group.y(), group.width(), group.height(), tips_.Tips_w, tips_.Tips_h);
  preview_->SetScale(p.scale);
  preview_->setGeometry(p.x, p.y, p.width, p.height);
  preview_->raise();
  preview_->show();
  preview_->update();
}

}  // namespace kelvara::printing
