#include "login_handshake.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <stdexcept>

namespace varurovodiv::wire {

std::string EncodeHello(const Hello& hello) {
  std::string out = hello.challenge;
  const char n[4] = {static_cast<char>(hello.iterations >> 24),
                     static_cast<char>(hello.iterations >> 16),
                     static_cast<char>(hello.iterations >> 8), static_cast<char>(hello.iterations)};
  out.append(n, 4);
  out += hello.salt;
  return out;
}

std::optional<Hello> DecodeHello(std::string_view payload) {
  if (payload.size() != kChallengeSize + 4 + kSaltSize) return std::nullopt;
  const auto* p = reinterpret_cast<const unsigned char*>(payload.data() + kChallengeSize);
  Hello h;
  h.challenge = std::string(payload.substr(0, kChallengeSize));
  h.iterations = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
  h.salt = std::string(payload.substr(kChallengeSize + 4));
  if (h.iterations < kMinLoginIterations || h.iterations > kMaxLoginIterations) return std::nullopt;
  return h;
}

std::string EncodeLogin(const LoginRequest& login) {
  std::string out = login.user;
  out.push_back('\0');
  out += login.nonce;
  out += login.proof;
  return out;
}

std::optional<LoginRequest> DecodeLogin(std::string_view payload) {
  const size_t zero = payload.find('\0');
  if (zero == std::string_view::npos || payload.size() - zero - 1 != kNonceSize + 32) {
    return std::nullopt;
  }
  LoginRequest r;
  r.user = std::string(payload.substr(0, zero));
  r.nonce = std::string(payload.substr(zero + 1, kNonceSize));
  r.proof = std::string(payload.substr(zero + 1 + kNonceSize));
  return r;
}

Digest LoginKey(std::string_view password, std::string_view salt, uint32_t iterations) {
  Digest key;
  if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                        reinterpret_cast<const unsigned char*>(salt.data()),
                        static_cast<int>(salt.size()), static_cast<int>(iterations), EVP_sha256(),
                        static_cast<int>(key.size()), key.data()) != 1) {
    throw std::runtime_error("PBKDF2");
  }
  return key;
}

Digest LoginProof(const Digest& key, std::string_view challenge, std::string_view nonce,
                  std::string_view user) {
  std::string message(challenge);
  message.append(nonce);
  message.append(user);
  return HmacSha256(DigestBytes(key), message);
}

std::string RandomBytes(size_t size) {
  std::string out(size, '\0');
  if (RAND_bytes(reinterpret_cast<unsigned char*>(out.data()), static_cast<int>(size)) != 1) {
    throw std::runtime_error("random bytes");
  }
  return out;
}

}  // namespace varurovodiv::wire
