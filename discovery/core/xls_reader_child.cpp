#include "discovery/core/xls_reader_child.h"

#include <freexl.h>
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-utils.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "discovery/core/reader_sandbox.h"
#include "discovery/core/xls_records.h"
#include "discovery/core/xls_report.h"
#include "discovery/core/xls_workbook.h"

namespace kelvara::discovery {
namespace {

using namespace biff;

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

// The code pages libfreexl 1.0.6 converts (CODEPAGE record values).
bool FreexlKnowsCodePage(unsigned codePage) {
  static constexpr unsigned kKnown[] = {367,  437,  737,  775,  850,  852,  855,  857,  858,  860,  861,  862,
                                        863,  864,  865,  866,  869,  874,  932,  936,  949,  950,  1200, 1250,
                                        1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258, 1361, 32769};
  return std::find(std::begin(kKnown), std::end(kKnown), codePage) != std::end(kKnown);
}

// The CODEPAGE record's value of a workbook stream, if it has one.
std::optional<unsigned> WorkbookCodePage(const std::string& bytes) {
  const auto u16 = [&](std::size_t i) {
    return static_cast<unsigned>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
  };
  for (std::size_t at = 0; at + 4 <= bytes.size();) {
    const unsigned type = u16(at), length = u16(at + 2);
    at += 4;
    if (length > bytes.size() - at) break;
    if (type == kCodepage && length >= 2) return u16(at);
    at += length;
  }
  return std::nullopt;
}

// The workbook stream of a compound file ("Workbook", or "Book" of older
// files); "" with *why set when there is none.
std::string StreamOfCompoundFile(GsfInput* input, std::string* why) {
  GError* err = nullptr;
  GsfInfile* ole = gsf_infile_msole_new(input, &err);
  if (err) g_error_free(err);
  if (ole == nullptr) {
    *why = "not an Excel 97-2003 workbook, or a damaged one";
    return {};
  }
  GsfInput* child = gsf_infile_child_by_name(ole, "Workbook");
  if (child == nullptr) child = gsf_infile_child_by_name(ole, "Book");
  g_object_unref(ole);
  if (child == nullptr) {
    *why = "the file holds no workbook";
    return {};
  }
  const gsf_off_t size = gsf_input_size(child);
  std::string bytes;
  if (size > 0 && static_cast<std::uintmax_t>(size) <= kXlsMaxFileBytes) {
    bytes.resize(static_cast<std::size_t>(size));
    if (gsf_input_read(child, bytes.size(), reinterpret_cast<guint8*>(bytes.data())) == nullptr) bytes.clear();
  }
  g_object_unref(child);
  if (bytes.empty()) *why = "the workbook cannot be read";
  return bytes;
}

// Why freexl gave no workbook for `file` (of our own container) and no
// error either: it does so when the workbook's code page is one it cannot
// convert, or a text does not convert.
std::string TextsRefusal(const char* file) {
  std::optional<unsigned> codePage;
  if (GsfInput* input = gsf_input_stdio_new(file, nullptr)) {
    std::string why;
    codePage = WorkbookCodePage(StreamOfCompoundFile(input, &why));
    g_object_unref(input);
  }
  if (codePage && !FreexlKnowsCodePage(*codePage))
    return "the workbook's code page " + std::to_string(*codePage) + " is not one the reader knows";
  const std::string which =
      !codePage ? "" : " (" + std::to_string(*codePage) + (*codePage == 1200 ? ", UTF-16)" : ")");
  return "the workbook's texts cannot be read: one is not valid in its code page" + which +
         ", or one is stored with a byte per character and longer than about 16,400 characters, which the reader "
         "does not take";
}

// Takes the workbook stream out of the compound file with libgsf and checks
// it (CheckWorkbookStream) before the reader sees it. The reader then gets
// the stream in a compound file of the parent's making, so a damaged
// container (directory names, sector chains) never reaches it. "S" and the
// stream when acceptable, else "E" and why not.
std::string ExtractWorkbookStream(const std::string& file, const std::string& sheetName, std::size_t maxRows) {
  GsfInput* input = gsf_input_memory_new(reinterpret_cast<const guint8*>(file.data()), file.size(), FALSE);
  if (input == nullptr) return "Ecannot read the file";
  std::string why;
  std::string bytes = StreamOfCompoundFile(input, &why);
  g_object_unref(input);
  if (bytes.empty()) return "E" + why;
  if (std::string refusal = CheckWorkbookStream(bytes, sheetName, maxRows); !refusal.empty()) return "E" + refusal;
  bytes.insert(bytes.begin(), 'S');
  return bytes;
}

// freexl reads the file (of our own container).
XlsReadResult ReadWithFreexl(const char* file, const std::string& sheetName, std::size_t maxRows) {
  XlsReadResult result;
  const void* handle = nullptr;
  const int opened = freexl_open(file, &handle);
  if (opened != FREEXL_OK || handle == nullptr) {
    if (handle) freexl_close(handle);
    result.error = opened == FREEXL_INSUFFICIENT_MEMORY ? "the workbook needs more memory than the reader may use"
                   : opened == FREEXL_OK || opened == FREEXL_INVALID_CHARACTER || opened == FREEXL_UNSUPPORTED_CHARSET
                       ? TextsRefusal(file)
                       : "not an Excel 97-2003 workbook, or a damaged one";
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

// All of a descriptor's bytes, up to kXlsMaxFileBytes.
bool ReadAll(int fd, std::string& out) {
  char buffer[65536];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || out.size() + static_cast<std::size_t>(n) > kXlsMaxFileBytes) return false;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return true;
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

void InitGsfQuietly() {
  static std::once_flag once;
  std::call_once(once, [] {
    gsf_init();
    for (const char* domain : {"libgsf", "libgsf:msole"})
      g_log_set_handler(domain, static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING),
                        [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
  });
}

int XlsReaderMain(int argc, char** argv, const XlsReaderHooks& hooks) {
  constexpr int kUsage = 64;
  const std::string mode = argc > 1 ? argv[1] : "";
  const bool extract = mode == kXlsReaderExtract && argc == 4, read = mode == kXlsReaderRead && argc == 5;
  if (!extract && !read) return kUsage;
  const std::string file = read ? argv[2] : "", sheetName = argv[read ? 3 : 2];
  char* end = nullptr;
  errno = 0;
  const unsigned long long maxRows = std::strtoull(argv[read ? 4 : 3], &end, 10);
  if (*end != '\0' || errno != 0 || maxRows > kXlsMaxRows) return kUsage;
  // What loads files is done before the confinement: libgsf's types, and
  // the UTF-16 converter every workbook needs.
  InitGsfQuietly();
  ReaderAccess access;
  if (extract) {
    access.inputFd = kReaderInputFd;
  } else {
    access.readable.push_back(file);
    if (const std::string& modules = CodePageModuleDirectory(); !modules.empty()) access.readable.push_back(modules);
  }
  if (hooks.beforeConfinement) hooks.beforeConfinement();
  if (ConfineReaderChild(kReaderReportFd, access) < 0) return kReaderConfinementFailed;
  std::string input;
  if (extract && !ReadAll(kReaderInputFd, input)) return WriteReport(kReaderReportFd, "Ecannot read the file") ? 0 : 2;
  if (hooks.takeOver)
    if (std::optional<std::string> report = hooks.takeOver(mode, extract ? input : file))
      return WriteReport(kReaderReportFd, *report) ? 0 : 2;
  const std::string report = extract ? ExtractWorkbookStream(input, sheetName, maxRows)
                                     : SerializeXlsReport(ReadWithFreexl(file.c_str(), sheetName, maxRows));
  return WriteReport(kReaderReportFd, report) ? 0 : 2;
}

}  // namespace kelvara::discovery
