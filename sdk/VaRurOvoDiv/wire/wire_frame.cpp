#include "wire_frame.h"

#include <cstring>

namespace varurovodiv::wire {
namespace {

void PutU32(std::string& out, uint32_t v) {
  const char b[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                     static_cast<char>(v >> 8), static_cast<char>(v)};
  out.append(b, 4);
}

void PutU16(std::string& out, uint16_t v) {
  const char b[2] = {static_cast<char>(v >> 8), static_cast<char>(v)};
  out.append(b, 2);
}

uint32_t GetU32(const unsigned char* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

uint16_t GetU16(const unsigned char* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

}  // namespace

std::string EncodeFrame(uint16_t type, uint32_t sequence, int32_t handle, uint32_t command,
                        int32_t result, std::string_view payload) {
  std::string out;
  out.reserve(kHeaderSize + payload.size());
  PutU32(out, kMagic);
  PutU16(out, kVersion);
  PutU16(out, type);
  PutU32(out, sequence);
  PutU32(out, static_cast<uint32_t>(handle));
  PutU32(out, command);
  PutU32(out, static_cast<uint32_t>(result));
  PutU32(out, static_cast<uint32_t>(payload.size()));
  PutU32(out, 0);  // reserved
  out.append(payload);
  return out;
}

FrameHeader DecodeHeader(const unsigned char* p) {
  FrameHeader h;
  h.type = GetU16(p + 6);
  h.sequence = GetU32(p + 8);
  h.handle = static_cast<int32_t>(GetU32(p + 12));
  h.command = GetU32(p + 16);
  h.result = static_cast<int32_t>(GetU32(p + 20));
  h.payload_length = GetU32(p + 24);
  h.reserved = GetU32(p + 28);
  return h;
}

void EncodeHeader(const FrameHeader& h, unsigned char* p) {
  const uint32_t words[] = {kMagic, (uint32_t{kVersion} << 16) | h.type, h.sequence,
                            static_cast<uint32_t>(h.handle), h.command,
                            static_cast<uint32_t>(h.result), h.payload_length, h.reserved};
  for (uint32_t w : words) {
    p[0] = static_cast<unsigned char>(w >> 24);
    p[1] = static_cast<unsigned char>(w >> 16);
    p[2] = static_cast<unsigned char>(w >> 8);
    p[3] = static_cast<unsigned char>(w);
    p += 4;
  }
}

const char* ParseErrorText(ParseError error) {
  switch (error) {
    case ParseError::kNone: return "no error";
    case ParseError::kBadMagic: return "bad magic";
    case ParseError::kBadVersion: return "unsupported protocol version";
    case ParseError::kOversize: return "payload too long";
  }
  return "unknown";
}

bool FrameParser::Feed(const char* data, size_t size) {
  if (error_ != ParseError::kNone) return false;
  // Compact once the consumed prefix dominates, so the buffer stays bounded.
  if (offset_ > 0 && offset_ >= buffer_.size() / 2) {
    buffer_.erase(0, offset_);
    offset_ = 0;
  }
  buffer_.append(data, size);
  Check();
  return error_ == ParseError::kNone;
}

void FrameParser::Check() {
  // Validate the header as soon as enough bytes are there, before the payload
  // arrives: a bad stream is refused without buffering what it announces.
  const size_t avail = buffer_.size() - offset_;
  const auto* p = reinterpret_cast<const unsigned char*>(buffer_.data() + offset_);
  if (avail >= 4 && GetU32(p) != kMagic) {
    error_ = ParseError::kBadMagic;
  } else if (avail >= 6 && GetU16(p + 4) != kVersion) {
    error_ = ParseError::kBadVersion;
  } else if (avail >= kHeaderSize && GetU32(p + 24) > limit_) {
    error_ = ParseError::kOversize;
  }
}

std::optional<Frame> FrameParser::Next() {
  if (error_ != ParseError::kNone) return std::nullopt;
  Check();
  if (error_ != ParseError::kNone) return std::nullopt;
  const size_t avail = buffer_.size() - offset_;
  if (avail < kHeaderSize) return std::nullopt;
  const auto* p = reinterpret_cast<const unsigned char*>(buffer_.data() + offset_);
  Frame f;
  f.header = DecodeHeader(p);
  if (avail < kHeaderSize + f.header.payload_length) return std::nullopt;
  f.payload.assign(buffer_.data() + offset_ + kHeaderSize, f.header.payload_length);
  offset_ += kHeaderSize + f.header.payload_length;
  if (offset_ == buffer_.size()) {
    buffer_.clear();
    offset_ = 0;
  }
  Check();  // the next header, when already there, is judged at once
  return f;
}

void PutU64(std::string& out, uint64_t v) {
  PutU32(out, static_cast<uint32_t>(v >> 32));
  PutU32(out, static_cast<uint32_t>(v));
}

bool GetU64(std::string_view in, size_t offset, uint64_t& value) {
  if (in.size() < offset + 8) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(in.data() + offset);
  value = (uint64_t{GetU32(p)} << 32) | GetU32(p + 4);
  return true;
}

}  // namespace varurovodiv::wire
