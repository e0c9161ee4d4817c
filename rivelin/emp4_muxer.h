#pragma once
// MP4 writer for one-pass recording of live streams. The whole `moov` is
// reserved at full size right after `ftyp`, samples are appended to `mdat`,
// and the sample tables inside the reserved space are filled every 120
// samples per track, so a recording whose writer dies stays readable up to
// its last flush.
#include <cstddef>
#include <cstdint>

// Media descriptions shared by the writer and the reader (152 bytes each).
struct Emp4VideoDesc {
  uint32_t codec;      // 1 H.264, 2 H.265, 0 other
  uint32_t width;
  uint32_t height;
  uint32_t framerate;  // frames per second
  uint32_t gop;        // key-frame interval in frames; 0 = not given
  uint32_t metaLength; // valid bytes of metaData; 0 = parameter sets not known
  uint8_t metaData[128];  // parameter sets in start-code form
};
static_assert(sizeof(Emp4VideoDesc) == 152);

struct Emp4AudioDesc {
  uint32_t enabled;           // 0 = no audio track
  uint32_t codec;             // 10 AAC, 11 G.711 u-law, 12 G.711 A-law
  uint32_t samplesPerPacket;  // 1024 for AAC, 320 for G.711 (sizing only)
  uint32_t sampleRate;        // Hz
  uint32_t channels;
  uint8_t reserved[132];
};
static_assert(sizeof(Emp4AudioDesc) == 152);

// Appended samples are gathered in memory up to this many bytes and written
// in one go (at the latest at each table flush).
constexpr size_t kEmp4WriteBatchBytes = size_t{1} << 20;

struct Emp4Limits {
  uint32_t durationSec;   // 1..3600: sizes the reserved tables
  uint32_t creationTime;  // seconds since 1904-01-01 UTC
};

enum Emp4Codec : uint32_t {
  kEmp4CodecNone = 0,
  kEmp4CodecH264 = 1,
  kEmp4CodecH265 = 2,
  kEmp4CodecAac = 10,
  kEmp4CodecUlaw = 11,
  kEmp4CodecAlaw = 12,
};

enum Emp4Result : int {
  kEmp4Ok = 0,
  kEmp4BadArgument = -1000,
  kEmp4NoMemory = -1002,
  kEmp4LimitReached = -1003,  // sample table or 4 GiB limit: start a new file
  kEmp4NotReady = -1004,      // no key frame (with parameter sets) yet
  kEmp4BadBox = -1005,
  kEmp4WriteFailed = -1006,
  kEmp4BadTable = -1007,
  kEmp4EndOfData = -1008,
};

struct Emp4Muxer;

// NULL on failure; the file is then not left behind.
Emp4Muxer* Emp4MuxerOpen(const Emp4VideoDesc* video, const char* path, const Emp4AudioDesc* audio,
                         const Emp4Limits* limits, int convertToAac);
// One access unit in Annex B form; prepares the pending sample. The data must
// stay valid until _emp4MuxerWritePendingSample (the sample is not copied).
int Emp4MuxerWriteVideoNALU(Emp4Muxer* m, int keyFlag, const uint8_t* data, size_t length,
                            int64_t timestampMs);
// One audio packet; prepares the pending sample (transcoded frames are
// appended directly). The data must stay valid as for video.
int Emp4MuxerWriteAudio(Emp4Muxer* m, const uint8_t* data, size_t length, int64_t timestampMs);
// Appends the pending sample and its table entries.
int _emp4MuxerWritePendingSample(Emp4Muxer* m);
// Finishes the file (drains the transcoder, writes the tables) and frees.
void Emp4MuxerClose(Emp4Muxer* m);

// Tests: `fault` is asked before every write to the file (position and
// size) and makes it fail when it returns true.
using Emp4WriteFault = bool (*)(void* context, uint64_t pos, size_t size);
void Emp4MuxerSetWriteFault(Emp4Muxer* m, Emp4WriteFault fault, void* context);

// Where the reserved boxes went (for tests and diagnostics).
struct Emp4MuxerLayout {
  uint32_t videoLimit, keyFrameLimit, audioLimit, audioPacketMs;
  uint64_t moovOffset, moovSize, mdatOffset;
  uint32_t videoEntrySize, videoStblSize;
  bool headerReady;
};
Emp4MuxerLayout Emp4MuxerGetLayout(const Emp4Muxer* m);
