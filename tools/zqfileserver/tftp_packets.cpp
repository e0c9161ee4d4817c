#include "tftp_packets.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace kelvara::tftp {
namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

void Put16(std::string& out, std::uint16_t v) {
  out.push_back(static_cast<char>(v >> 8));
  out.push_back(static_cast<char>(v & 0xFF));
}

std::optional<std::uint64_t> Number(std::string_view text) {
  std::uint64_t v = 0;
  if (text.empty()) return std::nullopt;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return v;
}

}  // namespace

std::optional<Request> ParseRequest(std::string_view packet) {
  if (packet.size() < 4) return std::nullopt;
  const auto op = static_cast<std::uint16_t>((static_cast<unsigned char>(packet[0]) << 8) |
                                             static_cast<unsigned char>(packet[1]));
  if (op != kRrq && op != kWrq) return std::nullopt;
  packet.remove_prefix(2);
  std::vector<std::string_view> strings;
  while (!packet.empty()) {
    const auto nul = packet.find('\0');
    if (nul == std::string_view::npos) return std::nullopt;  // unterminated
    strings.push_back(packet.substr(0, nul));
    packet.remove_prefix(nul + 1);
  }
  if (strings.size() < 2 || strings[0].empty() || strings[1].empty()) return std::nullopt;
  Request request;
  request.opcode = static_cast<Opcode>(op);
  request.filename = std::string(strings[0]);
  request.mode = Lower(strings[1]);
  // Options come in name/value pairs; a trailing lone name is ignored.
  for (std::size_t i = 2; i + 1 < strings.size(); i += 2)
    request.options.emplace_back(Lower(strings[i]), std::string(strings[i + 1]));
  return request;
}

Negotiated Negotiate(const Request& request, std::optional<std::uint64_t> file_size) {
  Negotiated n;
  for (const auto& [name, value] : request.options) {
    const auto v = Number(value);
    if (name == "blksize" && v && *v >= kMinBlockSize) {
      n.block_size = static_cast<std::size_t>(std::min<std::uint64_t>(*v, kMaxBlockSize));
      n.block_size_set = n.any = true;
    } else if (name == "timeout" && v && *v >= 1 && *v <= static_cast<std::uint64_t>(kMaxTimeoutSeconds)) {
      n.timeout_seconds = static_cast<int>(*v);
      n.timeout_set = n.any = true;
    } else if (name == "tsize" && file_size) {
      n.tsize_set = n.any = true;
    }
  }
  return n;
}

std::string BuildOack(const Negotiated& n, std::optional<std::uint64_t> file_size) {
  std::string out;
  Put16(out, kOack);
  auto option = [&](const char* name, std::uint64_t value) {
    out += name;
    out.push_back('\0');
    out += std::to_string(value);
    out.push_back('\0');
  };
  if (n.block_size_set) option("blksize", n.block_size);
  if (n.timeout_set) option("timeout", static_cast<std::uint64_t>(n.timeout_seconds));
  if (n.tsize_set && file_size) option("tsize", *file_size);
  return out;
}

std::string BuildError(ErrorCode code, std::string_view message) {
  std::string out;
  Put16(out, kError);
  Put16(out, code);
  out += message;
  out.push_back('\0');
  return out;
}

void BuildDataHeader(std::uint16_t block, std::string& out) {
  Put16(out, kData);
  Put16(out, block);
}

std::optional<std::uint16_t> ParseAck(std::string_view packet) {
  if (packet.size() < 4) return std::nullopt;
  const auto op = (static_cast<unsigned char>(packet[0]) << 8) | static_cast<unsigned char>(packet[1]);
  if (op != kAck) return std::nullopt;
  return static_cast<std::uint16_t>((static_cast<unsigned char>(packet[2]) << 8) |
                                    static_cast<unsigned char>(packet[3]));
}

}  // namespace kelvara::tftp
