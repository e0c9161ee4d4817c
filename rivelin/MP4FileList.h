#pragma once
// The library's one global object: the table of players (handle -> DeMuxer)
// and the named locks, alive from library load to unload.
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "DeMuxer.h"

class CMP4FileList {
 public:
  CMP4FileList();
  ~CMP4FileList();

  bool Initialised() const { return initialised_; }

  // Named recursive locks, created on first use and kept until unload.
  void Lock(const std::string& name);
  void Unlock(const std::string& name);
  // The per-handle lock (named by the handle's decimal text).
  void LockHandle(long handle) { Lock(std::to_string(handle)); }
  void UnlockHandle(long handle) { Unlock(std::to_string(handle)); }

  long AddPlayer(MP4PlayerCallback callback, void* user);
  std::shared_ptr<DeMuxer> FindPlayer(long handle);
  std::shared_ptr<DeMuxer> RemovePlayer(long handle);
  void DeleteAllPlayers();

 private:
  std::recursive_mutex& NamedLock(const std::string& name);

  bool initialised_ = false;
  std::mutex tableLock_;  // guards locks_ itself
  std::map<std::string, std::unique_ptr<std::recursive_mutex>> locks_;
  std::map<long, std::shared_ptr<DeMuxer>> players_;  // under "demuxer_list"
  long nextHandle_ = 0;
};

CMP4FileList& FileList();
