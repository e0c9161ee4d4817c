// Record helpers: blocks read into records and built back, with the byte
// offsets callers poke at, against the simulator's own default blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "VaRurOvoDiv/zq_netsdk_ipc.h"
#include "device.h"

namespace {

using Text = std::unique_ptr<char, decltype(&ZQ_NETSDK_IPC_XMLGET_SAFE_FREE)>;
Text Own(char* p) { return Text(p, &ZQ_NETSDK_IPC_XMLGET_SAFE_FREE); }

kelvara::devsim::Device MakeDevice() {
  kelvara::devsim::DeviceConfig c;
  c.ip = "10.77.1.5";
  kelvara::devsim::CompleteDevice(c, 4);
  return kelvara::devsim::Device(0, c);
}

template <class T>
T At(const void* record, size_t offset) {
  T v;
  std::memcpy(&v, static_cast<const char*>(record) + offset, sizeof v);
  return v;
}

TEST(Records, VideoCaptureRoundTripKeepsEveryMember) {
  auto dev = MakeDevice();
  ZQ_VIDEO_CAPTURE_CONFIG r{};
  ASSERT_EQ(ZQ_NETSDK_IPC_Media_getVideoCaptureByXml(&r, dev.GetConfig(504).text.c_str()), 0);
  // The offsets callers use.
  EXPECT_EQ(At<uint8_t>(&r, 16), 1);           // TV system
  EXPECT_EQ(At<int32_t>(&r, 108), 2);          // IR-cut mode
  EXPECT_EQ(At<uint8_t>(&r, 115), 10);         // LED brightness
  EXPECT_EQ(At<uint8_t>(&r, 117), 18);         // night start hour
  EXPECT_EQ(At<uint8_t>(&r, 120), 7);          // night end hour
  EXPECT_EQ(At<uint32_t>(&r, 36), 0x808080u);  // white balance
  EXPECT_EQ(r.gain, -1);

  // Change one member by its offset, build, let the device store it, read again.
  ZQ_VIDEO_CAPTURE_CONFIG changed = r;
  reinterpret_cast<unsigned char*>(&changed)[16] = 0;
  changed.ircut_mode = 3;
  changed.night_start[0] = 19;
  Text xml = Own(ZQ_NETSDK_IPC_XMLGET_VideoCaptureConfig(&changed));
  ASSERT_TRUE(xml);
  ASSERT_EQ(dev.SetConfig(524, xml.get()).result, 0);
  ZQ_VIDEO_CAPTURE_CONFIG back{};
  ASSERT_EQ(ZQ_NETSDK_IPC_Media_getVideoCaptureByXml(&back, dev.GetConfig(504).text.c_str()), 0);
  EXPECT_EQ(std::memcmp(&back, &changed, sizeof back), 0);
  EXPECT_NE(std::string(xml.get()).find("IrcutNightStartTime=\"19:00:00\""), std::string::npos);
}

TEST(Records, BadTextsAndValuesChangeNothing) {
  ZQ_VIDEO_CAPTURE_CONFIG r{};
  r.brightness = 77;
  struct Case { const char* xml; int result; };
  const Case cases[] = {
      {"", -2}, {"<Video><Capture", -2}, {"<Audio><Capture Brightness=\"1\" /></Audio>", -2},
      {"<Video><Capture Brightness=\"12a\" TVSystem=\"300\" /></Video>", 0},
      {"<Video><Capture Brightness=\"99999999999\" IrcutNightStartTime=\"25:00:00\" /></Video>", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ZQ_NETSDK_IPC_Media_getVideoCaptureByXml(&r, c.xml), c.result) << c.xml;
    EXPECT_EQ(r.brightness, 77) << c.xml;
    EXPECT_EQ(r.tv_system, 0) << c.xml;
    EXPECT_EQ(r.night_start[0], 0) << c.xml;
  }
  EXPECT_EQ(ZQ_NETSDK_IPC_Media_getVideoCaptureByXml(nullptr, "<Video/>"), -1);
  EXPECT_EQ(ZQ_NETSDK_IPC_XMLGET_VideoCaptureConfig(nullptr), nullptr);
  ZQ_NETSDK_IPC_XMLGET_SAFE_FREE(nullptr);
}

TEST(Records, LanConfigAllnetAtOffset20AndTextsCutToTheirFields) {
  auto dev = MakeDevice();
  ZQ_LAN_CONFIG r{};
  ASSERT_EQ(ZQ_NETSDK_IPC_Network_getLANCfgByXml(&r, dev.GetConfig(305).text.c_str()), 0);
  EXPECT_STREQ(r.ip_address, "10.77.1.5");
  EXPECT_EQ(At<int16_t>(&r, 20), 0);
  int16_t one = 1;
  std::memcpy(reinterpret_cast<char*>(&r) + 20, &one, 2);
  Text xml = Own(ZQ_NETSDK_IPC_XMLGET_NetworkLANConfig(&r));
  ASSERT_EQ(dev.SetConfig(325, xml.get()).result, 0);
  EXPECT_NE(dev.GetConfig(305).text.find("ALLNET=\"1\""), std::string::npos);
  EXPECT_EQ(dev.ip(), "10.77.1.5");  // the address stayed

  const std::string long_mac(40, 'm');
  ASSERT_EQ(ZQ_NETSDK_IPC_Network_getLANCfgByXml(
                &r, ("<LANConfig MacAddress=\"" + long_mac + "\" />").c_str()),
            0);
  EXPECT_EQ(std::string(r.mac_address), long_mac.substr(0, 17));
  EXPECT_EQ(r.dhcp, 0);  // the next member is untouched
}

TEST(Records, OverlayTitleAtOffset60) {
  ZQ_VIDEO_OVERLAY_CONFIG r{};
  const char* xml =
      "<Overlay\tEnable=\"1\" Transparency=\"0\" Style=\"2\" Fontsize=\"3\" Week=\"1\">"
      "<TimeOverlay PosX=\"1\" PosY=\"2\" Format=\"YYYY-MM-DD\" />"
      "<TitleOverlay PosX=\"3\" PosY=\"90\" TitleUtf8=\"Tor &amp; \xe5\x89\x8d\xe9\x97\xa8\" />"
      "</Overlay>";
  ASSERT_EQ(ZQ_NETSDK_IPC_Media_getVideoOverlayByXml(&r, xml), 0);
  EXPECT_STREQ(reinterpret_cast<const char*>(&r) + 60, "Tor & \xe5\x89\x8d\xe9\x97\xa8");
  EXPECT_EQ(r.title_pos_y, 90);
  EXPECT_STREQ(r.time_format, "YYYY-MM-DD");
  EXPECT_EQ(ZQ_NETSDK_IPC_Media_getVideoOverlayByXml(&r, "<Other />"), -2);
}

TEST(Records, AudioCaptureVolumesAtTheirOffsets) {
  auto dev = MakeDevice();
  ZQ_AUDIO_CAPTURE_CONFIG r{};
  ASSERT_EQ(ZQ_NETSDK_IPC_Media_getAudioCaptureByXml(&r, dev.GetConfig(507).text.c_str()), 0);
  EXPECT_EQ(At<uint16_t>(&r, 12), 50);
  EXPECT_EQ(At<uint16_t>(&r, 14), 100);
  const uint16_t volume = 70, play = 20, answer = 1;
  std::memcpy(reinterpret_cast<char*>(&r) + 12, &volume, 2);
  std::memcpy(reinterpret_cast<char*>(&r) + 14, &play, 2);
  std::memcpy(reinterpret_cast<char*>(&r) + 20, &answer, 2);
  Text xml = Own(ZQ_NETSDK_IPC_XMLGET_AudioCaptureConfig(&r));
  EXPECT_STREQ(xml.get(), "<Capture Volume=\"70\" VolumePlay=\"20\" amplify=\"0\" ra_answer=\"1\" />");
  ASSERT_EQ(dev.SetConfig(527, xml.get()).result, 0);
  ZQ_AUDIO_CAPTURE_CONFIG back{};
  ASSERT_EQ(ZQ_NETSDK_IPC_Media_getAudioCaptureByXml(&back, dev.GetConfig(507).text.c_str()), 0);
  EXPECT_EQ(std::memcmp(&back, &r, sizeof r), 0);
}

TEST(Records, AlarmPartsMergeAndGoBackToTheDevice) {
  auto dev = MakeDevice();
  ZQ_ALARM_CONFIG r{};
  ASSERT_EQ(ZQ_NETSDK_IPC_GetAlarmConfigByXml(&r, dev.GetConfig(800).text.c_str()), 0);
  EXPECT_EQ(At<int32_t>(&r, 8), 17);   // target flags
  EXPECT_EQ(At<uint8_t>(&r, 29), 1);   // draw box
  EXPECT_EQ(At<int32_t>(&r, 488), 4);  // region points
  EXPECT_EQ(At<int32_t>(&r, 408 + 8), 90);
  // The merge the reply handler does, by offset.
  auto put = [&r](size_t at, int32_t v) { std::memcpy(reinterpret_cast<char*>(&r) + at, &v, 4); };
  put(8, 16);
  put(336, 3);
  put(408, 0); put(412, 0); put(416, 100); put(420, 0);
  put(424, 100); put(428, 100); put(432, 0); put(436, 100);
  put(4072, 1);
  put(4072 + 896, 2);
  put(1940, 1);
  put(1948, 1);
  for (auto [code, builder] : {std::pair{829, &ZQ_NETSDK_IPC_XMLGET_PDAlarmConfig},
                               std::pair{822, &ZQ_NETSDK_IPC_XMLGET_MDAlarmConfig},
                               std::pair{827, &ZQ_NETSDK_IPC_XMLGET_AudioAlarmConfig}}) {
    Text xml = Own(builder(&r));
    ASSERT_TRUE(xml);
    ASSERT_EQ(dev.SetConfig(static_cast<uint32_t>(code), xml.get()).result, 0) << code;
  }
  ZQ_ALARM_CONFIG back{};
  ASSERT_EQ(ZQ_NETSDK_IPC_GetAlarmConfigByXml(&back, dev.GetConfig(800).text.c_str()), 0);
  EXPECT_EQ(back.pd.target_flags, 16);
  EXPECT_EQ(back.pd.push_schedule, 3);
  EXPECT_EQ(back.pd.region[1][0], 100);
  EXPECT_EQ(back.pd.region_count, 4);
  EXPECT_EQ(back.md.enable, 1);
  EXPECT_EQ(back.md.push_schedule, 2);
  EXPECT_EQ(back.audio.alarm_enable, 1);
  EXPECT_EQ(ZQ_NETSDK_IPC_GetAlarmConfigByXml(&back, "<AlarmConfig />"), -2);
}

}  // namespace
