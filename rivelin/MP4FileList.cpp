#include "MP4FileList.h"

#include <new>

#include "debug_util.h"
#include "emp4_demuxer.h"
#include "rivelin_boundary.h"

namespace {
constexpr const char* kModule = "MP4FileList";
constexpr const char* kListLock = "demuxer_list";

// Constructed at load, destroyed at unload.
CMP4FileList g_fileList;

// Holds a player's per-handle lock for one export, except on a playback
// thread: a callback that controls its own player must never wait for a
// thread that is waiting for it.
class HandleGuard {
 public:
  explicit HandleGuard(long handle) : handle_(handle), locked_(!DeMuxer::OnPlaybackThread()) {
    if (locked_) FileList().LockHandle(handle_);
  }
  ~HandleGuard() {
    if (locked_) FileList().UnlockHandle(handle_);
  }
  HandleGuard(const HandleGuard&) = delete;
  HandleGuard& operator=(const HandleGuard&) = delete;

 private:
  long handle_;
  bool locked_;
};

// Holds a named lock for a scope.
class NamedGuard {
 public:
  NamedGuard(CMP4FileList& list, const char* name) : list_(list), name_(name) { list_.Lock(name_); }
  ~NamedGuard() { list_.Unlock(name_); }
  NamedGuard(const NamedGuard&) = delete;
  NamedGuard& operator=(const NamedGuard&) = delete;

 private:
  CMP4FileList& list_;
  std::string name_;
};

}  // namespace

CMP4FileList& FileList() { return g_fileList; }

CMP4FileList::CMP4FileList() {
  DebugInit();
  initialised_ = true;
}

CMP4FileList::~CMP4FileList() {
  initialised_ = false;
  DeleteAllPlayers();
  DebugRelease();
}

std::recursive_mutex& CMP4FileList::NamedLock(const std::string& name) {
  std::lock_guard g(tableLock_);
  auto& slot = locks_[name];
  if (!slot) slot = std::make_unique<std::recursive_mutex>();
  return *slot;
}

void CMP4FileList::Lock(const std::string& name) { NamedLock(name).lock(); }

void CMP4FileList::Unlock(const std::string& name) {
  std::recursive_mutex* m = nullptr;
  {
    std::lock_guard g(tableLock_);
    auto it = locks_.find(name);
    if (it != locks_.end()) m = it->second.get();
  }
  if (m) m->unlock();
}

long CMP4FileList::AddPlayer(MP4PlayerCallback callback, void* user) {
  NamedGuard g(*this, kListLock);
  do {
    nextHandle_ = nextHandle_ >= 0x7FFFFFFF ? 1 : nextHandle_ + 1;
  } while (players_.count(nextHandle_));
  const long handle = nextHandle_;
  players_[handle] = std::make_shared<DeMuxer>(handle, callback, user);
  return handle;
}

std::shared_ptr<DeMuxer> CMP4FileList::FindPlayer(long handle) {
  NamedGuard g(*this, kListLock);
  auto it = players_.find(handle);
  return it == players_.end() ? nullptr : it->second;
}

std::shared_ptr<DeMuxer> CMP4FileList::RemovePlayer(long handle) {
  NamedGuard g(*this, kListLock);
  std::shared_ptr<DeMuxer> player;
  if (auto it = players_.find(handle); it != players_.end()) {
    player = std::move(it->second);
    players_.erase(it);
  }
  return player;
}

void CMP4FileList::DeleteAllPlayers() {
  std::map<long, std::shared_ptr<DeMuxer>> players;
  {
    NamedGuard g(*this, kListLock);
    players.swap(players_);
  }
  for (auto& [handle, player] : players) {
    player->ClearCallback();
    player->Stop();
  }
}

extern "C" {

long MP4CreatePlayer(MP4PlayerCallback callback, void* user) {
  return RivelinCall(__func__, -1L, [&]() -> long {
    if (!FileList().Initialised() || !callback || !user) return -1;
    return FileList().AddPlayer(callback, user);
  });
}

long MP4LoadFile(long handle, char* path, long startSec, int fast) {
  return RivelinCall(__func__, -1L, [&]() -> long {
    if (!FileList().Initialised() || handle <= 0) return -1;
    if (!path || !*path) return -1;
    HandleGuard guard(handle);
    auto player = FileList().FindPlayer(handle);
    if (!player) return -1;
    return player->LoadFile(path, startSec, fast);
  });
}

long MP4GetFileTimes(char* path) {
  return RivelinCall(__func__, -1L, [&]() -> long {
    if (!path || !*path) return -1;
    int error = 0;
    Emp4FileInfo info{};
    Emp4Demuxer* d = Emp4DemuxerOpen(path, nullptr, nullptr, &info, &error);
    if (!d) {
      RLOG(nullptr, "CMP4FileList::GetFileTimes() %s Emp4DemuxerOpen failed return NULL! ret = %d", path,
           error);
      return 0;
    }
    Emp4DemuxerClose(d);
    return static_cast<long>(info.durationSec);
  });
}

long MP4GetFileFrameCount(char* path) {
  return RivelinCall(__func__, -1L, [&]() -> long {
    if (!path || !*path) return -1;
    int error = 0;
    Emp4Demuxer* d = Emp4DemuxerOpen(path, nullptr, nullptr, nullptr, &error);
    if (!d) return 0;
    const long frames = static_cast<long>(Emp4DemuxerVideoFrames(d));
    Emp4DemuxerClose(d);
    return frames;
  });
}

long MP4ChangeSec(long handle, long sec) {
  return RivelinCall(__func__, -1L, [&]() -> long {
    if (!FileList().Initialised() || handle <= 0 || sec < 0) return -1;
    HandleGuard guard(handle);
    auto player = FileList().FindPlayer(handle);
    if (!player) return -1;
    return player->Seek(sec) < 0 ? -1 : 0;
  });
}

long MP4SetSpeed(long handle, long speed) {
  return RivelinCall(__func__, -1L, [&]() -> long {
    if (!FileList().Initialised() || handle <= 0 || speed <= 0) return -1;
    HandleGuard guard(handle);
    auto player = FileList().FindPlayer(handle);
    if (!player) return -1;
    player->SetSpeed(speed);
    return 0;
  });
}

long MP4Pause(long handle, long pause) {
  return RivelinCall(__func__, -1L, [&]() -> long {
    if (!FileList().Initialised() || handle <= 0 || pause < 0) return -1;
    HandleGuard guard(handle);
    auto player = FileList().FindPlayer(handle);
    if (!player) return -1;
    player->SetPause(pause);
    return 0;
  });
}

long MP4StopPlay(long handle) {
  return RivelinCall(__func__, -1L, [&]() -> long {
    if (!FileList().Initialised() || handle <= 0) return -1;
    HandleGuard guard(handle);
    auto player = FileList().FindPlayer(handle);
    if (!player) return -1;
    player->Stop();
    return 0;
  });
}

long MP4SetPlayFramerate(long handle, long fps) {
  return RivelinCall(__func__, -1L, [&]() -> long {
    if (!FileList().Initialised() || handle <= 0) return -1;
    HandleGuard guard(handle);
    auto player = FileList().FindPlayer(handle);
    if (!player) return -1;
    player->SetPlayFramerate(fps);
    return 0;
  });
}

long MP4DeletePlayer(long handle) {
  return RivelinCall(__func__, -1L, [&]() -> long {
    if (!FileList().Initialised() || handle <= 0) return -1;
    HandleGuard guard(handle);
    // Stopped before it leaves the table: a stop that fails leaves the
    // player as it was, one that is done leaves nothing running.
    auto player = FileList().FindPlayer(handle);
    if (!player) return -1;
    player->Stop();
    if (!FileList().RemovePlayer(handle)) return -1;
    player->ClearCallback();
    return 0;
  });
}

}  // extern "C"
