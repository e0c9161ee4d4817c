#include "printing/core/label_settings_form.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>

#include "common/language_table.h"

namespace kelvara::printing {
namespace {

constexpr const char* kInvalidValueKey = LangKey("TIPS_STR_MSG_1");

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

// A whole edit as a number in the C locale; nothing for an empty edit or one
// with anything else in it.
std::optional<double> ParseDecimal(const std::string& text) {
  std::string t = Trim(text);
  if (!t.empty() && t[0] == '+') t.erase(0, 1);
  if (t.empty()) return std::nullopt;
  double v = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v, std::chars_format::fixed);
  if (ec != std::errc() || end != t.data() + t.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<int> ParseInt(const std::string& text) {
  std::string t = Trim(text);
  if (!t.empty() && t[0] == '+') t.erase(0, 1);
  if (t.empty()) return std::nullopt;
  int v = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
  return v;
}

std::string FormatInt(int v) { return std::to_string(v); }

std::string FormatDecimal(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
}

const std::string& TextOf(const FormTexts& texts, int id) {
  static const std::string kEmpty;
  const auto it = texts.find(id);
  return it == texts.end() ? kEmpty : it->second;
}

FormCheck Refuse(int focusId, std::string detail = {}) {
  return FormCheck{false, focusId, kInvalidValueKey, std::move(detail)};
}

// One field: the control it comes from and how it goes into the record.
template <class Record>
struct FieldStep {
  int id;
  std::function<void(Record&)> apply;
};

// Applies the steps one by one to a copy of `record` and validates after each,
// so a set of values the record refuses names the first control that made it
// invalid. The record itself changes only when all are valid.
template <class Record>
FormCheck ApplyValidated(Record& record, const std::vector<FieldStep<Record>>& steps) {
  Record candidate = record;
  for (const auto& step : steps) {
    step.apply(candidate);
    if (std::string why = candidate.Validate(); !why.empty()) return Refuse(step.id, std::move(why));
  }
  record = std::move(candidate);
  return {};
}

}  // namespace

// ---- QR label dialog

FormTexts QrLayoutFormTexts(const QrLabelLayout& l) {
  using namespace qr_layout_ids;
  return {
      {kWidth, FormatInt(l.width)},
      {kHeight, FormatInt(l.height)},
      {kColumns, FormatInt(l.rowNum)},
      {kRows, FormatInt(l.lineNum)},
      {kDeviceLabels, FormatInt(l.deviceLabelNum)},
      {kFontSize, FormatInt(l.fontsize)},
      {kDivLeftRight, FormatDecimal(l.div_Left_right)},
      {kDivTopBottom, FormatDecimal(l.div_top_bottom)},
      {kDivMid, FormatDecimal(l.div_mid)},
      {kDivQrId, FormatDecimal(l.div_QR_ID)},
  };
}

FormCheck ApplyQrLayoutForm(const FormTexts& texts, QrLabelLayout& layout) {
  using namespace qr_layout_ids;
  std::vector<FieldStep<QrLabelLayout>> steps;
  const std::pair<int, int QrLabelLayout::*> ints[] = {
      {kWidth, &QrLabelLayout::width},          {kHeight, &QrLabelLayout::height},
      {kColumns, &QrLabelLayout::rowNum},       {kRows, &QrLabelLayout::lineNum},
      {kDeviceLabels, &QrLabelLayout::deviceLabelNum}, {kFontSize, &QrLabelLayout::fontsize},
  };
  for (const auto& [id, member] : ints) {
    const auto v = ParseInt(TextOf(texts, id));
    if (!v) return Refuse(id);
    steps.push_back({id, [member = member, v = *v](QrLabelLayout& l) { l.*member = v; }});
  }
  const std::pair<int, double QrLabelLayout::*> decimals[] = {
      {kDivLeftRight, &QrLabelLayout::div_Left_right},
      {kDivTopBottom, &QrLabelLayout::div_top_bottom},
      {kDivMid, &QrLabelLayout::div_mid},
      {kDivQrId, &QrLabelLayout::div_QR_ID},
  };
  for (const auto& [id, member] : decimals) {
    const auto v = ParseDecimal(TextOf(texts, id));
    if (!v) return Refuse(id);
    steps.push_back({id, [member = member, v = *v](QrLabelLayout& l) { l.*member = v; }});
  }
  return ApplyValidated(layout, steps);
}

// ---- Tips layout dialog

std::vector<std::string> FontWeightChoices() {
  std::vector<std::string> out;
  for (int w = 100; w <= 1200; w += 100) out.push_back(std::to_string(w));
  return out;
}

TipsForm TipsFormFromConfig(const CTipsConfig& t) {
  using namespace tips_ids;
  TipsForm f;
  f.edits = {
      {kWidth, FormatDecimal(t.Tips_w)},
      {kHeight, FormatDecimal(t.Tips_h)},
      {kDiv, FormatDecimal(t.Tips_div)},
      {kNum, FormatInt(t.Tips_num)},
      {kQrX, FormatDecimal(t.QR_x)},
      {kQrY, FormatDecimal(t.QR_y)},
      {kQrSize, FormatDecimal(t.QR_size)},
      {kSnX, FormatDecimal(t.Sn_x)},
      {kSnY, FormatDecimal(t.Sn_y)},
      {kSnFontSize, FormatDecimal(t.Sn_font_size)},
      {kCustom1X, FormatDecimal(t.Customize_1_x)},
      {kCustom1Y, FormatDecimal(t.Customize_1_y)},
      {kCustom1FontSize, FormatDecimal(t.Customize_1_font_size)},
      {kCustom1Text, t.Customize_1_text},
      {kCustom2X, FormatDecimal(t.Customize_2_x)},
      {kCustom2Y, FormatDecimal(t.Customize_2_y)},
      {kCustom2FontSize, FormatDecimal(t.Customize_2_font_size)},
      {kCustom2Text, t.Customize_2_text},
  };
  f.snEnable = t.m_bSnEnable;
  f.macEnable = t.m_bMacEnable;
  f.custom1Enable = t.Customize_1_enable;
  f.custom2Enable = t.Customize_2_enable;
  f.snWeight = FormatInt(t.Sn_font_w);
  f.custom1Weight = FormatInt(t.Customize_1_font_w);
  f.custom2Weight = FormatInt(t.Customize_2_font_w);
  return f;
}

namespace {

// A decimal edit: empty or not a number reads -1, which every check refuses.
double Decimal(const FormTexts& edits, int id) { return ParseDecimal(TextOf(edits, id)).value_or(-1.0); }

// A weight list: its selected text as a number, 9 without a selection.
int Weight(const std::string& selected) {
  if (Trim(selected).empty()) return 9;
  return ParseInt(selected).value_or(9);
}

struct CustomText {
  int enable;
  double x, y, fontSize;
  int weight;
  std::string text;
};

CustomText ReadCustom(const TipsForm& f, int enable, int xId, int yId, int sizeId, const std::string& weight,
                      int textId) {
  return {enable, Decimal(f.edits, xId), Decimal(f.edits, yId), Decimal(f.edits, sizeId), Weight(weight),
          TextOf(f.edits, textId)};
}

bool CustomInvalid(const CustomText& c) {
  return c.enable == 1 && (c.x < 0 || c.y < 0 || c.fontSize < 0 || c.text.empty());
}

}  // namespace

FormCheck ApplyTipsForm(const TipsForm& f, CTipsConfig& t) {
  using namespace tips_ids;
  t.m_bSnEnable = f.snEnable != 0 ? 1 : 0;
  t.m_bMacEnable = f.macEnable != 0 ? 1 : 0;

  const double w = Decimal(f.edits, kWidth);
  const double h = Decimal(f.edits, kHeight);
  const double div = Decimal(f.edits, kDiv);
  const std::string& numText = TextOf(f.edits, kNum);
  const int num = Trim(numText).empty() ? 1 : ParseInt(numText).value_or(0);
  const double qrX = Decimal(f.edits, kQrX), qrY = Decimal(f.edits, kQrY), qrSize = Decimal(f.edits, kQrSize);
  const double snX = Decimal(f.edits, kSnX), snY = Decimal(f.edits, kSnY);
  const double snSize = Decimal(f.edits, kSnFontSize);
  const int snWeight = Weight(f.snWeight);
  const CustomText c1 = ReadCustom(f, f.custom1Enable != 0 ? 1 : 0, kCustom1X, kCustom1Y, kCustom1FontSize,
                                   f.custom1Weight, kCustom1Text);
  const CustomText c2 = ReadCustom(f, f.custom2Enable != 0 ? 1 : 0, kCustom2X, kCustom2Y, kCustom2FontSize,
                                   f.custom2Weight, kCustom2Text);

  if (w <= 0 || h <= 0) return Refuse(kWidth);
  if (num <= 0) return Refuse(kNum);
  if (div < 0) return Refuse(kDiv);
  if (qrX < 0 || qrY < 0 || qrSize < 0) return Refuse(kQrX);
  if (snX < 0 || snY < 0 || snSize <= 0) return Refuse(kSnX);
  if (CustomInvalid(c1)) return Refuse(kCustom1X);
  if (CustomInvalid(c2)) return Refuse(kCustom2X);

  auto customSteps = [](const CustomText& c, int xId, int CTipsConfig::*en, double CTipsConfig::*x,
                        double CTipsConfig::*y, double CTipsConfig::*size, int CTipsConfig::*weight,
                        std::string CTipsConfig::*text) {
    std::vector<FieldStep<CTipsConfig>> steps;
    steps.push_back({xId, [=](CTipsConfig& cfg) { cfg.*en = c.enable; }});
    if (c.enable != 1) return steps;
    steps.push_back({xId, [=](CTipsConfig& cfg) {
                       cfg.*x = c.x;
                       cfg.*y = c.y;
                       cfg.*size = c.fontSize;
                       cfg.*weight = c.weight < 100 ? 400 : c.weight;
                       cfg.*text = c.text;
                     }});
    return steps;
  };
  std::vector<FieldStep<CTipsConfig>> steps = {
      {kWidth, [=](CTipsConfig& c) { c.Tips_w = w, c.Tips_h = h; }},
      {kNum, [=](CTipsConfig& c) { c.Tips_num = num; }},
      {kDiv, [=](CTipsConfig& c) { c.Tips_div = div; }},
      {kQrX, [=](CTipsConfig& c) { c.QR_x = qrX, c.QR_y = qrY, c.QR_size = qrSize; }},
      {kSnX, [=](CTipsConfig& c) { c.Sn_x = snX, c.Sn_y = snY, c.Sn_font_size = snSize, c.Sn_font_w = snWeight; }},
  };
  for (auto& s : customSteps(c1, kCustom1X, &CTipsConfig::Customize_1_enable, &CTipsConfig::Customize_1_x,
                             &CTipsConfig::Customize_1_y, &CTipsConfig::Customize_1_font_size,
                             &CTipsConfig::Customize_1_font_w, &CTipsConfig::Customize_1_text))
    steps.push_back(std::move(s));
  for (auto& s : customSteps(c2, kCustom2X, &CTipsConfig::Customize_2_enable, &CTipsConfig::Customize_2_x,
                             &CTipsConfig::Customize_2_y, &CTipsConfig::Customize_2_font_size,
                             &CTipsConfig::Customize_2_font_w, &CTipsConfig::Customize_2_text))
    steps.push_back(std::move(s));
  return ApplyValidated(t, steps);
}

// ---- Tips preview

PreviewPlacement PlaceTipsPreview(int groupX, int groupY, int groupWidth, int groupHeight, double tipsWidthMm,
                                  double tipsHeightMm) {
  PreviewPlacement p;
  const double roomH = std::max(0, groupHeight - 30);
  const double roomW = std::max(0, groupWidth - 30);
  if (tipsWidthMm > 0 && tipsHeightMm > 0) {
    p.scale = std::min(roomH / tipsHeightMm, roomW / tipsWidthMm);
    p.height = static_cast<int>(tipsHeightMm * p.scale + 1e-9);
    p.width = static_cast<int>(tipsWidthMm * p.scale + 1e-9);
  }
  p.x = groupX + (groupWidth - p.width) / 2;
  p.y = groupY + (groupHeight - p.height) / 2;
  return p;
}

PreviewScene BuildTipsPreview(const CTipsConfig& t, double s) {
  PreviewScene scene;
  scene.qrX = t.QR_x * s;
  scene.qrY = t.QR_y * s;
  scene.qrSide = t.QR_size * s;
  const double snHeight = t.Sn_font_size * s;
  if (t.m_bSnEnable == 1) scene.texts.push_back({t.Sn_x * s, t.Sn_y * s, snHeight, t.Sn_font_w, kPreviewSerial});
  if (t.m_bMacEnable == 1)
    scene.texts.push_back({t.Sn_x * s + snHeight / 2, t.Sn_y * s + snHeight, snHeight, t.Sn_font_w, kPreviewMac});
  if (t.Customize_1_enable == 1)
    scene.texts.push_back({t.Customize_1_x * s, t.Customize_1_y * s, t.Customize_1_font_size * s,
                           t.Customize_1_font_w, t.Customize_1_text});
  if (t.Customize_2_enable == 1)
    scene.texts.push_back({t.Customize_2_x * s, t.Customize_2_y * s, t.Customize_2_font_size * s,
                           t.Customize_2_font_w, t.Customize_2_text});
  return scene;
}

QrClipboardLayout QrClipboardImageLayout(int qrBitmapSide) {
  QrClipboardLayout l;
  l.side = 8 * std::max(0, qrBitmapSide);
  l.bytesPerRow = (l.side + 31) / 32 * 4;
  l.imageSize = l.bytesPerRow * l.side;
  return l;
}

}  // namespace kelvara::printing
