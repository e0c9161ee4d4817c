#pragma once
// The two label settings dialogs as plain values: what their controls show,
// how a save reads them back into the layouts, and where the tips preview
// sits and what it draws. The Qt dialogs only move texts between widgets and
// these functions.
#include <map>
#include <string>
#include <vector>

#include "printing/core/qr_label_layout.h"
#include "printing/core/tips_config.h"

namespace kelvara::printing {

// ---- QR label dialog (template 158)
namespace qr_layout_ids {
inline constexpr int kWidth = 1093;
inline constexpr int kHeight = 1077;
inline constexpr int kColumns = 1079;  // rowNum
inline constexpr int kRows = 1081;     // lineNum
inline constexpr int kDeviceLabels = 1082;
inline constexpr int kFontSize = 1085;
inline constexpr int kDivLeftRight = 1083;
inline constexpr int kDivTopBottom = 1086;
inline constexpr int kDivMid = 1084;
inline constexpr int kDivQrId = 1087;
inline constexpr int kSave = 1297;
}  // namespace qr_layout_ids

// Edit texts by control id.
using FormTexts = std::map<int, std::string>;

// The ten edits: integers as "%d", gaps as "%.1f".
FormTexts QrLayoutFormTexts(const QrLabelLayout& layout);

struct FormCheck {
  bool ok = true;
  int focusId = 0;  // the control to focus when !ok
  std::string messageKey;  // language key of the message when !ok
  std::string detail;      // why, for values in range of the parser but not of the layout
};

// Reads the ten edits into `layout`. Every edit must hold a number (integers
// for the counts and sizes); the first that does not, or a set of values the
// layout refuses, leaves `layout` untouched and names the control to focus.
FormCheck ApplyQrLayoutForm(const FormTexts& texts, QrLabelLayout& layout);

// ---- Tips layout dialog (template 143)
namespace tips_ids {
inline constexpr int kWidth = 2022;
inline constexpr int kHeight = 2023;
inline constexpr int kDiv = 2024;
inline constexpr int kNum = 2025;
inline constexpr int kQrX = 2027;
inline constexpr int kQrY = 2028;
inline constexpr int kQrSize = 2029;
inline constexpr int kSnX = 2030;
inline constexpr int kSnY = 2031;
inline constexpr int kSnFontSize = 2032;
inline constexpr int kSnFontWeight = 2036;
inline constexpr int kSnEnable = 1072;
inline constexpr int kMacEnable = 1078;
inline constexpr int kCustom1Enable = 2041;
inline constexpr int kCustom1X = 2037;
inline constexpr int kCustom1Y = 2038;
inline constexpr int kCustom1FontSize = 2039;
inline constexpr int kCustom1FontWeight = 2040;
inline constexpr int kCustom1Text = 2042;
inline constexpr int kCustom2Enable = 2047;
inline constexpr int kCustom2X = 2043;
inline constexpr int kCustom2Y = 2044;
inline constexpr int kCustom2FontSize = 2045;
inline constexpr int kCustom2FontWeight = 2046;
inline constexpr int kCustom2Text = 2048;
inline constexpr int kSave = 2033;
inline constexpr int kPrintSetup = 2034;
inline constexpr int kImport = 2049;
inline constexpr int kExport = 2050;
inline constexpr int kPreviewGroup = 1019;
}  // namespace tips_ids

// The weight lists: "100" to "1200" in steps of 100.
std::vector<std::string> FontWeightChoices();

// What the tips dialog's controls hold. A weight list without a selection
// is an empty text.
struct TipsForm {
  FormTexts edits;  // the decimal, integer and custom-text edits
  int snEnable = 0;
  int macEnable = 0;
  int custom1Enable = 0;
  int custom2Enable = 0;
  std::string snWeight;
  std::string custom1Weight;
  std::string custom2Weight;
};

TipsForm TipsFormFromConfig(const CTipsConfig& tips);

// The save button. The serial and MAC check boxes are stored at once; then
// the values are checked in the dialog's order (label size, count, gap, QR,
// serial, custom text 1, custom text 2) and, on the first failure, nothing
// more is stored and the result names the control to focus. An empty decimal
// edit, and one that does not hold a number, counts as invalid; an empty
// count as 1. A disabled custom text keeps its stored values except its flag;
// a custom weight below 100 becomes 400; a weight list without a selection
// reads 9. The caller saves the file when ok.
FormCheck ApplyTipsForm(const TipsForm& form, CTipsConfig& tips);

// ---- Tips preview
struct PreviewPlacement {
  int x = 0;  // in the dialog, centred in the group box
  int y = 0;
  int width = 0;
  int height = 0;
  double scale = 0;  // preview pixels per millimetre
};

// The preview rectangle for a group box at (x, y, width, height): the label's
// shape scaled to the group's height less 30 pixels, and, where the label is
// wider than that leaves room for, to the group's width less 30; never
// negative.
PreviewPlacement PlaceTipsPreview(int groupX, int groupY, int groupWidth, int groupHeight, double tipsWidthMm,
                                  double tipsHeightMm);

inline constexpr char kPreviewSerial[] = "EF000000002F985D";
inline constexpr char kPreviewMac[] = "00:11:22:33:44:55";

struct PreviewText {
  double left = 0;  // pixels in the preview; the text runs to the preview's right edge
  double top = 0;
  double height = 0;  // line and font height
  int weight = 400;
  std::string text;  // UTF-8
  bool operator==(const PreviewText&) const = default;
};

struct PreviewScene {
  double qrX = 0, qrY = 0, qrSide = 0;  // the black square standing for the QR code
  std::vector<PreviewText> texts;
};

// What the preview draws at `scale` pixels per millimetre: the QR square, the
// sample serial and MAC lines when enabled (the MAC line half a font size to
// the right and one font size below the serial line's place, shown or not),
// and each enabled custom text.
PreviewScene BuildTipsPreview(const CTipsConfig& tips, double scale);

// ---- Clipboard image of the QR popup
// The QR bitmap enlarged eight times as a one-bit device-independent bitmap:
// side n = 8 x bitmap side, rows padded to 32 bits.
struct QrClipboardLayout {
  int side = 0;
  int bytesPerRow = 0;
  int imageSize = 0;
};
QrClipboardLayout QrClipboardImageLayout(int qrBitmapSide);

}  // namespace kelvara::printing
