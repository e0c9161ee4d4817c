#include "app/ui/audio_play_seam.h"

#include <QFileDialog>

#include "app/shell/main_layout.h"
#include "app/ui/zq_dev_search_tool_dlg.h"
#include "common/language_table.h"
#include "common/folder_functions.h"
#include "common/paths.h"
#include "common/ui/user_prompts.h"
#include "controls/ui/report_ctrl.h"
#include "discovery/ui/device_list_controller.h"
#include "media/ui/audio_play_dlg.h"

namespace kelvara::ui {

AudioPlaySeam::AudioPlaySeam(media::BroadcastSdk& sdk, discovery::DeviceListController& list, Hooks hooks)
    : sdk_(sdk), list_(list), hooks_(std::move(hooks)) {}

AudioPlaySeam::~AudioPlaySeam() = default;

void AudioPlaySeam::Install(ModelessFactories& modeless) {
  modeless.audio_play = [this](QWidget* parent) { return Create(parent); };
  modeless.audio_talk = [this](QDialog* dlg) {
    if (auto* audio = qobject_cast<media::CAudioPlayDlg*>(dlg)) Talk(*audio);
  };
  modeless.audio_talking = [](QDialog* dlg) {
    auto* audio = qobject_cast<media::CAudioPlayDlg*>(dlg);
    return audio != nullptr && audio->Broadcast().State() != media::BroadcastState::Idle;
  };
}

media::CAudioPlayDlg* AudioPlaySeam::Dialog() const { return qobject_cast<media::CAudioPlayDlg*>(dlg_.data()); }

QDialog* AudioPlaySeam::Create(QWidget* parent) {
  media::AudioPlayHost host;
  host.checkedLogins = [this] {
    std::vector<int> logins;
    discovery::DeviceRows& rows = list_.Rows();
    for (std::size_t i = 0; i < rows.Count(); ++i)
      if (rows.At(i).checked && rows.At(i).m_loginHandle > 0) logins.push_back(rows.At(i).m_loginHandle);
    return logins;
  };
  host.selectedLogin = [this] { return hooks_.selectedLogin ? hooks_.selectedLogin() : 0; };
  host.setStatus = [this](int login, const std::string& key) {
    if (hooks_.setStatus) hooks_.setStatus(login, key);
  };
  host.setTalkButtonText = [this](bool broadcasting) {
    if (window_ != nullptr) window_->SetTalkButtonText(broadcasting ? 1 : 0);
  };
  host.readPath = [this](const std::string& key) { return hooks_.readPath ? hooks_.readPath(key) : std::string(); };
  host.storePath = [this](const std::string& key, const std::string& path) {
    if (hooks_.storePath) hooks_.storePath(key, path);
  };
  // Downloads go there, so it must exist.
  host.documentsFolder = [] { return paths::EnsureDir(paths::DocumentsDir()).string(); };
  host.chooseFiles = [parent](const QString& filter, const std::string& lastFile) {
    std::vector<std::string> out;
    const QString start = QString::fromStdString(GetStartFolderForFile(lastFile, paths::DocumentsDir()).string());
    for (const QString& f : QFileDialog::getOpenFileNames(parent, QString(), start, filter))
      out.push_back(f.toStdString());
    return out;
  };
  auto* dlg = new media::CAudioPlayDlg(sdk_, std::move(host), parent);
  dlg_ = dlg;
  return dlg;
}

void AudioPlaySeam::Talk(media::CAudioPlayDlg& dlg) {
  if (dlg.Broadcast().State() != media::BroadcastState::Idle) {
    dlg.StopBroadcast();
    return;
  }
  const int login = hooks_.selectedPaneLogin ? hooks_.selectedPaneLogin() : 0;
  if (login <= 0) {
    if (window_ != nullptr && window_->Services().prompts != nullptr) {
      const LanguageTable& lang = LanguageTable::Instance();
      window_->Services().prompts->MessageBox(window_, QString::fromStdString(lang.GetLanguageString("NO_IPC_PLAYING")),
                                              QString::fromStdString(lang.GetLanguageString("WARRNING")),
                                              PromptIcon::kWarning);
    }
    return;
  }
  // Exactly the rows of that device are checked.
  int checked = 0;
  discovery::DeviceRows& rows = list_.Rows();
  for (std::size_t i = 0; i < rows.Count(); ++i) {
    discovery::DeviceListRow& row = rows.At(i);
    const bool on = row.m_loginHandle == login;
    const int index = list_.RowIndex(row);
    if (list_.List() != nullptr && index >= 0) list_.List()->SetCheck(index, on);
    row.checked = on;
    checked += on ? 1 : 0;
  }
  if (checked != 1) return;
  if (window_ != nullptr) window_->SetCheck(shell::ids::kCheckSound, 1);
  dlg.ResetTalkDefaults();
  dlg.StartBroadcast();
}

bool AudioPlaySeam::Exists() const { return Dialog() != nullptr; }

void AudioPlaySeam::UploadNextFile(int handle) {
  if (media::CAudioPlayDlg* d = Dialog()) d->Intercom().UploadNextFile(handle);
}
void AudioPlaySeam::OnDeviceTalkEvent(int handle, int eventType) {
  if (media::CAudioPlayDlg* d = Dialog()) d->Intercom().OnDeviceTalkEvent(handle, eventType);
}
void AudioPlaySeam::OnConfigReply(int handle, int command, int result, const std::string& text) {
  if (media::CAudioPlayDlg* d = Dialog()) d->Intercom().OnConfigReply(handle, command, result, text);
}
bool AudioPlaySeam::TakeVideoCaptureEdits(int handle, std::vector<device::AttributeEdit>& edits) {
  media::CAudioPlayDlg* d = Dialog();
  return d != nullptr && d->Intercom().TakeVideoCaptureEdits(handle, edits);
}
void AudioPlaySeam::OnVideoCaptureWritten(int handle, int result) {
  if (media::CAudioPlayDlg* d = Dialog()) d->Intercom().OnVideoCaptureWritten(handle, result);
}

}  // namespace kelvara::ui
