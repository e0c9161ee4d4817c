#include "device/core/sdk_bridge.h"

#include <cstring>
#include <new>

#include "discovery/core/reply_parsers.h"

namespace kelvara::device {
namespace {

constexpr int kCmdGetSerialNumber = 1019;
constexpr int kCmdGetFsVersion = 1095;

std::string BoundedText(const char* text) {
  if (!text) return {};
  return std::string(text, strnlen(text, kEventDataSize - 1));
}

}  // namespace

std::size_t RawPayloadSize(int eventType) {
  switch (eventType) {
    case kStatusEventAlarm: return 168;
    case kStatusEventVideoParam: return 536;
    case kStatusEventAudioParam: return 276;
    case kStatusEventStreamInfo: return 1360;
    default: return 0;
  }
}

DeviceStatusEvent MakeStatusEvent(int loginHandle, int eventType, const char* data) {
  DeviceStatusEvent e;
  e.loginHandle = loginHandle;
  e.eventType = eventType;
  if (const std::size_t raw = RawPayloadSize(eventType)) {
    e.data.assign(raw, '\0');
    if (data) std::memcpy(e.data.data(), data, raw);
  } else {
    e.data = BoundedText(data);
  }
  return e;
}

DeviceAuxResponse MakeAuxResponse(int loginHandle, unsigned int code, const char* reply) {
  DeviceAuxResponse r;
  r.loginHandle = loginHandle;
  r.command = static_cast<int>(code & 0xFFFFFFu);
  r.result = static_cast<int>((code >> 24) & 0xFFu);
  const std::string text = BoundedText(reply);
  if (r.command == kCmdGetFsVersion) {
    if (discovery::GetFileSystemVersion(text, r.text) != 0) r.text.clear();
  } else if (r.command == kCmdGetSerialNumber) {
    if (discovery::GetResponseSerialNumber(text, r.text) != 0) r.text.clear();
  } else {
    r.text = text;
  }
  return r;
}

int StatusEventCallBack(int loginHandle, int eventType, const char* data, void* user) {
  auto* sink = static_cast<SdkEventSink*>(user);
  try {
    DeviceStatusEvent e = MakeStatusEvent(loginHandle, eventType, data);
    if (sink) sink->PostStatusEvent(std::move(e));
  } catch (const std::bad_alloc&) {
    return -1;
  }
  return 0;
}

int AuxResponseCallBack(int loginHandle, unsigned int code, const char* replyText, void* user) {
  auto* sink = static_cast<SdkEventSink*>(user);
  try {
    DeviceAuxResponse r = MakeAuxResponse(loginHandle, code, replyText);
    if (sink) sink->PostAuxResponse(std::move(r));
  } catch (const std::bad_alloc&) {
    return -1;
  }
  return 0;
}

}  // namespace kelvara::device
