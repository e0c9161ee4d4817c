#include "discovery/core/xls_workbook.h"

#include <freexl.h>
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-output-memory.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-utils.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "common/atomic_file.h"
#include "common/text_convert.h"
#include "discovery/core/reader_sandbox.h"

namespace kelvara::discovery {
namespace {

// Record types.
constexpr std::uint16_t kBof = 0x0809, kEof = 0x000A, kCodepage = 0x0042, kWindow1 = 0x003D, kFont = 0x0031,
                        kXf = 0x00E0, kStyle = 0x0293, kBoundsheet = 0x0085, kSst = 0x00FC, kContinue = 0x003C,
                        kDimensions = 0x0200, kWindow2 = 0x023E, kLabelSst = 0x00FD, kNumber = 0x0203;
// Largest record body BIFF8 allows.
constexpr std::size_t kMaxRecordData = 8224;
// XF index of every cell: the first after the 15 style XFs.
constexpr std::uint16_t kCellXf = 15;

class Bytes {
 public:
  void U8(std::uint8_t v) { s_.push_back(static_cast<char>(v)); }
  void U16(std::uint16_t v) { U8(v & 0xFF), U8(v >> 8); }
  void U32(std::uint32_t v) { U16(v & 0xFFFF), U16(v >> 16); }
  void F64(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, 8);
    U32(static_cast<std::uint32_t>(bits)), U32(static_cast<std::uint32_t>(bits >> 32));
  }
  void Raw(const std::string& b) { s_ += b; }
  std::string& str() { return s_; }
  std::size_t size() const { return s_.size(); }

 private:
  std::string s_;
};

void Record(Bytes& out, std::uint16_t type, const std::string& body) {
  out.U16(type);
  out.U16(static_cast<std::uint16_t>(body.size()));
  out.Raw(body);
}

std::u16string Utf16(const std::string& utf8) { return Utf8ToCString(utf8); }

// A short string of a FONT or BOUNDSHEET record: 8-bit length, flags, UTF-16.
std::string ShortString(const std::u16string& s) {
  Bytes b;
  b.U8(static_cast<std::uint8_t>(s.size()));
  b.U8(0x01);
  for (char16_t c : s) b.U16(c);
  return b.str();
}

std::string FontRecordBody() {
  Bytes b;
  b.U16(200);     // 10 points
  b.U16(0);       // no attributes
  b.U16(0x7FFF);  // automatic colour
  b.U16(400);     // normal weight
  b.U16(0), b.U8(0), b.U8(0), b.U8(0), b.U8(0);
  b.Raw(ShortString(u"Arial"));
  return b.str();
}

std::string XfRecordBody(bool style) {
  Bytes b;
  b.U16(0);                        // font 0
  b.U16(0);                        // number format "General"
  b.U16(style ? 0xFFF5 : 0x0001);  // locked; style XF with no parent, or cell XF of style 0
  b.U8(0x20);                      // bottom alignment
  b.U8(0);
  b.U8(0);
  b.U8(style ? 0xF4 : 0);  // attributes a style XF leaves to cells
  b.U32(0), b.U32(0);      // no borders
  b.U16(0x20C0);           // pattern colours: automatic
  return b.str();
}

// The shared string table, split into CONTINUE records as BIFF8 wants:
// a string header never splits, and a string whose characters run on into
// a CONTINUE repeats its flags byte there.
void WriteSst(Bytes& out, const std::vector<std::u16string>& strings, std::uint32_t total) {
  std::vector<std::string> records(1);
  Bytes head;
  head.U32(total);
  head.U32(static_cast<std::uint32_t>(strings.size()));
  records[0] = head.str();
  for (const auto& s : strings) {
    // Header (length, flags) plus at least one character must fit.
    if (records.back().size() + 3 + (s.empty() ? 0 : 2) > kMaxRecordData) records.emplace_back();
    Bytes h;
    h.U16(static_cast<std::uint16_t>(s.size()));
    h.U8(0x01);
    records.back() += h.str();
    for (std::size_t i = 0; i < s.size(); ++i) {
      if (records.back().size() + 2 > kMaxRecordData) {
        records.emplace_back(1, '\x01');
      }
      records.back().push_back(static_cast<char>(s[i] & 0xFF));
      records.back().push_back(static_cast<char>(s[i] >> 8));
    }
  }
  for (std::size_t i = 0; i < records.size(); ++i) Record(out, i == 0 ? kSst : kContinue, records[i]);
}

std::string Bof(std::uint16_t kind) {
  Bytes b;
  b.U16(0x0600);  // BIFF8
  b.U16(kind);
  b.U16(0x0DBB), b.U16(0x07CC);  // build and year
  b.U32(0), b.U32(0x06);         // file history, lowest BIFF version
  return b.str();
}

std::once_flag gsfOnce;

// libgsf reports the damaged files it meets as critical warnings on stderr;
// they are answered by a refusal here, so they are not printed.
void InitGsf() {
  gsf_init();
  for (const char* domain : {"libgsf", "libgsf:msole"})
    g_log_set_handler(domain, static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING),
                      [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
}

}  // namespace

std::string BuildBiff8Workbook(const std::vector<XlsSheet>& sheets) {
  // Shared strings, each once.
  std::vector<std::u16string> strings;
  std::unordered_map<std::string, std::uint32_t> index;
  std::uint32_t total = 0;
  for (const auto& sheet : sheets)
    for (const auto& row : sheet.rows)
      for (const auto& cell : row) {
        if (cell.type != XlsCell::Type::kText || cell.text().empty()) continue;
        ++total;
        if (index.emplace(cell.text(), static_cast<std::uint32_t>(strings.size())).second) {
          std::u16string s = Utf16(cell.text());
          if (s.size() > 32767) s.resize(32767);  // a cell's limit
          strings.push_back(std::move(s));
        }
      }

  Bytes globals;
  Record(globals, kBof, Bof(0x0005));
  { Bytes b; b.U16(1200); Record(globals, kCodepage, b.str()); }  // UTF-16
  {
    Bytes b;
    b.U16(0), b.U16(0), b.U16(0x4000), b.U16(0x2000);
    b.U16(0x0038), b.U16(0), b.U16(0), b.U16(1), b.U16(0x0258);
    Record(globals, kWindow1, b.str());
  }
  for (int i = 0; i < 4; ++i) Record(globals, kFont, FontRecordBody());
  for (int i = 0; i < 15; ++i) Record(globals, kXf, XfRecordBody(true));
  Record(globals, kXf, XfRecordBody(false));
  { Bytes b; b.U16(0x8000), b.U8(0), b.U8(0xFF); Record(globals, kStyle, b.str()); }
  // BOUNDSHEET records point at the sheets' BOF: their offsets follow below.
  std::vector<std::size_t> offsetAt;
  for (const auto& sheet : sheets) {
    std::u16string name = Utf16(sheet.name);
    if (name.size() > 31) name.resize(31);
    offsetAt.push_back(globals.size() + 4);
    Bytes b;
    b.U32(0);
    b.U16(0);  // visible worksheet
    b.Raw(ShortString(name));
    Record(globals, kBoundsheet, b.str());
  }
  WriteSst(globals, strings, total);
  Record(globals, kEof, {});

  std::string stream = std::move(globals.str());
  for (std::size_t s = 0; s < sheets.size(); ++s) {
    const std::uint32_t at = static_cast<std::uint32_t>(stream.size());
    for (int i = 0; i < 4; ++i) stream[offsetAt[s] + i] = static_cast<char>((at >> (8 * i)) & 0xFF);
    const XlsSheet& sheet = sheets[s];
    const std::size_t rows = std::min(sheet.rows.size(), kXlsMaxRows);
    std::size_t cols = 0;
    for (std::size_t r = 0; r < rows; ++r) cols = std::max(cols, sheet.rows[r].size());
    cols = std::min(cols, kXlsMaxColumns);
    Bytes out;
    Record(out, kBof, Bof(0x0010));
    {
      Bytes b;
      b.U32(0), b.U32(static_cast<std::uint32_t>(rows)), b.U16(0), b.U16(static_cast<std::uint16_t>(cols)), b.U16(0);
      Record(out, kDimensions, b.str());
    }
    {
      Bytes b;
      b.U16(0x06B6), b.U16(0), b.U16(0), b.U32(0x40), b.U16(0), b.U16(0), b.U32(0);
      Record(out, kWindow2, b.str());
    }
    for (std::size_t r = 0; r < rows; ++r) {
      const auto& row = sheet.rows[r];
      for (std::size_t c = 0; c < std::min(row.size(), cols); ++c) {
        const XlsCell& cell = row[c];
        // An empty text is no cell at all, as spreadsheet programs store it.
        if (cell.type == XlsCell::Type::kEmpty || (cell.type == XlsCell::Type::kText && cell.text().empty())) continue;
        Bytes b;
        b.U16(static_cast<std::uint16_t>(r)), b.U16(static_cast<std::uint16_t>(c)), b.U16(kCellXf);
        if (cell.type == XlsCell::Type::kText) {
          b.U32(index.at(cell.text()));
          Record(out, kLabelSst, b.str());
        } else {
          b.F64(cell.number);
          Record(out, kNumber, b.str());
        }
      }
    }
    Record(out, kEof, {});
    stream += out.str();
  }
  return stream;
}

namespace {

// An OLE2 compound file holding `workbook` as its "Workbook" stream.
std::string WrapWorkbookStream(const std::string& workbook, std::string* error) {
  std::call_once(gsfOnce, InitGsf);
  GsfOutput* memory = gsf_output_memory_new();
  GsfOutfile* ole = gsf_outfile_msole_new(memory);
  std::string file;
  bool ok = ole != nullptr;
  if (ok) {
    GsfOutput* stream = gsf_outfile_new_child(ole, "Workbook", FALSE);
    ok = stream != nullptr &&
         gsf_output_write(stream, workbook.size(), reinterpret_cast<const guint8*>(workbook.data())) &&
         gsf_output_close(stream);
    if (stream) g_object_unref(stream);
    ok = gsf_output_close(GSF_OUTPUT(ole)) && ok;
    g_object_unref(ole);
  }
  if (ok) {
    const guint8* bytes = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(memory));
    const gsf_off_t size = gsf_output_size(memory);
    if (bytes != nullptr && size > 0) file.assign(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size));
    ok = !file.empty();
  }
  g_object_unref(memory);
  if (!ok && error) *error = "the OLE2 container could not be written";
  return ok ? file : std::string();
}

}  // namespace

std::string BuildXlsFile(const std::vector<XlsSheet>& sheets, std::string* error) {
  return WrapWorkbookStream(BuildBiff8Workbook(sheets), error);
}

bool WriteXlsFile(const std::filesystem::path& path, const std::vector<XlsSheet>& sheets, std::string* error) {
  const std::string file = BuildXlsFile(sheets, error);
  if (file.empty()) return false;
  return WriteFileAtomically(path, file, error);
}

namespace {

// UTF-16LE bytes to UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16leToUtf8(std::string_view bytes) {
  std::string out;
  const auto unit = [&](std::size_t i) {
    return static_cast<char32_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                 static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  };
  const std::size_t units = bytes.size() / 2;
  for (std::size_t i = 0; i < units; ++i) {
    char32_t c = unit(i);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units && unit(i + 1) >= 0xDC00 && unit(i + 1) < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(++i) - 0xDC00);
    else if (c >= 0xD800 && c < 0xE000)
      c = 0xFFFD;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string SheetRowsRefusal(const std::string& sheet, std::uint64_t rows, std::size_t maxRows) {
  return "the sheet \"" + sheet + "\" has " + std::to_string(rows) + " rows; at most " + std::to_string(maxRows) +
         " are read";
}

}  // namespace

std::string CheckWorkbookStream(const std::string& bytes, const std::string& sheetName, std::size_t maxRows) {
  auto u8 = [&](std::size_t at) { return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])); };
  auto u16 = [&](std::size_t at) { return u8(at) | u8(at + 1) << 8u; };
  // Sheet names by the stream offset of their BOF record, from BOUNDSHEET;
  // a DIMENSIONS record belongs to the sheet whose BOF came last before it.
  std::unordered_map<std::uint32_t, std::string> sheets;
  const std::string* sheet = nullptr;
  std::uint64_t cells = 0;
  struct {
    std::uint64_t cells;
    std::uint32_t rows, cols;
    std::string name;
  } largest{};
  for (std::size_t at = 0; at + 4 <= bytes.size();) {
    const std::size_t record = at;
    const unsigned type = u16(at), length = u16(at + 2);
    at += 4;
    if (length > bytes.size() - at) break;
    if (type == kBoundsheet && length >= 8) {
      const std::uint32_t offset = u8(at) | u8(at + 1) << 8u | u8(at + 2) << 16u | u8(at + 3) << 24u;
      const std::size_t chars = u8(at + 6), wide = u8(at + 7) & 1u;
      const std::string_view name(bytes.data() + at + 8, std::min<std::size_t>(chars << wide, length - 8));
      std::string latin1;  // as UTF-16LE: each byte is its code point
      if (!wide)
        for (const char c : name) latin1 += c, latin1 += '\0';
      sheets.emplace(offset, Utf16leToUtf8(wide ? name : std::string_view(latin1)));  // keeps `sheet` valid
    }
    if (type == kBof)
      if (const auto s = sheets.find(static_cast<std::uint32_t>(record)); s != sheets.end()) sheet = &s->second;
    if (type == kDimensions && length >= 14) {
      const std::uint32_t lastRow = u8(at + 4) | u8(at + 5) << 8u | u8(at + 6) << 16u | u8(at + 7) << 24u;
      const unsigned lastCol = u16(at + 10);
      const std::string name = sheet ? *sheet : std::string();
      if (!sheetName.empty() && name == sheetName && lastRow > maxRows)
        return SheetRowsRefusal(name, lastRow, maxRows);
      if (lastRow > kXlsMaxRows || lastCol > kXlsMaxColumns)
        return "the sheet \"" + name + "\" claims more than " + std::to_string(kXlsMaxRows) + " rows or " +
               std::to_string(kXlsMaxColumns) + " columns";
      // The reader makes room for every cell of every sheet as it opens the file.
      const std::uint64_t claimed = static_cast<std::uint64_t>(lastRow) * lastCol;
      cells += claimed;
      if (claimed > largest.cells) largest = {claimed, lastRow, lastCol, name};
      if (cells > kXlsMaxOpenedCells)
        return "the workbook's sheets claim more than " + std::to_string(kXlsMaxOpenedCells) + " cells (the sheet \"" +
               largest.name + "\" " + std::to_string(largest.rows) + " rows by " + std::to_string(largest.cols) +
               " columns), more than is read";
    }
    at += length;
  }
  return "";
}

namespace {

// Takes the workbook stream out of the compound file with libgsf and checks
// it (CheckWorkbookStream) before the reader sees it. The reader then gets
// the stream in a compound file of our own making, so a damaged container
// (directory names, sector chains) never reaches it. Runs in a confined
// child: "S" and the stream when acceptable, else "E" and why not.
std::string ExtractWorkbookStream(int fd, const std::string& sheetName, std::size_t maxRows) {
  std::string file;
  char buffer[65536];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || file.size() + static_cast<std::size_t>(n) > kXlsMaxFileBytes) return "Ecannot read the file";
    file.append(buffer, static_cast<std::size_t>(n));
  }
  GsfInput* input = gsf_input_memory_new(reinterpret_cast<const guint8*>(file.data()), file.size(), FALSE);
  if (input == nullptr) return "Ecannot read the file";
  GError* err = nullptr;
  GsfInfile* ole = gsf_infile_msole_new(input, &err);
  if (err) g_error_free(err), err = nullptr;
  g_object_unref(input);
  if (ole == nullptr) return "Enot an Excel 97-2003 workbook, or a damaged one";
  GsfInput* child = gsf_infile_child_by_name(ole, "Workbook");
  if (child == nullptr) child = gsf_infile_child_by_name(ole, "Book");
  g_object_unref(ole);
  if (child == nullptr) return "Ethe file holds no workbook";
  const gsf_off_t size = gsf_input_size(child);
  std::string bytes;
  if (size > 0 && static_cast<std::uintmax_t>(size) <= kXlsMaxFileBytes) {
    bytes.resize(static_cast<std::size_t>(size));
    if (gsf_input_read(child, bytes.size(), reinterpret_cast<guint8*>(bytes.data())) == nullptr) bytes.clear();
  }
  g_object_unref(child);
  if (bytes.empty()) return "Ethe workbook cannot be read";
  if (std::string why = CheckWorkbookStream(bytes, sheetName, maxRows); !why.empty()) return "E" + why;
  bytes.insert(bytes.begin(), 'S');
  return bytes;
}

// The reader's part, run in a child process (see ReadXlsFile).
XlsReadResult ReadWithFreexl(const char* file, const std::string& sheetName, std::size_t maxRows) {
  XlsReadResult result;
  const void* handle = nullptr;
  if (freexl_open(file, &handle) != FREEXL_OK) {
    if (handle) freexl_close(handle);
    result.error = "not an Excel 97-2003 workbook, or a damaged one";
    return result;
  }
  struct Closer {
    const void* h;
    ~Closer() { freexl_close(h); }
  } closer{handle};
  unsigned int count = 0;
  if (freexl_get_info(handle, FREEXL_BIFF_SHEET_COUNT, &count) != FREEXL_OK) {
    result.error = "the workbook lists no sheets";
    return result;
  }
  int wanted = -1;
  for (unsigned int i = 0; i < count; ++i) {
    const char* name = nullptr;
    if (freexl_get_worksheet_name(handle, static_cast<unsigned short>(i), &name) != FREEXL_OK || name == nullptr) continue;
    result.sheetNames.emplace_back(name);
    if (!sheetName.empty() && wanted < 0 && sheetName == name) wanted = static_cast<int>(i);
  }
  if (sheetName.empty()) {
    result.ok = true;
    return result;
  }
  if (wanted < 0) {
    result.error = "the workbook has no sheet \"" + sheetName + "\"";
    return result;
  }
  unsigned int rows = 0;
  unsigned short cols = 0;
  if (freexl_select_active_worksheet(handle, static_cast<unsigned short>(wanted)) != FREEXL_OK ||
      freexl_worksheet_dimensions(handle, &rows, &cols) != FREEXL_OK) {
    result.error = "the sheet \"" + sheetName + "\" cannot be read";
    return result;
  }
  if (rows > maxRows) {
    result.error = SheetRowsRefusal(sheetName, rows, maxRows);
    return result;
  }
  result.sheet.name = sheetName;
  result.sheet.rows.resize(rows);
  // A shared string's text stays where the reader keeps it: every cell that
  // shows it shares one copy.
  std::unordered_map<const char*, std::shared_ptr<const std::string>> shared;
  for (unsigned int r = 0; r < rows; ++r) {
    auto& row = result.sheet.rows[r];
    row.resize(cols);
    for (unsigned short c = 0; c < cols; ++c) {
      FreeXL_CellValue v;
      if (freexl_get_cell_value(handle, r, c, &v) != FREEXL_OK) {
        result.error = "cell " + std::to_string(r + 1) + "/" + std::to_string(c + 1) + " cannot be read";
        return result;
      }
      switch (v.type) {
        case FREEXL_CELL_INT: row[c] = XlsCell::Number(v.value.int_value); break;
        case FREEXL_CELL_DOUBLE: row[c] = XlsCell::Number(v.value.double_value); break;
        case FREEXL_CELL_SST_TEXT:
          if (v.value.text_value != nullptr) {
            auto& text = shared[v.value.text_value];
            if (!text) text = std::make_shared<const std::string>(v.value.text_value);
            row[c] = XlsCell::Text(text);
            break;
          }
          [[fallthrough]];
        case FREEXL_CELL_TEXT:
        case FREEXL_CELL_DATE:
        case FREEXL_CELL_DATETIME:
        case FREEXL_CELL_TIME:
          row[c] = XlsCell::Text(std::string(v.value.text_value ? v.value.text_value : ""));
          break;
        default: break;
      }
    }
    while (!row.empty() && row.back().type == XlsCell::Type::kEmpty) row.pop_back();
  }
  result.ok = true;
  return result;
}

// The child's result travels through a pipe in this form: flags, texts with
// 32-bit lengths, the cells' distinct texts once each, then the cells as a
// type byte and their value (a number, or a text's index).
void PutU32(std::string& out, std::uint32_t v) { out.append(reinterpret_cast<const char*>(&v), 4); }
void PutText(std::string& out, const std::string& t) {
  PutU32(out, static_cast<std::uint32_t>(t.size()));
  out += t;
}

std::string Serialize(const XlsReadResult& r) {
  std::string out;
  out.push_back(r.ok ? 1 : 0);
  PutText(out, r.error);
  PutU32(out, static_cast<std::uint32_t>(r.sheetNames.size()));
  for (const auto& n : r.sheetNames) PutText(out, n);
  PutText(out, r.sheet.name);
  std::unordered_map<const std::string*, std::uint32_t> index;
  std::vector<const std::string*> texts;
  for (const auto& row : r.sheet.rows)
    for (const auto& c : row)
      if (c.type == XlsCell::Type::kText && index.emplace(&c.text(), texts.size()).second) texts.push_back(&c.text());
  PutU32(out, static_cast<std::uint32_t>(texts.size()));
  for (const std::string* t : texts) PutText(out, *t);
  PutU32(out, static_cast<std::uint32_t>(r.sheet.rows.size()));
  for (const auto& row : r.sheet.rows) {
    PutU32(out, static_cast<std::uint32_t>(row.size()));
    for (const auto& c : row) {
      out.push_back(static_cast<char>(c.type));
      if (c.type == XlsCell::Type::kNumber) out.append(reinterpret_cast<const char*>(&c.number), 8);
      if (c.type == XlsCell::Type::kText) PutU32(out, index.at(&c.text()));
    }
  }
  return out;
}

class Reader {
 public:
  explicit Reader(const std::string& d) : d_(d) {}
  bool U32(std::uint32_t& v) { return Take(&v, 4); }
  bool Text(std::string& t) {
    std::uint32_t n = 0;
    if (!U32(n) || n > d_.size() - at_) return false;
    t.assign(d_, at_, n);
    at_ += n;
    return true;
  }
  bool Take(void* p, std::size_t n) {
    if (n > d_.size() - at_) return false;
    std::memcpy(p, d_.data() + at_, n);
    at_ += n;
    return true;
  }
  bool Done() const { return at_ == d_.size(); }

 private:
  const std::string& d_;
  std::size_t at_ = 0;
};

bool Deserialize(const std::string& d, XlsReadResult& r) {
  Reader in(d);
  unsigned char ok = 0;
  std::uint32_t names = 0, count = 0, rows = 0;
  if (!in.Take(&ok, 1) || !in.Text(r.error) || !in.U32(names) || names > d.size()) return false;
  r.ok = ok == 1;
  r.sheetNames.resize(names);
  for (auto& n : r.sheetNames)
    if (!in.Text(n)) return false;
  if (!in.Text(r.sheet.name) || !in.U32(count) || count > d.size()) return false;
  std::vector<std::shared_ptr<const std::string>> texts(count);
  for (auto& t : texts) {
    std::string text;
    if (!in.Text(text)) return false;
    t = std::make_shared<const std::string>(std::move(text));
  }
  if (!in.U32(rows) || rows > d.size()) return false;
  r.sheet.rows.resize(rows);
  for (auto& row : r.sheet.rows) {
    std::uint32_t cols = 0;
    if (!in.U32(cols) || cols > d.size()) return false;
    row.resize(cols);
    for (auto& c : row) {
      unsigned char type = 0;
      if (!in.Take(&type, 1) || type > 2) return false;
      c.type = static_cast<XlsCell::Type>(type);
      if (c.type == XlsCell::Type::kNumber && !in.Take(&c.number, 8)) return false;
      if (c.type == XlsCell::Type::kText) {
        std::uint32_t at = 0;
        if (!in.U32(at) || at >= texts.size()) return false;
        c.shared = texts[at];
      }
    }
  }
  return in.Done();
}

// "64 MB", or "1500 KB" below a MB.
std::string SizeText(std::size_t bytes) {
  return bytes >= (1u << 20) ? std::to_string(bytes >> 20) + " MB" : std::to_string(bytes >> 10) + " KB";
}

// Longest the reader may take before it is ended.
constexpr int kReaderTimeout_ms = 30000;

}  // namespace

XlsReadResult ReadXlsFile(const std::filesystem::path& path, const std::string& sheetName, std::size_t maxRows,
                          std::size_t maxReportBytes) {
  XlsReadResult result;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  struct stat st{};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    result.error = std::string("cannot read the file: ") + (fd < 0 ? std::strerror(errno) : "not a regular file");
    if (fd >= 0) ::close(fd);
    return result;
  }
  if (static_cast<std::uintmax_t>(st.st_size) > kXlsMaxFileBytes) {
    ::close(fd);
    result.error = "the file is larger than " + std::to_string(kXlsMaxFileBytes >> 20) + " MB";
    return result;
  }
  // The container is parsed in a confined child that reads the descriptor
  // opened here and may open nothing.
  std::call_once(gsfOnce, InitGsf);
  ReaderAccess container;
  container.inputFd = fd;
  ConfinedRun check = RunConfined(
      container, [&] { return ExtractWorkbookStream(kReaderInputFd, sheetName, maxRows); }, kXlsMaxFileBytes + 1,
      kReaderTimeout_ms);
  ::close(fd);
  if (!check.error.empty()) {
    result.error = check.error;
    return result;
  }
  if (!check.Clean() || check.report.empty()) {
    result.error = "not an Excel 97-2003 workbook, or a damaged one";
    return result;
  }
  if (check.report[0] != 'S') {
    result.error = check.report.substr(1);
    return result;
  }
  // The reader opens files by name: the stream goes to a private temporary file.
  std::string wrapped = WrapWorkbookStream(check.report.erase(0, 1), &result.error);
  check.report = std::string();
  if (wrapped.empty()) return result;
  std::string tmp = (std::filesystem::temp_directory_path() / "kelvara-xls-XXXXXX").string();
  const int out = mkstemp(tmp.data());
  if (out < 0) {
    result.error = "cannot create a temporary file";
    return result;
  }
  const bool written = ::write(out, wrapped.data(), wrapped.size()) == static_cast<ssize_t>(wrapped.size());
  ::close(out);
  wrapped = std::string();
  struct Remover {
    std::string path;
    ~Remover() { ::unlink(path.c_str()); }
  } remover{tmp};
  if (!written) {
    result.error = "cannot write a temporary file";
    return result;
  }
  // The reader runs in a confined child too: a damaged or hostile file that
  // trips it up ends that process, not the program. It may open the file
  // and the code-page modules of iconv, nothing else.
  ReaderAccess reader;
  reader.readable.push_back(tmp);
  if (const std::string& modules = CodePageModuleDirectory(); !modules.empty()) reader.readable.push_back(modules);
  const ConfinedRun run = RunConfined(
      reader, [&] { return Serialize(ReadWithFreexl(tmp.c_str(), sheetName, maxRows)); }, maxReportBytes,
      kReaderTimeout_ms);
  if (!run.error.empty()) {
    result.error = run.error;
  } else if (run.tooLarge) {
    result.error = "the workbook's cells and texts come to more than " + SizeText(maxReportBytes) + ", more than is read";
  } else if (!run.Clean() || !Deserialize(run.report, result)) {
    result = XlsReadResult{};
    result.error = "not an Excel 97-2003 workbook, or a damaged one";
  }
  return result;
}

}  // namespace kelvara::discovery
