#ifndef ZQ_PLAYER_H
#define ZQ_PLAYER_H
/* The player library: decodes stream frames and draws them into a video pane.
 * Plain C functions exported by name; narrow strings; results are int (0 done,
 * anything else failure) unless said. A player handle is non-zero; 0 means
 * failure. Process set-up (ZQ_PLAYER_Init) and release (ZQ_PLAYER_ReleaseAll)
 * run on the UI thread; release only after every stream has been stopped.
 * No call lets an exception out: one that fails inside the library (memory
 * running out, or a decoded-picture callback that throws) returns its failure
 * value, 0 for a handle, else -1. */
#ifdef __cplusplus
extern "C" {
#endif

typedef long ZQ_PLAYER_HANDLE;

/* Decoded picture delivery: data of `length` bytes (four 32-bit words: luma
 * stride, first and second chroma stride, 0; then the luma plane, the V plane
 * and the U plane of a 4:2:0 picture), dims points to two ints (width,
 * height), user is the value given to ZQ_PLAYER_SetDecCallBack. Runs on the
 * thread that called ZQ_PLAYER_DecodeFrame. Once ZQ_PLAYER_SetDecCallBack
 * returns, the callback it replaced is not running and will not run. */
typedef int (*ZQ_PLAYER_DEC_CALLBACK)(ZQ_PLAYER_HANDLE handle, const unsigned char* data, int length,
                                      const int* dims, void* user, void* reserved);

enum { ZQ_PLAYER_STREAM_AUDIO = 0, ZQ_PLAYER_STREAM_VIDEO = 1 };
/* Sizes of the decoder parameter records (the video and audio parts of the
 * media description) and of the frame information record. */
enum { ZQ_PLAYER_VIDEO_PARAM_SIZE = 536, ZQ_PLAYER_AUDIO_PARAM_SIZE = 276, ZQ_PLAYER_FRAME_INFO_SIZE = 16 };

int ZQ_PLAYER_Init(void);
int ZQ_PLAYER_ReleaseAll(void);

/* One player per video pane; window is the pane's native widget (a QWidget*). */
ZQ_PLAYER_HANDLE ZQ_PLAYER_CreatePlayer(void* window);
int ZQ_PLAYER_SetupDecoder(ZQ_PLAYER_HANDLE player, int stream, const void* param, int param_size, int reserved);
int ZQ_PLAYER_DecodeFrame(ZQ_PLAYER_HANDLE player, int stream, const unsigned char* data, int length,
                          const void* frame_info, int frame_info_size);
int ZQ_PLAYER_CloseDecoder(ZQ_PLAYER_HANDLE player, int stream);
int ZQ_PLAYER_SetAudioOn(ZQ_PLAYER_HANDLE player);
int ZQ_PLAYER_SetAudioOff(void);
int ZQ_PLAYER_SetPlayMode(ZQ_PLAYER_HANDLE player, int mode);
int ZQ_PLAYER_SetDecodeMode(ZQ_PLAYER_HANDLE player, int mode);
int ZQ_PLAYER_SetFullFillStatus(ZQ_PLAYER_HANDLE player, int mode);
int ZQ_PLAYER_SetRecordStatus(ZQ_PLAYER_HANDLE player, int recording);
/* kind 0 = YUV picture (I420), 1 = JPEG; folder ends with a separator. */
int ZQ_PLAYER_SnapShot(ZQ_PLAYER_HANDLE player, int kind, const char* folder);
int ZQ_PLAYER_SetDecCallBack(ZQ_PLAYER_HANDLE player, ZQ_PLAYER_DEC_CALLBACK callback, void* user);
/* Digital zoom in the pane: event 1 zooms in around (x, y), 2 zooms out, 0 resets. */
int ZQ_PLAYER_InputMouseEvent(ZQ_PLAYER_HANDLE player, int event, int x, int y);
int ZQ_PLAYER_SetMotionDetectConfig(ZQ_PLAYER_HANDLE player, int columns, int rows, const char* grid);
int ZQ_PLAYER_SetMotionDetectConfigOn(ZQ_PLAYER_HANDLE player, int on);
/* Pictures decoded and painted so far by a player. */
int ZQ_PLAYER_GetFrameCounts(ZQ_PLAYER_HANDLE player, long long* decoded, long long* painted);

#ifdef __cplusplus
}
#endif
#endif
