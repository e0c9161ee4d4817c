#include "media/core/vbr_header.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "media/core/mpa_exception.h"

namespace kelvara::media {

namespace {

float ClampPercent(float percent) { return std::clamp(percent, 0.0f, 99.0f); }

}  // namespace

std::optional<std::uint32_t> CVBRHeader::SeekPoint(float) const { return std::nullopt; }

std::unique_ptr<CVBRHeader> CVBRHeader::FindHeader(CMPAFileStream& stream, std::int64_t frameOffset,
                                                   const CMPAHeader& header) {
  if (auto xing = CXINGHeader::FindHeader(stream, frameOffset, header)) return xing;
  if (auto vbri = CVBRIHeader::FindHeader(stream, frameOffset, header)) return vbri;
  return nullptr;
}

std::unique_ptr<CXINGHeader> CXINGHeader::FindHeader(CMPAFileStream& stream, std::int64_t frameOffset,
                                                     const CMPAHeader& header) {
  std::int64_t at = frameOffset + 4 + header.GetSideInfoSize();
  const std::uint8_t* p;
  try {
    p = stream.ReadBuffer(4, at, true);
  } catch (const CMPAException&) {
    return nullptr;
  }
  const bool xing = std::memcmp(p, "Xing", 4) == 0;
  const bool info = std::memcmp(p, "Info", 4) == 0;
  if (!xing && !info) return nullptr;
  std::unique_ptr<CXINGHeader> h(new CXINGHeader(at - 4));
  h->isInfo = info;
  try {
    h->flags = stream.ReadBEValue(4, at);
    if (h->flags & 0x1) h->frames = stream.ReadBEValue(4, at);
    if (h->flags & 0x2) h->bytes = stream.ReadBEValue(4, at);
    if (h->flags & 0x4) {
      const std::uint8_t* t = stream.ReadBuffer(100, at, true);
      h->toc.assign(t, t + 100);
    }
    if (h->flags & 0x8) h->quality = stream.ReadBEValue(4, at);
  } catch (const CMPAException&) {
    throw CMPAException(CMPAException::IncompleteVBRHeader, stream.FileName());
  }
  return h;
}

std::optional<std::uint32_t> CXINGHeader::SeekPoint(float percent) const {
  if (toc.size() != 100 || bytes == 0) return std::nullopt;
  percent = ClampPercent(percent);
  const int i = static_cast<int>(percent);
  const float a = static_cast<float>(toc[i]);
  const float b = i > 98 ? 256.0f : static_cast<float>(toc[i + 1]);
  const float x = a + (b - a) * (percent - static_cast<float>(i));
  return static_cast<std::uint32_t>(x / 256.0f * static_cast<float>(bytes));
}

std::unique_ptr<CVBRIHeader> CVBRIHeader::FindHeader(CMPAFileStream& stream, std::int64_t frameOffset,
                                                     const CMPAHeader& header) {
  std::int64_t at = frameOffset + 36;
  try {
    if (std::memcmp(stream.ReadBuffer(4, at, true), "VBRI", 4) != 0) return nullptr;
  } catch (const CMPAException&) {
    return nullptr;
  }
  std::unique_ptr<CVBRIHeader> h(new CVBRIHeader(at - 4));
  try {
    h->version = stream.ReadBEValue(2, at);
    h->delay = stream.ReadBEValue(2, at);
    h->quality = stream.ReadBEValue(2, at);
    h->bytes = stream.ReadBEValue(4, at);
    h->frames = stream.ReadBEValue(4, at);
    const std::uint32_t entries = stream.ReadBEValue(2, at) + 1;
    h->scale = stream.ReadBEValue(2, at);
    h->entrySize = stream.ReadBEValue(2, at);
    h->framesPerEntry = stream.ReadBEValue(2, at);
    // The table must fit the file before anything is allocated for it.
    if (h->entrySize < 1 || h->entrySize > 4) throw CMPAException(CMPAException::IncompleteVBRHeader);
    const std::int64_t tableBytes = static_cast<std::int64_t>(entries) * h->entrySize;
    if (at + tableBytes > stream.GetSize()) throw CMPAException(CMPAException::IncompleteVBRHeader);
    const std::uint8_t* t = stream.ReadBuffer(static_cast<std::size_t>(tableBytes), at, true);
    h->toc.reserve(entries);
    for (std::uint32_t e = 0; e < entries; ++e) {
      std::uint32_t v = 0;
      for (std::uint32_t k = 0; k < h->entrySize; ++k) v = (v << 8) | t[e * h->entrySize + k];
      h->toc.push_back(v);
    }
  } catch (const CMPAException&) {
    throw CMPAException(CMPAException::IncompleteVBRHeader, stream.FileName());
  }
  h->lengthSec = static_cast<std::uint32_t>(header.GetLengthSecs(h->frames));
  return h;
}

// Walks the table, each entry being the scaled byte size of framesPerEntry
// frames, to the wanted share of the frame count, and interpolates inside
// the entry where it lands.
std::optional<std::uint32_t> CVBRIHeader::SeekPoint(float percent) const {
  if (toc.empty() || bytes == 0 || frames == 0 || framesPerEntry == 0) return std::nullopt;
  percent = ClampPercent(percent);
  const double wanted = static_cast<double>(frames) * percent / 100.0;
  double frame = 0.0, position = 0.0;
  for (std::uint32_t value : toc) {
    const double size = static_cast<double>(value) * (scale ? scale : 1);
    if (frame + framesPerEntry >= wanted) {
      position += size * (wanted - frame) / framesPerEntry;
      return static_cast<std::uint32_t>(std::min(position, static_cast<double>(bytes)));
    }
    frame += framesPerEntry;
    position += size;
  }
  return static_cast<std::uint32_t>(std::min(position, static_cast<double>(bytes)));
}

}  // namespace kelvara::media
