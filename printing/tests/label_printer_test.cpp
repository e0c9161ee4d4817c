// Labels printed to PDF, rendered with pdftoppm, measured and decoded with
// zbarimg.
#include <gtest/gtest.h>

#include <QPrinter>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "common/language_table.h"
#include "common/ui/user_prompts.h"
#include "kelvara_test/test_env.h"
#include "layout_test_support.h"
#include "printing/core/label_geometry.h"
#include "printing/qt/device_label_button.h"
#include "printing/qt/label_printer.h"
#include "qr_test_support.h"

namespace {

using namespace kelvara::printing;
using kelvara::test::MakeTempDir;

constexpr int kDpi = 300;

struct Gray {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> pixels;
  int At(int x, int y) const { return pixels[std::size_t(y) * width + x]; }
};

// Renders page 1 of the PDF at kDpi as a grey map and reads it back.
std::optional<Gray> Render(const std::filesystem::path& pdf) {
  const auto base = pdf.parent_path() / "page";
  const std::string cmd = "pdftoppm -r " + std::to_string(kDpi) + " -gray -singlefile '" + pdf.string() + "' '" +
                          base.string() + "' 2>/dev/null";
  if (std::system(cmd.c_str()) != 0) return std::nullopt;
  std::ifstream in(base.string() + ".pgm", std::ios::binary);
  std::string magic;
  int maxValue = 0;
  Gray g;
  in >> magic >> g.width >> g.height >> maxValue;
  in.get();
  if (magic != "P5" || maxValue != 255) return std::nullopt;
  g.pixels.resize(std::size_t(g.width) * g.height);
  in.read(reinterpret_cast<char*>(g.pixels.data()), std::streamsize(g.pixels.size()));
  return g;
}

// Bounding box of the pixels inside `area` for which pick(value) holds.
PixelRect BoundingBox(const Gray& g, const PixelRect& area, bool (*pick)(int)) {
  PixelRect box{g.width, g.height, -1, -1};
  for (int y = std::max(0, area.top); y < std::min(g.height, area.bottom); ++y)
    for (int x = std::max(0, area.left); x < std::min(g.width, area.right); ++x)
      if (pick(g.At(x, y))) {
        box.left = std::min(box.left, x);
        box.top = std::min(box.top, y);
        box.right = std::max(box.right, x + 1);
        box.bottom = std::max(box.bottom, y + 1);
      }
  return box;
}

void ExpectNear(const PixelRect& actual, const PixelRect& expected, int tolerance, const char* what) {
  EXPECT_NEAR(actual.left, expected.left, tolerance) << what;
  EXPECT_NEAR(actual.top, expected.top, tolerance) << what;
  EXPECT_NEAR(actual.right, expected.right, tolerance) << what;
  EXPECT_NEAR(actual.bottom, expected.bottom, tolerance) << what;
}

// zbarimg prints one line per symbol it finds.
std::vector<std::string> DecodeAll(const std::filesystem::path& pdf) {
  const auto image = pdf.parent_path() / "page.pgm";
  const std::string cmd = "zbarimg --nodbus --raw -q '" + image.string() + "' 2>/dev/null";
  std::vector<std::string> lines;
  FILE* pipe = popen(cmd.c_str(), "r");
  if (pipe == nullptr) return lines;
  char buffer[8192];
  while (fgets(buffer, sizeof(buffer), pipe) != nullptr) {
    std::string line(buffer);
    while (!line.empty() && line.back() == '\n') line.pop_back();
    lines.push_back(line);
  }
  pclose(pipe);
  std::sort(lines.begin(), lines.end());
  return lines;
}

class NoPrinter final : public LabelPrintBackend {
 public:
  std::unique_ptr<QPrinter> OpenPrinter() override {
    ++calls;
    return nullptr;
  }
  int calls = 0;
};

struct Fixture {
  std::filesystem::path dir = MakeTempDir("print");
  std::filesystem::path pdf = dir / "label.pdf";
  CTipsConfig tips{dir / "ZqTipsConfig.xml"};
  CLabelPrinter printer{tips, std::make_unique<PdfPrintBackend>(QString::fromStdString(pdf.string()), kDpi),
                        dir / "printconfig.xml"};
};

TEST(LabelPrinter, QrLabelPairGeometryAndCodes) {
  Fixture f;
  const QString p2p = QStringLiteral("ZQ0123456789ABCDEF");
  ASSERT_EQ(f.printer.PrintQrLabel(p2p, QStringLiteral("EF000000002F985D")), 1);
  auto page = Render(f.pdf);
  ASSERT_TRUE(page.has_value());
  const auto expected = PlaceQrLabelPair(f.printer, PageScale(kDpi, kDpi));
  for (const auto& label : expected) {
    // The label: light grey, exactly its rectangle. Measured beside the QR
    // code, away from the text lines (which reach below the label with the
    // default layout) and their grey anti-aliasing.
    auto isGrey = [](int v) { return v >= 212 && v <= 232; };
    auto across = BoundingBox(*page, {label.label.left - 5, 5, label.label.right + 5, 6}, isGrey);
    auto down = BoundingBox(*page, {label.label.left + 2, 0, label.label.left + 3, label.label.bottom + 40}, isGrey);
    ExpectNear({across.left, down.top, across.right, down.bottom}, label.label, 1, "label rectangle");
    // The QR square: the only white inside the label (its quiet border).
    auto qr = BoundingBox(*page, {label.label.left, 0, label.label.right, label.qr.bottom + 3},
                          [](int v) { return v >= 250; });
    ExpectNear(qr, label.qr, 1, "QR square");
    // The text lies in its two lines.
    auto text = BoundingBox(*page, {label.label.left, label.qr.bottom + 1, label.label.right, label.label.bottom},
                            [](int v) { return v < 100; });
    EXPECT_GE(text.top, label.line1.top);
    EXPECT_LE(text.bottom, label.line2.bottom + 1);
  }
  // Nothing outside the two labels.
  auto ink = BoundingBox(*page, {0, 0, page->width, page->height}, [](int v) { return v < 250; });
  EXPECT_LE(ink.right, expected[1].label.right + 1);
  EXPECT_LE(ink.bottom, expected[1].line2.bottom + 3);
  EXPECT_EQ(DecodeAll(f.pdf), (std::vector<std::string>{p2p.toStdString(), p2p.toStdString()}));
}

TEST(LabelPrinter, DeviceLabelRow) {
  Fixture f;
  f.tips.Tips_num = 2;
  f.tips.Tips_w = 40;
  f.tips.QR_x = 5;
  f.tips.QR_size = 18;  // ends at 24 mm, above the serial line at 26 mm
  f.tips.m_bMacEnable = 1;
  const QString qrText = FallbackQrText(QStringLiteral("EF000000002F985D"), QStringLiteral("00:11:22:33:44:55"));
  ASSERT_EQ(f.printer.PrintDeviceLabel(qrText, QStringLiteral("EF000000002F985D"), QStringLiteral("00:11:22:33:44:55")),
            1);
  auto page = Render(f.pdf);
  ASSERT_TRUE(page.has_value());
  const auto row = PlaceDeviceLabels(f.tips, PageScale(kDpi, kDpi), "", "");
  ASSERT_EQ(row.size(), 2u);
  const int modules = f.printer.QrBitmapSide();
  for (const auto& label : row) {
    // Dark modules start two modules inside the QR square (its white border).
    const double module = double(label.qr.Width()) / modules;
    const int inset = int(2 * module);
    auto dark = BoundingBox(*page, label.qr, [](int v) { return v < 128; });
    ExpectNear(dark, {label.qr.left + inset, label.qr.top + inset, label.qr.right - inset, label.qr.bottom - inset}, 2,
               "QR modules");
    // Serial and MAC lines: each starts at its left edge (the MAC line
    // indented) and is centred on its rectangle.
    ASSERT_EQ(label.texts.size(), 2u);
    for (const auto& t : label.texts) {
      const int middle = (t.rect.top + t.rect.bottom) / 2;
      auto ink = BoundingBox(*page, {label.label.left, middle - 2, t.rect.right, middle + 3},
                             [](int v) { return v < 128; });
      // The first glyph's left side bearing is a few pixels.
      EXPECT_GE(ink.left, t.rect.left);
      EXPECT_LE(ink.left, t.rect.left + t.fontHeight / 8);
      auto column = BoundingBox(*page, {t.rect.left, t.rect.top - 10, t.rect.right, t.rect.bottom + 10},
                                [](int v) { return v < 128; });
      EXPECT_NEAR((column.top + column.bottom) / 2, middle, t.rect.Height() / 4);
    }
  }
  EXPECT_EQ(DecodeAll(f.pdf),
            (std::vector<std::string>{qrText.toStdString(), qrText.toStdString()}));
}

TEST(LabelPrinter, NothingPrintedWithoutTextsOrPrinter) {
  Fixture f;
  EXPECT_EQ(f.printer.PrintQrLabel(QString(), QStringLiteral("x")), 0);
  EXPECT_EQ(f.printer.PrintQrLabel(QStringLiteral("x"), QString()), 0);
  EXPECT_EQ(f.printer.PrintDeviceLabel(QString(), QStringLiteral("SN"), QString()), 0);
  EXPECT_EQ(f.printer.PrintDeviceLabel(QStringLiteral("id"), QString(), QString()), 0);  // serial line enabled
  f.tips.m_bMacEnable = 1;
  EXPECT_EQ(f.printer.PrintDeviceLabel(QStringLiteral("id"), QStringLiteral("SN"), QString()), 0);
  EXPECT_FALSE(std::filesystem::exists(f.pdf));

  auto backend = std::make_unique<NoPrinter>();
  NoPrinter* noPrinter = backend.get();
  CLabelPrinter printer(f.tips, std::move(backend), f.dir / "printconfig.xml");
  EXPECT_EQ(printer.PrintDeviceLabel(QStringLiteral("id"), QStringLiteral("SN"), QStringLiteral("MAC")), 0);
  EXPECT_EQ(printer.PrintQrLabel(QStringLiteral("id"), QStringLiteral("SN")), 0);
  EXPECT_EQ(noPrinter->calls, 2);
}

TEST(LabelPrinter, FailedEncodeNeverPrintsThePreviousCode) {
  Fixture f;
  f.printer.MakeQrBitmap(QStringLiteral("FIRST-DEVICE"));
  ASSERT_TRUE(f.printer.QrOk());
  const QString tooLong(3000, QChar('x'));
  EXPECT_EQ(f.printer.PrintDeviceLabel(tooLong, QStringLiteral("SN"), QString()), 0);
  EXPECT_FALSE(f.printer.QrOk());
  EXPECT_TRUE(f.printer.QrBitmap().isNull());
  EXPECT_EQ(f.printer.PrintQrLabel(tooLong, QStringLiteral("SN")), 0);
  EXPECT_FALSE(std::filesystem::exists(f.pdf));
}

TEST(LabelPrinter, FailedDocumentIsNotReportedAsPrinted) {
  Fixture f;
  CLabelPrinter printer(f.tips, std::make_unique<PdfPrintBackend>(QStringLiteral("/nonexistent/folder/label.pdf"), kDpi),
                        f.dir / "printconfig.xml");
  EXPECT_EQ(printer.PrintDeviceLabel(QStringLiteral("id"), QStringLiteral("SN"), QString()), 0);
  EXPECT_EQ(printer.PrintQrLabel(QStringLiteral("id"), QStringLiteral("SN")), 0);
}

TEST(LabelPrinter, QrBitmapHasATwoPixelBorder) {
  Fixture f;
  f.printer.MakeQrBitmap(QStringLiteral("0123456789"));  // version 1
  ASSERT_TRUE(f.printer.QrOk());
  EXPECT_EQ(f.printer.QrBitmapSide(), 25);
  const QImage& img = f.printer.QrBitmap();
  EXPECT_EQ(img.size(), QSize(25, 25));
  EXPECT_EQ(img.pixelIndex(1, 1), 0);
  EXPECT_EQ(img.pixelIndex(2, 2), 1);    // finder corner
  EXPECT_EQ(img.pixelIndex(22, 22), 0);  // lower right data area edge... border at 23, 24
  EXPECT_EQ(img.pixelIndex(23, 23), 0);
  // An empty text keeps the bitmap.
  f.printer.MakeQrBitmap(QString());
  EXPECT_TRUE(f.printer.QrOk());
}

// Answers message boxes from a script and records them.
class ScriptedPrompts final : public kelvara::ui::UserPrompts {
 public:
  int answer = kelvara::ui::kAnswerYes;
  std::vector<std::pair<QString, QString>> shown;  // text, caption
  int MessageBox(QWidget*, const QString& text, const QString& caption, kelvara::ui::PromptIcon,
                 kelvara::ui::PromptButtons buttons) override {
    shown.emplace_back(text, caption);
    return buttons == kelvara::ui::PromptButtons::kYesNo ? answer : kelvara::ui::kAnswerOk;
  }
  QString OpenFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  QString SaveFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  QString FolderName(QWidget*, const QString&, const QString&) override { return {}; }
};

QString Lang(const char* key) { return QString::fromStdString(kelvara::LangText(key)); }

TEST(DeviceLabelButton, Flow) {
  Fixture f;
  ScriptedPrompts prompts;
  // No selection.
  EXPECT_EQ(OnPrintDeviceLabel(nullptr, nullptr, f.printer, prompts), 0);
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].first, Lang("STRING_CHOOSE_DEVICE"));
  // No P2P id, answered No: nothing printed, no further message.
  DeviceLabelFields row{QString(), QStringLiteral("OEM123"), QStringLiteral("EF000000002F985D"),
                        QStringLiteral("00:11:22:33:44:55")};
  prompts.answer = kelvara::ui::kAnswerNo;
  prompts.shown.clear();
  EXPECT_EQ(OnPrintDeviceLabel(nullptr, &row, f.printer, prompts), 0);
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].first, Lang("STRING_P2PID_EMPTY"));
  EXPECT_EQ(prompts.shown[0].second, Lang("TEXT21"));
  EXPECT_FALSE(std::filesystem::exists(f.pdf));
  // Answered Yes: the fallback text with the OEM serial, then "printed".
  prompts.answer = kelvara::ui::kAnswerYes;
  prompts.shown.clear();
  EXPECT_EQ(OnPrintDeviceLabel(nullptr, &row, f.printer, prompts), 1);
  ASSERT_EQ(prompts.shown.size(), 2u);
  EXPECT_EQ(prompts.shown[1].first, Lang("STRING_PRINT_OK"));
  ASSERT_TRUE(Render(f.pdf).has_value());
  EXPECT_EQ(DecodeAll(f.pdf), (std::vector<std::string>{"SN:OEM123;MAC:00:11:22:33:44:55"}));
  // A failed print says so.
  auto noPrinter = CLabelPrinter(f.tips, std::make_unique<NoPrinter>(), f.dir / "printconfig.xml");
  row.p2pId = QStringLiteral("ZQ1");
  prompts.shown.clear();
  EXPECT_EQ(OnPrintDeviceLabel(nullptr, &row, noPrinter, prompts), 0);
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].first, Lang("STRING_PRINT_FAILED"));
}

}  // namespace
