#include "login_handshake.h"

#include <sodium.h>

#include <stdexcept>

namespace varurovodiv::wire {
namespace {

// Domain separation: these hashes serve this protocol's login only.
constexpr std::string_view kGeneratorLabel = "VROD-CPace-ristretto255";
constexpr std::string_view kSessionKeyLabel = "VROD-CPace-ristretto255_ISK";
constexpr std::string_view kClientTagLabel = "VROD-login-client";
constexpr std::string_view kDeviceTagLabel = "VROD-login-device";

void EnsureSodium() {
  static const bool ready = sodium_init() >= 0;
  if (!ready) throw std::runtime_error("libsodium did not initialise");
}

void PutU32(std::string& out, uint32_t v) {
  const char b[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                     static_cast<char>(v >> 8), static_cast<char>(v)};
  out.append(b, 4);
}

// Every hashed field carries its length, so no two different field lists hash
// the same bytes.
void HashField(crypto_hash_sha512_state& h, std::string_view field) {
  unsigned char n[4] = {static_cast<unsigned char>(field.size() >> 24),
                        static_cast<unsigned char>(field.size() >> 16),
                        static_cast<unsigned char>(field.size() >> 8),
                        static_cast<unsigned char>(field.size())};
  crypto_hash_sha512_update(&h, n, sizeof n);
  crypto_hash_sha512_update(&h, reinterpret_cast<const unsigned char*>(field.data()), field.size());
}

void MacField(crypto_auth_hmacsha512256_state& m, std::string_view field) {
  unsigned char n[4] = {static_cast<unsigned char>(field.size() >> 24),
                        static_cast<unsigned char>(field.size() >> 16),
                        static_cast<unsigned char>(field.size() >> 8),
                        static_cast<unsigned char>(field.size())};
  crypto_auth_hmacsha512256_update(&m, n, sizeof n);
  crypto_auth_hmacsha512256_update(&m, reinterpret_cast<const unsigned char*>(field.data()),
                                   field.size());
}

std::string_view View(const unsigned char* p, size_t n) {
  return {reinterpret_cast<const char*>(p), n};
}

}  // namespace

std::string EncodeHello(const Hello& hello) {
  std::string out;
  PutU32(out, kLoginMethodSealed);
  out += hello.nonce;
  return out;
}

std::optional<Hello> DecodeHello(std::string_view payload) {
  if (payload.size() != 4 + kNonceSize) return std::nullopt;
  const auto* p = reinterpret_cast<const unsigned char*>(payload.data());
  const uint32_t method =
      (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
  if (method != kLoginMethodSealed) return std::nullopt;
  return Hello{std::string(payload.substr(4))};
}

std::string EncodeLoginShare(const LoginShare& login) {
  std::string out = login.user;
  out.push_back('\0');
  out += login.nonce;
  out += login.share;
  return out;
}

std::optional<LoginShare> DecodeLoginShare(std::string_view payload) {
  const size_t zero = payload.find('\0');
  if (zero == std::string_view::npos || zero > kMaxUserSize ||
      payload.size() - zero - 1 != kNonceSize + kShareSize) {
    return std::nullopt;
  }
  LoginShare r;
  r.user = std::string(payload.substr(0, zero));
  r.nonce = std::string(payload.substr(zero + 1, kNonceSize));
  r.share = std::string(payload.substr(zero + 1 + kNonceSize));
  return r;
}

LoginExchange::LoginExchange(Side side, std::string_view password, std::string_view user,
                             std::string_view device_nonce, std::string_view client_nonce)
    : side_(side), user_(user) {
  EnsureSodium();
  sid_.reserve(device_nonce.size() + client_nonce.size());
  sid_.append(device_nonce);
  sid_.append(client_nonce);

  // The generator: a point hashed from the password and everything that names
  // this exchange, so it is fresh for every login.
  unsigned char digest[crypto_hash_sha512_BYTES];
  crypto_hash_sha512_state h;
  crypto_hash_sha512_init(&h);
  HashField(h, kGeneratorLabel);
  HashField(h, password);
  HashField(h, user);
  HashField(h, sid_);
  crypto_hash_sha512_final(&h, digest);
  unsigned char generator[crypto_core_ristretto255_BYTES];
  crypto_core_ristretto255_from_hash(generator, digest);

  crypto_core_ristretto255_scalar_random(scalar_.data());
  unsigned char share[crypto_core_ristretto255_BYTES] = {};
  // Fails only for the identity as generator (a negligible chance): the all-zero
  // share then makes the peer refuse the login.
  if (crypto_scalarmult_ristretto255(share, scalar_.data(), generator) != 0) {
    sodium_memzero(share, sizeof share);
  }
  own_share_.assign(reinterpret_cast<const char*>(share), sizeof share);
  sodium_memzero(digest, sizeof digest);
  sodium_memzero(generator, sizeof generator);
  sodium_memzero(&h, sizeof h);
}

LoginExchange::~LoginExchange() {
  sodium_memzero(scalar_.data(), scalar_.size());
  sodium_memzero(session_key_.data(), session_key_.size());
}

bool LoginExchange::TakePeerShare(std::string_view peer_share) {
  if (keyed_ || peer_share.size() != kShareSize) return false;
  // A canonical encoding has the top bit clear; libsodium 1.0.18 decodes
  // without looking at it, so two encodings would name one point.
  if ((static_cast<unsigned char>(peer_share[kShareSize - 1]) & 0x80) != 0) return false;
  unsigned char shared[crypto_scalarmult_ristretto255_BYTES];
  // Refuses a non-canonical encoding and an identity result alike.
  if (crypto_scalarmult_ristretto255(shared, scalar_.data(),
                                     reinterpret_cast<const unsigned char*>(peer_share.data())) !=
      0) {
    return false;
  }
  peer_share_ = std::string(peer_share);
  const std::string_view client = side_ == Side::kClient ? own_share_ : peer_share_;
  const std::string_view device = side_ == Side::kClient ? peer_share_ : own_share_;
  crypto_hash_sha512_state h;
  crypto_hash_sha512_init(&h);
  HashField(h, kSessionKeyLabel);
  // The login method: a peer that announced another one (a link in clear)
  // computes another key, and the tags do not check.
  std::string method;
  PutU32(method, kLoginMethodSealed);
  HashField(h, method);
  HashField(h, sid_);
  HashField(h, View(shared, sizeof shared));
  HashField(h, client);
  HashField(h, user_);
  HashField(h, device);
  crypto_hash_sha512_final(&h, session_key_.data());
  sodium_memzero(shared, sizeof shared);
  sodium_memzero(&h, sizeof h);
  keyed_ = true;
  return true;
}

std::string LoginExchange::TagOf(Side side) const {
  const std::string_view client = side_ == Side::kClient ? own_share_ : peer_share_;
  const std::string_view device = side_ == Side::kClient ? peer_share_ : own_share_;
  crypto_auth_hmacsha512256_state m;
  crypto_auth_hmacsha512256_init(&m, session_key_.data(), session_key_.size());
  MacField(m, side == Side::kClient ? kClientTagLabel : kDeviceTagLabel);
  MacField(m, client);
  MacField(m, device);
  unsigned char tag[crypto_auth_hmacsha512256_BYTES];
  crypto_auth_hmacsha512256_final(&m, tag);
  sodium_memzero(&m, sizeof m);
  return std::string(reinterpret_cast<const char*>(tag), sizeof tag);
}

std::string LoginExchange::Tag() const { return keyed_ ? TagOf(side_) : std::string(); }

bool LoginExchange::CheckPeerTag(std::string_view tag) const {
  if (!keyed_ || tag.size() != kTagSize) return false;
  const std::string expected = TagOf(side_ == Side::kClient ? Side::kDevice : Side::kClient);
  return crypto_verify_32(reinterpret_cast<const unsigned char*>(expected.data()),
                          reinterpret_cast<const unsigned char*>(tag.data())) == 0;
}

std::string RandomBytes(size_t size) {
  EnsureSodium();
  std::string out(size, '\0');
  randombytes_buf(out.data(), size);
  return out;
}

}  // namespace varurovodiv::wire
