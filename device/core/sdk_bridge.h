#pragma once
// The bridge from the device SDK's threads to the UI thread: the two SDK
// callbacks copy what they are handed into owned records and pass them to a
// sink, which posts them to the main window. Nothing in a record points into
// memory the SDK owns.
#include <cstdint>
#include <string>

namespace kelvara::device {

inline constexpr std::size_t kEventDataSize = 102400;

// Event types whose data is a raw record of fixed size, not a text.
enum StatusEventType : int {
  kStatusEventAlarm = 23,        // DeviceAlarmInfo, 168 bytes
  kStatusEventVideoParam = 24,   // MP4_VIDEO_PARAM, 536 bytes
  kStatusEventAudioParam = 25,   // MP4_AUDIO_PARAM, 276 bytes
  kStatusEventStreamInfo = 30,   // MEDIA_STREAM_INFO, 1360 bytes
};

struct DeviceStatusEvent {
  int loginHandle = 0;
  int eventType = 0;
  // The raw record for the types above (exactly its size), else the SDK's
  // text (at most 102,399 bytes). Readers treat bytes past the end as zero.
  std::string data;
};

struct DeviceAuxResponse {
  int loginHandle = 0;
  int result = 0;   // top 8 bits of the combined code; 0 = accepted
  int command = 0;  // low 24 bits: the command this reply answers
  // The reply text; for 1095 only FileSystemVersion, for 1019 only
  // SerialNumber of its RESPONSE_PARAM (empty when it has none).
  std::string text;
};

// Receives the records on the SDK's thread; posts them to the UI thread.
class SdkEventSink {
 public:
  virtual ~SdkEventSink() = default;
  virtual void PostStatusEvent(DeviceStatusEvent event) = 0;
  virtual void PostAuxResponse(DeviceAuxResponse response) = 0;
};

// Raw payload size of an event type, 0 for text events.
std::size_t RawPayloadSize(int eventType);

DeviceStatusEvent MakeStatusEvent(int loginHandle, int eventType, const char* data);
DeviceAuxResponse MakeAuxResponse(int loginHandle, unsigned int resultAndCommand, const char* reply);

// The SDK callbacks; `user` is the SdkEventSink given at registration.
// Return 0 when a record was posted, -1 when it could not be made.
int StatusEventCallBack(int loginHandle, int eventType, const char* data, void* user);
int AuxResponseCallBack(int loginHandle, unsigned int resultAndCommand, const char* replyText,
                        void* user);

}  // namespace kelvara::device
