#include "firmware/recovery/recovery_wire.h"

#include <charconv>
#include <climits>
#include <cstdio>

namespace kelvara::firmware {
namespace {

// Decimal as atoi reads it: leading blanks, a sign, digits up to the first
// other character; no digits gives 0. Saturates instead of overflowing.
int ReadDecimal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) return static_cast<int>(-value);
  return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

std::string Cut(std::string_view text, std::size_t max) { return std::string(text.substr(0, max)); }

}  // namespace

RecoveryRequest ParseRecoveryRequest(std::string_view datagram) {
  datagram = datagram.substr(0, kRecoveryBufferSize - 1);
  if (const auto nul = datagram.find('\0'); nul != std::string_view::npos) datagram = datagram.substr(0, nul);
  RecoveryRequest request;
  while (!datagram.empty()) {
    const auto end = datagram.find(';');
    const std::string_view piece = datagram.substr(0, end);
    datagram = end == std::string_view::npos ? std::string_view{} : datagram.substr(end + 1);
    if (piece.empty()) continue;
    // The key is searched anywhere in the piece, but the value starts after
    // the key's length from the piece's start, as devices have always been read.
    auto value = [&](std::size_t key_length) { return piece.substr(std::min(key_length, piece.size())); };
    if (piece.find("CMD_CODE=") != std::string_view::npos) {
      request.cmd_code = ReadDecimal(value(9));
    } else if (piece.find("DEV_TYPE=") != std::string_view::npos) {
      request.dev_type = Cut(value(9), kRecoveryDevTypeMax);
    } else if (piece.find("UUID=") != std::string_view::npos) {
      request.uuid = Cut(value(5), kRecoveryUuidMax);
    } else if (piece.find("STEP=") != std::string_view::npos) {
      request.step = ReadDecimal(value(5));
    }
  }
  return request;
}

std::string FormatRecoveryReply(const RecoveryReply& reply) {
  std::string text = "CMD_CODE=" + std::to_string(kCmdFirmwareReply) + ";RESULT=" + std::to_string(reply.result);
  text += ";TFTP_SERVER=" + reply.tftp_server;
  text += ";FIRMWARE_FILE=" + reply.firmware_file;
  text += ";DEV_IP=" + reply.dev_ip;
  text += ";DEV_MAC=" + reply.dev_mac;
  text += ";UUID=" + reply.uuid;
  if (text.size() > kRecoveryBufferSize - 1) text.resize(kRecoveryBufferSize - 1);
  return text;
}

const char* RecoveryStepKey(int step) {
  static constexpr const char* kKeys[] = {
      "UPDATE_PROCESS_INIT",
      "UPDATE_PROCESS_DOWN_FW_START",
      "UPDATE_PROCESS_DOWN_FW_END",
      "UPDATE_PROCESS_CHECK_FW_START",
      "UPDATE_PROCESS_CHECK_FW_END",
      "UPDATE_PROCESS_UPDATE_KERNEL_START",
      "UPDATE_PROCESS_UPDATE_KERNEL_END",
      "UPDATE_PROCESS_UPDATE_FS_START",
      "UPDATE_PROCESS_UPDATE_FS_END",
      "UPDATE_PROCESS_UPDATE_FW_END",
      "UPDATE_STATUS_SUCCESS",
      "UPDATE_STATUS_BAD_FW",
      "UPDATE_STATUS_FLASH_WRITE_FAIL",
  };
  if (step < 0 || step > 12) return nullptr;
  return kKeys[step];
}

}  // namespace kelvara::firmware
