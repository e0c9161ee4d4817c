// The device list's exchange files: the .xls sheet (checked with xlrd, and
// read from files xlwt wrote), the XML file, and imports that refuse a bad
// file whole.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "common/text_convert.h"
#include "discovery/core/device_list_xml.h"
#include "discovery/core/device_sheet.h"
#include "kelvara_test/test_env.h"

namespace kelvara::discovery {
namespace {

namespace fs = std::filesystem;

std::string Oracle() { return (kelvara::test::SourceDir() / "discovery/tests/xls_oracle.py").string(); }

std::string RunCommand(const std::string& cmd) {
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    if (pclose(p) != 0) out = "FAILED: " + out;
  }
  return out;
}

std::string Hex(const std::string& s) {
  std::string h;
  char d[3];
  for (unsigned char c : s) std::snprintf(d, sizeof d, "%02x", c), h += d;
  return h;
}

DeviceSearchInfo Sample(int n) {
  DeviceSearchInfo r;
  r.serialNumber = "SN" + std::to_string(n);
  r.uuid = "uuid-" + std::to_string(n);
  r.p2pId = "P2P-" + std::to_string(n);
  r.p2pType = n + 1;
  r.deviceType = "DAV-ODUVE-IPC";
  r.lanConfig.macAddress = "00:11:22:33:44:0" + std::to_string(n);
  r.lanConfig.ipAddress = "10.9.0." + std::to_string(20 + n);
  r.lanConfig.netmask = "255.255.255.0";
  r.lanConfig.dns1 = r.lanConfig.dns2 = "0.0.0.0";
  r.streamAccess.ptzPort = 8091;
  r.streamAccess.webPort = 80 + n;
  r.streamAccess.videoPort = 554;
  r.titleHex = TitleHexFromText("Camera " + std::to_string(n));
  return r;
}

std::vector<DeviceSearchInfo> ThreeDevices() {
  auto d = std::vector<DeviceSearchInfo>{Sample(0), Sample(1), Sample(2)};
  d[1].titleHex = TitleHexFromText("门口摄像机");              // Chinese title
  d[2].deviceType = "Say \"cheese\"\tnow";                     // quote and a control character
  d[2].titleHex = TitleHexFromText("it's \"quoted\" & <tagged>");
  return d;
}

std::vector<ExportedDevice> Exported(const std::vector<DeviceSearchInfo>& d) {
  std::vector<ExportedDevice> out;
  for (const auto& r : d) out.push_back({&r, "V1.2." + r.serialNumber});
  return out;
}

TEST(ExcelExport, SheetReadsBackInXlrdWithNamesTypesAndValues) {
  const fs::path file = kelvara::test::MakeTempDir() / "IPC EXPORT.xls";
  const auto devices = ThreeDevices();
  std::string error;
  ASSERT_TRUE(WriteXlsFile(file, {BuildDeviceSheet(Exported(devices))}, &error)) << error;
  const std::string dump = RunCommand("/usr/bin/python3 '" + Oracle() + "' dump '" + file.string() + "'");
  ASSERT_EQ(dump.rfind("sheet " + Hex("EXPORT") + "\n", 0), 0u) << dump;
  std::string expected = "sheet " + Hex("EXPORT") + "\n";
  const auto& columns = DeviceSheetColumns();
  ASSERT_EQ(columns.size(), 13u);
  for (std::size_t c = 0; c < columns.size(); ++c)
    expected += "0 " + std::to_string(c) + " 1 " + Hex(columns[c].name) + "\n";
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const auto& r = devices[i];
    const std::string row = std::to_string(i + 1) + " ";
    auto text = [&](int c, const std::string& v) { expected += row + std::to_string(c) + (v.empty() ? " 0 \n" : " 1 " + Hex(v) + "\n"); };
    auto number = [&](int c, int v) { expected += row + std::to_string(c) + " 2 " + std::to_string(v) + ".0\n"; };
    text(0, r.lanConfig.ipAddress);
    text(1, r.lanConfig.netmask);
    number(2, r.streamAccess.ptzPort);
    number(3, r.streamAccess.webPort);
    number(4, r.streamAccess.videoPort);
    text(5, r.lanConfig.macAddress);
    text(6, TitleTextFromHex(r.titleHex));
    text(7, r.deviceType);
    text(8, "V1.2." + r.serialNumber);
    text(9, r.serialNumber);
    number(10, r.p2pType);
    text(11, r.p2pId);
    text(12, r.uuid);
  }
  EXPECT_EQ(dump, expected);
}

void ExpectSameDevices(const std::vector<DeviceSearchInfo>& got, std::vector<DeviceSearchInfo> want, bool gatewayKept) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    if (!gatewayKept) want[i].lanConfig.gateway.clear();
    EXPECT_EQ(got[i], want[i]) << i;
  }
}

TEST(ExcelExport, ExportThenImportGivesTheRecordsBack) {
  const fs::path file = kelvara::test::MakeTempDir() / "round.xls";
  auto devices = ThreeDevices();
  devices[0].lanConfig.gateway = "10.9.0.1";  // the sheet has no gateway: it comes back empty
  ASSERT_TRUE(WriteXlsFile(file, {BuildDeviceSheet(Exported(devices))}, nullptr));
  const ImportResult back = ImportDeviceSheet(file);
  ASSERT_FALSE(back.error) << back.error->Text();
  ExpectSameDevices(back.devices, devices, false);
}

TEST(ExcelImport, ReadsSheetsXlwtWroteAndRefusesBadOnesWithRowAndColumn) {
  const fs::path dir = kelvara::test::MakeTempDir();
  struct Case {
    const char* variant;
    std::string error;  // "" when the file imports
    std::string title = "门口 1";
  } cases[] = {
      {"plain", ""},
      {"no-version", ""},
      {"reordered", ""},
      {"other-sheets", ""},
      // Another sheet longer than the import reads is not the EXPORT sheet's
      // size; one that would make the reader allocate too much is refused.
      {"long-other-sheet", ""},
      {"huge-other-sheet",
       "the workbook's sheets claim more than 8388608 cells (the sheet \"Notes\" 60001 rows by 201 columns), more than "
       "is read"},
      // The reader loads the code page's converter inside its confinement.
      {"cp1252", "", "Café 1"},
      {"missing-sn-column", "row 1, column SN: the column is missing"},
      {"bad-ip", "row 3, column IPADDR: not a dotted IPv4 address"},
      {"text-port", "row 4, column HTTPPORT: not a whole number from 0 to 65535"},
  };
  for (const auto& c : cases) {
    const fs::path file = dir / (std::string(c.variant) + ".xls");
    ASSERT_EQ(RunCommand("/usr/bin/python3 '" + Oracle() + "' make '" + file.string() + "' " + c.variant), "") << c.variant;
    const ImportResult r = ImportDeviceSheet(file);
    if (c.error.empty()) {
      ASSERT_FALSE(r.error) << c.variant << ": " << r.error->Text();
      ASSERT_EQ(r.devices.size(), 3u) << c.variant;
      EXPECT_EQ(r.devices[1].serialNumber, "XL00001");
      EXPECT_EQ(r.devices[1].lanConfig.ipAddress, "10.9.0.11");
      EXPECT_EQ(r.devices[1].streamAccess.ptzPort, 8091);
      EXPECT_EQ(r.devices[1].p2pType, 2);
      EXPECT_EQ(TitleTextFromHex(r.devices[1].titleHex), c.title) << c.variant;
      EXPECT_EQ(r.devices[1].lanConfig.gateway, "");
    } else {
      ASSERT_TRUE(r.error) << c.variant;
      EXPECT_EQ(r.error->Text(), c.error);
      EXPECT_TRUE(r.devices.empty());
    }
  }
}

TEST(ExcelImport, DamagedAndOversizedFilesAreRefused) {
  const fs::path dir = kelvara::test::MakeTempDir();
  const fs::path good = dir / "good.xls";
  ASSERT_TRUE(WriteXlsFile(good, {BuildDeviceSheet(Exported(ThreeDevices()))}, nullptr));
  std::string bytes;
  {
    std::ifstream in(good, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  // Cut in half, and garbage in the middle.
  const fs::path cut = dir / "cut.xls", noise = dir / "noise.xls", text = dir / "text.xls";
  std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  std::string noisy = bytes;
  for (std::size_t i = 600; i < noisy.size() && i < 1400; ++i) noisy[i] = static_cast<char>(i * 7);
  std::ofstream(noise, std::ios::binary) << noisy;
  std::ofstream(text) << "IPADDR,SN\n1.2.3.4,X\n";
  for (const auto& f : {cut, noise, text}) EXPECT_TRUE(ImportDeviceSheet(f).error) << f;
  EXPECT_TRUE(ImportDeviceSheet(dir / "missing.xls").error);

  // A sheet holding as many rows as BIFF8 allows: refused on the row count,
  // quickly, before any cell is copied.
  XlsSheet big = BuildDeviceSheet({});
  const DeviceSearchInfo one = Sample(1);
  const XlsSheet row = BuildDeviceSheet({{&one, ""}});
  big.rows.resize(kXlsMaxRows, row.rows[1]);
  const fs::path huge = dir / "huge.xls";
  ASSERT_TRUE(WriteXlsFile(huge, {big}, nullptr));
  const auto start = std::chrono::steady_clock::now();
  const ImportResult r = ImportDeviceSheet(huge);
  ASSERT_TRUE(r.error);
  EXPECT_NE(r.error->Text().find("the sheet \"EXPORT\" has 65536 rows; at most 2049 are read"), std::string::npos)
      << r.error->Text();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));

  // Exactly the limit of devices still imports.
  XlsSheet full = BuildDeviceSheet({});
  for (std::size_t i = 0; i < kMaxImportedDevices; ++i) {
    auto cells = row.rows[1];
    cells[9] = XlsCell::Text("S" + std::to_string(i));
    full.rows.push_back(cells);
  }
  ASSERT_TRUE(WriteXlsFile(dir / "full.xls", {full}, nullptr));
  const ImportResult ok = ImportDeviceSheet(dir / "full.xls");
  ASSERT_FALSE(ok.error) << ok.error->Text();
  EXPECT_EQ(ok.devices.size(), kMaxImportedDevices);
  EXPECT_EQ(ok.devices.back().serialNumber, "S2047");
}

// The sheet sizes a workbook claims (DIMENSIONS records, which the reader
// allocates every sheet's cells from), checked before the reader opens it:
// the row cap is the asked sheet's alone and names it; every sheet counts
// towards the cells the reader would allocate.
TEST(ExcelImport, SheetSizesAreCheckedPerSheet) {
  const auto sheetOf = [](const char* name, std::size_t rows) {
    XlsSheet s{name, {}};
    s.rows.assign(rows, {XlsCell::Number(1)});
    return s;
  };
  // Sets the claimed size of the n-th sheet.
  const auto claim = [](std::string stream, int n, std::uint32_t rows, std::uint16_t cols) {
    for (std::size_t at = 0; at + 4 <= stream.size();) {
      const unsigned type = static_cast<unsigned char>(stream[at]) | static_cast<unsigned char>(stream[at + 1]) << 8;
      const unsigned length = static_cast<unsigned char>(stream[at + 2]) | static_cast<unsigned char>(stream[at + 3]) << 8;
      if (type == 0x0200 && n-- == 0) {
        for (int i = 0; i < 4; ++i) stream[at + 8 + i] = static_cast<char>(rows >> (8 * i));
        for (int i = 0; i < 2; ++i) stream[at + 14 + i] = static_cast<char>(cols >> (8 * i));
      }
      at += 4 + length;
    }
    return stream;
  };
  const std::string longNotes = BuildBiff8Workbook({sheetOf("Notes", 3000), sheetOf("EXPORT", 3)});
  const std::string export2049 = BuildBiff8Workbook({sheetOf("Notes", 3), sheetOf("EXPORT", 2049)});
  const std::string export2050 = BuildBiff8Workbook({sheetOf("Notes", 3), sheetOf("EXPORT", 2050)});
  const std::string named = BuildBiff8Workbook({sheetOf("设备", 2050)});
  struct Case {
    std::string stream;
    const char* sheet;
    std::string error;
  } cases[] = {
      {longNotes, "EXPORT", ""},
      {longNotes, "", ""},
      {export2049, "EXPORT", ""},
      {export2050, "EXPORT", "the sheet \"EXPORT\" has 2050 rows; at most 2049 are read"},
      {export2050, "Notes", ""},
      {named, "设备", "the sheet \"设备\" has 2050 rows; at most 2049 are read"},
      // The cells of all sheets count together.
      {claim(longNotes, 0, 65536, 127), "EXPORT", ""},
      {claim(longNotes, 0, 65536, 128), "EXPORT",
       "the workbook's sheets claim more than 8388608 cells (the sheet \"Notes\" 65536 rows by 128 columns), more "
       "than is read"},
      {claim(claim(longNotes, 0, 40000, 200), 1, 2049, 200), "EXPORT",
       "the workbook's sheets claim more than 8388608 cells (the sheet \"Notes\" 40000 rows by 200 columns), more "
       "than is read"},
      {claim(longNotes, 0, 65537, 1), "EXPORT", "the sheet \"Notes\" claims more than 65536 rows or 256 columns"},
      {claim(longNotes, 1, 3, 257), "EXPORT", "the sheet \"EXPORT\" claims more than 65536 rows or 256 columns"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(CheckWorkbookStream(cases[i].stream, cases[i].sheet, 2049), cases[i].error) << "case " << i;
}

// Every note cell of the sheet shows one shared string of 12,000 characters:
// 200,000 such cells would come to 2.4 GB as a copy per cell. The import reads
// the devices, the cells share one copy of the text, and a reader's report
// over the bound the caller sets is refused with the reason.
TEST(ExcelImport, OneSharedStringInManyCellsIsHeldOnce) {
  const fs::path file = kelvara::test::MakeTempDir() / "shared.xls";
  ASSERT_EQ(RunCommand("/usr/bin/python3 '" + Oracle() + "' shared '" + file.string() + "' 1000 200 12000"), "");
  const ImportResult r = ImportDeviceSheet(file);
  ASSERT_FALSE(r.error) << r.error->Text();
  ASSERT_EQ(r.devices.size(), 1000u);
  EXPECT_EQ(r.devices[999].lanConfig.ipAddress, "10.9.4.209");
  EXPECT_EQ(r.devices[999].serialNumber, "XL00999");
  EXPECT_EQ(r.devices[999].lanConfig.macAddress, "00:11:22:33:03:E7");

  const XlsReadResult read = ReadXlsFile(file, "EXPORT", 1001);
  ASSERT_TRUE(read.ok) << read.error;
  ASSERT_EQ(read.sheet.rows.size(), 1001u);
  const XlsCell& first = read.sheet.rows[1][13];
  const XlsCell& last = read.sheet.rows[1000][212];
  ASSERT_EQ(first.type, XlsCell::Type::kText);
  EXPECT_EQ(first.text().size(), 12000u);
  EXPECT_EQ(first.text().substr(0, 12), "shared note ");
  EXPECT_EQ(first.shared.get(), last.shared.get());

  const XlsReadResult refused = ReadXlsFile(file, "EXPORT", 1001, 512 << 10);
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(refused.error, "the workbook's cells and texts come to more than 512 KB, more than is read");
  EXPECT_TRUE(refused.sheet.rows.empty());
}

TEST(ExcelImport, FilesThatTripTheReaderUpAreRefused) {
  // Found by fuzzing: a directory entry whose name claims 55,062 bytes, and a
  // workbook on which the reader frees a pointer it never allocated.
  for (const char* name : {"long_directory_name.xls", "reader_bad_free.xls"}) {
    const ImportResult r = ImportDeviceSheet(kelvara::test::SourceDir() / "discovery/tests/data" / name);
    ASSERT_TRUE(r.error) << name;
    EXPECT_TRUE(r.devices.empty());
  }
}

// The reader program is the file opened when the reader was chosen: a copy
// removed with its folder afterwards still reads. One that is not there is
// named in the refusal.
TEST(ExcelImport, TheReaderIsTheProgramOpenedAtStartUp) {
  const fs::path dir = kelvara::test::MakeTempDir();
  const fs::path book = dir / "book.xls";
  ASSERT_TRUE(WriteXlsFile(book, {BuildDeviceSheet(Exported(ThreeDevices()))}, nullptr));
  const fs::path copies = kelvara::test::MakeTempDir(), copy = copies / kXlsReaderProgram;
  fs::copy_file(kelvara::test::BinDir() / kXlsReaderProgram, copy);
  ASSERT_EQ(UseXlsReader(copy), "");
  fs::remove_all(copies);
  EXPECT_EQ(ImportDeviceSheet(book).devices.size(), 3u);

  const fs::path missing = dir / "gone" / kXlsReaderProgram;
  EXPECT_EQ(UseXlsReader(missing), "the workbook reader " + missing.string() + " cannot be used (No such file or directory)");
  const ImportResult r = ImportDeviceSheet(book);
  ASSERT_TRUE(r.error);
  EXPECT_EQ(r.error->Text(), "the workbook reader " + missing.string() + " cannot be used (No such file or directory)");
  EXPECT_EQ(UseXlsReader(), "");
  EXPECT_EQ(ImportDeviceSheet(book).devices.size(), 3u);
}

// freexl gives no workbook and no error when a text does not convert from
// the workbook's code page, or the code page is one it does not know: the
// refusal says which.
TEST(ExcelImport, BadlyEncodedTextsAndUnknownCodePagesAreNamed) {
  const std::string stream = BuildBiff8Workbook({BuildDeviceSheet(Exported(ThreeDevices())),
                                                 XlsSheet{"Notes", {{XlsCell::Text("QQ")}}}});
  // The CODEPAGE record (UTF-16, 1200) set to 4660.
  std::string unknown = stream;
  const std::size_t codePage = unknown.find(std::string("\x42\x00\x02\x00\xB0\x04", 6));
  ASSERT_NE(codePage, std::string::npos);
  unknown[codePage + 4] = 0x34, unknown[codePage + 5] = 0x12;
  // "QQ" in UTF-16 with a lone high surrogate for its first unit.
  std::string lone = stream;
  const std::size_t text = lone.find(std::string("Q\0Q\0", 4));
  ASSERT_NE(text, std::string::npos);
  lone[text] = 0x00, lone[text + 1] = static_cast<char>(0xD8);
  const fs::path dir = kelvara::test::MakeTempDir();
  struct Case {
    const char* name;
    const std::string& stream;
    std::string error;
  } cases[] = {
      {"unknown.xls", unknown, "the workbook's code page 4660 is not one the reader knows"},
      {"lone.xls", lone,
       "the workbook's texts cannot be read: one is not valid in its code page (1200, UTF-16), or one is stored "
       "with a byte per character and longer than about 16,400 characters, which the reader does not take"},
  };
  for (const Case& c : cases) {
    std::string error;
    const std::string file = WrapWorkbookStream(c.stream, &error);
    ASSERT_FALSE(file.empty()) << error;
    std::ofstream(dir / c.name, std::ios::binary) << file;
    const ImportResult r = ImportDeviceSheet(dir / c.name);
    ASSERT_TRUE(r.error) << c.name;
    EXPECT_EQ(r.error->Text(), c.error) << c.name;
  }
}

TEST(ExcelExport, AFailedWriteLeavesTheEarlierFile) {
  const fs::path file = kelvara::test::MakeTempDir() / "keep.xls";
  ASSERT_TRUE(WriteXlsFile(file, {BuildDeviceSheet(Exported(ThreeDevices()))}, nullptr));
  const auto before = fs::file_size(file);
  // A full disk, as far as this process is concerned (root included).
  auto* old = std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 1024;
  setrlimit(RLIMIT_FSIZE, &small);
  std::string error;
  const bool wrote = WriteXlsFile(file, {BuildDeviceSheet(Exported(ThreeDevices()))}, &error);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old);
  EXPECT_FALSE(wrote);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(fs::file_size(file), before);
  EXPECT_EQ(ImportDeviceSheet(file).devices.size(), 3u);
  for (const auto& e : fs::directory_iterator(file.parent_path())) EXPECT_EQ(e.path(), file);  // no temporary left
}

TEST(ExcelImport, SheetNamesShowOtherSheetsOfAWorkbook) {
  const fs::path file = kelvara::test::MakeTempDir() / "book.xls";
  XlsSheet notes{"Notes", {{XlsCell::Text("keep")}}};
  ASSERT_TRUE(WriteXlsFile(file, {notes, BuildDeviceSheet({})}, nullptr));
  const XlsReadResult r = ReadXlsFile(file, "", 10);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.sheetNames, (std::vector<std::string>{"Notes", "EXPORT"}));
}

TEST(Titles, LongTitlesAreCutAtACharacterBoundary) {
  std::string title;
  for (int i = 0; i < 60; ++i) title += "摄";  // 3 bytes each: 180 bytes
  const std::string hex = TitleHexFromText(title);
  EXPECT_LE(hex.size(), kTitleWidth - 1);
  EXPECT_EQ(hex.size(), 42u * 6);  // 126 bytes: 42 whole characters
  EXPECT_EQ(TitleTextFromHex(hex), title.substr(0, 126));
  EXPECT_EQ(CutTitleHex("41E691", 255), "41E691");
  EXPECT_EQ(CutTitleHex("41E691", 4), "41");
}

TEST(XmlExchange, ExportWritesTheCheckedRowsAndImportGivesThemBack) {
  auto devices = ThreeDevices();
  devices[0].lanConfig.gateway = "10.9.0.1";
  devices[0].lanConfig.dhcp = 1;
  devices[1].userConfig.accounts[0] = {"admin", "secret", "", ""};
  devices[2].serialNumber = "SN\"2&<x>'\x01";
  const std::string xml = BuildDeviceListXml(Exported(devices));
  EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n<root>\n    <ipcamera SN=\"SN0\" UUID=\"uuid-0\" "
                      "P2PID=\"P2P-0\" P2PTYPE=\"1\" MAC=\"00:11:22:33:44:00\" TYPE=\"DAV-ODUVE-IPC\" IPADDR=\"10.9.0.20\" "
                      "NETMASK=\"255.255.255.0\" GATEWAY=\"10.9.0.1\" DHCP=\"1\" DNS1=\"0.0.0.0\" DNS2=\"0.0.0.0\" "
                      "COMPORT=\"8091\" HTTPPORT=\"80\" RTSPPORT=\"554\" user=\"\" password=\"\" TITLE=\"",
                      0),
            0u)
      << xml;
  EXPECT_NE(xml.find("user=\"admin\" password=\"secret\""), std::string::npos);
  EXPECT_NE(xml.find("VERSION=\"V1.2.SN0\""), std::string::npos);
  const ImportResult back = DevicesFromXml(xml);
  ASSERT_FALSE(back.error) << back.error->Text();
  devices[1].userConfig = {};  // user name and password are not read back
  ExpectSameDevices(back.devices, devices, true);

  const fs::path file = kelvara::test::MakeTempDir() / "list.xml";
  std::ofstream(file) << xml;
  EXPECT_EQ(ImportDeviceListXml(file).devices.size(), 3u);
  EXPECT_EQ(ProposedXmlExportName(2026, 3, 5, 14, 30, 0), "IPC EXPORT 20260305-143000.xml");
}

TEST(XmlExchange, HostileAndWrongFilesAreRefusedWhole) {
  const std::string good = "<ipcamera SN=\"A\" IPADDR=\"10.0.0.2\" />";
  auto doc = [](const std::string& body) { return "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n<root>" + body + "</root>"; };
  const struct {
    const char* name;
    std::string text;
    std::string error;
  } cases[] = {
      {"wrong root", "<list>" + good + "</list>", "the root element is not \"root\""},
      {"entity tricks",
       "<?xml version=\"1.0\"?><!DOCTYPE root [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]><root>"
       "<ipcamera SN=\"&b;\" IPADDR=\"10.0.0.2\" /></root>",
       "document type definitions are not accepted"},
      {"huge attribute", doc(good + "<ipcamera SN=\"" + std::string(100000, 'x') + "\" IPADDR=\"10.0.0.3\" />"),
       "row 2, column SN: longer than 31 characters"},
      {"no serial", doc(good + "<ipcamera IPADDR=\"10.0.0.3\" />"), "row 2, column SN: no serial number"},
      {"bad address", doc(good + "<ipcamera SN=\"B\" IPADDR=\"10.0.0\" />"), "row 2, column IPADDR: not a dotted IPv4 address"},
      {"bad port", doc("<ipcamera SN=\"B\" IPADDR=\"10.0.0.3\" HTTPPORT=\"80x\" />"),
       "row 1, column HTTPPORT: not a decimal number from 0 to 65535"},
      {"cut file", doc(good).substr(0, 60), "not well-formed XML"},
      {"not XML", "IPADDR,SN", "not well-formed XML"},
      // A 700 KB file of nested elements overflowed TinyXML's recursion;
      // 200,000 attributes on one element took minutes.
      {"100,000 nested elements",
       [&] {
         std::string deep = doc(good);
         std::string open;
         for (int i = 0; i < 100'000; ++i) open += "<ipcamera>";
         return deep.insert(deep.find("<root>") + 6, open);
       }(),
       "the XML nests deeper than 128 elements"},
      {"200,000 attributes on one element",
       [&] {
         std::string wide = "<ipcamera SN=\"B\" IPADDR=\"10.0.0.3\"";
         for (int i = 0; i < 200'000; ++i) wide += " A" + std::to_string(i) + "=\"1\"";
         return doc(wide + " />");
       }(),
       "an XML element holds more than 1024 attributes"},
  };
  for (const auto& c : cases) {
    const ImportResult r = DevicesFromXml(c.text);
    ASSERT_TRUE(r.error) << c.name;
    EXPECT_EQ(r.error->Text().substr(0, c.error.size()), c.error) << c.name;
    EXPECT_TRUE(r.devices.empty()) << c.name;
  }
  // The largest list an export writes still imports.
  std::vector<DeviceSearchInfo> many;
  for (std::size_t i = 0; i < kMaxImportedDevices; ++i) many.push_back(Sample(static_cast<int>(i % 10)));
  std::vector<ExportedDevice> exported;
  for (const auto& d : many) exported.push_back({&d, "V5.0.1 build 20260101"});
  const ImportResult full = DevicesFromXml(BuildDeviceListXml(exported));
  ASSERT_FALSE(full.error) << full.error->Text();
  EXPECT_EQ(full.devices.size(), kMaxImportedDevices);
  // Other elements are skipped; the root's children only.
  const ImportResult ok = DevicesFromXml(doc("<note/>" + good + "<group>" + good + "</group>"));
  ASSERT_FALSE(ok.error);
  EXPECT_EQ(ok.devices.size(), 1u);
}

}  // namespace
}  // namespace kelvara::discovery
