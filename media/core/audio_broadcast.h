#pragma once
// The rules of the audio broadcast dialog without its widgets: starting,
// pausing, switching source and stopping a talk to the checked devices,
// the playlist step, the talk events, the device settings it reads and
// writes back, and the device file list (paging, upload queue, delete,
// listen, download names).
//
// The broadcast keeps an explicit state (Idle, Broadcasting, Paused) and
// the devices it started: stop and the talk events act on those, not on the
// rows checked later. A failed start undoes what it opened. Each start gets
// a generation number; an end-of-file report of an earlier one is ignored.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "media/core/audio_file_feeders.h"

namespace kelvara::media {

// Format values: what the data is tagged with.
enum AudioFormat : int { kFormatG711U = 0, kFormatAAC = 1, kFormatG711A = 2, kFormatPCM = 3, kFormatMP3 = 5 };
enum class AudioSource { Microphone = 0, File = 1 };
enum class BroadcastState { Idle, Broadcasting, Paused };

// The device SDK calls of a broadcast.
class BroadcastSdk {
 public:
  using CaptureCallback = std::function<void(const std::uint8_t* data, std::size_t size)>;
  virtual ~BroadcastSdk() = default;
  virtual int StartTalk(int transport, int format, int rate, int bits, int channels) = 0;
  virtual int StopTalk() = 0;
  // Non-zero when there is no microphone. StopAudioCapture returns when no
  // capture callback runs any more.
  virtual int StartAudioCapture(int rate, int bits, int channels, CaptureCallback callback) = 0;
  virtual int StopAudioCapture() = 0;
  virtual int StartVoiceCom(int login) = 0;
  virtual int StopVoiceCom(int login) = 0;
  virtual int AddTalk(int login) = 0;
  virtual int RemoveTalk(int login) = 0;
  virtual int InputAudioData(int format, const std::uint8_t* data, std::size_t size) = 0;
  // Device settings and files.
  virtual int GetDVRConfig(int login, int command) = 0;
  virtual int SetDVRConfig(int login, int command, const std::string& xml) = 0;
  virtual int SystemControl(int login, int command, const std::string& xml) = 0;
  virtual int SearchOEMMp3File(int login, int page) = 0;
  virtual int UploadOEMMp3File(int login, const std::string& path) = 0;
  virtual int UploadOEMAppFile(int login, const std::string& path) = 0;
  virtual int PlayMp3File(int login, const std::string& name) = 0;
  virtual int StopPlayMp3File(int login) = 0;
  virtual int GetFileByName(int login, const std::string& devicePath, const std::string& localPath) = 0;
  // The audio-capture block of a reply with three members changed, as the
  // text to write back; none when the reply does not read as that block.
  virtual std::optional<std::string> AudioCaptureWithVolumes(const std::string& reply, int captureVolume,
                                                             int playVolume, int keyAnswer) = 0;
};

// What the broadcast needs of its window and of the main window.
class BroadcastView {
 public:
  virtual ~BroadcastView() = default;
  // Login handles of the checked rows, in list order.
  virtual std::vector<int> CheckedLogins() = 0;
  // A message box with the language text of `key`, caption "ERROR".
  virtual void ShowError(const std::string& key) = 0;
  virtual void SetDeviceStatus(int login, const std::string& key) = 0;
  // Called on a feeder thread: the window posts OnFileFinished(generation)
  // to its own thread.
  virtual void PostFileFinished(unsigned generation) = 0;
  virtual void BroadcastChanged() {}
  // A line for the debug log ("len %u, format %d", the MP3 feeder's "offset
  // %u, size %u" and "%s read finished."); called on feeder threads.
  virtual void DebugLine(const std::string& line);
  // An MP3 analysis error met while opening a file (a broken tag): a message
  // box with caption "MPAFile Error". May be called on any thread.
  virtual void ShowMpaError(const std::string&) {}
};

struct BroadcastSettings {
  int format = kFormatPCM;
  int rate = 32000;
  int transport = 0;
  AudioSource source = AudioSource::Microphone;
  std::string file;  // the selected playlist row, empty when none
};

class AudioBroadcast {
 public:
  AudioBroadcast(BroadcastSdk& sdk, BroadcastView& view) : sdk_(sdk), view_(view) {}
  ~AudioBroadcast();

  // Start or resume. False when nothing runs afterwards.
  bool Start(const BroadcastSettings& settings);
  // Stops the feeders (joining their threads) and, when broadcasting, the
  // talk with every device it started.
  void Stop();
  void Pause();
  // The source radios, in any state.
  void SetSource(AudioSource source);
  // The playlist's end-of-file step: true when the window is to select the
  // next row and start again.
  bool OnFileFinished(unsigned generation);
  void OnDeviceTalkEvent(int login, int event);

  BroadcastState State() const { return state_; }
  AudioSource Source() const;
  int FormatValue() const;
  unsigned Generation() const { return generation_; }
  const std::vector<int>& TalkDevices() const { return talkDevices_; }
  bool HasFileSource() const { return decoder_ || player_; }
  // Counts of data passed to the SDK (file, microphone), for the window.
  std::uint64_t FileBytesSent() const;

 private:
  void OnFileData(const std::uint8_t* data, std::size_t size);
  void OnMicData(const std::uint8_t* data, std::size_t size);
  bool StartFileTimer();
  void StopFileTimer();
  void EndTalk();

  BroadcastSdk& sdk_;
  BroadcastView& view_;
  BroadcastState state_ = BroadcastState::Idle;
  std::vector<int> talkDevices_;
  bool talkOpen_ = false;
  bool captureOpen_ = false;
  unsigned generation_ = 0;
  std::unique_ptr<CAudioDecodeMp3> decoder_;
  std::unique_ptr<CMp3Player> player_;
  // Read by the feeder and capture threads.
  mutable std::mutex dataMutex_;
  AudioSource source_ = AudioSource::Microphone;
  int formatValue_ = kFormatPCM;
  std::uint64_t fileBytes_ = 0;
};

// The two device settings and the device files of the dialog.
class DeviceAudioSettings {
 public:
  DeviceAudioSettings(BroadcastSdk& sdk, BroadcastView& view) : sdk_(sdk), view_(view) {}

  // Save of the audio settings: asks each checked device for its block
  // (507); the reply writes the block back (527) with these values.
  void SaveAudio(int captureVolume, int playVolume, int keyAnswer);
  void OnAudioCaptureReply(int login, int result, const std::string& text);
  // Save of the picture flips: asks each checked device (504); the flips go
  // out with the device commands' one write for that reply.
  void SaveVideoFlip(bool horizontal, bool vertical);
  bool TakeVideoCaptureEdits(int login, std::vector<std::pair<std::string, long long>>& edits);
  void OnVideoCaptureWritten(int login, int result);

 private:
  struct Volumes {
    int capture, play, answer;
  };
  BroadcastSdk& sdk_;
  BroadcastView& view_;
  std::mutex mutex_;
  std::map<int, Volumes> pendingAudio_;
  std::map<int, std::pair<bool, bool>> pendingVideo_;
};

enum class DeviceFileKind { Mp3, App };

class DeviceFileList {
 public:
  DeviceFileList(BroadcastSdk& sdk, BroadcastView& view) : sdk_(sdk), view_(view) {}

  // A listing stops at kMaxFiles names or kMaxPages pages, whichever comes
  // first, and says so in the window: a device that sends new names on every
  // page would otherwise be asked for ever. Real stores hold a few dozen
  // files in pages of ten.
  static constexpr std::size_t kMaxFiles = 10000;
  static constexpr int kMaxPages = 2000;

  void Query(int login, DeviceFileKind kind);
  // Reply 1021: the number of names it appended to Files() (0: no change).
  std::size_t OnSearchReply(int login, int result, const std::string& text);
  const std::vector<std::string>& Files() const { return files_; }
  bool Querying() const { return queryLogin_ > 0; }

  // Uploads the files to the device one after the other. When the last one
  // has ended, the device's status says how the queue went: the success
  // text when every file arrived, "MSGTIP7" when one did not (a later
  // file's "File sent" must not hide an earlier failure).
  void Upload(int login, const std::vector<std::string>& paths);
  // Event 14 of a device: its upload finished; the next one starts. True
  // when that ended the queue, a file arrived, and the list shows this
  // device's files or none yet: the window then asks for the list again.
  bool UploadNextFile(int login);
  // Event 15 of a device (text: the SDK's outcome with the transfer kind):
  // a failed upload of the queue is reported and the next one starts; true
  // as for UploadNextFile.
  bool OnUploadFailed(int login, const std::string& text);
  std::size_t UploadsLeft() const { return uploadQueue_.size(); }

  // Asks the device to delete the named files; a row goes when the device
  // answers that its delete is done (OnDeleteReply), a refused or failed one
  // stays and is reported.
  void Delete(int login, const std::vector<std::string>& names);
  // Reply 1024: true when the list changed.
  bool OnDeleteReply(int login, int result);
  // Listen: asks the device to start or stop playing; the state turns only
  // when the device answers that it did (OnPlayReply). While a request is
  // out a further click does nothing. Returns the caption key of the button.
  std::string Listen(int login, const std::string& name);
  // Reply 1022: true when it answered this list's request.
  bool OnPlayReply(int login, int result);
  std::string ListenCaption() const;
  bool DevicePlaying() const { return devicePlaying_; }
  // Download to `folder`; false when the name gives no usable file name.
  bool Download(int login, const std::string& devicePath, const std::string& folder);

  // The device file name below `folder`: the part after the last
  // backslash or slash, made safe.
  static std::optional<std::string> LocalPathFor(const std::string& devicePath, const std::string& folder);
  static std::string SearchRequest(int page);

 private:
  void AskPage();
  bool StartNextUpload(int login);

  BroadcastSdk& sdk_;
  BroadcastView& view_;
  int queryLogin_ = 0;
  int queryPage_ = 0;
  int outstandingLogin_ = 0;
  int outstanding_ = 0;  // pages asked and not answered
  int skip_ = 0;         // replies of an earlier query still to come
  DeviceFileKind kind_ = DeviceFileKind::Mp3;
  std::vector<std::string> files_;
  std::unordered_set<std::string> names_;  // files_ as a set: a page's names are checked in constant time
  int uploadLogin_ = 0;
  std::vector<std::string> uploadQueue_;
  bool uploading_ = false;  // a file of the queue is on its way
  bool uploadQueueOpen_ = false;  // the queue has not ended yet
  int uploadsArrived_ = 0;
  int uploadsFailed_ = 0;
  // Deletes sent and not answered, in request order (a login's replies come
  // in that order).
  std::vector<std::pair<int, std::string>> pendingDeletes_;
  bool devicePlaying_ = false;
  int listenLogin_ = 0;  // a play or stop is out to this device
  bool listenWants_ = false;
};

}  // namespace kelvara::media
