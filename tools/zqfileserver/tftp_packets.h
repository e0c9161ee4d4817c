#pragma once
// TFTP packets (RFC 1350) with the option extension (RFC 2347) and the
// blksize (2348), timeout and tsize (2349) options. Pure functions: parsing of
// what clients send, building of what the server sends.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvara::tftp {

enum Opcode : std::uint16_t { kRrq = 1, kWrq = 2, kData = 3, kAck = 4, kError = 5, kOack = 6 };

enum ErrorCode : std::uint16_t {
  kNotDefined = 0,
  kFileNotFound = 1,
  kAccessViolation = 2,
  kIllegalOperation = 4,
  kUnknownTid = 5,
  kOptionRefused = 8,
};

inline constexpr std::size_t kDefaultBlockSize = 512;
inline constexpr std::size_t kMinBlockSize = 8;
inline constexpr std::size_t kMaxBlockSize = 65464;
inline constexpr int kDefaultTimeoutSeconds = 3;
// The longest time-out a client may ask for: with the retransmissions a
// silent client holds its transfer slot for 6 times this at most.
inline constexpr int kMaxTimeoutSeconds = 10;

struct Request {
  Opcode opcode = kRrq;
  std::string filename;
  std::string mode;  // lower-cased
  std::vector<std::pair<std::string, std::string>> options;  // names lower-cased, in order
};

// A read or write request; nullopt when the packet is not one or is malformed
// (missing terminators, empty name or mode).
std::optional<Request> ParseRequest(std::string_view packet);

// The options the server accepts, from a read request's options.
struct Negotiated {
  std::size_t block_size = kDefaultBlockSize;
  int timeout_seconds = kDefaultTimeoutSeconds;
  bool any = false;  // an OACK is due
  bool block_size_set = false, timeout_set = false, tsize_set = false;
};
// blksize is clamped to [8, 65464] (a smaller request than 8 is ignored),
// timeout accepted in 1..kMaxTimeoutSeconds (a longer one is left out of the
// OACK, so the default applies, as RFC 2349 has the OACK echo the client's
// value), tsize answered with `file_size` when known (the octet mode).
// Unknown options are left out of the OACK.
Negotiated Negotiate(const Request& request, std::optional<std::uint64_t> file_size);

std::string BuildOack(const Negotiated& negotiated, std::optional<std::uint64_t> file_size);
std::string BuildError(ErrorCode code, std::string_view message);
void BuildDataHeader(std::uint16_t block, std::string& out);  // 4 bytes appended

// An ACK's block number; nullopt for anything else.
std::optional<std::uint16_t> ParseAck(std::string_view packet);

}  // namespace kelvara::tftp
