#pragma once
// MP4 reader: one H.264/H.265 video track and at most one AAC or G.711 audio
// track, returned merged in time order in the forms decoders take (Annex B
// video with parameter sets before key frames, AAC with an ADTS header).
// Every box and table is bounds-checked against its parent and the file.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "emp4_muxer.h"

struct Emp4Demuxer;

struct Emp4FileInfo {
  uint32_t durationSec;   // whole seconds, rounded up
  uint32_t creationTime;  // seconds since 1904
};

// Open errors (*error): 1 out of memory, 2 open failed, 3 second open failed,
// 4 header not readable.
Emp4Demuxer* Emp4DemuxerOpen(const char* path, Emp4VideoDesc* video, Emp4AudioDesc* audio,
                             Emp4FileInfo* info, int* error);
// Length of the next frame (> 0), -1000 for a NULL demuxer, -1008 at the end
// or on a read failure. *data stays valid until the next call.
int Emp4DemuxerReadFrame(Emp4Demuxer* d, uint8_t** data, int* isAudio, int* keyFlag,
                         uint64_t* timestampMs);
// Moves to the key frame at or before the first video frame at or after
// targetMs; audio follows from that key frame's time. 0, or -1000.
int Emp4DemuxerSeek(Emp4Demuxer* d, uint64_t targetMs);
void Emp4DemuxerClose(Emp4Demuxer* d);

// Further facts about an open file.
uint64_t Emp4DemuxerDurationMs(const Emp4Demuxer* d);
uint32_t Emp4DemuxerVideoFrames(const Emp4Demuxer* d);
uint32_t Emp4DemuxerAudioFrames(const Emp4Demuxer* d);
// The video parameter sets in start-code form (may be longer than metaData).
const std::vector<uint8_t>& Emp4DemuxerParameterSets(const Emp4Demuxer* d);
