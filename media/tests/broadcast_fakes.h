#pragma once
// A recording device SDK and window for the broadcast's tests: every call
// as a line of text, results refused on request, data kept with its tag.
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "media/core/audio_broadcast.h"

namespace kelvara::media::test {

class RecordingSdk : public BroadcastSdk {
 public:
  std::vector<std::string> calls;
  std::map<std::string, int> refuse;  // call text -> result
  std::mutex dataMutex;
  std::condition_variable dataChanged;
  std::vector<std::pair<int, std::vector<std::uint8_t>>> data;
  CaptureCallback capture;

  int Call(const std::string& text) {
    calls.push_back(text);
    const auto it = refuse.find(text);
    return it == refuse.end() ? 0 : it->second;
  }
  static std::string N(int v) { return std::to_string(v); }

  int StartTalk(int t, int f, int r, int b, int c) override {
    return Call("StartTalk " + N(t) + " " + N(f) + " " + N(r) + " " + N(b) + " " + N(c));
  }
  int StopTalk() override { return Call("StopTalk"); }
  int StartAudioCapture(int r, int b, int c, CaptureCallback cb) override {
    const int rc = Call("StartAudioCapture " + N(r) + " " + N(b) + " " + N(c));
    if (rc == 0) capture = std::move(cb);
    return rc;
  }
  int StopAudioCapture() override {
    capture = nullptr;
    return Call("StopAudioCapture");
  }
  int StartVoiceCom(int l) override { return Call("StartVoiceCom " + N(l)); }
  int StopVoiceCom(int l) override { return Call("StopVoiceCom " + N(l)); }
  int AddTalk(int l) override { return Call("AddTalk " + N(l)); }
  int RemoveTalk(int l) override { return Call("RemoveTalk " + N(l)); }
  int InputAudioData(int format, const std::uint8_t* d, std::size_t n) override {
    std::lock_guard lock(dataMutex);
    data.emplace_back(format, std::vector<std::uint8_t>(d, d + n));
    dataChanged.notify_all();
    return 0;
  }
  int GetDVRConfig(int l, int c) override { return Call("GetDVRConfig " + N(l) + " " + N(c)); }
  int SetDVRConfig(int l, int c, const std::string& x) override { return Call("SetDVRConfig " + N(l) + " " + N(c) + " " + x); }
  int SystemControl(int l, int c, const std::string& x) override { return Call("SystemControl " + N(l) + " " + N(c) + " " + x); }
  int SearchOEMMp3File(int l, int p) override { return Call("SearchOEMMp3File " + N(l) + " " + N(p)); }
  int UploadOEMMp3File(int l, const std::string& p) override { return Call("UploadOEMMp3File " + N(l) + " " + p); }
  int UploadOEMAppFile(int l, const std::string& p) override { return Call("UploadOEMAppFile " + N(l) + " " + p); }
  int PlayMp3File(int l, const std::string& n) override { return Call("PlayMp3File " + N(l) + " " + n); }
  int StopPlayMp3File(int l) override { return Call("StopPlayMp3File " + N(l)); }
  int GetFileByName(int l, const std::string& d, const std::string& p) override {
    return Call("GetFileByName " + N(l) + " " + d + " " + p);
  }
  std::optional<std::string> AudioCaptureWithVolumes(const std::string& reply, int c, int p, int a) override {
    if (reply != "<Capture/>") return std::nullopt;
    return "Volume=" + N(c) + " VolumePlay=" + N(p) + " ra_answer=" + N(a);
  }
};

class RecordingView : public BroadcastView {
 public:
  std::vector<int> checked;
  std::vector<std::string> errors;
  std::vector<std::pair<int, std::string>> statuses;
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<unsigned> finished;

  std::vector<int> CheckedLogins() override { return checked; }
  void ShowError(const std::string& key) override { errors.push_back(key); }
  void ShowMpaError(const std::string& message) override { mpaErrors.push_back(message); }
  void DebugLine(const std::string& line) override {
    std::lock_guard lock(mutex);
    lines.push_back(line);
  }
  std::vector<std::string> mpaErrors;
  std::vector<std::string> lines;  // debug lines, under `mutex`
  void SetDeviceStatus(int login, const std::string& key) override { statuses.emplace_back(login, key); }
  void PostFileFinished(unsigned generation) override {
    std::lock_guard lock(mutex);
    finished.push_back(generation);
    changed.notify_all();
  }
};

}  // namespace kelvara::media::test
