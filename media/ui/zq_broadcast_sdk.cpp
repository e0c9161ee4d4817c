#include "media/ui/zq_broadcast_sdk.h"

#include <VaRurOvoDiv/zq_netsdk_ipc.h>
#include <VaRurOvoDiv/zq_netsdk_records.h>

#include "media/ui/qt_microphone_source.h"

namespace kelvara::media {

ZqBroadcastSdk::ZqBroadcastSdk(std::unique_ptr<AudioCaptureSource> capture)
    : capture_(capture ? std::move(capture) : std::make_unique<QtMicrophoneSource>()) {
  const ZQ_AUDIO_CAPTURE_SOURCE source{&ZqBroadcastSdk::StartSource, &ZqBroadcastSdk::StopSource, this};
  ZQ_NETSDK_IPC_SetAudioCaptureSource(&source);
}

ZqBroadcastSdk::~ZqBroadcastSdk() {
  ZQ_NETSDK_IPC_StopAudioCapture();
  ZQ_NETSDK_IPC_SetAudioCaptureSource(nullptr);
  capture_->Stop();
}

int ZqBroadcastSdk::StartSource(int rate, int bits, int channels, void (*deliver)(const char*, int, void*),
                                void* context, void* user) {
  auto* self = static_cast<ZqBroadcastSdk*>(user);
  return self->capture_->Start(rate, bits, channels, [deliver, context](const std::uint8_t* d, std::size_t n) {
    deliver(reinterpret_cast<const char*>(d), static_cast<int>(n), context);
  });
}

void ZqBroadcastSdk::StopSource(void* user) { static_cast<ZqBroadcastSdk*>(user)->capture_->Stop(); }

int ZqBroadcastSdk::OnCapture(const char* data, int length, void* user) {
  auto* self = static_cast<ZqBroadcastSdk*>(user);
  if (self->callback_) self->callback_(reinterpret_cast<const std::uint8_t*>(data), static_cast<std::size_t>(length));
  return 0;
}

int ZqBroadcastSdk::StartTalk(int transport, int format, int rate, int bits, int channels) {
  return ZQ_NETSDK_IPC_StartTalk(transport, format, rate, bits, channels);
}

int ZqBroadcastSdk::StopTalk() { return ZQ_NETSDK_IPC_StopTalk(); }

int ZqBroadcastSdk::StartAudioCapture(int rate, int bits, int channels, CaptureCallback callback) {
  callback_ = std::move(callback);
  return ZQ_NETSDK_IPC_StartAudioCapture(rate, bits, channels, &ZqBroadcastSdk::OnCapture, this);
}

int ZqBroadcastSdk::StopAudioCapture() { return ZQ_NETSDK_IPC_StopAudioCapture(); }

// The device's first audio channel; the PC speaks.
int ZqBroadcastSdk::StartVoiceCom(int login) { return ZQ_NETSDK_IPC_StartVoiceCom(login, 0, 1, 0, 0); }
int ZqBroadcastSdk::StopVoiceCom(int login) { return ZQ_NETSDK_IPC_StopVoiceCom(login); }
int ZqBroadcastSdk::AddTalk(int login) { return ZQ_NETSDK_IPC_AddTalk(login); }
int ZqBroadcastSdk::RemoveTalk(int login) { return ZQ_NETSDK_IPC_RemoveTalk(login); }

int ZqBroadcastSdk::InputAudioData(int format, const std::uint8_t* data, std::size_t size) {
  if (size > static_cast<std::size_t>(INT32_MAX)) return -1;
  return ZQ_NETSDK_IPC_InputAudioData(format, reinterpret_cast<const char*>(data), static_cast<int>(size));
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
