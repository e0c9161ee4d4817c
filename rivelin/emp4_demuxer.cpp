#include "emp4_demuxer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <new>
#include <optional>
#include <string>

#include "debug_util.h"
#include "emp4_box.h"
#include "emp4_nal.h"

namespace {

using namespace rivelin;

constexpr const char* kModule = "emp4_demuxer";
constexpr size_t kMaxSamples = 4'000'000;  // indexed samples per track; bounds memory
constexpr uint32_t kMaxSampleSize = 0x500000;     // 5 MiB
constexpr uint64_t kMaxMoovSize = 512ull << 20;
constexpr int kMaxBoxesPerLevel = 10000;

struct Sample {
  uint64_t offset;
  uint32_t size;
  bool key;
  uint64_t timestampMs;
};

struct Box {
  char type[5];
  const uint8_t* body;  // after the header
  size_t size;          // body size
};

// Iterates the child boxes of [p, p + size); stops at the first malformed
// header. A size of 0 extends to the end of the parent; a size of 1 carries a
// 64-bit size. Returns false when a box does not fit its parent.
bool ForEachBox(const uint8_t* p, size_t size, const std::function<bool(const Box&)>& fn) {
  size_t pos = 0;
  for (int n = 0; n < kMaxBoxesPerLevel && pos + 8 <= size; ++n) {
    uint64_t boxSize = Get32(p + pos);
    size_t header = 8;
    if (boxSize == 1) {
      if (pos + 16 > size) return false;
      boxSize = Get64(p + pos + 8);
      header = 16;
    } else if (boxSize == 0) {
      boxSize = size - pos;
    }
    if (boxSize < header || boxSize > size - pos) return false;
    Box box;
    std::memcpy(box.type, p + pos + 4, 4);
    box.type[4] = '\0';
    box.body = p + pos + header;
    box.size = static_cast<size_t>(boxSize - header);
    if (!fn(box)) return true;
    pos += static_cast<size_t>(boxSize);
  }
  return true;
}

std::optional<Box> FindBox(const uint8_t* p, size_t size, const char* type) {
  std::optional<Box> found;
  ForEachBox(p, size, [&](const Box& b) {
    if (std::memcmp(b.type, type, 4) == 0) {
      found = b;
      return false;
    }
    return true;
  });
  return found;
}

struct Track {
  bool present = false;
  bool isVideo = false;
  uint32_t timescale = 0;
  uint32_t codec = 0;
  uint32_t width = 0, height = 0;
  uint32_t sampleRate = 0, channels = 0;
  uint32_t nalLengthSize = 4;
  int aacObjectType = 2, aacFreqIndex = -1, aacChannelConfig = -1;
  std::vector<uint8_t> paramSets;  // Annex B
  int64_t emptyEditMs = 0;
  int64_t mediaStart = 0;  // first media time played, in the track's timescale
  std::vector<Sample> samples;
  uint64_t durationMs = 0;
  size_t next = 0;
};

bool FullBox(const Box& b, size_t minBody) { return b.size >= 4 + minBody; }

// --- sample descriptions --------------------------------------------------

bool ParseAvcC(Emp4Demuxer* d, Track& t, const Box& b);
bool ParseHvcC(Track& t, const Box& b);

void AppendParamSet(Track& t, const uint8_t* p, size_t n) {
  static const uint8_t kStart[4] = {0, 0, 0, 1};
  t.paramSets.insert(t.paramSets.end(), kStart, kStart + 4);
  t.paramSets.insert(t.paramSets.end(), p, p + n);
}

int FrequencyIndex(uint32_t rate) {
  static const uint32_t kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                    22050, 16000, 12000, 11025, 8000,  7350};
  for (int i = 0; i < 13; ++i)
    if (kRates[i] == rate) return i;
  return 11;
}

// Finds the AudioSpecificConfig inside an esds box (descriptor tag 5).
void ParseEsds(Track& t, const Box& esds) {
  if (esds.size < 4) return;
  const uint8_t* p = esds.body + 4;
  const uint8_t* end = esds.body + esds.size;
  // Walk descriptors: tag, variable length; descend into 3 and 4.
  while (p + 2 <= end) {
    const uint8_t tag = *p++;
    uint32_t len = 0;
    for (int i = 0; i < 4 && p < end; ++i) {
      const uint8_t c = *p++;
      len = (len << 7) | (c & 0x7F);
      if (!(c & 0x80)) break;
    }
    if (len > static_cast<size_t>(end - p)) return;
    if (tag == 3) {
      if (len < 3) return;
      const uint8_t flags = p[2];
      size_t skip = 3;
      if (flags & 0x80) skip += 2;
      if (flags & 0x40) {
        if (p + skip >= end) return;
        skip += 1 + p[skip];
      }
      if (flags & 0x20) skip += 2;
      if (skip > len) return;
      p += skip;
      end = p + (len - skip);
    } else if (tag == 4) {
      if (len < 13) return;
      end = p + len;
      p += 13;
    } else if (tag == 5) {
      if (len >= 2) {
        t.aacObjectType = p[0] >> 3;
        t.aacFreqIndex = ((p[0] & 7) << 1) | (p[1] >> 7);
        t.aacChannelConfig = (p[1] >> 3) & 0xF;
        if (t.aacObjectType == 31 || t.aacFreqIndex == 15) t.aacFreqIndex = -1;
      }
      return;
    } else {
      p += len;
    }
  }
}

bool ParseStsd(Emp4Demuxer* d, Track& t, const Box& stsd) {
  if (!FullBox(stsd, 4) || Get32(stsd.body + 4) < 1) {
    RLOG(d, "stsd has no entry.\n");
    return false;
  }
  std::optional<Box> entry;
  ForEachBox(stsd.body + 8, stsd.size - 8, [&](const Box& b) {
    entry = b;
    return false;
  });
  if (!entry) {
    RLOG(d, "stsd entry not readable.\n");
    return false;
  }
  const std::string type(entry->type);
  if (t.isVideo) {
    if (type == "avc1" || type == "avc3" || type == "avcC")
      t.codec = kEmp4CodecH264;
    else if (type == "hev1" || type == "hvc1" || type == "hvcC")
      t.codec = kEmp4CodecH265;
    else {
      RLOG(d, "Can not judge codec type:%s.\n", entry->type);
      return false;
    }
    if (entry->size < 78) {
      RLOG(d, "Visual sample entry too short.\n");
      return false;
    }
    t.width = Get16(entry->body + 24);
    t.height = Get16(entry->body + 26);
    const uint8_t* children = entry->body + 78;
    const size_t childSize = entry->size - 78;
    if (t.codec == kEmp4CodecH264) {
      auto avcC = FindBox(children, childSize, "avcC");
      if (!avcC) {
        RLOG(d, "AVCC box not found.\n");
        return false;
      }
      return ParseAvcC(d, t, *avcC);
    }
    // An empty hvcC (older files of this library) leaves the parameter sets
    // in-band; the samples are then already in start-code form.
    if (auto hvcC = FindBox(children, childSize, "hvcC")) return ParseHvcC(t, *hvcC);
    return true;
  }
  if (type == "mp4a" || type == "esds")
    t.codec = kEmp4CodecAac;
  else if (type == "ulaw")
    t.codec = kEmp4CodecUlaw;
  else if (type == "alaw")
    t.codec = kEmp4CodecAlaw;
  else {
    RLOG(d, "Can not judge codec type:%s.\n", entry->type);
    return false;
  }
  if (entry->size < 28) {
    RLOG(d, "Audio sample entry too short.\n");
    return false;
  }
  const uint16_t version = Get16(entry->body + 8);
  t.channels = Get16(entry->body + 16);
  t.sampleRate = Get32(entry->body + 24) >> 16;
  if (t.codec == kEmp4CodecAac) {
    size_t skip = 28 + (version == 1 ? 16 : version == 2 ? 36 : 0);
    if (skip <= entry->size)
      if (auto esds = FindBox(entry->body + skip, entry->size - skip, "esds")) ParseEsds(t, *esds);
    if (t.aacFreqIndex < 0) t.aacFreqIndex = FrequencyIndex(t.sampleRate);
    if (t.aacChannelConfig <= 0) t.aacChannelConfig = static_cast<int>(std::min(t.channels, 7u));
    if (t.aacObjectType < 1 || t.aacObjectType > 4) t.aacObjectType = 2;
  }
  return true;
}

bool ParseAvcC(Emp4Demuxer* d, Track& t, const Box& b) {
  const uint8_t* p = b.body;
  const uint8_t* end = b.body + b.size;
  if (b.size < 6 || p[0] != 1) {
    RLOG(d, "It seems avcC configurationVersion not correct.\n");
    return false;
  }
  t.nalLengthSize = (p[4] & 3) + 1;
  if (t.nalLengthSize == 3) {
    RLOG(d, "H264 lengthSizeMinusOne not support:%u.\n", t.nalLengthSize - 1);
    return false;
  }
  p += 5;
  for (int list = 0; list < 2; ++list) {
    if (p >= end) return false;
    const int count = list == 0 ? (*p & 0x1F) : *p;
    ++p;
    for (int i = 0; i < count; ++i) {
      if (end - p < 2) return false;
      const size_t n = Get16(p);
      p += 2;
      if (static_cast<size_t>(end - p) < n) {
        RLOG(d, "avcC parameter set too long: %zu\n", n);
        return false;
      }
      AppendParamSet(t, p, n);
      p += n;
    }
  }
  return true;
}

bool ParseHvcC(Track& t, const Box& b) {
  if (b.size < 23) return true;  // header only: sets are in-band
  const uint8_t* p = b.body;
  const uint8_t* end = b.body + b.size;
  t.nalLengthSize = (p[21] & 3) + 1;
  if (t.nalLengthSize == 3) return false;
  const int arrays = p[22];
  p += 23;
  for (int a = 0; a < arrays; ++a) {
    if (end - p < 3) return false;
    const int count = Get16(p + 1);
    p += 3;
    for (int i = 0; i < count; ++i) {
      if (end - p < 2) return false;
      const size_t n = Get16(p);
      p += 2;
      if (static_cast<size_t>(end - p) < n) return false;
      AppendParamSet(t, p, n);
      p += n;
    }
  }
  return true;
}

}  // namespace

struct Emp4Demuxer {
  int fd = -1;
  uint64_t fileSize = 0;
  std::vector<uint8_t> moov;
  uint32_t movieTimescale = 0;
  uint32_t creationTime = 0;
  Track video, audio;
  std::vector<uint8_t> raw;  // sample as stored
  std::vector<uint8_t> out;  // sample as returned
  bool adtsChecked = false, adtsInFile = false;
};

namespace {

bool ReadAt(Emp4Demuxer* d, void* buf, size_t n, uint64_t pos) {
  auto* p = static_cast<uint8_t*>(buf);
  while (n > 0) {
    const ssize_t r = pread(d->fd, p, n, static_cast<off_t>(pos));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
    pos += static_cast<uint64_t>(r);
  }
  return true;
}

// Times in a file are 64-bit and may be anything: scaled to milliseconds in
// 128 bits and kept within +-2^61 ms, so sums of them cannot overflow.
constexpr int64_t kMaxMs = int64_t{1} << 61;

int64_t UnitsToMs(__int128 units, uint32_t timescale) {
  const __int128 ms = units * 1000 / timescale;
  return static_cast<int64_t>(std::clamp<__int128>(ms, -kMaxMs, kMaxMs));
}

// Reads the media timing of an edit list: leading empty edits and the media
// time of the first real edit.
void ParseEdts(Emp4Demuxer* d, Track& t, const Box& edts) {
  auto elst = FindBox(edts.body, edts.size, "elst");
  if (!elst || !FullBox(*elst, 4)) return;
  const uint8_t version = elst->body[0];
  const uint32_t count = Get32(elst->body + 4);
  const size_t entrySize = version == 1 ? 20 : 12;
  const uint8_t* p = elst->body + 8;
  const size_t room = (elst->size - 8) / entrySize;
  for (uint32_t i = 0; i < count && i < room; ++i, p += entrySize) {
    const uint64_t duration = version == 1 ? Get64(p) : Get32(p);
    const int64_t mediaTime = version == 1 ? static_cast<int64_t>(Get64(p + 8))
                                           : static_cast<int32_t>(Get32(p + 4));
    if (mediaTime == -1) {
      if (d->movieTimescale)
        t.emptyEditMs = std::min(t.emptyEditMs + UnitsToMs(duration, d->movieTimescale), kMaxMs);
      continue;
    }
    t.mediaStart = std::max<int64_t>(mediaTime, 0);
    break;
  }
}

struct Tables {
  std::optional<Box> stsd, stts, stss, stsz, stsc, stco, co64;
};

// Walks the run-length time table sample by sample (or many at once).
class TimeCursor {
 public:
  explicit TimeCursor(const Box& stts)
      : p_(stts.body + 8),
        entries_(static_cast<uint32_t>(
            std::min<uint64_t>(Get32(stts.body + 4), (stts.size - 8) / 8))) {}
  // Samples the table describes in total (bounded by `limit`).
  uint64_t Total(uint64_t limit) const {
    uint64_t n = 0;
    for (uint32_t i = 0; i < entries_ && n < limit; ++i) n += Get32(p_ + 8ull * i);
    return std::min(n, limit);
  }
  uint64_t now() const { return now_; }
  // Moves over n samples.
  void Advance(uint64_t n) {
    while (n > 0 && entry_ < entries_) {
      const uint64_t left = Get32(p_ + 8ull * entry_) - used_;
      const uint64_t step = std::min(n, left);
      now_ += step * Get32(p_ + 8ull * entry_ + 4);
      used_ += step;
      n -= step;
      if (used_ == Get32(p_ + 8ull * entry_)) {
        ++entry_;
        used_ = 0;
      }
    }
  }

 private:
  const uint8_t* p_;
  uint32_t entries_;
  uint32_t entry_ = 0;
  uint64_t used_ = 0;
  uint64_t now_ = 0;
};

bool BuildIndex(Emp4Demuxer* d, Track& t, const Tables& tb) {
  if (!tb.stts || !tb.stsz || !tb.stsc || !(tb.stco || tb.co64) || !FullBox(*tb.stsz, 8) ||
      !FullBox(*tb.stts, 4) || !FullBox(*tb.stsc, 4)) {
    RLOG(d, "Sample tables missing or too short.\n");
    return false;
  }
  // Sizes: one per sample, or one size for all. Raw G.711 written with one
  // size for all (a byte per sample) is read a chunk at a time.
  const uint32_t constantSize = Get32(tb.stsz->body + 4);
  uint64_t count = Get32(tb.stsz->body + 8);
  const uint8_t* sizes = tb.stsz->body + 12;
  if (constantSize == 0) count = std::min<uint64_t>(count, (tb.stsz->size - 12) / 4);
  // Samples of one size must all fit in the file: a damaged count cannot make
  // the index take memory the file could never fill.
  else count = std::min<uint64_t>(count, d->fileSize / constantSize);
  const bool perChunk = constantSize != 0 && !t.isVideo && t.codec != kEmp4CodecAac;

  TimeCursor clock(*tb.stts);
  const uint64_t timed = clock.Total(count);
  if (timed < count) {
    RLOG(d, "!!Warn: stts entry not enough in this file.\n");
    count = timed;
  }

  // Chunk offsets.
  const bool co64 = !tb.stco;
  const Box& chunkBox = co64 ? *tb.co64 : *tb.stco;
  if (!FullBox(chunkBox, 4)) return false;
  const size_t entrySize = co64 ? 8 : 4;
  const uint32_t chunks = static_cast<uint32_t>(
      std::min<uint64_t>(Get32(chunkBox.body + 4), (chunkBox.size - 8) / entrySize));
  auto chunkOffset = [&](uint32_t i) {
    const uint8_t* p = chunkBox.body + 8 + entrySize * i;
    return co64 ? Get64(p) : uint64_t{Get32(p)};
  };

  // Chunk runs.
  const uint32_t runs = static_cast<uint32_t>(
      std::min<uint64_t>(Get32(tb.stsc->body + 4), (tb.stsc->size - 8) / 12));
  const uint8_t* run = tb.stsc->body + 8;
  if (runs > 0 && Get32(run) != 1) {
    RLOG(d, "stsc first entry's first_chunk value must be 1.\n");
    return false;
  }

  std::vector<uint64_t> times;  // in the track's timescale, one per indexed sample
  uint64_t sample = 0;
  // Every sample is checked against the limit and the file's end, so a table
  // that claims millions of samples in one chunk costs no more than the bytes
  // the file really has. Indexing stops at the first sample past the end (a
  // truncated copy keeps the samples before it).
  bool pastEnd = false;
  const auto add = [&](uint64_t offset, uint64_t size, bool key, uint64_t n) {
    if (offset > d->fileSize || size > d->fileSize - offset) {
      RLOG(d, "Track truncated: sample %llu is past the end of the file.\n",
           static_cast<unsigned long long>(sample));
      pastEnd = true;
      return true;
    }
    if (t.samples.size() >= kMaxSamples) {
      RLOG(d, "Samples num exceed max.\n");
      return false;
    }
    times.push_back(clock.now());
    t.samples.push_back({offset, static_cast<uint32_t>(size), key, 0});
    clock.Advance(n);
    sample += n;
    return true;
  };
  for (uint32_t r = 0; r < runs && sample < count && !pastEnd; ++r) {
    const uint32_t first = Get32(run + 12 * r);
    const uint32_t inChunk = Get32(run + 12 * r + 4);
    const uint32_t nextFirst = r + 1 < runs ? Get32(run + 12 * (r + 1)) : chunks + 1;
    if (first == 0 || inChunk == 0 || (r + 1 < runs && nextFirst <= first)) {
      RLOG(d, "stsc first_chunk value(%u) or samples_per_chunk(%u) invalid.\n", first, inChunk);
      return false;
    }
    for (uint32_t c = first; c < nextFirst && c <= chunks && sample < count && !pastEnd; ++c) {
      uint64_t offset = chunkOffset(c - 1);
      if (perChunk) {
        const uint64_t n = std::min<uint64_t>(inChunk, count - sample);
        const uint64_t size = n * constantSize;
        if (size > kMaxSampleSize) return false;
        if (!add(offset, size, true, n)) return false;
        continue;
      }
      for (uint32_t k = 0; k < inChunk && sample < count && !pastEnd; ++k) {
        const uint32_t size = constantSize ? constantSize : Get32(sizes + 4 * sample);
        if (!add(offset, size, !tb.stss, 1)) return false;
        offset += size;
      }
    }
  }
  {
    TimeCursor end(*tb.stts);
    end.Advance(sample);
    const __int128 endUnits = static_cast<__int128>(end.now()) - t.mediaStart;
    t.durationMs =
        endUnits > 0 ? static_cast<uint64_t>(UnitsToMs(endUnits, t.timescale) + t.emptyEditMs) : 0;
  }
  // Drop samples whose bytes are not in the file (a truncated copy).
  size_t keep = 0;
  while (keep < t.samples.size() && t.samples[keep].offset <= d->fileSize &&
         t.samples[keep].size <= d->fileSize - t.samples[keep].offset)
    ++keep;
  if (keep < t.samples.size()) {
    RLOG(d, "Track truncated: %zu of %zu samples in the file.\n", keep, t.samples.size());
    t.samples.resize(keep);
  }
  for (size_t i = 0; i < t.samples.size(); ++i) {
    const int64_t ms =
        UnitsToMs(static_cast<__int128>(times[i]) - t.mediaStart, t.timescale) + t.emptyEditMs;
    t.samples[i].timestampMs = ms > 0 ? static_cast<uint64_t>(ms) : 0;
  }
  if (tb.stss && FullBox(*tb.stss, 4) && !perChunk) {
    const uint32_t n = static_cast<uint32_t>(
        std::min<uint64_t>(Get32(tb.stss->body + 4), (tb.stss->size - 8) / 4));
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t number = Get32(tb.stss->body + 8 + 4ull * i);
      if (number >= 1 && number <= t.samples.size())
        t.samples[number - 1].key = true;
      else
        RLOG(d, "!!Warn: stss entry %u(sample_number:%u) is out of range.\n", i, number);
    }
  }
  if (!t.isVideo)
    for (auto& s : t.samples) s.key = true;
  return true;
}

bool ParseTrak(Emp4Demuxer* d, const Box& trak) {
  auto mdia = FindBox(trak.body, trak.size, "mdia");
  if (!mdia) return true;
  auto mdhd = FindBox(mdia->body, mdia->size, "mdhd");
  auto hdlr = FindBox(mdia->body, mdia->size, "hdlr");
  auto minf = FindBox(mdia->body, mdia->size, "minf");
  if (!mdhd || !hdlr || !minf || !FullBox(*hdlr, 8) || !FullBox(*mdhd, 20)) {
    RLOG(d, "Trak without readable mdhd/hdlr/minf.\n");
    return false;
  }
  const bool isVideo = std::memcmp(hdlr->body + 8, "vide", 4) == 0;
  const bool isAudio = std::memcmp(hdlr->body + 8, "soun", 4) == 0;
  if (!isVideo && !isAudio) return true;  // other tracks are not played
  Track& t = isVideo ? d->video : d->audio;
  if (t.present) return true;  // the first track of each kind is played
  Track nt;
  nt.isVideo = isVideo;
  const bool v1 = mdhd->body[0] == 1;
  if (v1 && !FullBox(*mdhd, 32)) return false;
  nt.timescale = v1 ? Get32(mdhd->body + 20) : Get32(mdhd->body + 12);
  if (nt.timescale == 0) {
    RLOG(d, "Trak timescale not valid.\n");
    return false;
  }
  if (auto edts = FindBox(trak.body, trak.size, "edts")) ParseEdts(d, nt, *edts);
  auto stbl = FindBox(minf->body, minf->size, "stbl");
  if (!stbl) return false;
  Tables tb;
  ForEachBox(stbl->body, stbl->size, [&](const Box& b) {
    const std::string type(b.type);
    if (type == "stsd") tb.stsd = b;
    if (type == "stts") tb.stts = b;
    if (type == "stss") tb.stss = b;
    if (type == "stsz") tb.stsz = b;
    if (type == "stsc") tb.stsc = b;
    if (type == "stco") tb.stco = b;
    if (type == "co64") tb.co64 = b;
    return true;
  });
  if (!tb.stsd || !ParseStsd(d, nt, *tb.stsd)) return isAudio;  // unreadable audio is dropped
  if (!BuildIndex(d, nt, tb)) return isAudio;
  if (nt.samples.empty()) return isAudio;
  nt.present = true;
  t = std::move(nt);
  return true;
}

bool ReadHeader(Emp4Demuxer* d) {
  // Top level: find ftyp, moov and mdat without reading mdat.
  uint64_t pos = 0;
  bool ftyp = false, mdat = false;
  uint64_t moovPos = 0, moovSize = 0;
  for (int n = 0; n < kMaxBoxesPerLevel && pos + 8 <= d->fileSize; ++n) {
    uint8_t h[16];
    if (!ReadAt(d, h, 8, pos)) return false;
    uint64_t size = Get32(h);
    uint64_t header = 8;
    if (size == 1) {
      if (pos + 16 > d->fileSize || !ReadAt(d, h + 8, 8, pos + 8)) return false;
      size = Get64(h + 8);
      header = 16;
    } else if (size == 0) {
      size = d->fileSize - pos;
    }
    if (size < header) {
      RLOG(d, "Read a bad size box.\n");
      return false;
    }
    const bool fits = size <= d->fileSize - pos;
    if (std::memcmp(h + 4, "ftyp", 4) == 0) {
      ftyp = true;
      if (size >= 16 && fits) {
        uint8_t brand[8];
        if (ReadAt(d, brand, 8, pos + 8))
          RLOG(d, "ftyp major brand:%.4s minor version:%u\n", brand, Get32(brand + 4));
      }
    } else if (std::memcmp(h + 4, "moov", 4) == 0) {
      if (!fits) {
        RLOG(d, "moov box passes the end of the file.\n");
        return false;
      }
      moovPos = pos + header;
      moovSize = size - header;
    } else if (std::memcmp(h + 4, "mdat", 4) == 0) {
      mdat = true;  // may be cut short: samples are checked against the file
    }
    if (!fits) break;
    pos += size;
  }
  if (!ftyp || !mdat || moovSize == 0) {
    RLOG(d, "ftyp, moov or mdat missing.\n");
    return false;
  }
  if (moovSize > kMaxMoovSize) return false;
  try {
    d->moov.resize(moovSize);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!ReadAt(d, d->moov.data(), moovSize, moovPos)) return false;

  auto mvhd = FindBox(d->moov.data(), d->moov.size(), "mvhd");
  if (!mvhd || !FullBox(*mvhd, 20)) {
    RLOG(d, "Mvhd box size not valid.\n");
    return false;
  }
  const bool v1 = mvhd->body[0] == 1;
  if (v1 && !FullBox(*mvhd, 32)) return false;
  d->creationTime = v1 ? static_cast<uint32_t>(Get64(mvhd->body + 4)) : Get32(mvhd->body + 4);
  d->movieTimescale = v1 ? Get32(mvhd->body + 20) : Get32(mvhd->body + 12);
  if (d->movieTimescale == 0) {
    RLOG(d, "Find mvhd timescale == 0\n");
    return false;
  }
  bool ok = true;
  ForEachBox(d->moov.data(), d->moov.size(), [&](const Box& b) {
    if (std::memcmp(b.type, "trak", 4) == 0 && !ParseTrak(d, b)) ok = false;
    return ok;
  });
  if (!ok) return false;
  if (!d->video.present) {
    RLOG(d, "Video sample num is zero.\n");
    return false;
  }
  if (d->video.codec == kEmp4CodecH264 && d->video.paramSets.empty())
    RLOG(d, "Warning: no parameter sets in avcC.\n");
  d->moov.clear();
  d->moov.shrink_to_fit();
  return true;
}

void FillDescriptions(const Emp4Demuxer* d, Emp4VideoDesc* v, Emp4AudioDesc* a,
                      Emp4FileInfo* info) {
  const uint64_t durationMs = Emp4DemuxerDurationMs(d);
  if (v) {
    std::memset(v, 0, sizeof *v);
    v->codec = d->video.codec;
    v->width = d->video.width;
    v->height = d->video.height;
    const uint64_t vms = std::max<uint64_t>(d->video.durationMs, 1);
    v->framerate = static_cast<uint32_t>(
        std::max<uint64_t>(1, (d->video.samples.size() * 1000 + vms / 2) / vms));
    if (!d->video.paramSets.empty() && d->video.paramSets.size() <= sizeof v->metaData) {
      std::memcpy(v->metaData, d->video.paramSets.data(), d->video.paramSets.size());
      v->metaLength = static_cast<uint32_t>(d->video.paramSets.size());
    }
  }
  if (a) {
    std::memset(a, 0, sizeof *a);
    if (d->audio.present) {
      a->enabled = 1;
      a->codec = d->audio.codec;
      a->sampleRate = d->audio.sampleRate;
      a->channels = d->audio.channels;
      a->samplesPerPacket = d->audio.codec == kEmp4CodecAac ? 1024 : 320;
    }
  }
  if (info) {
    info->durationSec = static_cast<uint32_t>((durationMs + 999) / 1000);
    info->creationTime = d->creationTime;
  }
}

}  // namespace

Emp4Demuxer* Emp4DemuxerOpen(const char* path, Emp4VideoDesc* video, Emp4AudioDesc* audio,
                             Emp4FileInfo* info, int* error) {
  int dummy;
  if (!error) error = &dummy;
  *error = 0;
  auto* d = new (std::nothrow) Emp4Demuxer;
  if (!d) {
    RLOG(nullptr, "Failed to allocate memory for demuxer\n");
    *error = 1;
    return nullptr;
  }
  d->fd = path ? open(path, O_RDONLY | O_CLOEXEC) : -1;
  struct stat st{};
  if (d->fd < 0 || fstat(d->fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    RLOG(d, "Failed to open file for reading: %s\n", path ? path : "(null)");
    *error = 2;
    Emp4DemuxerClose(d);
    return nullptr;
  }
  d->fileSize = static_cast<uint64_t>(st.st_size);
  bool ok = false;
  try {
    ok = ReadHeader(d);
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  if (!ok) {
    RLOG(d, "Failed to read demuxer info from file: %s\n", path);
    *error = 4;
    Emp4DemuxerClose(d);
    return nullptr;
  }
  FillDescriptions(d, video, audio, info);
  return d;
}

int Emp4DemuxerReadFrame(Emp4Demuxer* d, uint8_t** data, int* isAudio, int* keyFlag,
                         uint64_t* timestampMs) {
  if (!d) return kEmp4BadArgument;
  Track* t = nullptr;
  const bool videoLeft = d->video.next < d->video.samples.size();
  const bool audioLeft = d->audio.present && d->audio.next < d->audio.samples.size();
  if (videoLeft && audioLeft) {
    t = d->audio.samples[d->audio.next].timestampMs <= d->video.samples[d->video.next].timestampMs
            ? &d->audio
            : &d->video;
  } else if (videoLeft) {
    t = &d->video;
  } else if (audioLeft) {
    t = &d->audio;
  } else {
    return kEmp4EndOfData;
  }
  const Sample& s = t->samples[t->next];
  if (s.size == 0 || s.size > kMaxSampleSize) return kEmp4EndOfData;
  try {
    d->raw.resize(s.size);
  } catch (const std::bad_alloc&) {
    return kEmp4EndOfData;
  }
  if (!ReadAt(d, d->raw.data(), s.size, s.offset)) {
    RLOG(d, "Read sample fail at 0x%llx.\n", static_cast<unsigned long long>(s.offset));
    return kEmp4EndOfData;
  }
  d->out.clear();
  if (t->isVideo) {
    if (s.key) d->out.insert(d->out.end(), t->paramSets.begin(), t->paramSets.end());
    AppendSampleAsAnnexB(d->out, d->raw.data(), d->raw.size(), t->nalLengthSize);
  } else if (t->codec == kEmp4CodecAac) {
    if (!d->adtsChecked) {
      d->adtsChecked = true;
      d->adtsInFile = s.size > 1 && d->raw[0] == 0xFF && (d->raw[1] & 0xF0) == 0xF0;
      if (!d->adtsInFile) RLOG(d, "ADTS not in file\n");
    }
    if (!d->adtsInFile) {
      const uint32_t len = s.size + 7;
      const uint32_t profile = static_cast<uint32_t>(t->aacObjectType - 1);
      const uint32_t freq = static_cast<uint32_t>(t->aacFreqIndex);
      const uint32_t ch = static_cast<uint32_t>(t->aacChannelConfig);
      const uint8_t adts[7] = {0xFF,
                               0xF1,
                               static_cast<uint8_t>((profile << 6) | (freq << 2) | (ch >> 2)),
                               static_cast<uint8_t>(((ch & 3) << 6) | ((len >> 11) & 3)),
                               static_cast<uint8_t>((len >> 3) & 0xFF),
                               static_cast<uint8_t>(((len & 7) << 5) | 0x1F),
                               0xFC};
      d->out.insert(d->out.end(), adts, adts + 7);
    }
    d->out.insert(d->out.end(), d->raw.begin(), d->raw.end());
  } else {
    d->out.swap(d->raw);
  }
  if (d->out.size() > INT32_MAX) return kEmp4EndOfData;
  if (data) *data = d->out.data();
  if (isAudio) *isAudio = t->isVideo ? 0 : 1;
  if (keyFlag) *keyFlag = s.key ? 1 : 0;
  if (timestampMs) *timestampMs = s.timestampMs;
  t->next++;
  return static_cast<int>(d->out.size());
}

int Emp4DemuxerSeek(Emp4Demuxer* d, uint64_t targetMs) {
  if (!d) return kEmp4BadArgument;
  auto& vs = d->video.samples;
  auto it = std::lower_bound(vs.begin(), vs.end(), targetMs,
                             [](const Sample& s, uint64_t ms) { return s.timestampMs < ms; });
  if (it == vs.end()) {
    d->video.next = vs.size();
    d->audio.next = d->audio.samples.size();
    return 0;
  }
  size_t i = static_cast<size_t>(it - vs.begin());
  while (i > 0 && !vs[i].key) --i;
  d->video.next = i;
  const uint64_t from = vs[i].timestampMs;
  auto& as = d->audio.samples;
  d->audio.next = static_cast<size_t>(
      std::lower_bound(as.begin(), as.end(), from,
                       [](const Sample& s, uint64_t ms) { return s.timestampMs < ms; }) -
      as.begin());
  return 0;
}

void Emp4DemuxerClose(Emp4Demuxer* d) {
  if (!d) return;
  if (d->fd >= 0) close(d->fd);
  delete d;
}

uint64_t Emp4DemuxerDurationMs(const Emp4Demuxer* d) {
  if (!d) return 0;
  return std::max(d->video.durationMs, d->audio.present ? d->audio.durationMs : 0);
}

uint32_t Emp4DemuxerVideoFrames(const Emp4Demuxer* d) {
  return d ? static_cast<uint32_t>(d->video.samples.size()) : 0;
}

uint32_t Emp4DemuxerAudioFrames(const Emp4Demuxer* d) {
  return d && d->audio.present ? static_cast<uint32_t>(d->audio.samples.size()) : 0;
}

const std::vector<uint8_t>& Emp4DemuxerParameterSets(const Emp4Demuxer* d) {
  static const std::vector<uint8_t> kEmpty;
  return d ? d->video.paramSets : kEmpty;
}
