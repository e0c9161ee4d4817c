// The player library: a registry of players by handle. Creating, releasing and
// the mode and overlay calls run on the UI thread; SetupDecoder, DecodeFrame
// and CloseDecoder may run on a stream thread.
#include "zq_player.h"

#include <QWidget>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "audio_output.h"
#include "common/c_boundary.h"
#include "player.h"

namespace zq_player {
namespace {
struct Registry {
  std::mutex mutex;
  std::map<ZQ_PLAYER_HANDLE, std::shared_ptr<Player>> players;
  ZQ_PLAYER_HANDLE next = 1;
};
Registry& Players() {
  static Registry r;
  return r;
}
std::shared_ptr<Player> Find(ZQ_PLAYER_HANDLE handle) {
  std::lock_guard lock(Players().mutex);
  auto it = Players().players.find(handle);
  return it == Players().players.end() ? nullptr : it->second;
}
}  // namespace

Player* FindPlayer(ZQ_PLAYER_HANDLE handle) { return Find(handle).get(); }

}  // namespace zq_player

using zq_player::Find;

namespace {
// The edge of every C function: what its body throws becomes its failure value.
template <class Result, class Body>
Result Guarded(Result failure, Body&& body) noexcept {
  return kelvara::CallAtCBoundary(failure, std::forward<Body>(body));
}
}  // namespace

extern "C" {

int ZQ_PLAYER_Init(void) { return 0; }

// Releases every player; may be called more than once (the main window's close
// and the application's exit both call it). Every stream must have stopped.
int ZQ_PLAYER_ReleaseAll(void) {
  return Guarded(-1, [&]() -> int {
    std::map<ZQ_PLAYER_HANDLE, std::shared_ptr<zq_player::Player>> players;
    {
      std::lock_guard lock(zq_player::Players().mutex);
      players.swap(zq_player::Players().players);
    }
    players.clear();
    zq_player::AudioRelease();
    return 0;
  });
}

ZQ_PLAYER_HANDLE ZQ_PLAYER_CreatePlayer(void* window) {
  return Guarded(ZQ_PLAYER_HANDLE{0}, [&]() -> ZQ_PLAYER_HANDLE {
    auto& r = zq_player::Players();
    std::lock_guard lock(r.mutex);
    const ZQ_PLAYER_HANDLE handle = r.next++;
    r.players.emplace(handle, std::make_shared<zq_player::Player>(handle, static_cast<QWidget*>(window)));
    return handle;
  });
}

int ZQ_PLAYER_SetupDecoder(ZQ_PLAYER_HANDLE player, int stream, const void* param, int size, int) {
  return Guarded(-1, [&]() -> int {
    auto p = Find(player);
    return p ? p->SetupDecoder(stream, param, size) : -1;
  });
}

int ZQ_PLAYER_DecodeFrame(ZQ_PLAYER_HANDLE player, int stream, const unsigned char* data, int length, const void*,
                          int) {
  return Guarded(-1, [&]() -> int {
    auto p = Find(player);
    return p ? p->DecodeFrame(stream, data, length) : -1;
  });
}

int ZQ_PLAYER_CloseDecoder(ZQ_PLAYER_HANDLE player, int stream) {
  return Guarded(-1, [&]() -> int {
    auto p = Find(player);
    return p ? p->CloseDecoder(stream) : -1;
  });
}

int ZQ_PLAYER_SetAudioOn(ZQ_PLAYER_HANDLE player) {
  return Guarded(-1, [&]() -> int {
    if (!Find(player)) return -1;
    zq_player::AudioSetOn(player);
    return 0;
  });
}

int ZQ_PLAYER_SetAudioOff(void) {
  return Guarded(-1, [&]() -> int {
    zq_player::AudioSetOff();
    return 0;
  });
}

// 0 real time (show every picture as soon as it is decoded), 1 fluent. The
// pane always shows the latest picture at the display's pace, so both behave
// alike here; the mode is kept.
int ZQ_PLAYER_SetPlayMode(ZQ_PLAYER_HANDLE player, int mode) {
  return Guarded(-1, [&]() -> int {
    auto p = Find(player);
    if (!p) return -1;
    p->SetPlayMode(mode);
    return 0;
  });
}

// 0 CPU, 1 GPU with a picture copy, 2 GPU only: decoding is on the CPU in
// every mode, so pictures are always available to snapshots and dumps.
int ZQ_PLAYER_SetDecodeMode(ZQ_PLAYER_HANDLE player, int mode) {
  return Guarded(-1, [&]() -> int {
    auto p = Find(player);
    if (!p) return -1;
    p->SetDecodeMode(mode);
    return 0;
  });
}

int ZQ_PLAYER_SetFullFillStatus(ZQ_PLAYER_HANDLE player, int mode) {
  return Guarded(-1, [&]() -> int {
    auto p = Find(player);
    if (!p) return -1;
    p->SetFill(mode != 0);
    return 0;
  });
}

int ZQ_PLAYER_SetRecordStatus(ZQ_PLAYER_HANDLE player, int recording) {
  return Guarded(-1, [&]() -> int {
    auto p = Find(player);
    if (!p) return -1;
    p->SetRecording(recording != 0);
    return 0;
  });
}

int ZQ_PLAYER_SnapShot(ZQ_PLAYER_HANDLE player, int kind, const char* folder) {
  return Guarded(-1, [&]() -> int {
    auto p = Find(player);
    return p && folder != nullptr ? p->SnapShot(kind, folder) : -1;
  });
}

int ZQ_PLAYER_SetDecCallBack(ZQ_PLAYER_HANDLE player, ZQ_PLAYER_DEC_CALLBACK callback, void* user) {
  return Guarded(-1, [&]() -> int {
    auto p = Find(player);
    if (!p) return -1;
    p->SetDecodedCallback(callback, user);
    return 0;
  });
}

int ZQ_PLAYER_InputMouseEvent(ZQ_PLAYER_HANDLE player, int event, int x, int y) {
  return Guarded(-1, [&]() -> int {
    auto p = Find(player);
    if (!p) return -1;
    p->InputMouse(event, x, y);
    return 0;
  });
}

int ZQ_PLAYER_SetMotionDetectConfig(ZQ_PLAYER_HANDLE player, int columns, int rows, const char* grid) {
  return Guarded(-1, [&]() -> int {
    auto p = Find(player);
    if (!p || grid == nullptr || columns <= 0 || rows <= 0 || columns > 64 || rows > 64) return -1;
    p->SetMotionGrid(columns, rows, grid);
    return 0;
  });
}

int ZQ_PLAYER_SetMotionDetectConfigOn(ZQ_PLAYER_HANDLE player, int on) {
  return Guarded(-1, [&]() -> int {
    auto p = Find(player);
    if (!p) return -1;
    p->SetMotionGridOn(on != 0);
    return 0;
  });
}

int ZQ_PLAYER_GetFrameCounts(ZQ_PLAYER_HANDLE player, long long* decoded, long long* painted) {
  return Guarded(-1, [&]() -> int {
    auto p = Find(player);
    if (!p) return -1;
    p->GetCounts(decoded, painted);
    return 0;
  });
}

}  // extern "C"
