#include "media/ui/zq_broadcast_sdk.h"

#include <VaRurOvoDiv/zq_netsdk_ipc.h>
#include <VaRurOvoDiv/zq_netsdk_records.h>

#include "media/ui/qt_microphone_source.h"

namespace kelvara::media {

ZqBroadcastSdk::ZqBroadcastSdk(std::unique_ptr<AudioCaptureSource> capture)
    : capture_(capture ? std::move(capture) : std::make_unique<QtMicrophoneSource>()) {}

ZqBroadcastSdk::~ZqBroadcastSdk() { capture_->Stop(); }

int ZqBroadcastSdk::StartAudioCapture(int rate, int bits, int channels, CaptureCallback callback) {
  return capture_->Start(rate, bits, channels, std::move(callback));
}

int ZqBroadcastSdk::StopAudioCapture() {
  capture_->Stop();
  return 0;
}

int ZqBroadcastSdk::GetDVRConfig(int login, int command) {
  return ZQ_NETSDK_IPC_GetDVRConfig(login, command, 0, nullptr, nullptr, 0);
}

int ZqBroadcastSdk::SetDVRConfig(int login, int command, const std::string& xml) {
  return ZQ_NETSDK_IPC_SetDVRConfig(login, command, 0, xml.c_str(), static_cast<int>(xml.size()));
}

int ZqBroadcastSdk::SystemControl(int login, int command, const std::string& xml) {
  return ZQ_NETSDK_IPC_SystemControl(login, command, nullptr, xml.c_str());
}

int ZqBroadcastSdk::SearchOEMMp3File(int login, int page) { return ZQ_NETSDK_IPC_SearchOEMMp3File(login, page); }

int ZqBroadcastSdk::UploadOEMMp3File(int login, const std::string& path) {
  return ZQ_NETSDK_IPC_UploadOEMMp3File(login, path.c_str(), 0);
}

// Plays the file again and again until stopped, as the dialog's Listen does.
int ZqBroadcastSdk::PlayMp3File(int login, const std::string& name) {
  return ZQ_NETSDK_IPC_PlayMp3File(login, name.c_str(), 1);
}

int ZqBroadcastSdk::StopPlayMp3File(int login) { return ZQ_NETSDK_IPC_StopPlayMp3File(login); }

int ZqBroadcastSdk::UploadOEMAppFile(int login, const std::string& path) {
  return ZQ_NETSDK_IPC_UploadOEMAppFile(login, path.c_str());
}

int ZqBroadcastSdk::GetFileByName(int login, const std::string& devicePath, const std::string& localPath) {
  return ZQ_NETSDK_IPC_GetFileByName(login, 1, devicePath.c_str(), localPath.c_str());
}

std::optional<std::string> ZqBroadcastSdk::AudioCaptureWithVolumes(const std::string& reply, int captureVolume,
                                                                   int playVolume, int keyAnswer) {
  ZQ_AUDIO_CAPTURE_CONFIG record{};
  if (ZQ_NETSDK_IPC_Media_getAudioCaptureByXml(&record, reply.c_str()) != 0) return std::nullopt;
  record.volume = static_cast<std::uint16_t>(captureVolume);
  record.volume_play = static_cast<std::uint16_t>(playVolume);
  record.ra_answer = static_cast<std::uint16_t>(keyAnswer);
  char* text = ZQ_NETSDK_IPC_XMLGET_AudioCaptureConfig(&record);
  if (text == nullptr) return std::nullopt;
  std::string out(text);
  ZQ_NETSDK_IPC_XMLGET_SAFE_FREE(text);
  return out;
}

}  // namespace kelvara::media
