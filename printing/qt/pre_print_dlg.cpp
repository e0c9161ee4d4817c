#include "printing/qt/pre_print_dlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>

#include "common/ui/user_prompts.h"
#include "printing/core/label_settings_form.h"

namespace kelvara::printing {

namespace {

struct FieldRow {
  int id;
  const char* label;
};

// The edits in the order the dialog shows them, with their labels.
constexpr FieldRow kRows[] = {
    {qr_layout_ids::kWidth, "Label width (mm)"},
    {qr_layout_ids::kHeight, "Label height (mm)"},
    {qr_layout_ids::kColumns, "Columns"},
    {qr_layout_ids::kRows, "Rows"},
    {qr_layout_ids::kDeviceLabels, "Labels per device"},
    {qr_layout_ids::kFontSize, "Font size"},
    {qr_layout_ids::kDivLeftRight, "Left and right margin (mm)"},
    {qr_layout_ids::kDivTopBottom, "Top and bottom margin (mm)"},
    {qr_layout_ids::kDivMid, "Gap between labels (mm)"},
    {qr_layout_ids::kDivQrId, "Gap between QR code and text (mm)"},
};

}  // namespace

CPrePrintDlg::CPrePrintDlg(QrLabelLayout& layout, ui::UserPrompts& prompts, QWidget* parent)
    : CXDlg(158, parent), layout_(layout), prompts_(prompts) {
  setWindowTitle(QStringLiteral("Dialog"));
  // The system's button-face colour, as the other system dialogs.
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, pal.color(QPalette::Button));
  setPalette(pal);
  int y = 14;
  for (const FieldRow& row : kRows) {
    auto* label = new QLabel(QString::fromLatin1(row.label), this);
    label->setGeometry(16, y + 3, 230, 20);
    auto* edit = new QLineEdit(this);
    edit->setGeometry(250, y, 90, 24);
    RegisterControl(row.id, edit);
    y += 30;
  }
  auto* save = new QPushButton(LangText("TIPS_STR_SAVE_CFG"), this);
  save->setAutoDefault(false);  // Enter in an edit does not save
  save->setGeometry(250, y + 6, 90, 28);
  RegisterControl(qr_layout_ids::kSave, save);
  connect(save, &QPushButton::clicked, this, [this] { OnSave(); });
  setFixedSize(360, y + 50);
}

bool CPrePrintDlg::OnInitDialog() {
  for (const auto& [id, text] : QrLayoutFormTexts(layout_)) SetItemText(id, QString::fromStdString(text));
  return true;
}

bool CPrePrintDlg::OnSave() {
  FormTexts texts;
  for (const FieldRow& row : kRows) texts[row.id] = GetItemText(row.id).toStdString();
  const FormCheck check = ApplyQrLayoutForm(texts, layout_);
  if (!check.ok) {
    prompts_.MessageBox(this, LangText(check.messageKey.c_str()), QString(), ui::PromptIcon::kWarning);
    if (QWidget* w = Control(check.focusId)) w->setFocus();
    return false;
  }
  if (layout_.SaveLayout() != 0) {
    prompts_.MessageBox(this, QString::fromStdString(layout_.LastError()), QString(), ui::PromptIcon::kError);
    return false;
  }
  return true;
}

}  // namespace kelvara::printing
