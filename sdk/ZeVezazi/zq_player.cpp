// Process-wide state of the player library. Decoding and drawing are added by
// the live view; until then every per-player call reports failure, so callers
// take their failure paths.
#include "zq_player.h"

#include <atomic>

namespace {
std::atomic<int> g_init_count{0};
}

extern "C" {

int ZQ_PLAYER_Init(void) {
  g_init_count.fetch_add(1);
  return 0;
}

// Releases every player; may be called more than once (the main window's close
// and the application's exit both call it).
int ZQ_PLAYER_ReleaseAll(void) {
  g_init_count.store(0);
  return 0;
}

ZQ_PLAYER_HANDLE ZQ_PLAYER_CreatePlayer(void*) { return 0; }
int ZQ_PLAYER_SetupDecoder(ZQ_PLAYER_HANDLE, int, const void*, int, int) { return -1; }
int ZQ_PLAYER_DecodeFrame(ZQ_PLAYER_HANDLE, int, const unsigned char*, int, const void*, int) { return -1; }
int ZQ_PLAYER_CloseDecoder(ZQ_PLAYER_HANDLE, int) { return -1; }
int ZQ_PLAYER_SetAudioOn(ZQ_PLAYER_HANDLE) { return -1; }
int ZQ_PLAYER_SetAudioOff(void) { return 0; }
int ZQ_PLAYER_SetPlayMode(ZQ_PLAYER_HANDLE, int) { return -1; }
int ZQ_PLAYER_SetDecodeMode(ZQ_PLAYER_HANDLE, int) { return -1; }
int ZQ_PLAYER_SetFullFillStatus(ZQ_PLAYER_HANDLE, int) { return -1; }
int ZQ_PLAYER_SetRecordStatus(ZQ_PLAYER_HANDLE, int) { return -1; }
int ZQ_PLAYER_SnapShot(ZQ_PLAYER_HANDLE, int, const char*) { return -1; }
int ZQ_PLAYER_SetDecCallBack(ZQ_PLAYER_HANDLE, ZQ_PLAYER_DEC_CALLBACK, void*) { return -1; }
int ZQ_PLAYER_InputMouseEvent(ZQ_PLAYER_HANDLE, int, int, int) { return -1; }
int ZQ_PLAYER_SetMotionDetectConfig(ZQ_PLAYER_HANDLE, int, int, const char*) { return -1; }
int ZQ_PLAYER_SetMotionDetectConfigOn(ZQ_PLAYER_HANDLE, int) { return -1; }

}  // extern "C"
