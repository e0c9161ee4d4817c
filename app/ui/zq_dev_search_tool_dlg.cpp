#include "app/ui/zq_dev_search_tool_dlg.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QStyledItemDelegate>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <chrono>

#include "common/debug_log.h"
#include "common/language_table.h"
#include "common/ui/window_fit.h"
#include "app/shell/language_commands.h"
#include "app/shell/window_placement.h"
#include "app/ui/about_dlg.h"
#include "media/ui/wnd_manager.h"
#include "controls/ui/report_ctrl.h"
#include "controls/ui/shade_button_st.h"

namespace kelvara::ui {
namespace {

using namespace shell::ids;

// The button panel and file rows: every push button the window has.
constexpr int kPushButtons[] = {3,    26,   4,    7,    1030, 21,   1034, 32988, 17,   32974, 32924, 1299,
                                1031, 1028, 1301, 1297, 1303, 1035, 22,   14,    15,   11,    1305,  1306,
                                1298, 1295, 1193, 20,   19,   1029, 2064, 1294,  6,    10,    13,    16,
                                25,   18,   29,   1291, 1293, 1292, 1189, 1190,  1191, 1192, 1302};
// Buttons whose handlers belong to the firmware subsystem.
constexpr int kFirmwareButtons[] = {1189, 1190, 1191, 1192, 1193, 1291, 1292, 1293, 1294, 1295, 1302, 6};
constexpr int kMakeModelFirmwareButton = 1302;
constexpr int kCheckBoxes[] = {1003, 1005, 1006, 1007, 1008, 1009, 2068};
constexpr int kEdits[] = {1048, 1049, 1050, 1052, 1053, 1054, 1055, 1051};

// The default login's password box shows at least this many echo characters
// whole (the shipped default has 6), and grows with a longer password up to
// the most; past that it scrolls like any edit.
constexpr int kPasswordBoxLeastCharacters = 8;
constexpr int kPasswordBoxMostCharacters = 16;

// Width a password box needs to show `characters` echo characters whole: the
// text and the text cursor after it, with the box's margins and its frame as
// the style draws them. A line edit keeps 2 pixels free either side of its
// text and scrolls once the text, one pixel and the cursor do not fit.
int PasswordBoxWidth(const QLineEdit& edit, int characters) {
  const QStyle* st = edit.style();
  QStyleOptionFrame option;
  option.initFrom(&edit);
  option.lineWidth = edit.hasFrame() ? st->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, &edit) : 0;
  option.midLineWidth = 0;
  option.state |= QStyle::State_Sunken;
  const QChar echo(st->styleHint(QStyle::SH_LineEdit_PasswordCharacter, &option, &edit));
  const int text = edit.fontMetrics().horizontalAdvance(QString(characters, echo));
  const int cursor = st->pixelMetric(QStyle::PM_TextCursorWidth, &option, &edit);
  // The frame: what the style takes off a box for its text area.
  option.rect = QRect(0, 0, 200, 30);
  const int frame = option.rect.width() - st->subElementRect(QStyle::SE_LineEditContents, &option, &edit).width();
  constexpr int kLineEditTextMargin = 2;
  const QMargins margins = edit.textMargins();
  return text + 1 + cursor + 2 * kLineEditTextMargin + margins.left() + margins.right() + frame;
}

// Captions of the controls, applied in this order.
struct Caption {
  int id;
  const char* key;
};
const Caption kCaptions[] = {
    {25, LangKey("IDS_FOCUS_MODE")},
    {1018, LangKey("NETCARD")},
    {3, LangKey("STARTSEARCH")},
    {1008, LangKey("QR_AUTOPRINT_MODE")},
    {26, LangKey("EXPORT_EXCEL")},
    {1003, LangKey("CHECKALL")},
    {1005, LangKey("AUDIO")},
    {1007, LangKey("QR_TEXT")},
    {1006, LangKey("TEXT33")},
    {1001, LangKey("TEXT34")},
    {4, LangKey("BTNTEXT1")},
    {1030, LangKey("ID_BATCH_IP")},
    {1031, LangKey("ID_BATCH_MAINTANCE")},
    {11, LangKey("BTNTEXT4")},
    {1295, LangKey("BATCH_SET_DEVICETYPE")},
    {1294, LangKey("BATCH_CLEAR_DEVICETYPE")},
    {6, LangKey("BTNTEXT5")},
    {7, LangKey("BTNTEXT6")},
    {1035, LangKey("BTNTEXT7")},
    {10, LangKey("BTNTEXT8")},
    {14, LangKey("BTNTEXT9")},
    {22, LangKey("ID_SDCARD")},
    {13, LangKey("BTNTEXT12")},
    {1291, LangKey("BTNTEXT14")},
    {1192, LangKey("IDC_BTN_BROWSER_DEFAULTCFG")},
    {1193, LangKey("IDC_BTN_CLEAR_ALL_CUST")},
    {1191, LangKey("TOUR")},
    {1189, LangKey("TOUR")},
    {1190, LangKey("TOUR")},
    {1034, LangKey("ID_BATCH_SET_VIDEO")},
    {18, LangKey("BATCHIMAGEPARAM")},
    {19, LangKey("BATCHSNAP")},
    {1028, LangKey("BATCH_SET_CCD")},
    {1029, LangKey("ID_BATCH_IO_OUTPUT")},
    {2064, LangKey("AUDIO")},
    {1297, LangKey("STRING_PRINT_QR")},
    {1298, LangKey("ALARM_CODE_AI_DETECT")},
    {1299, LangKey("IDS_STR_ONVIF_ALLNET")},
    {32988, LangKey("ID_BATCH_SET_VIDEOTYPE")},
    {17, LangKey("ID_BATCH_SET_VIDEOENCODE")},
    {32924, LangKey("IDS_STR_ZH_CN_MEDIA_AENCODE")},
    {32974, LangKey("IDS_STR_ZH_CN_MEDIA_ACAPTURE")},
    {1303, LangKey("IDC_BTN_PREVIEW_IRCUT_NIGHT")},
    {16, LangKey("FACTORY_MODE")},
    {1301, LangKey("MENU_VIDEO_WND")},
    {21, LangKey("IDS_LOGIN_SETTING")},
    {2068, LangKey("IDS_STR_AUTO_KM_TIP")},
    {15, LangKey("BTNTEXT10")},
    {1293, LangKey("BTNTEXT13")},
    {1292, LangKey("BTNTEXT15")},
};

// Buttons whose caption no language key gives: the window's own texts.
const std::pair<int, const char*> kFixedCaptions[] = {
    {20, "TV system"}, {29, "Privacy mode"}, {1305, "Cyclic reboot"}, {1306, "Test MCU"},
    {kMakeModelFirmwareButton, "Model firmware"}};

struct ToolTip {
  int id;
  const char* key;
};
const ToolTip kToolTips[] = {
    {1293, LangKey("STRING_TIPS_UPDATE_DIR")},       {1291, LangKey("STRING_TIPS_UPDATE_FILE")},
    {1292, LangKey("STRING_TIPS_UPDATE_CFG")},       {1192, LangKey("TIPS_AUTO_UPLOAD_DEFAULT_CFG")},
    {1193, LangKey("TIPS_CLEAR_ALL_DEFAULT_CFG")},   {1054, LangKey("IDC_LSAP2P_SERVERPASWD_NAME")},
    {1052, LangKey("DEFAULT_USER_SET")},
};

// A customer's own name for every P2P type; optional, the shipped files leave it empty.
constexpr const char* kP2pTypeNameKey = "P2PTYPENAME";

std::int64_t WallClockSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

MainWindowEventSink::MainWindowEventSink(QObject* window, DeviceListSeam*& target)
    : fair_([window](std::function<void()> drain) { QMetaObject::invokeMethod(window, std::move(drain), Qt::QueuedConnection); },
            [&target](device::SdkRecord& record) {
              if (auto* e = std::get_if<device::DeviceStatusEvent>(&record)) {
                target->OnSdkStatusEvent(std::move(*e));
              } else {
                target->OnSdkAuxResponse(std::move(std::get<device::DeviceAuxResponse>(record)));
              }
            }) {}

CZqDevSearchToolDlg::CZqDevSearchToolDlg(MainDialogServices services, QWidget* parent)
    : CXDlg(102, parent),
      s_(std::move(services)),
      prompts_(nullptr),
      timers_(*this, s_.clock_s ? s_.clock_s : std::function<std::int64_t()>(WallClockSeconds)),
      sdk_sink_(this, s_.device_list) {
  if (s_.display == nullptr) {
    // display.xml next to the program, read once while the window is built.
    owned_display_ = std::make_unique<shell::LoadedDisplaySwitches>();
    s_.display = owned_display_.get();
  }
  if (s_.settings == nullptr) {
    // The settings file, loaded while the window is built.
    owned_param_ = std::make_unique<CSaveParam>();
    owned_settings_ = std::make_unique<shell::SaveParamShellSettings>(*owned_param_);
    s_.settings = owned_settings_.get();
  }
  if (s_.device_list == nullptr) s_.device_list = &default_list_;
  if (s_.live_view == nullptr) s_.live_view = &default_live_view_;
  if (s_.printing == nullptr) s_.printing = &default_printing_;
  if (s_.firmware == nullptr) s_.firmware = &default_firmware_;
  if (s_.prompts == nullptr) {
    owned_prompts_ = std::make_unique<QtUserPrompts>();
    s_.prompts = owned_prompts_.get();
  }
  if (s_.sounds == nullptr) {
    owned_sounds_ = std::make_unique<QtSoundPrompts>();
    s_.sounds = owned_sounds_.get();
  }
  if (!s_.audio_output_available) s_.audio_output_available = HasAudioOutput;
  prompts_ = s_.prompts;

  style_ = Display(shell::kDisplayStyle);
  qr_encode_mode_ = Display(shell::kDisplayQrEncode);
  icon_resource_ = s_.display->GetCustomString(shell::kCustomCloudType) == "QNB" ? 164 : 128;
  if (style_ == 1) {
    // Style 1 paints the window and its labels in its own colour (0xDCE9E9 as COLORREF).
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0xE9, 0xE9, 0xDC));
    setPalette(pal);
  }
  setWindowFlags(Qt::Window | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  setSizeGripEnabled(false);
  // The window opens over the work area: once the window manager has framed
  // it, its frame and title bar are put on the screen.
  KeepWindowInWorkArea(*this);
  CreateControls();
}

CZqDevSearchToolDlg::~CZqDevSearchToolDlg() {
  OnClose();
  if (initialised_) DebugLogRelease();
  delete audio_dlg_.data();
  delete boot_dlg_.data();
  delete focus_dlg_.data();
  // The host window owns the grid once it hosts it.
  if (video_host_ != nullptr)
    delete video_host_;
  else
    delete grid_;
}

int CZqDevSearchToolDlg::Display(int id) const { return s_.display->GetDisplay(id); }

void CZqDevSearchToolDlg::CreateControls() {
  // Styles 1 and 2 draw the buttons of the panel and the file rows shaded.
  auto shaded = [this](int id) {
    if (style_ <= 0 || id == 1051) return false;
    for (auto list : {shell::StyleZeroButtons(), shell::CompactStyleButtons(), shell::FileButtons()})
      if (std::find(list.begin(), list.end(), id) != list.end()) return true;
    return false;
  };
  for (int id : kPushButtons) {
    QPushButton* b = nullptr;
    if (shaded(id)) {
      auto* shade = new controls::CShadeButtonST(this);
      shaded_buttons_.push_back(shade);
      b = shade;
    } else {
      b = new QPushButton(this);
    }
    // Enter must never press a button of the main window.
    b->setAutoDefault(false);
    b->setDefault(false);
    RegisterControl(id, b);
  }
  for (int id : kCheckBoxes) RegisterControl(id, new QCheckBox(this));
  for (int id : kEdits) RegisterControl(id, new QLineEdit(this));
  ControlAs<QLineEdit>(kDefaultPassword)->setEchoMode(QLineEdit::Password);
  ControlAs<QLineEdit>(kOperatePassword)->setEchoMode(QLineEdit::Password);
  RegisterControl(kNetCardCombo, new QComboBox(this));
  RegisterControl(kNetCardLabel, new QLabel(this));
  auto* status = new QLabel(this);
  status->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  RegisterControl(kStatusText, status);
  RegisterControl(kLogo, new QLabel(this));
  RegisterControl(kDeviceList, s_.device_list->CreateListWidget(this));
  for (const auto& [id, text] : kFixedCaptions) SetItemText(id, QString::fromUtf8(text));
  for (const auto& [id, w] : Controls()) {
    w->installEventFilter(this);
    // Mouse moves away from the list hide the preview and QR popups.
    if (id != kDeviceList) w->setMouseTracking(true);
  }
  setMouseTracking(true);

  auto connect_check = [this](int id, void (CZqDevSearchToolDlg::*handler)()) {
    connect(ControlAs<QCheckBox>(id), &QCheckBox::clicked, this, handler);
  };
  connect_check(kCheckStreamSwitch, &CZqDevSearchToolDlg::OnCheckStreamSwitch);
  connect_check(kCheckPrintMode, &CZqDevSearchToolDlg::OnCheckPrintMode);
  connect_check(kCheckClearSerial, &CZqDevSearchToolDlg::OnCheckClearSerial);
  connect_check(kCheckSound, &CZqDevSearchToolDlg::OnBnClickedCheckSound);
  connect(ControlAs<QCheckBox>(kCheckQr), &QCheckBox::clicked, this, &CZqDevSearchToolDlg::OnQrModeCheck);
  if (auto* list = ControlAs<controls::CReportCtrl>(kDeviceList)) {
    connect(list, &controls::CReportCtrl::ListClicked, this, &CZqDevSearchToolDlg::OnDeviceListClick);
    connect(list, &controls::CReportCtrl::RowHovered, this,
            [this](int row, int) { OnDeviceListHover(row); });
  }
  // Only edits by the user save: textEdited is not raised by setText.
  connect(ControlAs<QLineEdit>(kDefaultUser), &QLineEdit::textEdited, this,
          &CZqDevSearchToolDlg::OnDefaultUserChanged);
  connect(ControlAs<QLineEdit>(kDefaultPassword), &QLineEdit::textEdited, this,
          &CZqDevSearchToolDlg::OnDefaultPasswordChanged);
  // The password box is as wide as its password (typed, or set by the default
  // login dialog): the top row is laid out again when that width changes.
  connect(ControlAs<QLineEdit>(kDefaultPassword), &QLineEdit::textChanged, this, [this] {
    if (last_layout_.done && CaptionWidth(kDefaultPassword) != laid_out_password_width_) LayoutControls();
  });
  connect(ControlAs<QPushButton>(kSearch), &QPushButton::clicked, this, &CZqDevSearchToolDlg::OnSearchButton);
  connect(ControlAs<QPushButton>(kTalkButton), &QPushButton::clicked, this, &CZqDevSearchToolDlg::OnAudioButton);
  connect(ControlAs<QPushButton>(kFocusModeButton), &QPushButton::clicked, this, &CZqDevSearchToolDlg::OnFocusButton);
  connect(ControlAs<QPushButton>(kPrintLabelButton), &QPushButton::clicked, this, &CZqDevSearchToolDlg::OnPrintLabelButton);
  // The layout button (1301) and a double click on a device row belong to the live view.
  if (auto* layout = ControlAs<QPushButton>(1301))
    connect(layout, &QPushButton::clicked, this, [this, layout] { s_.live_view->ShowLayoutMenu(layout); });
  if (auto* list = ControlAs<controls::CReportCtrl>(kDeviceList))
    connect(list, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { s_.live_view->OpenDevicePreview(index.row()); });
  // The device list's own buttons: restore (all checked, in full), default login, Excel export.
  const std::pair<int, int> list_buttons[] = {{4, 33386}, {21, 32963}, {kExportExcel, 26}};
  for (const auto& [button, command] : list_buttons)
    connect(ControlAs<QPushButton>(button), &QPushButton::clicked, this,
            [this, command = command] { s_.device_list->OnCommand(command); });
  connect(ControlAs<QCheckBox>(kCheckAll), &QCheckBox::clicked, this, &CZqDevSearchToolDlg::OnCheckAll);
  // Only a choice by the user restarts the search (refills select silently).
  connect(ControlAs<QComboBox>(kNetCardCombo), QOverload<int>::of(&QComboBox::activated), this,
          [this](int) { OnAdapterComboChange(); });
  for (int id : kFirmwareButtons)
    connect(ControlAs<QPushButton>(id), &QPushButton::clicked, this, [this, id] { OnFirmwareCommand(id); });
  // Building a custom-model firmware shows only where the display switches ask for it.
  ShowItem(kMakeModelFirmwareButton, false);
  // Files and folders dropped on the window fill the upgrade and configuration fields.
  setAcceptDrops(true);
}

shell::ClientRect CZqDevSearchToolDlg::LayoutClientRect() const {
  const int top = menu_bar_ != nullptr ? menu_bar_->sizeHint().height() : 0;
  return {0, top, width(), height()};
}

bool CZqDevSearchToolDlg::OnInitDialog() {
  if (initialised_) return true;
  initialised_ = true;
  DebugLogInit();

  s_.device_list->InitColumns();
  p2p_type_name_.clear();
  BuildSystemMenu();
  SetUpToolTips();

  const std::string title = LanguageTable::Instance().GetTitle();
  quick_search_ = shell::IsQuickSearchVersion(s_.version.toStdString());
  setWindowTitle(Q(shell::MainWindowTitle(title, s_.version.toStdString(), style_)));

  ApplyLanguageTexts();

  // Device SDK and RTSP client; no result is tested.
  s_.sdk->NetSdkInit();
  s_.sdk->RtspInitLib();
  s_.sdk->NetSdkVersion();
  s_.sdk->NetSdkBuildDate();
  // The callbacks cast the user value back to the interface, so pass exactly that.
  s_.sdk->RegisterCallbacks(static_cast<device::SdkEventSink*>(&sdk_sink_));
  s_.sdk->SetAutoReconnect(0, 1);

  SetCheck(kCheckStreamSwitch, s_.settings->FullSwitchStream());
  SetCheck(kCheckPrintMode, print_mode_);
  SetCheck(kCheckSound, s_.settings->OpenAudio());
  SetCheck(kCheckQr, s_.settings->QrShow());
  SetItemText(kUpgradeFolderEdit, Q(s_.settings->UpgradePath()));
  SetItemText(kUpgradeFileEdit, Q(s_.settings->UpgradeFileName()));

  CreateVideoGrid();
  PlaceVideoWindow();

  // The display switches go first, so the layout's hiding of a style's
  // controls is the last word.
  s_.display->ApplyToDialog([this](int id, bool shown) { ShowItem(id, shown); });
  LayoutControls();

  FillNetCardCombo();
  OnSearchButton();  // the first search
  StartTimer(shell::TIMER_SNAPSHOT_TIMEOUT, shell::kSnapshotTimeoutPeriodMs);
  for (auto* b : shaded_buttons_) b->SetShade(1, 8, 10, 0, 0);
  StartTimer(shell::TIMER_MAXIMIZE, shell::kMaximizeDelayMs);
  return true;
}

void CZqDevSearchToolDlg::BuildSystemMenu() {
  // Linux has no window-manager menu to extend: the same items go into the
  // window's own menu bar (and the window's context menu).
  menu_bar_ = new QMenuBar(this);
  system_menu_ = menu_bar_->addMenu(QStringLiteral("&Kelvara"));
  auto add = [this](QMenu* menu, const QString& text, int command) {
    QAction* a = menu->addAction(text);
    a->setData(command);
    connect(a, &QAction::triggered, this, [this, command] { OnSysCommand(command); });
    return a;
  };
  QMenu* languages = new QMenu(LangText("SWITCHLANGUAGE"), system_menu_);
  for (const auto& lc : shell::LanguageCommands()) add(languages, LangText(lc.menu_key), lc.command);
  system_menu_->addMenu(languages);
  system_menu_->addSeparator();
  system_menu_->addSeparator();
  add(system_menu_, tr("&About..."), kSysCommandAbout);
  if (Display(kCheckPrintMode) != 0) {
    system_menu_->addSeparator();
    add(system_menu_, LangText("QR_PRINT_SETTING"), kSysCommandQrPrintSetting);
  }
  system_menu_->addSeparator();
  add(system_menu_, LangText("ID_AUTO_UPGRADE"), kSysCommandAutoUpgrade);
  add(system_menu_, LangText("TIPS_STR_TITLE"), kSysCommandTips);
  menu_bar_->setGeometry(0, 0, width(), menu_bar_->sizeHint().height());
}

void CZqDevSearchToolDlg::SetUpToolTips() {
  setStyleSheet(QStringLiteral("QToolTip { color: #0000ff; background-color: #ffffff; }"));
  for (const auto& t : kToolTips)
    if (QWidget* w = Control(t.id)) w->setToolTip(LangText(t.key));
  const QString tips = LangText("IDS_OPERATE_PASSWD_TIPS1") + ": " + LangText("IDS_OPERATE_PASSWD_TIPS2") + ", " +
                       LangText("IDS_OPERATE_PASSWD_TIPS3") + ", " + LangText("IDS_OPERATE_PASSWD_TIPS4") + ", " +
                       LangText("IDS_OPERATE_PASSWD_TIPS5") + ", " + LangText("IDS_OPERATE_PASSWD_TIPS6") +
                       LangText("IDS_OPERATE_PASSWD_TIPS2");
  if (QWidget* w = Control(kOperatePassword)) w->setToolTip(tips);
}

void CZqDevSearchToolDlg::ApplyLanguageTexts() {
  SetItemText(kDefaultUser, Q(s_.settings->DefaultUserName()));
  SetItemText(kDefaultPassword, Q(s_.settings->DefaultPassword()));
  const QString p2p = LangText(kP2pTypeNameKey).trimmed();
  if (!p2p.isEmpty()) p2p_type_name_ = p2p;
  for (const auto& c : kCaptions) {
    SetItemText(c.id, LangText(c.key));
    if (c.id == 16) SetTalkButtonText(0);
  }
}

void CZqDevSearchToolDlg::SetTalkButtonText(int talking) {
  talk_text_ = talking != 0 ? LangText("STOP_TALK") : LangText("START_TALK");
}

void CZqDevSearchToolDlg::CreateVideoGrid() {
  grid_ = new CWndManager(nullptr);
  const shell::VideoWindowSettings v = s_.settings->VideoWindow();
  if (v.rows != 0 && v.cols != 0)
    grid_->SetGrid(v.rows, v.cols);
  else
    grid_->SetGrid(1, 1);
  grid_->SetOwner(this);
  video_host_ = new CDialogVideo();
  video_host_->setWindowTitle(LangText("DIALOG_VIDEO_TITLE"));
  grid_->SetHostWindow(video_host_);
  video_host_->SetGrid(grid_);
  grid_->SetAreaSize(video_host_->width() - 1, video_host_->height() - 1);
  grid_->setGeometry(0, 0, video_host_->width(), video_host_->height());
  grid_->LayoutPanes();
  connect(grid_, &CWndManager::toggleMouse3DLocate, this, &CZqDevSearchToolDlg::OnToggleMouse3DLocate);
  // Esc in the grid is posted here, where it is swallowed like Esc anywhere
  // in the window: it neither closes the window nor stops a live view.
  connect(grid_, &CWndManager::escapePressed, this, &CZqDevSearchToolDlg::OnGridEscape);
  s_.live_view->Attach(grid_, video_host_);
}

void CZqDevSearchToolDlg::PlaceVideoWindow() {
  QScreen* screen = QGuiApplication::primaryScreen();
  const QRect sg = screen != nullptr ? screen->geometry() : QRect(0, 0, 1920, 1080);
  const QRect work = screen != nullptr ? screen->availableGeometry() : sg;
  shell::VideoWindowSettings v = s_.settings->VideoWindow();
  bool replaced = false;
  const shell::SavedRect r = shell::ValidVideoWindowRect({v.left, v.top, v.right, v.bottom}, sg.width(), sg.height(),
                                                         {work.x(), work.y(), work.width(), work.height()}, replaced);
  if (replaced) {
    v.left = r.left;
    v.top = r.top;
    v.right = r.right;
    v.bottom = r.bottom;
    s_.settings->SetVideoWindow(v);
    s_.settings->Save();
  }
  if (video_host_ != nullptr) {
    video_host_->setGeometry(r.left, r.top, r.right - r.left, r.bottom - r.top);
    video_host_->SetVisible(0);
  }
  const int on = s_.settings->Mouse3DLocate();
  for (int i = 0; grid_ != nullptr && i < CWndManager::kPaneCount; ++i)
    if (CWndCtrl* pane = grid_->GetPane(i)) pane->SetMouse3DLocate(on);
}

void CZqDevSearchToolDlg::LayoutControls() {
  if (laying_out_) return;
  laying_out_ = true;
  if (menu_bar_ != nullptr) menu_bar_->setGeometry(0, 0, width(), menu_bar_->sizeHint().height());
  shell::LayoutInput in;
  in.client = LayoutClientRect();
  in.style = style_;
  in.exists = [this](int id) { return Control(id) != nullptr; };
  in.displayed = [this](int id) { return Display(id) != 0; };
  in.text_width = [this](int id) { return CaptionWidth(id); };
  last_layout_ = shell::LayoutMainControls(in);
  laid_out_password_width_ = CaptionWidth(kDefaultPassword);
  // Below this size controls would overlap; a screen smaller than that gets
  // the whole screen as the least size.
  const int menu_h = menu_bar_ != nullptr ? menu_bar_->sizeHint().height() : 0;
  QSize least(last_layout_.min_width, last_layout_.min_height + menu_h);
  // (less the frame, once the window manager has put one around the window)
  if (const QScreen* sc = screen())
    least = least.boundedTo(sc->availableGeometry().size() - (frameGeometry().size() - geometry().size()));
  if (last_layout_.done && minimumSize() != least) setMinimumSize(least);
  for (const auto& [id, p] : last_layout_.controls) {
    if (p.box) MoveControl(id, p.box->x, p.box->y, p.box->width, p.box->height);
    if (p.visible) ShowItem(id, *p.visible);
  }
  // The layout does not place the custom-model firmware button: it goes
  // right of the remove-model-name button when the display switches show it.
  auto model = last_layout_.controls.find(1294);
  if (model != last_layout_.controls.end() && model->second.box)
    MoveControl(kMakeModelFirmwareButton, model->second.box->x + model->second.box->width + 4, model->second.box->y,
                model->second.box->width, model->second.box->height);
  DrawLogo();
  for (int id : last_layout_.centred_edits) CenterEditText(id);
  laying_out_ = false;
}

int CZqDevSearchToolDlg::CaptionWidth(int id) const {
  QWidget* w = Control(id);
  if (w == nullptr) return 0;
  if (id == kStatusText) {
    // The totals line changes: room for a running search with four-digit counts.
    const QString widest = LangText("CStorePlayBack_tip_searching") + LangText("STR_TOTAL") + ":9999 " +
                           LangText("STR_SELECTED") + ":9999 ";
    return w->fontMetrics().horizontalAdvance(widest) + 8;
  }
  // The network-card box shows its items whole, up to a width the top row
  // can spare (its open list is always wide enough).
  if (id == kNetCardCombo) return std::min(ComboItemsWidth(id), kNetCardComboMaxWidth);
  if (id == kDefaultPassword) {
    const int characters = std::clamp(static_cast<int>(GetItemText(id).size()), kPasswordBoxLeastCharacters,
                                      kPasswordBoxMostCharacters);
    return PasswordBoxWidth(*static_cast<QLineEdit*>(w), characters);
  }
  // What the caption needs: its text and the control's own margins (a push
  // button's size hint would add the style's least button width instead).
  const QString text = GetItemText(id);
  if (text.isEmpty()) return 0;
  const int advance = w->fontMetrics().horizontalAdvance(text);
  const QStyle* st = w->style();
  if (qobject_cast<QCheckBox*>(w) != nullptr) {
    return st->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, w) +
           st->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, w) + advance + 4;
  }
  if (qobject_cast<QPushButton*>(w) != nullptr) {
    return advance + 2 * st->pixelMetric(QStyle::PM_ButtonMargin, nullptr, w) +
           2 * st->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, w) + 4;
  }
  if (qobject_cast<QLabel*>(w) != nullptr) return advance + 4;
  return 0;
}

int CZqDevSearchToolDlg::ComboItemsWidth(int id) const {
  auto* combo = ControlAs<QComboBox>(id);
  if (combo == nullptr) return 0;
  // Items may hold a tab ("[address]\t[card]"): measured as drawn, tabs expanded.
  int widest = 0;
  for (int i = 0; i < combo->count(); ++i)
    widest = std::max(widest, combo->fontMetrics().size(Qt::TextExpandTabs, combo->itemText(i)).width());
  QStyleOptionComboBox option;
  option.initFrom(combo);
  const QSize box = combo->style()->sizeFromContents(QStyle::CT_ComboBox, &option, QSize(widest, 1), combo);
  return box.width() + 4;
}

void CZqDevSearchToolDlg::DrawLogo() {
  if (Display(kLogo) == 0) return;
  const QString file = s_.program_dir + QStringLiteral("/main_logo.png");
  QPixmap image(file);
  if (image.isNull()) return;  // a missing logo draws nothing
  if (style_ == 2) {
    if (QWidget* list = Control(kDeviceList))
      list->setStyleSheet(QStringLiteral("background-image: url(%1); background-repeat: no-repeat; "
                                         "background-position: bottom right;")
                              .arg(file));
    return;
  }
  auto* logo = ControlAs<QLabel>(kLogo);
  if (logo == nullptr || !isVisible()) return;
  QRect rc = logo->geometry();
  if (rc.right() > width() - 5) rc.setRight(width() - 5);
  int w = rc.width();
  int h = image.width() > 0 ? image.height() * w / image.width() : 0;
  if (h > rc.height()) {
    h = rc.height();
    w = image.height() > 0 ? image.width() * h / image.height() : 0;
  }
  if (w <= 0 || h <= 0) return;
  logo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  logo->setPixmap(image.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}

// --- timers ---------------------------------------------------------------

void CZqDevSearchToolDlg::StartTimer(int id, int period_ms) {
  QTimer*& t = qtimers_[id];
  if (t == nullptr) {
    t = new QTimer(this);
    connect(t, &QTimer::timeout, this, [this, id] { OnTimer(id); });
  }
  t->start(std::max(period_ms, 0));
}

void CZqDevSearchToolDlg::KillTimer(int id) {
  auto it = qtimers_.find(id);
  if (it != qtimers_.end() && it->second != nullptr) it->second->stop();
}

bool CZqDevSearchToolDlg::IsTimerRunning(int id) const {
  auto it = qtimers_.find(id);
  return it != qtimers_.end() && it->second != nullptr && it->second->isActive();
}

int CZqDevSearchToolDlg::TimerPeriod(int id) const {
  return IsTimerRunning(id) ? qtimers_.at(id)->interval() : -1;
}

void CZqDevSearchToolDlg::OnTimer(int id) {
  if (closed_) return;
  timers_.OnTimer(id);
}

void CZqDevSearchToolDlg::RefreshDeviceList() { s_.device_list->RefreshDeviceList(); }
void CZqDevSearchToolDlg::StopSearchByAutoStop() { StopSearch(); }
void CZqDevSearchToolDlg::SendSearchRequest() { s_.device_list->SendSearchRequest(); }
int CZqDevSearchToolDlg::AutoStopDisplayValue() { return Display(shell::kDisplaySearchAutoStop); }
void CZqDevSearchToolDlg::ForEachRow(const std::function<bool(int, shell::RowTimerState&)>& fn) {
  s_.device_list->ForEachRow(fn);
}
void CZqDevSearchToolDlg::OnSnapshotTimedOut(int row) { s_.device_list->OnSnapshotTimedOut(row); }
void CZqDevSearchToolDlg::RestoreDayMode(int row) { s_.device_list->RestoreDayMode(row); }
void CZqDevSearchToolDlg::EnableNightDemoButton() { EnableItem(kNightDemoButton, true); }

void CZqDevSearchToolDlg::StartNightModeDemo() {
  EnableItem(kNightDemoButton, false);
  StartTimer(shell::TIMER_IRCUT_DEMO_END, 5000);
}
void CZqDevSearchToolDlg::CyclicRebootStep() { s_.device_list->CyclicRebootStep(); }
void CZqDevSearchToolDlg::Maximize() {
  // The size the window returns to from maximised keeps its title bar on screen.
  FitToWorkArea();
  setWindowState(windowState() | Qt::WindowMaximized);
}

void CZqDevSearchToolDlg::FitToWorkArea() { FitWindowInWorkArea(*this); }

// --- search ---------------------------------------------------------------

void CZqDevSearchToolDlg::OnSearchButton() {
  if (search_running_)
    StopSearch();
  else
    StartSearch();
}

void CZqDevSearchToolDlg::StartSearch() {
  if (closed_) return;
  search_running_ = true;
  SetItemText(kSearch, LangText("STOPSEARCH"));
  timers_.OnSearchStarted();
  // A new search starts from an empty list: nothing is checked and no live
  // view shows a device of the old one.
  SetCheck(kCheckAll, 0);
  s_.live_view->CloseAllPreviews();
  s_.device_list->StartSearch();
  StartTimer(shell::TIMER_SEARCH_REQUEST,
             quick_search_ ? shell::kQuickSearchRequestPeriodMs : shell::kSearchRequestPeriodMs);
  StartTimer(shell::TIMER_LIST_REFRESH, shell::kListRefreshPeriodMs);
}

void CZqDevSearchToolDlg::StopSearch() {
  const bool was_running = search_running_;
  search_running_ = false;
  SetItemText(kSearch, LangText("STARTSEARCH"));
  KillTimer(shell::TIMER_SEARCH_REQUEST);
  KillTimer(shell::TIMER_LIST_REFRESH);
  KillTimer(shell::TIMER_CYCLIC_REBOOT);
  if (Display(shell::kDisplaySearchAutoStop) == 0) timers_.DisarmAutoStop();
  if (was_running) s_.device_list->StopSearch();
}

void CZqDevSearchToolDlg::OnAdapterComboChange() {
  if (closed_) return;
  // The search restarts on the chosen card; that search stops by itself again.
  if (search_running_) StopSearch();
  OnSearchButton();
  timers_.ArmAutoStop();
}

void CZqDevSearchToolDlg::OnCheckAll() { s_.device_list->SetAllChecked(GetCheck(kCheckAll) != 0); }

// --- window menu ------------------------------------------------------------

void CZqDevSearchToolDlg::OnSysCommand(int command) {
  if ((command & 0xFFF0) == kSysCommandAbout) {
    CAboutDlg about(s_.version, this);
    about.OnInitDialog();
    about.exec();
  } else if (command >= shell::kFirstLanguageCommand && command <= shell::kLastLanguageCommand) {
    OnSwitchLanguage(command);
  } else if (command == kSysCommandAutoUpgrade) {
    ShowBootServerDlg();
  } else if (command == kSysCommandQrPrintSetting) {
    ShowPrePrintDlg();
  } else if (command == kSysCommandTips) {
    ShowPrintDlg();
  }
}

void CZqDevSearchToolDlg::ShowPrePrintDlg() { s_.printing->ShowPrePrintDlg(this); }
void CZqDevSearchToolDlg::ShowPrintDlg() { s_.printing->ShowPrintDlg(this); }

void CZqDevSearchToolDlg::OnSwitchLanguage(int command) {
  const char* code = shell::LanguageCodeForCommand(command);
  const LanguageTable& table = LanguageTable::Instance();
  if (!table.IsLanguageAvailable(code)) {
    // Storing a language without its file would only fall back to English at
    // the next start: the choice stays as it is.
    prompts_->MessageBox(this,
                         LangText("SWITCHLANGUAGE") + " " + LangText("STRING_FAILED") + "\r\n" +
                             LangText("LANGAGE_NOT_AVAILABLE"),
                         QStringLiteral("ERROR"), PromptIcon::kError);
    return;
  }
  // Only the choice is stored: the texts on screen stay until the next start.
  if (table.SetLanguage(code) == 0) {
    prompts_->MessageBox(this,
                         LangText("SWITCHLANGUAGE") + " " + LangText("STRING_SUCCESS") + ".\r\n" +
                             LangText("LANGAGE_SWITCH_TIPS2"),
                         QStringLiteral("Tips"), PromptIcon::kInformation);
  } else {
    prompts_->MessageBox(this,
                         LangText("SWITCHLANGUAGE") + " " + LangText("STRING_FAILED") + "\r\n" +
                             LangText("LANGAGE_SWITCH_TIPS1"),
                         QStringLiteral("ERROR"), PromptIcon::kError);
  }
}

void CZqDevSearchToolDlg::ShowBootServerDlg() {
  if (!CreateBootServerDlg()) return;
  boot_dlg_->move(geometry().center() - boot_dlg_->rect().center());
  KeepWindowInWorkArea(*boot_dlg_);
  boot_dlg_->show();
  FitWindowInWorkArea(*boot_dlg_);  // shown already: no show event
}

int CZqDevSearchToolDlg::OnToggleMouse3DLocate() {
  const int on = s_.settings->Mouse3DLocate() != 0 ? 0 : 1;
  s_.settings->SetMouse3DLocate(on);
  s_.settings->Save();
  for (int i = 0; grid_ != nullptr && i < CWndManager::kPaneCount; ++i)
    if (CWndCtrl* pane = grid_->GetPane(i)) pane->SetMouse3DLocate(on);
  return 0;
}

void CZqDevSearchToolDlg::mouseMoveEvent(QMouseEvent* event) {
  s_.live_view->HidePreviewPopup();
  if (qr_encode_mode_ != 0) HideQrPopup();
  CXDlg::mouseMoveEvent(event);
}

void CZqDevSearchToolDlg::StartUpgradeWatch() {
  StartTimer(shell::TIMER_UPGRADE_WATCH, shell::kUpgradeWatchPeriodMs);
}

void CZqDevSearchToolDlg::OnFirmwareCommand(int id) { s_.firmware->OnCommand(id); }

void CZqDevSearchToolDlg::OnDropFiles(const QStringList& paths) { s_.firmware->OnDropFiles(paths); }

void CZqDevSearchToolDlg::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CZqDevSearchToolDlg::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  if (!paths.isEmpty()) OnDropFiles(paths);
  event->acceptProposedAction();
}

void CZqDevSearchToolDlg::contextMenuEvent(QContextMenuEvent* event) {
  if (system_menu_ != nullptr) system_menu_->exec(event->globalPos());
}

// --- small services -----------------------------------------------------------

void CZqDevSearchToolDlg::SaveSettings() { s_.settings->Save(); }

void CZqDevSearchToolDlg::OnCheckStreamSwitch() {
  s_.settings->SetFullSwitchStream(GetCheck(kCheckStreamSwitch));
  SaveSettings();
}
void CZqDevSearchToolDlg::OnCheckPrintMode() { print_mode_ = GetCheck(kCheckPrintMode); }
void CZqDevSearchToolDlg::OnCheckClearSerial() {
  clear_serial_ = GetCheck(kCheckClearSerial);
  s_.device_list->SetNewDeviceMode(clear_serial_ != 0);
}

void CZqDevSearchToolDlg::OnBnClickedCheckSound() {
  const int on = GetCheck(kCheckSound) ? 1 : 0;
  s_.settings->SetOpenAudio(on);
  SaveSettings();
  s_.live_view->SetSelectedPaneAudio(on != 0);
  if (on != 0) TellIfNoAudioOutput();
}

void CZqDevSearchToolDlg::TellIfNoAudioOutput() {
  if (told_no_audio_output_ || s_.audio_output_available()) return;
  told_no_audio_output_ = true;
  prompts_->MessageBox(this, LangText("NO_AUDIO_OUTPUT"), LangText("WARRNING"), PromptIcon::kWarning);
}

void CZqDevSearchToolDlg::OnDefaultUserChanged() {
  s_.settings->SetDefaultUserName(GetItemText(kDefaultUser).toStdString());
  SaveSettings();
}
void CZqDevSearchToolDlg::OnDefaultPasswordChanged() {
  s_.settings->SetDefaultPassword(GetItemText(kDefaultPassword).toStdString());
  SaveSettings();
}
void CZqDevSearchToolDlg::OnUpgradePathKillFocus() {
  s_.settings->SetUpgradePath(GetItemText(kUpgradeFolderEdit).toStdString());
  SaveSettings();
}
void CZqDevSearchToolDlg::OnUpgradeFileKillFocus() {
  s_.settings->SetUpgradeFileName(GetItemText(kUpgradeFileEdit).toStdString());
  SaveSettings();
}

int CZqDevSearchToolDlg::CheckSelection() {
  const int checked = s_.device_list->CheckedRowCount();
  if (checked > 0) return checked;
  prompts_->MessageBox(this, LangText("MSGTIP13"), QStringLiteral("ERROR"), PromptIcon::kError);
  return 0;
}

// The modeless dialogs are made once each, by one attempt: a dialog that cannot
// be made is reported and the command does nothing.
bool CZqDevSearchToolDlg::CreateAudioPlayDlg() {
  if (audio_dlg_ == nullptr && s_.modeless.audio_play) audio_dlg_ = s_.modeless.audio_play(this);
  if (audio_dlg_ == nullptr) return false;
  audio_dlg_->move(geometry().center() - audio_dlg_->rect().center());
  KeepWindowInWorkArea(*audio_dlg_);
  audio_dlg_->hide();
  return true;
}

// The menu is shown without blocking (popup), so the window keeps serving
// events while it is open.
void CZqDevSearchToolDlg::OnAudioButton() {
  if (audio_menu_ == nullptr) audio_menu_ = new QMenu(this);
  audio_menu_->clear();
  const bool talking = audio_dlg_ != nullptr && s_.modeless.audio_talking && s_.modeless.audio_talking(audio_dlg_);
  const struct {
    int id;
    QString text;
  } items[] = {{1296, LangText("STRING_RA_DIALOG")},
               {1300, LangText(talking ? "STOP_TALK" : "START_TALK")},
               {1304, LangText("TEST_MIC_AND_SPEAKER")}};
  for (const auto& item : items) {
    QAction* a = audio_menu_->addAction(item.text);
    a->setData(item.id);
    connect(a, &QAction::triggered, this, [this, id = item.id] { OnAudioCommand(id); });
  }
  QWidget* button = Control(kTalkButton);
  audio_menu_->popup(button != nullptr ? button->mapToGlobal(QPoint(0, button->height())) : QCursor::pos());
}

void CZqDevSearchToolDlg::OnAudioCommand(int id) {
  if (id == 1304) {
    SetItemText(kUploadCfgEdit, QString());
    if (CheckSelection() > 0) s_.device_list->OnCommand(1304);
    return;
  }
  if (!CreateAudioPlayDlg()) return;
  if (id == 1296) {
    audio_dlg_->show();
    audio_dlg_->raise();
  } else if (id == 1300 && s_.modeless.audio_talk) {
    s_.modeless.audio_talk(audio_dlg_);
  }
}

void CZqDevSearchToolDlg::OnFocusButton() {
  // Not exactly one checked row: the list says so.
  if (s_.device_list->CheckedRowCount() == 1) {
    ShowManualFocusDlg();
  } else {
    prompts_->MessageBox(this, LangText("STRING_ONLY_SUPPORT_ONE_CAMERA"), QStringLiteral("ERROR"),
                         PromptIcon::kError);
  }
}

void CZqDevSearchToolDlg::OnPrintLabelButton() {
  printing::DeviceLabelFields fields;
  const bool selected = s_.device_list->SelectedLabelFields(fields);
  s_.printing->PrintDeviceLabel(this, selected ? &fields : nullptr);
}

bool CZqDevSearchToolDlg::ShowManualFocusDlg() {
  delete focus_dlg_.data();
  focus_dlg_ = s_.modeless.manual_focus ? s_.modeless.manual_focus(this) : nullptr;
  if (focus_dlg_ == nullptr) return false;
  // Centred on the window at the size its controls need (a dialog not yet
  // shown has no size of its own), then kept inside the screen's work area,
  // frame included.
  focus_dlg_->adjustSize();
  QRect place(QPoint(), focus_dlg_->size());
  place.moveCenter(geometry().center());
  focus_dlg_->setGeometry(place);
  KeepWindowInWorkArea(*focus_dlg_);
  focus_dlg_->show();
  return true;
}

bool CZqDevSearchToolDlg::CreateBootServerDlg() {
  if (boot_dlg_ == nullptr && s_.modeless.boot_server) {
    boot_dlg_ = s_.modeless.boot_server(this);
    if (boot_dlg_ != nullptr) boot_dlg_->hide();
  }
  return boot_dlg_ != nullptr;
}

void CZqDevSearchToolDlg::PlaySoundFile(const QString& path) { s_.sounds->Play(path); }

void CZqDevSearchToolDlg::FillNetCardCombo() {
  // The selection is kept by address: the card list may change between fills.
  const long long selected = GetComboSel(kNetCardCombo) >= 0 ? GetComboSelData(kNetCardCombo) : 0;
  ResetCombo(kNetCardCombo);
  AddComboLangItem(kNetCardCombo, "ALLNETCARDS", 0, false);
  std::vector<NetCard> cards = s_.net_cards ? s_.net_cards() : std::vector<NetCard>{};
  std::sort(cards.begin(), cards.end(), [](const NetCard& a, const NetCard& b) { return a.address < b.address; });
  for (const auto& c : cards)
    AddComboItem(kNetCardCombo, QStringLiteral("[%1]\t[%2]").arg(Q(c.dotted), Q(c.description)), c.address, false);
  SetComboSel(kNetCardCombo, 0);
  if (selected != 0) SelectComboByData(kNetCardCombo, selected);
  // Every item whole: the list as wide as its widest item, the box as wide
  // as the layout gives it room for (a card list that changed is laid out again).
  if (auto* combo = ControlAs<QComboBox>(kNetCardCombo)) {
    // The style's own list draws the part after the tab as a menu shortcut at
    // the right edge, cut whatever the width: a plain item view expands the
    // tab and asks for the room it takes.
    if (qobject_cast<QStyledItemDelegate*>(combo->itemDelegate()) == nullptr)
      combo->setItemDelegate(new QStyledItemDelegate(combo));
    QAbstractItemView* view = combo->view();
    const int list = view->sizeHintForColumn(0) + 2 * view->frameWidth() +
                     view->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view);
    view->setMinimumWidth(std::max(list, ComboItemsWidth(kNetCardCombo)));
    if (isVisible()) LayoutControls();
  }
}

QString CZqDevSearchToolDlg::BrowseFolder(const QString& caption, const QString& start_folder) {
  return prompts_->FolderName(this, caption, start_folder);
}

// --- QR and preview popups ----------------------------------------------------

void CZqDevSearchToolDlg::ShowQrPopup(const QString& text) {
  if (s_.settings->QrShow() == 0) return;
  if (text.isEmpty()) {
    HideQrPopup();
    return;
  }
  s_.printing->ShowQrPopup(this, text, qr_encode_mode_ == 1);
}

void CZqDevSearchToolDlg::HideQrPopup() { s_.printing->HideQrPopup(); }

void CZqDevSearchToolDlg::ShowPreviewPopup(int online, int screen_x, int screen_y, const QString& text) {
  s_.live_view->ShowPreviewPopup(this, screen_x, screen_y, text, online);
  if (QWidget* list = Control(kDeviceList)) list->setFocus();
  if (QWidget* list = Control(kDeviceList)) list->setFocus();
}

int CZqDevSearchToolDlg::OnDeviceListClick(int row) {
  if (row < 0) s_.live_view->HidePreviewPopup();
  if (s_.settings->QrShow() == 0) return 0;
  if (row < 0) {
    HideQrPopup();
    return 0;
  }
  if (qr_encode_mode_ == 0) ShowQrPopup(s_.device_list->FirstSelectedP2pId());
  if (QWidget* list = Control(kDeviceList)) list->setFocus();
  return 0;
}

void CZqDevSearchToolDlg::OnDeviceListHover(int row) {
  if (row < 0) s_.live_view->HidePreviewPopup();
  if (qr_encode_mode_ == 0 || s_.settings->QrShow() == 0) return;
  if (row < 0) {
    HideQrPopup();
    return;
  }
  ShowQrPopup(s_.device_list->P2pIdOfRow(row));
}

void CZqDevSearchToolDlg::OnQrModeCheck() {
  s_.settings->SetQrShow(GetCheck(kCheckQr));
  SaveSettings();
  if (s_.settings->QrShow() == 0) {
    HideQrPopup();
  } else if (qr_encode_mode_ == 0) {
    // Nothing shows without a selected row: an empty identifier hides.
    ShowQrPopup(s_.device_list->FirstSelectedP2pId());
  }
  if (QWidget* list = Control(kDeviceList)) list->setFocus();
}

// --- window events ---------------------------------------------------------------

void CZqDevSearchToolDlg::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
      event->accept();  // neither key closes the main window
      return;
    default:
      CXDlg::keyPressEvent(event);
  }
}

void CZqDevSearchToolDlg::OnGridEscape() { ++grid_escapes_; }

// The window closes only through its close box.
void CZqDevSearchToolDlg::reject() {}
void CZqDevSearchToolDlg::accept() {}

void CZqDevSearchToolDlg::closeEvent(QCloseEvent* event) {
  OnClose();
  event->accept();
  done(0);
}

void CZqDevSearchToolDlg::OnClose() {
  if (closed_ || !initialised_) {
    closed_ = true;
    return;
  }
  closed_ = true;
  KillTimer(shell::TIMER_CYCLIC_REBOOT);
  KillTimer(shell::TIMER_LIST_REFRESH);
  for (auto& [id, t] : qtimers_) t->stop();
  StopSearch();
  s_.live_view->CloseAllPreviews();
  // Nothing the SDK could call back into is freed before its logins end, its
  // callbacks are gone and its threads are joined.
  s_.sdk->LogoutAll();
  s_.sdk->UnregisterCallbacks();
  s_.sdk->NetSdkCleanup();
  s_.device_list->StopDeviceLogs();
  s_.sdk->PlayerReleaseAll();
  s_.sdk->RtspReleaseLib();
  s_.device_list->ClearRows();
  if (video_host_ != nullptr) video_host_->hide();
}

void CZqDevSearchToolDlg::resizeEvent(QResizeEvent* event) {
  CXDlg::resizeEvent(event);
  if (!initialised_) return;
  LayoutControls();
  // A restored or maximised window shows the selected row's code again.
  if (!(windowState() & Qt::WindowMinimized) && qr_encode_mode_ == 0) {
    const QString p2p = s_.device_list->FirstSelectedP2pId();
    if (!p2p.isEmpty()) ShowQrPopup(p2p);
  }
}

void CZqDevSearchToolDlg::moveEvent(QMoveEvent* event) {
  CXDlg::moveEvent(event);
  // The popup keeps its place at the window's corner.
  if (initialised_ && qr_encode_mode_ == 0) {
    const QString p2p = s_.device_list->FirstSelectedP2pId();
    if (!p2p.isEmpty()) ShowQrPopup(p2p);
  }
}

void CZqDevSearchToolDlg::changeEvent(QEvent* event) {
  CXDlg::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
    KeepOnMonitor();
    if (!isEnabled()) setEnabled(true);
  }
}

void CZqDevSearchToolDlg::KeepOnMonitor() {
  if (!isVisible() || isMinimized()) return;
  QScreen* screen = QGuiApplication::screenAt(frameGeometry().center());
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect work = screen->availableGeometry();
  const QRect win = frameGeometry();
  const auto moved = shell::KeepOnMonitor({win.x(), win.y(), win.width(), win.height()},
                                          {work.x(), work.y(), work.width(), work.height()});
  if (moved) setGeometry(moved->x, moved->y, moved->width, moved->height);
}

bool CZqDevSearchToolDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) {
      // Pressing Enter or Escape in any control of the main window does nothing.
      if (auto* combo = qobject_cast<QComboBox*>(watched); combo == nullptr || !combo->view()->isVisible())
        return true;
    }
  } else if (event->type() == QEvent::FocusOut) {
    if (watched == Control(kUpgradeFolderEdit)) OnUpgradePathKillFocus();
    if (watched == Control(kUpgradeFileEdit)) OnUpgradeFileKillFocus();
  } else if (event->type() == QEvent::MouseMove) {
    if (watched != Control(kDeviceList) && watched->parent() != Control(kDeviceList)) {
      s_.live_view->HidePreviewPopup();
      if (qr_encode_mode_ != 0) HideQrPopup();
    }
  }
  return CXDlg::eventFilter(watched, event);
}

}  // namespace kelvara::ui
