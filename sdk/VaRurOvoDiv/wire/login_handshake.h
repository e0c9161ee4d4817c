#pragma once
// The login handshake of the device protocol: the device's HELLO (challenge,
// stretching parameters), the SDK's LOGIN (user, client nonce, proof) and the
// proof itself. The password is stretched with PBKDF2-HMAC-SHA-256, so every
// guess of someone holding a captured proof costs the full stretching, and the
// client nonce keeps a device that picks its challenge from precomputing
// answers.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "digest.h"

namespace varurovodiv::wire {

inline constexpr size_t kChallengeSize = 16;
inline constexpr size_t kNonceSize = 16;
inline constexpr size_t kSaltSize = 16;
// PBKDF2 rounds a device asks for; the SDK accepts no fewer (a rogue device
// must not make guessing cheap) and no more (nor make a login cost seconds).
inline constexpr uint32_t kLoginIterations = 100000;
inline constexpr uint32_t kMinLoginIterations = 100000;
inline constexpr uint32_t kMaxLoginIterations = 1000000;

// HELLO payload: challenge (16) || iterations (u32, big-endian) || salt (16).
struct Hello {
  std::string challenge;
  uint32_t iterations = kLoginIterations;
  std::string salt;
};
std::string EncodeHello(const Hello& hello);
// Empty when the payload is not a HELLO the SDK may answer (sizes, or
// iterations out of bounds).
std::optional<Hello> DecodeHello(std::string_view payload);

// LOGIN payload: user || 0 || client nonce (16) || proof (32).
struct LoginRequest {
  std::string user;
  std::string nonce;
  std::string proof;
};
std::string EncodeLogin(const LoginRequest& login);
std::optional<LoginRequest> DecodeLogin(std::string_view payload);

// PBKDF2-HMAC-SHA-256 of the password: what a device may store in place of it.
Digest LoginKey(std::string_view password, std::string_view salt, uint32_t iterations);
// HMAC-SHA-256 keyed with the login key over challenge || nonce || user.
Digest LoginProof(const Digest& key, std::string_view challenge, std::string_view nonce,
                  std::string_view user);

// Bytes from libcrypto's random generator (challenges, nonces, salts).
std::string RandomBytes(size_t size);

}  // namespace varurovodiv::wire
