#ifndef ZQ_RTSP_CLIENT_H
#define ZQ_RTSP_CLIENT_H
/* The RTSP client library: receives a device's live stream and hands its
 * frames to a callback (video as Annex B access units, audio packets, and
 * first the media description). A lost stream is reconnected until stopped. Plain C functions exported by name; narrow strings.
 * A play handle is non-zero; 0 means failure. InitLib and ReleaseLib run once
 * per process on the UI thread; ReleaseLib only after every play has stopped.
 * No call lets an exception out: one that fails inside the library (memory
 * running out, no thread) returns 0 for a handle, else -1, and leaves no play
 * behind. A callback that throws ends that connection, which is made again. */
#ifdef __cplusplus
extern "C" {
#endif

typedef long ZQ_RTSP_PLAY_HANDLE;

/* Frame types given to the data callback. */
enum { ZQ_RTSP_FRAME_VIDEO = 0, ZQ_RTSP_FRAME_AUDIO = 1, ZQ_RTSP_FRAME_MEDIA_INFO = 2 };

/* The frame information record: key-frame flag at byte 0, 64-bit timestamp at
 * byte 8, the caller's user value at byte 16. */
typedef struct ZQ_RTSP_FRAME_INFO {
  int key_frame;
  int reserved;
  long long timestamp;
  void* user;
} ZQ_RTSP_FRAME_INFO;

/* Called on a thread of the library with one frame (type video or audio) or
 * the stream's media description (type 2, a MEDIA_STREAM_INFO). Returns 0.
 * No call for a handle arrives after ZQ_RTSP_CLINET_LIB_StopRealPlay returns. */
typedef int (*ZQ_RTSP_DATA_CALLBACK)(ZQ_RTSP_PLAY_HANDLE handle, int type, const unsigned char* data, int length,
                                     const ZQ_RTSP_FRAME_INFO* frame_info);

int ZQ_RTSP_CLINET_LIB_InitLib(void);
int ZQ_RTSP_CLINET_LIB_ReleaseLib(void);

ZQ_RTSP_PLAY_HANDLE ZQ_RTSP_CLINET_LIB_RealPlayByUrl(const char* url, const char* user, const char* password,
                                                     int transport, ZQ_RTSP_DATA_CALLBACK callback, void* user_value);
ZQ_RTSP_PLAY_HANDLE ZQ_RTSP_CLINET_LIB_RealPlayBySimple(const char* address, const char* user, const char* password,
                                                        ZQ_RTSP_DATA_CALLBACK callback, int stream, int rtsp_port,
                                                        int rtp_over_rtsp, void* user_value, int reserved);
int ZQ_RTSP_CLINET_LIB_StopRealPlay(ZQ_RTSP_PLAY_HANDLE handle);
/* Connections a play has made so far (1 + reconnections); -1 for an unknown handle. */
int ZQ_RTSP_CLINET_LIB_GetConnectionCount(ZQ_RTSP_PLAY_HANDLE handle);
/* The most bytes a play has held at once (a picture being assembled and the
 * frames held for the media description); -1 for an unknown handle. */
long long ZQ_RTSP_CLINET_LIB_GetPeakBufferedBytes(ZQ_RTSP_PLAY_HANDLE handle);
/* The most bytes all plays together have held at once since InitLib. */
long long ZQ_RTSP_CLINET_LIB_GetPeakTotalBufferedBytes(void);

#ifdef __cplusplus
}
#endif
#endif
