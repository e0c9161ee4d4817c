#include "emp4_muxer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "debug_util.h"
#include "emp4_aac_encoder.h"
#include "emp4_box.h"
#include "emp4_nal.h"

namespace {

using namespace rivelin;

constexpr const char* kModule = "emp4_muxer";
constexpr uint32_t kFlushEvery = 120;
constexpr uint32_t kVideoTimescale = 90000;
constexpr uint32_t kMovieTimescale = 1000;
constexpr uint64_t kMaxFileSize = 0xFFFFFFFFull;  // 32-bit chunk offsets and mdat size
constexpr uint32_t kFtypSize = 36;
constexpr uint32_t kEditRoom = 48;  // edts with two elst entries, or edts + free
constexpr int64_t kMaxAudioOffsetMs = 10000;
// Appended samples are gathered in memory and written in batches: one write
// per batch instead of one per sample. Samples are copied into the batch; a
// sample that does not fit goes out with the batch in the same write,
// uncopied.
// Every table flush writes the batch first, so a killed writer loses nothing
// the tables point at. Writes of whole batches cost the kernel far less
// than one per sample, even with the copy, and 1 MiB batches cost about a
// tenth less CPU per GB than 256 KiB ones.
constexpr size_t kBatchBytes = kEmp4WriteBatchBytes;

struct SampleEntry {
  uint32_t offset;
  uint32_t size;
  uint32_t duration;  // in the track's timescale
  bool key;
};

struct Track {
  bool enabled = false;
  uint32_t limit = 0;
  uint32_t timescale = 0;
  uint64_t tkhd = 0, mdhd = 0, stts = 0, stss = 0, stsz = 0, stsc = 0, stco = 0, edts = 0;
  uint32_t samples = 0;         // appended
  uint32_t keys = 0;            // key samples appended
  uint32_t flushedSamples = 0;  // samples whose entries are final on disk
  uint32_t flushedKeys = 0;
  uint64_t flushedDuration = 0;  // sum of the final durations
  std::vector<SampleEntry> pending;  // entries from flushedSamples on
  bool flushOwed = false;  // a table flush failed; retried before the next sample
  bool haveTs = false;
  int64_t firstTs = 0, lastTs = 0;
};

}  // namespace

struct Emp4Muxer {
  Emp4VideoDesc video{};
  Emp4AudioDesc audio{};
  Emp4Limits limits{};
  std::string path;
  int fd = -1;
  VideoCodec videoCodec = VideoCodec::kH264;
  uint32_t keyFrameLimit = 0;
  uint32_t audioPacketMs = 0;
  ParameterSets paramSets;
  std::vector<uint8_t> sampleEntry;  // video sample entry, fixed at header time

  // The pending sample as pieces to write: length prefixes (in `prefixes`)
  // and NAL units or audio bytes pointing into the caller's buffer, which
  // stays valid until the sample is appended (into the batch, or written
  // with it). `frame` holds a unit with too many pieces.
  std::vector<iovec> iov;
  std::vector<NalSpan> nals;  // the units of the access unit being written
  std::vector<uint8_t> prefixes;
  std::vector<uint8_t> frame;
  std::vector<uint8_t> batch;  // appended samples not yet written, from diskEnd on
  std::vector<iovec> batchIov;
  std::chrono::steady_clock::time_point lastSync{};
  int pendingKind = -1;        // -1 none, 0 video, 1 audio
  bool pendingKey = false;
  size_t pendingLength = 0;
  int64_t pendingTs = 0;
  uint32_t pendingDuration = 0;

  bool headerReady = false;
  uint64_t moovSize = 0;
  uint64_t mdatPos = 0;
  uint64_t fileEnd = 0;  // end of the recording, batch included
  uint64_t diskEnd = 0;  // end of the bytes written to the file
  uint64_t mvhd = 0;
  Track v, a;

  Emp4WriteFault fault = nullptr;  // tests: makes chosen writes fail
  void* faultContext = nullptr;

  Emp4AacEncoder* transcoder = nullptr;
  std::vector<uint8_t> aacOut;
  uint64_t transcodedInputSamples = 0;  // real G.711 samples per channel fed
  uint32_t encoderDelay = 0;            // priming samples to skip via the edit list
};

namespace {

bool InjectedFault(Emp4Muxer* m, uint64_t pos, size_t size) {
  if (!m->fault || !m->fault(m->faultContext, pos, size)) return false;
  errno = EIO;
  RLOG(m, "!!fail write data (injected) at %llu. %s:%d \n", static_cast<unsigned long long>(pos),
       __func__, __LINE__);
  return true;
}

bool WriteAt(Emp4Muxer* m, const void* data, size_t size, uint64_t pos) {
  if (InjectedFault(m, pos, size)) return false;
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = pwrite(m->fd, p, size, static_cast<off_t>(pos));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      RLOG(m, "!!fail write data. %s:%s:%d \n", __FILE__, __func__, __LINE__);
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
    pos += static_cast<uint64_t>(n);
  }
  return true;
}

bool WriteVAt(Emp4Muxer* m, iovec* iov, int count, uint64_t pos) {
  if (m->fault) {
    size_t total = 0;
    for (int i = 0; i < count; ++i) total += iov[i].iov_len;
    if (InjectedFault(m, pos, total)) return false;
  }
  while (count > 0) {
    const ssize_t n = pwritev(m->fd, iov, count, static_cast<off_t>(pos));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      RLOG(m, "!!fail write data. %s:%s:%d \n", __FILE__, __func__, __LINE__);
      return false;
    }
    pos += static_cast<uint64_t>(n);
    size_t done = static_cast<size_t>(n);
    while (count > 0 && done >= iov->iov_len) {
      done -= iov->iov_len;
      ++iov;
      --count;
    }
    if (count > 0) {
      iov->iov_base = static_cast<uint8_t*>(iov->iov_base) + done;
      iov->iov_len -= done;
    }
  }
  return true;
}

bool Write32At(Emp4Muxer* m, uint32_t value, uint64_t pos) {
  uint8_t b[4];
  Store32(b, value);
  return WriteAt(m, b, 4, pos);
}

bool ExpandFrameBuf(Emp4Muxer* m, size_t needed) {
  if (m->frame.capacity() >= needed) return true;
  const size_t size = ((needed >> 17) + 1) << 17;
  try {
    m->frame.reserve(size);
  } catch (const std::bad_alloc&) {
    RLOG(m, "Expand frame buffer to size %zu fail\n", size);
    return false;
  }
  RLOG(m, "Expand frame buffer to size %zu\n", size);
  return true;
}

int AacFrequencyIndex(uint32_t rate) {
  static const uint32_t kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                    22050, 16000, 12000, 11025, 8000,  7350};
  for (int i = 0; i < 13; ++i)
    if (kRates[i] == rate) return i;
  return 8;
}

// The AudioSpecificConfig channel configuration: 1 to 6 channels are their
// own value, 7.1 (8 channels) is 7; 7 channels have no standard value.
uint32_t AacChannelConfiguration(uint32_t channels) {
  if (channels >= 1 && channels <= 6) return channels;
  return channels == 8 ? 7 : 0;
}

// --- header construction -------------------------------------------------

// Writes box bytes at increasing file positions; reserved table bodies are
// skipped (the file was already extended with zeros there).
class HeaderWriter {
 public:
  HeaderWriter(Emp4Muxer* m, uint64_t pos) : m_(m), pos_(pos) {}
  uint64_t Here() const { return pos_ + buf_.size(); }
  std::vector<uint8_t>& buf() { return buf_; }
  void Skip(uint64_t n) {
    Flush();
    pos_ += n;
  }
  bool Flush() {
    if (!buf_.empty() && ok_) ok_ = WriteAt(m_, buf_.data(), buf_.size(), pos_);
    pos_ += buf_.size();
    buf_.clear();
    return ok_;
  }
  bool ok() const { return ok_; }

 private:
  Emp4Muxer* m_;
  uint64_t pos_;
  std::vector<uint8_t> buf_;
  bool ok_ = true;
};

void BoxHeader(HeaderWriter& w, uint64_t size, const char* type, int depth, Emp4Muxer* m) {
  RLOG(m, "%.*s[%s] offset:0x%llx size:0x%llx\n", depth, "-----", type,
       static_cast<unsigned long long>(w.Here()), static_cast<unsigned long long>(size));
  Put32(w.buf(), static_cast<uint32_t>(size));
  PutType(w.buf(), type);
}

void FullBoxHeader(HeaderWriter& w, uint64_t size, const char* type, uint32_t versionFlags,
                   int depth, Emp4Muxer* m) {
  BoxHeader(w, size, type, depth, m);
  Put32(w.buf(), versionFlags);
}

void PutMatrix(std::vector<uint8_t>& b) {
  const uint32_t matrix[9] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000};
  for (uint32_t x : matrix) Put32(b, x);
}

std::vector<uint8_t> AudioSampleEntry(const Emp4AudioDesc& a) {
  std::vector<uint8_t> b;
  const bool aac = a.codec == kEmp4CodecAac;
  Put32(b, aac ? 87 : 36);
  PutType(b, aac ? "mp4a" : (a.codec == kEmp4CodecUlaw ? "ulaw" : "alaw"));
  PutZeros(b, 6);
  Put16(b, 1);  // data reference index
  PutZeros(b, 8);
  Put16(b, a.channels);
  Put16(b, 16);
  Put16(b, 0);
  Put16(b, 0);
  Put32(b, a.sampleRate <= 0xFFFF ? a.sampleRate << 16 : 0);
  if (aac) {
    Put32(b, 51);
    PutType(b, "esds");
    Put32(b, 0);
    const uint8_t es[] = {0x03, 0x80, 0x80, 0x80, 0x22, 0x00, 0x00, 0x00,
                          0x04, 0x80, 0x80, 0x80, 0x14, 0x40, 0x15, 0x00, 0x03, 0x00};
    b.insert(b.end(), std::begin(es), std::end(es));
    Put32(b, 4 * a.sampleRate * a.channels);
    Put32(b, 2 * a.sampleRate * a.channels);
    const uint8_t dsi[] = {0x05, 0x80, 0x80, 0x80, 0x02};
    b.insert(b.end(), std::begin(dsi), std::end(dsi));
    const uint32_t channelConfig = AacChannelConfiguration(a.channels);  // checked at open
    const uint32_t asc = (2u << 11) | (static_cast<uint32_t>(AacFrequencyIndex(a.sampleRate)) << 7) |
                         (channelConfig << 3);
    Put16(b, asc);
    const uint8_t sl[] = {0x06, 0x80, 0x80, 0x80, 0x01, 0x02};
    b.insert(b.end(), std::begin(sl), std::end(sl));
  }
  return b;
}

struct TrakSizes {
  uint64_t stsd, stts, stss, stsz, stsc, stco, stbl, minf, mdia, trak;
};

TrakSizes ComputeSizes(uint64_t entrySize, uint32_t limit, uint32_t keyLimit, bool video) {
  TrakSizes s{};
  s.stsd = 16 + entrySize;
  s.stts = 16 + 8ull * limit;
  s.stss = video ? 16 + 4ull * keyLimit : 0;
  s.stsz = 20 + 4ull * limit;
  s.stsc = 16 + 12ull * limit;
  s.stco = 16 + 4ull * limit;
  s.stbl = 8 + s.stsd + s.stts + s.stss + s.stsz + s.stsc + s.stco;
  s.minf = 8 + (video ? 20 : 16) + 36 + s.stbl;
  s.mdia = 8 + 32 + 48 + s.minf;
  s.trak = 8 + 92 + (video ? 0 : kEditRoom) + s.mdia;
  return s;
}

void WriteTrak(Emp4Muxer* m, HeaderWriter& w, Track& t, const TrakSizes& s, bool video,
               const std::vector<uint8_t>& entry) {
  auto& b = w.buf();
  const uint32_t ct = m->limits.creationTime;
  BoxHeader(w, s.trak, "trak", 1, m);
  t.tkhd = w.Here();
  FullBoxHeader(w, 92, "tkhd", 3, 2, m);
  Put32(b, ct);
  Put32(b, ct);
  Put32(b, video ? 1 : 2);
  Put32(b, 0);
  Put32(b, 0);  // duration: written at each flush
  PutZeros(b, 8);
  Put16(b, 0);
  Put16(b, 0);
  Put16(b, video ? 0 : 0x0100);
  Put16(b, 0);
  PutMatrix(b);
  Put32(b, video ? m->video.width << 16 : 0);
  Put32(b, video ? m->video.height << 16 : 0);
  if (!video) {
    // Room for the edit list that places the audio against the video and
    // skips the encoder's priming samples; a `free` box until then.
    t.edts = w.Here();
    BoxHeader(w, kEditRoom, "free", 2, m);
    PutZeros(b, kEditRoom - 8);
  }
  BoxHeader(w, s.mdia, "mdia", 2, m);
  t.mdhd = w.Here();
  FullBoxHeader(w, 32, "mdhd", 0, 3, m);
  Put32(b, ct);
  Put32(b, ct);
  Put32(b, t.timescale);
  Put32(b, 0);       // duration: written at each flush
  Put16(b, 0x55C4);  // language "und"
  Put16(b, 0);
  FullBoxHeader(w, 48, "hdlr", 0, 3, m);
  Put32(b, 0);
  PutType(b, video ? "vide" : "soun");
  PutZeros(b, 12);
  const char* name = video ? "brz_vid" : "brz_aud";
  b.insert(b.end(), name, name + 7);
  PutZeros(b, 16 - 7);
  BoxHeader(w, s.minf, "minf", 3, m);
  if (video) {
    FullBoxHeader(w, 20, "vmhd", 1, 4, m);
    PutZeros(b, 8);
  } else {
    FullBoxHeader(w, 16, "smhd", 0, 4, m);
    PutZeros(b, 4);
  }
  BoxHeader(w, 36, "dinf", 4, m);
  FullBoxHeader(w, 28, "dref", 0, 5, m);
  Put32(b, 1);
  FullBoxHeader(w, 12, "url ", 1, 6, m);
  BoxHeader(w, s.stbl, "stbl", 4, m);
  FullBoxHeader(w, s.stsd, "stsd", 0, 5, m);
  Put32(b, 1);
  PutBytes(b, entry);
  t.stts = w.Here();
  FullBoxHeader(w, s.stts, "stts", 0, 5, m);
  Put32(b, 0);
  w.Skip(s.stts - 16);
  if (video) {
    t.stss = w.Here();
    FullBoxHeader(w, s.stss, "stss", 0, 5, m);
    Put32(b, 0);
    w.Skip(s.stss - 16);
  }
  t.stsz = w.Here();
  FullBoxHeader(w, s.stsz, "stsz", 0, 5, m);
  Put32(b, 0);  // sizes per sample
  Put32(b, 0);
  w.Skip(s.stsz - 20);
  // One sample per chunk: a single run describes every chunk.
  t.stsc = w.Here();
  FullBoxHeader(w, s.stsc, "stsc", 0, 5, m);
  Put32(b, 1);
  Put32(b, 1);
  Put32(b, 1);
  Put32(b, 1);
  w.Skip(s.stsc - 28);
  t.stco = w.Here();
  FullBoxHeader(w, s.stco, "stco", 0, 5, m);
  Put32(b, 0);
  w.Skip(s.stco - 16);
}

std::vector<uint8_t> VideoSampleEntry(Emp4Muxer* m, const std::vector<uint8_t>& config) {
  std::vector<uint8_t> b;
  Put32(b, static_cast<uint32_t>(86 + config.size()));
  PutType(b, m->videoCodec == VideoCodec::kH264 ? "avc1" : "hev1");
  PutZeros(b, 6);
  Put16(b, 1);
  PutZeros(b, 16);
  Put16(b, m->video.width);
  Put16(b, m->video.height);
  Put32(b, 0x00480000);
  Put32(b, 0x00480000);
  Put32(b, 0);
  Put16(b, 1);
  PutZeros(b, 32);
  Put16(b, 0x18);
  Put16(b, 0xFFFF);
  PutBytes(b, config);
  return b;
}

int PrepareHeader(Emp4Muxer* m) {
  const auto start = std::chrono::steady_clock::now();
  auto config = m->videoCodec == VideoCodec::kH264 ? BuildAvcC(m->paramSets)
                                                   : BuildHvcC(m->paramSets);
  if (!config) {
    RLOG(m, m->videoCodec == VideoCodec::kH264
                ? "Warning: muxer can not find sps and pps from h264 meta data.\n"
                : "Warning: muxer can not find vps or sps or pps from h265 meta data.\n");
    return kEmp4NotReady;
  }
  m->sampleEntry = VideoSampleEntry(m, *config);
  const TrakSizes vs = ComputeSizes(m->sampleEntry.size(), m->v.limit, m->keyFrameLimit, true);
  RLOG(m, "Video trak meta boxs size:%llu\n", static_cast<unsigned long long>(vs.trak));
  std::vector<uint8_t> audioEntry;
  TrakSizes as{};
  if (m->a.enabled) {
    audioEntry = AudioSampleEntry(m->audio);
    as = ComputeSizes(audioEntry.size(), m->a.limit, 0, false);
    RLOG(m, "Audio trak meta boxs size:%llu\n", static_cast<unsigned long long>(as.trak));
  }
  m->moovSize = 8 + 108 + vs.trak + (m->a.enabled ? as.trak : 0);
  m->mdatPos = kFtypSize + m->moovSize;
  if (m->mdatPos + 8 > kMaxFileSize) return kEmp4BadArgument;

  // Extend the file with zeros over the reserved space in one call (sparse
  // where the file system allows), then write the box headers in place.
  if (ftruncate(m->fd, static_cast<off_t>(m->mdatPos + 8)) != 0) {
    RLOG(m, "Resize file failed.\n");
    return kEmp4WriteFailed;
  }
  HeaderWriter w(m, 0);
  auto& b = w.buf();
  BoxHeader(w, kFtypSize, "ftyp", 0, m);
  PutType(b, "isom");
  Put32(b, 0);
  for (const char* brand : {"isom", "iso2", "mp42", "avc1", "mp41"}) PutType(b, brand);
  BoxHeader(w, m->moovSize, "moov", 0, m);
  m->mvhd = w.Here();
  FullBoxHeader(w, 108, "mvhd", 0, 1, m);
  Put32(b, m->limits.creationTime);
  Put32(b, m->limits.creationTime);
  Put32(b, kMovieTimescale);
  Put32(b, 0);  // duration: written at each flush
  Put32(b, 0x00010000);
  Put16(b, 0x0100);
  PutZeros(b, 10);
  PutMatrix(b);
  PutZeros(b, 24);
  Put32(b, 3);
  WriteTrak(m, w, m->v, vs, true, m->sampleEntry);
  if (m->a.enabled) WriteTrak(m, w, m->a, as, false, audioEntry);
  w.Flush();
  if (w.Here() != m->mdatPos) {
    RLOG(m, "!!!!Seek file to mdat box fail.\n");
    return kEmp4WriteFailed;
  }
  BoxHeader(w, 8, "mdat", 0, m);
  if (!w.Flush()) return kEmp4WriteFailed;
  m->fileEnd = m->diskEnd = m->mdatPos + 8;
  m->headerReady = true;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  RLOG(m, "Mp4 header is ready. cost time:%u ms\n", static_cast<unsigned>(ms));
  return kEmp4Ok;
}

// --- table flushes -------------------------------------------------------

uint32_t ProvisionalVideoDuration(const Emp4Muxer* m) {
  const auto& p = m->v.pending;
  if (p.size() >= 2) return p[p.size() - 2].duration;
  return kVideoTimescale / std::max<uint32_t>(1, m->video.framerate);
}

uint64_t TrackMediaDuration(const Track& t) {
  uint64_t d = t.flushedDuration;
  for (const auto& e : t.pending) d += e.duration;
  return d;
}

// The audio edit list: an empty edit for audio that starts after the video,
// then the media from the first real sample (after encoder priming and any
// audio that precedes the video).
struct AudioEdit {
  uint32_t emptyMs = 0;
  uint32_t mediaTime = 0;  // in the audio timescale
  uint32_t segmentMs = 0;
};

AudioEdit ComputeAudioEdit(const Emp4Muxer* m) {
  AudioEdit e;
  const Track& a = m->a;
  const uint32_t rate = a.timescale;
  int64_t offsetMs = a.firstTs - m->v.firstTs;
  if (offsetMs > kMaxAudioOffsetMs || offsetMs < -kMaxAudioOffsetMs) offsetMs = 0;
  uint64_t skip = m->encoderDelay;
  if (offsetMs > 0) e.emptyMs = static_cast<uint32_t>(offsetMs);
  if (offsetMs < 0) skip += static_cast<uint64_t>(-offsetMs) * rate / 1000;
  uint64_t media = TrackMediaDuration(a);
  if (m->transcoder || m->transcodedInputSamples)
    media = std::min<uint64_t>(media, m->transcodedInputSamples + m->encoderDelay);
  const uint64_t playable = media > skip ? media - skip : 0;
  e.mediaTime = static_cast<uint32_t>(std::min<uint64_t>(skip, 0x7FFFFFFF));
  e.segmentMs = static_cast<uint32_t>(playable * 1000 / rate);
  return e;
}

bool WriteDurations(Emp4Muxer* m) {
  const uint64_t vMedia = TrackMediaDuration(m->v);
  const uint64_t vMs = (vMedia * 1000 + kVideoTimescale / 2) / kVideoTimescale;
  bool ok = Write32At(m, static_cast<uint32_t>(std::min<uint64_t>(vMedia, UINT32_MAX)),
                      m->v.mdhd + 24) &&
            Write32At(m, static_cast<uint32_t>(vMs), m->v.tkhd + 28);
  uint64_t movieMs = vMs;
  if (m->a.enabled && m->a.samples > 0) {
    const AudioEdit e = ComputeAudioEdit(m);
    const uint64_t aMedia = TrackMediaDuration(m->a);
    const uint64_t aMs = uint64_t{e.emptyMs} + e.segmentMs;
    // Built on the stack: the durations are written at every flush and at
    // the close, which must not fail for want of memory.
    uint8_t edts[kEditRoom] = {};
    size_t used = 0;
    const auto put32 = [&](uint32_t v) {
      Store32(edts + used, v);
      used += 4;
    };
    const auto putType = [&](const char* fourcc) {
      std::memcpy(edts + used, fourcc, 4);
      used += 4;
    };
    const uint32_t entries = e.emptyMs ? 2 : 1;
    put32(8 + 16 + 12 * entries);
    putType("edts");
    put32(16 + 12 * entries);
    putType("elst");
    put32(0);
    put32(entries);
    if (e.emptyMs) {
      put32(e.emptyMs);
      put32(0xFFFFFFFF);  // media time -1: empty edit
      put32(0x00010000);
    }
    put32(e.segmentMs);
    put32(e.mediaTime);
    put32(0x00010000);
    if (used < kEditRoom) {
      put32(static_cast<uint32_t>(kEditRoom - used));
      putType("free");
    }
    ok = ok && WriteAt(m, edts, sizeof edts, m->a.edts) &&
         Write32At(m, static_cast<uint32_t>(std::min<uint64_t>(aMedia, UINT32_MAX)),
                   m->a.mdhd + 24) &&
         Write32At(m, static_cast<uint32_t>(aMs), m->a.tkhd + 28);
    movieMs = std::max(movieMs, aMs);
  }
  ok = ok && Write32At(m, static_cast<uint32_t>(movieMs), m->mvhd + 24);
  return ok;
}

// Writes the batch, followed by `extra` pieces (a sample too large to copy)
// when given, in one write at the end of the file. A failed write is
// truncated away and the batch kept for the next attempt.
bool WriteBatch(Emp4Muxer* m, const iovec* extra = nullptr, int extraCount = 0) {
  // The batch alone (a flush, the close) goes out without the list, so a
  // flush allocates nothing.
  iovec batchOnly{m->batch.data(), m->batch.size()};
  iovec* pieces = &batchOnly;
  int count = m->batch.empty() ? 0 : 1;
  if (extraCount > 0) {
    auto& iov = m->batchIov;
    iov.clear();
    if (!m->batch.empty()) iov.push_back(batchOnly);
    iov.insert(iov.end(), extra, extra + extraCount);
    pieces = iov.data();
    count = static_cast<int>(iov.size());
  }
  if (count == 0) return true;
  size_t total = 0;
  for (int i = 0; i < count; ++i) total += pieces[i].iov_len;
  if (!WriteVAt(m, pieces, count, m->diskEnd)) {
    if (ftruncate(m->fd, static_cast<off_t>(m->diskEnd)) != 0) {
      RLOG(m, "truncate after failed write fail. errno:%d\n", errno);
    }
    return false;
  }
  m->diskEnd += total;
  m->batch.clear();
  return true;
}

// Writes one table's entries from `pos` on through a buffer of its own: a
// flush allocates nothing, so closing a file never fails for want of memory
// and leaves its tables unwritten. Once a write fails the rest are skipped.
class TableWriter {
 public:
  TableWriter(Emp4Muxer* m, uint64_t pos) : m_(m), pos_(pos) {}
  void Put32(uint32_t v) {
    if (used_ + 4 > sizeof buf_) Write();
    Store32(buf_ + used_, v);
    used_ += 4;
  }
  bool Finish() {
    Write();
    return ok_;
  }

 private:
  void Write() {
    if (used_ != 0 && ok_) ok_ = WriteAt(m_, buf_, used_, pos_);
    pos_ += used_;
    used_ = 0;
  }
  Emp4Muxer* m_;
  uint64_t pos_;
  size_t used_ = 0;
  bool ok_ = true;
  uint8_t buf_[2048];
};

// Writes the pending entries of one track, then its counts, durations and
// the mdat size. The batched samples are written first and made durable
// before the tables that point at them, so neither a killed writer nor a
// power cut leaves entries for data that is not there.
bool FlushTrack(Emp4Muxer* m, Track& t, bool video) {
  if (!m->headerReady) return true;
  if (!WriteBatch(m)) return false;
  if (!t.pending.empty()) {
    // At most once a second per file: a recording at camera rates syncs at
    // every flush, a burst does not turn into a sync storm.
    const auto now = std::chrono::steady_clock::now();
    if (now - m->lastSync >= std::chrono::seconds(1)) {
      fdatasync(m->fd);
      m->lastSync = now;
    }
    if (video) t.pending.back().duration = ProvisionalVideoDuration(m);
    const size_t n = t.pending.size();
    TableWriter stts(m, t.stts + 16 + 8ull * t.flushedSamples);
    TableWriter stsz(m, t.stsz + 20 + 4ull * t.flushedSamples);
    TableWriter stco(m, t.stco + 16 + 4ull * t.flushedSamples);
    TableWriter stss(m, t.stss + 16 + 4ull * t.flushedKeys);
    uint32_t keys = 0;
    for (const auto& e : t.pending) {
      stts.Put32(1);
      stts.Put32(e.duration);
      stsz.Put32(e.size);
      stco.Put32(e.offset);
      if (video && e.key) {
        stss.Put32(t.flushedSamples + static_cast<uint32_t>(&e - t.pending.data()) + 1);
        ++keys;
      }
    }
    const uint32_t total = t.flushedSamples + static_cast<uint32_t>(n);
    bool ok = stts.Finish() && stsz.Finish() && stco.Finish();
    if (ok && video) ok = stss.Finish();
    ok = ok && Write32At(m, total, t.stts + 12) && Write32At(m, total, t.stsz + 16) &&
         Write32At(m, total, t.stco + 12);
    if (ok && video) ok = Write32At(m, t.flushedKeys + keys, t.stss + 12);
    if (!ok) return false;
    // The last video sample's duration is known only when the next sample
    // comes: keep it pending so the next flush rewrites its entry.
    const size_t keep = video ? 1 : 0;
    for (size_t i = 0; i + keep < n; ++i) {
      t.flushedDuration += t.pending[i].duration;
      if (t.pending[i].key) ++t.flushedKeys;
    }
    t.flushedSamples += static_cast<uint32_t>(n - keep);
    t.pending.erase(t.pending.begin(), t.pending.begin() + static_cast<ptrdiff_t>(n - keep));
  }
  if (!WriteDurations(m)) return false;
  if (!Write32At(m, static_cast<uint32_t>(m->fileEnd - m->mdatPos), m->mdatPos)) return false;
  if (video) RLOG(m, "Sync video header info to file.\n");
  return true;
}

// Retries the table flushes that failed earlier. Until they succeed no new
// sample is appended, so a sample reported as failed is never in the file.
bool PayFlushesOwed(Emp4Muxer* m) {
  for (auto [t, video] : {std::pair{&m->v, true}, std::pair{&m->a, false}}) {
    if (!t->flushOwed) continue;
    if (!FlushTrack(m, *t, video)) return false;
    t->flushOwed = false;
  }
  return true;
}

// Appends one sample's bytes and records its entry. A sample whose bytes
// were appended is kept and reported as written even when the table flush
// it triggers fails: the flush is owed and retried before the next sample,
// whose call reports the failure (-1006) without writing anything.
int AppendSample(Emp4Muxer* m, Track& t, bool video, iovec* iov, int iovCount, size_t length,
                 bool key, int64_t ts, uint32_t duration) {
  if (!PayFlushesOwed(m)) {
    RLOG(m, "!!!Sample tables still cannot be written, sample refused.\n");
    return kEmp4WriteFailed;
  }
  if (m->fileEnd + length > kMaxFileSize) {
    RLOG(m, "!!!File size would pass 4 GiB, sample refused.\n");
    return kEmp4LimitReached;
  }
  // A sample that fits is copied into the batch; otherwise the batch and
  // the sample go out together. When that write fails the sample is refused
  // and the batch (samples already reported written) is kept for the next
  // write or flush.
  if (m->batch.size() + length <= kBatchBytes) {
    try {
      if (m->batch.capacity() < kBatchBytes) m->batch.reserve(kBatchBytes);
    } catch (const std::bad_alloc&) {
      RLOG(m, "Alloc write batch fail.\n");
      return kEmp4NoMemory;
    }
    for (int i = 0; i < iovCount; ++i) {
      const auto* p = static_cast<const uint8_t*>(iov[i].iov_base);
      m->batch.insert(m->batch.end(), p, p + iov[i].iov_len);
    }
  } else if (!WriteBatch(m, iov, iovCount)) {
    return kEmp4WriteFailed;
  }
  if (video && !t.pending.empty()) {
    const int64_t delta = (ts - t.lastTs) * (kVideoTimescale / 1000);
    t.pending.back().duration =
        static_cast<uint32_t>(std::clamp<int64_t>(delta, 1, INT32_MAX));
  }
  t.pending.push_back({static_cast<uint32_t>(m->fileEnd), static_cast<uint32_t>(length),
                       duration, key});
  m->fileEnd += length;
  t.samples++;
  if (key) t.keys++;
  if (!t.haveTs) {
    t.haveTs = true;
    t.firstTs = ts;
  }
  t.lastTs = ts;
  if (t.samples % kFlushEvery == 0 && !FlushTrack(m, t, video)) {
    RLOG(m, "!!!Sample tables not written; retried before the next sample.\n");
    t.flushOwed = true;
  }
  return kEmp4Ok;
}

int AppendSample(Emp4Muxer* m, Track& t, bool video, const uint8_t* data, size_t length,
                 bool key, int64_t ts, uint32_t duration) {
  iovec one{const_cast<uint8_t*>(data), length};
  return AppendSample(m, t, video, &one, 1, length, key, ts, duration);
}

void FreeMuxer(Emp4Muxer* m, bool removeFile) {
  if (m->fd >= 0) close(m->fd);
  if (removeFile && !m->path.empty()) unlink(m->path.c_str());
  emp4_aac_enc_destroy(m->transcoder);
  delete m;
}

}  // namespace

Emp4Muxer* Emp4MuxerOpen(const Emp4VideoDesc* video, const char* path, const Emp4AudioDesc* audio,
                         const Emp4Limits* limits, int convertToAac) {
  if (!video || !path || !*path || !limits) {
    RLOG(nullptr, "Mp4 open: bad argument\n");
    return nullptr;
  }
  Emp4AudioDesc noAudio{};
  if (!audio) audio = &noAudio;
  RLOG(nullptr, "Mp4 open, path:%s video codec:%d width:%u height:%u framerate:%u\n", path,
       video->codec, video->width, video->height, video->framerate);
  RLOG(nullptr, "Audio enable:%u codec:%d samplerate:%u chn_num:%u\n", audio->enabled,
       audio->codec, audio->sampleRate, audio->channels);
  RLOG(nullptr, "Rec duration:%u\n", limits->durationSec);
  if (video->framerate == 0 || video->framerate > 100 || limits->durationSec == 0 ||
      limits->durationSec > 3600) {
    RLOG(nullptr, "Mp4 param is not suitable. framerate:%u duration:%u\n", video->framerate,
         limits->durationSec);
    return nullptr;
  }
  if (video->codec != kEmp4CodecH264 && video->codec != kEmp4CodecH265) {
    RLOG(nullptr, "Video codec not support.\n");
    return nullptr;
  }
  if (audio->enabled) {
    if (audio->channels == 0 || audio->sampleRate == 0 || audio->samplesPerPacket == 0) {
      RLOG(nullptr,
           "Mp4 audio param is not suitable. channel_num:%u samplerate:%u samples_each_pkt:%u\n",
           audio->channels, audio->sampleRate, audio->samplesPerPacket);
      return nullptr;
    }
    if (audio->codec == kEmp4CodecAac && audio->samplesPerPacket != 1024) {
      RLOG(nullptr,
           "!!!AAC-LC samples_each_pkt must be 1024, got %u. (Use 2048/4096 only for HE-AAC)\n",
           audio->samplesPerPacket);
      return nullptr;
    }
    // The sample entry holds the rate as a 16.16 number: a higher rate would
    // be stored wrong, so it is refused rather than written.
    if (audio->sampleRate > 0xFFFF) {
      RLOG(nullptr,
           "!!!Audio sample rate %u Hz above 65535 Hz cannot be stored in an MP4 sample entry.\n",
           audio->sampleRate);
      return nullptr;
    }
    if (audio->channels > 8) {
      RLOG(nullptr, "Mp4 audio param is not suitable. channel_num:%u (at most 8)\n",
           audio->channels);
      return nullptr;
    }
    if (convertToAac && audio->codec != kEmp4CodecUlaw && audio->codec != kEmp4CodecAlaw) {
      RLOG(nullptr,
           "convert_to_aac=1 ignored: codec %d is already AAC or non-G.711, will write as-is\n",
           audio->codec);
      convertToAac = 0;
    }
    if (audio->codec != kEmp4CodecAac && audio->codec != kEmp4CodecUlaw &&
        audio->codec != kEmp4CodecAlaw) {
      RLOG(nullptr, "Audio codec not support.\n");
      return nullptr;
    }
    if ((audio->codec == kEmp4CodecAac || convertToAac) &&
        AacChannelConfiguration(audio->channels) == 0) {
      RLOG(nullptr, "!!!AAC has no standard channel configuration for %u channels.\n",
           audio->channels);
      return nullptr;
    }
  } else {
    convertToAac = 0;
  }

  const int fd = open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    RLOG(nullptr, "Open %s fail.\n", path);
    return nullptr;
  }
  const uint8_t probe[4] = {0, 0, 0, 0};
  if (pwrite(fd, probe, 4, 0) != 4) {
    RLOG(nullptr, "%s can not write data. err:%d\n", path, errno);
    close(fd);
    unlink(path);
    return nullptr;
  }
  auto* m = new (std::nothrow) Emp4Muxer;
  if (!m) {
    RLOG(nullptr, "Alloc Emp4Muxer fail.\n");
    close(fd);
    unlink(path);
    return nullptr;
  }
  m->fd = fd;
  // The muxer owns the file from here: whatever fails while it is set up
  // (memory running out) closes and removes it, so nothing is left open.
  try {
    m->path = std::string(path).substr(0, 4096);
    m->video = *video;
    m->audio = *audio;
    m->limits = *limits;
    m->videoCodec = video->codec == kEmp4CodecH264 ? VideoCodec::kH264 : VideoCodec::kH265;

    if (convertToAac) {
      m->transcoder = emp4_aac_enc_create(static_cast<int>(audio->codec), audio->sampleRate,
                                          audio->channels);
      if (!m->transcoder) {
        RLOG(m, "emp4_aac_enc_create fail.\n");
        FreeMuxer(m, true);
        return nullptr;
      }
      m->audio.codec = kEmp4CodecAac;
      m->audio.samplesPerPacket = 1024;
      m->encoderDelay = emp4_aac_enc_delay(m->transcoder);
      try {
        m->aacOut.assign(emp4_aac_enc_max_out(m->transcoder), 0);
      } catch (const std::bad_alloc&) {
        RLOG(m, "alloc aac_out_buf fail.\n");
        FreeMuxer(m, true);
        return nullptr;
      }
      RLOG(m, "convert_to_aac ON, src:%d -> AAC-LC, samplerate:%u ch:%u max_out:%zu\n",
           audio->codec, audio->sampleRate, audio->channels, m->aacOut.size());
    }

    const double duration = limits->durationSec;
    m->v.enabled = true;
    m->v.timescale = kVideoTimescale;
    m->v.limit = static_cast<uint32_t>(duration * video->framerate * 1.2);
    // Every video sample may be a key frame: short-GOP cameras must not run out
    // of key-frame entries before the sample table is full.
    m->keyFrameLimit = m->v.limit;
    if (m->audio.enabled) {
      m->a.enabled = true;
      m->a.timescale = m->audio.sampleRate;
      m->a.limit = static_cast<uint32_t>(m->audio.sampleRate * 1.2 * m->audio.channels * duration /
                                         m->audio.samplesPerPacket);
      m->audioPacketMs = m->audio.samplesPerPacket * 1000 / (m->audio.sampleRate * m->audio.channels);
    }
    RLOG(m, "Limit frame num in mp4, video:%u keyframe:%u audio:%u \n", m->v.limit,
         m->keyFrameLimit, m->a.limit);

    if (video->metaLength > 0) {
      const size_t n = std::min<size_t>(video->metaLength, sizeof video->metaData);
      m->paramSets.Collect(m->videoCodec, SplitAnnexB(video->metaData, n));
      const int rc = PrepareHeader(m);
      if (rc != kEmp4Ok) {
        RLOG(m, "Header prepare fail :%d\n", rc);
        FreeMuxer(m, true);
        return nullptr;
      }
    }
  } catch (const std::bad_alloc&) {
    RLOG(m, "Out of memory while opening the file.\n");
    FreeMuxer(m, false);
    unlink(path);  // by the caller's name: the muxer's copy may be what failed
    return nullptr;
  }
  return m;
}

int Emp4MuxerWriteVideoNALU(Emp4Muxer* m, int keyFlag, const uint8_t* data, size_t length,
                            int64_t timestampMs) {
  if (!m) return kEmp4BadArgument;
  if (!data || length == 0) {
    RLOG(m, "Empty video frame.\n");
    return kEmp4BadArgument;
  }
  auto& nals = m->nals;
  SplitAnnexB(data, length, nals);
  if (nals.empty()) {
    RLOG(m, "Video frame holds no start code.\n");
    return kEmp4BadArgument;
  }
  if (!m->headerReady) {
    // Parameter sets may come in their own access units before the key frame.
    m->paramSets.Collect(m->videoCodec, nals);
    if (!keyFlag) {
      RLOG(m, "Wait first key frame\n");
      return kEmp4NotReady;
    }
    const int rc = PrepareHeader(m);
    if (rc != kEmp4Ok) {
      RLOG(m, "Header prepare fail :%d\n", rc);
      return rc == kEmp4NotReady ? kEmp4NotReady : rc;
    }
  } else if (m->v.samples == 0 && !keyFlag) {
    RLOG(m, "Wait first key frame\n");
    return kEmp4NotReady;
  }
  if (m->v.samples + 1 >= m->v.limit) {
    RLOG(m, "!!!Video frame num reach max num:%d.\n", m->v.limit);
    return kEmp4LimitReached;
  }
  if (keyFlag && m->v.keys + 1 >= m->keyFrameLimit) {
    RLOG(m, "!!!Video key frame num reach max num.\n");
    return kEmp4LimitReached;
  }
  if (m->v.samples > 0 && timestampMs <= m->v.lastTs) {
    RLOG(m, "!!!Video frame 'timestamp' must increase gradually.\n");
    timestampMs = m->v.lastTs + 10;
  }
  size_t needed = 0;
  for (const auto& n : nals) needed += 4 + n.size;
  if (needed > UINT32_MAX) return kEmp4BadArgument;
  m->iov.clear();
  if (nals.size() <= 256) {
    m->prefixes.resize(4 * nals.size());
    for (size_t i = 0; i < nals.size(); ++i) {
      Store32(m->prefixes.data() + 4 * i, static_cast<uint32_t>(nals[i].size));
      m->iov.push_back({m->prefixes.data() + 4 * i, 4});
      m->iov.push_back({const_cast<uint8_t*>(nals[i].data), nals[i].size});
    }
  } else {
    if (!ExpandFrameBuf(m, needed)) return kEmp4NoMemory;
    m->frame.resize(needed);
    uint8_t* out = m->frame.data();
    for (const auto& n : nals) {
      Store32(out, static_cast<uint32_t>(n.size));
      std::memcpy(out + 4, n.data, n.size);
      out += 4 + n.size;
    }
    m->iov.push_back({m->frame.data(), needed});
  }
  m->pendingKind = 0;
  m->pendingKey = keyFlag != 0;
  m->pendingLength = needed;
  m->pendingTs = timestampMs;
  m->pendingDuration = 0;
  return kEmp4Ok;
}

int Emp4MuxerWriteAudio(Emp4Muxer* m, const uint8_t* data, size_t length, int64_t timestampMs) {
  if (!m) return kEmp4BadArgument;
  if (!m->headerReady || m->v.samples == 0) return kEmp4NotReady;
  if (!m->a.enabled) {
    RLOG(m, "!!Audio disable but write data??.\n");
    return kEmp4WriteFailed;
  }
  if (!data || length == 0) return kEmp4BadArgument;
  if (m->a.samples >= m->a.limit) {
    RLOG(m, "!!!Audio frame num reach max num..\n");
    return kEmp4LimitReached;
  }
  if (m->a.haveTs && timestampMs <= m->a.lastTs) timestampMs = m->a.lastTs + m->audioPacketMs / 2;

  if (m->transcoder) {
    // The encoder keeps what it is fed: refuse before feeding it when the
    // samples it would produce cannot be recorded.
    if (!PayFlushesOwed(m)) return kEmp4WriteFailed;
    int n = emp4_aac_enc_feed(m->transcoder, data, length, m->aacOut.data(), m->aacOut.size());
    if (n < 0) {
      RLOG(m, "emp4_aac_enc_feed fail: %d\n", n);
      return kEmp4WriteFailed;
    }
    if (!m->a.haveTs) {
      // The track's clock starts with the first G.711 byte, even though the
      // first AAC frame comes out only later.
      m->a.haveTs = true;
      m->a.firstTs = timestampMs;
    }
    m->transcodedInputSamples += length / m->audio.channels;
    m->a.lastTs = timestampMs;
    while (n > 0) {
      if (m->a.samples >= m->a.limit) {
        RLOG(m, "!!!Audio frame num reach max num..\n");
        return kEmp4LimitReached;
      }
      const int rc = AppendSample(m, m->a, false, m->aacOut.data(), static_cast<size_t>(n), true,
                                  timestampMs, 1024);
      if (rc != kEmp4Ok) return rc;
      n = emp4_aac_enc_take(m->transcoder, m->aacOut.data(), m->aacOut.size());
    }
    return kEmp4Ok;
  }

  const uint8_t* payload = data;
  size_t size = length;
  uint32_t duration;
  if (m->audio.codec == kEmp4CodecAac) {
    if (length > 1 && data[0] == 0xFF && data[1] >= 0xF0) {
      const size_t header = (data[1] & 1) ? 7 : 9;
      if (length <= header) {
        RLOG(m, "AAC frame too short. len:%zu header:%zu\n", length, header);
        return kEmp4BadArgument;
      }
      payload += header;
      size -= header;
    }
    duration = 1024;
  } else {
    duration = static_cast<uint32_t>(length / m->audio.channels);
    if (duration == 0) return kEmp4BadArgument;
  }
  m->iov.assign(1, iovec{const_cast<uint8_t*>(payload), size});
  m->pendingKind = 1;
  m->pendingKey = true;
  m->pendingLength = size;
  m->pendingTs = timestampMs;
  m->pendingDuration = duration;
  return kEmp4Ok;
}

int _emp4MuxerWritePendingSample(Emp4Muxer* m) {
  if (!m) return kEmp4BadArgument;
  if (m->pendingKind < 0) return kEmp4Ok;
  const bool video = m->pendingKind == 0;
  m->pendingKind = -1;
  return AppendSample(m, video ? m->v : m->a, video, m->iov.data(),
                      static_cast<int>(m->iov.size()), m->pendingLength, m->pendingKey,
                      m->pendingTs, m->pendingDuration);
}

void Emp4MuxerClose(Emp4Muxer* m) {
  if (!m) return;
  // The file is closed and the muxer freed whatever the last writes meet:
  // memory running out loses at most the transcoder's last frames.
  if (m->headerReady) try {
    if (m->transcoder && m->a.haveTs) {
      for (int i = 0; i < 4096; ++i) {
        const int n = emp4_aac_enc_flush(m->transcoder, m->aacOut.data(), m->aacOut.size());
        if (n <= 0) break;
        if (m->a.samples >= m->a.limit) break;
        const int rc = AppendSample(m, m->a, false, m->aacOut.data(), static_cast<size_t>(n),
                                    true, m->a.lastTs + m->audioPacketMs, 1024);
        if (rc != kEmp4Ok) {
          RLOG(m, "flush write audio fail: %d\n", rc);
          break;
        }
      }
    }
    // The last tables must not point at samples still in the page cache, and
    // a closed recording must survive a power cut: sync before and after.
    m->lastSync = {};
    if (!FlushTrack(m, m->v, true)) RLOG(m, "!!!Sync mp4 header info fail when close file.\n");
    if (m->a.enabled && !FlushTrack(m, m->a, false))
      RLOG(m, "!!!Sync mp4 header info fail when close file.\n");
    if (fdatasync(m->fd) != 0) RLOG(m, "!!!Sync mp4 file fail when close file.\n");
  } catch (const std::bad_alloc&) {
    RLOG(m, "!!!Out of memory when close file.\n");
  }
  // A file without a single video sample holds nothing worth keeping.
  FreeMuxer(m, !m->headerReady || m->v.samples == 0);
}

void Emp4MuxerSetWriteFault(Emp4Muxer* m, Emp4WriteFault fault, void* context) {
  if (!m) return;
  m->fault = fault;
  m->faultContext = context;
}

Emp4MuxerLayout Emp4MuxerGetLayout(const Emp4Muxer* m) {
  Emp4MuxerLayout l{};
  if (!m) return l;
  l.videoLimit = m->v.limit;
  l.keyFrameLimit = m->keyFrameLimit;
  l.audioLimit = m->a.limit;
  l.audioPacketMs = m->audioPacketMs;
  l.moovOffset = kFtypSize;
  l.moovSize = m->moovSize;
  l.mdatOffset = m->mdatPos;
  l.videoEntrySize = static_cast<uint32_t>(m->sampleEntry.size());
  l.videoStblSize = static_cast<uint32_t>(
      ComputeSizes(m->sampleEntry.size(), m->v.limit, m->keyFrameLimit, true).stbl);
  l.headerReady = m->headerReady;
  return l;
}
