#pragma once
// VBR headers inside the first frame of an MP3 file: Xing/Info and VBRI.
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "media/core/mpa_file_stream.h"
#include "media/core/mpa_header.h"

namespace kelvara::media {

class CVBRHeader {
 public:
  virtual ~CVBRHeader() = default;
  // Byte position for a share of the playing time (percent clamped to
  // 0..99); none without a table or a byte count.
  virtual std::optional<std::uint32_t> SeekPoint(float percent) const;

  // The Xing or VBRI header of the frame at `frameOffset`, or none. Raises
  // IncompleteVBRHeader when a marker is there but its fields are not.
  static std::unique_ptr<CVBRHeader> FindHeader(CMPAFileStream& stream, std::int64_t frameOffset,
                                                const CMPAHeader& header);

  std::int64_t offset = 0;
  std::uint32_t frames = 0;
  std::uint32_t bytes = 0;
  std::uint32_t quality = 0;
  std::vector<std::uint32_t> toc;

 protected:
  explicit CVBRHeader(std::int64_t at) : offset(at) {}
};

class CXINGHeader : public CVBRHeader {
 public:
  static std::unique_ptr<CXINGHeader> FindHeader(CMPAFileStream& stream, std::int64_t frameOffset,
                                                 const CMPAHeader& header);
  std::optional<std::uint32_t> SeekPoint(float percent) const override;
  bool isInfo = false;  // "Info": the same header in a constant-rate file
  std::uint32_t flags = 0;

 private:
  using CVBRHeader::CVBRHeader;
};

class CVBRIHeader : public CVBRHeader {
 public:
  static std::unique_ptr<CVBRIHeader> FindHeader(CMPAFileStream& stream, std::int64_t frameOffset,
                                                 const CMPAHeader& header);
  std::optional<std::uint32_t> SeekPoint(float percent) const override;
  std::uint32_t version = 0, delay = 0, scale = 0, entrySize = 0, framesPerEntry = 0;
  std::uint32_t lengthSec = 0;  // playing time of the frame count, whole seconds

 private:
  using CVBRHeader::CVBRHeader;
};

}  // namespace kelvara::media
