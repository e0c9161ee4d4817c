#include "media/core/mpa_tags.h"

#include <cstring>

namespace kelvara::media {

namespace {

bool Matches(const std::uint8_t* p, const char* text) { return std::memcmp(p, text, std::strlen(text)) == 0; }

// 28-bit value of four bytes of 7 bits; -1 when a byte has its top bit set.
std::int64_t SynchsafeValue(const std::uint8_t* p) {
  std::int64_t v = 0;
  for (int i = 0; i < 4; ++i) {
    if (p[i] & 0x80) return -1;
    v = (v << 7) | p[i];
  }
  return v;
}

[[noreturn]] void TooLarge(const CMPAFileStream& stream) {
  throw CMPAException(CMPAException::EndOfBuffer, stream.FileName());
}

}  // namespace

CID3V1Tag::CID3V1Tag(CMPAFileStream& stream, std::int64_t offset) : CTag(stream, "ID3", true, offset, 128) {
  std::int64_t at = offset;
  const std::uint8_t* p = stream.ReadBuffer(128, at, false);
  if (p[125] == 0 && p[126] != 0)
    SetVersion(1, 1);
  else
    SetVersion(1, 0);
}

std::unique_ptr<CID3V1Tag> CID3V1Tag::FindTag(CMPAFileStream& stream, std::int64_t begin, std::int64_t end) {
  std::int64_t offset = end - 128;
  if (offset < begin) return nullptr;
  if (!Matches(stream.ReadBuffer(3, offset, false, true), "TAG")) return nullptr;
  return std::unique_ptr<CID3V1Tag>(new CID3V1Tag(stream, offset));
}

std::unique_ptr<CID3V2Tag> CID3V2Tag::FindTag(CMPAFileStream& stream, bool atEnd, std::int64_t begin,
                                              std::int64_t end) {
  std::int64_t offset = atEnd ? end - 10 : begin;
  if (offset < begin || end - begin < 10) return nullptr;
  const std::uint8_t* p = stream.ReadBuffer(10, offset, false, atEnd);
  if (!Matches(p, atEnd ? "3DI" : "ID3")) return nullptr;
  if (p[3] == 0xFF || p[4] == 0xFF) return nullptr;
  const std::int64_t body = SynchsafeValue(p + 6);
  if (body < 0) return nullptr;
  std::unique_ptr<CID3V2Tag> tag(new CID3V2Tag(stream, atEnd));
  tag->SetVersion(2, p[3], p[4]);
  const std::uint8_t flags = p[5];
  tag->unsynchronisation = (flags & 0x80) != 0;
  tag->extendedHeader = (flags & 0x40) != 0;
  tag->experimental = (flags & 0x20) != 0;
  tag->footer = (flags & 0x10) != 0;
  // Header, body and, when flagged, the 10-byte footer.
  tag->size_ = body + (tag->footer ? 20 : 10);
  tag->offset_ = atEnd ? offset - body - 10 : offset;
  if (atEnd && !tag->footer) return nullptr;
  if (tag->offset_ < begin || tag->offset_ + tag->size_ > end) TooLarge(stream);
  return tag;
}

std::unique_ptr<CAPETag> CAPETag::FindTag(CMPAFileStream& stream, bool atEnd, std::int64_t begin, std::int64_t end) {
  std::int64_t offset = atEnd ? end - 32 : begin;
  if (offset < begin || end - begin < 32) return nullptr;
  const std::uint8_t* p = stream.ReadBuffer(8, offset, false, atEnd);
  if (!Matches(p, "APETAGEX")) return nullptr;
  std::int64_t at = offset + 8;
  const std::uint32_t version = stream.ReadLEValue(4, at);
  const std::uint32_t size = stream.ReadLEValue(4, at);
  const std::uint32_t items = stream.ReadLEValue(4, at);
  const std::uint32_t flags = stream.ReadLEValue(4, at);
  std::unique_ptr<CAPETag> tag(new CAPETag(stream, atEnd));
  tag->SetVersion(static_cast<int>(version / 1000));
  tag->itemCount = items;
  tag->hasHeader = version / 1000 > 1 && (flags & 0x80000000u) != 0;
  const bool isHeader = version / 1000 > 1 && (flags & 0x40000000u) != 0;
  // A header found at the end, or a footer at the start, is not where the
  // format puts it.
  if (isHeader == atEnd) return nullptr;
  if (size < 32) return nullptr;
  tag->size_ = static_cast<std::int64_t>(size) + (tag->hasHeader ? 32 : 0);
  tag->offset_ = atEnd ? end - tag->size_ : offset;
  if (tag->offset_ < begin || tag->offset_ + tag->size_ > end) TooLarge(stream);
  return tag;
}

std::unique_ptr<CLyrics3Tag> CLyrics3Tag::FindTag(CMPAFileStream& stream, std::int64_t begin, std::int64_t end) {
  std::int64_t marker = end - 9;
  if (marker < begin) return nullptr;
  const std::uint8_t* p = stream.ReadBuffer(9, marker, false, true);
  std::unique_ptr<CLyrics3Tag> tag(new CLyrics3Tag(stream));
  if (Matches(p, "LYRICS200")) {
    std::int64_t digitsAt = marker - 6;
    if (digitsAt < begin) return nullptr;
    const std::uint8_t* d = stream.ReadBuffer(6, digitsAt, false, true);
    std::int64_t lyrics = 0;
    for (int i = 0; i < 6; ++i) {
      if (d[i] < '0' || d[i] > '9') return nullptr;
      lyrics = lyrics * 10 + (d[i] - '0');
    }
    tag->SetVersion(2);
    tag->offset_ = digitsAt - lyrics;
    tag->size_ = lyrics + 15;
    if (tag->offset_ < begin) TooLarge(stream);
    return tag;
  }
  if (!Matches(p, "LYRICSEND")) return nullptr;
  tag->SetVersion(1);
  const std::int64_t from = std::max(begin, marker - 5100);
  for (std::int64_t at = from; at + 11 <= marker; ++at) {
    std::int64_t probe = at;
    if (Matches(stream.ReadBuffer(11, probe, false), "LYRICSBEGIN")) {
      tag->offset_ = at;
      tag->size_ = marker - at + 9;
      return tag;
    }
  }
  throw CMPAException(CMPAException::CorruptLyricsTag, stream.FileName());
}

template <typename Finder>
bool CTags::Find(const ErrorSink& onError, std::int64_t& begin, std::int64_t& end, Finder finder) {
  try {
    std::unique_ptr<CTag> tag = finder();
    if (!tag) return false;
    if (tag->IsAtEnd())
      end = tag->GetOffset();
    else
      begin = tag->GetOffset() + tag->GetSize();
    tags_.push_back(std::move(tag));
    return true;
  } catch (const CMPAException& e) {
    if (onError) onError(e);
    return false;
  }
}

CTags::CTags(CMPAFileStream& stream, std::int64_t& begin, std::int64_t& end, const ErrorSink& onError) {
  Find(onError, begin, end, [&] { return CID3V1Tag::FindTag(stream, begin, end); });
  Find(onError, begin, end, [&] { return CID3V2Tag::FindTag(stream, true, begin, end); });
  const bool lyrics = Find(onError, begin, end, [&] { return CLyrics3Tag::FindTag(stream, begin, end); });
  Find(onError, begin, end, [&] { return CAPETag::FindTag(stream, true, begin, end); });
  if (!lyrics) Find(onError, begin, end, [&] { return CLyrics3Tag::FindTag(stream, begin, end); });
  Find(onError, begin, end, [&] { return CID3V2Tag::FindTag(stream, false, begin, end); });
  Find(onError, begin, end, [&] { return CAPETag::FindTag(stream, false, begin, end); });
}

}  // namespace kelvara::media
