/* RemoteConfig: the remote-configuration library. It logs in to one device by
 * itself and draws its configuration window into a host window the program
 * gives it. All calls are made on the program's UI thread; CFG_UC_Init
 * returns at once and the login runs on the library's own thread.
 *
 * Rectangles are in the host's client coordinates. Instance handles are 1 or
 * more; 0 and negative values are failures (-1 bad arguments or an unknown
 * instance). No call lets an exception out: CFG_UC_Init returns 0 when the
 * instance could not be made (memory running out, no thread), leaving no
 * window and no instance; ShowModelessDlg returns -1; UnInit releases the
 * instance whatever fails in it. */
#ifndef REMOTE_CONFIG_H
#define REMOTE_CONFIG_H

#ifdef __cplusplus
extern "C" {
#endif

#define CFG_UC_API __attribute__((visibility("default")))

/* `host` is the QWidget* the library's window lives in. */
CFG_UC_API int CFG_UC_Init(const char* address, int port, const char* user, const char* password,
                           const char* language, void* host, unsigned short channel);
/* Shows the instance's window in that rectangle; all zero hides it. */
CFG_UC_API int CFG_UC_ShowModelessDlg(int instance, int left, int top, int right, int bottom);
/* Releases the instance; a login still running is abandoned. */
CFG_UC_API int CFG_UC_UnInit(int instance);

#ifdef __cplusplus
}
#endif

#endif
