// The dialog commands over the window's list with a recording SDK: each
// opens its dialog only when rows are checked, sends nothing when the dialog
// is left unconfirmed, keeps its settings before any device is touched, sends
// the exact request to every checked row that can take it, and gives each
// checked row one terminal state.
#include <QComboBox>
#include <QDialog>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "device/core/command_codes.h"
#include "device/core/request_builders.h"
#include "device/ui/batch_popup_menus.h"
#include "device/ui/tests/batch_rows_fixture.h"
#include "device/ui/tests/menu_chooser.h"
#include "dialogs/ui/batch_dialog_commands.h"
#include "dialogs/ui/dialog_media_code.h"
#include "dialogs/ui/dialog_media_light.h"
#include "dialogs/ui/dialog_media_vcapture.h"
#include "dialogs/ui/dialog_pages.h"
#include "dialogs/ui/dialog_pwd.h"
#include "dialogs/ui/dialog_small_settings.h"
#include "dialogs/ui/dialog_time_set.h"
#include "dialogs/ui/dialog_title_setting.h"
#include "kelvara_test/test_env.h"

namespace kelvara::dialogs {
namespace {

using device::test::SdkCall;
namespace id = batch_dialog_id;

class AnsweringPrompts : public ui::UserPrompts {
 public:
  int MessageBox(QWidget*, const QString& text, const QString&, ui::PromptIcon, ui::PromptButtons buttons) override {
    messages.push_back(text.toStdString());
    return buttons == ui::PromptButtons::kYesNo ? answer : ui::kAnswerOk;
  }
  QString OpenFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  QString SaveFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  QString FolderName(QWidget*, const QString&, const QString&) override { return {}; }
  std::vector<std::string> messages;
  int answer = ui::kAnswerYes;
};

// The video-capture block a device answers a get with.
const std::string kCapture = "<Video><Capture TVSystem=\"1\" IrcutMode=\"2\"/></Video>";
const std::string kAlarm =
    "<AlarmConfig><PDAlarm Enable=\"1\"/><AudioAlarm Enable=\"1\"/><MDAlarm Enable=\"1\"/></AlarmConfig>";

std::string Hex(const std::string& s) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

class BatchDialogsTest : public device::test::BatchRowsFixture {
 protected:
  void SetUp() override {
    BatchRowsFixture::SetUp();
    param = std::make_unique<CSaveParam>(test::MakeTempDir("bd") / "zq_cfg.xml");
    BatchDialogCommands::Hooks h;
    h.window = &window;
    h.settings = param.get();
    h.saveSettings = [this] {
      callsAtSave.push_back(sdk.calls.size());
      return param->Save() == 0;
    };
    h.timeZoneFile = test::MakeTempDir("tz") / "qox_tz.xml";
    h.errorBox = [this](const char* key) { errors.push_back(key); };
    h.prompts = &prompts;
    h.runDialog = [this](QDialog& d) {
      opened.push_back(d.metaObject()->className());
      parents.push_back(d.parentWidget());
      return drive ? drive(d) : static_cast<int>(QDialog::Rejected);
    };
    h.startNightDemo = [this] { ++demoStarts; };
    commands = std::make_unique<BatchDialogCommands>(*batch, h);
  }
  void TearDown() override {
    commands.reset();
    BatchRowsFixture::TearDown();
  }

  std::unique_ptr<CSaveParam> param;
  std::unique_ptr<BatchDialogCommands> commands;
  AnsweringPrompts prompts;
  std::function<int(QDialog&)> drive;  // confirms (or leaves) the dialog
  std::vector<std::string> opened;
  std::vector<QWidget*> parents;
  std::vector<std::size_t> callsAtSave;
  std::vector<std::string> errors;
  int demoStarts = 0;
};

// Confirms any of the dialogs with its own OK or Save, on its defaults (the
// values the table's cases set first stay).
int Confirm(QDialog& d) {
  if (auto* p = qobject_cast<CMediaCode*>(&d)) p->OnSave();
  else if (auto* p = qobject_cast<CMediaAEncode*>(&d)) p->OnSave();
  else if (auto* p = qobject_cast<CMediaACapture*>(&d)) p->OnSave();
  else if (auto* p = qobject_cast<CSYSRMDlg*>(&d)) p->OnSave();
  else if (auto* p = qobject_cast<CSYSClock*>(&d)) p->OnSave();
  else if (auto* p = qobject_cast<CMediaLight*>(&d)) p->OnSave();
  else if (auto* p = qobject_cast<CMediaVCapture*>(&d)) p->OnSave();
  else if (auto* p = qobject_cast<CSYSTimeSet*>(&d)) p->OnSave();
  else if (auto* p = qobject_cast<CDialogPwd*>(&d)) p->OnOk();
  else if (auto* p = qobject_cast<ConfigDialog*>(&d)) p->OnOk();
  return d.result();
}

// What each command's dialog gave, to compare the frames with.
struct Result {
  std::string text;
  OverlayConfig overlay;
};

struct Case {
  int id;
  const char* dialog;
  bool ownedByWindow;
  // Sets values before the dialog's own confirmation and records its result.
  std::function<void(QDialog&, Result&)> fill;
  // The request each row gets at once.
  std::function<SdkCall(int handle, int index, const Result&)> frame;
  // Set after get: the get's reply text, and the codes of the sets it starts.
  std::string getReply = {};
  std::vector<int> setCodes = {};
};

std::vector<Case> Cases() {
  auto xmlOf = [](auto* page) { return page->xml; };
  return {
      {id::kVideoEncode, "kelvara::dialogs::CMediaCode", false,
       [&](QDialog& d, Result& r) {
         Confirm(d);
         r.text = xmlOf(qobject_cast<CMediaCode*>(&d));
       },
       [](int h, int, const Result& r) { return SdkCall{"SetDVRConfig", h, 523, r.text}; }},
      {id::kAudioEncode, "kelvara::dialogs::CMediaAEncode", false,
       [&](QDialog& d, Result& r) {
         Confirm(d);
         r.text = xmlOf(qobject_cast<CMediaAEncode*>(&d));
       },
       [](int h, int, const Result& r) { return SdkCall{"SetDVRConfig", h, 528, r.text}; }},
      {id::kAudioCapture, "kelvara::dialogs::CMediaACapture", false,
       [&](QDialog& d, Result& r) {
         Confirm(d);
         r.text = xmlOf(qobject_cast<CMediaACapture*>(&d));
       },
       [](int h, int, const Result& r) { return SdkCall{"SetDVRConfig", h, 527, r.text}; }},
      {id::kImageParam, "kelvara::dialogs::CImageParamDialog", false, [](QDialog& d, Result&) { Confirm(d); },
       [](int h, int, const Result&) {
         return SdkCall{"SystemControl", h, 1081, "<REQUEST_PARAM mctf=\"-1\" gain=\"30\" shuttermax=\"-1\" />"};
       }},
      {id::kVideoCapture, "kelvara::dialogs::CMediaVCapture", true,
       [&](QDialog& d, Result& r) {
         Confirm(d);
         r.text = xmlOf(qobject_cast<CMediaVCapture*>(&d));
       },
       [](int h, int, const Result& r) { return SdkCall{"SetDVRConfig", h, 524, r.text}; }},
      {id::kLight, "kelvara::dialogs::CMediaLight", true, [](QDialog& d, Result&) { Confirm(d); },
       [](int h, int, const Result&) { return SdkCall{"GetDVRConfig", h, 504, ""}; }, kCapture, {524}},
      {id::kSmartDetection, "kelvara::dialogs::CBatchSetPDDlg", true, [](QDialog& d, Result&) { Confirm(d); },
       [](int h, int, const Result&) { return SdkCall{"GetDVRConfig", h, 800, ""}; }, kAlarm, {822, 827, 829}},
      {id::kOsdTitle, "kelvara::dialogs::CDialogTitleSetting", false,
       [](QDialog& d, Result& r) {
         auto* t = qobject_cast<CDialogTitleSetting*>(&d);
         t->overlay.title_utf8_hex.clear();
         t->showModel = t->showIp = t->showSerial = 1;
         t->cancelled = false;
         r.overlay = t->overlay;
       },
       [](int h, int i, const Result& r) {
         // Empty title, all three facts: [model]^address^[serial].
         const std::string title = "[X1]^10.77.1." + std::to_string(10 + i) + "^[DEV" + std::to_string(i) + "]";
         return SdkCall{"SetDVRConfig", h, 525, *device::BuildOverlayRequest(r.overlay, Hex(title))};
       }},
      {id::kPlatform, "kelvara::dialogs::CDlgIpvsSetting", false,
       [](QDialog& d, Result&) {
         auto* p = qobject_cast<CDlgIpvsSetting*>(&d);
         p->values = {true, "10.9.9.9", 7000, "cam", "pw", false, true};
         p->cancelled = false;
       },
       [](int h, int i, const Result&) {
         // The account numbered by the row's place among the checked rows.
         const int place = i == 0 ? 0 : i == 1 ? 1 : 2;
         return SdkCall{"SetDVRConfig", h, 670,
                        device::BuildPlatformRequest(1, "10.9.9.9", 7000, device::IncrementUserName("cam", 1, place),
                                                     "pw", 0)};
       }},
      {id::kMaintenance, "kelvara::dialogs::CSYSRMDlg", false,
       [&](QDialog& d, Result& r) {
         Confirm(d);
         r.text = xmlOf(qobject_cast<CSYSRMDlg*>(&d));
       },
       [](int h, int, const Result& r) { return SdkCall{"SetDVRConfig", h, 228, r.text}; }},
      {id::kTimeConfig, "kelvara::dialogs::CSYSTimeSet", true,
       [&](QDialog& d, Result& r) {
         Confirm(d);
         r.text = xmlOf(qobject_cast<CSYSTimeSet*>(&d));
       },
       [](int h, int, const Result& r) { return SdkCall{"SetDVRConfig", h, 222, r.text}; }},
      {id::kAlarmClock, "kelvara::dialogs::CSYSClock", true,
       [&](QDialog& d, Result& r) {
         Confirm(d);
         r.text = xmlOf(qobject_cast<CSYSClock*>(&d));
       },
       [](int h, int, const Result& r) { return SdkCall{"SetDVRConfig", h, 230, r.text}; }},
      {id::kMotionDetect, "kelvara::dialogs::CMdAlarmDialog", false,
       [](QDialog& d, Result&) {
         // A grid beyond the device's 22 x 18 is cut to it.
         auto* m = qobject_cast<CMdAlarmDialog*>(&d);
         m->values = {1, 70, 30, 40, 30};
         m->cancelled = false;
       },
       [](int h, int, const Result&) {
         return SdkCall{"SetDVRConfig", h, 822,
                        *device::BuildMotionDetectRequest(1, 22 * 65536 + 18, std::string(396, '1'), 70, 30)};
       }},
      {id::kPassword, "kelvara::dialogs::CDialogPwd", false,
       [](QDialog& d, Result&) {
         auto* p = qobject_cast<CDialogPwd*>(&d);
         p->SetItemText(1017, "Ab1#x");
         p->SetItemText(1010, "Ab1#x");
         p->OnOk();
       },
       [](int h, int, const Result&) {
         return SdkCall{"SetDVRConfig", h, 223, device::BuildAdminPasswordRequest("Ab1#x")};
       }},
  };
}

TEST_F(BatchDialogsTest, EachDialogCommandSendsItsRequestAndEndsEveryCheckedRow) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.dialog);
    for (int i = 0; i < kRows; ++i) control->SetCheck(i, false);
    // Rows 0-2 logged in (answer, error, silent), 3 unchecked, 4 not logged
    // in, 5 offline.
    Check({0, 1, 2, 4, 5});
    for (int i = 0; i < kRows; ++i) list->Rows().SetCellTextIfChanged(*host->RowAt(i), discovery::kColState, "");
    host->RowAt(0)->m_searchInfo.deviceType = "DAV-ODUVE-X1";
    host->RowAt(1)->m_searchInfo.deviceType = "DAV-ODUVE-X1";
    host->RowAt(2)->m_searchInfo.deviceType = "DAV-ODUVE-X1";
    sdk.calls.clear();
    summaries.clear();
    opened.clear();
    parents.clear();
    Result result;
    drive = [&](QDialog& d) {
      c.fill(d, result);
      return d.result();
    };
    ASSERT_TRUE(commands->OnCommand(c.id));
    ASSERT_EQ(opened, std::vector<std::string>{c.dialog});
    EXPECT_EQ(parents[0], c.ownedByWindow ? &window : nullptr);
    std::vector<SdkCall> expected;
    for (int i : {0, 1, 2}) expected.push_back(c.frame(101 + i, i, result));
    ASSERT_EQ(sdk.calls, expected);
    const int first = expected[0].code;
    if (!c.setCodes.empty()) {
      // The get's answer starts the sets; the row ends with all their answers.
      sdk.calls.clear();
      std::thread([&] { AuxResponseCallBack(101, first, c.getReply.c_str(), &list->EventSink()); }).join();
      ASSERT_TRUE(device::test::PumpUntil([&] { return sdk.calls.size() == c.setCodes.size(); }));
      std::vector<int> sets;
      for (const SdkCall& call : sdk.calls) sets.push_back(call.code);
      std::sort(sets.begin(), sets.end());
      EXPECT_EQ(sets, c.setCodes);
      for (int code : c.setCodes) {
        EXPECT_EQ(batch->ActiveJobs(), 1u) << "before the answer to " << code;
        Reply(101, 0, code);
        QCoreApplication::processEvents();
      }
    } else {
      Reply(101, 0, first);
    }
    Reply(102, 4, first);
    ASSERT_TRUE(WaitIdle());
    // The reply handler's texts for the answers (the image parameters'
    // system control has none), the job's own only for the silent row.
    const bool replyText = first != 1081;
    EXPECT_EQ(State(0), replyText ? "SET_OK" : "");
    EXPECT_EQ(State(1), replyText ? "SET_FAILED" : "");
    EXPECT_EQ(State(2), "BATCH_STATE_TIMED_OUT");
    EXPECT_EQ(State(3), "");
    EXPECT_EQ(State(4), "MSGTIP40");
    EXPECT_EQ(State(5), "");
    ASSERT_EQ(summaries.size(), 1u);
    EXPECT_EQ(summaries[0],
              "BATCH_STATE_OFFLINE 1, BATCH_STATE_NOT_LOGGED_IN 1, BATCH_STATE_DONE 1, BATCH_STATE_FAILED 1, "
              "BATCH_STATE_TIMED_OUT 1");
  }
}


TEST_F(BatchDialogsTest, NothingCheckedOrLeftUnconfirmedSendsAndSavesNothing) {
  const CSaveParam before = *param;
  std::vector<int> ids;
  for (const Case& c : Cases()) ids.push_back(c.id);
  ids.push_back(id::kNightModeDemo);
  // Nothing checked: the selection box, no dialog, nothing sent.
  for (int command : ids) {
    selectionBoxes = 0;
    ASSERT_TRUE(commands->OnCommand(command));
    EXPECT_EQ(selectionBoxes, 1) << command;
  }
  EXPECT_TRUE(opened.empty());
  EXPECT_EQ(demoStarts, 0);
  // Checked, and the dialog closed without its OK or Save.
  Check({0, 1});
  drive = nullptr;
  for (const Case& c : Cases()) ASSERT_TRUE(commands->OnCommand(c.id));
  EXPECT_EQ(opened.size(), Cases().size());
  EXPECT_TRUE(sdk.calls.empty());
  EXPECT_TRUE(callsAtSave.empty());
  EXPECT_EQ(param->ToXmlText(), before.ToXmlText());
  EXPECT_EQ(batch->ActiveJobs(), 0u);
  EXPECT_FALSE(commands->OnCommand(12));
}

TEST_F(BatchDialogsTest, KeptSettingsAreWrittenBeforeAnyDeviceIsTouched) {
  Check({0});
  // The light page: the file holds the new record though no device answers.
  drive = [](QDialog& d) {
    auto* light = qobject_cast<CMediaLight*>(&d);
    light->SetComboSel(1181, 1);  // another IR-cut mode
    return Confirm(d);
  };
  ASSERT_TRUE(commands->OnCommand(id::kLight));
  ASSERT_EQ(callsAtSave, std::vector<std::size_t>{0});
  ASSERT_EQ(sdk.calls.size(), 1u);
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(State(0), "BATCH_STATE_TIMED_OUT");
  CSaveParam reread(param->FilePath());
  EXPECT_EQ(reread.media_light, param->media_light);
  EXPECT_FALSE(reread.media_light == CSaveParam(test::MakeTempDir("fresh") / "zq_cfg.xml").media_light);

  // OSD title: the whole record replaces the saved one; the user's title
  // leads each row's title.
  callsAtSave.clear();
  sdk.calls.clear();
  drive = [](QDialog& d) {
    auto* t = qobject_cast<CDialogTitleSetting*>(&d);
    t->overlay.enable = 1;
    t->overlay.title_utf8_hex = Hex("Gate");
    t->showSerial = 1;
    t->cancelled = false;
    return 1;
  };
  ASSERT_TRUE(commands->OnCommand(id::kOsdTitle));
  EXPECT_EQ(callsAtSave, std::vector<std::size_t>{0});
  EXPECT_EQ(CSaveParam(param->FilePath()).overlay.title_utf8_hex, Hex("Gate"));
  ASSERT_EQ(sdk.calls.size(), 1u);
  EXPECT_NE(sdk.calls[0].text.find("TitleUtf8=\"" + Hex("Gate^[DEV0]") + "\""), std::string::npos) << sdk.calls[0].text;

  // Alarm clock: the dialog starts from the saved record and its record is kept.
  callsAtSave.clear();
  sdk.calls.clear();
  param->alarm_clock.clocks[2] = {1, 7, 30, 0};
  AlarmClockSettings shown{};
  drive = [&shown](QDialog& d) {
    auto* clock = qobject_cast<CSYSClock*>(&d);
    shown = clock->GetClockSettings();
    return Confirm(d);
  };
  ASSERT_TRUE(commands->OnCommand(id::kAlarmClock));
  EXPECT_EQ(shown.clocks[2], param->alarm_clock.clocks[2]);
  EXPECT_EQ(callsAtSave, std::vector<std::size_t>{0});
  ASSERT_EQ(sdk.calls.size(), 1u);
  EXPECT_EQ(sdk.calls[0].code, 230);

  // Time: saved by the dialog's own Save, before the rows get the text.
  callsAtSave.clear();
  sdk.calls.clear();
  drive = Confirm;
  ASSERT_TRUE(commands->OnCommand(id::kTimeConfig));
  EXPECT_EQ(callsAtSave, std::vector<std::size_t>{0});
  EXPECT_EQ(sdk.calls.size(), 1u);
}

TEST_F(BatchDialogsTest, PasswordsThatDifferSendNothing) {
  Check({0, 1});
  drive = [](QDialog& d) {
    auto* p = qobject_cast<CDialogPwd*>(&d);
    p->SetItemText(1017, "Secret1");
    p->SetItemText(1010, "secret1");
    p->OnOk();
    return d.result();
  };
  ASSERT_TRUE(commands->OnCommand(id::kPassword));
  EXPECT_EQ(errors, std::vector<std::string>{"MSGTIP51"});
  EXPECT_TRUE(sdk.calls.empty());
  EXPECT_EQ(batch->ActiveJobs(), 0u);
}

TEST_F(BatchDialogsTest, PagesThatAskGoOutOnlyAfterYes) {
  Check({0, 2});
  drive = Confirm;
  for (int command : {id::kVideoCapture, id::kVideoEncode}) {
    for (int answer : {int(ui::kAnswerNo), int(ui::kAnswerCancel), int(ui::kAnswerYes)}) {
      sdk.calls.clear();
      prompts.answer = answer;
      prompts.messages.clear();
      ASSERT_TRUE(commands->OnCommand(command));
      ASSERT_EQ(prompts.messages.size(), 1u) << command;
      if (command == id::kVideoCapture) {
        EXPECT_NE(prompts.messages[0].find('2'), std::string::npos) << "the checked count: " << prompts.messages[0];
      }
      EXPECT_EQ(sdk.calls.size(), answer == ui::kAnswerYes ? 2u : 0u) << command << " answer " << answer;
    }
  }
}

TEST_F(BatchDialogsTest, PlatformAccountsAreNumberedByPlaceAmongTheCheckedRows) {
  Check({1, 3, 4});
  drive = [](QDialog& d) {
    auto* p = qobject_cast<CDlgIpvsSetting*>(&d);
    p->values = {true, "srv", 9000, "cam", "pw", true, true};
    p->cancelled = false;
    return 1;
  };
  ASSERT_TRUE(commands->OnCommand(id::kPlatform));
  // Numbered accounts: the count itself is the user name.
  EXPECT_EQ(sdk.calls, (std::vector<SdkCall>{{"SetDVRConfig", 102, 670, device::BuildPlatformRequest(1, "srv", 9000, "0", "pw", 1)},
                                             {"SetDVRConfig", 104, 670, device::BuildPlatformRequest(1, "srv", 9000, "1", "pw", 1)}}));
  EXPECT_EQ(State(4), "MSGTIP40");
}

TEST_F(BatchDialogsTest, NightModeDemoStartsItsTimerAndEndsByTheSwitchToNight) {
  Check({0, 1});
  ASSERT_TRUE(commands->OnCommand(id::kNightModeDemo));
  EXPECT_EQ(demoStarts, 1);
  EXPECT_TRUE(opened.empty());
  EXPECT_EQ(sdk.calls, (std::vector<SdkCall>{{"GetDVRConfig", 101, 504, ""}, {"GetDVRConfig", 102, 504, ""}}));
  sdk.calls.clear();
  std::thread([&] { AuxResponseCallBack(101, 504, kCapture.c_str(), &list->EventSink()); }).join();
  // The device's block back with night mode, then the switch itself.
  ASSERT_TRUE(device::test::PumpUntil([&] { return sdk.calls.size() == 2; }));
  EXPECT_EQ(sdk.calls[0].code, 524);
  EXPECT_NE(sdk.calls[0].text.find("IrcutMode=\"3\""), std::string::npos) << "night";
  EXPECT_EQ(sdk.calls[1].code, device::SYS_CTRL_SET_IRCUT_MODE);
  Reply(101, 0, 524);
  QCoreApplication::processEvents();
  EXPECT_EQ(batch->ActiveJobs(), 1u) << "the switch is not answered yet";
  Reply(101, 0, device::SYS_CTRL_SET_IRCUT_MODE);
  Reply(102, 2, 504);
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(State(0), "SET_OK");
  EXPECT_EQ(State(1), "MSG_SET_IRCUT_FAILED");
  ASSERT_FALSE(summaries.empty());
  EXPECT_EQ(summaries.back(), "BATCH_STATE_DONE 1, BATCH_STATE_FAILED 1");
}

TEST_F(BatchDialogsTest, AGetAnsweredWithoutAReadableBlockChangesNothingAndFails) {
  Check({0, 1});
  drive = Confirm;
  for (int command : {id::kLight, id::kSmartDetection, id::kNightModeDemo}) {
    sdk.calls.clear();
    ASSERT_TRUE(commands->OnCommand(command));
    ASSERT_EQ(sdk.calls.size(), 2u);
    const int get = sdk.calls[0].code;
    Reply(101, 0, get);  // result 0, but no block
    std::thread([&] {
      AuxResponseCallBack(102, get, (get == 800 ? kAlarm : kCapture).c_str(), &list->EventSink());
    }).join();
    const std::size_t sets = get == 800 ? 5u : command == id::kLight ? 3u : 4u;
    ASSERT_TRUE(device::test::PumpUntil([&] { return sdk.calls.size() == sets; })) << "sets for row 1 alone";
    for (std::size_t i = 2; i < sdk.calls.size(); ++i) EXPECT_EQ(sdk.calls[i].handle, 102);
    for (std::size_t i = 2; i < sdk.calls.size(); ++i) Reply(102, 0, sdk.calls[i].code);
    ASSERT_TRUE(WaitIdle());
    ASSERT_FALSE(summaries.empty());
    EXPECT_EQ(summaries.back(), "BATCH_STATE_DONE 1, BATCH_STATE_FAILED 1") << command;
    // The reply handler's own failure text.
    EXPECT_EQ(State(0), command == id::kNightModeDemo ? "MSG_SET_IRCUT_FAILED" : "SET_FAILED") << command;
  }
}

TEST_F(BatchDialogsTest, PopupEntriesOpenTheirDialogs) {
  Check({0});
  // The window's path for a chosen entry: the batch hosts, then these commands.
  device::BatchPopupMenus::Hooks h;
  h.owner = &window;
  h.cursor = [] { return QPoint(30, 30); };
  h.runCommand = [this](int command) {
    if (!batch->OnCommand(command)) commands->OnCommand(command);
  };
  device::BatchPopupMenus popups(h);
  const struct {
    int button, entry;
    const char* dialog;
  } cases[] = {{1034, 17, "kelvara::dialogs::CMediaCode"},     {1034, 33000, "kelvara::dialogs::CMediaVCapture"},
               {1034, 32974, "kelvara::dialogs::CMediaACapture"}, {1034, 32924, "kelvara::dialogs::CMediaAEncode"},
               {1034, 33388, "kelvara::dialogs::CMediaLight"},    {1035, 32911, "kelvara::dialogs::CSYSTimeSet"},
               {1035, 32912, "kelvara::dialogs::CSYSClock"}};
  for (const auto& c : cases) {
    opened.clear();
    device::test::ChooseWhenOpen(c.entry);
    ASSERT_TRUE(popups.OnButton(c.button));
    EXPECT_EQ(opened, std::vector<std::string>{c.dialog}) << c.entry;
  }
  EXPECT_TRUE(sdk.calls.empty()) << "every dialog was left";
}

}  // namespace
}  // namespace kelvara::dialogs
