// The device list's columns, its row texts and the 200-ms refresh.
#include <gtest/gtest.h>

#include "discovery/core/device_rows.h"
#include "discovery/core/search_reply.h"
#include "discovery/tests/recording_view.h"
#include "discovery/tests/reply_fixture.h"

namespace kelvara::discovery {
namespace {

TEST(ColumnMap, SwitchesChooseTheColumns) {
  struct {
    ColumnSwitches sw;
    int count;
  } cases[] = {{{false, 0}, 20}, {{false, 1}, 21}, {{true, 0}, 14}, {{true, 1}, 15}, {{false, 2}, 20}};
  for (const auto& c : cases) {
    ColumnMap m;
    m.BuildColumnMap(c.sw);
    EXPECT_EQ(m.ShownCount(), c.count);
    for (int id = 3; id <= 8; ++id) EXPECT_EQ(m.GetColumnIndex(id), -1);
    EXPECT_EQ(m.GetColumnIndex(kColModel) < 0, c.sw.listShowLess);
    EXPECT_EQ(m.GetColumnIndex(-1), -1);
    EXPECT_EQ(m.GetColumnIndex(27), -1);
  }
  ColumnMap plain, styled;
  plain.BuildColumnMap({false, 0});
  styled.BuildColumnMap({false, 1});
  EXPECT_EQ(styled.GetColumnIndex(kColPreview), plain.GetColumnIndex(kColTitle) + 1);
  EXPECT_EQ(styled.GetColumnIndex(kColVersion), plain.GetColumnIndex(kColVersion) + 1);
  EXPECT_EQ(plain.GetColumnIndex(kColOemSerial), 19);
  EXPECT_EQ(plain.ColumnSpec([](const char* k) { return std::string("[") + k + "]"; }).substr(0, 32),
            "[IP],120;[HTTP_PORT],60;[MODEL],");
  const std::string spec = plain.ColumnSpec([](const char* k) { return std::string(k); });
  EXPECT_NE(spec.find("UUID,50;OEM SN,130;"), std::string::npos);
}

RowFormatContext Context() {
  RowFormatContext c;
  c.labels = RowLabels::FromLookup([](const char* key) { return std::string(key); });
  return c;
}

TEST(RowFormat, TextsPerColumn) {
  test::FakeDevice d;
  d.serial = "zq0001abc";
  d.deviceType = "DAV-ODUVE-NVS-NVR-8CH_V3.1";
  d.uptime_s = 86400 + 3600 + 60 + 1;
  d.extraSerialAttrs = "P2PSTATUS=\"1\" P2PTYPE=\"14\"";
  DeviceSearchInfo info = *ParseSearchReply(ReplyText(d));
  info.adapterAddress = "10.77.0.1";
  const RowTexts t = FormatRow(info, Context());
  auto cell = [&](int id) { return t.cells[static_cast<std::size_t>(id)].value_or("<none>"); };
  EXPECT_EQ(cell(kColIp), "10.77.1.10");
  EXPECT_EQ(cell(kColHttpPort), "80");
  EXPECT_EQ(cell(kColModel), "NVR-8CH");
  EXPECT_EQ(cell(kColSerial), "ZQ0001ABC");
  EXPECT_EQ(info.serialNumber, "zq0001abc") << "the record keeps the device's text";
  EXPECT_EQ(cell(kColAllnet), "ENABLE");
  EXPECT_EQ(cell(kColTitle), "\xE5\x89\x8D\xE9\x97\xA8");
  EXPECT_EQ(cell(kColAfVersion), "AF1.0");
  EXPECT_EQ(cell(kColModule4gVersion), "M4G");
  EXPECT_EQ(cell(kColCloudStatus), "IDS_STR_ONLINE");
  EXPECT_EQ(cell(kColP2pType), "Quorvista");
  EXPECT_EQ(cell(kColUptime), "1 DAY 1 HOUR 1 MIN 1 SEC ");
  EXPECT_EQ(cell(kColNetcard), "10.77.0.1");
  for (int id : {kColPreview, kColVersion, kColState, kColSdCard})
    EXPECT_FALSE(t.cells[static_cast<std::size_t>(id)]) << id;
  info.uptime_s = 0;
  info.p2pStatus = -1;
  const RowTexts t2 = FormatRow(info, Context());
  EXPECT_FALSE(t2.cells[kColUptime]);
  EXPECT_FALSE(t2.cells[kColCloudStatus]);
}

TEST(RowFormat, Helpers) {
  RowLabels l = Context().labels;
  EXPECT_EQ(UptimeText(3600, l), "1 HOUR ");
  EXPECT_EQ(UptimeText(59, l), "59 SEC ");
  EXPECT_EQ(UptimeText(0, l), "");
  struct {
    const char* type;
    const char* model;
  } models[] = {{"DAV-ODUVE-IPC_V2_X", "IPC"}, {"NVS-NVR-16", "NVR-16"}, {"NVS_V", "NVS"}, {"NVR", "NVR"}};
  for (auto m : models) EXPECT_EQ(ModelText(m.type), m.model);
  RowFormatContext c = Context();
  const char* names[] = {"", "Danale", "QELM", "GOOLINK", "ZAROFI", "QQ", "TUTK", "QUVELDA",
                         "RM64Plus", "TUYA", "Quorvista", "", "", "", "Quorvista", ""};
  for (int type = 0; type < 16; ++type) EXPECT_EQ(P2pTypeName(type, c), names[type]) << type;
  c.uiLanguage = "zh-cn";
  EXPECT_EQ(P2pTypeName(10, c), "RM64Pro");
  c.customCloudType = "MyCloud";
  EXPECT_EQ(P2pTypeName(14, c), "MyCloud");
  c.p2pTypeOverride = "X";
  EXPECT_EQ(P2pTypeName(0, c), "X");
  EXPECT_EQ(TitleFromHex("414243"), "ABC");
  EXPECT_EQ(TitleFromHex("41ff42"), "A\xEF\xBF\xBD" "B") << "invalid UTF-8 is replaced";
  EXPECT_EQ(TitleFromHex("4100"), "A");
  EXPECT_EQ(TitleFromHex("f09f9880"), "\xF0\x9F\x98\x80") << "four-byte characters survive";
  EXPECT_EQ(TitleFromHex(std::string(5000, '4')).size(), 512u);
}

class Refresh : public ::testing::Test {
 protected:
  Refresh() : rows(columns, view) {
    columns.BuildColumnMap({});
    rows.SetFormatContext(Context());
  }
  void Reply(const std::string& serial, const std::string& ip, int uptime = 100,
             const std::string& version = "V1") {
    test::FakeDevice d;
    d.serial = serial;
    d.ip = ip;
    d.uptime_s = uptime;
    d.version = version;
    map.AddOrUpdateDevice(*ParseSearchReply(ReplyText(d)), "10.77.0.1", 1);
  }
  ColumnMap columns;
  test::RecordingView view;
  DeviceMap map;
  DeviceRows rows;
};

TEST_F(Refresh, NewChangedAndUnchangedRecords) {
  Reply("B", "10.0.0.2");
  Reply("A", "10.0.0.1");
  auto relogin = rows.RefreshDeviceList(map, {});
  ASSERT_EQ(rows.Count(), 2u);
  EXPECT_EQ(rows.At(0).m_key, "A") << "new rows follow the map's key order";
  ASSERT_EQ(relogin.size(), 2u);
  EXPECT_EQ(relogin[0].oldHandle, 0);
  DeviceListRow* a = rows.FindByKey("A");
  EXPECT_EQ(view.Cell(a, columns.GetColumnIndex(kColIp)), "10.0.0.1");

  // Nothing changed: nothing written.
  const int before = view.writes;
  EXPECT_TRUE(rows.RefreshDeviceList(map, {}).empty());
  Reply("A", "10.0.0.1");
  EXPECT_TRUE(rows.RefreshDeviceList(map, {}).empty());
  EXPECT_EQ(view.writes, before) << "an identical reply rewrites no cell";

  // Only the uptime changed: one cell.
  Reply("A", "10.0.0.1", 101);
  rows.RefreshDeviceList(map, {});
  EXPECT_EQ(view.writes, before + 1);
  EXPECT_EQ(view.Cell(a, columns.GetColumnIndex(kColUptime)), "1 MIN 41 SEC ");

  // A new address: logged out with the old handle, handle 0 until the new login.
  rows.SetLoginHandle(*a, 7);
  Reply("A", "10.0.0.9");
  relogin = rows.RefreshDeviceList(map, {});
  ASSERT_EQ(relogin.size(), 1u);
  EXPECT_EQ(relogin[0].row, a);
  EXPECT_EQ(relogin[0].oldHandle, 7);
  EXPECT_EQ(a->m_loginHandle, 0);
  EXPECT_EQ(rows.FindByHandle(7), nullptr);
  EXPECT_EQ(a->m_searchInfo.lanConfig.ipAddress, "10.0.0.9");
  EXPECT_EQ(rows.Count(), 2u);
}

TEST_F(Refresh, LoginVersionFillsAMissingSearchVersionAndRowStateSurvives) {
  Reply("A", "10.0.0.1", 100, "");
  rows.RefreshDeviceList(map, {});
  DeviceListRow* a = rows.FindByKey("A");
  a->m_loginVersion = "V9-login";
  a->m_abilityText = "only_audio";
  Reply("A", "10.0.0.1", 200, "");
  rows.RefreshDeviceList(map, {});
  EXPECT_EQ(a->m_searchInfo.version, "V9-login");
  EXPECT_EQ(a->m_abilityText, "only_audio");
}

TEST_F(Refresh, LoginVersionReachesTheRecordAtTheNextTickWithoutAFurtherReply) {
  Reply("A", "10.0.0.1", 100, "");
  Reply("B", "10.0.0.2", 100, "V-search");
  rows.RefreshDeviceList(map, {});
  DeviceListRow* a = rows.FindByKey("A");
  DeviceListRow* b = rows.FindByKey("B");
  // The login answers after the last reply was taken; the search has ended.
  rows.SetLoginVersion(*a, "V9-login");
  rows.SetLoginVersion(*b, "V9-login");
  rows.RefreshDeviceList(map, {});
  EXPECT_EQ(a->m_searchInfo.version, "V9-login");
  EXPECT_EQ(b->m_searchInfo.version, "V-search");  // a search version stays
  // A later reply without a version keeps it as well.
  Reply("A", "10.0.0.1", 300, "");
  rows.RefreshDeviceList(map, {});
  EXPECT_EQ(a->m_searchInfo.version, "V9-login");
}

TEST_F(Refresh, HandleLookupNeverMatchesFailedLogins) {
  Reply("A", "10.0.0.1");
  Reply("B", "10.0.0.2");
  rows.RefreshDeviceList(map, {});
  rows.SetLoginHandle(rows.At(0), -1);
  rows.SetLoginHandle(rows.At(1), 0);
  EXPECT_EQ(rows.FindByHandle(0), nullptr);
  EXPECT_EQ(rows.FindByHandle(-1), nullptr);
  rows.SetLoginHandle(rows.At(1), 5);
  EXPECT_EQ(rows.FindByHandle(5), &rows.At(1));
}

class RecordingProduction : public ProductionActions {
 public:
  void PrintLabelAndRestore(const DeviceSearchInfo& r) override { printed.push_back(r.serialNumber); }
  void SwitchToDhcp(const DeviceSearchInfo& r) override {
    dhcp.push_back(r.serialNumber);
    EXPECT_EQ(r.lanConfig.dhcp, 1);
  }
  std::vector<std::string> printed, dhcp;
};

TEST_F(Refresh, ProductionModeLabelsOnceThenDhcpAndNoLogins) {
  test::FakeDevice d;
  d.serial = "P";
  d.p2pId = "cloud-id";
  map.AddOrUpdateDevice(*ParseSearchReply(ReplyText(d)), "0.0.0.0", 1);
  Reply("Q", "10.0.0.2");  // no P2P id
  RecordingProduction production;
  DeviceRows::RefreshOptions options;
  options.productionMode = true;
  options.production = &production;
  EXPECT_TRUE(rows.RefreshDeviceList(map, options).empty());
  EXPECT_EQ(production.printed, std::vector<std::string>{"P"});
  EXPECT_EQ(production.dhcp, std::vector<std::string>{"Q"});
  rows.RefreshDeviceList(map, options);
  EXPECT_EQ(production.printed.size(), 1u);
  EXPECT_EQ(production.dhcp, (std::vector<std::string>{"Q", "P", "Q"}));
  EXPECT_EQ(map.CopyDeviceRecord("Q")->lanConfig.dhcp, 1);
}

// A renewal formats only the columns whose inputs changed, yet a cell that
// something else wrote, or texts of a new context, are formatted again.
TEST_F(Refresh, RenewalRewritesForeignCellsAndNewContextTexts) {
  int matches = 0;
  RowFormatContext c = Context();
  c.matchKnownDevice = [&](const std::string&, const std::string& p2pId) {
    ++matches;
    return p2pId.empty() ? 0 : 1;
  };
  rows.SetFormatContext(c);
  Reply("A", "10.0.0.1");
  rows.RefreshDeviceList(map, {});
  DeviceListRow* a = rows.FindByKey("A");
  const int title = columns.GetColumnIndex(kColTitle), uptime = columns.GetColumnIndex(kColUptime);
  const std::string shownTitle = view.Cell(a, title);
  EXPECT_EQ(matches, 1);

  rows.SetCellTextIfChanged(*a, kColTitle, "fetch failed");
  Reply("A", "10.0.0.1", 101);
  rows.RefreshDeviceList(map, {});
  EXPECT_EQ(view.Cell(a, title), shownTitle) << "the record's title replaces another writer's text";
  EXPECT_EQ(view.Cell(a, uptime), "1 MIN 41 SEC ");
  EXPECT_EQ(matches, 1) << "serial number and P2P id unchanged: the colour stands";

  Reply("A", "10.0.0.1", 0);
  rows.RefreshDeviceList(map, {});
  EXPECT_EQ(view.Cell(a, uptime), "1 MIN 41 SEC ") << "an uptime of 0 leaves the cell";

  test::FakeDevice d;
  d.serial = "A";
  d.ip = "10.0.0.1";
  d.p2pId = "p2p-a";
  map.AddOrUpdateDevice(*ParseSearchReply(ReplyText(d)), "10.77.0.1", 1);
  rows.RefreshDeviceList(map, {});
  EXPECT_EQ(matches, 2);
  EXPECT_EQ(view.colours[a], RowColour::kRed);

  c.labels = RowLabels::FromLookup([](const char* key) { return std::string("<") + key + ">"; });
  rows.SetFormatContext(c);
  map.AddOrUpdateDevice(*ParseSearchReply(ReplyText(d)), "10.77.0.1", 1);
  rows.RefreshDeviceList(map, {});
  EXPECT_EQ(view.Cell(a, columns.GetColumnIndex(kColAllnet)), "<ENABLE>")
      << "a new context formats every column, changed or not";
}

TEST_F(Refresh, HiddenColumnsAreSkippedAndClearFreesRows) {
  ColumnMap less;
  less.BuildColumnMap({true, 0});
  test::RecordingView v2;
  DeviceRows lessRows(less, v2);
  lessRows.SetFormatContext(Context());
  Reply("A", "10.0.0.1");
  lessRows.RefreshDeviceList(map, {});
  for (const auto& [key, text] : v2.cells) EXPECT_LT(key.second, less.ShownCount());
  EXPECT_EQ(lessRows.At(0).shownText[kColModel], "");
  lessRows.Clear();
  EXPECT_EQ(lessRows.Count(), 0u);
  EXPECT_EQ(lessRows.FindByKey("A"), nullptr);
}

TEST_F(Refresh, RecentlySeenRecordsGoToTheRecoveryHook) {
  Reply("A", "10.0.0.1");  // seen at tick 1
  Reply("B", "10.0.0.2");
  map.Modify("B", [](DeviceSearchInfo& r) { r.lastSeenTick_ms = 5000; });
  std::vector<std::string> seen;
  DeviceRows::RefreshOptions options;
  options.now_ms = 6000;
  options.recentlySeen = [&](const DeviceSearchInfo& r) { seen.push_back(r.serialNumber); };
  rows.RefreshDeviceList(map, options);
  EXPECT_EQ(seen, std::vector<std::string>{"B"});
}

// Rows are never removed while a search runs, so the list keeps the map's
// bounds itself: 2,048 rows, and 512 of devices first heard from one sender
// however often the map made room for new serial numbers of it. What was not
// listed is counted for the log and the totals line.
TEST_F(Refresh, RowsStopAtTheMapsBoundsInAllAndPerSender) {
  DeviceSearchInfo r = *ParseSearchReply(ReplyText(test::FakeDevice{}));
  std::uint32_t tick = 1;
  const auto reply = [&](const std::string& serial, const std::string& sender) {
    r.serialNumber = serial;
    map.AddOrUpdateDevice(r, "10.77.0.1", ++tick, sender);
  };
  // One host whose every reply brings new serial numbers, and a map that
  // made room for them each time (emptied here; evictions in a full map).
  for (int round = 0; round < 3; ++round) {
    map.Clear();
    for (int i = 0; i < 400; ++i) reply("R" + std::to_string(round) + "-" + std::to_string(i), "10.77.2.1");
    rows.RefreshDeviceList(map, {});
  }
  EXPECT_EQ(rows.Count(), kMaxDevicesPerSender);
  DeviceRows::NotListed n = rows.TakeNotListed();
  EXPECT_EQ(n.records, 3 * 400 - kMaxDevicesPerSender);
  EXPECT_EQ(n.ofFullSender, n.records);
  EXPECT_EQ(n.firstFullSender, "10.77.2.1");
  EXPECT_EQ(rows.TakeNotListed().records, 0u) << "taken once";
  EXPECT_TRUE(rows.SomeNotListed());

  // Many hosts: the list stops at the map's size; imports count only there.
  for (int host = 0; host < 8; ++host)
    for (int i = 0; i < 300; ++i) reply("H" + std::to_string(host) + "-" + std::to_string(i), "10.77.3." + std::to_string(host));
  rows.RefreshDeviceList(map, {});
  EXPECT_EQ(rows.Count(), kMaxDevices);
  reply("IMPORTED", "");
  rows.RefreshDeviceList(map, {});
  EXPECT_EQ(rows.FindByKey("IMPORTED"), nullptr);
  n = rows.TakeNotListed();
  EXPECT_GT(n.records, 0u);
  EXPECT_EQ(n.ofFullSender, 0u);
  // A listed device still renews its row.
  r.lanConfig.ipAddress = "10.77.9.9";
  reply("R0-0", "10.77.2.1");
  rows.RefreshDeviceList(map, {});
  EXPECT_EQ(rows.FindByKey("R0-0")->m_searchInfo.lanConfig.ipAddress, "10.77.9.9");

  rows.Clear();
  map.Clear();
  EXPECT_FALSE(rows.SomeNotListed());
  reply("AFTER", "10.77.2.1");
  rows.RefreshDeviceList(map, {});
  EXPECT_NE(rows.FindByKey("AFTER"), nullptr);
}

TEST(Totals, Text) {
  auto key = [](const char* k) { return std::string(k); };
  EXPECT_EQ(TotalsText(false, 3, 1, key), "STR_TOTAL:3 STR_SELECTED:1 ");
  EXPECT_EQ(TotalsText(true, 0, 0, key), "CStorePlayBack_tip_searchingSTR_TOTAL:0 STR_SELECTED:0 ");
  EXPECT_EQ(TotalsText(false, 2048, 0, key, true), "STR_TOTAL:2048 STR_SELECTED:0 DEVICES_NOT_LISTED");
}

}  // namespace
}  // namespace kelvara::discovery
