// Batch commands on the window's list: the menu ranges go to the checked rows
// (else the selected row), each row shows its terminal state once its own
// reply, an error or the time-out arrives, and the confirmations gate them.
#include <QApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "device/core/command_codes.h"
#include "device/core/request_builders.h"
#include "device/tests/command_fixture.h"
#include "device/ui/batch_command_host.h"
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

class BatchHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lo.sdk = &login;
    lo.lookup = [](const char* key) { return std::string(key); };
    lo.adapters = [] { return std::vector<discovery::Ipv4>{}; };
    list = std::make_unique<discovery::DeviceListController>(lo);
    control = list->CreateListWidget(&window);
    list->InitDeviceListColumns();
    for (int i = 0; i < 4; ++i) {
      discovery::test::FakeDevice d;
      d.serial = "DEV" + std::to_string(i);
      d.ip = "10.77.1." + std::to_string(10 + i);
      list->Map().AddOrUpdateDevice(*discovery::ParseSearchReply(discovery::test::ReplyText(d)), "10.77.0.1", 1);
    }
    list->RefreshDeviceList();
    DeviceCommands::Options o;
    o.sdk = &sdk;
    o.lookup = [](const char* key) { return std::string(key); };
    o.confirm = [this](const char*, const char*) {
      ++questions;
      return answerYes;
    };
    host = std::make_unique<DeviceCommandHost>(*list, o, nullptr, &window);
    BatchCommandHost::Hooks hooks;
    hooks.checkSelection = [this] {
      ++boxes;
      return static_cast<int>(control->CountItems(controls::kStateChecked));
    };
    hooks.selectedIndex = [this] { return selected; };
    hooks.showSummary = [this](const std::string& s) { summaries.push_back(s); };
    hooks.timeout = 200ms;
    // The clock stands still until a test moves it: a row times out only
    // when the test says so, however slowly the machine runs the test.
    hooks.now = [this] { return clock; };
    batch = std::make_unique<BatchCommandHost>(*host, hooks);
    // Rows 0-2 log in; row 3 stays without a login.
    std::thread([&] {
      for (int h : {101, 102, 103}) StatusEventCallBack(h, 4, "", &list->EventSink());
    }).join();
    ASSERT_TRUE(Pump([&] { return host->RowAt(2)->m_online; }));
    list->Rows().SetLoginHandle(*host->RowAt(3), 0);
    host->RowAt(3)->m_online = true;
    sdk.calls.clear();
  }
  std::string State(int index) {
    return control->GetItemText(index, list->Columns().GetColumnIndex(discovery::kColState)).toStdString();
  }
  void Reply(int handle, int result, int command, const char* text = "") {
    std::thread([&] {
      AuxResponseCallBack(handle, (result << 24) | command, text, &list->EventSink());
    }).join();
  }

  InstantLogin login;
  discovery::DeviceListController::Options lo;
  std::unique_ptr<discovery::DeviceListController> list;
  QWidget window;
  controls::CReportCtrl* control = nullptr;
  test::RecordingSdk sdk;
  std::chrono::steady_clock::time_point clock{};
  std::unique_ptr<DeviceCommandHost> host;
  std::unique_ptr<BatchCommandHost> batch;
  int selected = -1;
  int boxes = 0;
  int questions = 0;
  bool answerYes = true;
  std::vector<std::string> summaries;
};

TEST_F(BatchHostTest, CheckedRowsEndByTheirOwnReplyErrorOrTimeOut) {
  for (int i : {0, 1, 2, 3}) control->SetCheck(i, true);
  ASSERT_TRUE(batch->OnCommand(33002));
  const std::string text = BuildP2PRequest(1);
  EXPECT_EQ(sdk.calls, (std::vector<test::SdkCall>{{"SetDVRConfig", 101, SET_CFG_P2P, text},
                                                   {"SetDVRConfig", 102, SET_CFG_P2P, text},
                                                   {"SetDVRConfig", 103, SET_CFG_P2P, text}}));
  // The rows show the workers' and the reply handler's texts; the job adds
  // only its own time-out.
  EXPECT_EQ(State(3), "MSGTIP40");
  Reply(101, 0, SET_CFG_P2P);
  Reply(102, 5, SET_CFG_P2P);
  Reply(103, 0, GET_CFG_VIDEO_CAPTURE);  // not this command's reply
  ASSERT_TRUE(Pump([&] { return State(0) == "SET_OK" && State(1) == "SET_FAILED"; }));
  QCoreApplication::sendPostedEvents();  // the wrong reply too
  EXPECT_EQ(batch->ActiveJobs(), 1u) << "row 2 waits for its own reply";
  clock += 201ms;
  ASSERT_TRUE(Pump([&] { return State(2) == "BATCH_STATE_TIMED_OUT"; }));
  ASSERT_TRUE(Pump([&] { return batch->ActiveJobs() == 0; }));
  ASSERT_EQ(summaries.size(), 1u);
  EXPECT_EQ(summaries[0],
            "BATCH_STATE_NOT_LOGGED_IN 1, BATCH_STATE_DONE 1, BATCH_STATE_FAILED 1, BATCH_STATE_TIMED_OUT 1");
}

TEST_F(BatchHostTest, SwitchWhoseChangeCannotBeMadeFailsItsRow) {
  // The get is answered with result 0 on every row; only the device that
  // already holds the value is done without a set. A block that cannot be
  // read, or a set the SDK refuses, changed nothing: failed at once, not
  // after the time-out.
  for (int i : {0, 1, 2}) control->SetCheck(i, true);
  sdk.failCode = SET_CFG_MEDIA_STREAM;
  ASSERT_TRUE(batch->OnCommand(33005));
  ASSERT_EQ(sdk.calls.size(), 3u);
  Reply(101, 0, GET_CFG_MEDIA_STREAM, "<MediaStreamConfig><StreamAccess enable_hik=\"1\" /></MediaStreamConfig>");
  Reply(102, 0, GET_CFG_MEDIA_STREAM, "<MediaStreamConfig><Stream");
  Reply(103, 0, GET_CFG_MEDIA_STREAM, "<MediaStreamConfig><StreamAccess enable_hik=\"0\" /></MediaStreamConfig>");
  ASSERT_TRUE(Pump([&] { return batch->ActiveJobs() == 0; }));
  EXPECT_EQ(State(0), "SET_OK");
  EXPECT_EQ(State(1), "SET_FAILED");
  EXPECT_EQ(State(2), "SET_FAILED");
  ASSERT_EQ(sdk.calls.size(), 4u);  // the refused set to 103 only
  EXPECT_EQ(sdk.calls[3].handle, 103);
  EXPECT_EQ(sdk.calls[3].code, SET_CFG_MEDIA_STREAM);
  EXPECT_EQ(summaries, std::vector<std::string>{"BATCH_STATE_DONE 1, BATCH_STATE_FAILED 2"});
}

TEST_F(BatchHostTest, NothingCheckedFallsBackToTheSelectedRowOrNothing) {
  // Nothing selected: the box, nothing sent.
  ASSERT_TRUE(batch->OnCommand(33020));
  EXPECT_EQ(boxes, 1);
  EXPECT_TRUE(sdk.calls.empty());
  // Row 1 selected: it alone gets the request, for enable and disable alike.
  selected = 1;
  ASSERT_TRUE(batch->OnCommand(33021));
  ASSERT_EQ(sdk.calls.size(), 1u);
  EXPECT_EQ(sdk.calls[0].handle, 102);
  // Unknown ids are not batch commands.
  EXPECT_FALSE(batch->OnCommand(33024));
  EXPECT_FALSE(batch->OnCommand(33373));
}

TEST_F(BatchHostTest, ConfirmationsGateFactoryResetAndLanguage) {
  control->SetCheck(0, true);
  // Factory reset asks before it counts the rows; No sends nothing.
  answerYes = false;
  batch->OnBatchFactoryReset();
  EXPECT_EQ(questions, 1);
  EXPECT_EQ(boxes, 0);
  batch->OnBatchDeviceLanguage(32797);
  EXPECT_TRUE(sdk.calls.empty());
  answerYes = true;
  const std::string before = State(0);
  batch->OnBatchFactoryReset();
  EXPECT_EQ(sdk.calls, (std::vector<test::SdkCall>{{"SystemControl", 101, SYS_CTRL_RESTORE_FACTORY, ""},
                                                   {"RebootDVR", 101, 0, ""}}));
  EXPECT_EQ(State(0), before);  // accepted: the worker writes nothing
  // A row whose firmware upgrade runs is skipped.
  host->RowAt(0)->m_busy = true;
  sdk.calls.clear();
  batch->OnBatchFactoryReset();
  EXPECT_TRUE(sdk.calls.empty());
  EXPECT_EQ(State(0), "BATCH_STATE_UPGRADING");
  host->RowAt(0)->m_busy = false;
  sdk.calls.clear();
  ASSERT_TRUE(batch->OnCommand(32797));
  ASSERT_EQ(sdk.calls.size(), 1u);
  EXPECT_EQ(sdk.calls[0].code, SET_CFG_MISC_LANGUAGE);
}

}  // namespace
}  // namespace kelvara::device
