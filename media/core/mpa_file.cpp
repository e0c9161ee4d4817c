#include "media/core/mpa_file.h"

#include <optional>

namespace kelvara::media {

namespace {
// Bytes a linear search may pass over before it gives up.
constexpr std::int64_t kMaxLinearSteps = 0x28000;
// The exact search tries the expected place and 3 bytes either side of it.
constexpr int kExactPlaces = 7;
// Frames read backwards start this far before their anchor.
constexpr std::int64_t kBackStep = 24;
}  // namespace

CMPAFile::CMPAFile(const std::string& path, std::int64_t begin, std::int64_t end, const CTags::ErrorSink& onTagError)
    : stream_(std::make_unique<CMPAFileStream>(path)) {
  Open(begin, end, onTagError);
}

CMPAFile::CMPAFile(const std::string& name, std::span<const std::uint8_t> bytes, const CTags::ErrorSink& onTagError)
    : stream_(std::make_unique<CMPAFileStream>(name, bytes)) {
  Open(begin_, end_, onTagError);
}

void CMPAFile::Open(std::int64_t begin, std::int64_t end, const CTags::ErrorSink& onTagError) {
  const std::int64_t size = stream_->GetSize();
  if (end == 0 || end > size) end = size;
  begin_ = std::max<std::int64_t>(0, begin);
  end_ = end;
  tags_ = std::make_unique<CTags>(*stream_, begin_, end_, onTagError);
  firstFrame_ = FindFrame(begin_, true, false, false, nullptr);
  try {
    vbrHeader_ = CVBRHeader::FindHeader(*stream_, firstFrame_->GetOffset(), firstFrame_->GetHeader());
  } catch (const CMPAException&) {
    // A damaged VBR header leaves a playable file without one.
  }
}

std::unique_ptr<CMPAFrame> CMPAFile::FrameAt(std::int64_t offset, bool checkSubsequent,
                                             const CMPAHeader* reference) {
  std::int64_t at = offset;
  const CMPAHeader header(stream_->ReadBuffer(4, at, false));
  if (reference && !reference->IsCompatible(header))
    throw CMPAException(CMPAException::IncompatibleHeader, stream_->FileName());
  auto frame = std::make_unique<CMPAFrame>(offset, header);
  if (checkSubsequent && frame->GetSubsequentHeaderOffset() < end_ - 4)
    FindFrame(frame->GetSubsequentHeaderOffset(), false, true, false, &frame->GetHeader());
  return frame;
}

std::unique_ptr<CMPAFrame> CMPAFile::FindFrame(std::int64_t offset, bool checkSubsequent, bool exact, bool reverse,
                                               const CMPAHeader* reference) {
  // A linear search passes over sync patterns that do not start a frame
  // (garbage, an unconfirmed frame) and goes on; should it find nothing, a
  // free-format frame it met is the better reason to give.
  std::optional<CMPAException> freeFormat;
  for (std::int64_t i = 1;; ++i) {
    if (offset < begin_ || offset >= end_ - 4) {
      if (freeFormat) throw *freeFormat;
      throw CMPAException(CMPAException::NoFrame, stream_->FileName());
    }
    std::int64_t at = offset;
    const std::uint8_t* p = stream_->ReadBuffer(2, at, false, reverse);
    if (IsFrameSync(p)) {
      try {
        return FrameAt(offset, checkSubsequent, reference);
      } catch (CMPAException& e) {
        e.SetFileName(stream_->FileName());
        if (exact) throw;
        if (e.GetErrorID() == CMPAException::FreeBitrate && !freeFormat) freeFormat = e;
      }
    }
    if (exact) {
      if (i >= kExactPlaces) throw CMPAException(CMPAException::NoFrameInTolerance, stream_->FileName());
      offset += (i % 2 == 1) ? i : -i;
    } else {
      if (i > kMaxLinearSteps) {
        if (freeFormat) throw *freeFormat;
        throw CMPAException(CMPAException::NoFrameInTolerance, stream_->FileName());
      }
      offset += reverse ? -1 : 1;
    }
  }
}

std::unique_ptr<CMPAFrame> CMPAFile::GetFrame(FrameType type, const CMPAFrame* frame, std::int64_t offset) {
  const CMPAHeader* reference = firstFrame_ ? &firstFrame_->GetHeader() : nullptr;
  try {
    switch (type) {
      case First:
        return FindFrame(begin_, true, false, false, nullptr);
      case Last:
        return FindFrame(end_ - kBackStep, false, false, true, reference);
      case Next:
        if (!frame) return nullptr;
        try {
          return FindFrame(frame->GetSubsequentHeaderOffset(), false, true, false, reference);
        } catch (const CMPAException&) {
          return FindFrame(frame->GetSubsequentHeaderOffset(), true, false, false, nullptr);
        }
      case Prev:
        if (!frame) return nullptr;
        return FindFrame(frame->GetOffset() - kBackStep, false, false, true, reference);
      case Resync:
        return FindFrame(offset, true, false, false, nullptr);
    }
  } catch (const CMPAException&) {
  }
  return nullptr;
}

}  // namespace kelvara::media
