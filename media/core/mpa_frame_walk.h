#pragma once
// The frames of an MP3 range in file order, for feeding a decoder.
//
// A frame counts only as the first of a run of kSyncRun frames whose headers
// follow each other exactly (each at the end of the one before) and agree in
// version, layer, sampling rate and mono-ness, or of a shorter such run that
// ends exactly at the end of the range (a file of a few frames). So bytes
// before the audio that happen to look like a header, and claim a length that
// reaches into the real frames, do not cut those frames off. Once in step the
// walk goes frame to frame; a frame whose successor is not a matching header
// makes the walk search again from that successor's place. A frame cut short
// by the end of the range is not given.
//
// Each search is linear in the bytes it passes over (every candidate place
// costs at most kSyncRun header reads), so the walk over a whole file is
// linear in its size, whatever the file holds.
#include <cstdint>
#include <optional>

#include "media/core/mpa_file_stream.h"
#include "media/core/mpa_header.h"

namespace kelvara::media {

struct MpaFrameSpan {
  std::int64_t offset = 0;
  std::uint32_t length = 0;
};

class MpaFrameWalk {
 public:
  static constexpr int kSyncRun = 4;

  // Walks [begin, end) of `stream`, which must outlive the walk. A search
  // for a run passes over at most `maxSearchBytes` bytes (-1: no bound);
  // past that the walk ends.
  MpaFrameWalk(CMPAFileStream& stream, std::int64_t begin, std::int64_t end, std::int64_t maxSearchBytes = -1);

  // The next frame; none at the end. Read errors of the stream raise.
  std::optional<MpaFrameSpan> Next();
  // Bytes passed over between frames so far.
  std::int64_t SkippedBytes() const { return skipped_; }

 private:
  // The header at `offset` when its 4 bytes lie in the range and decode
  // (free-format frames, whose length the header does not give, do not).
  std::optional<CMPAHeader> HeaderAt(std::int64_t offset);
  bool StartsRun(std::int64_t offset, const CMPAHeader& first);
  std::optional<MpaFrameSpan> Search(std::int64_t from);

  CMPAFileStream& stream_;
  const std::int64_t begin_;
  const std::int64_t end_;
  const std::int64_t maxSearch_;
  std::int64_t next_;
  std::optional<CMPAHeader> reference_;  // the header of the run in step; none while searching
  std::int64_t skipped_ = 0;
};

}  // namespace kelvara::media
