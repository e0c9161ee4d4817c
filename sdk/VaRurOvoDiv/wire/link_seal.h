#pragma once
// The sealing of a logged-in link: every frame after the login travels
// authenticated and encrypted under a key of its direction, so a relay or
// anyone else on the path can neither read nor alter, drop, reorder, replay
// or inject a frame without the link ending.
//
// Both directions' keys are derived from the login's session key (BLAKE2b
// keyed with it, one label per direction). A frame is sealed with
// ChaCha20-Poly1305 (IETF): its payload is encrypted, its 32-byte header (with
// the length counting the tag) is the associated data, the nonce is the
// number of frames sent before it in that direction, and the 16-byte tag
// follows the payload. The receiver counts the frames it opened, so a frame
// repeated, taken out or moved does not open.
#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "login_handshake.h"
#include "wire_frame.h"

namespace varurovodiv::wire {

class LinkSeal {
 public:
  // The keys of the link that `exchange` logged in (the peer's share taken).
  explicit LinkSeal(const LoginExchange& exchange);
  // The keys of both directions given directly (the fuzz target's fixed link).
  LinkSeal(const std::array<unsigned char, 32>& send_key,
           const std::array<unsigned char, 32>& receive_key);
  ~LinkSeal();
  LinkSeal(const LinkSeal&) = delete;
  LinkSeal& operator=(const LinkSeal&) = delete;

  // Appends one sealed frame to `out`. False, with nothing appended and
  // nothing counted (the link stays in step), when the frame cannot be
  // sealed: a payload over kMaxPayload (FitsOneFrame), or the frame count
  // used up.
  [[nodiscard]] bool Append(std::string& out, uint16_t type, uint32_t sequence, int32_t handle,
                            uint32_t command, int32_t result, std::string_view payload);
  [[nodiscard]] bool Append(std::string& out, FrameType type, uint32_t sequence, int32_t handle,
                            uint32_t command, int32_t result, std::string_view payload) {
    return Append(out, static_cast<uint16_t>(type), sequence, handle, command, result, payload);
  }
  // One sealed frame, for a payload the caller has bounded: throws
  // std::length_error where Append returns false.
  std::string Seal(uint16_t type, uint32_t sequence, int32_t handle, uint32_t command,
                   int32_t result, std::string_view payload) {
    std::string out;
    if (!Append(out, type, sequence, handle, command, result, payload)) {
      throw std::length_error("frame cannot be sealed");
    }
    return out;
  }
  std::string Seal(FrameType type, uint32_t sequence, int32_t handle, uint32_t command,
                   int32_t result, std::string_view payload) {
    return Seal(static_cast<uint16_t>(type), sequence, handle, command, result, payload);
  }

  // Opens a received frame in place: the payload loses its tag. False when
  // it does not open (altered, out of order, repeated, of another link or
  // direction, or shorter than a tag); the link must then end, and the frame
  // is not to be used.
  bool Open(Frame& frame);

  // Frames sealed and opened so far.
  uint64_t sent() const { return sent_; }
  uint64_t opened() const { return opened_; }

 private:
  std::array<unsigned char, 32> send_key_{};
  std::array<unsigned char, 32> receive_key_{};
  uint64_t sent_ = 0;
  uint64_t opened_ = 0;
};

}  // namespace varurovodiv::wire
