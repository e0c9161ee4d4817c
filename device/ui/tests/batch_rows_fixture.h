#pragma once
// The window's device list with six rows for batch commands over a recording
// SDK: rows 0-3 logged in (handles 101-104), row 4 online without a login,
// row 5 offline. Replies and status events go through the SDK's callbacks
// from another thread, as the library delivers them. Texts are their keys.
// The jobs' clock stands still until WaitIdle moves it, so a row times out
// only when the test says so, however slowly the machine runs the test.
#include <QApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device/tests/command_fixture.h"
#include "device/ui/batch_command_host.h"
#include "discovery/core/search_reply.h"
#include "discovery/tests/reply_fixture.h"

namespace kelvara::device::test {

class InstantLoginSdk : public DeviceSdk {
 public:
  int Login(const std::string&, unsigned short, const std::string&, const std::string&) override { return ++next; }
  void Logout(int) override {}
  void LogoutAll() override {}
  void SetAutoReconnect(int, int) override {}
  int next = 100;
};

template <typename Pred>
bool PumpUntil(Pred pred) {
  using namespace std::chrono_literals;
  const auto end = std::chrono::steady_clock::now() + 5000ms;
  while (std::chrono::steady_clock::now() < end) {
    QCoreApplication::processEvents();
    if (pred()) return true;
    std::this_thread::sleep_for(2ms);
  }
  return pred();
}

class BatchRowsFixture : public ::testing::Test {
 protected:
  static constexpr int kRows = 6;
  static constexpr std::chrono::milliseconds kTimeout{300};
  void SetUp() override {
    lo.sdk = &login;
    lo.lookup = [](const char* key) { return std::string(key); };
    lo.adapters = [] { return std::vector<discovery::Ipv4>{}; };
    list = std::make_unique<discovery::DeviceListController>(lo);
    control = list->CreateListWidget(&window);
    list->InitDeviceListColumns();
    for (int i = 0; i < kRows; ++i) {
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
      const int n = static_cast<int>(control->CountItems(controls::kStateChecked));
      if (n == 0) ++selectionBoxes;
      return n;
    };
    hooks.selectedIndex = [this] { return selected; };
    hooks.showSummary = [this](const std::string& s) { summaries.push_back(s); };
    hooks.timeout = kTimeout;
    hooks.now = [this] { return clock; };
    batch = std::make_unique<BatchCommandHost>(*host, hooks);
    std::thread([&] {
      for (int h : {101, 102, 103, 104}) StatusEventCallBack(h, 4, "", &list->EventSink());
    }).join();
    ASSERT_TRUE(PumpUntil([&] { return host->RowAt(3)->m_online; }));
    list->Rows().SetLoginHandle(*host->RowAt(4), 0);
    host->RowAt(4)->m_online = true;
    host->RowAt(5)->m_online = false;
    sdk.calls.clear();
  }
  void TearDown() override {
    // Jobs still waiting end here, not in a later test.
    batch.reset();
  }
  void Check(std::initializer_list<int> rows) {
    for (int i : rows) control->SetCheck(i, true);
  }
  std::string State(int index) {
    return control->GetItemText(index, list->Columns().GetColumnIndex(discovery::kColState)).toStdString();
  }
  void Reply(int handle, int result, int command) {
    std::thread([&] { AuxResponseCallBack(handle, (result << 24) | command, "", &list->EventSink()); }).join();
  }
  // Delivers the replies posted so far, then moves the clock past the
  // time-out: the rows still waiting time out at the job's next tick.
  bool WaitIdle() {
    QCoreApplication::sendPostedEvents();
    clock += kTimeout + std::chrono::milliseconds(1);
    return PumpUntil([&] { return batch->ActiveJobs() == 0; });
  }

  InstantLoginSdk login;
  discovery::DeviceListController::Options lo;
  std::unique_ptr<discovery::DeviceListController> list;
  QWidget window;
  controls::CReportCtrl* control = nullptr;
  RecordingSdk sdk;
  std::chrono::steady_clock::time_point clock{};
  std::unique_ptr<DeviceCommandHost> host;
  std::unique_ptr<BatchCommandHost> batch;
  int selected = -1;
  int selectionBoxes = 0;
  int questions = 0;
  bool answerYes = true;
  std::vector<std::string> summaries;
};

}  // namespace kelvara::device::test
