// Snapshot, time-lapse and record export on the window's list: the button
// and menus reach the right rows, the date dialog's row is found again by
// its serial, and each row ends in its state when the file is stored.
#include <QApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "device/core/event_texts.h"
#include "device/tests/command_fixture.h"
#include "device/ui/batch_command_host.h"
#include "device/ui/batch_file_commands.h"
#include "discovery/core/search_reply.h"
#include "discovery/tests/reply_fixture.h"

namespace kelvara::device {
namespace {

using namespace std::chrono_literals;

class InstantLogin : public DeviceSdk {
 public:
  int Login(const std::string&, unsigned short, const std::string&, const std::string&) override { return ++next; }
  void Logout(int) override {}
  void LogoutAll() override {}
  void SetAutoReconnect(int, int) override {}
  int next = 100;
};

template <typename Pred>
bool Pump(Pred pred) {
  const auto end = std::chrono::steady_clock::now() + 5000ms;
  while (std::chrono::steady_clock::now() < end) {
    QCoreApplication::processEvents();
    if (pred()) return true;
    std::this_thread::sleep_for(2ms);
  }
  return pred();
}

class BatchFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lo.sdk = &login;
    lo.lookup = [](const char* key) { return std::string(key); };
    lo.adapters = [] { return std::vector<discovery::Ipv4>{}; };
    list = std::make_unique<discovery::DeviceListController>(lo);
    control = list->CreateListWidget(&window);
    list->InitDeviceListColumns();
    AddDevices();
    DeviceCommands::Options o;
    o.sdk = &sdk;
    o.lookup = [](const char* key) { return std::string(key); };
    o.documentsDir = [this] { return docs; };
    docs = kelvara::test::MakeTempDir("docs");
    host = std::make_unique<DeviceCommandHost>(*list, o, nullptr, &window);
    BatchCommandHost::Hooks bh;
    bh.showSummary = [this](const std::string& s) { summaries.push_back("host: " + s); };
    batch = std::make_unique<BatchCommandHost>(*host, bh);
    BatchFileCommands::Hooks hooks;
    hooks.checkSelection = [this] { return static_cast<int>(control->CountItems(controls::kStateChecked)); };
    hooks.selectedIndex = [this] { return selected; };
    hooks.askDay = [this]() -> std::optional<FileRequestDay> {
      ++dialogs;
      if (duringDialog) duringDialog();
      return day;
    };
    hooks.infoBox = [this](const char* text, const char*) { boxes.push_back(text); };
    hooks.showSummary = [this](const std::string& s) { summaries.push_back(s); };
    files = std::make_unique<BatchFileCommands>(*host, hooks);
    LogIn({101, 102, 103});
    list->Rows().SetLoginHandle(*host->RowAt(3), 0);
    host->RowAt(3)->m_online = true;
    sdk.calls.clear();
  }
  void TearDown() override {
    files.reset();
    batch.reset();
  }
  void AddDevices() {
    for (int i = 0; i < 4; ++i) {
      discovery::test::FakeDevice d;
      d.serial = "DEV" + std::to_string(i);
      d.ip = "10.77.1." + std::to_string(10 + i);
      list->Map().AddOrUpdateDevice(*discovery::ParseSearchReply(discovery::test::ReplyText(d)), "10.77.0.1", 1);
    }
    list->RefreshDeviceList();
  }
  void LogIn(std::vector<int> handles) {
    std::thread([&] {
      for (int h : handles) StatusEventCallBack(h, 4, "", &list->EventSink());
    }).join();
    ASSERT_TRUE(Pump([&] { return list->Rows().FindByHandle(handles.back()) &&
                                  list->Rows().FindByHandle(handles.back())->m_online; }));
  }
  void Event(int handle, int type, const std::string& data) {
    std::thread([&] { StatusEventCallBack(handle, type, data.c_str(), &list->EventSink()); }).join();
  }
  void Alarm(int handle, int code, const std::string& detail) {
    DeviceAlarmInfo a;
    a.alarmCode = code;
    a.detail = detail;
    const std::string record = a.ToRecord();
    std::thread([&] { StatusEventCallBack(handle, 23, record.data(), &list->EventSink()); }).join();
  }
  std::string State(int index) {
    return control->GetItemText(index, list->Columns().GetColumnIndex(discovery::kColState)).toStdString();
  }
  std::vector<test::SdkCall> Calls(const std::string& fn) {
    std::vector<test::SdkCall> out;
    for (const auto& c : sdk.calls)
      if (c.fn == fn) out.push_back(c);
    return out;
  }

  InstantLogin login;
  discovery::DeviceListController::Options lo;
  std::unique_ptr<discovery::DeviceListController> list;
  QWidget window;
  controls::CReportCtrl* control = nullptr;
  test::RecordingSdk sdk;
  std::filesystem::path docs;
  std::unique_ptr<DeviceCommandHost> host;
  std::unique_ptr<BatchCommandHost> batch;
  std::unique_ptr<BatchFileCommands> files;
  int selected = -1;
  int dialogs = 0;
  std::optional<FileRequestDay> day = FileRequestDay{2026, 3, 5};
  std::function<void()> duringDialog;
  std::vector<std::string> boxes, summaries;
};

TEST_F(BatchFilesTest, BatchSnapshotToCheckedRowsEndsWhenThePicturesAreStored) {
  const std::string untouched = State(2);
  files->OnBatchSnapshot();  // nothing checked
  EXPECT_TRUE(sdk.calls.empty());
  for (int i : {0, 1, 3}) control->SetCheck(i, true);
  files->OnBatchSnapshot();
  const std::vector<test::SdkCall> sent = {{"SystemControl", 101, 1043, kSnapshotRequest},
                                           {"SystemControl", 102, 1043, kSnapshotRequest}};
  EXPECT_EQ(sdk.calls, sent);
  EXPECT_EQ(State(0), "SNAPPIC");
  EXPECT_EQ(State(3), "MSGTIP23");
  EXPECT_EQ(State(2), untouched);

  Alarm(101, 23, "/mnt/sd/a.jpg");
  ASSERT_TRUE(Pump([&] { return Calls("GetFileByName").size() == 1; }));
  const std::string local = Calls("GetFileByName")[0].text;
  EXPECT_EQ(local, (docs / "snap" / "10.77.1.10" / "a.jpg").string());
  Event(101, 16, "<RESPONSE_PARAM LocalFileName=\"" + local + "\" />");
  // The stored file's own text stays in the row.
  ASSERT_TRUE(Pump([&] { return summaries.empty() && State(0) == "MSGTIP9"; }));
  // The window's 5 s check for the other row.
  files->OnSnapshotTimedOut(1);
  EXPECT_EQ(State(1), "SNAPPING_TIMEOUT");
  EXPECT_EQ(summaries, std::vector<std::string>{"BATCH_STATE_NOT_LOGGED_IN 1, BATCH_STATE_DONE 1, BATCH_STATE_TIMED_OUT 1"});

  // Menu 32790: the selected row; none selected does nothing.
  sdk.calls.clear();
  EXPECT_TRUE(files->OnCommand(32790));
  EXPECT_TRUE(sdk.calls.empty());
  selected = 2;
  EXPECT_TRUE(files->OnCommand(32790));
  files->OnCommand(32790);  // its picture is still awaited
  EXPECT_EQ(sdk.calls, (std::vector<test::SdkCall>{{"SystemControl", 103, 1043, kSnapshotRequest}}));
  EXPECT_EQ(boxes, std::vector<std::string>{"SNAPPING_WAIT"});
  EXPECT_FALSE(files->OnCommand(33002));
}

TEST_F(BatchFilesTest, VideoRequestsFindTheirRowAgainAfterTheDialog) {
  // No row selected: no dialog.
  EXPECT_TRUE(files->OnCommand(33382));
  EXPECT_EQ(dialogs, 0);
  selected = 1;
  day.reset();  // cancelled
  files->OnCommand(33382);
  EXPECT_EQ(dialogs, 1);
  EXPECT_TRUE(sdk.calls.empty());

  // A new search replaces every row while the dialog is open: the request
  // goes to the device's new row and login.
  day = FileRequestDay{2026, 3, 5};
  duringDialog = [this] {
    list->ClearDevicesForSearch();
    login.next = 200;
    AddDevices();
    LogIn({201, 202, 203, 204});
    sdk.calls.clear();  // the login queries
  };
  files->OnCommand(33382);
  EXPECT_EQ(sdk.calls, (std::vector<test::SdkCall>{{"SystemControl", 202, 1058, BuildTimelapseRequest(*day)}}));
  EXPECT_EQ(State(1), "SUCCEED_TIMELAPSE_REQ");

  // The row goes offline while the dialog is open: skipped, nothing sent.
  sdk.calls.clear();
  duringDialog = [this] { host->RowAt(1)->m_online = false; };
  files->OnCommand(33383);
  EXPECT_TRUE(sdk.calls.empty());
  EXPECT_EQ(State(1), "SUCCEED_TIMELAPSE_REQ");  // an offline row keeps its text

  // The time-lapse's video is announced and stored.
  host->RowAt(1)->m_online = true;
  Alarm(202, 47, "/mnt/sd/tl.mp4");
  ASSERT_TRUE(Pump([&] { return Calls("GetFileByName").size() == 1; }));
  Event(202, 16, "<RESPONSE_PARAM LocalFileName=\"" + Calls("GetFileByName")[0].text + "\" />");
  ASSERT_TRUE(Pump([&] { return summaries.size() == 2u; }));
  EXPECT_EQ(State(1), "MSGTIP9");
  EXPECT_EQ(summaries, (std::vector<std::string>{"BATCH_STATE_OFFLINE 1", "BATCH_STATE_DONE 1"}));
}

}  // namespace
}  // namespace kelvara::device
