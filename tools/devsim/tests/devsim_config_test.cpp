// The simulator's configuration, its search reply read back by Kelvara's own
// discovery parser, its configuration store and its log port.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "device.h"
#include "device_config.h"
#include "discovery/core/discovery_protocol.h"
#include "discovery/core/search_reply.h"
#include "digest.h"
#include "recovery_mode.h"
#include "simulator.h"

namespace kelvara::devsim {
namespace {

TEST(DevsimConfig, FileDefaultsSectionsAndGeneratedDevices) {
  SimConfig c;
  const std::string text =
      "# two devices of their own, then three generated\n"
      "password = pw1\n"
      "discovery_port = 0\n"
      "count = 3\n"
      "base_ip = 10.77.1.10\n"
      "serial_prefix = ABC\n"
      "[device]\n"
      "serial = CAM-1\n"
      "ip = 10.77.1.1\n"
      "device_type = DVS-4  # comment\n"
      "[device]\n"
      "ip = 10.77.1.2\n"
      "command_port = 9001\n";
  ASSERT_EQ(ParseConfigText(text, c), "");
  ASSERT_EQ(c.devices.size(), 5u);
  EXPECT_EQ(c.discovery_port, 0);
  EXPECT_EQ(c.devices[0].serial, "CAM-1");
  EXPECT_EQ(c.devices[0].device_type, "DVS-4");
  EXPECT_EQ(c.devices[0].password, "pw1");  // defaults reach the sections
  EXPECT_EQ(c.devices[1].command_port, 9001);
  EXPECT_EQ(c.devices[1].gateway, "10.77.0.1");
  EXPECT_EQ(c.devices[2].serial, "ABC00000003");
  EXPECT_EQ(c.devices[4].ip, "10.77.1.12");
  EXPECT_NE(c.devices[2].mac, c.devices[3].mac);
  EXPECT_NE(c.devices[2].uuid, c.devices[3].uuid);
}

TEST(DevsimConfig, ErrorsNameTheLine) {
  struct Case { const char* text; const char* error; };
  const Case cases[] = {
      {"port 5\n", "line 1: expected key = value"},
      {"\n[device]\ncommand_port = abc\n", "line 3: bad key or value: command_port"},
      {"nonsense = 1\n", "line 1: bad key or value: nonsense"},
      {"count = 2\nbase_ip = 10.77.999.1\n", "bad base_ip: 10.77.999.1"},
  };
  for (const Case& k : cases) {
    SimConfig c;
    EXPECT_EQ(ParseConfigText(k.text, c), k.error) << k.text;
  }
}

TEST(DevsimSearchReply, KelvaraParsesItIntoTheConfiguredRecord) {
  DeviceConfig d;
  d.serial = "SN\"<1>";
  d.ip = "10.77.1.7";
  d.device_type = "NVR-8";
  d.p2p_id = "abcdefabcdefabcdefabcdefabcdefab";  // 32 characters: P2P type 1
  d.title = "Tür 3";
  d.command_port = 8091;
  d.video_port = 10554;
  CompleteDevice(d, 6);
  Device dev(0, d);
  const std::string reply = dev.SearchReplyText();
  discovery::ReplyHeader h;
  ASSERT_EQ(discovery::ParseReplyHeader("", reply, h), 0);
  EXPECT_EQ(h.msgCode, "3");
  const auto rec = discovery::ParseSearchReply(reply);
  ASSERT_TRUE(rec.has_value());
  EXPECT_EQ(rec->serialNumber, d.serial);
  EXPECT_EQ(rec->deviceType, "NVR-8");
  EXPECT_EQ(rec->lanConfig.ipAddress, "10.77.1.7");
  EXPECT_EQ(rec->lanConfig.macAddress, d.mac);
  EXPECT_EQ(rec->streamAccess.ptzPort, 8091);
  EXPECT_EQ(rec->streamAccess.videoPort, 10554);
  EXPECT_EQ(rec->p2pType, 1);
  EXPECT_EQ(rec->titleHex, "54c3bc722033");
  EXPECT_EQ(rec->uuid, d.uuid);
  EXPECT_EQ(rec->hasAccounts, 1);
  EXPECT_EQ(rec->userConfig.accounts[0].password, d.password);

  // A custom root is accepted only where Kelvara is told to accept it.
  d.root = "XML_OTHER";
  d.reply_account = false;
  Device other(1, d);
  EXPECT_EQ(discovery::ParseReplyHeader("", other.SearchReplyText(), h), -1);
  EXPECT_EQ(discovery::ParseReplyHeader("XML_OTHER", other.SearchReplyText(), h), 0);
  EXPECT_EQ(discovery::ParseSearchReply(other.SearchReplyText())->hasAccounts, 0);
}

TEST(DevsimDevice, SetCommandsWriteTheBlockTheirGetReads) {
  DeviceConfig d;
  CompleteDevice(d, 0);
  Device dev(0, d);
  struct Case { uint32_t set; uint32_t get; };
  for (const Case& c : {Case{524, 504}, Case{620, 600}, Case{223, 203}, Case{670, 650}}) {
    const std::string text = "<X v=\"" + std::to_string(c.set) + "\" />";
    EXPECT_EQ(dev.SetConfig(c.set, text).result, 0) << c.set;
    EXPECT_EQ(dev.GetConfig(c.get).text, text) << c.set;
  }
  // LAN settings through the SDK really move the device.
  EXPECT_EQ(dev.SetConfig(325, "<LANConfig IPAddress=\"10.77.1.99\" ALLNET=\"1\" />").result, 0);
  EXPECT_EQ(dev.ip(), "10.77.1.99");
  EXPECT_NE(dev.GetConfig(305).text.find("ALLNET=\"1\""), std::string::npos);
  EXPECT_EQ(dev.generation(), 1u);  // its links dropped
  // Not a set code, or not XML: refused, nothing stored.
  EXPECT_NE(dev.SetConfig(1012, "<A />").result, 0);
  EXPECT_NE(dev.SetConfig(524, "not xml").result, 0);
  EXPECT_EQ(dev.GetConfig(9999).result, 2);
}

}  // namespace
}  // namespace kelvara::devsim

namespace kelvara::devsim {
namespace {

// The device log port over loopback (no discovery responder).

// Reads from fd until `needle` was seen or the connection closed; all bytes read.
std::string ReadUntil(int fd, const std::string& needle, bool* closed = nullptr) {
  std::string got;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  char buf[4096];
  while (std::chrono::steady_clock::now() < end && got.find(needle) == std::string::npos) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) {
      if (closed) *closed = true;
      break;
    }
    got.append(buf, static_cast<size_t>(n));
  }
  return got;
}

TEST(DevsimLog, StreamsLinesTakesCommandsAndClosesOnDemand) {
  SimConfig c;
  c.discovery_port = 0;
  DeviceConfig d;
  d.command_port = 0;
  d.log_port = 0;
  CompleteDevice(d, 0);
  c.devices.push_back(d);
  Simulator sim(c);
  ASSERT_EQ(sim.Start(), "");
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(sim.log_port(0));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  EXPECT_NE(ReadUntil(fd, "log opened\r\n").find("SIM00000001: log opened"), std::string::npos);
  EXPECT_EQ(sim.Control("log 0 kernel: eth0 up"), "ok");
  EXPECT_NE(ReadUntil(fd, "eth0 up\r\n").find("kernel: eth0 up\r\n"), std::string::npos);
  // The log command arrives byte for byte.
  const std::string cmd = "\r\nslog -1,0\r\n";
  ASSERT_EQ(send(fd, cmd.data(), cmd.size(), 0), static_cast<ssize_t>(cmd.size()));
  ReadUntil(fd, "command received");
  EXPECT_NE(sim.Control("journal 0").find("log " + varurovodiv::wire::ToHex(cmd)), std::string::npos);
  // The device may close the log at any time.
  EXPECT_EQ(sim.Control("log_close 0"), "ok");
  bool closed = false;
  ReadUntil(fd, "never", &closed);
  EXPECT_TRUE(closed);
  close(fd);
  sim.Stop();
}

}  // namespace
}  // namespace kelvara::devsim

namespace kelvara::devsim {
namespace {

TEST(DevsimGuard, RefusesDiscoveryInTheMachinesOwnNamespace) {
  SimConfig c;
  c.discovery_bind = "127.0.0.1";  // even if the guard failed: loopback only
  DeviceConfig d;
  d.command_port = 0;
  d.log_port = 0;
  CompleteDevice(d, 0);
  c.devices.push_back(d);
  Simulator sim(c);
  EXPECT_NE(sim.Start().find("refusing to answer discovery"), std::string::npos);
  sim.Stop();
}

// The arguments of "recover" and of the --recover start option: bad numbers
// are refused with a reason instead of ending the simulator.
TEST(DevsimRecoveryPlan, ArgumentsAndTheirErrors) {
  RecoveryPlan plan;
  EXPECT_EQ(ParseRecoveryPlan("tftp_port=6969 server_port=25001 fault=stall_at:6", plan), "");
  EXPECT_EQ(plan.tftp_port, 6969);
  EXPECT_EQ(plan.server_port, 25001);
  EXPECT_EQ(plan.fault, "stall_at");
  EXPECT_EQ(plan.stall_at, 6);
  const struct {
    const char* args;
    const char* error;
  } bad[] = {
      {"tftp_port=x", "err bad port 'x'"},       {"server_port=70000", "err bad port '70000'"},
      {"tftp_port=", "err bad port ''"},         {"fault=stall_at:x", "err bad step 'x'"},
      {"fault=stall_at=3", "err use fault=stall_at:K"}, {"fault=melt", "err unknown fault 'melt'"},
      {"speed=3", "err unknown argument 'speed=3'"},
  };
  for (const auto& c : bad) {
    RecoveryPlan p;
    EXPECT_EQ(ParseRecoveryPlan(c.args, p), c.error) << c.args;
  }
}

}  // namespace
}  // namespace kelvara::devsim
