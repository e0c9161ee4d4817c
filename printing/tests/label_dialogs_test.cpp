// The label settings dialogs and the QR popup, offscreen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QPainter>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>

#include "common/language_table.h"
#include "common/ui/user_prompts.h"
#include "kelvara_test/test_env.h"
#include "layout_test_support.h"
#include "printing/core/label_settings_form.h"
#include "printing/core/qr_label_layout.h"
#include "printing/core/tips_config.h"
#include "printing/qt/pre_print_dlg.h"
#include "printing/qt/print_dlg.h"
#include "printing/qt/printing_windows.h"
#include "printing/qt/label_printer.h"
#include "printing/qt/qr_encode_dlg.h"
#include "qr_test_support.h"

namespace {

using namespace kelvara::printing;
using kelvara::test::MakeTempDir;
using kelvara::test::ReadText;

class ScriptedPrompts final : public kelvara::ui::UserPrompts {
 public:
  std::vector<QString> shown;
  QString openName, saveName;
  QString proposedSave;
  int MessageBox(QWidget*, const QString& text, const QString&, kelvara::ui::PromptIcon,
                 kelvara::ui::PromptButtons) override {
    shown.push_back(text);
    return kelvara::ui::kAnswerOk;
  }
  QString OpenFileName(QWidget*, const QString&, const QString&, const QString&) override { return openName; }
  QString SaveFileName(QWidget*, const QString&, const QString& start, const QString&) override {
    proposedSave = start;
    return saveName;
  }
  QString FolderName(QWidget*, const QString&, const QString&) override { return {}; }
};

QString Lang(const char* key) { return QString::fromStdString(kelvara::LangText(key)); }

TEST(PrePrintDlg, InvalidFieldIsFocusedAndNothingIsStored) {
  const auto dir = MakeTempDir("pre");
  QrLabelLayout layout(dir / "printconfig.xml");
  ASSERT_EQ(layout.SaveLayout(), 0);
  const std::string fileBefore = ReadText(dir / "printconfig.xml");
  ScriptedPrompts prompts;
  CPrePrintDlg dlg(layout, prompts);
  dlg.OnInitDialog();
  dlg.show();
  EXPECT_EQ(dlg.GetItemText(qr_layout_ids::kHeight), "15");
  dlg.SetItemText(qr_layout_ids::kHeight, "abc");
  dlg.SetItemText(qr_layout_ids::kWidth, "44");
  dlg.activateWindow();
  EXPECT_FALSE(dlg.OnSave());
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0], Lang("TIPS_STR_MSG_1"));
  EXPECT_EQ(dlg.focusWidget(), dlg.Control(qr_layout_ids::kHeight));
  EXPECT_EQ(layout.height, 15);
  EXPECT_EQ(layout.width, 30);
  EXPECT_EQ(ReadText(dir / "printconfig.xml"), fileBefore);
  // Fixed, the save button stores and writes.
  dlg.SetItemText(qr_layout_ids::kHeight, "20");
  qobject_cast<QPushButton*>(dlg.Control(qr_layout_ids::kSave))->click();
  EXPECT_EQ(layout.width, 44);
  QrLabelLayout reread(dir / "printconfig.xml");
  EXPECT_EQ(reread.width, 44);
  EXPECT_EQ(reread.height, 20);
}

struct TipsFixture {
  std::filesystem::path dir = MakeTempDir("tips");
  CTipsConfig tips{dir / "ZqTipsConfig.xml"};
  ScriptedPrompts prompts;
};

TEST(PrintDlg, InvalidFieldIsFocusedAndTheFileStaysUnchanged) {
  TipsFixture f;
  const std::string fileBefore = ReadText(f.tips.FilePath());
  CPrintDlg dlg(f.tips, f.prompts);
  dlg.OnInitDialog();
  dlg.show();
  dlg.activateWindow();
  for (int id : {tips_ids::kWidth, tips_ids::kNum, tips_ids::kDiv, tips_ids::kQrX, tips_ids::kSnX}) {
    const QString old = dlg.GetItemText(id);
    dlg.SetItemText(id, QStringLiteral("-3"));
    f.prompts.shown.clear();
    EXPECT_FALSE(dlg.OnSave());
    EXPECT_EQ(f.prompts.shown, std::vector<QString>{Lang("TIPS_STR_MSG_1")});
    EXPECT_EQ(dlg.focusWidget(), dlg.Control(id)) << id;
    dlg.SetItemText(id, old);
  }
  EXPECT_EQ(ReadText(f.tips.FilePath()), fileBefore);
  // Custom text 1 enabled with no text: 2037 gets the focus.
  dlg.SetCheck(tips_ids::kCustom1Enable, 1);
  dlg.OnCustomCheck(tips_ids::kCustom1Enable);
  EXPECT_TRUE(dlg.Control(tips_ids::kCustom1Text)->isEnabled());
  EXPECT_FALSE(dlg.OnSave());
  EXPECT_EQ(dlg.focusWidget(), dlg.Control(2037));
  EXPECT_EQ(ReadText(f.tips.FilePath()), fileBefore);
}

TEST(PrintDlg, SaveImportExportAndPreview) {
  TipsFixture f;
  CPrintDlg dlg(f.tips, f.prompts);
  dlg.OnInitDialog();
  // The custom controls follow their check boxes.
  EXPECT_FALSE(dlg.Control(tips_ids::kCustom1X)->isEnabled());
  EXPECT_EQ(dlg.GetComboCount(tips_ids::kSnFontWeight), 12);
  EXPECT_EQ(dlg.GetItemText(tips_ids::kSnFontWeight), "400");
  // Save: the values reach the file and the preview follows the new shape.
  dlg.SetItemText(tips_ids::kWidth, "100");
  dlg.SetItemText(tips_ids::kHeight, "50");
  ASSERT_TRUE(dlg.OnSave());
  EXPECT_DOUBLE_EQ(CTipsConfig(f.tips.FilePath()).Tips_w, 100.0);
  const QRect group = dlg.Control(tips_ids::kPreviewGroup)->geometry();
  const PreviewPlacement want =
      PlaceTipsPreview(group.x(), group.y(), group.width(), group.height(), 100, 50);
  EXPECT_EQ(dlg.Preview()->geometry(), QRect(want.x, want.y, want.width, want.height));
  EXPECT_GT(want.width, 0);
  EXPECT_NEAR(double(want.width) / want.height, 2.0, 0.02);
  // Export proposes printDlg.xml in the documents folder and writes the values in memory.
  const auto exported = f.dir / "out" / "exported.xml";
  std::filesystem::create_directories(exported.parent_path());
  f.prompts.saveName = QString::fromStdString(exported.string());
  dlg.SetItemText(tips_ids::kWidth, "77");  // not saved: not exported
  dlg.OnExport();
  EXPECT_TRUE(f.prompts.proposedSave.endsWith("Kelvara/printDlg.xml")) << f.prompts.proposedSave.toStdString();
  EXPECT_DOUBLE_EQ(CTipsConfig(exported).Tips_w, 100.0);
  // Import: the file becomes the current layout and fills the controls.
  {
    CTipsConfig other(f.dir / "other.xml");
    other.Tips_w = 42;
    other.Customize_2_enable = 1;
    other.Customize_2_text = "imported";
    ASSERT_TRUE(other.Save());
  }
  f.prompts.openName = QString::fromStdString((f.dir / "other.xml").string());
  dlg.OnImport();
  EXPECT_DOUBLE_EQ(f.tips.Tips_w, 42.0);
  EXPECT_EQ(dlg.GetItemText(tips_ids::kWidth), "42.0");
  EXPECT_EQ(dlg.GetItemText(tips_ids::kCustom2Text), "imported");
  EXPECT_TRUE(dlg.Control(tips_ids::kCustom2Text)->isEnabled());
  EXPECT_DOUBLE_EQ(CTipsConfig(f.tips.FilePath()).Tips_w, 42.0);
  // A file that does not parse is reported and changes nothing.
  kelvara::test::WriteText(f.dir / "bad.xml", "<not xml");
  f.prompts.openName = QString::fromStdString((f.dir / "bad.xml").string());
  f.prompts.shown.clear();
  dlg.OnImport();
  EXPECT_EQ(f.prompts.shown.size(), 1u);
  EXPECT_DOUBLE_EQ(f.tips.Tips_w, 42.0);
}

// A layout holding weight 9 (what the serial line's list without a selection
// stores) opens with no weight selected and saves, keeping 9. A stored weight
// the list lacks (450) is saved as 9 the same way; a custom text's list
// without a selection stores 400.
TEST(PrintDlg, LayoutWithWeightNineOpensAndSaves) {
  TipsFixture f;
  f.tips.Sn_font_w = 9;
  ASSERT_TRUE(f.tips.Save()) << f.tips.LastError();
  CTipsConfig stored(f.tips.FilePath());
  ASSERT_EQ(stored.Sn_font_w, 9);
  CPrintDlg dlg(stored, f.prompts);
  dlg.OnInitDialog();
  EXPECT_LT(dlg.GetComboSel(tips_ids::kSnFontWeight), 0);
  EXPECT_TRUE(dlg.OnSave());
  EXPECT_TRUE(f.prompts.shown.empty()) << f.prompts.shown[0].toStdString();
  EXPECT_EQ(CTipsConfig(f.tips.FilePath()).Sn_font_w, 9);

  stored.Sn_font_w = 450;
  stored.Customize_1_enable = 1;
  stored.Customize_1_text = "custom";
  stored.Customize_1_font_w = 450;
  ASSERT_TRUE(stored.Save());
  CTipsConfig reread(f.tips.FilePath());
  ASSERT_EQ(reread.Sn_font_w, 450);
  CPrintDlg again(reread, f.prompts);
  again.OnInitDialog();
  EXPECT_LT(again.GetComboSel(tips_ids::kSnFontWeight), 0);
  EXPECT_LT(again.GetComboSel(tips_ids::kCustom1FontWeight), 0);
  EXPECT_TRUE(again.OnSave());
  EXPECT_TRUE(f.prompts.shown.empty()) << f.prompts.shown[0].toStdString();
  const CTipsConfig saved(f.tips.FilePath());
  EXPECT_EQ(saved.Sn_font_w, 9);
  EXPECT_EQ(saved.Customize_1_font_w, 400);
}

TEST(PrintDlg, PreviewDrawsTheLabel) {
  TipsFixture f;
  f.tips.m_bSnEnable = 1;
  CPrintDlg dlg(f.tips, f.prompts);
  dlg.OnInitDialog();
  dlg.show();
  QApplication::processEvents();
  const QImage shot = dlg.Preview()->grab().toImage();
  ASSERT_FALSE(shot.isNull());
  const double s = dlg.Preview()->Scale();
  // Grey background, black QR square at its place.
  EXPECT_EQ(shot.pixelColor(1, 1), QColor(128, 128, 128));
  const QPoint qrCentre(int((f.tips.QR_x + f.tips.QR_size / 2) * s), int((f.tips.QR_y + f.tips.QR_size / 2) * s));
  EXPECT_EQ(shot.pixelColor(qrCentre), QColor(0, 0, 0));
  // The serial line puts dark pixels somewhere in its band.
  int dark = 0;
  for (int y = int(f.tips.Sn_y * s); y < int((f.tips.Sn_y + f.tips.Sn_font_size) * s) && y < shot.height(); ++y)
    for (int x = 0; x < shot.width(); ++x) dark += shot.pixelColor(x, y).lightness() < 60;
  EXPECT_GT(dark, 20);
}

TEST(QrPopup, EncodesOnlyNewTextsAndCopiesADecodableCode) {
  ScriptedPrompts prompts;
  QWidget owner;
  owner.setGeometry(100, 100, 800, 600);
  owner.show();
  CQR_EncodeDlg popup(false, prompts, &owner);
  EXPECT_FALSE(popup.Control(CQR_EncodeDlg::kText)->isVisibleTo(&popup));
  EXPECT_TRUE(popup.Control(CQR_EncodeDlg::kCopy)->isVisibleTo(&popup));
  EXPECT_EQ(popup.GetItemText(CQR_EncodeDlg::kCopy), Lang("COPY_QR"));
  popup.ShowText("ZQP2P12345678");
  popup.ShowText("ZQP2P12345678");
  popup.ShowText("ZQP2P12345678");
  EXPECT_EQ(popup.EncodeCount(), 1);
  ASSERT_TRUE(popup.QrOk());
  EXPECT_EQ(popup.QrBitmapSide(), 25);  // version 1: 21 modules and a 2-pixel border
  popup.OnCopy();
  const QImage copied = QApplication::clipboard()->image();
  ASSERT_FALSE(copied.isNull());
  EXPECT_EQ(copied.size(), QSize(200, 200));
  const QImage dib = popup.ClipboardImage();
  EXPECT_EQ(dib.format(), QImage::Format_Mono);
  EXPECT_EQ(dib.bytesPerLine(), 28);
  EXPECT_EQ(dib.dotsPerMeterX(), 3780);
  EXPECT_EQ(dib.dotsPerMeterY(), 3780);
  // zbarimg reads it back (on a wider quiet zone, as a screen would show it).
  QImage framed(240, 240, QImage::Format_RGB32);
  framed.fill(Qt::white);
  {
    QPainter p(&framed);
    p.drawImage(20, 20, copied);
  }
  const auto png = MakeTempDir("qrpopup") / "copied.png";
  ASSERT_TRUE(framed.save(QString::fromStdString(png.string())));
  EXPECT_EQ(kelvara::test::ZbarDecodeFile(png), std::optional<std::string>("ZQP2P12345678"));
  // A new text is encoded again; a text too long for any symbol clears the code.
  popup.ShowText(QString(8000, QChar('x')));
  EXPECT_EQ(popup.EncodeCount(), 2);
  EXPECT_FALSE(popup.QrOk());
  EXPECT_TRUE(popup.ClipboardImage().isNull());
}

TEST(QrPopup, CompactLayoutAndPlacement) {
  ScriptedPrompts prompts;
  TipsFixture f;
  CLabelPrinter printer(f.tips, nullptr, f.dir / "printconfig.xml");
  PrintingWindows windows(printer, f.tips, prompts);
  QWidget owner;
  owner.setGeometry(50, 60, 700, 500);
  owner.show();
  windows.ShowQrPopup(&owner, QString(), false);
  EXPECT_EQ(windows.QrPopup(), nullptr);  // an empty text makes nothing
  windows.ShowQrPopup(&owner, "P2P-A", false);
  CQR_EncodeDlg* popup = windows.QrPopup();
  ASSERT_NE(popup, nullptr);
  EXPECT_TRUE(popup->isVisible());
  EXPECT_FALSE(popup->Compact());
  // Lower right corner 10 pixels inside the owner's.
  EXPECT_EQ(popup->frameGeometry().bottomRight(), owner.frameGeometry().bottomRight() - QPoint(10, 10));
  // An owner partly off the screen: the popup stays on it.
  const QRect work = owner.screen()->availableGeometry();
  owner.move(work.right() - 300, work.bottom() - 200);
  windows.ShowQrPopup(&owner, "P2P-A", false);
  EXPECT_TRUE(work.contains(popup->frameGeometry()));
  windows.ShowQrPopup(&owner, QString(), false);
  EXPECT_FALSE(popup->isVisible());
  owner.setGeometry(50, 60, 700, 500);

  PrintingWindows hover(printer, f.tips, prompts);
  hover.ShowQrPopup(&owner, "P2P-B", true);
  CQR_EncodeDlg* compact = hover.QrPopup();
  ASSERT_NE(compact, nullptr);
  EXPECT_TRUE(compact->Compact());
  EXPECT_TRUE(compact->Control(CQR_EncodeDlg::kText)->isVisible());
  EXPECT_FALSE(compact->Control(CQR_EncodeDlg::kCopy)->isVisible());
  EXPECT_FALSE(compact->Control(CQR_EncodeDlg::kPrint)->isVisible());
  EXPECT_EQ(compact->GetItemText(CQR_EncodeDlg::kText), "P2P-B");
  const QRect edit = compact->Control(CQR_EncodeDlg::kText)->geometry();
  const QRect picture = compact->Control(CQR_EncodeDlg::kPicture)->geometry();
  EXPECT_GE(picture.top(), edit.height() + 3);
  EXPECT_EQ(picture.center().x(), compact->width() / 2 - (compact->width() % 2 == 0 ? 1 : 0));
  EXPECT_LE((compact->frameGeometry().center() - owner.frameGeometry().center()).manhattanLength(), 2);
}

// The popup's print button with no printer says so; with one it prints and
// says nothing.
TEST(QrPopup, PrintWithoutAPrinterSaysSo) {
  class NoPrinter final : public LabelPrintBackend {
   public:
    std::unique_ptr<QPrinter> OpenPrinter() override { return nullptr; }
  };
  ScriptedPrompts prompts;
  TipsFixture f;
  QWidget owner;
  owner.setGeometry(50, 60, 700, 500);
  owner.show();
  CLabelPrinter none(f.tips, std::make_unique<NoPrinter>(), f.dir / "printconfig.xml");
  PrintingWindows windows(none, f.tips, prompts);
  windows.ShowQrPopup(&owner, "P2P-A", false);
  ASSERT_NE(windows.QrPopup(), nullptr);
  qobject_cast<QPushButton*>(windows.QrPopup()->Control(CQR_EncodeDlg::kPrint))->click();
  QApplication::processEvents();
  EXPECT_EQ(prompts.shown, std::vector<QString>{Lang("STRING_PRINT_FAILED")});

  const auto pdf = MakeTempDir("qrprint") / "label.pdf";
  CLabelPrinter printer(f.tips, std::make_unique<PdfPrintBackend>(QString::fromStdString(pdf.string()), 300),
                        f.dir / "printconfig.xml");
  PrintingWindows printing(printer, f.tips, prompts);
  printing.ShowQrPopup(&owner, "P2P-B", false);
  qobject_cast<QPushButton*>(printing.QrPopup()->Control(CQR_EncodeDlg::kPrint))->click();
  QApplication::processEvents();
  EXPECT_EQ(prompts.shown.size(), 1u);
  EXPECT_TRUE(std::filesystem::exists(pdf));
}

}  // namespace
