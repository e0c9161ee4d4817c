// The maintenance commands and the cyclic reboot test on the window's list:
// which question each asks and what each answer does, the boxes at the end,
// the panel popups, and the test's button, ticks and end by a list clear.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "device/core/command_codes.h"
#include "device/tests/command_fixture.h"
#include "device/ui/batch_maintenance_host.h"
#include "device/ui/cyclic_reboot_host.h"
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

// Answers message boxes from a queue (Yes when empty) and records them.
class ScriptedPrompts : public ui::UserPrompts {
 public:
  int MessageBox(QWidget*, const QString& text, const QString& caption, ui::PromptIcon,
                 ui::PromptButtons buttons) override {
    boxes.push_back(caption.toStdString() + "|" + text.toStdString());
    if (buttons != ui::PromptButtons::kYesNo) return ui::kAnswerOk;
    if (answers.empty()) return ui::kAnswerYes;
    const int a = answers.front();
    answers.erase(answers.begin());
    return a;
  }
  QString OpenFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  QString SaveFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  QString FolderName(QWidget*, const QString&, const QString&) override { return {}; }
  std::vector<int> answers;
  std::vector<std::string> boxes;
};

class FakeNetwork : public NetworkCommands {
 public:
  bool GetOperatorAuth(discovery::OperatorAuth& auth) override {
    ++asked;
    auth = {"admin", "pw"};
    return give;
  }
  long RebootDevByBD(const std::string& serial, const discovery::OperatorAuth&) override {
    sent.push_back("reboot " + serial);
    return 0;
  }
  long SetFactoryModeByBD(const std::string& serial, int mode) override {
    sent.push_back("factory " + serial + " " + std::to_string(mode));
    return failFactory ? -1 : 0;
  }
  bool give = true;
  bool failFactory = false;
  int asked = 0;
  std::vector<std::string> sent;
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

class MaintenanceHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lo.sdk = &login;
    lo.lookup = [](const char* key) { return std::string(key); };
    lo.adapters = [] { return std::vector<discovery::Ipv4>{}; };
    list = std::make_unique<discovery::DeviceListController>(lo);
    control = list->CreateListWidget(&window);
    list->InitDeviceListColumns();
    for (int i = 0; i < 3; ++i) {
      discovery::test::FakeDevice d;
      d.serial = "DEV" + std::to_string(i);
      d.ip = "10.77.1." + std::to_string(10 + i);
      list->Map().AddOrUpdateDevice(*discovery::ParseSearchReply(discovery::test::ReplyText(d)), "10.77.0.1", 1);
    }
    list->RefreshDeviceList();
    DeviceCommands::Options o;
    o.sdk = &sdk;
    o.lookup = [](const char* key) { return std::string(key); };
    o.confirm = [this](const char*, const char*) { return confirmYes; };
    o.seams.network = &network;  // nothing is broadcast
    host = std::make_unique<DeviceCommandHost>(*list, o, &prompts, &window);
    BatchCommandHost::Hooks hooks;
    hooks.checkSelection = [this] {
      const int n = static_cast<int>(control->CountItems(controls::kStateChecked));
      if (n < 1) prompts.boxes.push_back("ERROR|MSGTIP13");
      return n;
    };
    hooks.selectedIndex = [this] { return selected; };
    batch = std::make_unique<BatchCommandHost>(*host, hooks);
    maintenance = std::make_unique<BatchMaintenanceHost>(*batch, BatchMaintenanceHost::Hooks{&prompts, &window});
    // Rows 0 and 1 log in; row 2 stays offline.
    std::thread([&] {
      for (int h : {101, 102}) StatusEventCallBack(h, 4, "", &list->EventSink());
    }).join();
    ASSERT_TRUE(Pump([&] { return host->RowAt(1)->m_online; }));
    sdk.calls.clear();
  }
  std::string State(int index) {
    return control->GetItemText(index, list->Columns().GetColumnIndex(discovery::kColState)).toStdString();
  }

  InstantLogin login;
  discovery::DeviceListController::Options lo;
  std::unique_ptr<discovery::DeviceListController> list;
  QWidget window;
  controls::CReportCtrl* control = nullptr;
  test::RecordingSdk sdk;
  FakeNetwork network;
  ScriptedPrompts prompts;
  bool confirmYes = true;
  int selected = -1;
  std::unique_ptr<DeviceCommandHost> host;
  std::unique_ptr<BatchCommandHost> batch;
  std::unique_ptr<BatchMaintenanceHost> maintenance;
};

TEST_F(MaintenanceHostTest, QuestionsAndAnswers) {
  for (int i : {0, 1, 2}) control->SetCheck(i, true);
  struct Case {
    int id;
    int answer;
    const char* question;  // the box's caption|text
    bool sends;
  };
  const Case cases[] = {
      {32908, ui::kAnswerNo, "TEXT21|ID_BATCH_SET_VIDEOTYPE_TIPS", false},
      {32908, ui::kAnswerYes, "TEXT21|ID_BATCH_SET_VIDEOTYPE_TIPS", true},
      {33010, ui::kAnswerNo, "TEXT21|MSG_MODE_FACTORY_COMFIRM ENABLE?", false},
      {33013, ui::kAnswerYes, "TEXT21|MSG_MODE_FACTORY_COMFIRM STRING_CLOSE?", true},
      {33456, ui::kAnswerCancel, "TEXT21|ID_BATCH_SET_FORMAT_COMFIRM ?", false},
      {33456, ui::kAnswerYes, "TEXT21|ID_BATCH_SET_FORMAT_COMFIRM ?", true},
      // TV system and ONVIF all-net go on unless the answer is No.
      {32970, ui::kAnswerNo, "TEXT21|MSG_BATCH_SET_TVSYSTEM", false},
      {32971, ui::kAnswerCancel, "TEXT21|MSG_BATCH_SET_TVSYSTEM", true},
      {32977, ui::kAnswerNo, "TEXT21|MSG_BATCH_SET_ONVIFALLNET", false},
      {32978, ui::kAnswerYes, "TEXT21|MSG_BATCH_SET_ONVIFALLNET", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.id) + " " + std::to_string(c.answer));
    sdk.calls.clear();
    network.sent.clear();
    prompts.boxes.clear();
    prompts.answers = {c.answer};
    ASSERT_TRUE(batch->OnCommand(c.id));
    ASSERT_FALSE(prompts.boxes.empty());
    EXPECT_EQ(prompts.boxes[0], c.question);
    EXPECT_EQ(!sdk.calls.empty() || !network.sent.empty(), c.sends);
  }
  // No question for IO output and storage information.
  prompts.boxes.clear();
  sdk.calls.clear();
  ASSERT_TRUE(batch->OnCommand(32805));
  ASSERT_TRUE(batch->OnCommand(33457));
  EXPECT_TRUE(prompts.boxes.empty());
  EXPECT_EQ(sdk.calls.size(), 4u);
  EXPECT_FALSE(batch->OnCommand(33458));
}

TEST_F(MaintenanceHostTest, EndBoxes) {
  // Nothing checked (a row selected makes no difference): the selection
  // check's box, no question, nothing sent.
  selected = 0;
  for (int id : {23, 32805, 32907, 32970, 32977}) {
    prompts.boxes.clear();
    ASSERT_TRUE(batch->OnCommand(id));
    EXPECT_EQ(prompts.boxes, std::vector<std::string>{"ERROR|MSGTIP13"}) << id;
  }
  maintenance->OnBatchReboot();
  EXPECT_TRUE(sdk.calls.empty());
  EXPECT_TRUE(network.sent.empty());
  // The storage information says so itself.
  prompts.boxes.clear();
  ASSERT_TRUE(batch->OnCommand(33457));
  EXPECT_EQ(prompts.boxes, std::vector<std::string>{"ERROR|MSGTIP13"});
  prompts.boxes.clear();
  network.failFactory = true;
  control->SetCheck(0, true);
  const std::string before = State(0);
  ASSERT_TRUE(batch->OnCommand(33010));
  EXPECT_EQ(prompts.boxes.back(), "ERROR|MSGTIP13");  // no broadcast went out
  EXPECT_EQ(State(0), before);  // a refused broadcast goes to the debug log, not the row

  // The bad-pixel scan over a logged-in row, an offline one and one not
  // logged in: one preset, the count in the box; the offline row keeps its text.
  control->SetCheck(1, true);
  control->SetCheck(2, true);
  list->Rows().SetLoginHandle(*host->RowAt(1), 0);
  const std::string offline = State(2);
  prompts.boxes.clear();
  sdk.calls.clear();
  ASSERT_TRUE(batch->OnCommand(23));
  EXPECT_EQ(sdk.calls, (std::vector<test::SdkCall>{{"PTZPreset", 101, 8, "200"}}));
  EXPECT_EQ(prompts.boxes, std::vector<std::string>{"|[200 preset ptz] SUCCEED_SET_NUM1"});
  EXPECT_EQ(State(1), "MSGTIP40");
  EXPECT_EQ(State(2), offline);
}

TEST_F(MaintenanceHostTest, BatchRebootAsksForCredentialsThenTheQuestion) {
  control->SetCheck(0, true);
  control->SetCheck(2, true);
  network.give = false;
  maintenance->OnBatchReboot();
  confirmYes = false;
  network.give = true;
  maintenance->OnBatchReboot();
  EXPECT_TRUE(network.sent.empty());
  confirmYes = true;
  host->RowAt(2)->m_busy = true;
  maintenance->OnBatchReboot();
  EXPECT_EQ(sdk.calls, (std::vector<test::SdkCall>{{"RebootDVR", 101, 0, ""}}));
  EXPECT_EQ(network.sent, std::vector<std::string>{"reboot DEV0"});
  EXPECT_EQ(State(0), "RESTARTING");  // the reboot request's own text
  EXPECT_EQ(State(2), "BATCH_STATE_UPGRADING");
  // Nothing checked: the box.
  control->SetCheck(0, false);
  control->SetCheck(2, false);
  maintenance->OnBatchReboot();
  EXPECT_EQ(prompts.boxes.back(), "ERROR|MSGTIP16");
}

TEST_F(MaintenanceHostTest, PanelPopups) {
  const std::pair<int, std::vector<int>> popups[] = {
      {22, {33456, 33457}}, {20, {32970, 32971}}, {16, {33010, 33013}}, {1299, {32977, 32978}}};
  for (const auto& [button, ids] : popups) {
    std::unique_ptr<QMenu> menu(BatchMaintenanceHost::BuildPopup(button, &window));
    ASSERT_NE(menu, nullptr) << button;
    std::vector<int> got;
    for (QAction* a : menu->actions()) got.push_back(a->data().toInt());
    EXPECT_EQ(got, ids) << button;
  }
  std::unique_ptr<QMenu> tv(BatchMaintenanceHost::BuildPopup(20, &window));
  EXPECT_EQ(tv->actions()[0]->text(), "50HZ (PAL)");
  EXPECT_EQ(BatchMaintenanceHost::BuildPopup(7, &window), nullptr);
}

TEST_F(MaintenanceHostTest, CyclicRebootButtonTicksAndListClear) {
  QString button;
  CyclicRebootHost::Hooks hooks;
  hooks.selectedIndex = [this] { return selected; };
  hooks.setButtonText = [&button](const QString& t) { button = t; };
  hooks.prompts = &prompts;
  hooks.periodMs = 10;
  CyclicRebootHost cyclic(*host, hooks);
  QObject::connect(list.get(), &discovery::DeviceListController::listCleared, &cyclic, [&cyclic] { cyclic.Stop(); });
  cyclic.OnButton();  // nothing selected
  EXPECT_EQ(prompts.boxes, std::vector<std::string>{"ERROR|MSGTIP13"});
  EXPECT_FALSE(cyclic.Test().Running());
  selected = 0;
  cyclic.OnButton();
  EXPECT_EQ(button, QString::fromUtf8(CyclicRebootHost::kStopText));
  ASSERT_TRUE(Pump([&] { return network.sent.size() >= 3; }));
  EXPECT_EQ(network.asked, 1);
  EXPECT_EQ(network.sent[0], "reboot DEV0");
  // A list clear ends the test and resets its button.
  list->ClearDeviceMapAndList();
  EXPECT_FALSE(cyclic.Test().Running());
  EXPECT_FALSE(cyclic.TimerActive());
  EXPECT_EQ(button, QString::fromUtf8(CyclicRebootHost::kStartText));
  const std::size_t sent = network.sent.size();
  QCoreApplication::processEvents();
  std::this_thread::sleep_for(30ms);
  QCoreApplication::processEvents();
  EXPECT_EQ(network.sent.size(), sent);
}

}  // namespace
}  // namespace kelvara::device
