#include "discovery/core/xls_workbook.h"

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
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>

#include "common/atomic_file.h"
#include "common/paths.h"
#include "common/text_convert.h"
#include "discovery/core/reader_sandbox.h"
#include "discovery/core/xls_reader_child.h"
#include "discovery/core/xls_records.h"
#include "discovery/core/xls_report.h"

namespace kelvara::discovery {
namespace {

using namespace biff;

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

std::string WrapWorkbookStream(const std::string& workbook, std::string* error) {
  InitGsfQuietly();
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

std::string BuildXlsFile(const std::vector<XlsSheet>& sheets, std::string* error) {
  return WrapWorkbookStream(BuildBiff8Workbook(sheets), error);
}

bool WriteXlsFile(const std::filesystem::path& path, const std::vector<XlsSheet>& sheets, std::string* error) {
  const std::string file = BuildXlsFile(sheets, error);
  if (file.empty()) return false;
  return WriteFileAtomically(path, file, error);
}

namespace {

// "64 MB", or "1500 KB" below a MB.
std::string SizeText(std::size_t bytes) {
  return bytes >= (1u << 20) ? std::to_string(bytes >> 20) + " MB" : std::to_string(bytes >> 10) + " KB";
}

// The reader program every read runs, chosen once.
struct ReaderChoice {
  std::mutex mutex;
  bool chosen = false;
  std::shared_ptr<const ReaderProgram> program;
  std::string error;  // why there is none
  int timeout_ms = kXlsReaderTimeout_ms;
};

ReaderChoice& Reader() {
  static ReaderChoice* choice = new ReaderChoice;  // never destroyed: reads may run while the process ends
  return *choice;
}

std::string ChooseReader(ReaderChoice& choice, const std::filesystem::path& program, int timeout_ms) {
  const std::filesystem::path path = program.empty() ? paths::ProgramDir() / kXlsReaderProgram : program;
  std::string why;
  choice.chosen = true;
  choice.timeout_ms = timeout_ms;
  choice.program = ReaderProgram::Open(path.string(), &why);
  choice.error = choice.program ? "" : "the workbook reader " + path.string() + " cannot be used (" + why + ")";
  return choice.error;
}

// A report the reader should never have sent: its child may have been
// taken over by the workbook.
std::string ReportRefusal(const std::string& why) {
  return "the workbook's reader sent a report that cannot be right: " + why;
}

// Why a run of the reader gave no usable report, or "".
std::string RunRefusal(const ConfinedRun& run, int timeout_ms, std::size_t maxReportBytes) {
  if (!run.error.empty()) return run.error;
  if (run.timedOut)
    return "reading the workbook took longer than " + std::to_string(timeout_ms / 1000) + " s; the reader was stopped";
  if (run.tooLarge)
    return "the workbook's cells and texts come to more than " + SizeText(maxReportBytes) + ", more than is read";
  if (run.outOfMemory) return "this program has not enough memory for what the reader reports";
  if (!run.Clean() || run.report.empty()) return "not an Excel 97-2003 workbook, or a damaged one";
  return "";
}

// Whether a run that gave no report failed for the reader's sake (not
// started, stopped, not held) rather than the file's (too large, or the
// reader ended on it).
bool ReaderFailed(const ConfinedRun& run) { return !run.error.empty() || run.timedOut || run.outOfMemory; }

XlsReadResult ReadWithReader(const std::filesystem::path& path, const std::string& sheetName, std::size_t maxRows,
                             std::size_t maxReportBytes) {
  XlsReadResult result;
  std::shared_ptr<const ReaderProgram> program;
  int timeout_ms = kXlsReaderTimeout_ms;
  {
    ReaderChoice& choice = Reader();
    std::lock_guard<std::mutex> lock(choice.mutex);
    if (!choice.chosen) ChooseReader(choice, {}, kXlsReaderTimeout_ms);
    program = choice.program;
    timeout_ms = choice.timeout_ms;
    result.error = choice.error;
  }
  if (!program) {
    result.readerFailed = true;
    return result;
  }
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
  // The container is taken apart by the reader program, which reads the
  // descriptor opened here and may open nothing.
  const std::string rows = std::to_string(maxRows);
  ConfinedRun check =
      RunReaderProgram(*program, {kXlsReaderExtract, sheetName, rows}, fd, kXlsMaxFileBytes + 1, timeout_ms);
  ::close(fd);
  if (std::string why = RunRefusal(check, timeout_ms, kXlsMaxFileBytes + 1); !why.empty()) {
    result.error = why;
    result.readerFailed = ReaderFailed(check);
    return result;
  }
  if (check.report[0] != 'S') {
    result.readerFailed = check.report[0] != 'E' || check.report.size() - 1 > kXlsMaxReportText;
    result.error = result.readerFailed ? ReportRefusal("it is neither a workbook stream nor a short refusal")
                                       : ShowableReaderText(check.report.substr(1));
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
  const bool written = WriteReport(out, wrapped);
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
  // freexl runs in the reader program too: a damaged or hostile file that
  // trips it up ends that process, not this one. It may open the file and
  // the code-page modules of iconv, nothing else.
  ConfinedRun run = RunReaderProgram(*program, {kXlsReaderRead, tmp, sheetName, rows}, -1, maxReportBytes, timeout_ms);
  if (std::string why = RunRefusal(run, timeout_ms, maxReportBytes); !why.empty()) {
    result.error = why;
    result.readerFailed = ReaderFailed(run);
    return result;
  }
  if (std::string why = DeserializeXlsReport(run.report, {sheetName, maxRows}, result); !why.empty()) {
    result.error = ReportRefusal(why);
    result.readerFailed = true;
  }
  return result;
}

}  // namespace

std::string UseXlsReader(const std::filesystem::path& program, int timeout_ms) {
  ReaderChoice& choice = Reader();
  std::lock_guard<std::mutex> lock(choice.mutex);
  return ChooseReader(choice, program, timeout_ms);
}

std::string OpenXlsReader() {
  ReaderChoice& choice = Reader();
  std::lock_guard<std::mutex> lock(choice.mutex);
  return choice.chosen ? choice.error : ChooseReader(choice, {}, kXlsReaderTimeout_ms);
}

XlsReadResult ReadXlsFile(const std::filesystem::path& path, const std::string& sheetName, std::size_t maxRows,
                          std::size_t maxReportBytes) {
  try {
    return ReadWithReader(path, sheetName, maxRows, maxReportBytes);
  } catch (const std::bad_alloc&) {
    XlsReadResult result;
    result.error = "this program has not enough memory to read the workbook";
    result.readerFailed = true;
    return result;
  }
}

}  // namespace kelvara::discovery
