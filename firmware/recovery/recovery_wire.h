#pragma once
// The boot-recovery wire texts on UDP 25000: a device in its boot loader asks
// with "CMD_CODE=1" for an image and reports its progress with "CMD_CODE=3";
// the server answers a request with one "CMD_CODE=2" text. Fields are
// KEY=VALUE pieces separated by ';'.
#include <cstddef>
#include <string>
#include <string_view>

namespace kelvara::firmware {

inline constexpr int kRecoveryPort = 25000;
inline constexpr std::size_t kRecoveryBufferSize = 10240;
inline constexpr std::size_t kRecoveryUuidMax = 31;
inline constexpr std::size_t kRecoveryDevTypeMax = 255;

inline constexpr int kCmdFirmwareRequest = 1;
inline constexpr int kCmdFirmwareReply = 2;
inline constexpr int kCmdProgress = 3;
inline constexpr int kStepSuccess = 10;
inline constexpr int kStepLastFinal = 12;  // 11 and 12: the device failed

struct RecoveryRequest {
  int cmd_code = -1;  // -1 when absent
  std::string dev_type;  // at most 255 bytes
  std::string uuid;      // at most 31 bytes
  int step = 0;
};

// Parses a datagram: the text ends at its first NUL or after 10239 bytes.
// Pieces are tested for "CMD_CODE=", "DEV_TYPE=", "UUID=", "STEP=" in that
// order; the first contained key takes the piece and the value is the text
// after the key's length from the piece's start. Numbers read as decimal
// (non-numeric text gives 0, out-of-range text saturates); later pieces of a
// key overwrite earlier ones; long values are cut.
RecoveryRequest ParseRecoveryRequest(std::string_view datagram);

struct RecoveryReply {
  int result = 0;
  std::string tftp_server;
  std::string firmware_file;
  std::string dev_ip;
  std::string dev_mac;
  std::string uuid;
};

// "CMD_CODE=2;RESULT=%d;TFTP_SERVER=%s;FIRMWARE_FILE=%s;DEV_IP=%s;DEV_MAC=%s;UUID=%s",
// without a terminating NUL.
std::string FormatRecoveryReply(const RecoveryReply& reply);

// The language key of a progress step (0 to 12); nullptr for any other step.
const char* RecoveryStepKey(int step);

}  // namespace kelvara::firmware
