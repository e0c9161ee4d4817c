#include "app/ui/zq_dev_search_tool_dlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QAbstractItemView>
#include <QComboBox>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

#include "common/display_switches.h"
#include "common/language_table.h"
#include "kelvara_test/test_env.h"
#include "app/shell/language_commands.h"
#include "app/ui/about_dlg.h"
#include "app/ui/linked_shell_sdk.h"
#include "media/ui/wnd_manager.h"
#include "app/ui/net_cards.h"

namespace kelvara::ui {
namespace {

using namespace shell::ids;
using Calls = std::vector<std::string>;

class RecordingSdk : public shell::ShellSdk {
 public:
  explicit RecordingSdk(Calls& calls) : calls_(calls) {}
  int PlayerInit() override { return Add("PlayerInit"); }
  int PlayerReleaseAll() override { return Add("PlayerReleaseAll"); }
  int RtspInitLib() override { return Add("RtspInitLib"); }
  int RtspReleaseLib() override { return Add("RtspReleaseLib"); }
  int NetSdkInit() override { return Add("NetSdkInit"); }
  std::string NetSdkVersion() override { return Add("NetSdkVersion"), "1"; }
  std::string NetSdkBuildDate() override { return Add("NetSdkBuildDate"), "1"; }
  int RegisterCallbacks(void* user) override {
    registered_user = user;
    return Add("RegisterCallbacks");
  }
  int SetAutoReconnect(int h, int on) override {
    return Add("SetAutoReconnect " + std::to_string(h) + "," + std::to_string(on));
  }
  int LogoutAll() override { return Add("LogoutAll"); }
  int UnregisterCallbacks() override { return Add("UnregisterCallbacks"); }
  int NetSdkCleanup() override { return Add("NetSdkCleanup"); }
  void* registered_user = nullptr;

 private:
  int Add(const std::string& c) {
    calls_.push_back(c);
    return 0;
  }
  Calls& calls_;
};

class RecordingList : public DeviceListSeam {
 public:
  explicit RecordingList(Calls& calls) : calls_(calls) {}
  void InitColumns() override { calls_.push_back("InitColumns"); }
  void StartSearch() override { calls_.push_back("StartSearch"); }
  void StopSearch() override { calls_.push_back("StopSearch"); }
  void SendSearchRequest() override { calls_.push_back("SendSearchRequest"); }
  void RefreshDeviceList() override { ++refreshes; }
  void SetNewDeviceMode(bool on) override { calls_.push_back(on ? "NewDeviceMode 1" : "NewDeviceMode 0"); }
  int CheckedRowCount() override { return checked; }
  void SetAllChecked(bool on) override { calls_.push_back(on ? "CheckAll 1" : "CheckAll 0"); }
  void StopDeviceLogs() override { calls_.push_back("StopDeviceLogs"); }
  void ClearRows() override { calls_.push_back("ClearRows"); }
  void OnSdkStatusEvent(device::DeviceStatusEvent e) override {
    events.push_back(e.eventType);
    event_threads.push_back(std::this_thread::get_id());
  }
  void OnSdkAuxResponse(device::DeviceAuxResponse r) override { events.push_back(r.command); }
  void OnCommand(int id) override { commands.push_back(id); }
  std::vector<int> commands;
  int checked = 0;
  int refreshes = 0;
  std::vector<int> events;
  std::vector<std::thread::id> event_threads;

 private:
  Calls& calls_;
};

class RecordingLiveView : public LiveViewSeam {
 public:
  explicit RecordingLiveView(Calls& calls) : calls_(calls) {}
  void CloseAllPreviews() override { calls_.push_back("CloseAllPreviews"); }

 private:
  Calls& calls_;
};

class FakePrompts : public UserPrompts {
 public:
  struct Shown {
    QString text, caption;
    PromptIcon icon;
  };
  std::vector<Shown> shown;
  int MessageBox(QWidget*, const QString& text, const QString& caption, PromptIcon icon, PromptButtons) override {
    shown.push_back({text, caption, icon});
    return kAnswerOk;
  }
  QString OpenFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  QString SaveFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  QString FolderName(QWidget*, const QString&, const QString& start) override { return start; }
};

class SilentSounds : public SoundPrompts {
 public:
  void Play(const QString& path) override { played.push_back(path); }
  std::vector<QString> played;
};

std::string RectText(const QRect& r) {
  return std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) + "x" +
         std::to_string(r.height());
}

struct MainDialogTest : ::testing::Test {
  Calls calls;
  RecordingSdk sdk{calls};
  RecordingList list{calls};
  RecordingLiveView live{calls};
  FakePrompts prompts;
  SilentSounds sounds;
  shell::MemoryShellSettings settings;
  shell::FixedDisplaySwitches display;
  std::vector<NetCard> cards;
  std::int64_t now_s = 1'800'000'000;
  ModelessFactories modeless;
  std::function<bool()> audio_output = [] { return true; };
  std::unique_ptr<CZqDevSearchToolDlg> dlg;

  void Make() {
    MainDialogServices s;
    s.modeless = modeless;
    s.audio_output_available = audio_output;
    s.sdk = &sdk;
    s.settings = &settings;
    s.display = &display;
    s.prompts = &prompts;
    s.sounds = &sounds;
    s.device_list = &list;
    s.live_view = &live;
    s.net_cards = [this] { return cards; };
    s.clock_s = [this] { return now_s; };
    dlg = std::make_unique<CZqDevSearchToolDlg>(s);
  }
  void MakeAndInit() {
    Make();
    dlg->resize(1600, 900);
    dlg->OnInitDialog();
  }
  // Every text the window shows.
  std::map<QString, QString> ScreenTexts() {
    std::map<QString, QString> texts;
    texts["title"] = dlg->windowTitle();
    for (const auto& [id, w] : dlg->Controls()) {
      texts[QString::number(id)] = dlg->GetItemText(id);
      texts["tip" + QString::number(id)] = w->toolTip();
    }
    std::function<void(QMenu*, QString)> walk = [&](QMenu* m, QString path) {
      for (QAction* a : m->actions()) {
        texts[path + "/" + QString::number(a->data().toInt()) + a->text()] = a->text();
        if (a->menu() != nullptr) walk(a->menu(), path + "/" + a->text());
      }
    };
    walk(dlg->SystemMenu(), "");
    return texts;
  }
  static size_t IndexOf(const Calls& c, const std::string& s) {
    return static_cast<size_t>(std::find(c.begin(), c.end(), s) - c.begin());
  }
};

TEST_F(MainDialogTest, StartUpCallsTheLibrariesInOrderAndStartsTheTimers) {
  MakeAndInit();
  const Calls expected = {"InitColumns",     "NetSdkInit",          "RtspInitLib", "NetSdkVersion",
                          "NetSdkBuildDate", "RegisterCallbacks",   "SetAutoReconnect 0,1", "CloseAllPreviews",
                          "StartSearch"};
  EXPECT_EQ(calls, expected);
  EXPECT_EQ(sdk.registered_user, dlg->SdkEventSink());
  EXPECT_TRUE(dlg->IsSearchRunning());
  EXPECT_EQ(dlg->TimerPeriod(shell::TIMER_LIST_REFRESH), 200);
  EXPECT_EQ(dlg->TimerPeriod(shell::TIMER_SEARCH_REQUEST), 1000);
  EXPECT_EQ(dlg->TimerPeriod(shell::TIMER_SNAPSHOT_TIMEOUT), 5000);
  EXPECT_EQ(dlg->TimerPeriod(shell::TIMER_MAXIMIZE), 300);
  EXPECT_FALSE(dlg->QuickSearch());
  EXPECT_EQ(dlg->windowTitle(),
            QString::fromStdString(LanguageTable::Instance().GetTitle()) + " V6.0.8_20261028");
  EXPECT_EQ(dlg->IconResource(), 128);
  // 64 panes exist; the saved grid of 0 rows gives 1 x 1.
  ASSERT_NE(dlg->VideoGrid(), nullptr);
  EXPECT_EQ(dlg->VideoGrid()->PaneCountInGrid(), 1);
  EXPECT_NE(dlg->VideoGrid()->GetPane(63), nullptr);
  EXPECT_EQ(dlg->VideoGrid()->GetPane(64), nullptr);
  EXPECT_FALSE(dlg->VideoHost()->isVisible());
}

TEST_F(MainDialogTest, ShutDownEndsLoginsAndSdkThreadsBeforeFreeingAnything) {
  MakeAndInit();
  calls.clear();
  dlg->show();
  dlg->close();
  const Calls expected = {"StopSearch",       "CloseAllPreviews", "LogoutAll",      "UnregisterCallbacks",
                          "NetSdkCleanup",    "StopDeviceLogs",   "PlayerReleaseAll", "RtspReleaseLib",
                          "ClearRows"};
  EXPECT_EQ(calls, expected);
  for (int id : {shell::TIMER_LIST_REFRESH, shell::TIMER_SEARCH_REQUEST, shell::TIMER_SNAPSHOT_TIMEOUT,
                 shell::TIMER_MAXIMIZE})
    EXPECT_FALSE(dlg->IsTimerRunning(id)) << id;
  // Closing runs once; a late tick does nothing.
  dlg->OnClose();
  dlg->OnTimer(shell::TIMER_SEARCH_REQUEST);
  EXPECT_EQ(calls, expected);
}

// Esc in the grid and in a pane reaches the window, which swallows it.
TEST_F(MainDialogTest, EscapeInTheGridReachesTheWindowAndClosesNothing) {
  MakeAndInit();
  dlg->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
  ASSERT_NE(dlg->VideoGrid(), nullptr);
  QTest::keyClick(dlg->VideoGrid(), Qt::Key_Escape);
  QTest::keyClick(dlg->VideoGrid()->GetPane(0), Qt::Key_Escape);
  QApplication::processEvents();
  EXPECT_EQ(dlg->GridEscapes(), 2);
  EXPECT_TRUE(dlg->isVisible());
  EXPECT_FALSE(dlg->IsClosed());
}

TEST_F(MainDialogTest, EnterAndEscapeDoNotCloseTheWindow) {
  MakeAndInit();
  dlg->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
  for (QWidget* target : {static_cast<QWidget*>(dlg.get()), dlg->Control(kDefaultUser), dlg->Control(kSearch),
                          dlg->Control(kCheckAll), dlg->Control(kNetCardCombo)}) {
    target->setFocus();
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) QTest::keyClick(target, key);
  }
  QApplication::processEvents();
  EXPECT_TRUE(dlg->isVisible());
  EXPECT_FALSE(dlg->IsClosed());
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "StartSearch"), 1);  // Enter pressed no button
  for (const auto& [id, w] : dlg->Controls())
    if (auto* b = qobject_cast<QPushButton*>(w)) {
      EXPECT_FALSE(b->autoDefault() || b->isDefault()) << id;
    }
}

TEST_F(MainDialogTest, LanguageSwitchStoresTheCodeAndChangesNothingOnScreen) {
  MakeAndInit();
  const auto before = ScreenTexts();
  const auto& table = LanguageTable::Instance();
  auto stored = [&] {
    std::ifstream in(table.LanguageChoicePath());
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  std::filesystem::remove_all(table.LanguageChoicePath());
  // A language whose file is not installed: refused, nothing stored.
  dlg->OnSwitchLanguage(1956);
  EXPECT_EQ(stored(), "");
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].caption, "ERROR");
  EXPECT_EQ(prompts.shown[0].icon, PromptIcon::kError);
  EXPECT_TRUE(prompts.shown[0].text.contains(CXDlg::LangText("LANGAGE_NOT_AVAILABLE"))) << prompts.shown[0].text.toStdString();
  prompts.shown.clear();

  dlg->OnSwitchLanguage(1950);
  EXPECT_NE(stored().find("en-us"), std::string::npos) << stored();
  EXPECT_EQ(table.GetLanguageCode(), "en-us");  // in force at the next start only
  EXPECT_EQ(ScreenTexts(), before);
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].caption, "Tips");
  EXPECT_EQ(prompts.shown[0].icon, PromptIcon::kInformation);
  EXPECT_TRUE(prompts.shown[0].text.contains(".\r\n"));

  // The choice cannot be written: an error, and still nothing changes.
  std::filesystem::remove(table.LanguageChoicePath());
  std::filesystem::create_directories(table.LanguageChoicePath() / "blocked");
  dlg->OnSysCommand(1950);
  ASSERT_EQ(prompts.shown.size(), 2u);
  EXPECT_EQ(prompts.shown[1].caption, "ERROR");
  EXPECT_EQ(prompts.shown[1].icon, PromptIcon::kError);
  EXPECT_EQ(ScreenTexts(), before);
  std::filesystem::remove_all(table.LanguageChoicePath());
}

TEST_F(MainDialogTest, SystemMenuHoldsTheItemsWithTheirIds) {
  for (int print_mode : {0, 1}) {
    display.values[kCheckPrintMode] = print_mode;
    MakeAndInit();
    std::vector<int> ids;
    std::vector<int> language_ids;
    for (QAction* a : dlg->SystemMenu()->actions()) {
      if (a->menu() != nullptr) {
        EXPECT_EQ(a->text(), CXDlg::LangText("SWITCHLANGUAGE"));
        for (QAction* l : a->menu()->actions()) language_ids.push_back(l->data().toInt());
      } else if (!a->isSeparator()) {
        ids.push_back(a->data().toInt());
      }
    }
    std::vector<int> expected = {kSysCommandAbout};
    if (print_mode) expected.push_back(kSysCommandQrPrintSetting);
    expected.push_back(kSysCommandAutoUpgrade);
    expected.push_back(kSysCommandTips);
    EXPECT_EQ(ids, expected);
    EXPECT_EQ(language_ids, (std::vector<int>{1950, 1951, 1952, 1953, 1954, 1955, 1956, 1957, 1958, 1959}));
    dlg.reset();
  }
}

TEST_F(MainDialogTest, TimerTicksThroughTheWindow) {
  MakeAndInit();
  // The first search stops by itself on the 52nd refresh tick.
  for (int i = 0; i < 51; ++i) dlg->OnTimer(shell::TIMER_LIST_REFRESH);
  EXPECT_TRUE(dlg->IsSearchRunning());
  dlg->OnTimer(shell::TIMER_LIST_REFRESH);
  EXPECT_FALSE(dlg->IsSearchRunning());
  EXPECT_FALSE(dlg->IsTimerRunning(shell::TIMER_LIST_REFRESH));
  EXPECT_FALSE(dlg->IsTimerRunning(shell::TIMER_SEARCH_REQUEST));
  EXPECT_EQ(list.refreshes, 52);
  EXPECT_EQ(calls.back(), "StopSearch");
  // The user's next search runs on (auto-stop only for the first one).
  dlg->OnSearchButton();
  for (int i = 0; i < 120; ++i) dlg->OnTimer(shell::TIMER_LIST_REFRESH);
  EXPECT_TRUE(dlg->IsSearchRunning());
  dlg->OnTimer(shell::TIMER_SEARCH_REQUEST);
  EXPECT_EQ(calls.back(), "SendSearchRequest");
  dlg->OnTimer(shell::TIMER_MAXIMIZE);
  EXPECT_TRUE(dlg->windowState() & Qt::WindowMaximized);
  EXPECT_FALSE(dlg->IsTimerRunning(shell::TIMER_MAXIMIZE));
  dlg->SetUpgradeBusy(true);
  dlg->OnTimer(shell::TIMER_UPGRADE_WATCH);
  EXPECT_FALSE(dlg->UpgradeBusy());
}

TEST_F(MainDialogTest, LayoutOfEachStyleIsApplied) {
  for (int style : {0, 1, 2}) {
    display.values[shell::kDisplayStyle] = style;
    display.values[1299] = 1;  // a style-0 button the switches show
    MakeAndInit();
    dlg->show();
    dlg->resize(1500, 800);
    QApplication::processEvents();
    const auto layout = dlg->LastLayout();
    ASSERT_TRUE(layout.done);
    for (const auto& [id, p] : layout.controls) {
      if (p.box) {
        EXPECT_EQ(dlg->Control(id)->geometry(), QRect(p.box->x, p.box->y, p.box->width, p.box->height)) << id;
      }
      if (p.visible) {
        EXPECT_EQ(dlg->Control(id)->isVisible(), *p.visible) << "style " << style << " id " << id;
      }
    }
    // The switches are applied first: a button the compact styles hide stays hidden.
    EXPECT_EQ(dlg->Control(1299)->isVisible(), style == 0) << style;
    // Styles 1 and 2 shade the 45 push buttons of the three lists (1051 and 1055 are edits).
    EXPECT_EQ(dlg->ShadedButtonCount(), style == 0 ? 0 : 45) << style;
    EXPECT_GE(dlg->Control(kDeviceList)->y(), dlg->LayoutClientRect().top);
    if (style == 2) {
      EXPECT_EQ(dlg->windowTitle(), QString::fromStdString(LanguageTable::Instance().GetTitle()));
    }
    dlg.reset();
  }
}

TEST_F(MainDialogTest, NetworkCardSelectionFollowsTheAddress) {
  cards = {{0x0300000Au, "10.0.0.3", "eth2"}, {0x0100000Au, "10.0.0.1", "eth0"}, {0x0200000Au, "10.0.0.2", "eth1"}};
  MakeAndInit();
  auto* combo = dlg->ControlAs<QComboBox>(kNetCardCombo);
  ASSERT_EQ(combo->count(), 4);
  EXPECT_EQ(combo->currentIndex(), 0);
  EXPECT_EQ(combo->itemText(0), CXDlg::LangText("ALLNETCARDS"));
  EXPECT_EQ(combo->itemText(1), "[10.0.0.1]\t[eth0]");
  EXPECT_EQ(combo->itemData(1).toLongLong(), 0x0100000A);
  // Every item whole, tab expanded: in the open list and in the box.
  const int need = combo->fontMetrics().size(Qt::TextExpandTabs, combo->itemText(3)).width();
  EXPECT_GT(combo->view()->minimumWidth(), need);
  dlg->LayoutControls();
  EXPECT_GT(combo->width(), need);
  combo->setCurrentIndex(2);  // 10.0.0.2
  cards = {{0x0200000Au, "10.0.0.2", "eth1"}, {0x0300000Au, "10.0.0.3", "eth2"}};
  dlg->FillNetCardCombo();
  EXPECT_EQ(combo->currentText(), "[10.0.0.2]\t[eth1]");
  cards = {{0x0300000Au, "10.0.0.3", "eth2"}};
  dlg->FillNetCardCombo();
  EXPECT_EQ(combo->currentIndex(), 0);
}

TEST_F(MainDialogTest, SettingsAreSavedAtOnce) {
  MakeAndInit();
  dlg->show();
  const int saves = settings.saves;
  auto* user = dlg->ControlAs<QLineEdit>(kDefaultUser);
  user->setFocus();
  QTest::keyClicks(user, "abc");
  EXPECT_EQ(settings.saves, saves + 3);  // every keystroke
  EXPECT_EQ(settings.user, "adminabc");
  auto* folder = dlg->ControlAs<QLineEdit>(kUpgradeFolderEdit);
  folder->setFocus();
  QTest::keyClicks(folder, "/fw");
  EXPECT_EQ(settings.saves, saves + 3);  // only when it loses the focus
  QFocusEvent focus_out(QEvent::FocusOut, Qt::TabFocusReason);
  QApplication::sendEvent(folder, &focus_out);
  EXPECT_EQ(settings.upgrade_path, "/fw");
  EXPECT_EQ(settings.saves, saves + 4);
  dlg->ControlAs<QCheckBox>(kCheckStreamSwitch)->click();
  EXPECT_EQ(settings.full_switch_stream, 0);
  EXPECT_EQ(settings.saves, saves + 5);
  dlg->ControlAs<QCheckBox>(kCheckPrintMode)->click();
  EXPECT_EQ(dlg->PrintModeFlag(), 1);
  EXPECT_EQ(settings.saves, saves + 5);  // not a setting
}

TEST_F(MainDialogTest, SearchStartUnchecksAllAndClosesLiveViewsFirst) {
  MakeAndInit();
  dlg->show();
  dlg->OnSearchButton();  // stop the start-up search
  dlg->SetCheck(kCheckAll, 1);
  calls.clear();
  dlg->OnSearchButton();
  EXPECT_EQ(dlg->GetCheck(kCheckAll), 0);
  EXPECT_EQ(calls, (Calls{"CloseAllPreviews", "StartSearch"}));
  // New-device mode reaches the device list on every click.
  calls.clear();
  dlg->ControlAs<QCheckBox>(kCheckClearSerial)->click();
  dlg->ControlAs<QCheckBox>(kCheckClearSerial)->click();
  EXPECT_EQ(calls, (Calls{"NewDeviceMode 1", "NewDeviceMode 0"}));
}

TEST(MainDialogSettingsFile, EditsReachTheSettingsFileAtOnce) {
  const auto file = test::MakeTempDir("cfg") / "zq_cfg.xml";
  CSaveParam param(file);
  shell::SaveParamShellSettings settings(param);
  shell::FixedDisplaySwitches display;
  FakePrompts prompts;
  SilentSounds sounds;
  MainDialogServices s;
  s.settings = &settings;
  s.display = &display;
  s.prompts = &prompts;
  s.sounds = &sounds;
  s.audio_output_available = [] { return true; };
  Calls calls;
  RecordingSdk sdk(calls);
  s.sdk = &sdk;
  CZqDevSearchToolDlg dlg(s);
  dlg.OnInitDialog();
  dlg.show();
  auto* user = dlg.ControlAs<QLineEdit>(shell::ids::kDefaultUser);
  user->clear();
  QTest::keyClicks(user, "op");
  dlg.ControlAs<QCheckBox>(shell::ids::kCheckSound)->click();
  CSaveParam reread(file);
  EXPECT_EQ(reread.default_user, "op");
  EXPECT_EQ(reread.open_audio, 1);
}

// Sound wanted with no audio output: the user is told once per run (ticking
// Audio again, or a pane to be heard, says nothing more); with an output,
// nothing is said.
TEST_F(MainDialogTest, NoAudioOutputIsToldOncePerRun) {
  int probes = 0;
  bool available = true;
  audio_output = [&] {
    ++probes;
    return available;
  };
  MakeAndInit();
  auto* sound = dlg->ControlAs<QCheckBox>(kCheckSound);
  if (sound->isChecked()) sound->click();
  probes = 0;
  sound->click();
  EXPECT_EQ(probes, 1);
  sound->click();  // unticked: nothing asked
  EXPECT_EQ(probes, 1);
  EXPECT_TRUE(prompts.shown.empty());
  available = false;
  sound->click();
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].text, CXDlg::LangText("NO_AUDIO_OUTPUT"));
  EXPECT_FALSE(prompts.shown[0].text.isEmpty());
  EXPECT_EQ(prompts.shown[0].icon, PromptIcon::kWarning);
  sound->click();
  sound->click();
  dlg->TellIfNoAudioOutput();
  EXPECT_EQ(prompts.shown.size(), 1u);
  EXPECT_TRUE(sound->isChecked());  // the choice stays: sound comes once an output is there
}

TEST_F(MainDialogTest, CheckSelectionWarnsWithoutCheckedRows) {
  MakeAndInit();
  EXPECT_EQ(dlg->CheckSelection(), 0);
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].text, CXDlg::LangText("MSGTIP13"));
  EXPECT_FALSE(prompts.shown[0].text.isEmpty());
  EXPECT_EQ(prompts.shown[0].caption, "ERROR");
  list.checked = 3;
  EXPECT_EQ(dlg->CheckSelection(), 3);
  EXPECT_EQ(prompts.shown.size(), 1u);
}

TEST_F(MainDialogTest, VideoWindowPlacementAndToggle) {
  settings.video_window = {3, 3, 100, 100, 199, 400};  // 99 wide: replaced and saved
  MakeAndInit();
  EXPECT_EQ(dlg->VideoGrid()->PaneCountInGrid(), 9);
  EXPECT_EQ(settings.saves, 1);
  const auto v = settings.video_window;
  EXPECT_GE(v.right - v.left, 100);
  EXPECT_EQ(dlg->VideoHost()->geometry(), QRect(v.left, v.top, v.right - v.left, v.bottom - v.top));
  EXPECT_EQ(dlg->OnToggleMouse3DLocate(), 0);
  EXPECT_EQ(settings.mouse_3d, 1);
  EXPECT_EQ(settings.saves, 2);
  EXPECT_TRUE(dlg->VideoGrid()->GetPane(0)->Mouse3DLocate());
  EXPECT_TRUE(dlg->VideoGrid()->GetPane(63)->Mouse3DLocate());
}

// The windows the program places itself open wholly inside the screen's
// available area, frame and title bar included. The test runs on a 1920 x
// 1080 screen whose windows have frames (the offscreen platform's, 2 pixels).
TEST_F(MainDialogTest, TheVideoWindowAndTheMainWindowOpenInsideTheScreen) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  ASSERT_EQ(screen->geometry(), QRect(0, 0, 1920, 1080))
      << "run with QT_QPA_PLATFORM=offscreen:configfile=app/ui/tests/screen_1920x1080.json, as ctest does";
  const QRect work = screen->availableGeometry();
  MakeAndInit();  // no saved video window: the default place
  CDialogVideo* video = dlg->VideoHost();
  video->SetVisible(5);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(video));
  ASSERT_GT(video->frameGeometry().height(), video->geometry().height()) << "no window frame: the test shows nothing";
  EXPECT_TRUE(work.contains(video->frameGeometry())) << RectText(video->frameGeometry());

  // Moved while open: its new place is stored as the client area, where the
  // next start puts it, not one title bar lower.
  QRect stored;
  QObject::connect(video, &CDialogVideo::placementChanged, [&](QRect r) { stored = r; });
  video->setGeometry(300, 200, 640, 360);
  EXPECT_EQ(stored, QRect(QPoint(300, 200), QPoint(940, 560))) << RectText(stored);
  // Placed anew while open (the two-channel layout spans the work area): fitted.
  video->setGeometry(work.x(), work.y() + work.height() / 4, work.width(), work.height() / 2);
  video->SetVisible(5);
  EXPECT_TRUE(work.contains(video->frameGeometry())) << RectText(video->frameGeometry());

  // The main window opens over the whole work area (before the window
  // manager maximises it): its frame goes inside too.
  dlg->setGeometry(work);
  dlg->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
  EXPECT_TRUE(work.contains(dlg->frameGeometry())) << RectText(dlg->frameGeometry());
}

TEST_F(MainDialogTest, CheckAllBoxTicksOrClearsEveryRow) {
  MakeAndInit();
  auto* box = qobject_cast<QCheckBox*>(dlg->Control(kCheckAll));
  ASSERT_NE(box, nullptr);
  calls.clear();
  box->click();
  box->click();
  EXPECT_EQ(calls, (Calls{"CheckAll 1", "CheckAll 0"}));
}

TEST_F(MainDialogTest, ChoosingANetworkCardRestartsTheSearchOnIt) {
  cards = {{0x0100000a, "10.0.0.1", "eth0"}, {0x0200000a, "10.0.0.2", "eth1"}};
  MakeAndInit();
  auto* combo = qobject_cast<QComboBox*>(dlg->Control(kNetCardCombo));
  ASSERT_NE(combo, nullptr);
  ASSERT_EQ(combo->count(), 3);
  // While a search runs: it stops, and a new one starts on the chosen card.
  calls.clear();
  combo->setCurrentIndex(2);
  emit combo->activated(2);
  EXPECT_EQ(calls, (Calls{"StopSearch", "CloseAllPreviews", "StartSearch"}));
  EXPECT_TRUE(dlg->IsSearchRunning());
  EXPECT_EQ(dlg->GetComboSelData(kNetCardCombo), 0x0200000a);
  EXPECT_TRUE(dlg->Timers().AutoStopArmed());
  EXPECT_EQ(dlg->GetItemText(kSearch), CXDlg::LangText("STOPSEARCH"));
  // With no search running, a choice starts one (and arms the auto-stop again).
  dlg->OnSearchButton();
  dlg->Timers().DisarmAutoStop();
  calls.clear();
  combo->setCurrentIndex(0);
  emit combo->activated(0);
  EXPECT_EQ(calls, (Calls{"CloseAllPreviews", "StartSearch"}));
  EXPECT_TRUE(dlg->IsSearchRunning());
  EXPECT_TRUE(dlg->Timers().AutoStopArmed());
}

// The window as shipped (display.xml next to the program, English texts) at
// two common screen sizes: every caption fits its control, no shown controls
// overlap, and the window cannot be made smaller than that.
TEST_F(MainDialogTest, NoCaptionIsClippedAndNothingOverlapsAt1280And1600) {
  shell::LoadedDisplaySwitches shipped;
  for (const QSize size : {QSize(1280, 720), QSize(1600, 900)}) {
    MainDialogServices s;
    s.sdk = &sdk;
    s.settings = &settings;
    s.display = &shipped;
    s.prompts = &prompts;
    s.sounds = &sounds;
    s.device_list = &list;
    s.live_view = &live;
    s.net_cards = [this] { return cards; };
    s.clock_s = [this] { return now_s; };
    dlg = std::make_unique<CZqDevSearchToolDlg>(s);
    dlg->OnInitDialog();
    dlg->show();
    // The start-up maximise would fit the window to the offscreen screen, smaller
    // than both sizes, whenever its 300 ms pass before the resize (a loaded machine):
    // run it now, then leave the maximised state.
    dlg->OnTimer(shell::TIMER_MAXIMIZE);
    dlg->setWindowState(Qt::WindowNoState);
    QApplication::processEvents();  // the offscreen screen is smaller than both sizes
    dlg->resize(size);
    QApplication::processEvents();
    const auto layout = dlg->LastLayout();
    ASSERT_TRUE(layout.done);
    EXPECT_LE(layout.min_width, size.width());
    std::vector<std::pair<int, QRect>> shown;
    for (const auto& [id, w] : dlg->Controls()) {
      if (!w->isVisible() || id == kLogo) continue;
      shown.emplace_back(id, w->geometry());
      EXPECT_TRUE(dlg->rect().contains(w->geometry())) << size.width() << ": " << id << " outside";
      // The text's own width with the font, plus the control's margins.
      const QString text = dlg->GetItemText(id);
      const int advance = w->fontMetrics().horizontalAdvance(text);
      const QStyle* st = w->style();
      int need = 0;
      if (qobject_cast<QCheckBox*>(w) != nullptr)
        need = st->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, w) +
               st->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, w) + advance;
      else if (qobject_cast<QPushButton*>(w) != nullptr)
        need = advance + 2 * st->pixelMetric(QStyle::PM_ButtonMargin, nullptr, w);
      else if (qobject_cast<QLabel*>(w) != nullptr && id != kStatusText)
        need = advance;
      if (!text.isEmpty()) {
        EXPECT_GE(w->width(), need) << size.width() << ": caption of " << id << " \"" << text.toStdString()
                                    << "\" clipped";
      }
    }
    // The totals line of a running search with four-digit counts fits.
    QWidget* status = dlg->Control(kStatusText);
    const QString totals = CXDlg::LangText("CStorePlayBack_tip_searching") + CXDlg::LangText("STR_TOTAL") +
                           ":9999 " + CXDlg::LangText("STR_SELECTED") + ":9999 ";
    EXPECT_GE(status->width(), status->fontMetrics().horizontalAdvance(totals)) << size.width();
    for (size_t i = 0; i < shown.size(); ++i)
      for (size_t j = i + 1; j < shown.size(); ++j)
        EXPECT_FALSE(shown[i].second.intersects(shown[j].second))
            << size.width() << ": " << shown[i].first << " and " << shown[j].first;
    dlg.reset();
  }
}

TEST_F(MainDialogTest, TheWindowHasTheLayoutsMinimumSize) {
  MakeAndInit();
  dlg->show();
  QApplication::processEvents();
  const auto layout = dlg->LastLayout();
  ASSERT_GT(layout.min_width, 0);
  const QSize screen = dlg->screen()->availableGeometry().size();
  const QSize expected = QSize(layout.min_width, layout.min_height + (dlg->LayoutClientRect().top)).boundedTo(screen);
  EXPECT_EQ(dlg->minimumSize(), expected);
}

// The default login's password shows whole in its box, at the window's least
// size: the shipped 6-character default and longer passwords, saved or typed,
// get room for at least 8 echo characters and for each of theirs up to 16;
// only a longer one scrolls.
TEST_F(MainDialogTest, ThePasswordBoxShowsThePasswordWhole) {
  struct Case {
    const char* saved;
    const char* typed;  // then typed at its end
    int shown;          // echo characters the box shows whole
  };
  const Case cases[] = {{"470913", "", 8},
                        {"12345678", "", 8},
                        {"470913", "abcdefgh", 14},
                        {"1234567890abcdefghij", "", 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.saved) + "+" + c.typed);
    settings.password = c.saved;
    MakeAndInit();
    dlg->show();
    dlg->OnTimer(shell::TIMER_MAXIMIZE);  // now, not in the middle of the test
    dlg->setWindowState(Qt::WindowNoState);
    QApplication::processEvents();
    dlg->resize(dlg->minimumSize());
    QApplication::processEvents();
    auto* box = dlg->ControlAs<QLineEdit>(kDefaultPassword);
    ASSERT_TRUE(box->isVisible());
    if (*c.typed != 0) {
      box->setFocus();
      box->end(false);
      QTest::keyClicks(box, c.typed);
      QApplication::processEvents();
    }
    const QString password = QString::fromUtf8(c.saved) + QString::fromUtf8(c.typed);
    ASSERT_EQ(box->text(), password);
    EXPECT_EQ(settings.password, password.toStdString());

    QStyleOptionFrame option;
    option.initFrom(box);
    const QChar echo(box->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, &option, box));
    EXPECT_GT(box->width(), box->fontMetrics().horizontalAdvance(QString(c.shown, echo)));
    // Nothing scrolled out: the box draws the same with the cursor (not
    // drawn without focus) at the password's start as at its end.
    box->clearFocus();
    box->end(false);
    const QImage at_end = box->grab().toImage();
    box->home(false);
    const QImage at_start = box->grab().toImage();
    EXPECT_EQ(at_end == at_start, static_cast<int>(password.size()) <= c.shown);

    // The top row still fits: the box lies inside the window, clear of every
    // other shown control.
    EXPECT_TRUE(dlg->rect().contains(box->geometry()));
    for (const auto& [id, w] : dlg->Controls()) {
      if (id != kDefaultPassword && id != kLogo && w->isVisible()) {
        EXPECT_FALSE(w->geometry().intersects(box->geometry())) << id;
      }
    }
    dlg.reset();
  }
}

TEST_F(MainDialogTest, CaptionsComeFromTheLanguageTable) {
  MakeAndInit();
  for (int id : {kSearch, kCheckAll, kNetCardLabel, 4, 1291, 1189})
    EXPECT_FALSE(dlg->GetItemText(id).isEmpty()) << id;
  // The first search runs: the button offers to stop it, then to start again.
  EXPECT_EQ(dlg->GetItemText(kSearch), CXDlg::LangText("STOPSEARCH"));
  dlg->OnSearchButton();
  EXPECT_EQ(dlg->GetItemText(kSearch), CXDlg::LangText("STARTSEARCH"));
  dlg->OnSearchButton();
  EXPECT_EQ(dlg->GetItemText(kSearch), CXDlg::LangText("STOPSEARCH"));
  EXPECT_EQ(dlg->TalkButtonText(), CXDlg::CXDlg::LangText("START_TALK"));
  // The QNB cloud type picks the other icon.
  display.strings[shell::kCustomCloudType] = "QNB";
  Make();
  EXPECT_EQ(dlg->IconResource(), 164);
}

class RecordingPrinting : public PrintingSeam {
 public:
  void ShowQrPopup(QWidget*, const QString& text, bool) override { shown.push_back(text); }
  void HideQrPopup() override { ++hidden; }
  void PrintDeviceLabel(QWidget*, const printing::DeviceLabelFields* selected) override {
    labels.push_back(selected ? selected->serial : QStringLiteral("<none>"));
  }
  std::vector<QString> shown;
  std::vector<QString> labels;
  int hidden = 0;
};

class SelectedRowList : public DeviceListSeam {
 public:
  QString FirstSelectedP2pId() override { return p2p; }
  QString P2pIdOfRow(int row) override { return row == 3 ? QStringLiteral("ROW-3") : QString(); }
  bool SelectedLabelFields(printing::DeviceLabelFields& out) override {
    if (p2p.isEmpty()) return false;
    out.p2pId = p2p;
    out.serial = QStringLiteral("SN-") + p2p;
    return true;
  }
  QString p2p;
};

class HidingLiveView : public LiveViewSeam {
 public:
  void HidePreviewPopup() override { ++hidden; }
  int hidden = 0;
};

// A main window over the QR popup's and the label's stand-ins.
struct QrWindow {
  explicit QrWindow(int qr_encode_mode, int qr_show = -1) {
    display.values[shell::kDisplayQrEncode] = qr_encode_mode;
    if (qr_show >= 0) settings.SetQrShow(qr_show);
    MainDialogServices s;
    s.sdk = &sdk;
    s.settings = &settings;
    s.display = &display;
    s.prompts = &prompts;
    s.sounds = &sounds;
    s.printing = &printing;
    s.live_view = &live;
    s.device_list = &list;
    dlg = std::make_unique<CZqDevSearchToolDlg>(s);
    dlg->OnInitDialog();
  }
  Calls calls;
  RecordingSdk sdk{calls};
  FakePrompts prompts;
  SilentSounds sounds;
  shell::MemoryShellSettings settings;
  shell::FixedDisplaySwitches display;
  RecordingPrinting printing;
  HidingLiveView live;
  SelectedRowList list;
  std::unique_ptr<CZqDevSearchToolDlg> dlg;
};

// The QR mode box, clicks and hovers in the list, with and without the hover mode.
TEST(MainDialogQr, ModeClicksAndHovers) {
  for (int hover : {0, 1}) {
    QrWindow w(hover);
    auto& dlg = *w.dlg;
    auto& settings = w.settings;
    auto& printing = w.printing;
    auto& live = w.live;
    auto& list = w.list;
    // QR mode off: a click shows nothing, and the choice is saved.
    dlg.SetCheck(shell::ids::kCheckQr, 0);
    dlg.OnQrModeCheck();
    EXPECT_EQ(settings.QrShow(), 0);
    list.p2p = "SEL";
    EXPECT_EQ(dlg.OnDeviceListClick(0), 0);
    dlg.OnDeviceListHover(3);
    EXPECT_TRUE(printing.shown.empty());
    // On with a selected row: the row's code, unless the popup follows the mouse.
    dlg.SetCheck(shell::ids::kCheckQr, 1);
    dlg.OnQrModeCheck();
    EXPECT_EQ(settings.QrShow(), 1);
    EXPECT_EQ(printing.shown, hover == 0 ? std::vector<QString>{"SEL"} : std::vector<QString>{}) << hover;
    printing.shown.clear();
    dlg.OnDeviceListClick(0);
    dlg.OnDeviceListHover(3);
    EXPECT_EQ(printing.shown, hover == 0 ? std::vector<QString>{"SEL"} : std::vector<QString>{"ROW-3"}) << hover;
    // A click on no row hides both popups; a row without a P2P id hides the QR popup.
    const int hidden = printing.hidden;
    dlg.OnDeviceListClick(-1);
    EXPECT_EQ(printing.hidden, hidden + 1);
    EXPECT_GT(live.hidden, 0);
    list.p2p.clear();
    printing.shown.clear();
    dlg.OnDeviceListClick(1);
    EXPECT_TRUE(printing.shown.empty());
    EXPECT_EQ(printing.hidden, hidden + (hover == 0 ? 2 : 1));
    // Off again: hidden at once.
    dlg.SetCheck(shell::ids::kCheckQr, 0);
    dlg.OnQrModeCheck();
    EXPECT_EQ(printing.hidden, hidden + (hover == 0 ? 3 : 2));
  }
}

// The label button prints the selected row's label, or says none is selected.
TEST(MainDialogQr, LabelButtonPrintsTheSelectedRowsLabel) {
  QrWindow w(0);
  auto* button = w.dlg->ControlAs<QPushButton>(shell::ids::kPrintLabelButton);
  ASSERT_NE(button, nullptr);
  button->click();
  w.list.p2p = "P2P-1";
  button->click();
  EXPECT_EQ(w.printing.labels, (std::vector<QString>{"<none>", "SN-P2P-1"}));
}

TEST(MainDialogQr, PopupFollowsTheSelectedRowOrHidesOnMouseMoves) {
  for (int qr_mode : {0, 1}) {
    QrWindow w(qr_mode, 1);  // the popup shows only in QR mode
    auto& dlg = *w.dlg;
    auto& printing = w.printing;
    auto& list = w.list;
    dlg.show();
    // Sizes the window can take on any screen: from its least size up.
    const QSize least = dlg.minimumSize().expandedTo(QSize(1200, 700));
    dlg.resize(least);
    QApplication::processEvents();
    EXPECT_TRUE(printing.shown.empty());  // no row selected
    list.p2p = "P2P-1";
    dlg.resize(least + QSize(100, 0));
    QApplication::processEvents();
    EXPECT_EQ(printing.shown, qr_mode == 0 ? std::vector<QString>{"P2P-1"} : std::vector<QString>{}) << qr_mode;
    QTest::mouseMove(dlg.Control(shell::ids::kSearch));
    QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(dlg.Control(shell::ids::kSearch), &move);
    EXPECT_EQ(printing.hidden > 0, qr_mode != 0) << qr_mode;
  }
}

TEST_F(MainDialogTest, QuickSearchBuildRequestsEvery100Ms) {
  MainDialogServices s;
  s.sdk = &sdk;
  s.settings = &settings;
  s.display = &display;
  s.prompts = &prompts;
  s.sounds = &sounds;
  s.version = "V6.0.8_QUICKSEARCH_1";
  CZqDevSearchToolDlg quick(s);
  quick.OnInitDialog();
  EXPECT_TRUE(quick.QuickSearch());
  EXPECT_EQ(quick.TimerPeriod(shell::TIMER_SEARCH_REQUEST), 100);
}

TEST(AboutDialog, ShowsTheLanguageTitle) {
  CAboutDlg about("V6.0.8_20261028");
  about.OnInitDialog();
  EXPECT_EQ(about.windowTitle(), "About");
  EXPECT_EQ(about.GetItemText(1081), QString::fromStdString(LanguageTable::Instance().GetTitle()));
}

TEST_F(MainDialogTest, ModelessDialogsAreMadeOnceAndAFailureIsReported) {
  MakeAndInit();
  EXPECT_FALSE(dlg->CreateAudioPlayDlg());  // no factory: reported, no retry loop
  EXPECT_FALSE(dlg->CreateBootServerDlg());
}

// The audio button's menu: 1296 shows the intercom window (made once), 1300
// hands it to the talk command, and the talk item names what it will do.
TEST_F(MainDialogTest, AudioButtonOpensTheIntercomWindowAndTalks) {
  int made = 0, talks = 0;
  bool talking = false;
  modeless.audio_play = [&made](QWidget* parent) {
    ++made;
    return new QDialog(parent);
  };
  modeless.audio_talk = [&talks](QDialog* d) { talks += d != nullptr ? 1 : 0; };
  modeless.audio_talking = [&talking](QDialog*) { return talking; };
  MakeAndInit();
  dlg->show();
  auto action = [this](int id) -> QAction* {
    for (QAction* a : dlg->AudioMenu()->actions())
      if (a->data().toInt() == id) return a;
    return nullptr;
  };
  QTest::mouseClick(dlg->ControlAs<QPushButton>(shell::ids::kTalkButton), Qt::LeftButton);
  ASSERT_NE(dlg->AudioMenu(), nullptr);
  ASSERT_NE(action(1296), nullptr);
  ASSERT_NE(action(1300), nullptr);
  EXPECT_EQ(action(1300)->text(), CXDlg::LangText("START_TALK"));
  dlg->AudioMenu()->hide();
  action(1296)->trigger();
  ASSERT_NE(dlg->AudioPlayDlg(), nullptr);
  EXPECT_TRUE(dlg->AudioPlayDlg()->isVisible());
  EXPECT_EQ(dlg->AudioPlayDlg()->parentWidget(), dlg.get());

  talking = true;
  QTest::mouseClick(dlg->ControlAs<QPushButton>(shell::ids::kTalkButton), Qt::LeftButton);
  EXPECT_EQ(action(1300)->text(), CXDlg::LangText("STOP_TALK"));
  EXPECT_EQ(dlg->AudioMenu()->actions().size(), 3);  // rebuilt, not appended
  ASSERT_NE(action(1304), nullptr);
  EXPECT_EQ(action(1304)->text(), CXDlg::LangText("TEST_MIC_AND_SPEAKER"));
  dlg->AudioMenu()->hide();
  action(1300)->trigger();
  EXPECT_EQ(talks, 1);
  EXPECT_EQ(made, 1);

  // The microphone and speaker test: the upload field is emptied, and with
  // no row checked the window says so instead of testing.
  dlg->SetItemText(kUploadCfgEdit, QStringLiteral("cfg.bin"));
  list.checked = 0;
  action(1304)->trigger();
  EXPECT_TRUE(dlg->GetItemText(kUploadCfgEdit).isEmpty());
  EXPECT_TRUE(list.commands.empty());
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].text, CXDlg::LangText("MSGTIP13"));
  EXPECT_EQ(prompts.shown[0].caption, QStringLiteral("ERROR"));
  list.checked = 2;
  action(1304)->trigger();
  EXPECT_EQ(list.commands, std::vector<int>{1304});
  EXPECT_EQ(prompts.shown.size(), 1u);
}

// The focus button opens the focusing window only for exactly one checked
// row; a second press replaces it.
TEST_F(MainDialogTest, FocusButtonNeedsExactlyOneCheckedRow) {
  int made = 0;
  modeless.manual_focus = [&made](QWidget* parent) {
    ++made;
    // As wide as the focusing window: more than the room right of the
    // main window's centre on the test screen.
    auto* focus = new QDialog(parent);
    focus->setMinimumSize(700, 300);
    return focus;
  };
  MakeAndInit();
  auto* button = dlg->ControlAs<QPushButton>(kFocusModeButton);
  for (int checked : {0, 2}) {
    list.checked = checked;
    button->click();
  }
  EXPECT_EQ(made, 0);
  ASSERT_EQ(prompts.shown.size(), 2u);
  EXPECT_EQ(prompts.shown[1].text, CXDlg::LangText("STRING_ONLY_SUPPORT_ONE_CAMERA"));
  list.checked = 1;
  button->click();
  ASSERT_NE(dlg->ManualFocusDlg(), nullptr);
  QPointer<QDialog> first = dlg->ManualFocusDlg();
  EXPECT_TRUE(first->isVisible());
  // Placed at its full size, wholly on the screen.
  const QRect work = dlg->screen()->availableGeometry();
  EXPECT_GE(first->width(), 700);
  EXPECT_TRUE(work.contains(first->frameGeometry())) << first->frameGeometry().x() << "," << first->frameGeometry().y();
  button->click();
  EXPECT_EQ(made, 2);
  EXPECT_TRUE(first.isNull());
  EXPECT_EQ(prompts.shown.size(), 2u);
}

TEST_F(MainDialogTest, SdkEventsArriveOnTheUiThread) {
  MakeAndInit();
  std::thread sdk_thread([sink = dlg->SdkEventSink()] {
    sink->PostStatusEvent(device::MakeStatusEvent(5, 14, "done"));
    sink->PostAuxResponse(device::MakeAuxResponse(5, 504, "<x/>"));
  });
  sdk_thread.join();
  EXPECT_TRUE(list.events.empty());  // nothing runs on the SDK's thread
  QApplication::processEvents();
  EXPECT_EQ(list.events, (std::vector<int>{14, 504}));
  ASSERT_EQ(list.event_threads.size(), 1u);
  EXPECT_EQ(list.event_threads[0], std::this_thread::get_id());
}

TEST(MainDialogLinked, StartsAndClosesWithTheLinkedLibraries) {
  LinkedShellSdk sdk;
  FakePrompts prompts;
  SilentSounds sounds;
  shell::MemoryShellSettings settings;
  MainDialogServices s;
  s.sdk = &sdk;
  s.settings = &settings;
  s.prompts = &prompts;
  s.sounds = &sounds;
  s.net_cards = LocalNetCards;
  sdk.PlayerInit();
  {
    CZqDevSearchToolDlg dlg(s);
    dlg.OnInitDialog();
    dlg.show();
    QApplication::processEvents();
    dlg.close();
    EXPECT_TRUE(dlg.IsClosed());
  }
  EXPECT_EQ(sdk.PlayerReleaseAll(), 0);
}

TEST(WndManager, PanesFillTheAreaAndIgnoreOversizedGrids) {
  for (auto [rows, cols] : {std::pair{1, 1}, {2, 2}, {3, 3}, {4, 5}, {5, 5}, {8, 8}}) {
    int area = 0;
    for (int i = 0; i < rows * cols; ++i) area += CWndManager::PaneRect(i, rows, cols, 1001, 601).width() *
                                                  CWndManager::PaneRect(i, rows, cols, 1001, 601).height();
    EXPECT_EQ(area, 1001 * 601) << rows << "x" << cols;
  }
  EXPECT_TRUE(CWndManager::PaneRect(4, 2, 2, 100, 100).isNull());
  CWndManager grid;
  grid.SetGrid(3, 3);
  grid.SetGrid(9, 8);  // 72 > 64: ignored
  EXPECT_EQ(grid.PaneCountInGrid(), 9);
}

}  // namespace
}  // namespace kelvara::ui

namespace kelvara::ui {
namespace {

// The firmware seam: its buttons, files and folders dropped on the window,
// and the upgrade watch that ends a run only when the firmware says so.
class RecordingFirmware : public FirmwareSeam {
 public:
  bool OnCommand(int id) override {
    commands.push_back(id);
    return true;
  }
  void OnDropFiles(const QStringList& paths) override { drops.push_back(paths); }
  bool UpgradeWatchTick() override {
    ++ticks;
    return run_over;
  }
  void UpgradeRunEnded() override { ++ended; }
  std::vector<int> commands;
  std::vector<QStringList> drops;
  int ticks = 0, ended = 0;
  bool run_over = false;
};

TEST_F(MainDialogTest, FirmwareButtonsDropsAndUpgradeWatch) {
  RecordingFirmware firmware;
  MainDialogServices s;
  s.sdk = &sdk;
  s.settings = &settings;
  s.display = &display;
  s.prompts = &prompts;
  s.sounds = &sounds;
  s.device_list = &list;
  s.live_view = &live;
  s.firmware = &firmware;
  dlg = std::make_unique<CZqDevSearchToolDlg>(s);
  dlg->resize(1600, 900);
  dlg->OnInitDialog();
  const std::vector<int> buttons = {1189, 1190, 1191, 1192, 1193, 1291, 1292, 1293, 1294, 1295, 1302, 6};
  for (int id : buttons) dlg->ControlAs<QPushButton>(id)->click();
  EXPECT_EQ(firmware.commands, buttons);

  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile("/images/a.bin"), QUrl::fromLocalFile("/images/b.bin")});
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  static_cast<QObject*>(dlg.get())->event(&drop);  // as the window receives a drop
  ASSERT_EQ(firmware.drops.size(), 1u);
  EXPECT_EQ(firmware.drops[0], (QStringList{"/images/a.bin", "/images/b.bin"}));

  dlg->SetUpgradeBusy(true);
  dlg->StartUpgradeWatch();
  EXPECT_EQ(dlg->TimerPeriod(shell::TIMER_UPGRADE_WATCH), 1000);
  dlg->OnTimer(shell::TIMER_UPGRADE_WATCH);  // an upgrade of the run is not over
  EXPECT_TRUE(dlg->UpgradeBusy());
  EXPECT_TRUE(dlg->IsTimerRunning(shell::TIMER_UPGRADE_WATCH));
  firmware.run_over = true;
  dlg->OnTimer(shell::TIMER_UPGRADE_WATCH);
  EXPECT_FALSE(dlg->UpgradeBusy());
  EXPECT_FALSE(dlg->IsTimerRunning(shell::TIMER_UPGRADE_WATCH));
  EXPECT_EQ(firmware.ticks, 2);
  EXPECT_EQ(firmware.ended, 1);
}

}  // namespace
}  // namespace kelvara::ui
