#pragma once
// An MP3 file analysed for sending: the audio range between its tags, its
// first frame and VBR header, and a frame-by-frame walk that resynchronises
// after damage.
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "media/core/mpa_exception.h"
#include "media/core/mpa_file_stream.h"
#include "media/core/mpa_header.h"
#include "media/core/mpa_tags.h"
#include "media/core/vbr_header.h"

namespace kelvara::media {

class CMPAFrame {
 public:
  CMPAFrame(std::int64_t offset, const CMPAHeader& header)
      : offset_(offset), header_(header), length_(header.CalcFrameSize()) {}
  std::int64_t GetOffset() const { return offset_; }
  std::uint32_t GetLength() const { return length_; }
  std::int64_t GetSubsequentHeaderOffset() const { return offset_ + length_; }
  const CMPAHeader& GetHeader() const { return header_; }

 private:
  std::int64_t offset_;
  CMPAHeader header_;
  std::uint32_t length_;
};

class CMPAFile {
 public:
  enum FrameType { First, Last, Next, Prev, Resync };

  // Opens and analyses [begin, end) of the file (end 0: its size). Raises
  // CMPAException when the file cannot be read or holds no frame. Tag errors
  // go to `onTagError` and the search goes on.
  explicit CMPAFile(const std::string& path, std::int64_t begin = 0, std::int64_t end = 0,
                    const CTags::ErrorSink& onTagError = {});
  // The same over bytes in memory.
  CMPAFile(const std::string& name, std::span<const std::uint8_t> bytes, const CTags::ErrorSink& onTagError = {});

  // The frame of this kind relative to `frame` (First/Last ignore it; Resync
  // searches from `offset`); none when there is none.
  std::unique_ptr<CMPAFrame> GetFrame(FrameType type, const CMPAFrame* frame = nullptr, std::int64_t offset = 0);

  std::int64_t GetBegin() const { return begin_; }
  std::int64_t GetEnd() const { return end_; }
  std::int64_t GetAudioBytes() const { return end_ - begin_; }
  const CMPAFrame& GetFirstFrame() const { return *firstFrame_; }
  const CVBRHeader* GetVBRHeader() const { return vbrHeader_.get(); }
  const CTags& GetTags() const { return *tags_; }
  CMPAFileStream& GetStream() { return *stream_; }

 private:
  void Open(std::int64_t begin, std::int64_t end, const CTags::ErrorSink& onTagError);
  std::unique_ptr<CMPAFrame> FindFrame(std::int64_t offset, bool checkSubsequent, bool exact, bool reverse,
                                       const CMPAHeader* reference);
  std::unique_ptr<CMPAFrame> FrameAt(std::int64_t offset, bool checkSubsequent, const CMPAHeader* reference);

  std::unique_ptr<CMPAFileStream> stream_;
  std::int64_t begin_ = 0;
  std::int64_t end_ = 0;
  std::unique_ptr<CTags> tags_;
  std::unique_ptr<CMPAFrame> firstFrame_;
  std::unique_ptr<CVBRHeader> vbrHeader_;
};

}  // namespace kelvara::media
