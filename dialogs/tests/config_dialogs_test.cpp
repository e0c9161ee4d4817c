// The configuration dialogs as the user meets them: controls set by id, OK or
// Save, Enter, Escape; what each returns and what it shows.
#include <QApplication>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimeEdit>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "dialogs/ui/dialog_manual_focus.h"
#include "dialogs/ui/dialog_pages.h"
#include "dialogs/ui/dialog_remote_cfg.h"
#include "dialogs/ui/dialog_small_settings.h"
#include "dialogs/ui/dialog_time_set.h"
#include "dialogs/ui/dialog_title_setting.h"
#include "dialogs/ui/dialog_tour_date.h"

namespace kelvara::dialogs {
namespace {

class RecordingPrompts : public ui::UserPrompts {
 public:
  int MessageBox(QWidget*, const QString& text, const QString&, ui::PromptIcon, ui::PromptButtons) override {
    messages.push_back(text);
    return ui::kAnswerOk;
  }
  QString OpenFileName(QWidget*, const QString&, const QString&, const QString&) override { return openFile; }
  QString SaveFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  QString FolderName(QWidget*, const QString&, const QString&) override { return {}; }
  std::vector<QString> messages;
  QString openFile;
};

void SetText(ui::CXDlg& d, int id, const QString& text) { d.ControlAs<QLineEdit>(id)->setText(text); }
void Key(QWidget& w, Qt::Key key) { QTest::keyClick(&w, key); }
QString Lang(const char* key) { return ui::CXDlg::LangText(key); }

TEST(DialogTitleSetting, LoadsRecordAndStoresOnOk) {
  OverlayConfig start;
  start.enable = 1;
  start.time_format = "unknown";
  start.time_pos_x = 2;
  start.title_pos_y = 2;
  start.title_utf8_hex = "43616d31";
  start.style = 5;
  CDialogTitleSetting d(start);
  EXPECT_EQ(d.GetComboSelData(1011), 1);
  EXPECT_EQ(d.GetComboSelData(1019), 5);
  EXPECT_EQ(d.GetComboSelData(1018), 0);
  EXPECT_EQ(d.GetItemText(1009), "Cam1");
  EXPECT_EQ(d.GetCheck(1012) + d.GetCheck(1015) + d.GetCheck(1013), 0);
  d.SetCheck(1012, 1);
  d.SetCheck(1013, 1);
  SetText(d, 1009, QString::fromUtf8("Tor ä"));
  d.show();
  Key(*d.Control(1009), Qt::Key_Return);  // Enter is OK
  EXPECT_FALSE(d.cancelled);
  EXPECT_EQ(d.result(), QDialog::Accepted);
  EXPECT_EQ(d.overlay.time_format, "yyyy-mm-dd hh:mm:ss");
  EXPECT_EQ(d.overlay.time_pos_x, 1);
  EXPECT_EQ(d.overlay.time_pos_y, 0);
  EXPECT_EQ(d.overlay.title_pos_x, 2);
  EXPECT_EQ(d.overlay.title_pos_y, 2);
  EXPECT_EQ(d.overlay.title_utf8_hex, "546f7220c3a4");
  EXPECT_EQ(d.overlay.style, 5);
  EXPECT_EQ(d.showIp, 1);
  EXPECT_EQ(d.showModel, 0);
  EXPECT_EQ(d.showSerial, 1);

  CDialogTitleSetting again(d.overlay);
  again.show();
  Key(again, Qt::Key_Escape);
  EXPECT_TRUE(again.cancelled);
  EXPECT_EQ(again.result(), QDialog::Rejected);
}

TEST(SmallDialogs, ImageParamChecksAndRequest) {
  RecordingPrompts prompts;
  CImageParamDialog d;
  d.SetPrompts(&prompts);
  d.show();
  SetText(d, 1023, "12");
  d.OnOk();
  EXPECT_EQ(prompts.messages, std::vector<QString>{"MCTF ERROR"});
  EXPECT_TRUE(d.cancelled);
  EXPECT_TRUE(d.isVisible());
  EXPECT_EQ(d.GetItemText(1023), "12") << "the input stays";
  SetText(d, 1023, "-1");
  SetText(d, 1025, "");
  d.OnOk();
  EXPECT_EQ(prompts.messages.back(), "shutter error");
  SetText(d, 1025, "-1");
  Key(*d.Control(1025), Qt::Key_Enter);
  EXPECT_FALSE(d.cancelled);
  EXPECT_EQ(d.request, "<REQUEST_PARAM mctf=\"-1\" gain=\"30\" shuttermax=\"-1\" />");
}

TEST(SmallDialogs, MotionDefaultsAndRefusal) {
  RecordingPrompts prompts;
  CMdAlarmDialog d;
  d.SetPrompts(&prompts);
  SetText(d, 526, "101");
  d.OnOk();
  EXPECT_EQ(prompts.messages, std::vector<QString>{QString::fromUtf8("阈值设置错误。")});
  SetText(d, 526, "20");
  d.OnOk();
  EXPECT_FALSE(d.cancelled);
  EXPECT_EQ(d.values.enable, 0);
  EXPECT_EQ(MotionBlockCount(d.values.columns, d.values.rows), 0x40003);
  EXPECT_EQ(d.values.sensitivity, 80);
}

TEST(SmallDialogs, PlatformRules) {
  RecordingPrompts prompts;
  CDlgIpvsSetting d;
  d.SetPrompts(&prompts);
  EXPECT_FALSE(d.Control(1013)->isEnabled());
  d.SetCheck(1015, 1);
  EXPECT_TRUE(d.Control(1013)->isEnabled());
  d.OnOk();
  EXPECT_EQ(prompts.messages, std::vector<QString>{Lang("MSGTIP47")});
  SetText(d, 1013, "platform.example.com");
  SetText(d, 1014, "70000");
  d.OnOk();
  EXPECT_EQ(prompts.messages.back(), Lang("MSGTIP48"));
  EXPECT_TRUE(d.cancelled);
  SetText(d, 1014, "10002");
  SetText(d, 1942, "100,abc");
  d.OnOk();
  EXPECT_FALSE(d.cancelled);
  EXPECT_TRUE(d.values.enable);
  EXPECT_EQ(d.values.port, 10002);
  EXPECT_EQ(d.values.account, "100,abc");
  EXPECT_TRUE(d.values.numberAccount);

  CDlgIpvsSetting atOnce;
  atOnce.OnOk();
  EXPECT_FALSE(atOnce.cancelled);
  EXPECT_FALSE(atOnce.values.enable);
  EXPECT_EQ(atOnce.values.port, 10001);
}

TEST(SmallDialogs, BatchDetectionListDefaults) {
  CBatchSetPDDlg d;
  d.SetCheck(2027, 1);
  d.SelectComboByData(1019, 3);
  d.OnOk();
  EXPECT_EQ(d.result(), QDialog::Accepted);
  BatchPDSettings expected;
  expected.audio_schedule = 0;  // the lists' defaults, not the record's
  expected.motion = 1;
  expected.flash_light_schedule = 3;
  EXPECT_EQ(d.settings, expected);
  CBatchSetPDDlg again;
  EXPECT_EQ(again.GetComboSelData(1019), 0) << "reopens with the list defaults";
  again.show();
  // Wide enough that a window manager shows the whole title.
  EXPECT_EQ(again.windowTitle(), Lang("ALARM_CODE_AI_DETECT_SETTING"));
  EXPECT_GE(again.width(), ui::TitleFitWidth(again.windowTitle()));
  EXPECT_GT(ui::TitleFitWidth(again.windowTitle()), again.fontMetrics().horizontalAdvance(again.windowTitle()));
  Key(again, Qt::Key_Escape);
  EXPECT_EQ(again.result(), QDialog::Rejected);
}

TEST(Pages, AudioCaptureSaveEnterAndEscape) {
  CMediaACapture d;
  d.show();
  Key(*d.Control(1454), Qt::Key_Return);
  EXPECT_TRUE(d.isVisible()) << "Enter neither saves nor closes the page";
  EXPECT_TRUE(d.cancelled);
  d.ControlAs<QSlider>(4725)->setValue(0);
  EXPECT_EQ(d.GetItemText(1454), "0");
  SetText(d, 1457, "abc");
  d.OnSave();
  EXPECT_FALSE(d.cancelled);
  EXPECT_EQ(d.xml, "<Capture Volume=\"0\" VolumePlay=\"100\" amplify=\"0\" ra_answer=\"0\" />\n");
  EXPECT_FALSE(d.Control(4690)->isVisible());

  CMediaACapture esc;
  esc.show();
  Key(esc, Qt::Key_Escape);
  EXPECT_TRUE(esc.cancelled);
  EXPECT_TRUE(esc.xml.empty());
  CMediaACapture closed;
  closed.show();
  closed.close();  // the close box
  EXPECT_TRUE(closed.cancelled);
  EXPECT_EQ(closed.result(), QDialog::Rejected);
}

TEST(Pages, AudioEncodeCascade) {
  CMediaAEncode d;
  EXPECT_EQ(d.GetItemText(1461), "G.711");
  EXPECT_EQ(d.GetItemText(545), "8000");
  EXPECT_EQ(d.GetItemText(561), "64000");
  auto* type = d.ControlAs<QComboBox>(1461);
  auto* rate = d.ControlAs<QComboBox>(545);
  rate->setCurrentIndex(2);
  emit rate->activated(2);
  type->setCurrentIndex(2);
  emit type->activated(2);
  EXPECT_EQ(d.GetItemText(545), "48000");
  EXPECT_EQ(d.GetItemText(561), "48000");
  auto* enable = d.ControlAs<QComboBox>(1458);
  enable->setCurrentIndex(0);
  emit enable->activated(0);
  EXPECT_FALSE(type->isEnabled());
  d.OnSave();
  EXPECT_EQ(d.xml,
            "<Audio>\n\t<Encode Enable=\"0\" SampleRate=\"48000\" EncodeType=\"AAC\" BitRate=\"48000\" />\n</Audio>\n");
}

TEST(Pages, MaintenanceDefaults) {
  CSYSRMDlg d;
  d.show();
  Key(d, Qt::Key_Enter);
  EXPECT_TRUE(d.cancelled);
  EXPECT_TRUE(d.isVisible());
  d.OnSave();
  EXPECT_FALSE(d.cancelled);
  EXPECT_EQ(d.xml, "<MaintainConfig\tEnable=\"0\" Day=\"7\" Time=\"02:00:00\" />");
}

TEST(Pages, AlarmClockKeysAndSave) {
  CSYSClock d;
  AlarmClockSettings s{};
  s.clocks[1] = {1, 7, 15, 0};
  d.SetClockSettings(s);
  EXPECT_FALSE(d.Control(4705)->isEnabled());
  EXPECT_TRUE(d.Control(4700)->isEnabled());
  d.show();
  Key(d, Qt::Key_Escape);
  Key(d, Qt::Key_Return);
  EXPECT_TRUE(d.isVisible()) << "Enter and Escape are swallowed";
  d.ControlAs<QCheckBox>(4704)->setChecked(true);
  EXPECT_EQ(d.ControlAs<QTimeEdit>(4706)->time(), QTime(23, 59, 59));
  d.OnSave();
  EXPECT_FALSE(d.cancelled);
  EXPECT_EQ(d.GetClockSettings().oclock_enable, 1);
  EXPECT_EQ(d.GetClockSettings().clocks[1], (AlarmClockSettings::Clock{1, 7, 15, 0}));
  EXPECT_EQ(d.xml, BuildAlarmClockXml(d.GetClockSettings()));
  d.close();
}

TEST(TourDate, PresetTourModesAndValues) {
  AfStudySettings t;
  t.nPtzZoomInterval = 750;
  t.nPtzSpeed = 7;
  t.presets[5] = {1, 9, 1};
  DialogAfStudyCfg d(0, t);
  d.show();
  for (int unit : {1259, 1260}) {
    ASSERT_NE(d.Control(unit), nullptr) << unit;
    EXPECT_TRUE(d.Control(unit)->isVisible()) << unit;
  }
  EXPECT_EQ(d.GetComboSelData(1257), 800);
  EXPECT_EQ(d.GetComboSelData(1256), 7);
  SetText(d, 1249, "");
  SetText(d, 1253, "15");
  d.OnOk();
  EXPECT_EQ(d.result(), QDialog::Accepted);
  EXPECT_EQ(d.GetConfig().nPtzZoomInterval, 800);
  EXPECT_EQ(d.GetConfig().interval_sec, 15);
  EXPECT_EQ(d.GetConfig().presets[0].presetNum, 0);
  EXPECT_EQ(d.GetConfig().presets[5], t.presets[5]);

  RecordingPrompts prompts;
  DialogAfStudyCfg ptz(1, t);
  ptz.SetPrompts(&prompts);
  ptz.show();
  EXPECT_FALSE(ptz.Control(1256)->isVisible());
  EXPECT_FALSE(ptz.Control(1260)->isVisible()) << "the zoom interval's unit goes with its row";
  EXPECT_TRUE(ptz.Control(1259)->isVisible());
  SetText(ptz, 1253, "100000");
  ptz.OnOk();
  EXPECT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(prompts.messages.back(), Lang("IDS_INTERVEL_TIME") + ": 0-86400");
  EXPECT_EQ(ptz.GetConfig(), t) << "nothing changes on a refusal";
  // A preset number the devices cannot keep: the box names the range.
  SetText(ptz, 1253, "10");
  SetText(ptz, 1249, "300");
  ptz.OnOk();
  ASSERT_EQ(prompts.messages.size(), 2u);
  EXPECT_EQ(prompts.messages.back(), Lang("IDS_STR_ZH_CN_ADV_TIPS2") + ": 0-255");
  EXPECT_EQ(ptz.GetConfig(), t);
}

TEST(TourDate, DateSelAndInputValue) {
  CDialogDateSel d;
  d.values.targetSeconds = 300;
  d.values.alwaysRecreate = true;
  d.LoadControls();
  d.OnOk();
  EXPECT_FALSE(d.values.cancelled);
  EXPECT_EQ(d.values.targetSeconds, 120);
  EXPECT_FALSE(d.values.alwaysRecreate);
  EXPECT_EQ(d.values.start, (ClockTime{7, 30, 0}));
  EXPECT_EQ(d.values.end, (ClockTime{19, 30, 0}));
  EXPECT_EQ(d.values.day, QDate::currentDate().day());

  CDialogInputValue v;
  EXPECT_EQ(v.windowTitle(), QString::fromUtf8("输入数据"));
  v.SetValue("");
  EXPECT_EQ(v.GetItemText(1033), "");
  v.OnOk();
  EXPECT_EQ(v.GetValue(), "");
  // The device log's level dialog: opened wide enough for its whole title.
  CDialogInputValue level;
  level.SetTitle(Lang("ID__MENU_SLOGLEVEL_DEFAULT"));
  level.show();
  EXPECT_GE(level.width(), ui::TitleFitWidth(Lang("ID__MENU_SLOGLEVEL_DEFAULT")));
}

TEST(TimeSet, OpensSavesAndTicks) {
  TimeSettings saved{"MANUAL", 1200, "pool.ntp.org", 123, 3600};
  std::vector<TimeSettings> stored;
  bool saveWorks = true;
  auto rules = ParseTimeZoneRules("<tz><item value=\"X,M3.2.0/2,M11.1.0\">GMT+08:00(x)</item></tz>");
  RecordingPrompts prompts;
  CSYSTimeSet d(saved, rules, "en-us", [&](const TimeSettings& s) {
    stored.push_back(s);
    return saveWorks;
  });
  d.SetPrompts(&prompts);
  d.show();
  EXPECT_EQ(d.ControlAs<QComboBox>(1097)->currentText(), "(GMT+08:00)");
  EXPECT_EQ(d.GetComboSel(1093), 1);
  EXPECT_FALSE(d.Control(523)->isVisible()) << "NTP rows hidden in manual mode";
  EXPECT_TRUE(d.ClockTicking());
  const QDateTime shown = d.ControlAs<QDateTimeEdit>(1085)->dateTime();
  EXPECT_LE(std::abs(shown.secsTo(QDateTime::currentDateTime())), 2);
  d.SetCheck(1087, 0);
  EXPECT_FALSE(d.ClockTicking());

  d.OnZoneChanged();
  EXPECT_EQ(d.GetComboSelData(1094), 3);
  EXPECT_EQ(d.GetComboSelData(1114), 2);
  EXPECT_EQ(d.GetComboSelData(1096), 11);
  EXPECT_FALSE(d.Control(1094)->isEnabled());
  d.SetCheck(1088, 1);
  EXPECT_TRUE(d.Control(1094)->isEnabled());

  // NTP mode checks its fields.
  d.SetComboSel(1093, 0);
  EXPECT_TRUE(d.Control(523)->isVisible());
  SetText(d, 523, "65536");
  d.OnSave();
  EXPECT_EQ(prompts.messages, std::vector<QString>{Lang("IDS_STR_ZH_CN_MSG_TIPS126")});
  EXPECT_TRUE(d.notSaved);
  // Outside NTP mode the hidden fields never block Save.
  d.SetComboSel(1093, 2);
  saveWorks = false;
  d.OnSave();
  EXPECT_TRUE(d.notSaved) << "a settings file that could not be written is reported";
  EXPECT_EQ(prompts.messages.size(), 2u);
  saveWorks = true;
  d.OnSave();
  EXPECT_FALSE(d.notSaved);
  EXPECT_EQ(stored.back(), (TimeSettings{"P2P", 1200, "pool.ntp.org", 123, 3600}));
  EXPECT_NE(d.xml.find("<TimeConfig TimeMode=\"P2P\" TimeZone=\"1200\">"), std::string::npos);
  EXPECT_FALSE(d.ClockTicking());
}

TEST(ManualFocus, ReportsRequestsAndSets) {
  const std::filesystem::path dir = std::filesystem::path(std::getenv("KELVARA_HOME")) / "focus-ui";
  std::vector<std::pair<int, std::string>> sent;
  int selected = 7;
  std::vector<bool> grid;
  FocusHost host{[&](bool) { return selected; },
                 [&](int h, int code, const std::string& text) {
                   EXPECT_EQ(code, 1157);
                   sent.emplace_back(h, text);
                   return 0;
                 },
                 [&](bool on) { grid.push_back(on); }};
  RecordingPrompts prompts;
  auto* owned = new CManualFocusDlg(host, dir);
  CManualFocusDlg& d = *owned;
  d.SetPrompts(&prompts);
  ManualFocusSeam seam;
  EXPECT_FALSE(seam.Exists());
  seam.Set(owned);
  EXPECT_TRUE(seam.Exists());
  EXPECT_EQ(d.GetItemText(1016), "default");
  EXPECT_TRUE(std::filesystem::exists(dir / "mfocus_default.txt"));
  // Each column of regions names its rows and its two value columns; the
  // grid switch says what it switches.
  const std::pair<std::vector<int>, const char*> captions[] = {{{2084, 2092, 2094}, "IDS_FOCUS_BASE_VALUE"},
                                                               {{2085, 2093, 2095}, "IDS_FOCUS_CUR_VALUE"},
                                                               {{2086, 2088, 2090}, "IDS_FOCUS_VALUE"},
                                                               {{2087, 2089, 2091}, "IDS_FOCUS_MATCH"}};
  for (const auto& [ids, key] : captions)
    for (int id : ids) EXPECT_EQ(d.GetItemText(id), Lang(key)) << id;
  EXPECT_FALSE(d.GetItemText(2022).isEmpty());

  SetText(d, 2082, "2000");
  d.OnStart();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].first, 7);
  EXPECT_EQ(sent[0].second.rfind("<MANUAL_FOCUS_CMD CMD=\"START\">\n\t<RECT value=\"2000\" match=\"90\" />", 0), 0u);
  d.OnStop();
  EXPECT_EQ(sent.back().second, "<MANUAL_FOCUS_CMD CMD=\"STOP\" />\n");

  std::string report = "{mfocus:1800,0;";
  for (int i = 0; i < 8; ++i) report += "950,0;";
  d.OnFocusResult(8, report + "}");  // another device
  EXPECT_EQ(d.ResultText(), "");
  d.OnFocusResult(7, report + "}");
  QApplication::processEvents();
  EXPECT_EQ(d.ResultText(), "Pass!!!");
  EXPECT_EQ(d.GetItemText(1013), "90");
  d.OnFocusResult(7, "{mfocus:1,1;}");  // short: nothing changes
  EXPECT_EQ(d.ResultText(), "Pass!!!");
  d.SetCheck(2021, 0);
  d.OnFocusResult(7, "{mfocus:" + std::string("1,0;1,0;1,0;1,0;1,0;1,0;1,0;1,0;1,0;") + "}");
  EXPECT_EQ(d.ResultText(), "Pass!!!") << "auto refresh off drops reports";

  d.OnSetCurrentAsBase();
  EXPECT_EQ(d.Base()[0].first, 1800u);
  SetText(d, 1011, "80");
  d.OnSetAll();
  EXPECT_EQ(d.Base()[8].second, 80u);

  d.askName = [](const QString&, const QString& initial) -> std::optional<QString> {
    EXPECT_EQ(initial, "new");
    return QString("../evil");
  };
  d.OnSaveAs();
  ASSERT_EQ(prompts.messages.size(), 1u) << "an unsafe name is refused";
  EXPECT_EQ(prompts.messages.back(), Lang("MSG_FILE_NAME_INVALID").replace("%s", "../evil")) << "naming the name";
  EXPECT_FALSE(std::filesystem::exists(dir.parent_path() / "evil.txt"));
  d.askName = [](const QString&, const QString&) -> std::optional<QString> { return QString("line2"); };
  d.OnSaveAs();
  EXPECT_EQ(d.GetItemText(1016), "line2");
  EXPECT_EQ(FocusReferenceFolder(dir).Load("line2"), d.Base());

  prompts.openFile = QString::fromStdString((dir / "nothing.txt").string());
  d.OnLoadFile();
  EXPECT_EQ(prompts.messages.back(), Lang("STR_XML_ERROR"));

  d.ControlAs<QCheckBox>(2022)->setChecked(true);
  d.ControlAs<QCheckBox>(2022)->setChecked(false);
  EXPECT_EQ(grid, (std::vector<bool>{true, false}));
  selected = 0;
  sent.clear();
  d.OnStart();
  EXPECT_TRUE(sent.empty());

  // Reports come through the device commands' seam while the dialog exists.
  selected = 7;
  d.SetCheck(2021, 1);
  std::string low = "{mfocus:";
  for (int i = 0; i < 9; ++i) low += "10,0;";
  seam.OnFocusResult(7, low + "}");
  EXPECT_EQ(d.ResultText(), "NG!!!");
  delete owned;
  EXPECT_FALSE(seam.Exists());
  seam.OnFocusResult(7, low + "}");
}

TEST(RemoteCfg, WindowSizeAndRelease) {
  EXPECT_EQ(RemoteCfgWindowRect(QRect(0, 0, 1920, 1080)), QRect(480, 120, 960, 840));
  EXPECT_EQ(RemoteCfgWindowRect(QRect(0, 0, 800, 600)), QRect(0, 0, 800, 600));
  // A port nobody listens on: the login fails on the library's thread while
  // the window is already open.
  const auto before = std::chrono::steady_clock::now();
  CRemoteCfgDlg d({"127.0.0.1", 1, "admin", "pw", 3}, "en-us");
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(500));
  EXPECT_GE(d.Instance(), 1);
  auto* state = d.findChild<QLabel*>("RemoteConfigState");
  ASSERT_NE(state, nullptr);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (state->text() == "logging in" && std::chrono::steady_clock::now() < end) QApplication::processEvents();
  EXPECT_EQ(state->text(), "login failed");
  d.close();
  EXPECT_EQ(d.Instance(), 0);
  d.close();
  d.Release();
  // The library's widgets are deleted in later passes of the event loop.
  EXPECT_TRUE(QTest::qWaitFor([&] { return d.findChild<QLabel*>("RemoteConfigState") == nullptr; }, 5000));

  // Escape hides the window like the close box and releases the library too.
  CRemoteCfgDlg e({"127.0.0.1", 1, "admin", "pw", 3}, "en-us");
  e.show();
  ASSERT_GE(e.Instance(), 1);
  Key(e, Qt::Key_Escape);
  EXPECT_FALSE(e.isVisible());
  EXPECT_EQ(e.Instance(), 0);
}

}  // namespace
}  // namespace kelvara::dialogs
