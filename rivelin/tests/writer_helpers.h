#pragma once
// Recording fixtures through the writer's exports, shared by the tests.
#include <filesystem>
#include <utility>
#include <vector>

#include "media_fixtures.h"
#include "rivelin.h"

namespace rivelin::test {

enum class VideoKind { kH264Main, kH264HighSlices, kH265 };
enum class AudioKind { kNone, kPcmu, kPcma, kAacAdts, kAacRaw };

MP4_VIDEO_PARAM VideoParam(const char* codec, uint32_t width, uint32_t height, uint32_t fps);
MP4_AUDIO_PARAM AudioParam(const char* codec, uint32_t rate, uint32_t channels);

// Two seconds of 160x120 video at 25 fps (key frame every 12 frames).
std::vector<AccessUnit> VideoFixture(VideoKind kind);
inline std::vector<AccessUnit> VideoFixture(bool h265) {
  return VideoFixture(h265 ? VideoKind::kH265 : VideoKind::kH264Main);
}
// Two seconds of a 440 Hz tone: G.711 in 320-byte packets (8 kHz, 40 ms) or
// AAC frames at 16 kHz (64 ms).
std::vector<Packet> AudioPackets(AudioKind kind);
int AudioPacketMs(AudioKind kind);

struct RecordResult {
  int videoAccepted = 0;
  int audioAccepted = 0;
  double audioSeconds = 0;
};
// Writes the fixtures interleaved by timestamp (video at 1000 + 40 i ms).
RecordResult Record(const std::filesystem::path& path, VideoKind video, AudioKind audio,
                    bool transcode, long durationSec = 60);

// (video, audio) samples our reader returns for a file.
std::pair<int, int> CountSamplesWithReader(const std::filesystem::path& path);

}  // namespace rivelin::test
