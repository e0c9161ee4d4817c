// The bytes on the wire: every request form, the bodies, the header check.
#include <gtest/gtest.h>

#include "discovery/core/body_builders.h"
#include "discovery/core/discovery_log.h"
#include "discovery/core/discovery_protocol.h"
#include "discovery/core/xml_escape.h"
#include "discovery/tests/reply_fixture.h"

namespace kelvara::discovery {
namespace {

const std::string kHead =
    "<?xml version=\"1.0\" encoding=\"GB2312\" ?>\n<XML_MARLOWCAM>\n";

TEST(DiscoveryMessage, SearchRequestIsTheSixLineForm) {
  EXPECT_EQ(BuildDiscoveryMessage(kMsgSearch, std::nullopt, 0),
            kHead +
                "<MESSAGE_HEADER Msg_type=\"SYSTEM_SEARCHIPC_MESSAGE\" Msg_code=\"1\" "
                "Msg_flag=\"0\" SOURCE=\"ZQTOOLS\" />\n"
                "<MESSAGE_BODY>\n</MESSAGE_BODY>\n</XML_MARLOWCAM>");
}

TEST(DiscoveryMessage, CommandsAreTheEightLineForm) {
  struct Case {
    int code, flag;
    std::optional<std::string> body;
    std::string expectedBody;
  } cases[] = {
      {kMsgReboot, 0, BuildSerialAuthXml("SN1", 0, std::nullopt),
       "<IPC_SERIALNUMBER SerialNumber=\"SN1\" />\r\n"},
      {kMsgRestore, 0, BuildSerialAuthXml("SN\"2", 1, OperatorAuth{"admin", "p&w"}),
       "<IPC_SERIALNUMBER SerialNumber=\"SN&quot;2\" />\r\n<retain value=\"network\" />\r\n"
       "<OPERATOR_AUTH Username=\"admin\" Password=\"p&amp;w\" />\r\n"},
      {kMsgRestoreByUuid, 0, BuildSerialAuthXml("uuid-9", 0, OperatorAuth{"", ""}),
       "<IPC_SERIALNUMBER SerialNumber=\"uuid-9\" />\r\n<OPERATOR_AUTH Username=\"\" Password=\"\" />\r\n"},
      {kMsgFactoryMode, -2, BuildSerialAuthXml("SN3", 0, std::nullopt),
       "<IPC_SERIALNUMBER SerialNumber=\"SN3\" />\r\n"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(c.body);
    EXPECT_EQ(*c.body, c.expectedBody);
    EXPECT_EQ(BuildDiscoveryMessage(c.code, *c.body, c.flag),
              kHead + "<MESSAGE_HEADER Msg_type=\"SYSTEM_SEARCHIPC_MESSAGE\" Msg_code=\"" +
                  std::to_string(c.code) + "\" Msg_flag=\"" + std::to_string(c.flag) +
                  "\" SOURCE=\"ZQTOOLS\" />\n/>\n<MESSAGE_BODY>\n" + c.expectedBody +
                  "\n</MESSAGE_BODY>\n</XML_MARLOWCAM>");
  }
}

TEST(DiscoveryBodies, NetworkSettings) {
  LANConfigInfo lan;
  lan.macAddress = "00:11:22:33:44:55";
  lan.dhcp = 1;
  lan.allnet = 7;  // never sent
  lan.ipAddress = "10.0.0.9";
  lan.netmask = "255.255.255.0";
  lan.gateway = "10.0.0.1";
  lan.dns1 = "1.1.1.1";
  lan.dns2 = "<x>";
  EXPECT_EQ(*BuildLanConfigXml("SN1", lan, OperatorAuth{"u", "p"}),
            "<IPC_SERIALNUMBER\r\nSerialNumber=\"SN1\"\r\n/>\r\n"
            "<OPERATOR_AUTH Username=\"u\" Password=\"p\" />\r\n"
            "<LANConfig\r\nMacAddress=\"00:11:22:33:44:55\"\r\nDHCP=\"1\"\r\nIPAddress=\"10.0.0.9\"\r\n"
            "Netmask=\"255.255.255.0\"\r\nGateway=\"10.0.0.1\"\r\nDNS1=\"1.1.1.1\"\r\n"
            "DNS2=\"&lt;x&gt;\"\r\n/>\r\n");
}

TEST(DiscoveryBodies, Intercom) {
  IntercomConfig ic{"T", "101", "100", "door", "10.0.0.2", "n", "mc"};
  EXPECT_EQ(*BuildIntercomXml("SN1", ic),
            "<IPC_SERIALNUMBER SerialNumber=\"SN1\" />\r\n<FH_CONFIG>\n<SYSTEM DEVICETYPE=\"T\" "
            "EXTNUMBER=\"101\" MAINNUMBER=\"100\" EXTNAME=\"door\" ADDRESSBOXIP=\"10.0.0.2\" "
            "NOTES=\"n\" MANAGECENTER=\"mc\" />\n</FH_CONFIG>");
}

TEST(DiscoveryBodies, TooLongBodyIsRefused) {
  EXPECT_FALSE(BuildSerialAuthXml(std::string(1100, 'x'), 0, std::nullopt));
  EXPECT_TRUE(BuildSerialAuthXml(std::string(900, 'x'), 0, std::nullopt));
}

TEST(XmlEscapeTable, FiveCharactersBecomeEntities) {
  struct {
    const char* in;
    const char* out;
  } cases[] = {{"a\"b<c", "a&quot;b&lt;c"},
               {"&'>", "&amp;&apos;&gt;"},
               {"plain", "plain"},
               {"\xC4\xE3\xBA\xC3", "\xC4\xE3\xBA\xC3"},
               {"", ""}};
  for (auto c : cases) EXPECT_EQ(XmlEscape(c.in), c.out) << c.in;
  EXPECT_EQ(XmlEscape(static_cast<const char*>(nullptr)), "");
}

class ReplyHeaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLogSink([this](const std::string& l) { log += l; });
  }
  void TearDown() override { SetLogSink(nullptr); }
  std::string log;
};

TEST_F(ReplyHeaderTest, Table) {
  test::FakeDevice solven;
  solven.root = "XML_SOLVEN";
  test::FakeDevice other;
  other.root = "XML_OTHER";
  const std::string marlow = ReplyText(test::FakeDevice{});
  const std::string noHeader =
      "<XML_MARLOWCAM><MESSAGE_BODY/></XML_MARLOWCAM>";
  const std::string noFlag =
      "<XML_MARLOWCAM><MESSAGE_HEADER Msg_type=\"T\" Msg_code=\"3\" /></XML_MARLOWCAM>";
  const std::string noCode =
      "<XML_MARLOWCAM><MESSAGE_HEADER Msg_type=\"T\" Msg_code=\"\" Msg_flag=\"0\" /></XML_MARLOWCAM>";
  const std::string inComment =
      "<OTHER><!-- <XML_MARLOWCAM> </XML_MARLOWCAM> --><MESSAGE_HEADER Msg_type=\"T\" "
      "Msg_code=\"3\" Msg_flag=\"0\"/></OTHER>";
  // Nesting deeper than the XML guard lets TinyXML recurse, within one datagram.
  std::string deep = "<XML_MARLOWCAM><MESSAGE_HEADER Msg_type=\"T\" Msg_code=\"3\" Msg_flag=\"0\"/>";
  for (int i = 0; i < 1'500; ++i) deep += "<a>";
  deep += "</XML_MARLOWCAM>";
  const std::string withAttribute =
      "<XML_MARLOWCAM a=\"1\"><MESSAGE_HEADER Msg_type=\"T\" Msg_code=\"3\" Msg_flag=\"0\"/></XML_MARLOWCAM>";
  struct {
    const char* roots;
    std::string text;
    int expected;
  } cases[] = {
      {"", marlow, kHeaderOk},
      {"", ReplyText(solven), kHeaderOk},
      {"", ReplyText(other), kHeaderNoRoot},
      {"XML_A,XML_OTHER", ReplyText(other), kHeaderOk},
      {"XML_A,XML_OTHER", marlow, kHeaderNoRoot},
      {"XML_MARLOWCAM", marlow, kHeaderOk},
      {",,XML_MARLOWCAM,", marlow, kHeaderOk},
      {"", noHeader, kHeaderNoType},
      {"", noCode, kHeaderNoCode},
      {"", noFlag, kHeaderNoFlag},
      {"", inComment, kHeaderNoRoot},
      {"", withAttribute, kHeaderNoRoot},
      {"", "", kHeaderNoRoot},
      {"", std::string("<XML_MARLOWCAM>\0</XML_MARLOWCAM>", 31), kHeaderNoRoot},
      {"", deep, kHeaderRefused},
  };
  for (const auto& c : cases) {
    ReplyHeader h{"x", "y", "z"};
    EXPECT_EQ(ParseReplyHeader(c.roots, c.text, h), c.expected) << c.roots << "\n" << c.text;
    if (c.expected == kHeaderOk) {
      EXPECT_EQ(h.msgCode, "3");
    }
  }
  ReplyHeader h;
  std::string refusal;
  EXPECT_EQ(ParseReplyHeader("", deep, h, &refusal), kHeaderRefused);
  EXPECT_EQ(refusal, "the XML nests deeper than 128 elements");
  log.clear();
  ParseReplyHeader("", ReplyText(other), h);
  EXPECT_EQ(log.rfind("Invalid message, XML root not found:\n", 0), 0u) << log;
  EXPECT_TRUE(h.msgType.empty() && h.msgCode.empty() && h.msgFlag.empty());
}

TEST(ReplyHeader, LongValuesAreCut) {
  const std::string text = "<XML_MARLOWCAM><MESSAGE_HEADER Msg_type=\"" + std::string(400, 't') +
                           "\" Msg_code=\"3\" Msg_flag=\"0\"/></XML_MARLOWCAM>";
  ReplyHeader h;
  EXPECT_EQ(ParseReplyHeader("", text, h), kHeaderOk);
  EXPECT_EQ(h.msgType.size(), 255u);
}

TEST(AcceptedRoots, LimitsAndDefaults) {
  EXPECT_EQ(AcceptedRoots(""), (std::vector<std::string>{"XML_SOLVEN", "XML_MARLOWCAM"}));
  EXPECT_EQ(AcceptedRoots("A"), (std::vector<std::string>{"A"}));
  EXPECT_EQ(AcceptedRoots("A,B,C,D,E,F,G,H,I,J,K,L").size(), 10u);
  const auto cut = AcceptedRoots(std::string(200, 'n'));
  ASSERT_EQ(cut.size(), 1u);
  EXPECT_EQ(cut[0].size(), 127u);
}

TEST(AtoI, CRule) {
  struct {
    const char* in;
    int out;
  } cases[] = {{"3", 3}, {"  -12x", -12}, {"+7", 7}, {"x3", 0}, {"", 0},
               {"99999999999", 2147483647}, {"-99999999999", -2147483647 - 1}};
  for (auto c : cases) EXPECT_EQ(AtoI(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace kelvara::discovery
