#pragma once
// The broadcast's device calls over the VaRurOvoDiv SDK, with the microphone
// from the sound card. The SDK has no talk or voice calls yet: those report
// failure (-1), so a start says the talk was refused and stays idle.
#include <memory>

#include "media/core/audio_broadcast.h"
#include "media/core/audio_capture_source.h"

namespace kelvara::media {

class ZqBroadcastSdk : public BroadcastSdk {
 public:
  // The capture source; null means the sound card's microphone.
  explicit ZqBroadcastSdk(std::unique_ptr<AudioCaptureSource> capture = nullptr);
  ~ZqBroadcastSdk() override;

  int StartTalk(int, int, int, int, int) override { return -1; }
  int StopTalk() override { return -1; }
  int StartAudioCapture(int rate, int bits, int channels, CaptureCallback callback) override;
  int StopAudioCapture() override;
  int StartVoiceCom(int) override { return -1; }
  int StopVoiceCom(int) override { return -1; }
  int AddTalk(int) override { return -1; }
  int RemoveTalk(int) override { return -1; }
  int InputAudioData(int, const std::uint8_t*, std::size_t) override { return -1; }
  int GetDVRConfig(int login, int command) override;
  int SetDVRConfig(int login, int command, const std::string& xml) override;
  int SystemControl(int login, int command, const std::string& xml) override;
  int SearchOEMMp3File(int login, int page) override;
  int UploadOEMMp3File(int login, const std::string& path) override;
  int UploadOEMAppFile(int login, const std::string& path) override;
  int PlayMp3File(int login, const std::string& name) override;
  int StopPlayMp3File(int login) override;
  int GetFileByName(int login, const std::string& devicePath, const std::string& localPath) override;
  std::optional<std::string> AudioCaptureWithVolumes(const std::string& reply, int captureVolume, int playVolume,
                                                     int keyAnswer) override;

 private:
  std::unique_ptr<AudioCaptureSource> capture_;
};

}  // namespace kelvara::media
