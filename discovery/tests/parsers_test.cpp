// The record parsers, the P2P-type derivation, the stream-access text both
// ways and the RESPONSE_PARAM getters.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include "discovery/core/body_builders.h"
#include "discovery/core/discovery_log.h"
#include "discovery/core/discovery_protocol.h"
#include "discovery/core/reply_parsers.h"
#include "discovery/core/search_reply.h"
#include "discovery/tests/reply_fixture.h"

namespace kelvara::discovery {
namespace {

using test::FakeDevice;
using test::ReplyText;

TEST(SearchReply, CompleteReplyFillsTheRecord) {
  FakeDevice d;
  d.p2pId = "abcdefghijabcdefghijabcdefghij12";  // 32 characters, no '@'
  const std::string text = ReplyText(d);
  auto info = ParseSearchReply(text);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->serialNumber, "ZQ0001ABC");
  EXPECT_EQ(info->deviceType, "NVS-IPC-5M_V2");
  EXPECT_EQ(info->platformId, "PF1");
  EXPECT_EQ(info->oemSerial, "OEM-1");
  EXPECT_EQ(info->p2pType, 1);
  EXPECT_EQ(info->uptime_s, 90061);
  EXPECT_EQ(info->p2pStatus, -1);
  EXPECT_EQ(info->titleHex, "e5898de997a8");
  EXPECT_EQ(info->afVersion, "af1.0");
  EXPECT_EQ(info->module4gVersion, "m4g");
  EXPECT_EQ(info->lanConfig.ipAddress, "10.77.1.10");
  EXPECT_EQ(info->lanConfig.allnet, 1);
  EXPECT_EQ(info->lanConfig.netmask, "255.255.0.0");
  EXPECT_EQ(info->streamAccess.ptzPort, 8091);
  EXPECT_EQ(info->streamAccess.webPort, 80);
  EXPECT_EQ(info->streamAccess.rtpOverRtsp, 0);
  EXPECT_EQ(info->streamAccess.enableWeb, 0) << "only five stream fields come from a search reply";
  EXPECT_EQ(info->streamAccess.h5Port, 0);
  EXPECT_EQ(info->userConfig.accountCount, 1);
  EXPECT_EQ(info->userConfig.accounts[0].userName, "admin");
  EXPECT_EQ(info->hasAccounts, 1);
  EXPECT_EQ(info->replyText, text);
}

TEST(SearchReply, DropsAndTheirLogLines) {
  auto with = [](auto change) {
    FakeDevice d;
    change(d);
    return ReplyText(d);
  };
  struct {
    std::string text;
    const char* log;
  } cases[] = {
      {with([](FakeDevice& d) { d.deviceType = "IPC"; }),
       "Found one device not NVS or DVS, type=IPC, sn=ZQ0001ABC\n"},
      {with([](FakeDevice& d) { d.withLan = false; }), "lan config not found.\n"},
      {with([](FakeDevice& d) { d.ip = "10.1.2"; }), "device address is not an IPv4 address"},
      {with([](FakeDevice& d) { d.ip = "host.example"; }), "device address is not an IPv4 address"},
      // Addresses that name no device.
      {with([](FakeDevice& d) { d.ip = "0.0.0.0"; }), "device address 0.0.0.0 is no device's"},
      {with([](FakeDevice& d) { d.ip = "255.255.255.255"; }), "is no device's"},
      {with([](FakeDevice& d) { d.ip = "127.0.0.1"; }), "is no device's"},
      {with([](FakeDevice& d) { d.ip = "127.255.0.9"; }), "is no device's"},
      {with([](FakeDevice& d) { d.ip = "224.0.0.1"; }), "is no device's"},
      {with([](FakeDevice& d) { d.ip = "239.255.255.250"; }), "is no device's"},
      {with([](FakeDevice& d) { d.serial = ""; }), "serial number empty or too long"},
      {with([](FakeDevice& d) { d.serial = std::string(32, 'S'); }), "serial number empty or too long"},
      {"<XML_MARLOWCAM><MESSAGE_HEADER/></XML_MARLOWCAM>", "serial number not found\n"},
      {"<XML_MARLOWCAM><MESSAGE_BODY><DEVICE_TYPE DeviceType=\"NVR\"/>"
       "<LANConfig IPAddress=\"1.2.3.4\"/></MESSAGE_BODY></XML_MARLOWCAM>",
       "serial number empty or too long"},
  };
  std::string log;
  SetLogSink([&](const std::string& l) { log += l; });
  for (const auto& c : cases) {
    log.clear();
    EXPECT_FALSE(ParseSearchReply(c.text)) << c.text;
    EXPECT_NE(log.find(c.log), std::string::npos) << log;
  }
  SetLogSink(nullptr);
  EXPECT_TRUE(ParseSearchReply(with([](FakeDevice& d) { d.serial = std::string(31, 'S'); })));
  for (const char* ip : {"10.0.0.1", "192.168.1.255", "223.255.255.254", "1.0.0.0"})
    EXPECT_TRUE(ParseSearchReply(with([&](FakeDevice& d) { d.ip = ip; }))) << ip;
  for (const char* type : {"NVS", "xxDVSxx", "DEC-1", "NVR"})
    EXPECT_TRUE(ParseSearchReply(with([&](FakeDevice& d) { d.deviceType = type; }))) << type;
  EXPECT_FALSE(ParseSearchReply(with([](FakeDevice& d) { d.deviceType = "nvr"; })));
}

TEST(SearchReply, NoUserConfigGivesEmptyAccounts) {
  FakeDevice d;
  d.withUser = false;
  auto info = ParseSearchReply(ReplyText(d));
  ASSERT_TRUE(info);
  EXPECT_EQ(info->hasAccounts, 0);
  EXPECT_EQ(info->userConfig, UserConfigInfo{});
}

// The search thread hands over the document its header check parsed: the
// record must be the one a parse of the text alone gives, drops included.
TEST(SearchReply, TheHeaderChecksDocumentGivesTheSameRecord) {
  test::FakeDevice noUser, noLan, cut;
  noUser.withUser = false;
  noLan.withLan = false;
  const std::string plain = ReplyText(test::FakeDevice{});
  const std::string texts[] = {plain, ReplyText(noUser), ReplyText(noLan), plain + std::string(1, '\0') + "<x/>",
                               plain.substr(0, plain.size() / 2)};
  for (const std::string& text : texts) {
    ReplyHeader header;
    TiXmlDocument parsed;
    ParseReplyHeader("", text, header, nullptr, &parsed);
    EXPECT_EQ(ParseSearchReply(text, parsed), ParseSearchReply(text)) << text;
  }
}

TEST(SerialNumberReply, SecondDeviceTypeWinsAndMissingAttributesKeepCallerValues) {
  const std::string text =
      "<R><MESSAGE_BODY><IPC_SERIALNUMBER SerialNumber=\"A\" P2PID=\"x@y\"/>"
      "<DEVICE_TYPE DeviceType=\"NVS-1\" OSD=\"61\"/><DEVICE_TYPE DeviceType=\"NVR-2\"/>"
      "</MESSAGE_BODY></R>";
  SerialNumberReply r;
  r.p2pStatus = -1;
  ASSERT_EQ(ParseSerialNumberReply(text, r), 0);
  EXPECT_EQ(r.deviceType, "NVR-2");
  EXPECT_EQ(r.titleHex, "61") << "OSD kept from the first element when the second lacks it";
  EXPECT_EQ(r.p2pStatus, -1);
  EXPECT_EQ(r.p2pType, 10);
  EXPECT_EQ(ParseSerialNumberReply("<R><X/></R>", r), -1);
  EXPECT_EQ(ParseSerialNumberReply("not xml", r), -1);
}

TEST(P2pType, Derivation) {
  struct {
    std::string id;
    int type;
  } cases[] = {
      {"", 0},
      {"dev1." + std::string(kIotCloudDomain), 5},
      {"zqws0123456789abcdef", 9},
      {"zqws0123456789abcdefg", 0},
      {"dev@a1Qs4VbNgKe", 8},
      {"dev@a1Dy7MhWcSa.x", 8},
      {"dev@other", 10},
      {std::string(32, 'k'), 1},
      {std::string(31, 'k'), 0},
      {std::string(31, 'k') + "@", 10},
  };
  for (const auto& c : cases) EXPECT_EQ(DeriveP2pType(c.id), c.type) << c.id;

  // A P2PTYPE that the reply gives is kept whatever the id.
  SerialNumberReply r;
  ParseSerialNumberReply(
      "<R><MESSAGE_BODY><IPC_SERIALNUMBER SerialNumber=\"A\" P2PTYPE=\"4\" P2PID=\"" +
          std::string(32, 'k') + "\"/></MESSAGE_BODY></R>",
      r);
  EXPECT_EQ(r.p2pType, 4);
}

TEST(LanConfigReply, OnlyTheFirstBodyAndNumbersByAtoi) {
  LANConfigInfo lan;
  EXPECT_EQ(ParseLanConfigReply("<R><MESSAGE_BODY/><MESSAGE_BODY><LANConfig IPAddress=\"1.1.1.1\"/>"
                                "</MESSAGE_BODY></R>",
                                lan),
            -1);
  ASSERT_EQ(ParseLanConfigReply("<R><MESSAGE_BODY><LANConfig DHCP=\"x\" ALLNET=\"-3\" "
                                "MacAddress=\"00:11:22:33:44:55:66:77\" IPAddress=\"1.2.3.4\"/>"
                                "<LANConfig IPAddress=\"9.9.9.9\"/></MESSAGE_BODY></R>",
                                lan),
            0);
  EXPECT_EQ(lan.dhcp, 0);
  EXPECT_EQ(lan.allnet, -3);
  EXPECT_EQ(lan.macAddress, "00:11:22:33:44:55");
  EXPECT_EQ(lan.ipAddress, "1.2.3.4");
}

TEST(UserConfigReply, FirstNonEmptyAccountWins) {
  UserConfigInfo u;
  EXPECT_EQ(ParseUserConfigReply("<R><MESSAGE_BODY><UserConfig><Account Username=\"\" Password=\"\"/>"
                                 "</UserConfig></MESSAGE_BODY></R>",
                                 u),
            -1);
  ASSERT_EQ(ParseUserConfigReply("<R><MESSAGE_BODY><UserConfig><Account Username=\"\" Group=\"g\"/>"
                                 "<Account Password=\"pw\"/><Account Username=\"late\"/>"
                                 "</UserConfig></MESSAGE_BODY></R>",
                                 u),
            0);
  EXPECT_EQ(u.accountCount, 1);
  EXPECT_EQ(u.accounts[0].userName, "");
  EXPECT_EQ(u.accounts[0].password, "pw");
  EXPECT_EQ(u.accounts[0].group, "") << "a later account overwrites the whole first account";
}

TEST(MediaStreamConfig, DefaultsWhenTheTextIsIncomplete) {
  StreamAccessInfo s;
  s.videoPort = 1;
  EXPECT_EQ(ParseMediaStreamConfigText("<MediaStreamConfig><StreamAccess VideoPort=\"9\"/>", s), -1);
  EXPECT_EQ(s.videoPort, 554);
  EXPECT_EQ(s.ptzPort, 8091);
  EXPECT_EQ(s.webPort, 80);
  EXPECT_EQ(ParseMediaStreamConfigText("<X><MediaStreamConfig></MediaStreamConfig></X>", s), -1);
}

TEST(MediaStreamConfig, EveryFieldSurvivesBuildAndParse) {
  StreamAccessInfo s;
  s.auth = 0;
  s.videoPort = 1554;
  s.ptzPort = 9000;
  s.webPort = 8080;
  s.httpsCertificate = "cert \"q\" & <x>";
  s.hikPort = 65000;
  s.dhPort = 40000;
  s.dhAuth = -1;
  s.enableKrn = 1;
  s.rtmpServer = "rtmp.local";
  s.rtmpAppName = "live";
  s.rtmpStreamId = "id'1";
  s.rtmpType = 2;
  s.streamNo = 1;
  s.multicast0Enable = 1;
  s.multicast0Port = 5000;
  s.multicast0Ip = 4026531841u;  // 240.0.0.1 as an unsigned decimal
  s.multicast1Port = 5002;
  auto text = BuildMediaStreamConfigXml(s);
  ASSERT_TRUE(text);
  EXPECT_EQ(text->rfind("<MediaStreamConfig>\r\n<StreamAccess Auth=\"0\" VideoPort=\"1554\" "
                        "RTPOverRTSP=\"1\" enable_rtsp=\"1\" \r\nenable_onvif=\"1\" ",
                        0),
            0u)
      << *text;
  EXPECT_NE(text->find("Multicast0_IP=\"4026531841\" "), std::string::npos);
  EXPECT_NE(text->find("Multicast1_IP=\"0\" />\r\n</MediaStreamConfig>\r\n"), std::string::npos);
  StreamAccessInfo back;
  ASSERT_EQ(ParseMediaStreamConfigText(*text, back), 0);
  EXPECT_EQ(back, s);
}

TEST(ResponseParam, Getters) {
  std::string v = "old";
  EXPECT_EQ(GetFileSystemVersion("<RESPONSE_PARAM FileSystemVersion=\"fs1\"/>", v), 0);
  EXPECT_EQ(v, "fs1");
  EXPECT_EQ(GetMcuVersion("<RESPONSE_PARAM McuVersion=\"m\"/>", v), 0);
  EXPECT_EQ(GetModule4gVersion("<RESPONSE_PARAM Module4gVersion=\"4g\"/>", v), 0);
  EXPECT_EQ(v, "4g");
  EXPECT_EQ(GetResponseSerialNumber("<OTHER SerialNumber=\"s\"/>", v), -2);
  EXPECT_EQ(GetResponseSerialNumber("<RESPONSE_PARAM/>", v), -1);
  EXPECT_EQ(GetResponseSerialNumber("", v), -1);
  EXPECT_EQ(GetResponseSerialNumber("<RESPONSE_PARAM SerialNumber=\"" + std::string(300, 's') + "\"/>", v), 0);
  EXPECT_EQ(v.size(), 127u);
}

}  // namespace
}  // namespace kelvara::discovery
