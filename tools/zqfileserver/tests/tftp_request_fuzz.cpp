// TFTP request and ACK parsing on arbitrary packets, with the negotiation and
// the answers built from what was parsed.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tftp_packets.h"
#include "common/served_file.h"

using namespace kelvara;
using namespace kelvara::tftp;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view packet(reinterpret_cast<const char*>(data), size);
  (void)ParseAck(packet);
  const auto request = ParseRequest(packet);
  if (!request) return 0;
  if (request->filename.empty() || request->mode.empty()) __builtin_trap();
  const Negotiated n = Negotiate(*request, size);
  if (n.block_size < kMinBlockSize || n.block_size > kMaxBlockSize) __builtin_trap();
  if (n.timeout_seconds < 1 || n.timeout_seconds > kMaxTimeoutSeconds) __builtin_trap();
  const std::string oack = BuildOack(n, size);
  if (oack.size() < 2 || oack[1] != kOack) __builtin_trap();
  std::string normalized;
  if (IsNameAcceptable(request->filename, normalized) &&
      (normalized[0] == '/' || normalized.find("/../") != std::string::npos || normalized == ".."))
    __builtin_trap();
  return 0;
}
