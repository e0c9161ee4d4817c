#include "printing/core/qr_label_layout.h"

#include <tinyxml.h>

#include "common/paths.h"
#include "printing/core/layout_xml.h"

namespace kelvara::printing {
namespace {

bool CountOk(int v) { return v >= 1 && v <= kMaxLabelCount; }
bool LengthOk(int v) { return v >= 1 && v <= kMaxLabelMm; }
// The QR code ends 4 mm above the label's bottom edge, so a label needs more.
bool HeightOk(int v) { return v >= 5 && v <= kMaxLabelMm; }
bool GapOk(double v) { return v >= 0.0 && v <= kMaxLabelMm; }

// An integer attribute: 0 when missing or not a number (the file's own rule),
// then 0 again when out of range, so the default replaces it.
int ReadInt(const TiXmlElement* e, const char* name, bool (*valid)(int)) {
  auto v = ParseNumber(e->Attribute(name));
  if (!v || *v < -2e9 || *v > 2e9) return 0;
  int i = int(*v);
  return valid(i) ? i : 0;
}

double ReadGap(const TiXmlElement* e, const char* name) {
  auto v = ParseNumber(e->Attribute(name));
  return (v && GapOk(*v)) ? *v : 0.0;
}

}  // namespace

std::filesystem::path QrLabelLayoutPath() { return paths::DataDir() / "Data" / "printconfig.xml"; }

QrLabelLayout::QrLabelLayout(std::filesystem::path file) : filePath(std::move(file)) {
  rowNum = width = height = deviceLabelNum = lineNum = fontsize = 0;
  div_Left_right = div_top_bottom = div_mid = div_QR_ID = 0.0;
  LoadLayout();
  ApplyDefaults();
}

void QrLabelLayout::ApplyDefaults() {
  if (rowNum == 0) rowNum = 2;
  if (width == 0) width = 30;
  if (height == 0) height = 15;
  if (deviceLabelNum == 0) deviceLabelNum = 2;
  if (lineNum == 0) lineNum = 1;
  if (fontsize == 0) fontsize = 32;
  if (div_Left_right == 0.0) div_Left_right = 1.0;
  if (div_top_bottom == 0.0) div_top_bottom = 0.5;
  if (div_mid == 0.0) div_mid = 2.5;
  if (div_QR_ID == 0.0) div_QR_ID = 3.0;
}

int QrLabelLayout::LoadLayout() {
  TiXmlDocument doc;
  if (!LoadLayoutDocument(filePath, doc, &lastError)) return -1;
  lastError.clear();
  for (const TiXmlElement* e = doc.RootElement()->FirstChildElement("Config"); e != nullptr;
       e = e->NextSiblingElement("Config")) {
    width = ReadInt(e, "width", LengthOk);
    height = ReadInt(e, "height", HeightOk);
    rowNum = ReadInt(e, "rowNum", CountOk);
    lineNum = ReadInt(e, "lineNum", CountOk);
    deviceLabelNum = ReadInt(e, "deviceLabelNum", CountOk);
    fontsize = ReadInt(e, "fontsize", [](int v) { return v >= 1 && v <= kMaxFontUnits; });
    div_Left_right = ReadGap(e, "div_Left_right");
    div_top_bottom = ReadGap(e, "div_top_bottom");
    div_mid = ReadGap(e, "div_mid");
    div_QR_ID = ReadGap(e, "div_QR_ID");
  }
  return 0;
}

std::string QrLabelLayout::Validate() const {
  if (!LengthOk(width)) return "label width must be 1 to 1000 mm";
  if (!HeightOk(height)) return "label height must be 5 to 1000 mm";
  if (!CountOk(rowNum) || !CountOk(lineNum) || !CountOk(deviceLabelNum))
    return "label counts must be 1 to " + std::to_string(kMaxLabelCount);
  if (fontsize < 1 || fontsize > kMaxFontUnits) return "font size must be 1 to " + std::to_string(kMaxFontUnits);
  for (double gap : {div_Left_right, div_top_bottom, div_mid, div_QR_ID})
    if (!GapOk(gap)) return "margins and gaps must be 0 to 1000 mm";
  return {};
}

namespace {

TiXmlDocument EmptyLayoutDocument() {
  TiXmlDocument doc;
  doc.LinkEndChild(new TiXmlDeclaration("1.0", "utf-8", ""));
  doc.LinkEndChild(new TiXmlElement("ConfigList"));
  return doc;
}

}  // namespace

bool QrLabelLayout::CreateDefaultLayoutFile() {
  return SaveLayoutDocument(EmptyLayoutDocument(), filePath, &lastError);
}

int QrLabelLayout::SaveLayout() {
  if (std::string why = Validate(); !why.empty()) {
    lastError = filePath.string() + ": not saved: " + why;
    return -1;
  }
  TiXmlDocument doc = EmptyLayoutDocument();
  auto* config = new TiXmlElement("Config");
  config->SetAttribute("width", width);
  config->SetAttribute("height", height);
  config->SetAttribute("rowNum", rowNum);
  config->SetAttribute("lineNum", lineNum);
  config->SetAttribute("deviceLabelNum", deviceLabelNum);
  config->SetAttribute("fontsize", fontsize);
  config->SetAttribute("div_Left_right", FormatFixed(div_Left_right, 1).c_str());
  config->SetAttribute("div_top_bottom", FormatFixed(div_top_bottom, 1).c_str());
  config->SetAttribute("div_mid", FormatFixed(div_mid, 1).c_str());
  config->SetAttribute("div_QR_ID", FormatFixed(div_QR_ID, 1).c_str());
  doc.RootElement()->LinkEndChild(config);
  if (!SaveLayoutDocument(doc, filePath, &lastError)) return -1;
  lastError.clear();
  return 0;
}

}  // namespace kelvara::printing
