#pragma once
// The login of the device protocol: a balanced password-authenticated key
// exchange (CPace over ristretto255, from libsodium's primitives) with key
// confirmation both ways. Its messages (HELLO, LOGIN_SHARE and its reply,
// LOGIN and its verdict) and one side's computation, shared by the SDK, the
// remote-configuration link and the simulator.
//
// Neither an eavesdropper nor a peer that does not know the password learns
// anything from an exchange that lets it test passwords offline: every share
// is a fresh random multiple of a password-derived point, and a peer that
// guesses wrong can only see that this one guess failed. The exchange's
// session key then seals every frame of the link (link_seal.h).
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varurovodiv::wire {

inline constexpr size_t kNonceSize = 16;
inline constexpr size_t kShareSize = 32;  // an encoded ristretto255 point
inline constexpr size_t kTagSize = 32;    // HMAC-SHA-512-256
// The login method a HELLO announces: CPace over ristretto255 with SHA-512,
// the link sealed afterwards. Method 1 (the same exchange with the link left
// in clear) is no longer spoken: a HELLO of it fails the login. The method is
// hashed into the session key, so the two ends agree on it or the login fails.
inline constexpr uint32_t kLoginMethodSealed = 2;
// Longest user name a LOGIN_SHARE carries; a longer one is refused.
inline constexpr size_t kMaxUserSize = 255;
// Longest message of the login (a LOGIN_SHARE with the longest name): what a
// device buffers for a connection that has not logged in.
inline constexpr uint32_t kMaxLoginMessage = kMaxUserSize + 1 + kNonceSize + kShareSize;

// HELLO payload: method (u32, big-endian) || device nonce (16).
struct Hello {
  std::string nonce;
};
std::string EncodeHello(const Hello& hello);
// Empty unless the payload is exactly a HELLO of the method above.
std::optional<Hello> DecodeHello(std::string_view payload);

// LOGIN_SHARE payload: user || 0 || client nonce (16) || client share (32).
// Decoding gives none for a user name longer than kMaxUserSize.
struct LoginShare {
  std::string user;
  std::string nonce;
  std::string share;
};
std::string EncodeLoginShare(const LoginShare& login);
std::optional<LoginShare> DecodeLoginShare(std::string_view payload);
// The LOGIN_SHARE reply (device share), LOGIN (client tag) and the LOGIN
// verdict (device tag) each carry exactly one 32-byte value.

// One side of one exchange. The generator is derived from the password, the
// user name and both nonces; the shares are random multiples of it; the
// intermediate session key hashes the shared point with the whole transcript,
// and each side's tag is an HMAC of both shares under it, with the side's own
// label, so a tag cannot be reflected.
class LoginExchange {
 public:
  enum class Side { kClient, kDevice };

  LoginExchange(Side side, std::string_view password, std::string_view user,
                std::string_view device_nonce, std::string_view client_nonce);
  ~LoginExchange();
  LoginExchange(const LoginExchange&) = delete;
  LoginExchange& operator=(const LoginExchange&) = delete;

  // This side's share (kShareSize bytes).
  const std::string& share() const { return own_share_; }
  // Takes the peer's share. False when it is not a canonical ristretto255
  // point or the shared point is the identity: the login fails.
  bool TakePeerShare(std::string_view peer_share);
  // This side's confirmation tag; empty before a peer share was taken.
  std::string Tag() const;
  // Whether `tag` is the peer's confirmation tag (constant time); false
  // before a peer share was taken.
  bool CheckPeerTag(std::string_view tag) const;
  Side side() const { return side_; }
  bool keyed() const { return keyed_; }

 private:
  friend class LinkSeal;  // derives the link's keys from the session key
  std::string TagOf(Side side) const;

  const Side side_;
  std::array<unsigned char, 32> scalar_{};
  std::array<unsigned char, 64> session_key_{};
  bool keyed_ = false;
  std::string sid_;  // device nonce || client nonce
  std::string user_;
  std::string own_share_;
  std::string peer_share_;
};

// Bytes from libsodium's random generator (the kernel's): nonces. It keeps
// no state per thread, so thousands of session threads cost nothing here.
std::string RandomBytes(size_t size);

}  // namespace varurovodiv::wire
