#pragma once
// The framed message of the device protocol (docs/device-protocol.md): a fixed
// 32-byte header in network byte order followed by a bounded payload.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varurovodiv::wire {

inline constexpr uint32_t kMagic = 0x56524F44;  // "VROD"
inline constexpr uint16_t kVersion = 1;
inline constexpr size_t kHeaderSize = 32;
// Largest payload a frame carries; the frames of a logged-in link add a
// kSealTagSize tag to it (link_seal.h), so a longer announced length than
// kMaxWirePayload closes the link.
inline constexpr uint32_t kMaxPayload = 1u << 20;
inline constexpr uint32_t kSealTagSize = 16;
inline constexpr uint32_t kMaxWirePayload = kMaxPayload + kSealTagSize;
// Whether a payload of `size` bytes goes in one frame. What a caller hands
// over for a frame is checked with this when it is taken, so that building
// the frame later cannot fail.
constexpr bool FitsOneFrame(size_t size) { return size <= kMaxPayload; }
// File transfers travel in chunks of at most this many bytes.
inline constexpr uint32_t kChunkSize = 64u * 1024u;
// Replies carry the type of their request with this bit set.
inline constexpr uint16_t kReplyBit = 0x8000;

enum class FrameType : uint16_t {
  kHello = 1,           // device -> client at connect: login method, device nonce
  kLogin = 2,           // the client's confirmation tag; the reply is the verdict
                        // (login_handshake.h)
  kHeartbeat = 3,
  kSystemControl = 4,   // command = control code, payload = request text
  kGetConfig = 5,       // command = get code
  kSetConfig = 6,       // command = set code, payload = block text
  kSetDeviceConfig = 7, // command = device-config code, payload = text
  kReboot = 8,
  kRestoreConfig = 9,
  kPutBegin = 10,       // command = TransferKind, payload = u64 size + name
  kPutData = 11,        // payload = chunk
  kPutEnd = 12,         // payload = SHA-256 of the whole file
  kProgress = 13,       // device -> client, result = percent
  kGetFile = 14,        // command = TransferKind, payload = device path
  kFileData = 15,       // device -> client, payload = chunk
  kFileEnd = 16,        // device -> client, payload = SHA-256 of the file
  kEvent = 17,          // device -> client, command = status-event code
  kLoginShare = 18,     // user name, zero, client nonce, client share; the reply
                        // carries the device's share
  // 19-31 are free for other requests. 32-47: the talk (talk_wire.h).
  kTalkStart = 32,      // command = 0, payload = TalkParams; the device replies
  kTalkData = 33,       // command = tag (format value), payload = audio; no reply
  kTalkStop = 34,       // command = 0, empty; the device replies
};

enum class TransferKind : uint32_t {
  kConfigFile = 1,
  kFirmware = 2,
  kOemAppFile = 3,
  kFileByName = 4,
  kOemMp3File = 5,
};

// Results carried in replies (device side) besides 0 = done.
enum WireResult : int32_t {
  kResultOk = 0,
  kResultBadCredentials = 1,
  kResultNotFound = 2,
  kResultBadRequest = 3,
  kResultBusy = 4,
  kResultChecksum = 5,
  kResultUnsupported = 6,
};

struct FrameHeader {
  uint16_t type = 0;
  uint32_t sequence = 0;
  int32_t handle = 0;
  uint32_t command = 0;
  int32_t result = 0;
  uint32_t payload_length = 0;
  uint32_t reserved = 0;
};

struct Frame {
  FrameHeader header;
  std::string payload;
};

// Serialises one frame (header + payload). The payload must not exceed kMaxPayload.
std::string EncodeFrame(uint16_t type, uint32_t sequence, int32_t handle, uint32_t command,
                        int32_t result, std::string_view payload);
inline std::string EncodeFrame(FrameType type, uint32_t sequence, int32_t handle, uint32_t command,
                               int32_t result, std::string_view payload) {
  return EncodeFrame(static_cast<uint16_t>(type), sequence, handle, command, result, payload);
}

// Reads a header from exactly kHeaderSize bytes (no validation).
FrameHeader DecodeHeader(const unsigned char* bytes);
// Writes a header's kHeaderSize bytes as they go on the wire.
void EncodeHeader(const FrameHeader& header, unsigned char* bytes);

enum class ParseError {
  kNone = 0,
  kBadMagic,
  kBadVersion,
  kOversize,
};
const char* ParseErrorText(ParseError error);

// Incremental frame parser: bytes go in as they arrive, whole frames come out.
// After the first error it stays failed; the owner then closes the connection.
class FrameParser {
 public:
  // The longest payload a header may announce (kMaxWirePayload unless
  // lowered, e.g. to the size of the login's messages before a login); a
  // header over it fails the stream before its payload is buffered.
  void set_payload_limit(uint32_t limit) { limit_ = limit; }
  // Appends received bytes; returns false once the stream is known to be bad.
  bool Feed(const char* data, size_t size);
  // Takes the next complete frame, if any.
  std::optional<Frame> Next();
  ParseError error() const { return error_; }
  size_t buffered() const { return buffer_.size() - offset_; }

 private:
  void Check();
  std::string buffer_;
  size_t offset_ = 0;
  uint32_t limit_ = kMaxWirePayload;
  ParseError error_ = ParseError::kNone;
};

// Big-endian helpers for small payload fields.
void PutU64(std::string& out, uint64_t value);
bool GetU64(std::string_view in, size_t offset, uint64_t& value);

}  // namespace varurovodiv::wire
