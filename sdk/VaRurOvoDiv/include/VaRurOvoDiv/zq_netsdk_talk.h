/* The talk: the PC's sound (a microphone or a file) sent to logged-in devices
 * on their login links (docs/device-protocol.md, "Talk"). Included by
 * zq_netsdk_ipc.h.
 *
 * One talk at a time per process: StartTalk opens it with its format, then
 * StartVoiceCom asks each device to join. The device's answer is a status
 * event: TALK_STARTED, or TALK_BUSY / TALK_PARAM_ERROR / TALK_UNSUPPORTED.
 * AddTalk (usually on TALK_STARTED) lets the audio through to that device;
 * InputAudioData hands one piece of audio to every joined device and never
 * waits for the network. StopVoiceCom takes a device out (TALK_STOPPED when
 * it confirms), StopTalk ends the talk with every device still in it. A
 * device may end its talk itself with one of the talk events; no audio goes
 * to it afterwards. */
#ifndef VARUROVODIV_ZQ_NETSDK_TALK_H
#define VARUROVODIV_ZQ_NETSDK_TALK_H

#ifndef ZQ_NETSDK_API
#define ZQ_NETSDK_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Talk status events. */
#define STATUS_EVENT_TALK_STARTED 6       /* the device joined the talk */
#define STATUS_EVENT_TALK_STOPPED 8       /* the device confirmed the end of its talk */
#define STATUS_EVENT_TALK_BUSY 35         /* refused: the device talks with someone else */
#define STATUS_EVENT_TALK_PARAM_ERROR 36  /* refused: the device cannot play this format */
#define STATUS_EVENT_TALK_UNSUPPORTED 37  /* refused or ended: no talk on this device, no
                                             answer in time, or the link went down */

/* Errors of the talk calls (besides those of zq_netsdk_ipc.h). */
#define ZQ_NETSDK_ERR_TALK_STATE (-20)    /* no talk open, one already open, or the device
                                             is not (or already) in the talk */
#define ZQ_NETSDK_ERR_NO_DEVICE (-21)     /* no capture source: no microphone */

/* Opens the talk. transport 0 UDP, 1 TCP, 2 multicast (told to the devices;
 * the audio travels on the login link); format 0 G.711 u-law, 1 AAC,
 * 2 G.711 A-law, 3 PCM; rate 8000-48000; bits 16; channels 1 or 2. */
ZQ_NETSDK_API int ZQ_NETSDK_IPC_StartTalk(int transport, int format, int rate, int bits, int channels);
/* Ends the talk with every device still in it. Audio already let through to
 * a device goes out before its end; nothing is taken afterwards. */
ZQ_NETSDK_API int ZQ_NETSDK_IPC_StopTalk(void);

/* Asks a logged-in device to join the open talk on its audio channel;
 * direction 1 (the PC speaks) is the one this SDK carries. */
ZQ_NETSDK_API int ZQ_NETSDK_IPC_StartVoiceCom(int loginHandle, int channel, int direction, int reserved1,
                                              int reserved2);
/* Takes the device out of the talk (the audio already let through to it goes
 * out first); 0 also when the device ended it already. */
ZQ_NETSDK_API int ZQ_NETSDK_IPC_StopVoiceCom(int loginHandle);
/* Lets the audio through to a device that joined (after TALK_STARTED): it
 * gets what was input since StartVoiceCom, within its queue, and all that
 * follows. RemoveTalk takes no further audio for it (what it was
 * let to hear still goes out); the device stays joined. */
ZQ_NETSDK_API int ZQ_NETSDK_IPC_AddTalk(int loginHandle);
ZQ_NETSDK_API int ZQ_NETSDK_IPC_RemoveTalk(int loginHandle);

/* One piece of audio (1 to 65,536 bytes) to every device in the talk, tagged
 * with `format` (0-3 as above, 5 for an MP3 frame). Never blocks: each device
 * has a queue of 64 pieces; a piece that does not fit is dropped and counted. */
ZQ_NETSDK_API int ZQ_NETSDK_IPC_InputAudioData(int format, const char* data, int length);
/* Pieces dropped for this login so far (its queue was full). */
ZQ_NETSDK_API int ZQ_NETSDK_IPC_GetTalkDropped(int loginHandle, unsigned long long* dropped);

/* Capture. The SDK has no sound card of its own: the program registers its
 * capture source, and StartAudioCapture runs it at the talk's format. The
 * source's start calls `deliver(data, length, context)` for each piece of
 * 16-bit PCM (on a thread of its own) until its stop returns; stop returns
 * only when no delivery runs. A null source unregisters. */
typedef void (*ZQ_AUDIO_DELIVER)(const char* data, int length, void* context);
typedef struct ZQ_AUDIO_CAPTURE_SOURCE {
  int (*start)(int rate, int bits, int channels, ZQ_AUDIO_DELIVER deliver, void* context, void* user);
  void (*stop)(void* user);
  void* user;
} ZQ_AUDIO_CAPTURE_SOURCE;
ZQ_NETSDK_API int ZQ_NETSDK_IPC_SetAudioCaptureSource(const ZQ_AUDIO_CAPTURE_SOURCE* source);

typedef int (*AUDIO_CAPTURE_CALLBACK)(const char* data, int length, void* user);
/* ZQ_NETSDK_ERR_NO_DEVICE without a source or when it cannot start; the
 * callback runs on the source's thread. StopAudioCapture returns when no
 * callback runs any more. */
ZQ_NETSDK_API int ZQ_NETSDK_IPC_StartAudioCapture(int rate, int bits, int channels,
                                                  AUDIO_CAPTURE_CALLBACK callback, void* user);
ZQ_NETSDK_API int ZQ_NETSDK_IPC_StopAudioCapture(void);

#ifdef __cplusplus
}
#endif

#endif
