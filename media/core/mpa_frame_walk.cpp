#include "media/core/mpa_frame_walk.h"

#include "media/core/mpa_exception.h"

namespace kelvara::media {

namespace {

// The fields a header decode refuses, checked without raising: most places
// of a junk search fail here, and an exception for each would cost far more
// than the search.
bool PlausibleHeader(const std::uint8_t* p) {
  if (!IsFrameSync(p)) return false;
  const int version = (p[1] >> 3) & 0x03, layer = (p[1] >> 1) & 0x03;
  const int bitrate = (p[2] >> 4) & 0x0F, rate = (p[2] >> 2) & 0x03;
  return version != 1 && layer != 0 && bitrate != 0 && bitrate != 15 && rate != 3 && (p[3] & 0x03) != 2;
}

}  // namespace

MpaFrameWalk::MpaFrameWalk(CMPAFileStream& stream, std::int64_t begin, std::int64_t end, std::int64_t maxSearchBytes)
    : stream_(stream),
      begin_(std::max<std::int64_t>(0, begin)),
      end_(std::max(begin_, end)),
      maxSearch_(maxSearchBytes),
      next_(begin_) {}

std::optional<CMPAHeader> MpaFrameWalk::HeaderAt(std::int64_t offset) {
  if (offset < begin_ || offset + 4 > end_) return std::nullopt;
  std::int64_t at = offset;
  const std::uint8_t* p = stream_.ReadBuffer(4, at, false);
  if (!PlausibleHeader(p)) return std::nullopt;
  try {
    CMPAHeader header(p);
    if (header.CalcFrameSize() < 4) return std::nullopt;
    return header;
  } catch (const CMPAException& e) {
    if (e.GetErrorID() == CMPAException::EndOfBuffer || e.GetErrorID() == CMPAException::ErrReadFile) throw;
    return std::nullopt;
  }
}

bool MpaFrameWalk::StartsRun(std::int64_t offset, const CMPAHeader& first) {
  std::int64_t at = offset + first.CalcFrameSize();
  for (int count = 1; count < kSyncRun; ++count) {
    if (at == end_) return true;
    const auto header = HeaderAt(at);
    if (!header || !first.IsCompatible(*header)) return false;
    at += header->CalcFrameSize();
  }
  return true;
}

std::optional<MpaFrameSpan> MpaFrameWalk::Search(std::int64_t from) {
  std::int64_t at = from;
  for (; at + 4 <= end_ && (maxSearch_ < 0 || at - from <= maxSearch_); ++at) {
    const auto header = HeaderAt(at);
    if (!header || !StartsRun(at, *header)) continue;
    skipped_ += at - from;
    reference_ = header;
    return MpaFrameSpan{at, header->CalcFrameSize()};
  }
  skipped_ += at - from;
  next_ = end_;
  return std::nullopt;
}

std::optional<MpaFrameSpan> MpaFrameWalk::Next() {
  std::optional<MpaFrameSpan> frame;
  if (reference_) {
    if (next_ >= end_) return std::nullopt;
    const auto header = HeaderAt(next_);
    if (header && reference_->IsCompatible(*header)) frame = MpaFrameSpan{next_, header->CalcFrameSize()};
  }
  if (!frame) {
    reference_.reset();
    frame = Search(next_);
    if (!frame) return std::nullopt;
  }
  if (frame->offset + frame->length > end_) {
    // Cut short by the end of the range.
    next_ = end_;
    return std::nullopt;
  }
  next_ = frame->offset + frame->length;
  return frame;
}

}  // namespace kelvara::media
