#pragma once
// Big-endian byte helpers for building and reading MP4 boxes.
#include <cstdint>
#include <cstring>
#include <vector>

namespace rivelin {

inline void Put8(std::vector<uint8_t>& b, uint32_t v) { b.push_back(static_cast<uint8_t>(v)); }
inline void Put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}
inline void Put24(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v >> 16));
  Put16(b, v);
}
inline void Put32(std::vector<uint8_t>& b, uint32_t v) {
  Put16(b, v >> 16);
  Put16(b, v);
}
inline void PutType(std::vector<uint8_t>& b, const char* fourcc) {
  b.insert(b.end(), fourcc, fourcc + 4);
}
inline void PutZeros(std::vector<uint8_t>& b, size_t n) { b.insert(b.end(), n, 0); }
inline void PutBytes(std::vector<uint8_t>& b, const std::vector<uint8_t>& v) {
  b.insert(b.end(), v.begin(), v.end());
}
inline void Store32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}
inline uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t Get32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
inline uint64_t Get64(const uint8_t* p) { return (uint64_t{Get32(p)} << 32) | Get32(p + 4); }

}  // namespace rivelin
