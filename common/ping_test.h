#pragma once
// The ICMP echo probe that tells whether an IPv4 address is in use.
#include <cstddef>
#include <cstdint>

namespace kelvara {

// Sends up to two echo requests to `address` (network order), waiting up to
// 100 ms for each reply. 1 when the address answered (in use), 0 when it did
// not (free), -1 when no probe could be made. Works without root through an
// ICMP datagram socket (within net.ipv4.ping_group_range) and falls back to a
// raw socket. Only an echo reply from the address to one of this call's
// requests (identifier and sequence number) counts. Blocks up to about 200 ms.
//
// When neither socket opens (an ordinary user on a system whose
// ping_group_range admits no group, the kernel's default), the system's ping
// program, which carries its own right to raw sockets, probes instead: run
// by absolute path without a shell ("-n -c 1 -W 1" and the numeric
// address), killed after kPingProgramLimitMs. Its exit 0 gives 1, exit 1
// gives 0, anything else -1. Blocks up to about a second then.
int PingTest(std::uint32_t address);

// The ping program's time bound.
inline constexpr int kPingProgramLimitMs = 2000;

// The 16-bit ones'-complement checksum of RFC 1071, to be stored in the
// packet in the machine's byte order.
std::uint16_t InternetChecksum(const void* buffer, std::size_t length);

namespace ping_detail {

// The system ping's verdict on one address (dotted text), as PingTest uses
// it; -1 also when no ping program could be started.
int RunPingProgram(const char* dotted, int limit_ms = kPingProgramLimitMs);

enum class ReplyCheck {
  kReply,           // the echo reply we wait for
  kOtherSender,     // from another host
  kShort,           // too short for an ICMP header
  kNotEchoReply,    // another ICMP type (our own request on a raw socket, errors)
  kOtherRequest,    // an echo reply to someone else's request
};

// Classifies a received packet. `with_ip_header`: raw sockets deliver the IP
// header (and the sender is read from it), datagram sockets only the ICMP
// message (the sender comes from recvfrom). Identifier and sequence numbers
// as stored in the request; a reply to any request of the call (sequence up
// to `last_sequence`) counts.
ReplyCheck CheckEchoReply(const std::uint8_t* data, std::size_t length, bool with_ip_header,
                          std::uint32_t sender, std::uint32_t expected_sender, std::uint16_t identifier,
                          std::uint16_t last_sequence);

}  // namespace ping_detail
}  // namespace kelvara
