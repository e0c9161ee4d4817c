#pragma once
// Inputs for the benchmarks, encoded once per run with Debian's ffmpeg into a
// temporary folder, and small measuring helpers.
#include <sys/resource.h>

#include <cstdint>
#include <string>
#include <vector>

namespace rivelin::bench {

struct Unit {
  std::vector<uint8_t> data;
  bool key;
};

// Temporary folder for this process (removed at exit).
const std::string& TempDir();
enum class VideoCodec { kH264, kH265 };

// 720p H.264 or H.265 at 8 Mbit/s, 25 fps, 4 s, as access units (Annex B).
const std::vector<Unit>& VideoUnits(VideoCodec codec = VideoCodec::kH264);
// 60 s of G.711 u-law speech-like noise at 8 kHz, mono.
const std::vector<uint8_t>& G711Minute();
// 60 s of the same noise as raw AAC-LC frames (no ADTS header), 16 kHz mono,
// 1024 samples (64 ms) each.
const std::vector<std::vector<uint8_t>>& AacFrames16k();

// CPU time (user + system) of the whole process, every thread, in seconds.
double ProcessCpuSeconds();

// CPU time (user + system) of the calling thread, in seconds.
double ThreadCpuSeconds();
// Bytes of heap in use now.
size_t HeapInUse();

}  // namespace rivelin::bench
