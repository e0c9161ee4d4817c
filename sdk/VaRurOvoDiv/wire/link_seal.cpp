#include "link_seal.h"

#include <sodium.h>

#include <limits>
#include <stdexcept>

namespace varurovodiv::wire {
namespace {

constexpr std::string_view kClientToDeviceLabel = "VROD-seal-client-to-device";
constexpr std::string_view kDeviceToClientLabel = "VROD-seal-device-to-client";

static_assert(crypto_aead_chacha20poly1305_ietf_ABYTES == kSealTagSize);
static_assert(crypto_aead_chacha20poly1305_ietf_KEYBYTES == 32);

// The nonce of the frame numbered `count` in its direction: four zero bytes,
// then the count, big-endian.
std::array<unsigned char, crypto_aead_chacha20poly1305_ietf_NPUBBYTES> Nonce(uint64_t count) {
  std::array<unsigned char, crypto_aead_chacha20poly1305_ietf_NPUBBYTES> n{};
  for (int i = 0; i < 8; ++i) n[n.size() - 1 - i] = static_cast<unsigned char>(count >> (8 * i));
  return n;
}

void DeriveKey(std::array<unsigned char, 32>& key, const std::array<unsigned char, 64>& session_key,
               std::string_view label) {
  crypto_generichash(key.data(), key.size(), reinterpret_cast<const unsigned char*>(label.data()),
                     label.size(), session_key.data(), session_key.size());
}

}  // namespace

LinkSeal::LinkSeal(const LoginExchange& exchange) {
  if (!exchange.keyed()) throw std::logic_error("no session key to seal the link with");
  const bool client = exchange.side() == LoginExchange::Side::kClient;
  DeriveKey(send_key_, exchange.session_key_, client ? kClientToDeviceLabel : kDeviceToClientLabel);
  DeriveKey(receive_key_, exchange.session_key_,
            client ? kDeviceToClientLabel : kClientToDeviceLabel);
}

LinkSeal::LinkSeal(const std::array<unsigned char, 32>& send_key,
                   const std::array<unsigned char, 32>& receive_key)
    : send_key_(send_key), receive_key_(receive_key) {
  if (sodium_init() < 0) throw std::runtime_error("libsodium did not initialise");
}

LinkSeal::~LinkSeal() {
  sodium_memzero(send_key_.data(), send_key_.size());
  sodium_memzero(receive_key_.data(), receive_key_.size());
}

bool LinkSeal::Append(std::string& out, uint16_t type, uint32_t sequence, int32_t handle,
                      uint32_t command, int32_t result, std::string_view payload) {
  // 2^64 frames are out of reach; the count must still never wrap to a used nonce.
  if (!FitsOneFrame(payload.size()) || sent_ == std::numeric_limits<uint64_t>::max()) return false;
  FrameHeader h;
  h.type = type;
  h.sequence = sequence;
  h.handle = handle;
  h.command = command;
  h.result = result;
  h.payload_length = static_cast<uint32_t>(payload.size() + kSealTagSize);
  const size_t at = out.size();
  out.resize(at + kHeaderSize + payload.size() + kSealTagSize);
  auto* p = reinterpret_cast<unsigned char*>(out.data() + at);
  EncodeHeader(h, p);
  const auto nonce = Nonce(sent_++);
  crypto_aead_chacha20poly1305_ietf_encrypt_detached(
      p + kHeaderSize, p + kHeaderSize + payload.size(), nullptr,
      reinterpret_cast<const unsigned char*>(payload.data()), payload.size(), p, kHeaderSize,
      nullptr, nonce.data(), send_key_.data());
  return true;
}

bool LinkSeal::Open(Frame& frame) {
  if (frame.payload.size() < kSealTagSize || frame.payload.size() != frame.header.payload_length ||
      opened_ == std::numeric_limits<uint64_t>::max()) {
    return false;
  }
  unsigned char header[kHeaderSize];
  EncodeHeader(frame.header, header);
  const size_t size = frame.payload.size() - kSealTagSize;
  auto* p = reinterpret_cast<unsigned char*>(frame.payload.data());
  const auto nonce = Nonce(opened_);
  if (crypto_aead_chacha20poly1305_ietf_decrypt_detached(p, nullptr, p, size, p + size, header,
                                                         kHeaderSize, nonce.data(),
                                                         receive_key_.data()) != 0) {
    return false;
  }
  ++opened_;
  frame.payload.resize(size);
  frame.header.payload_length = static_cast<uint32_t>(size);
  return true;
}

}  // namespace varurovodiv::wire
