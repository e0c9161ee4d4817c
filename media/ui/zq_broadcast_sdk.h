#pragma once
// The broadcast's device calls over the VaRurOvoDiv SDK. The talk, the voice
// channels and the audio go through the SDK's talk calls; the SDK's capture
// runs the capture source registered here (the sound card's microphone, or
// what the caller passes: a file for tests, none for "no microphone").
#include <memory>

#include "media/core/audio_broadcast.h"
#include "media/core/audio_capture_source.h"

namespace kelvara::media {

class ZqBroadcastSdk : public BroadcastSdk {
 public:
  // The capture source; null means the sound card's microphone.
  explicit ZqBroadcastSdk(std::unique_ptr<AudioCaptureSource> capture = nullptr);
  ~ZqBroadcastSdk() override;

  int StartTalk(int transport, int format, int rate, int bits, int channels) override;
  int StopTalk() override;
  int StartAudioCapture(int rate, int bits, int channels, CaptureCallback callback) override;
  int StopAudioCapture() override;
  int StartVoiceCom(int login) override;
  int StopVoiceCom(int login) override;
  int AddTalk(int login) override;
  int RemoveTalk(int login) override;
  int InputAudioData(int format, const std::uint8_t* data, std::size_t size) override;
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
  static int StartSource(int rate, int bits, int channels, void (*deliver)(const char*, int, void*),
                         void* context, void* user);
  static void StopSource(void* user);
  static int OnCapture(const char* data, int length, void* user);

  std::unique_ptr<AudioCaptureSource> capture_;
  CaptureCallback callback_;  // set before the capture starts, read by its thread
};

}  // namespace kelvara::media
