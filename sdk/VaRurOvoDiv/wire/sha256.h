#pragma once
// SHA-256 and HMAC-SHA-256 (FIPS 180-4, RFC 2104): the login proof and the
// file-transfer checksums of the device protocol.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace varurovodiv::wire {

using Digest = std::array<unsigned char, 32>;

class Sha256 {
 public:
  Sha256();
  void Update(const void* data, size_t size);
  void Update(std::string_view text) { Update(text.data(), text.size()); }
  Digest Final();

 private:
  void Block(const unsigned char* block);
  uint32_t state_[8];
  unsigned char buffer_[64];
  size_t buffered_ = 0;
  uint64_t total_ = 0;
};

Digest Sha256Of(std::string_view data);
Digest HmacSha256(std::string_view key, std::string_view message);
std::string DigestBytes(const Digest& d);
std::string ToHex(std::string_view bytes);

// The login proof: HMAC-SHA-256 keyed with the password over the challenge
// followed by the user name. The password itself never crosses the wire.
Digest LoginProof(std::string_view password, std::string_view challenge, std::string_view user);

// Constant-time comparison of two digests.
bool DigestEqual(std::string_view a, std::string_view b);

}  // namespace varurovodiv::wire
