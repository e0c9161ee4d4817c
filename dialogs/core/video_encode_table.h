#pragma once
// The built-in video encode capability table and the lists the encode page
// builds from it: formats, resolutions, quality steps, frame rates and the
// bit-rate range of a resolution.
#include <string>
#include <vector>

namespace kelvara::dialogs {

struct VideoEncodeCapabilityRow {
  std::string resolution;
  std::string encodeFormat;
  int stream = 0;  // 0 main, 1 sub, 2 third
  int defaultBitRate = 0, minBitRate = 0, maxBitRate = 0;  // kbps
  int defaultFrameRate = 0, minFrameRate = 0, maxFrameRate = 0;
  int preferred = 0;
};

// The 136 rows in their fixed order.
const std::vector<VideoEncodeCapabilityRow>& VideoEncodeCapabilityTable();

struct QualityEntry {
  std::string captionKey;
  int bitRate = 0;
};

struct BitRateRange {
  int min = 0, max = 0;
};

// Queries over a table (the page's copy).
class VideoEncodeCapabilities {
 public:
  explicit VideoEncodeCapabilities(std::vector<VideoEncodeCapabilityRow> rows = VideoEncodeCapabilityTable())
      : rows_(std::move(rows)) {}

  const std::vector<VideoEncodeCapabilityRow>& Rows() const { return rows_; }
  // Distinct formats of a stream in ascending byte order.
  std::vector<std::string> Formats(int stream) const;
  // Resolutions of a stream and format, table order, each once.
  std::vector<std::string> Resolutions(int stream, const std::string& format) const;
  // First row of this resolution, stream and format (an empty format matches any).
  const VideoEncodeCapabilityRow* FindRow(int stream, const std::string& resolution, const std::string& format) const;
  // Bit-rate range of the last matching row; 0..0 with none.
  BitRateRange RangeOf(int stream, const std::string& resolution, const std::string& format) const;
  // Resolution of the stream's Preferred rows: the first in table order
  // (Default) or the last (when a stream's list has no selection).
  std::string PreferredResolution(int stream, bool last) const;

 private:
  std::vector<VideoEncodeCapabilityRow> rows_;
};

// Six quality entries of a row: custom, worser, worse, normal, good, best.
std::vector<QualityEntry> QualityEntries(const VideoEncodeCapabilityRow& row);
// "5".."30" for a row; the main stream falls back to 1..30 on an empty range.
std::vector<int> FrameRates(const VideoEncodeCapabilityRow& row, bool mainStream);

}  // namespace kelvara::dialogs
