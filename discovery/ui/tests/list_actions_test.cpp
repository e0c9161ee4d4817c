// The device list's commands without a network: list files that replace the
// list only when the whole file is good, exports, the default login, copies,
// the web page, the one-checked-row look-ups and the batch-debug rows. No
// command reaches a socket here: the controller has no adapters.
#include <QApplication>
#include <QProgressDialog>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include <fstream>

#include "common/language_table.h"
#include "common/save_param.h"
#include "common/ui/desktop_open.h"
#include "common/ui/user_prompts.h"
#include "discovery/core/device_list_xml.h"
#include "discovery/core/device_sheet.h"
#include "discovery/core/discovery_log.h"
#include "discovery/ui/device_list_controller.h"
#include "discovery/ui/list_actions.h"
#include "kelvara_test/test_env.h"

namespace kelvara::discovery {
namespace {

namespace fs = std::filesystem;

class ScriptedPrompts : public ui::UserPrompts {
 public:
  std::vector<std::string> shown;
  int answer = ui::kAnswerYes;
  QString file;
  int MessageBox(QWidget*, const QString& text, const QString&, ui::PromptIcon, ui::PromptButtons) override {
    shown.push_back(text.toStdString());
    return answer;
  }
  QString OpenFileName(QWidget*, const QString&, const QString&, const QString&) override { return file; }
  QString SaveFileName(QWidget*, const QString&, const QString&, const QString&) override { return file; }
  QString FolderName(QWidget*, const QString&, const QString&) override { return {}; }
};

DeviceSearchInfo Device(const std::string& serial, const std::string& ip) {
  DeviceSearchInfo r;
  r.serialNumber = serial;
  r.uuid = "u-" + serial;
  r.deviceType = "DAV-ODUVE-IPC";
  r.lanConfig.ipAddress = ip;
  r.lanConfig.netmask = "255.255.255.0";
  r.streamAccess.ptzPort = 8091;
  r.streamAccess.webPort = 80;
  r.streamAccess.videoPort = 554;
  return r;
}

struct Fixture {
  DeviceListController::Options Options() {
    DeviceListController::Options o;
    o.adapters = [] { return std::vector<Ipv4>{}; };  // nothing is ever sent
    o.loginDefaults = [] { return device::LoginDefaults{"admin", "470913"}; };
    // A PC without a gateway or DNS servers.
    o.localNetwork = [] { return LocalNetworkConfig{"192.168.1.20", "255.255.255.0", "0.0.0.0", "", ""}; };
    return o;
  }
  DeviceListController list{Options()};
  QWidget window;
  ScriptedPrompts prompts;
  fs::path dir = kelvara::test::MakeTempDir();
  CSaveParam settings{dir / "zq_cfg.xml"};
  int stopped = 0;
  std::vector<std::string> clipboard;
  std::vector<QString> opened;
  bool openWorks = true;  // a browser is set up
  std::unique_ptr<DeviceListActions> actions;

  Fixture() {
    list.CreateListWidget(&window);
    list.InitDeviceListColumns();
    DeviceListActions::Hooks h;
    h.prompts = &prompts;
    h.settings = &settings;
    h.stopSearchForImport = [this] { ++stopped; };
    h.setClipboard = [this](const std::string& t) { clipboard.push_back(t); };
    h.openUrl = [this](const QString& u) {
      opened.push_back(u);
      return openWorks;
    };
    h.firstAdapter = [](std::uint32_t& a, std::uint32_t& m, std::uint32_t& g) {
      a = 0xC0A80114, m = 0xFFFFFF00, g = 0xC0A80101;  // 192.168.1.20/24, gateway .1
      return true;
    };
    actions = std::make_unique<DeviceListActions>(list, h);
    for (int i = 0; i < 3; ++i) list.Map().AddOrUpdateDevice(Device("OLD" + std::to_string(i), "10.0.0." + std::to_string(i + 2)), "10.0.0.1", 0);
    list.RefreshDeviceList();
  }
  std::vector<std::string> Serials() {
    std::vector<std::string> s;
    for (int i = 0; i < list.List()->GetItemCount(); ++i)
      s.push_back(static_cast<DeviceListRow*>(list.List()->GetItemData(i))->m_key);
    return s;
  }
  // The imports, and the Excel export into a workbook, read on a worker;
  // the result comes back as a queued call.
  void WaitForTheFile() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (actions->ImportRunning() && std::chrono::steady_clock::now() < deadline)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_FALSE(actions->ImportRunning());
  }
  void ImportXml() {
    actions->OnImportXml();
    WaitForTheFile();
  }
  void ImportExcel() {
    actions->OnImportExcel();
    WaitForTheFile();
  }
  void ExportExcel() {
    actions->OnExportExcel();
    WaitForTheFile();
  }
  void Check(std::initializer_list<int> rows) {
    for (int i = 0; i < list.List()->GetItemCount(); ++i) list.List()->SetCheck(i, false);
    for (int r : rows) list.List()->SetCheck(r, true);
  }
};

const std::vector<std::string> kOld = {"OLD0", "OLD1", "OLD2"};

TEST(ListActions, BadFilesLeaveTheListAndTheSearchAsTheyWere) {
  Fixture f;
  const struct {
    const char* name;
    std::string content;
    bool xml;
  } files[] = {
      {"bad.xml", "<root><ipcamera SN=\"X\" IPADDR=\"300.1.1.1\" /></root>", true},
      {"entity.xml", "<!DOCTYPE root [<!ENTITY a \"b\">]><root/>", true},
      {"list.xml", "<list/>", true},
      // 100,000 nested elements overflowed TinyXML's recursion.
      {"deep.xml", "<root>" + [] {
         std::string s;
         for (int i = 0; i < 100'000; ++i) s += "<ipcamera>";
         return s;
       }(), true},
      {"text.xls", "not a workbook", false},
  };
  for (const auto& file : files) {
    const fs::path p = f.dir / file.name;
    std::ofstream(p) << file.content;
    f.prompts.file = QString::fromStdString(p.string());
    f.prompts.shown.clear();
    file.xml ? f.ImportXml() : f.ImportExcel();
    EXPECT_EQ(f.Serials(), kOld) << file.name;
    EXPECT_EQ(f.stopped, 0) << file.name;
    ASSERT_EQ(f.prompts.shown.size(), 1u) << file.name;
    if (std::string(file.name) == "deep.xml") {
      EXPECT_NE(f.prompts.shown[0].find("the XML nests deeper than 128 elements"), std::string::npos) << f.prompts.shown[0];
    }
  }
  const std::string failed = LangText("IMPORT_FAILED");
  EXPECT_EQ(f.prompts.shown[0].rfind((failed.empty() ? "导入失败" : failed) + "\r\n", 0), 0u) << f.prompts.shown[0];
  // An .xls with a bad row names the row and the column.
  XlsSheet sheet = BuildDeviceSheet({});
  const DeviceSearchInfo good = Device("NEW1", "10.1.0.2"), bad = Device("", "10.1.0.3");
  for (const auto* r : {&good, &bad}) sheet.rows.push_back(BuildDeviceSheet({{r, ""}}).rows[1]);
  ASSERT_TRUE(WriteXlsFile(f.dir / "row.xls", {sheet}, nullptr));
  f.prompts.file = QString::fromStdString((f.dir / "row.xls").string());
  f.prompts.shown.clear();
  f.ImportExcel();
  EXPECT_EQ(f.Serials(), kOld);
  ASSERT_EQ(f.prompts.shown.size(), 1u);
  EXPECT_NE(f.prompts.shown[0].find("row 3, column SN: no serial number"), std::string::npos) << f.prompts.shown[0];
  EXPECT_EQ(f.settings.import_file, (f.dir / "row.xls").string());
}

TEST(ListActions, GoodFilesReplaceTheListWithImportedRows) {
  Fixture f;
  const DeviceSearchInfo a = Device("NEW1", "10.1.0.2"), b = Device("NEW2", "10.1.0.3");
  ASSERT_TRUE(WriteXlsFile(f.dir / "good.xls", {BuildDeviceSheet({{&a, ""}, {&b, ""}})}, nullptr));
  f.prompts.file = QString::fromStdString((f.dir / "good.xls").string());
  f.ImportExcel();
  EXPECT_EQ(f.Serials(), (std::vector<std::string>{"NEW1", "NEW2"}));
  EXPECT_EQ(f.stopped, 1);
  const DeviceListRow* row = f.list.Rows().FindByKey("NEW1");
  ASSERT_TRUE(row);
  EXPECT_EQ(row->m_imported, 1);
  EXPECT_EQ(row->m_searchInfo.adapterAddress, "0.0.0.0");
  EXPECT_EQ(row->m_searchInfo.lanConfig.gateway, "");
  // The import's own text, or its built-in one where the language has none.
  const std::string ok = LangText("IMPORT_OK");
  ASSERT_FALSE(f.prompts.shown.empty());
  EXPECT_EQ(f.prompts.shown.back(), ok.empty() ? "导入成功" : ok);

  std::ofstream(f.dir / "good.xml") << BuildDeviceListXml({{&a, ""}});
  f.prompts.file = QString::fromStdString((f.dir / "good.xml").string());
  f.ImportXml();
  EXPECT_EQ(f.Serials(), (std::vector<std::string>{"NEW1"}));
}

TEST(ListActions, ExportsWriteTheCheckedRowsAndAskBeforeDroppingOtherSheets) {
  Fixture f;
  f.prompts.file = QString::fromStdString((f.dir / "out.xls").string());
  f.Check({});
  f.ExportExcel();
  EXPECT_FALSE(fs::exists(f.dir / "out.xls"));  // nothing checked: the selection message only
  f.Check({0, 2});
  f.ExportExcel();
  ImportResult back = ImportDeviceSheet(f.dir / "out.xls");
  ASSERT_FALSE(back.error);
  ASSERT_EQ(back.devices.size(), 2u);
  EXPECT_EQ(back.devices[1].serialNumber, "OLD2");

  // A workbook with another sheet: "no" keeps it untouched.
  const fs::path book = f.dir / "book.xls";
  ASSERT_TRUE(WriteXlsFile(book, {XlsSheet{"Notes", {{XlsCell::Text("keep")}}}}, nullptr));
  const auto before = fs::file_size(book);
  f.prompts.file = QString::fromStdString(book.string());
  f.prompts.answer = ui::kAnswerNo;
  f.ExportExcel();
  EXPECT_EQ(fs::file_size(book), before);
  EXPECT_EQ(ReadXlsFile(book, "", 10).sheetNames, (std::vector<std::string>{"Notes"}));

  f.prompts.file = QString::fromStdString((f.dir / "out.xml").string());
  f.actions->OnExportXml();
  const ImportResult xml = ImportDeviceListXml(f.dir / "out.xml");
  ASSERT_FALSE(xml.error);
  EXPECT_EQ(xml.devices.size(), 2u);
}

// A workbook that takes the reader over (the test build of the reader
// program, here one that closes its pipe and hangs): the command returns at
// once and the window stays free while the reader runs; at its time-out the
// window says why the import was refused, and the list is as it was. The
// export into such a workbook asks first: the reader could not tell whether
// it holds other sheets. A missing reader program is named.
TEST(ListActions, AHostileWorkbookOrAMissingReaderLeaveTheWindowFreeAndSayWhy) {
  Fixture f;
  const char* scale = std::getenv("KELVARA_TEST_TIME_SCALE");
  const int timeout_ms = 1000 * (scale && std::atoi(scale) > 0 ? std::atoi(scale) : 1);
  struct ShippedReaderAfter {
    ~ShippedReaderAfter() { UseXlsReader(); }
  } shippedAfter;
  ASSERT_EQ(UseXlsReader(kelvara::test::BinDir() / "kelvara-xls-reader-hostile", timeout_ms), "");
  const fs::path hang = f.dir / "hang.xls";
  std::ofstream(hang) << "KELVARA-MISBEHAVE:extract:hang-closed;";
  f.prompts.file = QString::fromStdString(hang.string());
  f.prompts.shown.clear();
  f.actions->OnImportExcel();
  EXPECT_TRUE(f.actions->ImportRunning());
  f.WaitForTheFile();
  EXPECT_EQ(f.Serials(), kOld);
  EXPECT_EQ(f.stopped, 0);
  const std::string stopped = "reading the workbook took longer than " + std::to_string(timeout_ms / 1000) +
                              " s; the reader was stopped";
  ASSERT_EQ(f.prompts.shown.size(), 1u);
  EXPECT_NE(f.prompts.shown[0].find(stopped), std::string::npos) << f.prompts.shown[0];

  f.Check({0});
  f.prompts.answer = ui::kAnswerNo;
  f.prompts.shown.clear();
  f.ExportExcel();
  ASSERT_EQ(f.prompts.shown.size(), 1u);
  EXPECT_EQ(f.prompts.shown[0], LangText("EXPORT_SHEETS_UNREAD") + "\r\n" + stopped);
  EXPECT_EQ(fs::file_size(hang), std::string("KELVARA-MISBEHAVE:extract:hang-closed;").size());

  const fs::path missing = f.dir / "gone" / kXlsReaderProgram;
  UseXlsReader(missing);
  ASSERT_TRUE(WriteXlsFile(f.dir / "good.xls", {BuildDeviceSheet({})}, nullptr));
  f.prompts.file = QString::fromStdString((f.dir / "good.xls").string());
  f.prompts.shown.clear();
  f.ImportExcel();
  EXPECT_EQ(f.Serials(), kOld);
  ASSERT_EQ(f.prompts.shown.size(), 1u);
  EXPECT_NE(f.prompts.shown[0].find("the workbook reader " + missing.string() + " cannot be used (No such file or directory)"),
            std::string::npos)
      << f.prompts.shown[0];
}

TEST(ListActions, RowActionsAndOneCheckedRowLookups) {
  Fixture f;
  f.list.List()->selectRow(1);
  f.actions->CopyDeviceFields(menu_id::kCopySerial);
  f.actions->CopySearchReply();
  EXPECT_EQ(f.clipboard, (std::vector<std::string>{"OLD1", ""}));
  f.prompts.shown.clear();
  f.actions->OnOpenWeb();
  EXPECT_EQ(f.opened, (std::vector<QString>{QStringLiteral("http://10.0.0.3:80")}));
  EXPECT_TRUE(f.prompts.shown.empty());
  // No browser: the box names the address.
  f.openWorks = false;
  f.actions->OnOpenWeb();
  EXPECT_EQ(f.prompts.shown, std::vector<std::string>{ui::OpenFailedText("http://10.0.0.3:80").toStdString()});
  f.opened.pop_back();
  f.openWorks = true;
  f.list.Map().Modify("OLD1", [](DeviceSearchInfo& r) { r.streamAccess.webPort = 0; });
  f.list.RefreshDeviceList();
  f.actions->OnOpenWeb();
  EXPECT_EQ(f.opened.size(), 1u);  // no valid port: nothing opens

  f.Check({0, 1});
  f.prompts.shown.clear();
  EXPECT_EQ(f.actions->GetSelectedLoginHandle(), -1);
  EXPECT_EQ(f.actions->GetSelectedSerial(), "");
  EXPECT_EQ(f.prompts.shown.size(), 2u);
  f.Check({2});
  EXPECT_EQ(f.actions->GetSelectedLoginHandle(), 0);
  EXPECT_EQ(f.actions->GetSelectedSerial(), "OLD2");

  // Hot-track: the row under the mouse in the hot colour, the others white.
  f.actions->OnListHotTrack(1, 0);
  EXPECT_EQ(f.list.List()->GetCellBkColor(1, 0), controls::MakeColorRef(0, 191, 255));
  EXPECT_EQ(f.list.List()->GetCellBkColor(0, 0), controls::MakeColorRef(255, 255, 255));
  f.actions->OnListHotTrack(-1, -1);
  EXPECT_EQ(f.list.List()->GetCellBkColor(1, 0), controls::MakeColorRef(255, 255, 255));

  // The selected video pane's device: its rows in the pane colour, back to
  // white when another device's pane is selected or none is.
  auto row_at = [&f](int i) { return static_cast<DeviceListRow*>(f.list.List()->GetItemData(i)); };
  f.list.Rows().SetLoginHandle(*row_at(0), 7);
  f.list.Rows().SetLoginHandle(*row_at(2), 9);
  const controls::ColorRef pane = controls::MakeColorRef(0, 245, 255), white = controls::MakeColorRef(255, 255, 255);
  f.actions->MarkPaneDeviceRows(9);
  EXPECT_EQ(f.list.List()->GetCellBkColor(2, 3), pane);
  EXPECT_EQ(f.list.List()->GetCellBkColor(0, 3), white);
  EXPECT_EQ(f.list.List()->GetCellBkColor(1, 3), white);
  f.actions->MarkPaneDeviceRows(0);  // a pane of a device not logged in marks no row
  EXPECT_EQ(f.list.List()->GetCellBkColor(1, 3), white);
  EXPECT_EQ(f.list.List()->GetCellBkColor(2, 3), white);
  f.actions->MarkPaneDeviceRows(7);
  EXPECT_EQ(f.list.List()->GetCellBkColor(0, 0), pane);
  EXPECT_EQ(f.list.List()->GetCellBkColor(2, 0), white);
  f.actions->MarkPaneDeviceRows(std::nullopt);
  EXPECT_EQ(f.list.List()->GetCellBkColor(0, 0), white);

  // Select all follows the box, as one change of all rows: what follows the
  // checks (the device logs) hears of it once, not once per row.
  int perRow = 0, all = 0;
  f.list.onRowCheckChanged = [&perRow](DeviceListRow&, bool) { ++perRow; };
  f.list.onAllChecksChanged = [&all] { ++all; };
  f.actions->OnSelectAll(true);
  EXPECT_EQ(f.actions->GetCheckedCount(), 3);
  f.actions->OnSelectAll(false);
  EXPECT_EQ(f.actions->GetCheckedCount(), 0);
  EXPECT_EQ(perRow, 0);
  EXPECT_EQ(all, 2);
}

TEST(ListActions, DefaultLoginIsSavedOnlyWithAUserName) {
  Fixture f;
  DeviceListActions::Hooks h;
  h.prompts = &f.prompts;
  h.settings = &f.settings;
  dialogs::DefaultUserValues answer{"operator", "pw"};
  int changed = 0;
  h.runDefaultUserDialog = [&](dialogs::DefaultUserValues& v) {
    EXPECT_EQ(v.userName, f.settings.default_user);
    v = answer;
    return true;
  };
  h.defaultLoginChanged = [&] { ++changed; };
  DeviceListActions actions(f.list, h);
  actions.OnLoginSettings();
  EXPECT_EQ(f.settings.default_user, "operator");
  EXPECT_EQ(CSaveParam(f.dir / "zq_cfg.xml").default_password, "pw");
  answer = {"", "other"};
  actions.OnLoginSettings();
  EXPECT_EQ(f.settings.default_password, "pw");
  EXPECT_EQ(changed, 1);
}

TEST(ListActions, BatchDebugRowsFillTheConfirmedRange) {
  Fixture f;
  DeviceListActions::Hooks h;
  h.prompts = &f.prompts;
  h.firstAdapter = [](std::uint32_t& a, std::uint32_t& m, std::uint32_t& g) {
    a = 0xC0A80114, m = 0xFFFFFF00, g = 0;
    return true;
  };
  dialogs::IpSettingValues proposed;
  h.runIpDialog = [&](dialogs::IpSettingValues& v, bool range, int count, bool full) {
    proposed = v;
    EXPECT_TRUE(range);
    EXPECT_EQ(count, 253);
    EXPECT_FALSE(full);
    v.startAddress = "10.0.0.2";
    v.endAddress = "10.0.0.6";
    return true;
  };
  DeviceListActions actions(f.list, h);
  actions.FillBatchDebugRows();
  EXPECT_EQ(proposed.startAddress, "192.168.1.2");
  EXPECT_EQ(proposed.gateway, "192.168.1.1");  // no gateway: network + 1
  EXPECT_EQ(proposed.dns1, kFallbackDns1);
  EXPECT_EQ(proposed.dns2, kFallbackDns2);
  const auto serials = f.Serials();
  EXPECT_EQ(serials, (std::vector<std::string>{"batch_debug_000", "batch_debug_001", "batch_debug_002",
                                               "batch_debug_003", "batch_debug_004"}));
  EXPECT_EQ(f.list.Rows().FindByKey("batch_debug_004")->m_searchInfo.lanConfig.macAddress, "00:00:00:00:00:04");
}

// "Assign a free address" when every address answers: the probe's progress
// box is gone before the error box opens, so it cannot stay on top of it.
TEST(ListActions, TheProgressBoxIsGoneBeforeTheNoFreeAddressError) {
  Fixture f;
  f.window.show();
  class WatchingPrompts : public ScriptedPrompts {
   public:
    QWidget* window = nullptr;
    std::vector<bool> progressShown;
    int MessageBox(QWidget* owner, const QString& text, const QString& caption, ui::PromptIcon icon,
                   ui::PromptButtons buttons) override {
      bool shown = false;
      for (QProgressDialog* p : window->findChildren<QProgressDialog*>()) shown = shown || p->isVisible();
      progressShown.push_back(shown);
      return ScriptedPrompts::MessageBox(owner, text, caption, icon, buttons);
    }
  } prompts;
  prompts.window = &f.window;
  auto release = std::make_shared<std::atomic<bool>>(false);
  DeviceListActions::Hooks h;
  h.prompts = &prompts;
  h.window = &f.window;
  // Every address answers, once the box has shown.
  h.probe = [release](std::uint32_t) {
    while (!release->load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return 1;
  };
  DeviceListActions actions(f.list, h);
  f.list.List()->selectRow(0);
  actions.OnSetStaticIp();
  ASSERT_TRUE(actions.ProbeRunning());
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        for (QProgressDialog* p : f.window.findChildren<QProgressDialog*>())
          if (p->isVisible()) return true;
        return false;
      },
      5000));
  release->store(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !prompts.shown.empty(); }, 10000));
  EXPECT_EQ(prompts.shown, std::vector<std::string>{LangText("NO_FREE_IP")});
  EXPECT_EQ(prompts.progressShown, std::vector<bool>{false});
}

// "Assign a free address" where no probe can run at all: the address counts
// as free and the debug log says it could not be checked; an address that
// answers is never handed out.
TEST(ListActions, FreeAddressThatCouldNotBeCheckedIsAssignedWithALogLine) {
  Fixture f;
  std::vector<std::string> lines;
  SetLogSink([&lines](const std::string& line) { lines.push_back(line); });
  DeviceListActions::Hooks h;
  h.prompts = &f.prompts;
  h.window = &f.window;
  // 192.168.1.2 answers; nothing can probe the others.
  h.probe = [](std::uint32_t host) { return host == 0xC0A80102 ? 1 : -1; };
  DeviceListActions actions(f.list, h);
  f.list.List()->selectRow(0);
  DeviceListRow* row = static_cast<DeviceListRow*>(f.list.List()->GetItemData(0));
  actions.OnSetStaticIp();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !actions.ProbeRunning(); }, 10000));
  SetLogSink({});
  EXPECT_TRUE(f.prompts.shown.empty());
  EXPECT_EQ(row->m_searchInfo.lanConfig.ipAddress, "192.168.1.3");
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "got one ip: 192.168.1.3\n"), 1);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "192.168.1.3 could not be checked: no address probe could run\n"),
            1);
}

}  // namespace
}  // namespace kelvara::discovery
