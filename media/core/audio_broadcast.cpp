#include "media/core/audio_broadcast.h"

#include <tinyxml.h>

#include <algorithm>
#include <cstdio>

#include "common/debug_log.h"
#include "common/language_table.h"
#include "common/path_component.h"
#include "common/device_reply_xml.h"
#include "common/xml_guard.h"
#include "media/core/mpa_exception.h"

namespace kelvara::media {

namespace {
constexpr int kBits = 16;
constexpr int kEventTalkReady = 6;
constexpr int kEventTalkEnded = 36;
constexpr int kEventTalkFailed = 37;
constexpr int kCmdGetAudioCapture = 507;
constexpr int kCmdSetAudioCapture = 527;
constexpr int kCmdGetVideoCapture = 504;
constexpr int kCmdFileSearch = 1021;
constexpr int kCmdFileDelete = 1024;
// Transfer kinds of the SDK's upload outcomes: application and MP3 files.
constexpr int kTransferKindOemApp = 3;
constexpr int kTransferKindOemMp3 = 5;

std::string PrintElement(const TiXmlElement& element) {
  TiXmlPrinter printer;
  printer.SetIndent("\t");
  element.Accept(&printer);
  return printer.CStr();
}
}  // namespace

// ---- the broadcast ------------------------------------------------------

AudioBroadcast::~AudioBroadcast() { Stop(); }

AudioSource AudioBroadcast::Source() const {
  std::lock_guard lock(dataMutex_);
  return source_;
}

int AudioBroadcast::FormatValue() const {
  std::lock_guard lock(dataMutex_);
  return formatValue_;
}

std::uint64_t AudioBroadcast::FileBytesSent() const {
  std::lock_guard lock(dataMutex_);
  return fileBytes_;
}

void BroadcastView::DebugLine(const std::string& line) { DebugLogPrintf("%s\n", line.c_str()); }

void AudioBroadcast::OnFileData(const std::uint8_t* data, std::size_t size) {
  int format;
  {
    std::lock_guard lock(dataMutex_);
    if (source_ != AudioSource::File) return;
    format = formatValue_;
    fileBytes_ += size;
  }
  char line[48];
  std::snprintf(line, sizeof line, "len %u, format %d", static_cast<unsigned>(size), format);
  view_.DebugLine(line);
  sdk_.InputAudioData(format, data, size);
}

void AudioBroadcast::OnMicData(const std::uint8_t* data, std::size_t size) {
  {
    std::lock_guard lock(dataMutex_);
    if (source_ != AudioSource::Microphone) return;
  }
  sdk_.InputAudioData(kFormatPCM, data, size);
}

bool AudioBroadcast::StartFileTimer() {
  if (player_) return player_->Start();
  if (decoder_) return decoder_->StartTimer();
  return true;  // a microphone broadcast has no file source
}

void AudioBroadcast::StopFileTimer() {
  if (player_) player_->Stop();
  if (decoder_) decoder_->StopTimer();
}

bool AudioBroadcast::Start(const BroadcastSettings& s) {
  if (state_ == BroadcastState::Paused) {
    // The talk stays open: only the file goes on.
    SetSource(s.source);
    if (s.source == AudioSource::File && !StartFileTimer()) {
      view_.ShowError("STRING_STARTTALK_FAILED");
      return false;
    }
    state_ = BroadcastState::Broadcasting;
    view_.BroadcastChanged();
    return true;
  }
  if (state_ == BroadcastState::Broadcasting) return true;

  std::vector<int> logins = view_.CheckedLogins();
  if (logins.empty()) {
    view_.ShowError("STRING_PLEASE_SELECT_DEVICES");
    return false;
  }
  const int channels = s.format == kFormatAAC ? 2 : 1;
  {
    std::lock_guard lock(dataMutex_);
    source_ = s.source;
    formatValue_ = s.format;
  }
  const unsigned generation = ++generation_;
  const auto finished = [this, generation] { view_.PostFileFinished(generation); };
  const auto data = [this](const std::uint8_t* d, std::size_t n) { OnFileData(d, n); };
  if (s.source == AudioSource::File) {
    if (s.file.empty()) {
      view_.ShowError("STRING_PLEASE_SELECT_AUDIOFILES");
      return false;
    }
    if (s.format == kFormatMP3) {
      player_ = std::make_unique<CMp3Player>(s.file, data, finished);
      player_->debugLog = [this](const std::string& line) { view_.DebugLine(line); };
      player_->onTagError = [this](const CMPAException& e) { view_.ShowMpaError(e.Message()); };
      if (!player_->Open()) {
        player_.reset();
        view_.ShowError("STRING_AUDIOFILE_OPENFAILED");
        return false;
      }
    } else {
      decoder_ = std::make_unique<CAudioDecodeMp3>(s.file, s.rate, channels, data, finished);
      if (decoder_->Decode() != Mp3DecodeStatus::Ok) {
        decoder_.reset();
        view_.ShowError("STRING_AUDIOFILE_OPENFAILED");
        return false;
      }
    }
  }
  const int talkFormat = s.format == kFormatMP3 ? kFormatPCM : s.format;
  if (sdk_.StartTalk(s.transport, talkFormat, s.rate, kBits, channels) != 0) {
    Stop();
    view_.ShowError("STRING_STARTTALK_FAILED");
    return false;
  }
  talkOpen_ = true;
  if (sdk_.StartAudioCapture(s.rate, kBits, channels,
                             [this](const std::uint8_t* d, std::size_t n) { OnMicData(d, n); }) != 0) {
    // Without a microphone only a file broadcast can go on.
    if (s.source == AudioSource::Microphone) {
      Stop();
      view_.ShowError("STRING_NO_MICROPHONE");
      return false;
    }
  } else {
    captureOpen_ = true;
  }
  talkDevices_.clear();
  for (int login : logins) {
    if (sdk_.StartVoiceCom(login) == 0)
      talkDevices_.push_back(login);
    else
      view_.SetDeviceStatus(login, "STRING_STARTTALK_FAILED");
  }
  if (talkDevices_.empty()) {
    Stop();
    view_.ShowError("STRING_STARTTALK_FAILED");
    return false;
  }
  state_ = BroadcastState::Broadcasting;
  if (s.source == AudioSource::File && !StartFileTimer()) {
    Stop();
    view_.ShowError("STRING_STARTTALK_FAILED");
    return false;
  }
  view_.BroadcastChanged();
  return true;
}

void AudioBroadcast::EndTalk() {
  for (int login : talkDevices_) {
    sdk_.RemoveTalk(login);
    sdk_.StopVoiceCom(login);
  }
  talkDevices_.clear();
  if (captureOpen_) sdk_.StopAudioCapture();
  captureOpen_ = false;
  if (talkOpen_) sdk_.StopTalk();
  talkOpen_ = false;
}

void AudioBroadcast::Stop() {
  // The feeders join their timer threads: no file data after this.
  decoder_.reset();
  player_.reset();
  EndTalk();
  const bool changed = state_ != BroadcastState::Idle;
  state_ = BroadcastState::Idle;
  if (changed) view_.BroadcastChanged();
}

void AudioBroadcast::Pause() {
  if (state_ != BroadcastState::Broadcasting) return;
  StopFileTimer();
  state_ = BroadcastState::Paused;
  view_.BroadcastChanged();
}

void AudioBroadcast::SetSource(AudioSource source) {
  {
    std::lock_guard lock(dataMutex_);
    source_ = source;
  }
  if (state_ != BroadcastState::Broadcasting) return;
  if (source == AudioSource::File)
    StartFileTimer();
  else
    StopFileTimer();
}

bool AudioBroadcast::OnFileFinished(unsigned generation) {
  return generation == generation_ && state_ != BroadcastState::Idle;
}

void AudioBroadcast::OnDeviceTalkEvent(int login, int event) {
  const auto it = std::find(talkDevices_.begin(), talkDevices_.end(), login);
  if (it == talkDevices_.end()) return;
  if (event == kEventTalkReady) {
    sdk_.AddTalk(login);
  } else if (event == kEventTalkEnded || event == kEventTalkFailed) {
    sdk_.StopVoiceCom(login);
    talkDevices_.erase(it);
    view_.SetDeviceStatus(login, "STRING_STARTTALK_FAILED");
  }
}

// ---- device settings ----------------------------------------------------

void DeviceAudioSettings::SaveAudio(int captureVolume, int playVolume, int keyAnswer) {
  std::lock_guard lock(mutex_);
  pendingAudio_.clear();
  for (int login : view_.CheckedLogins()) {
    if (sdk_.GetDVRConfig(login, kCmdGetAudioCapture) != 0)
      view_.SetDeviceStatus(login, "IDS_STR_ZH_CN_SET_FAILED");
    else
      pendingAudio_[login] = {captureVolume, playVolume, keyAnswer};
  }
}

void DeviceAudioSettings::OnAudioCaptureReply(int login, int result, const std::string& text) {
  Volumes v;
  {
    std::lock_guard lock(mutex_);
    const auto it = pendingAudio_.find(login);
    if (it == pendingAudio_.end()) return;
    v = it->second;
    pendingAudio_.erase(it);  // each request is answered once
  }
  std::optional<std::string> xml;
  if (result == 0) xml = sdk_.AudioCaptureWithVolumes(text, v.capture, v.play, v.answer);
  if (!xml || sdk_.SetDVRConfig(login, kCmdSetAudioCapture, *xml) != 0)
    view_.SetDeviceStatus(login, "IDS_STR_ZH_CN_SET_FAILED");
}

void DeviceAudioSettings::SaveVideoFlip(bool horizontal, bool vertical) {
  std::lock_guard lock(mutex_);
  pendingVideo_.clear();
  for (int login : view_.CheckedLogins()) {
    if (sdk_.GetDVRConfig(login, kCmdGetVideoCapture) != 0)
      view_.SetDeviceStatus(login, "IDS_STR_ZH_CN_SET_FAILED");
    else
      pendingVideo_[login] = {horizontal, vertical};
  }
}

bool DeviceAudioSettings::TakeVideoCaptureEdits(int login, std::vector<std::pair<std::string, long long>>& edits) {
  std::lock_guard lock(mutex_);
  const auto it = pendingVideo_.find(login);
  if (it == pendingVideo_.end()) return false;
  edits.emplace_back("HFlip", it->second.first ? 1 : 0);
  edits.emplace_back("VFlip", it->second.second ? 1 : 0);
  pendingVideo_.erase(it);
  return true;
}

void DeviceAudioSettings::OnVideoCaptureWritten(int login, int result) {
  if (result != 0) view_.SetDeviceStatus(login, "IDS_STR_ZH_CN_SET_FAILED");
}

// ---- device files -------------------------------------------------------

std::string DeviceFileList::SearchRequest(int page) {
  TiXmlElement e("REQUEST_PARAM");
  e.SetAttribute("SearchMode", "0");
  e.SetAttribute("MediaType", "OEMAPP");
  e.SetAttribute("Page", page);
  return PrintElement(e);
}

void DeviceFileList::AskPage() {
  const int page = queryPage_++;
  const int rc = kind_ == DeviceFileKind::Mp3 ? sdk_.SearchOEMMp3File(queryLogin_, page)
                                              : sdk_.SystemControl(queryLogin_, kCmdFileSearch, SearchRequest(page));
  if (rc != 0) {
    view_.SetDeviceStatus(queryLogin_, "IDS_STR_ZH_CN_QUERY_FAILED");
    queryLogin_ = 0;
    return;
  }
  ++outstanding_;
}

void DeviceFileList::Query(int login, DeviceFileKind kind) {
  if (login < 1) return;
  // Replies still due to an earlier query of this device are not this one's.
  skip_ = login == outstandingLogin_ ? outstanding_ : 0;
  outstanding_ = 0;
  outstandingLogin_ = login;
  files_.clear();
  names_.clear();
  queryLogin_ = login;
  queryPage_ = 0;
  kind_ = kind;
  AskPage();
}

std::size_t DeviceFileList::OnSearchReply(int login, int result, const std::string& text) {
  if (login != outstandingLogin_) return 0;
  if (skip_ > 0) {
    --skip_;
    return 0;
  }
  if (outstanding_ > 0) --outstanding_;
  if (login != queryLogin_) return 0;
  TiXmlDocument doc;
  kelvara::ParseXmlGuarded(doc, text);
  const TiXmlElement* root = doc.RootElement();
  std::size_t added = 0;
  bool full = false;
  if (result == 0 && root) {
    for (const TiXmlElement* e = root->FirstChildElement("RECORD_FILE"); e; e = e->NextSiblingElement("RECORD_FILE")) {
      const char* path = e->Attribute("FilePath");
      if (!path || names_.count(path) > 0) continue;
      if (files_.size() >= kMaxFiles) {
        full = true;
        break;
      }
      names_.emplace(path);
      files_.emplace_back(path);
      ++added;
    }
  }
  // A page that adds nothing new ends the listing (a device that repeats its
  // last page would otherwise be asked for ever); so do the caps.
  const bool cut = full || (added > 0 && queryPage_ >= kMaxPages);
  if (added > 0 && !cut) {
    AskPage();
  } else {
    if (cut) view_.ShowError("DEVICE_FILES_LIST_CUT");
    queryLogin_ = 0;
  }
  return added;
}

void DeviceFileList::Upload(int login, const std::vector<std::string>& paths) {
  if (login < 1 || paths.empty()) return;
  uploadQueue_ = paths;
  uploadLogin_ = login;
  uploading_ = false;
  uploadQueueOpen_ = true;
  uploadsArrived_ = 0;
  uploadsFailed_ = 0;
  StartNextUpload(login);
}

bool DeviceFileList::UploadNextFile(int login) {
  if (login != uploadLogin_) return false;
  if (uploading_) ++uploadsArrived_;
  uploading_ = false;
  return StartNextUpload(login);
}

bool DeviceFileList::StartNextUpload(int login) {
  // A refused upload is reported for its file and the queue goes on.
  while (!uploadQueue_.empty()) {
    const std::string path = uploadQueue_.front();
    uploadQueue_.erase(uploadQueue_.begin());
    std::string tail = path.size() >= 4 ? path.substr(path.size() - 4) : path;
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::toupper(c); });
    const int rc = tail == ".MP3" ? sdk_.UploadOEMMp3File(login, path) : sdk_.UploadOEMAppFile(login, path);
    uploading_ = rc == 0;
    if (rc == 0) return false;  // event 14 or 15 asks for the next
    ++uploadsFailed_;
    view_.SetDeviceStatus(login, "MSGTIP7");
  }
  if (!uploadQueueOpen_) return false;
  // The last file has ended: the queue's outcome stays in the status.
  uploadQueueOpen_ = false;
  if (uploadsFailed_ == 0)
    view_.SetDeviceStatus(login, LangKey("UPLOAD_FILES_DONE"));
  else if (uploadsArrived_ > 0)
    view_.SetDeviceStatus(login, "MSGTIP7");
  return uploadsArrived_ > 0 && (outstandingLogin_ == login || outstandingLogin_ == 0);
}

bool DeviceFileList::OnUploadFailed(int login, const std::string& text) {
  if (login != uploadLogin_ || !uploading_) return false;
  // Another transfer of the device (an upgrade, a configuration file) is not
  // the queue's; an outcome that names no kind is taken as the queue's.
  TiXmlDocument doc;
  const TiXmlElement* root = kelvara::ParseDeviceReplyXml(doc, text, "Upload outcome") ? doc.RootElement() : nullptr;
  int kind = 0;
  if (root != nullptr && root->QueryIntAttribute("Kind", &kind) == TIXML_SUCCESS && kind != kTransferKindOemApp &&
      kind != kTransferKindOemMp3)
    return false;
  view_.SetDeviceStatus(login, "MSGTIP7");
  ++uploadsFailed_;
  uploading_ = false;
  return StartNextUpload(login);
}

void DeviceFileList::Delete(int login, const std::vector<std::string>& names) {
  if (login < 1) return;
  for (const std::string& name : names) {
    TiXmlElement e("REQUEST_PARAM");
    e.SetAttribute("FileName", name.c_str());
    if (sdk_.SystemControl(login, kCmdFileDelete, PrintElement(e)) == 0)
      pendingDeletes_.emplace_back(login, name);
    else
      view_.SetDeviceStatus(login, "IDS_STR_ZH_CN_DELETE_FAILED");
  }
}

bool DeviceFileList::OnDeleteReply(int login, int result) {
  const auto it = std::find_if(pendingDeletes_.begin(), pendingDeletes_.end(),
                               [login](const auto& p) { return p.first == login; });
  if (it == pendingDeletes_.end()) return false;
  const std::string name = it->second;
  pendingDeletes_.erase(it);
  if (result != 0) {
    view_.SetDeviceStatus(login, "IDS_STR_ZH_CN_DELETE_FAILED");
    return false;
  }
  // The shown list is this device's (or a later query's, which the device
  // answered without the file already).
  const auto row = std::find(files_.begin(), files_.end(), name);
  if (outstandingLogin_ != login || row == files_.end()) return false;
  files_.erase(row);
  names_.erase(name);
  return true;
}

std::string DeviceFileList::ListenCaption() const {
  return devicePlaying_ ? std::string("IDS_STR_AUDIOACTION_PLAY_STOP") : std::string("IDS_STR_AUDIOACTION_PLAY_START");
}

std::string DeviceFileList::Listen(int login, const std::string& name) {
  if (login < 1 || name.empty() || listenLogin_ > 0) return ListenCaption();
  const bool play = !devicePlaying_;
  const int rc = play ? sdk_.PlayMp3File(login, name) : sdk_.StopPlayMp3File(login);
  if (rc == 0) {
    listenLogin_ = login;
    listenWants_ = play;
  } else {
    view_.SetDeviceStatus(login, "IDS_STR_ZH_CN_PLAY_FAILED");
  }
  return ListenCaption();
}

bool DeviceFileList::OnPlayReply(int login, int result) {
  if (listenLogin_ < 1 || login != listenLogin_) return false;
  listenLogin_ = 0;
  if (result == 0)
    devicePlaying_ = listenWants_;
  else
    view_.SetDeviceStatus(login, "IDS_STR_ZH_CN_PLAY_FAILED");
  return true;
}

std::optional<std::string> DeviceFileList::LocalPathFor(const std::string& devicePath, const std::string& folder) {
  const std::size_t cut = devicePath.find_last_of("\\/");
  const std::string name = cut == std::string::npos ? devicePath : devicePath.substr(cut + 1);
  if (name.empty()) return std::nullopt;
  return folder + "/" + SanitizePathComponent(name);
}

bool DeviceFileList::Download(int login, const std::string& devicePath, const std::string& folder) {
  if (login < 1 || devicePath.empty()) return false;
  const auto local = LocalPathFor(devicePath, folder);
  if (!local) return false;
  sdk_.GetFileByName(login, devicePath, *local);
  return true;
}

}  // namespace kelvara::media
