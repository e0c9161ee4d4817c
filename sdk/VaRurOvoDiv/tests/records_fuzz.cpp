// Fuzz target: the record readers fed arbitrary block texts, and the builders
// run on whatever the readers left in the records.
#include <cstddef>
#include <cstdint>
#include <string>

#include "VaRurOvoDiv/zq_netsdk_ipc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ZQ_VIDEO_CAPTURE_CONFIG video{};
  ZQ_LAN_CONFIG lan{};
  ZQ_VIDEO_OVERLAY_CONFIG overlay{};
  ZQ_AUDIO_CAPTURE_CONFIG audio{};
  static ZQ_ALARM_CONFIG alarm;
  alarm = ZQ_ALARM_CONFIG{};
  ZQ_NETSDK_IPC_Media_getVideoCaptureByXml(&video, text.c_str());
  ZQ_NETSDK_IPC_Network_getLANCfgByXml(&lan, text.c_str());
  ZQ_NETSDK_IPC_Media_getVideoOverlayByXml(&overlay, text.c_str());
  ZQ_NETSDK_IPC_GetAlarmConfigByXml(&alarm, text.c_str());
  ZQ_NETSDK_IPC_Media_getAudioCaptureByXml(&audio, text.c_str());
  ZQ_NETSDK_IPC_XMLGET_SAFE_FREE(ZQ_NETSDK_IPC_XMLGET_AudioCaptureConfig(&audio));
  ZQ_NETSDK_IPC_XMLGET_SAFE_FREE(ZQ_NETSDK_IPC_XMLGET_VideoCaptureConfig(&video));
  ZQ_NETSDK_IPC_XMLGET_SAFE_FREE(ZQ_NETSDK_IPC_XMLGET_NetworkLANConfig(&lan));
  ZQ_NETSDK_IPC_XMLGET_SAFE_FREE(ZQ_NETSDK_IPC_XMLGET_PDAlarmConfig(&alarm));
  ZQ_NETSDK_IPC_XMLGET_SAFE_FREE(ZQ_NETSDK_IPC_XMLGET_MDAlarmConfig(&alarm));
  ZQ_NETSDK_IPC_XMLGET_SAFE_FREE(ZQ_NETSDK_IPC_XMLGET_AudioAlarmConfig(&alarm));
  return 0;
}
