#include "dialogs/core/video_encode_table.h"

#include <algorithm>

namespace kelvara::dialogs {
namespace {

using Row = VideoEncodeCapabilityRow;

struct Cell {
  int def, min, max;
};

void AddMain(std::vector<Row>& rows) {
  // Main-stream blocks: resolution order differs per format (see below).
  struct MainRes {
    const char* name;
    Cell h264, h265, h265p, mjpeg;
  };
  static const MainRes kRes[] = {
      {"4000X3000", {8000, 500, 12000}, {8000, 500, 12000}, {8000, 500, 12000}, {8000, 500, 12000}},
      {"3840X2160", {8000, 500, 12000}, {6000, 500, 12000}, {6000, 500, 12000}, {6000, 500, 12000}},
      {"4K", {9000, 500, 12000}, {6000, 500, 12000}, {6000, 500, 12000}, {6000, 500, 12000}},
      {"3072X2048", {8000, 500, 10000}, {6000, 500, 10000}, {6000, 500, 10000}, {6000, 500, 10000}},
      {"3072X1728", {6000, 500, 10000}, {6000, 500, 10000}, {6000, 500, 10000}, {6000, 500, 10000}},
      {"5MP", {6000, 500, 10000}, {6000, 500, 10000}, {6000, 500, 10000}, {6000, 500, 10000}},
      {"2592X1944", {6000, 500, 8000}, {6000, 500, 8000}, {6000, 500, 8000}, {6000, 500, 8000}},
      {"2592X1520", {6000, 500, 8000}, {6000, 500, 8000}, {6000, 500, 8000}, {6000, 500, 8000}},
      {"2560X1440", {6000, 500, 10000}, {6000, 500, 10000}, {6000, 500, 10000}, {6000, 500, 10000}},
      {"3MP", {5000, 500, 5000}, {3000, 500, 3500}, {3000, 500, 3500}, {3000, 500, 3500}},
      {"2048X1536", {6000, 500, 8000}, {3500, 500, 6000}, {3500, 500, 6000}, {3500, 500, 6000}},
      {"2048X1520", {5500, 500, 8000}, {5500, 500, 8000}, {5500, 500, 8000}, {5500, 500, 8000}},
      {"2048X1512", {6000, 500, 8000}, {6000, 500, 8000}, {6000, 500, 8000}, {6000, 500, 8000}},
      {"2304X1296", {5500, 500, 8000}, {5500, 500, 8000}, {5500, 500, 8000}, {5500, 500, 8000}},
      {"1920X1536", {5500, 500, 8000}, {6000, 500, 8000}, {6000, 500, 8000}, {6000, 500, 8000}},
      {"1080P", {3200, 500, 8000}, {3200, 500, 8000}, {3200, 500, 8000}, {0, 0, 0}},
      {"1920X1088", {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {2000, 500, 4000}},
      {"960P", {3000, 500, 8000}, {3000, 500, 8000}, {3000, 500, 8000}, {3000, 500, 8000}},
      {"720P", {2500, 500, 8000}, {2500, 500, 8000}, {2500, 500, 8000}, {2500, 500, 8000}},
      {"D1", {500, 50, 2000}, {500, 50, 2000}, {500, 50, 2000}, {500, 50, 2000}},
  };
  const char* formats[] = {"H264", "H265", "H265+", "MJPEG"};
  for (int f = 0; f < 4; ++f) {
    std::vector<const MainRes*> order;
    for (const auto& r : kRes) order.push_back(&r);
    // H264 lists 2304X1296 before 1920X1536, the other formats the reverse.
    if (f != 0) std::swap(order[13], order[14]);
    for (const MainRes* r : order) {
      const Cell c = f == 0 ? r->h264 : f == 1 ? r->h265 : f == 2 ? r->h265p : r->mjpeg;
      if (c.max == 0) continue;  // no row for this format
      Row row{r->name, formats[f], 0, c.def, c.min, c.max, 25, 5, 30, 0};
      const std::string name = r->name;
      if (name == "4K") row.defaultFrameRate = 30;
      if (name == "1080P") row.preferred = 1;
      if (name == "960P" && (f == 1 || f == 2)) {
        row.defaultFrameRate = 20;
        row.minFrameRate = 1;
        row.maxFrameRate = 20;
      }
      if (name == "960P" && f == 3) row.minFrameRate = 1;
      rows.push_back(row);
    }
  }
}

void AddSub(std::vector<Row>& rows) {
  static const char* kRes[] = {"720X480", "D1",     "VGA",     "640X360", "480X360", "480X270",
                               "CIF",     "QVGA",   "352X192", "320X192", "288X192", "256X192"};
  static const int kH264[] = {500, 500, 450, 350, 300, 300, 200, 200, 200, 200, 200, 200};
  static const int kOther[] = {300, 300, 250, 200, 200, 200, 100, 100, 100, 100, 100, 100};
  const char* formats[] = {"H264", "H265", "H265+", "MJPEG"};
  for (int f = 0; f < 4; ++f) {
    for (int i = 0; i < 12; ++i) {
      Row row{kRes[i], formats[f], 1, f == 0 ? kH264[i] : kOther[i], 50, 2000, 25, 5, 30, 0};
      if (f != 0 && i == 3) {
        row.minFrameRate = 1;
        row.preferred = 1;
      }
      rows.push_back(row);
    }
  }
}

void AddThird(std::vector<Row>& rows) {
  for (const char* f : {"H264", "H265", "H265+"}) {
    rows.push_back({"1080P", f, 2, 4000, 300, 6000, 10, 5, 30, 0});
    rows.push_back({"720P", f, 2, 2500, 50, 2500, 10, 5, 30, 0});
    rows.push_back({"CIF", f, 2, 150, 50, 2000, 10, 5, 30, 0});
  }
  rows.push_back({"1920X1088", "MJPEG", 2, 2000, 500, 4000, 25, 5, 25, 0});
  rows.push_back({"720P", "MJPEG", 2, 1500, 100, 1500, 25, 5, 25, 0});
  rows.push_back({"640X480", "MJPEG", 2, 500, 50, 2000, 25, 5, 30, 0});
}

}  // namespace

const std::vector<VideoEncodeCapabilityRow>& VideoEncodeCapabilityTable() {
  static const std::vector<Row> table = [] {
    std::vector<Row> rows;
    AddMain(rows);
    AddSub(rows);
    AddThird(rows);
    return rows;
  }();
  return table;
}

std::vector<std::string> VideoEncodeCapabilities::Formats(int stream) const {
  std::vector<std::string> out;
  for (const auto& r : rows_)
    if (r.stream == stream && std::find(out.begin(), out.end(), r.encodeFormat) == out.end())
      out.push_back(r.encodeFormat);
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> VideoEncodeCapabilities::Resolutions(int stream, const std::string& format) const {
  std::vector<std::string> out;
  for (const auto& r : rows_)
    if (r.stream == stream && r.encodeFormat == format &&
        std::find(out.begin(), out.end(), r.resolution) == out.end())
      out.push_back(r.resolution);
  return out;
}

const VideoEncodeCapabilityRow* VideoEncodeCapabilities::FindRow(int stream, const std::string& resolution,
                                                                 const std::string& format) const {
  for (const auto& r : rows_)
    if (r.stream == stream && r.resolution == resolution && (format.empty() || r.encodeFormat == format)) return &r;
  return nullptr;
}

BitRateRange VideoEncodeCapabilities::RangeOf(int stream, const std::string& resolution,
                                              const std::string& format) const {
  BitRateRange range;
  for (const auto& r : rows_)
    if (r.stream == stream && r.resolution == resolution && (format.empty() || r.encodeFormat == format))
      range = {r.minBitRate, r.maxBitRate};
  return range;
}

std::string VideoEncodeCapabilities::PreferredResolution(int stream, bool last) const {
  std::string found;
  for (const auto& r : rows_) {
    if (r.stream != stream || r.preferred != 1) continue;
    found = r.resolution;
    if (!last) break;
  }
  return found;
}

std::vector<QualityEntry> QualityEntries(const VideoEncodeCapabilityRow& row) {
  const int d = row.defaultBitRate, l = row.minBitRate, h = row.maxBitRate;
  return {{"IDS_STR_CUST", d},
          {"IDS_STR_WORSER", l},
          {"IDS_STR_WORSE", ((l + (d - l) / 2 + 99) / 100) * 100},
          {"IDS_STR_NORMAL", d},
          {"IDS_STR_GOOD", ((d + (h - d) / 2 + 99) / 100) * 100},
          {"IDS_STR_BEST", h}};
}

std::vector<int> FrameRates(const VideoEncodeCapabilityRow& row, bool mainStream) {
  std::vector<int> out;
  int lo = row.minFrameRate, hi = row.maxFrameRate;
  if (mainStream && lo > hi) lo = 1, hi = 30;
  for (int v = lo; v <= hi; ++v) out.push_back(v);
  return out;
}

}  // namespace kelvara::dialogs
