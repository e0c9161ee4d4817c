#include "firmware/recovery/recovery_wire.h"

#include <gtest/gtest.h>

#include "firmware/recovery/boot_device_table.h"
#include "firmware/recovery/device_ids.h"

namespace kelvara::firmware {
namespace {

struct ParseCase {
  std::string name;
  std::string datagram;
  int cmd;
  std::string type;
  std::string uuid;
  int step;
};

TEST(RecoveryRequest, ParsesTable) {
  const std::string long_uuid(40, 'u'), long_type(300, 't');
  const ParseCase cases[] = {
      {"ordered", "CMD_CODE=1;DEV_TYPE=IPC-A;UUID=zq01;STEP=2", 1, "IPC-A", "zq01", 2},
      {"reversed", "STEP=7;UUID=zq01;DEV_TYPE=IPC-A;CMD_CODE=3", 3, "IPC-A", "zq01", 7},
      {"later key wins", "CMD_CODE=1;UUID=a;CMD_CODE=3;UUID=b", 3, "", "b", 0},
      {"missing code", "DEV_TYPE=X;UUID=a", -1, "X", "a", 0},
      {"non-numeric", "CMD_CODE=abc;STEP=x9", 0, "", "", 0},
      {"sign and blanks", "CMD_CODE= -2;STEP=+12z", -2, "", "", 12},
      {"empty pieces", ";;CMD_CODE=1;;UUID=a;", 1, "", "a", 0},
      {"ends at NUL", std::string("CMD_CODE=1;UUID=a\0;STEP=9", 26), 1, "", "a", 0},
      {"long values cut", "CMD_CODE=1;UUID=" + long_uuid + ";DEV_TYPE=" + long_type, 1, long_type.substr(0, 255),
       long_uuid.substr(0, 31), 0},
      // The key anywhere in a piece takes it; the value starts after the key's length.
      {"key inside piece", "XCMD_CODE=1", 0, "", "", 0},
      {"first matching test wins", "UUID=CMD_CODE=5", 0, "", "", 0},
      {"huge number saturates", "CMD_CODE=99999999999999999999", 2147483647, "", "", 0},
      {"unknown keys ignored", "FOO=1;CMD_CODE=3;BAR", 3, "", "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const RecoveryRequest r = ParseRecoveryRequest(c.datagram);
    EXPECT_EQ(r.cmd_code, c.cmd);
    EXPECT_EQ(r.dev_type, c.type);
    EXPECT_EQ(r.uuid, c.uuid);
    EXPECT_EQ(r.step, c.step);
  }
}

TEST(RecoveryRequest, FullBufferIsCutTo10239Bytes) {
  std::string datagram = "CMD_CODE=1;UUID=";
  datagram += std::string(kRecoveryBufferSize - datagram.size() - 12, 'x');
  datagram += ";STEP=4;xyz";  // STEP=4 ends at byte 10236, inside the buffer
  datagram.resize(kRecoveryBufferSize, 'y');
  datagram.back() = 'Z';
  const auto r = ParseRecoveryRequest(datagram + ";CMD_CODE=3");
  EXPECT_EQ(r.cmd_code, 1);
  EXPECT_EQ(r.step, 4);
}

TEST(RecoveryReply, ExactBytesWithoutNul) {
  RecoveryReply reply{0, "192.168.1.253", "fw.bin", "192.168.1.5", "00 11 22 33 44 55", "zq01"};
  EXPECT_EQ(FormatRecoveryReply(reply),
            "CMD_CODE=2;RESULT=0;TFTP_SERVER=192.168.1.253;FIRMWARE_FILE=fw.bin;DEV_IP=192.168.1.5;"
            "DEV_MAC=00 11 22 33 44 55;UUID=zq01");
  EXPECT_EQ(FormatRecoveryReply({-1, "", "", "", "", "u"}),
            "CMD_CODE=2;RESULT=-1;TFTP_SERVER=;FIRMWARE_FILE=;DEV_IP=;DEV_MAC=;UUID=u");
}

TEST(RecoverySteps, KeysAndOutOfRange) {
  const std::pair<int, const char*> cases[] = {
      {0, "UPDATE_PROCESS_INIT"},          {1, "UPDATE_PROCESS_DOWN_FW_START"},
      {2, "UPDATE_PROCESS_DOWN_FW_END"},   {3, "UPDATE_PROCESS_CHECK_FW_START"},
      {4, "UPDATE_PROCESS_CHECK_FW_END"},  {5, "UPDATE_PROCESS_UPDATE_KERNEL_START"},
      {6, "UPDATE_PROCESS_UPDATE_KERNEL_END"}, {7, "UPDATE_PROCESS_UPDATE_FS_START"},
      {8, "UPDATE_PROCESS_UPDATE_FS_END"}, {9, "UPDATE_PROCESS_UPDATE_FW_END"},
      {10, "UPDATE_STATUS_SUCCESS"},       {11, "UPDATE_STATUS_BAD_FW"},
      {12, "UPDATE_STATUS_FLASH_WRITE_FAIL"}};
  for (const auto& [step, key] : cases) EXPECT_STREQ(RecoveryStepKey(step), key) << step;
  EXPECT_EQ(RecoveryStepKey(13), nullptr);
  EXPECT_EQ(RecoveryStepKey(-1), nullptr);
}

TEST(DeviceIds, MakeDeviceUuid) {
  const std::pair<const char*, const char*> cases[] = {
      {"0", "zq000000000000"},
      {"65280", "zq000000000000"},             // 0xFF00: 0xFF rounds up to 0x00
      {"  +4660", "zq123400000000"},           // 0x1234: 0x12 is even
      {"4864", "zq140000000000"},              // 0x1300: 0x13 rounds up to 0x14
      {"1311768467463790320", "zqdef09abc5678"},  // 0x123456789ABCDEF0
      {"-1", "zq00ffffffffff"},                // all ones
      {"abc", "zq000000000000"},
      {"99999999999999999999", "zq00ffffffffff"},  // saturates at INT64_MAX
      {"12x34", "zq000c00000000"},
  };
  for (const auto& [text, uuid] : cases) EXPECT_EQ(MakeDeviceUuid(text), uuid) << text;
}

TEST(DeviceIds, RandomMacTextForm) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    const std::string mac = MacText(RandomMacBytes());
    ASSERT_EQ(mac.size(), 17u);
    EXPECT_EQ(mac.substr(0, 3), "00 ");
    for (std::size_t p = 0; p < mac.size(); ++p)
      EXPECT_TRUE(p % 3 == 2 ? mac[p] == ' ' : std::isxdigit(static_cast<unsigned char>(mac[p])) && !std::isupper(mac[p]))
          << mac;
    seen.insert(mac);
  }
  EXPECT_GT(seen.size(), 195u);  // 40 random bits: collisions are practically impossible
}

TEST(BootDeviceTable, BoundedEvictsOldestFinishedFirst) {
  BootDeviceTable table(3);
  table.Put({"a", "", "", "", "", 10, 0});
  table.Put({"b", "", "", "", "", 2, 0});
  table.Put({"c", "", "", "", "", 11, 0});
  table.Put({"d", "", "", "", "", 0, 0});  // evicts "a", the oldest finished
  EXPECT_EQ(table.Find("a"), nullptr);
  table.Touch("c");
  table.Put({"e", "", "", "", "", 0, 0});  // "c" is the only finished one left
  EXPECT_EQ(table.Find("c"), nullptr);
  table.Put({"f", "", "", "", "", 0, 0});  // none finished: the oldest touched, "b"
  EXPECT_EQ(table.Find("b"), nullptr);
  EXPECT_EQ(table.size(), 3u);
  table.Put({"d", "x", "", "", "", 0, 0});  // replacing never evicts
  EXPECT_EQ(table.size(), 3u);
  EXPECT_NE(table.Find("e"), nullptr);
}

}  // namespace
}  // namespace kelvara::firmware
