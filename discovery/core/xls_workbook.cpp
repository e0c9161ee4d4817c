#include "discovery/core/xls_workbook.h"

#include <freexl.h>
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-output-memory.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-utils.h>

#include <cstring>
#include <mutex>
#include <system_error>
#include <unordered_map>

#include "common/atomic_file.h"
#include "common/text_convert.h"

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

}  // namespace

std::string BuildBiff8Workbook(const std::vector<XlsSheet>& sheets) {
  // Shared strings, each once.
  std::vector<std::u16string> strings;
  std::unordered_map<std::string, std::uint32_t> index;
  std::uint32_t total = 0;
  for (const auto& sheet : sheets)
    for (const auto& row : sheet.rows)
      for (const auto& cell : row) {
        if (cell.type != XlsCell::Type::kText || cell.text.empty()) continue;
        ++total;
        if (index.emplace(cell.text, static_cast<std::uint32_t>(strings.size())).second) {
          std::u16string s = Utf16(cell.text);
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
        if (cell.type == XlsCell::Type::kEmpty || (cell.type == XlsCell::Type::kText && cell.text.empty())) continue;
        Bytes b;
        b.U16(static_cast<std::uint16_t>(r)), b.U16(static_cast<std::uint16_t>(c)), b.U16(kCellXf);
        if (cell.type == XlsCell::Type::kText) {
          b.U32(index.at(cell.text));
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

std::string BuildXlsFile(const std::vector<XlsSheet>& sheets, std::string* error) {
  std::call_once(gsfOnce, [] { gsf_init(); });
  const std::string workbook = BuildBiff8Workbook(sheets);
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

bool WriteXlsFile(const std::filesystem::path& path, const std::vector<XlsSheet>& sheets, std::string* error) {
  const std::string file = BuildXlsFile(sheets, error);
  if (file.empty()) return false;
  return WriteFileAtomically(path, file, error);
}

namespace {

// Walks the workbook stream's record headers before the reader parses the
// file: the reader sizes each sheet's cell table from its DIMENSIONS record,
// so a file that claims more rows than we read, or more columns than BIFF8
// has, is refused here before that table is made. "" when acceptable.
std::string PrecheckWorkbook(const std::filesystem::path& path, std::size_t maxRows) {
  std::call_once(gsfOnce, [] { gsf_init(); });
  GError* err = nullptr;
  GsfInput* input = gsf_input_stdio_new(path.c_str(), &err);
  if (err) g_error_free(err), err = nullptr;
  if (input == nullptr) return "cannot read the file";
  GsfInfile* ole = gsf_infile_msole_new(input, &err);
  if (err) g_error_free(err), err = nullptr;
  g_object_unref(input);
  if (ole == nullptr) return "not an Excel 97-2003 workbook, or a damaged one";
  GsfInput* stream = gsf_infile_child_by_name(ole, "Workbook");
  if (stream == nullptr) stream = gsf_infile_child_by_name(ole, "Book");
  g_object_unref(ole);
  if (stream == nullptr) return "the file holds no workbook";
  std::string why;
  std::uint8_t head[4];
  std::uint8_t body[14];
  while (why.empty() && gsf_input_remaining(stream) >= 4 && gsf_input_read(stream, 4, head) != nullptr) {
    const unsigned type = head[0] | head[1] << 8u, length = head[2] | head[3] << 8u;
    if (length > gsf_input_remaining(stream)) break;
    if (type == kDimensions && length >= 14) {
      if (gsf_input_read(stream, 14, body) == nullptr) break;
      const std::uint32_t lastRow = body[4] | body[5] << 8u | body[6] << 16u | static_cast<std::uint32_t>(body[7]) << 24u;
      const unsigned lastCol = body[10] | body[11] << 8u;
      if (lastRow > maxRows) why = "the sheet has " + std::to_string(lastRow) + " rows; at most " + std::to_string(maxRows) + " are read";
      else if (lastCol > kXlsMaxColumns) why = "a sheet claims more than " + std::to_string(kXlsMaxColumns) + " columns";
      if (gsf_input_seek(stream, length - 14, G_SEEK_CUR)) break;
    } else if (length > 0 && gsf_input_seek(stream, length, G_SEEK_CUR)) {
      break;
    }
  }
  g_object_unref(stream);
  return why;
}

}  // namespace

XlsReadResult ReadXlsFile(const std::filesystem::path& path, const std::string& sheetName, std::size_t maxRows) {
  XlsReadResult result;
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) {
    result.error = "cannot read the file: " + ec.message();
    return result;
  }
  if (size > kXlsMaxFileBytes) {
    result.error = "the file is larger than " + std::to_string(kXlsMaxFileBytes >> 20) + " MB";
    return result;
  }
  if (std::string why = PrecheckWorkbook(path, maxRows); !why.empty()) {
    result.error = std::move(why);
    return result;
  }
  const void* handle = nullptr;
  if (freexl_open(path.c_str(), &handle) != FREEXL_OK) {
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
    result.error = "the sheet has " + std::to_string(rows) + " rows; at most " + std::to_string(maxRows) +
                   " are read";
    return result;
  }
  result.sheet.name = sheetName;
  result.sheet.rows.resize(rows);
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
        case FREEXL_CELL_TEXT:
        case FREEXL_CELL_SST_TEXT:
        case FREEXL_CELL_DATE:
        case FREEXL_CELL_DATETIME:
        case FREEXL_CELL_TIME:
          row[c] = XlsCell::Text(v.value.text_value ? v.value.text_value : "");
          break;
        default: break;
      }
    }
  }
  result.ok = true;
  return result;
}

}  // namespace kelvara::discovery
