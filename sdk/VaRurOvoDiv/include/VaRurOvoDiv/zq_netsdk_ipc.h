/* VaRurOvoDiv: the device SDK. Logins to devices, configuration, control
 * commands, files and firmware over the device protocol (docs/device-protocol.md).
 *
 * Conventions:
 * - Every text argument is an 8-bit zero-terminated string.
 * - Every result is an int: 0 = accepted (or done), anything else = failure;
 *   except ZQ_NETSDK_IPC_Login (a login handle > 0, or a negative error),
 *   ZQ_NETSDK_IPC_GetUpgradeProgress (a percentage, or a negative error) and the
 *   XMLGET builders (a heap text, given back with ZQ_NETSDK_IPC_XMLGET_SAFE_FREE).
 * - A request that returns 0 has only been accepted: its answer arrives later on
 *   an SDK thread, replies through the AUX-response callback, login changes,
 *   alarms and transfer outcomes through the status-event callback.
 * - Callbacks run on one SDK thread, one at a time. The events of one login
 *   arrive in the order they happened; logins with events waiting are served
 *   in turn, so a login whose device floods does not hold up another's.
 * - Replies, login changes and transfer outcomes are never dropped. Events a
 *   device sends of its own accord (alarms, records, texts, progress) beyond
 *   its login's share of undelivered events are dropped, the newest first.
 * - Handles are never reused within a process. An unknown or logged-out handle
 *   gets a non-zero result.
 * - No call lets an exception out. A call that fails inside the SDK (memory
 *   running out, no thread to be had) returns ZQ_NETSDK_ERR_INTERNAL (a
 *   builder null) and leaves nothing behind: no handle, no half-made login or
 *   talk; the SDK works on.
 */
#ifndef VARUROVODIV_ZQ_NETSDK_IPC_H
#define VARUROVODIV_ZQ_NETSDK_IPC_H

#ifdef __cplusplus
extern "C" {
#endif

#ifndef ZQ_NETSDK_API
#define ZQ_NETSDK_API __attribute__((visibility("default")))
#endif

/* Status events (second argument of STATUS_EVENT_CALLBACK). */
#define STATUS_EVENT_LINK_LOST 2          /* an established login lost its link */
#define STATUS_EVENT_CONNECT_FAILED 3     /* the device could not be reached */
#define STATUS_EVENT_LOGIN_OK 4           /* login (or re-login) established */
#define STATUS_EVENT_PROTOCOL_ERROR 5     /* the device broke the protocol (malformed frame or
                                             handshake, or a sealed frame that did not open);
                                             link closed */
#define STATUS_EVENT_UPLOAD_DONE 14       /* upload or upgrade finished */
#define STATUS_EVENT_UPLOAD_FAILED 15     /* upload or upgrade failed */
#define STATUS_EVENT_DOWNLOAD_DONE 16     /* text: <RESPONSE_PARAM LocalFileName="..." /> */
#define STATUS_EVENT_DOWNLOAD_FAILED 17
#define STATUS_EVENT_ALARM 23             /* data: a 168-byte DeviceAlarmInfo */
#define STATUS_EVENT_LOGIN_REFUSED 31     /* wrong user or password, or the device did not prove it
                                             (or gave no verdict); not retried */
#define STATUS_EVENT_HEARTBEAT_LOST 34    /* the device stopped answering; link closed */
#define STATUS_EVENT_PROGRESS_A 54        /* upgrade progress changed */
#define STATUS_EVENT_PROGRESS_B 55        /* other transfer progress changed */

/* Results in bits 24-31 of an AUX response besides those the device sends. */
#define ZQ_AUX_RESULT_NOT_SENT 253        /* the request could not be sent (no frame could be
                                             built for it); the link stays up */
#define ZQ_AUX_RESULT_LINK_LOST 254       /* the link went down before the reply */
#define ZQ_AUX_RESULT_TIMEOUT 255         /* no reply within the reply time-out */

/* Errors returned by the calls (all negative). */
#define ZQ_NETSDK_ERR_NOT_INIT (-1)
#define ZQ_NETSDK_ERR_BAD_HANDLE (-2)
#define ZQ_NETSDK_ERR_BAD_ARGUMENT (-3)
#define ZQ_NETSDK_ERR_NOT_ONLINE (-4)
#define ZQ_NETSDK_ERR_QUEUE_FULL (-5)
#define ZQ_NETSDK_ERR_FILE (-6)
#define ZQ_NETSDK_ERR_INTERNAL (-7)    /* the call failed inside the library (out of memory, no
                                          thread could be started); nothing was done */

/* Kinds for ZQ_NETSDK_IPC_GetFileByName. */
#define ZQ_FILE_KIND_DEVICE_PATH 1

typedef int (*STATUS_EVENT_CALLBACK)(int loginHandle, int eventType, const char* data, void* user);
typedef int (*AUX_RESPONSE_CALLBACK)(int loginHandle, unsigned int resultAndCommand,
                                     const char* replyText, void* user);

/* Process set-up and release. Cleanup ends every login, joins every SDK thread,
 * unregisters both callbacks and returns only when no callback runs or will
 * run; it must not be called from a callback. Init may follow again. */
ZQ_NETSDK_API int ZQ_NETSDK_IPC_Init(void);
ZQ_NETSDK_API int ZQ_NETSDK_IPC_Cleanup(void);
/* Version as 0xMMmmpppp and build date as YYYYMMDD. */
ZQ_NETSDK_API int ZQ_NETSDK_IPC_GetSDKVersion(void);
ZQ_NETSDK_API int ZQ_NETSDK_IPC_GetSDKBuildData(void);

/* A null callback unregisters; once the call returns the old one never runs again. */
ZQ_NETSDK_API int ZQ_NETSDK_IPC_SetStatusEventCallBack(STATUS_EVENT_CALLBACK callback, void* user);
ZQ_NETSDK_API int ZQ_NETSDK_IPC_SetAUXResponseCallBack(AUX_RESPONSE_CALLBACK callback, void* user);
/* Handle 0 sets the default for later logins; a handle sets that login's switch. */
ZQ_NETSDK_API int ZQ_NETSDK_IPC_SetAutoReconnect(int loginHandle, int enable);

/* Returns a new handle at once; the outcome arrives as a status event
 * (LOGIN_OK, CONNECT_FAILED, LOGIN_REFUSED). */
ZQ_NETSDK_API int ZQ_NETSDK_IPC_Login(const char* address, unsigned short port, const char* user,
                                      const char* password, int reserved);
/* Ends the login without waiting for its thread: once it returns the handle is
 * invalid and no callback for it runs again; the SDK closes the link and joins
 * the thread right after (Cleanup waits for what is left). */
ZQ_NETSDK_API int ZQ_NETSDK_IPC_Logout(int loginHandle);
ZQ_NETSDK_API int ZQ_NETSDK_IPC_LogoutAll(void);

/* Requests: the reply arrives as an AUX response, result << 24 | code. */
ZQ_NETSDK_API int ZQ_NETSDK_IPC_SystemControl(int loginHandle, int code, void* reserved,
                                              const char* request);
/* The block arrives as the AUX response's text; outBuffer is not written. */
ZQ_NETSDK_API int ZQ_NETSDK_IPC_GetDVRConfig(int loginHandle, int code, int channel,
                                             const char* request, char* outBuffer, int outSize);
ZQ_NETSDK_API int ZQ_NETSDK_IPC_SetDVRConfig(int loginHandle, int code, int channel,
                                             const char* text, int length);
ZQ_NETSDK_API int ZQ_NETSDK_IPC_SetDevcieConfig(int loginHandle, int code, const char* text,
                                                int length);
ZQ_NETSDK_API int ZQ_NETSDK_IPC_RebootDVR(int loginHandle);
ZQ_NETSDK_API int ZQ_NETSDK_IPC_RestoreConfig(int loginHandle);
/* PTZ: a command (11 zoom in, 12 zoom out, 17..24 directions, 26 stop, 27 3D
 * positioning) with its two parameters; a preset operation (8 set, 39 call);
 * a key frame on a live stream (channel, stream 0 main / 1 sub). Sent as
 * system control 2001, 2002 and 2003; no reply is awaited. */
ZQ_NETSDK_API int ZQ_NETSDK_IPC_PTZControl(int loginHandle, int command, int param1, int param2);
ZQ_NETSDK_API int ZQ_NETSDK_IPC_PTZPreset(int loginHandle, int operation, int preset);
ZQ_NETSDK_API int ZQ_NETSDK_IPC_CreateIFrame(int loginHandle, int channel, int stream);

/* Files. Each accepted transfer ends in exactly one terminal status event
 * (UPLOAD_DONE/UPLOAD_FAILED, DOWNLOAD_DONE/DOWNLOAD_FAILED) within the transfer
 * time-out. Transfers of one login run one after another in request order. */
ZQ_NETSDK_API int ZQ_NETSDK_IPC_SetConfigFile(int loginHandle, const char* localPath);
ZQ_NETSDK_API int ZQ_NETSDK_IPC_GetConfigFile(int loginHandle, const char* localPath);
ZQ_NETSDK_API int ZQ_NETSDK_IPC_GetFileByName(int loginHandle, int kind, const char* devicePath,
                                              const char* localPath);
ZQ_NETSDK_API int ZQ_NETSDK_IPC_Upgrade(int loginHandle, const char* imagePath);
/* Percentage (0-100) of the login's current or last upgrade. */
ZQ_NETSDK_API int ZQ_NETSDK_IPC_GetUpgradeProgress(int loginHandle);
ZQ_NETSDK_API int ZQ_NETSDK_IPC_UploadOEMAppFile(int loginHandle, const char* localPath);

/* The device's store of OEM MP3 files (docs/device-protocol.md, "OEM files").
 * SearchOEMMp3File asks for one page (from 0) of the store's listing; the
 * page arrives as the AUX response of system control 1021, each file a
 * RECORD_FILE element with FilePath and FileLength; an empty page ends it.
 * UploadOEMMp3File sends a local file into the store under its base name
 * (transfer kind 5; the outcome is status event 14 or 15 with Kind="5").
 * PlayMp3File plays a stored file on the device's speaker (loop non-zero:
 * again and again), StopPlayMp3File stops it; both are answered by the AUX
 * response of system control 1022 (result 0 = done). */
#define ZQ_TRANSFER_KIND_OEM_APP 3
#define ZQ_TRANSFER_KIND_OEM_MP3 5
ZQ_NETSDK_API int ZQ_NETSDK_IPC_SearchOEMMp3File(int loginHandle, int page);
ZQ_NETSDK_API int ZQ_NETSDK_IPC_UploadOEMMp3File(int loginHandle, const char* localPath, int reserved);
ZQ_NETSDK_API int ZQ_NETSDK_IPC_PlayMp3File(int loginHandle, const char* fileName, int loop);
ZQ_NETSDK_API int ZQ_NETSDK_IPC_StopPlayMp3File(int loginHandle);

#include "zq_netsdk_talk.h"

#ifdef __cplusplus
}
#endif

#include "zq_netsdk_records.h"

#endif
