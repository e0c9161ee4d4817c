#include "printing/core/tips_config.h"

#include <tinyxml.h>

#include <functional>
#include <system_error>
#include <vector>

#include "common/paths.h"
#include "printing/core/gbk_text.h"
#include "printing/core/layout_xml.h"
#include "printing/core/qr_label_layout.h"

namespace kelvara::printing {
namespace {

// Valid ranges of the numeric fields.
enum class Range { kCount, kPositiveLength, kPosition, kWeight, kFlag };

bool InRange(Range r, double v) {
  switch (r) {
    case Range::kCount: return v >= 1 && v <= kMaxLabelCount;
    case Range::kPositiveLength: return v > 0 && v <= kMaxLabelMm;
    case Range::kPosition: return v >= 0 && v <= kMaxLabelMm;
    // Every weight a layout can hold: the lists' 100 to 1200, and 9, which
    // the serial line's list without a selection stores. Drawing clamps
    // what the font takes.
    case Range::kWeight: return v >= 1 && v <= 1200;
    case Range::kFlag: return v == 0 || v == 1;
  }
  return false;
}

struct Field {
  const char* name;
  Range range;
  int* asInt;
  double* asDouble;
};

// The fields in file order: Tips_w, Tips_h, Tips_div before Tips_num.
std::vector<Field> Fields(CTipsConfig& c) {
  return {
      {"Tips_w", Range::kPositiveLength, nullptr, &c.Tips_w},
      {"Tips_h", Range::kPositiveLength, nullptr, &c.Tips_h},
      {"Tips_div", Range::kPosition, nullptr, &c.Tips_div},
      {"Tips_num", Range::kCount, &c.Tips_num, nullptr},
      {"QR_x", Range::kPosition, nullptr, &c.QR_x},
      {"QR_y", Range::kPosition, nullptr, &c.QR_y},
      {"QR_size", Range::kPosition, nullptr, &c.QR_size},
      {"Sn_x", Range::kPosition, nullptr, &c.Sn_x},
      {"Sn_y", Range::kPosition, nullptr, &c.Sn_y},
      {"Sn_font_size", Range::kPositiveLength, nullptr, &c.Sn_font_size},
      {"Sn_font_w", Range::kWeight, &c.Sn_font_w, nullptr},
      {"m_bSnEnable", Range::kFlag, &c.m_bSnEnable, nullptr},
      {"m_bMacEnable", Range::kFlag, &c.m_bMacEnable, nullptr},
      {"Customize_1_enable", Range::kFlag, &c.Customize_1_enable, nullptr},
      {"Customize_1_x", Range::kPosition, nullptr, &c.Customize_1_x},
      {"Customize_1_y", Range::kPosition, nullptr, &c.Customize_1_y},
      {"Customize_1_font_size", Range::kPositiveLength, nullptr, &c.Customize_1_font_size},
      {"Customize_1_font_w", Range::kWeight, &c.Customize_1_font_w, nullptr},
      {"Customize_2_enable", Range::kFlag, &c.Customize_2_enable, nullptr},
      {"Customize_2_x", Range::kPosition, nullptr, &c.Customize_2_x},
      {"Customize_2_y", Range::kPosition, nullptr, &c.Customize_2_y},
      {"Customize_2_font_size", Range::kPositiveLength, nullptr, &c.Customize_2_font_size},
      {"Customize_2_font_w", Range::kWeight, &c.Customize_2_font_w, nullptr},
  };
}

TiXmlDocument DocumentWithRoot(TiXmlElement* root) {
  TiXmlDocument doc;
  doc.LinkEndChild(new TiXmlDeclaration("1.0", "gb2312", ""));
  doc.LinkEndChild(root);
  return doc;
}

}  // namespace

std::filesystem::path TipsConfigPath() { return paths::DataDir() / "Data" / "ZqTipsConfig.xml"; }

CTipsConfig::CTipsConfig(std::filesystem::path file) : filePath(std::move(file)) {
  std::error_code ec;
  std::filesystem::create_directories(filePath.parent_path(), ec);
  LoadOrCreate();
}

void CTipsConfig::LoadOrCreate() {
  std::error_code ec;
  if (std::filesystem::exists(filePath, ec)) {
    LoadFrom(filePath);
  } else {
    CreateEmptyFile(filePath);
  }
}

bool CTipsConfig::CreateEmptyFile(const std::filesystem::path& path) {
  return SaveLayoutDocument(DocumentWithRoot(new TiXmlElement("TipsConfig")), path, &lastError);
}

bool CTipsConfig::Save() {
  std::error_code ec;
  if (!std::filesystem::exists(filePath, ec) && !CreateEmptyFile(filePath)) return false;
  return SaveTo(filePath);
}

std::string CTipsConfig::Validate() const {
  for (const Field& f : Fields(const_cast<CTipsConfig&>(*this))) {
    double v = f.asInt ? *f.asInt : *f.asDouble;
    if (!InRange(f.range, v)) return std::string(f.name) + " is out of range";
  }
  for (const std::string* t : {&Customize_1_text, &Customize_2_text}) {
    if (t->size() > kMaxCustomTextBytes) return "custom text longer than " + std::to_string(kMaxCustomTextBytes) + " bytes";
  }
  return {};
}

bool CTipsConfig::SaveTo(const std::filesystem::path& path) {
  if (path.empty()) return false;
  if (std::string why = Validate(); !why.empty()) {
    lastError = path.string() + ": not saved: " + why;
    return false;
  }
  auto text1 = LayoutTextToGbk(Customize_1_text);
  auto text2 = LayoutTextToGbk(Customize_2_text);
  if (!text1 || !text2) {
    lastError = path.string() + ": not saved: a custom text has characters outside GB2312/GBK";
    return false;
  }
  auto* root = new TiXmlElement("TipsConfig");
  for (const Field& f : Fields(*this)) {
    if (f.asInt) {
      root->SetAttribute(f.name, *f.asInt);
    } else {
      root->SetAttribute(f.name, FormatFixed(*f.asDouble, 6).c_str());
    }
    // The texts follow their font weights.
    if (std::string_view(f.name) == "Customize_1_font_w") root->SetAttribute("Customize_1_text", text1->c_str());
    if (std::string_view(f.name) == "Customize_2_font_w") root->SetAttribute("Customize_2_text", text2->c_str());
  }
  if (!SaveLayoutDocument(DocumentWithRoot(root), path, &lastError)) return false;
  lastError.clear();
  return true;
}

int CTipsConfig::LoadFrom(const std::filesystem::path& path) {
  TiXmlDocument doc;
  if (!LoadLayoutDocument(path, doc, &lastError)) return -1;
  lastError.clear();
  const TiXmlElement* root = doc.RootElement();
  std::string skipped;
  for (const Field& f : Fields(*this)) {
    const char* raw = root->Attribute(f.name);
    if (raw == nullptr) continue;
    auto v = ParseNumber(raw);
    if (!v || !InRange(f.range, *v) || (f.asInt && *v != double(int(*v)))) {
      skipped += skipped.empty() ? f.name : std::string(", ") + f.name;
      continue;
    }
    if (f.asInt) {
      *f.asInt = int(*v);
    } else {
      *f.asDouble = *v;
    }
  }
  for (auto [name, target] : {std::pair{"Customize_1_text", &Customize_1_text}, std::pair{"Customize_2_text", &Customize_2_text}}) {
    const char* raw = root->Attribute(name);
    if (raw == nullptr) continue;
    auto text = LayoutTextFromGbk(raw);
    if (!text || text->size() > kMaxCustomTextBytes) {
      skipped += skipped.empty() ? name : std::string(", ") + name;
      continue;
    }
    *target = *text;
  }
  if (!skipped.empty()) lastError = path.string() + ": values ignored: " + skipped;
  return 0;
}

}  // namespace kelvara::printing
