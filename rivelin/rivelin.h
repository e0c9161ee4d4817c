#ifndef RIVELIN_RIVELIN_H
#define RIVELIN_RIVELIN_H
/*
 * Rivelin: writes MP4 files from H.264/H.265 video with G.711 or AAC audio
 * (optionally transcoding G.711 to AAC), and plays MP4 files through a
 * callback. Plain C exports; the records below cross the library boundary in
 * the little-endian machine layout and their sizes never change.
 *
 * Handles are small positive integers. A handle that is unknown or already
 * closed gives an error result; it never crashes.
 *
 * No export lets an exception out: one that fails inside the library (memory
 * running out, no thread) returns its failure result (0 from the create calls,
 * -1002 from WriteMP4Data, -1 from the player calls) and leaves no handle or
 * open file behind. A player callback that throws ends that playback.
 */
#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

#if defined(RIVELIN_BUILD)
#define RIVELIN_API __attribute__((visibility("default")))
#else
#define RIVELIN_API
#endif

typedef struct MP4_VIDEO_PARAM {
  char codec[256];         /* "H264", "H.264", "H265", "H.265" */
  uint32_t width;          /* pixels */
  uint32_t height;         /* pixels */
  uint32_t reserved0;
  uint32_t framerate;      /* frames per second */
  uint32_t reserved1;
  char extra[256];         /* codec extra text (filled by the player) */
  uint32_t extraLength;    /* parameter-set bytes (filled by the player) */
} MP4_VIDEO_PARAM;

typedef struct MP4_AUDIO_PARAM {
  char codec[256];         /* "PCMU", "PCMA", "MPEG4-GENERIC", ... */
  uint32_t sampleRate;     /* Hz */
  uint32_t samplesPerPacket; /* filled by the player; the writer ignores it */
  uint32_t channels;
  uint32_t reserved0;
  uint32_t reserved1;
} MP4_AUDIO_PARAM;

typedef struct MEDIA_STREAM_INFO {
  char name[32];           /* source name; the player writes "Rivelin" */
  int16_t hasVideo;
  int16_t hasAudio;
  MP4_VIDEO_PARAM video;
  MP4_AUDIO_PARAM audio;
  unsigned char reserved[512];
} MEDIA_STREAM_INFO;

/* Writer. The create calls return a handle > 0, or 0 on failure. */
RIVELIN_API long MP4Create(char* path, MP4_VIDEO_PARAM* video, MP4_AUDIO_PARAM* audio,
                           long durationSec);
/* Like MP4Create, but G.711 audio is transcoded to AAC-LC before it is stored. */
RIVELIN_API long MP4Create_aac(char* path, MP4_VIDEO_PARAM* video, MP4_AUDIO_PARAM* audio,
                               long durationSec);
/* One video access unit (Annex B start-code form) or one audio packet.
 * 0 on success; -1 for a zero/invalid timestamp or NULL data; otherwise a
 * negative muxer code (-1000 bad handle or argument, -1002 out of memory,
 * -1003 a limit of this file reached: start a new file, -1004 not ready,
 * -1006 write failed). */
RIVELIN_API int WriteMP4Data(long handle, int isVideo, unsigned char* data,
                             unsigned long length, int keyFrame, double timestampMs);
/* Finishes the file; a file that never got a key frame is deleted. Always 0. */
RIVELIN_API int MP4Close(long handle);

/* Player. Frame data is valid only during the callback. Types: 0 video,
 * 1 audio, 2 MEDIA_STREAM_INFO, 3 end of file. */
typedef long (*MP4PlayerCallback)(long handle, unsigned long type, unsigned char* data,
                                  unsigned long length, uint64_t timestampMs, bool keyFrame,
                                  void* user);

RIVELIN_API long MP4CreatePlayer(MP4PlayerCallback callback, void* user);
RIVELIN_API long MP4LoadFile(long handle, char* path, long startSec, int fast);
RIVELIN_API long MP4GetFileTimes(char* path);
RIVELIN_API long MP4GetFileFrameCount(char* path);
RIVELIN_API long MP4ChangeSec(long handle, long sec);
RIVELIN_API long MP4SetSpeed(long handle, long speed);
RIVELIN_API long MP4Pause(long handle, long pause);
RIVELIN_API long MP4StopPlay(long handle);
RIVELIN_API long MP4SetPlayFramerate(long handle, long fps);
RIVELIN_API long MP4DeletePlayer(long handle);

#ifdef __cplusplus
}  /* extern "C" */

static_assert(sizeof(MP4_VIDEO_PARAM) == 536, "MP4_VIDEO_PARAM layout");
static_assert(offsetof(MP4_VIDEO_PARAM, width) == 256, "MP4_VIDEO_PARAM layout");
static_assert(offsetof(MP4_VIDEO_PARAM, framerate) == 268, "MP4_VIDEO_PARAM layout");
static_assert(offsetof(MP4_VIDEO_PARAM, extra) == 276, "MP4_VIDEO_PARAM layout");
static_assert(offsetof(MP4_VIDEO_PARAM, extraLength) == 532, "MP4_VIDEO_PARAM layout");
static_assert(sizeof(MP4_AUDIO_PARAM) == 276, "MP4_AUDIO_PARAM layout");
static_assert(offsetof(MP4_AUDIO_PARAM, sampleRate) == 256, "MP4_AUDIO_PARAM layout");
static_assert(offsetof(MP4_AUDIO_PARAM, samplesPerPacket) == 260, "MP4_AUDIO_PARAM layout");
static_assert(offsetof(MP4_AUDIO_PARAM, channels) == 264, "MP4_AUDIO_PARAM layout");
static_assert(sizeof(MEDIA_STREAM_INFO) == 1360, "MEDIA_STREAM_INFO layout");
static_assert(offsetof(MEDIA_STREAM_INFO, hasVideo) == 32, "MEDIA_STREAM_INFO layout");
static_assert(offsetof(MEDIA_STREAM_INFO, hasAudio) == 34, "MEDIA_STREAM_INFO layout");
static_assert(offsetof(MEDIA_STREAM_INFO, video) == 36, "MEDIA_STREAM_INFO layout");
static_assert(offsetof(MEDIA_STREAM_INFO, audio) == 572, "MEDIA_STREAM_INFO layout");
static_assert(offsetof(MEDIA_STREAM_INFO, reserved) == 848, "MEDIA_STREAM_INFO layout");
#endif

#endif /* RIVELIN_RIVELIN_H */
