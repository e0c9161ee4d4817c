#include "discovery/core/xls_report.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kelvara::discovery {
namespace {

void PutU32(std::string& out, std::uint32_t v) { out.append(reinterpret_cast<const char*>(&v), 4); }
void PutText(std::string& out, const std::string& t) {
  PutU32(out, static_cast<std::uint32_t>(t.size()));
  out += t;
}

class ReportReader {
 public:
  explicit ReportReader(const std::string& d) : d_(d) {}
  std::size_t Left() const { return d_.size() - at_; }
  bool Done() const { return at_ == d_.size(); }
  bool Take(void* p, std::size_t n) {
    if (n > Left()) return false;
    std::memcpy(p, d_.data() + at_, n);
    at_ += n;
    return true;
  }
  bool U32(std::uint32_t& v) { return Take(&v, 4); }
  // A text's place in the report, of at most `max` bytes.
  bool Place(std::size_t& at, std::uint32_t& size, std::size_t max) {
    if (!U32(size) || size > Left() || size > max) return false;
    at = at_;
    at_ += size;
    return true;
  }
  bool Text(std::string& t, std::size_t max) {
    std::size_t at = 0;
    std::uint32_t size = 0;
    if (!Place(at, size, max)) return false;
    t.assign(d_, at, size);
    return true;
  }

 private:
  const std::string& d_;
  std::size_t at_ = 0;
};

std::string Claims(std::uint64_t count, const char* what, std::uint64_t most) {
  return "it claims " + std::to_string(count) + " " + what + " (at most " + std::to_string(most) + ")";
}

std::string Deserialize(const std::string& d, const XlsReportRequest& request, XlsReadResult& r) {
  ReportReader in(d);
  unsigned char ok = 0;
  std::uint32_t count = 0;
  if (!in.Take(&ok, 1) || ok > 1) return "it does not start with its outcome";
  r.ok = ok == 1;
  if (!in.Text(r.error, kXlsMaxReportText)) return "its error text is cut or too long";
  r.error = ShowableReaderText(std::move(r.error));
  if (!r.ok && r.error.empty()) return "it failed without a reason";
  // Each count is checked before anything is made for it: against what is
  // left of the report (every entry takes at least 4 bytes, a cell 1) and
  // against what was asked for.
  if (!in.U32(count)) return "it is cut short";
  if (count > kXlsMaxSheetNames || count > in.Left() / 4) return Claims(count, "sheet names", std::min(kXlsMaxSheetNames, in.Left() / 4));
  r.sheetNames.resize(count);
  for (auto& name : r.sheetNames)
    if (!in.Text(name, kXlsMaxReportText)) return "a sheet name is cut or too long";
  if (!in.Text(r.sheet.name, kXlsMaxReportText)) return "the sheet's name is cut or too long";
  const bool cellsAsked = r.ok && !request.sheetName.empty();
  if (cellsAsked && r.sheet.name != request.sheetName) return "it read another sheet than the one asked";
  if (!cellsAsked && !r.sheet.name.empty()) return "it names a sheet that was not read";
  const std::uint64_t mostCells = cellsAsked ? static_cast<std::uint64_t>(request.maxRows) * kXlsMaxColumns : 0;
  if (!in.U32(count)) return "it is cut short";
  if (count > mostCells || count > in.Left() / 4) return Claims(count, "texts", std::min<std::uint64_t>(mostCells, in.Left() / 4));
  // The texts' places; a text is copied out when the first cell shows it.
  std::vector<std::pair<std::size_t, std::uint32_t>> places(count);
  for (auto& [at, size] : places)
    if (!in.Place(at, size, in.Left())) return "a text is cut";
  std::vector<std::shared_ptr<const std::string>> texts(count);
  const std::size_t mostRows = cellsAsked ? request.maxRows : 0;
  if (!in.U32(count)) return "it is cut short";
  if (count > mostRows || count > in.Left() / 4) return Claims(count, "rows", std::min(mostRows, in.Left() / 4));
  r.sheet.rows.resize(count);
  std::uint64_t textCells = 0;
  for (std::size_t rowIndex = 0; rowIndex < r.sheet.rows.size(); ++rowIndex) {
    auto& row = r.sheet.rows[rowIndex];
    std::uint32_t cols = 0;
    if (!in.U32(cols)) return "it is cut short";
    if (cols > kXlsMaxColumns || cols > in.Left())
      return Claims(cols, ("cells in row " + std::to_string(rowIndex + 1)).c_str(),
                    std::min(kXlsMaxColumns, in.Left()));
    row.resize(cols);
    for (auto& c : row) {
      unsigned char type = 0;
      if (!in.Take(&type, 1) || type > 2) return "a cell has no type";
      c.type = static_cast<XlsCell::Type>(type);
      if (c.type == XlsCell::Type::kNumber && !in.Take(&c.number, 8)) return "it is cut short";
      if (c.type == XlsCell::Type::kText) {
        std::uint32_t at = 0;
        if (!in.U32(at) || at >= texts.size()) return "a cell shows a text it does not have";
        if (!texts[at]) texts[at] = std::make_shared<const std::string>(d, places[at].first, places[at].second);
        c.shared = texts[at];
        ++textCells;
      }
    }
  }
  if (texts.size() > textCells) return Claims(texts.size(), "texts", textCells) + " for its text cells";
  if (!in.Done()) return "it runs on after its last row";
  return "";
}

}  // namespace

std::string ShowableReaderText(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return text;
}

std::string SerializeXlsReport(const XlsReadResult& r) {
  std::string out;
  out.push_back(r.ok ? 1 : 0);
  PutText(out, r.error);
  PutU32(out, static_cast<std::uint32_t>(r.sheetNames.size()));
  for (const auto& n : r.sheetNames) PutText(out, n);
  const XlsSheet none;
  const XlsSheet& sheet = r.ok ? r.sheet : none;
  PutText(out, sheet.name);
  std::unordered_map<const std::string*, std::uint32_t> index;
  std::vector<const std::string*> texts;
  for (const auto& row : sheet.rows)
    for (const auto& c : row)
      if (c.type == XlsCell::Type::kText && index.emplace(&c.text(), texts.size()).second) texts.push_back(&c.text());
  PutU32(out, static_cast<std::uint32_t>(texts.size()));
  for (const std::string* t : texts) PutText(out, *t);
  PutU32(out, static_cast<std::uint32_t>(sheet.rows.size()));
  for (const auto& row : sheet.rows) {
    PutU32(out, static_cast<std::uint32_t>(row.size()));
    for (const auto& c : row) {
      out.push_back(static_cast<char>(c.type));
      if (c.type == XlsCell::Type::kNumber) out.append(reinterpret_cast<const char*>(&c.number), 8);
      if (c.type == XlsCell::Type::kText) PutU32(out, index.at(&c.text()));
    }
  }
  return out;
}

std::string DeserializeXlsReport(const std::string& report, const XlsReportRequest& request, XlsReadResult& out) {
  std::string why;
  try {
    out = XlsReadResult{};
    why = Deserialize(report, request, out);
  } catch (const std::bad_alloc&) {
    why = "this program has not enough memory to hold it";
  }
  if (!why.empty()) out = XlsReadResult{};
  return why;
}

}  // namespace kelvara::discovery
