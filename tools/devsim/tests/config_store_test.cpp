// The simulated device's configuration store and its per-code fault switches.
#include <gtest/gtest.h>

#include <cstring>

#include "config_store.h"
#include "device.h"
#include "dialog_rules.h"
#include "wire_frame.h"

namespace kelvara::devsim {
namespace {

Device MakeDevice() {
  DeviceConfig c;
  c.ip = "10.77.1.1";
  CompleteDevice(c, 0);
  return Device(0, c);
}

TEST(DevsimStore, SetsReplaceTheBlockOfTheirGet) {
  Device d = MakeDevice();
  for (uint32_t code : {503u, 504u, 505u, 507u, 508u, 600u, 800u, 202u, 203u, 207u, 208u, 210u, 315u, 650u}) {
    EXPECT_EQ(d.GetConfig(code).result, 0) << code;
  }
  EXPECT_NE(d.GetConfig(504).text.find("RecordBytes="), std::string::npos);
  EXPECT_EQ(d.SetConfig(524, "<Video><Capture TVSystem=\"0\"/></Video>").result, 0);
  EXPECT_EQ(d.GetConfig(504).text, "<Video><Capture TVSystem=\"0\"/></Video>");
  EXPECT_EQ(d.SetConfig(670, "<PlatformConfig/>").result, 0);
  EXPECT_EQ(d.GetConfig(650).text, "<PlatformConfig/>");
  EXPECT_EQ(d.SetConfig(829, "<PDAlarm Enable=\"0\"/>").result, 0);
  const std::string alarms = d.GetConfig(800).text;
  EXPECT_NE(alarms.find("<PDAlarm Enable=\"0\" />"), std::string::npos);
  EXPECT_NE(alarms.find("<MDAlarm"), std::string::npos);
  EXPECT_EQ(d.SetConfig(524, "<Video><Capture").result, 3);
  // The LAN block keeps what it carries beyond the network settings.
  EXPECT_NE(d.GetConfig(305).text.find("LinkSpeed=\"100M-full\""), std::string::npos);
  EXPECT_EQ(d.SetConfig(325, "<LANConfig IPAddress=\"10.77.1.1\" ALLNET=\"1\" Vlan=\"7\"/>").result, 0);
  EXPECT_NE(d.GetConfig(305).text.find("ALLNET=\"1\""), std::string::npos);
  EXPECT_NE(d.GetConfig(305).text.find("Vlan=\"7\""), std::string::npos);
  // System controls that change state keep their request.
  d.SystemControl(1046, "<REQUEST_PARAM Mode=\"NightMode\" />\n");
  EXPECT_EQ(d.GetConfig(1046).text, "<REQUEST_PARAM Mode=\"NightMode\" />\n");
  d.SystemControl(1002, "");
  EXPECT_EQ(d.GetConfig(1046).text, "<REQUEST_PARAM Mode=\"Auto\" />");
}

TEST(DevsimStore, OverlaySetIsKeptDecoded) {
  Device d = MakeDevice();
  // The layout padding and upper-case hex of a sent overlay are not kept;
  // what the set does not name (Shadow, the time format) stays.
  const std::string set =
      "<Overlay\tEnable=\"0\" Week=\"1\">   <TimeOverlay PosX=\"2\"\tPosY=\"3\"/>"
      "   <TitleOverlay PosX=\"1\" PosY=\"1\"\tTitleUtf8=\"43616D31E5898D\"/> </Overlay>";
  ASSERT_EQ(d.SetConfig(525, set).result, 0);
  EXPECT_EQ(d.GetConfig(505).text,
            "<Overlay Enable=\"0\" Transparency=\"0\" Style=\"0\" Fontsize=\"0\" Week=\"1\" Shadow=\"1\">"
            "<TimeOverlay PosX=\"2\" PosY=\"3\" Format=\"yyyy-mm-dd hh:mm:ss\" />"
            "<TitleOverlay PosX=\"1\" PosY=\"1\" TitleUtf8=\"43616d31e5898d\" /></Overlay>");
  EXPECT_EQ(OverlayTitle(d.GetConfig(505).text), "Cam1\xe5\x89\x8d");
  // A title that is no hex of whole bytes, or another root, is refused and changes nothing.
  const std::string kept = d.GetConfig(505).text;
  for (const char* bad : {"<Overlay><TitleOverlay TitleUtf8=\"436\"/></Overlay>",
                          "<Overlay><TitleOverlay TitleUtf8=\"4x\"/></Overlay>", "<Capture Volume=\"1\"/>"}) {
    EXPECT_EQ(d.SetConfig(525, bad).result, 3) << bad;
    EXPECT_EQ(d.GetConfig(505).text, kept) << bad;
  }
}

TEST(DevsimStore, CodeFaults) {
  Device d = MakeDevice();
  EXPECT_EQ(d.SetCodeFault(504, "result 3"), "");
  EXPECT_EQ(d.code_fault(504).kind, CodeFault::Kind::kResult);
  EXPECT_EQ(d.code_fault(504).result, 3);
  EXPECT_EQ(d.SetCodeFault(504, "alarm 14 zone"), "");
  EXPECT_EQ(d.code_fault(504).alarm_record.size(), 168u);
  EXPECT_EQ(d.code_fault(504).kind, CodeFault::Kind::kResult) << "an alarm adds to the answer switch";
  EXPECT_EQ(d.SetCodeFault(504, "clear"), "");
  EXPECT_EQ(d.code_fault(504).kind, CodeFault::Kind::kNone);
  EXPECT_TRUE(d.code_fault(504).alarm_record.empty());
  EXPECT_EQ(d.SetCodeFault(600, "drop"), "");
  EXPECT_EQ(d.code_fault(600).kind, CodeFault::Kind::kDrop);
  EXPECT_EQ(d.code_fault(601).kind, CodeFault::Kind::kNone);
  EXPECT_NE(d.SetCodeFault(600, "result 0"), "");
  EXPECT_NE(d.SetCodeFault(600, "alarm_hex 0g"), "");
  EXPECT_NE(d.SetCodeFault(600, "explode"), "");
  EXPECT_EQ(d.SetCodeFault(600, "alarm_hex 0102"), "");
  EXPECT_EQ(d.code_fault(600).alarm_record.substr(0, 3), std::string("\x01\x02\x00", 3));
  const std::string cut = MalformedBlock("<Video><Capture TVSystem=\"1\" IrcutMode=\"2\"/></Video>");
  EXPECT_EQ(cut.find("</Video>"), std::string::npos);
}

}  // namespace
}  // namespace kelvara::devsim

namespace kelvara::devsim {
namespace {

// The files a device makes on request: stored at once under their pattern,
// announced by an alarm naming them once the delay has passed.
TEST(DevsimMadeFiles, RequestsMakeFilesAndAnnounceThem) {
  Device d = MakeDevice();
  const std::string serial = d.serial();
  ASSERT_EQ(d.SetMadeFileSetting("delay 0"), "");
  const uint64_t before = d.last_event();
  struct {
    uint32_t code;
    int alarm;
    std::string path;
    const std::string& content;
  } cases[] = {{1043, 23, "/mnt/sd/snap/" + serial + "_1.jpg", SamplePicture()},
               {1058, 47, "/mnt/sd/record/" + serial + "_2.mp4", SampleVideo()},
               {1061, 47, "/mnt/sd/record/" + serial + "_3.mp4", SampleVideo()}};
  for (const auto& c : cases) EXPECT_EQ(d.SystemControl(c.code, "<REQUEST_PARAM />").result, 0);
  d.ReleaseDueEvents();
  const auto events = d.EventsSince(before);
  ASSERT_EQ(events.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(cases[i].code);
    std::string content;
    ASSERT_TRUE(d.ReadDeviceFile(static_cast<uint32_t>(varurovodiv::wire::TransferKind::kFileByName), cases[i].path,
                                 content));
    EXPECT_EQ(content, cases[i].content);
    const std::string& record = std::get<2>(events[i]);
    EXPECT_EQ(std::get<1>(events[i]), 23u);
    ASSERT_EQ(record.size(), 168u);
    int32_t alarm = 0;
    std::memcpy(&alarm, &record[28], 4);
    EXPECT_EQ(alarm, cases[i].alarm);
    EXPECT_EQ(std::string(record.c_str() + 40), cases[i].path);
  }
  // A hostile name is kept as given; a long delay holds the alarm back.
  ASSERT_EQ(d.SetMadeFileSetting("picture ../../x.jpg"), "");
  ASSERT_EQ(d.SetMadeFileSetting("delay 600000"), "");
  d.SystemControl(1043, "");
  d.ReleaseDueEvents();
  EXPECT_EQ(d.EventsSince(before).size(), 3u);
  std::string content;
  EXPECT_TRUE(d.ReadDeviceFile(static_cast<uint32_t>(varurovodiv::wire::TransferKind::kFileByName), "../../x.jpg",
                               content));
  for (const char* bad : {"delay -1", "delay soon", "picture", "sound x.wav", ""})
    EXPECT_NE(d.SetMadeFileSetting(bad), "") << bad;
}

}  // namespace
}  // namespace kelvara::devsim
