#include "media/ui/audio_play_dlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

#include "common/ui/user_prompts.h"
#include "media/core/mpa_exception.h"
#include "controls/ui/report_ctrl.h"

namespace kelvara::media {

namespace {
// File dialog filters in Qt's "Name (patterns)" form.
constexpr const char* kMp3Filter = "MP3 Files (*.mp3)";
constexpr const char* kAppFilter = "OEM APP Files (*)";
constexpr const char* kColumnKey = "IDS_STR_ZH_CN_PB_TIPS24";

struct FormatEntry {
  const char* key;
  int value;
};
constexpr FormatEntry kFormats[] = {{"STRING_G711U", kFormatG711U},
                                    {"STRING_G711A", kFormatG711A},
                                    {"STRING_AAC", kFormatAAC},
                                    {"STRING_PCM", kFormatPCM},
                                    {"STRING_MP3", kFormatMP3}};
constexpr int kRates[] = {8000, 16000, 32000, 48000, 44100};
}  // namespace

// Device events and replies, from the device commands.
class CAudioPlayDlg::IntercomSeam : public device::IntercomDialog {
 public:
  explicit IntercomSeam(CAudioPlayDlg& dlg) : dlg_(dlg) {}
  bool Exists() const override { return true; }
  void UploadNextFile(int handle) override {
    if (dlg_.files_.UploadNextFile(handle)) dlg_.QueryAfterUpload(handle);
  }
  void OnUploadFailed(int handle, const std::string& text) override {
    if (dlg_.files_.OnUploadFailed(handle, text)) dlg_.QueryAfterUpload(handle);
  }
  void OnDeviceTalkEvent(int handle, int event) override { dlg_.broadcast_.OnDeviceTalkEvent(handle, event); }
  void OnConfigReply(int handle, int command, int result, const std::string& text) override {
    if (command == 507) dlg_.settings_.OnAudioCaptureReply(handle, result, text);
    if (command == 1021) dlg_.AppendDeviceRows(dlg_.files_.OnSearchReply(handle, result, text));
    if (command == 1022 && dlg_.files_.OnPlayReply(handle, result))
      dlg_.SetItemText(kListen, LangText(dlg_.files_.ListenCaption().c_str()));
    if (command == 1024 && dlg_.files_.OnDeleteReply(handle, result)) dlg_.RefreshDeviceList();
  }
  bool TakeVideoCaptureEdits(int handle, std::vector<device::AttributeEdit>& edits) override {
    return dlg_.settings_.TakeVideoCaptureEdits(handle, edits);
  }
  void OnVideoCaptureWritten(int handle, int result) override { dlg_.settings_.OnVideoCaptureWritten(handle, result); }

 private:
  CAudioPlayDlg& dlg_;
};

CAudioPlayDlg::CAudioPlayDlg(BroadcastSdk& sdk, AudioPlayHost host, QWidget* parent)
    : CXDlg(1620, parent),
      sdk_(sdk),
      host_(std::move(host)),
      broadcast_(sdk, *this),
      settings_(sdk, *this),
      files_(sdk, *this),
      intercom_(std::make_unique<IntercomSeam>(*this)) {
  setWindowTitle(LangText("STRING_AUDIO_BROARDCAST_CONTROL"));
  auto* top = new QHBoxLayout(this);
  auto* left = new QVBoxLayout;
  auto* right = new QVBoxLayout;
  top->addLayout(left, 3);
  top->addLayout(right, 2);

  const auto button = [this](int id, const char* key, void (CAudioPlayDlg::*slot)()) {
    auto* b = new QPushButton(LangText(key), this);
    RegisterControl(id, b);
    connect(b, &QPushButton::clicked, this, slot);
    return b;
  };
  const auto report = [this](int id) {
    auto* list = new controls::CReportCtrl(this);
    list->InsertColumn(0, LangText(kColumnKey), controls::ColumnAlignment::kLeft, 1000);
    RegisterControl(id, list);
    return list;
  };

  // The playlist.
  auto* fileGroup = new QGroupBox(LangText("STRING_MP3_AUDIOFILE"), this);
  auto* fileBox = new QVBoxLayout(fileGroup);
  localList_ = report(kLocalList);
  fileBox->addWidget(localList_);
  auto* fileButtons = new QHBoxLayout;
  fileButtons->addWidget(button(kAddFile, "STRING_ADD_FILE", &CAudioPlayDlg::OnAddFilesClicked));
  fileButtons->addWidget(button(kClearFile, "STRING_CLEAR_FILE", &CAudioPlayDlg::OnClearFiles));
  fileBox->addLayout(fileButtons);
  left->addWidget(fileGroup, 1);
  connect(localList_, &QAbstractItemView::doubleClicked, this, [this] { OnLocalListDblClk(); });

  // Talk parameters.
  auto* talkGroup = new QGroupBox(LangText("STRING_TALK_PARAM"), this);
  auto* talk = new QGridLayout(talkGroup);
  auto* format = new QComboBox(this);
  for (const FormatEntry& f : kFormats) format->addItem(LangText(f.key), f.value);
  format->setCurrentIndex(3);
  auto* rate = new QComboBox(this);
  for (const char* key : {"STRING_8000", "STRING_16000", "STRING_32000", "STRING_48000"}) rate->addItem(LangText(key));
  rate->addItem("44100");
  rate->setCurrentIndex(2);
  auto* transport = new QComboBox(this);
  for (const char* key : {"STRING_UDP", "STRING_TCP", "STRING_MULTICAST"}) transport->addItem(LangText(key));
  RegisterControl(kFormat, format);
  RegisterControl(kRate, rate);
  RegisterControl(kTransport, transport);
  talk->addWidget(new QLabel(LangText("STRING_AUDIO_FORMAT"), this), 0, 0);
  talk->addWidget(format, 0, 1);
  talk->addWidget(new QLabel(LangText("STRING_SAMPLRATE"), this), 1, 0);
  talk->addWidget(rate, 1, 1);
  talk->addWidget(new QLabel(LangText("STRING_TRANSPORT_PROTOCOL"), this), 2, 0);
  talk->addWidget(transport, 2, 1);
  talk->addWidget(new QLabel(LangText("STRING_AUDIO_SOURCE"), this), 3, 0);
  auto* sourceFile = new QRadioButton(LangText("STRING_MP3_AUDIOFILE"), this);
  auto* sourceMic = new QRadioButton(LangText("STRING_VOICE_SAMPLE"), this);
  sourceMic->setChecked(true);
  auto* sources = new QButtonGroup(this);
  sources->addButton(sourceFile);
  sources->addButton(sourceMic);
  RegisterControl(kSourceFile, sourceFile);
  RegisterControl(kSourceMic, sourceMic);
  auto* sourceRow = new QHBoxLayout;
  sourceRow->addWidget(sourceFile);
  sourceRow->addWidget(sourceMic);
  talk->addLayout(sourceRow, 3, 1);
  connect(sourceFile, &QRadioButton::toggled, this, [this] { OnSourceChanged(); });
  auto* talkButtons = new QHBoxLayout;
  talkButtons->addWidget(button(kStart, "STRING_START_BROARDCAST", &CAudioPlayDlg::OnStartClicked));
  talkButtons->addWidget(button(kStop, "STRING_STOP_BROARDCAST", &CAudioPlayDlg::StopBroadcast));
  talkButtons->addWidget(button(kPause, "IDS_STR_ZH_CN_PB_PAUSE", &CAudioPlayDlg::OnPause));
  talk->addLayout(talkButtons, 4, 0, 1, 2);
  left->addWidget(talkGroup);

  // The device's audio settings and picture flips.
  auto* audioGroup = new QGroupBox(LangText("STRING_CAMERA_AUDIO_SETTING"), this);
  auto* audio = new QGridLayout(audioGroup);
  const auto slider = [this](int id, int initial) {
    auto* s = new QSlider(Qt::Horizontal, this);
    s->setRange(0, 100);
    s->setValue(initial);
    RegisterControl(id, s);
    return s;
  };
  audio->addWidget(new QLabel(LangText("IDS_STR_ZH_CN_AC_TIPS1"), this), 0, 0);
  audio->addWidget(slider(kCaptureVolume, 50), 0, 1);
  audio->addWidget(new QLabel(LangText("IDS_STR_ZH_CN_AP_TIPS1"), this), 1, 0);
  audio->addWidget(slider(kPlayVolume, 80), 1, 1);
  auto* answer = new QComboBox(this);
  answer->addItem(LangText("DISABLE"));
  answer->addItem(LangText("ENABLE"));
  RegisterControl(kKeyAnswer, answer);
  audio->addWidget(new QLabel(LangText("IDS_STR_RAANSWER"), this), 2, 0);
  audio->addWidget(answer, 2, 1);
  audio->addWidget(button(kSaveAudio, "IDS_STR_ZH_CN_SAVE", &CAudioPlayDlg::OnSaveAudio), 3, 1);
  left->addWidget(audioGroup);

  auto* flipGroup = new QGroupBox(LangText("STRING_VIDEO_FLIP"), this);
  auto* flip = new QHBoxLayout(flipGroup);
  auto* hflip = new QCheckBox(LangText("STRING_HFLIP"), this);
  auto* vflip = new QCheckBox(LangText("STRING_VFLIP"), this);
  RegisterControl(kHFlip, hflip);
  RegisterControl(kVFlip, vflip);
  flip->addWidget(hflip);
  flip->addWidget(vflip);
  flip->addWidget(button(kSaveFlip, "IDS_STR_ZH_CN_SAVE", &CAudioPlayDlg::OnSaveFlip));
  left->addWidget(flipGroup);

  // One device's files.
  auto* deviceGroup = new QGroupBox(LangText("IDC_STATIC_DEV_FILELIST_GROUP"), this);
  auto* device = new QVBoxLayout(deviceGroup);
  deviceList_ = report(kDeviceList);
  device->addWidget(deviceList_);
  auto* kinds = new QHBoxLayout;
  auto* kindMp3 = new QRadioButton("MP3", this);
  auto* kindApp = new QRadioButton("APP", this);
  kindMp3->setChecked(true);
  auto* kindGroup = new QButtonGroup(this);
  kindGroup->addButton(kindMp3);
  kindGroup->addButton(kindApp);
  RegisterControl(kKindMp3, kindMp3);
  RegisterControl(kKindApp, kindApp);
  kinds->addWidget(kindMp3);
  kinds->addWidget(kindApp);
  connect(kindMp3, &QRadioButton::toggled, this, [this] {
    EnableItem(kListen, IsChecked(kKindMp3));
    if (host_.checkedLogins && host_.checkedLogins().size() == 1) OnQueryDeviceFiles();
  });
  device->addLayout(kinds);
  auto* deviceButtons = new QGridLayout;
  deviceButtons->addWidget(button(kQuery, "IDS_STR_ZH_CN_QUERY", &CAudioPlayDlg::OnQueryDeviceFiles), 0, 0);
  deviceButtons->addWidget(button(kUpload, "IDS_STR_ZH_CN_UPLOAD", &CAudioPlayDlg::OnUploadFiles), 0, 1);
  deviceButtons->addWidget(button(kDelete, "IDS_STR_ZH_CN_DELETE", &CAudioPlayDlg::OnDeleteDeviceFiles), 0, 2);
  deviceButtons->addWidget(button(kListen, "IDS_STR_AUDIOACTION_PLAY_START", &CAudioPlayDlg::OnListenDeviceFile), 1, 0);
  deviceButtons->addWidget(button(kDownload, "IDS_STR_ZH_CN_DOWNLOAD", &CAudioPlayDlg::OnDownloadDeviceFile), 1, 1);
  device->addLayout(deviceButtons);
  right->addWidget(deviceGroup);

  resize(900, 620);
  UpdateBroadcastControls();
}

CAudioPlayDlg::~CAudioPlayDlg() { broadcast_.Stop(); }

device::IntercomDialog& CAudioPlayDlg::Intercom() { return *intercom_; }

void CAudioPlayDlg::closeEvent(QCloseEvent* event) {
  // Closing the window ends the broadcast.
  StopBroadcast();
  CXDlg::closeEvent(event);
}

bool CAudioPlayDlg::IsChecked(int id) const {
  auto* b = qobject_cast<QAbstractButton*>(Control(id));
  return b && b->isChecked();
}

int CAudioPlayDlg::FormatValue() const { return ControlAs<QComboBox>(kFormat)->currentData().toInt(); }

BroadcastSettings CAudioPlayDlg::ReadSettings() const {
  BroadcastSettings s;
  s.format = FormatValue();
  const int rate = ControlAs<QComboBox>(kRate)->currentIndex();
  s.rate = kRates[rate < 0 || rate > 4 ? 2 : rate];
  s.transport = ControlAs<QComboBox>(kTransport)->currentIndex();
  s.source = IsChecked(kSourceFile) ? AudioSource::File : AudioSource::Microphone;
  const int row = localList_->GetFirstSelectedItem();
  if (row >= 0) s.file = localList_->GetItemText(row, 0).toStdString();
  return s;
}

bool CAudioPlayDlg::StartBroadcast() {
  const bool ok = broadcast_.Start(ReadSettings());
  UpdateBroadcastControls();
  return ok;
}

void CAudioPlayDlg::StopBroadcast() {
  broadcast_.Stop();
  UpdateBroadcastControls();
}

void CAudioPlayDlg::OnPause() {
  broadcast_.Pause();
  UpdateBroadcastControls();
}

void CAudioPlayDlg::OnSourceChanged() {
  broadcast_.SetSource(IsChecked(kSourceFile) ? AudioSource::File : AudioSource::Microphone);
  UpdateBroadcastControls();
}

void CAudioPlayDlg::OnLocalListDblClk() {
  if (localList_->GetFirstSelectedItem() < 0) return;
  StopBroadcast();
  ControlAs<QRadioButton>(kSourceFile)->setChecked(true);
  const int format = FormatValue();
  if (format != kFormatPCM && format != kFormatMP3) ControlAs<QComboBox>(kFormat)->setCurrentIndex(3);
  StartBroadcast();
}

void CAudioPlayDlg::OnPlayFinished(unsigned generation) {
  if (!broadcast_.OnFileFinished(generation)) return;
  const int rows = localList_->GetItemCount();
  if (rows == 0) return;
  const int selected = localList_->GetFirstSelectedItem();
  const int next = selected < 0 || selected >= rows - 1 ? 0 : selected + 1;
  localList_->SetStatesWhere(controls::kStateAny, controls::kStateUnselected | controls::kStateUnfocused);
  localList_->SetItemStates(next, controls::kStateSelected | controls::kStateFocused);
  localList_->scrollTo(localList_->model()->index(next, 0));
  StopBroadcast();
  ControlAs<QRadioButton>(kSourceFile)->setChecked(true);
  StartBroadcast();
}

void CAudioPlayDlg::PostFileFinished(unsigned generation) {
  QPointer<CAudioPlayDlg> self(this);
  QMetaObject::invokeMethod(
      this, [self, generation] { if (self) self->OnPlayFinished(generation); }, Qt::QueuedConnection);
}

void CAudioPlayDlg::AddFiles(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    const QString text = QString::fromStdString(path);
    bool present = false;
    for (int r = 0; r < localList_->GetItemCount() && !present; ++r) present = localList_->GetItemText(r, 0) == text;
    if (!present) localList_->InsertItem(localList_->GetItemCount(), text);
  }
}

void CAudioPlayDlg::OnAddFilesClicked() {
  if (!host_.chooseFiles) return;
  const std::string folder = host_.readPath ? host_.readPath("Mp3FilePath") : std::string();
  const auto paths = host_.chooseFiles(kMp3Filter, folder);
  if (paths.empty()) return;
  AddFiles(paths);
  if (host_.storePath) host_.storePath("Mp3FilePath", paths.front());
}

void CAudioPlayDlg::OnClearFiles() {
  while (localList_->GetItemCount() > 0) localList_->DeleteItem(localList_->GetItemCount() - 1);
}

void CAudioPlayDlg::OnStartClicked() { StartBroadcast(); }

void CAudioPlayDlg::ResetTalkDefaults() {
  ControlAs<QComboBox>(kRate)->setCurrentIndex(1);
  ControlAs<QComboBox>(kTransport)->setCurrentIndex(1);
  ControlAs<QRadioButton>(kSourceMic)->setChecked(true);
  ControlAs<QComboBox>(kFormat)->setCurrentIndex(3);
}

void CAudioPlayDlg::UpdateBroadcastControls() {
  const BroadcastState state = broadcast_.State();
  const bool idle = state == BroadcastState::Idle;
  const bool paused = state == BroadcastState::Paused;
  for (int id : {kFormat, kRate, kTransport}) EnableItem(id, idle);
  EnableItem(kStart, idle || paused);
  EnableItem(kPause, state == BroadcastState::Broadcasting);
  EnableItem(kStop, !idle);
  if (host_.setTalkButtonText) host_.setTalkButtonText(!idle);
}

void CAudioPlayDlg::OnSaveAudio() {
  settings_.SaveAudio(ControlAs<QSlider>(kCaptureVolume)->value(), ControlAs<QSlider>(kPlayVolume)->value(),
                      ControlAs<QComboBox>(kKeyAnswer)->currentIndex());
}

void CAudioPlayDlg::OnSaveFlip() { settings_.SaveVideoFlip(IsChecked(kHFlip), IsChecked(kVFlip)); }

int CAudioPlayDlg::SelectedLogin() const { return host_.selectedLogin ? host_.selectedLogin() : 0; }

void CAudioPlayDlg::RefreshDeviceList() {
  while (deviceList_->GetItemCount() > 0) deviceList_->DeleteItem(deviceList_->GetItemCount() - 1);
  for (const std::string& name : files_.Files()) deviceList_->InsertItem(deviceList_->GetItemCount(), QString::fromStdString(name));
}

void CAudioPlayDlg::AppendDeviceRows(std::size_t added) {
  const auto& files = files_.Files();
  for (std::size_t i = files.size() - std::min(added, files.size()); i < files.size(); ++i)
    deviceList_->InsertItem(deviceList_->GetItemCount(), QString::fromStdString(files[i]));
}

void CAudioPlayDlg::OnQueryDeviceFiles() {
  const int login = SelectedLogin();
  if (login < 1) return;
  files_.Query(login, IsChecked(kKindMp3) ? DeviceFileKind::Mp3 : DeviceFileKind::App);
  RefreshDeviceList();
}

void CAudioPlayDlg::QueryAfterUpload(int login) {
  // The device's list with the files just sent, of the kind the radios show.
  files_.Query(login, IsChecked(kKindMp3) ? DeviceFileKind::Mp3 : DeviceFileKind::App);
  RefreshDeviceList();
}

void CAudioPlayDlg::OnUploadFiles() {
  const int login = SelectedLogin();
  if (login < 1 || !host_.chooseFiles) return;
  const bool mp3 = IsChecked(kKindMp3);
  const std::string key = mp3 ? "Mp3FilePath" : "AppFilePath";
  const auto paths = host_.chooseFiles(mp3 ? kMp3Filter : kAppFilter, host_.readPath ? host_.readPath(key) : "");
  if (paths.empty()) return;
  if (host_.storePath) host_.storePath(key, paths.front());
  files_.Upload(login, paths);
}

std::vector<std::string> CAudioPlayDlg::SelectedDeviceFiles() const {
  std::vector<std::string> names;
  for (int r = 0; r < deviceList_->GetItemCount(); ++r)
    if (deviceList_->ItemHasStates(r, controls::kStateSelected)) names.push_back(deviceList_->GetItemText(r, 0).toStdString());
  return names;
}

void CAudioPlayDlg::OnDeleteDeviceFiles() {
  const int login = SelectedLogin();
  if (login < 1) return;
  files_.Delete(login, SelectedDeviceFiles());
  RefreshDeviceList();
}

void CAudioPlayDlg::OnListenDeviceFile() {
  const int login = SelectedLogin();
  if (login < 1) return;
  const auto names = SelectedDeviceFiles();
  if (names.empty()) return;
  SetItemText(kListen, LangText(files_.Listen(login, names.front()).c_str()));
}

void CAudioPlayDlg::OnDownloadDeviceFile() {
  const int login = SelectedLogin();
  if (login < 1) return;
  const auto names = SelectedDeviceFiles();
  if (names.empty() || !host_.documentsFolder) return;
  files_.Download(login, names.front(), host_.documentsFolder());
}

std::vector<int> CAudioPlayDlg::CheckedLogins() { return host_.checkedLogins ? host_.checkedLogins() : std::vector<int>{}; }

void CAudioPlayDlg::ShowError(const std::string& key) {
  errors_.push_back(key);
  if (quiet) return;
  ui::QtUserPrompts().MessageBox(this, LangText(key.c_str()), "ERROR", ui::PromptIcon::kError, ui::PromptButtons::kOk);
}

void CAudioPlayDlg::ShowMpaError(const std::string& message) {
  // The analysis may run off the UI thread: the box opens on it.
  QMetaObject::invokeMethod(this, [this, message] {
    mpaErrors_.push_back(message);
    if (quiet) return;
    ui::QtUserPrompts().MessageBox(this, QString::fromStdString(message), CMPAException::kCaption,
                                   ui::PromptIcon::kError, ui::PromptButtons::kOk);
  });
}

void CAudioPlayDlg::SetDeviceStatus(int login, const std::string& key) {
  if (host_.setStatus) host_.setStatus(login, key);
}

}  // namespace kelvara::media
