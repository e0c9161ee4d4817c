// The SDK callback bridge: what each record carries.
#include <gtest/gtest.h>

#include <vector>

#include "device/core/sdk_bridge.h"

namespace kelvara::device {
namespace {

class Sink : public SdkEventSink {
 public:
  void PostStatusEvent(DeviceStatusEvent e) override { events.push_back(std::move(e)); }
  void PostAuxResponse(DeviceAuxResponse r) override { responses.push_back(std::move(r)); }
  std::vector<DeviceStatusEvent> events;
  std::vector<DeviceAuxResponse> responses;
};

TEST(SdkBridge, CombinedCodeSplits) {
  Sink sink;
  EXPECT_EQ(AuxResponseCallBack(3, (1u << 24) | 1136u, "<R/>", &sink), 0);
  EXPECT_EQ(AuxResponseCallBack(3, 1012u, "text", &sink), 0);
  ASSERT_EQ(sink.responses.size(), 2u);
  EXPECT_EQ(sink.responses[0].result, 1);
  EXPECT_EQ(sink.responses[0].command, 1136);
  EXPECT_EQ(sink.responses[0].text, "<R/>");
  EXPECT_EQ(sink.responses[1].result, 0);
  EXPECT_EQ(sink.responses[1].command, 1012);
  EXPECT_EQ(sink.responses[1].loginHandle, 3);
}

TEST(SdkBridge, SerialAndFsVersionRepliesCarryOnlyTheirValue) {
  struct {
    unsigned code;
    const char* reply;
    const char* text;
  } cases[] = {
      {1019, "<RESPONSE_PARAM SerialNumber=\"SN9\" Other=\"x\"/>", "SN9"},
      {1019, "<OTHER SerialNumber=\"SN9\"/>", ""},
      {1019, nullptr, ""},
      {1095, "<RESPONSE_PARAM FileSystemVersion=\"fs-2\"/>", "fs-2"},
      {1095, "<RESPONSE_PARAM/>", ""},
      {1020, "<RESPONSE_PARAM FileSystemVersion=\"fs-2\"/>", "<RESPONSE_PARAM FileSystemVersion=\"fs-2\"/>"},
  };
  for (auto c : cases) EXPECT_EQ(MakeAuxResponse(1, c.code, c.reply).text, c.text) << c.code;
}

TEST(SdkBridge, RawPayloadsAndTexts) {
  std::vector<char> alarm(2000, '\x7f');
  const auto e = MakeStatusEvent(2, kStatusEventAlarm, alarm.data());
  EXPECT_EQ(e.data.size(), 168u);
  EXPECT_EQ(e.data, std::string(168, '\x7f'));
  EXPECT_EQ(MakeStatusEvent(2, kStatusEventVideoParam, alarm.data()).data.size(), 536u);
  EXPECT_EQ(MakeStatusEvent(2, kStatusEventAudioParam, nullptr).data, std::string(276, '\0'));
  std::vector<char> stream(1400, 'm');
  EXPECT_EQ(MakeStatusEvent(2, kStatusEventStreamInfo, stream.data()).data.size(), 1360u);
  EXPECT_EQ(MakeStatusEvent(2, 4, "login ok").data, "login ok");
  // A text that does not fit is cut, never overrun.
  std::string huge(kEventDataSize + 50, 'h');
  EXPECT_EQ(MakeStatusEvent(2, 4, huge.c_str()).data.size(), kEventDataSize - 1);
  Sink sink;
  EXPECT_EQ(StatusEventCallBack(9, 4, "x", &sink), 0);
  ASSERT_EQ(sink.events.size(), 1u);
  EXPECT_EQ(sink.events[0].loginHandle, 9);
  EXPECT_EQ(sink.events[0].eventType, 4);
}

}  // namespace
}  // namespace kelvara::device
