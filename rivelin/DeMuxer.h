#pragma once
// One file player: opens an MP4 file, reports its media description, and
// delivers every frame in time order on its own playback thread, paced by the
// frames' timestamps. Controls (pause, seek, speed, stop) may come from any
// thread, including the callback itself.
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "rivelin.h"

struct Emp4Demuxer;

class DeMuxer {
 public:
  DeMuxer(long handle, MP4PlayerCallback callback, void* user);
  ~DeMuxer();
  DeMuxer(const DeMuxer&) = delete;
  DeMuxer& operator=(const DeMuxer&) = delete;

  // 0; -1 bad path or no thread; -2 open failed; -3 video neither H.264 nor H.265.
  long LoadFile(const char* path, long startSec, int fast);
  // Stores a seek to `sec` for the playback thread; -1 when nothing plays.
  long Seek(long sec);
  void SetSpeed(long speed);
  void SetPause(long pause);
  void SetPlayFramerate(long fps) { playFramerate_ = fps; }
  // Ends playback. From another thread it waits for the playback thread (and
  // for any earlier one still finishing a callback that stopped it); from
  // inside the callback it only tells the thread to end after the callback.
  // When it throws (no memory) it changed nothing.
  void Stop();
  // No callback is made after this returns (or, from inside the callback,
  // after the callback returns).
  void ClearCallback();

  // True on the playback thread of any player.
  static bool OnPlaybackThread();

 private:
  struct Session;
  static void PlayThread(std::shared_ptr<Session> session);
  static void Play(Session& session);
  // Tells the playback thread to end and lets go of its session; under lock_.
  void EndSession();

  const long handle_;
  std::mutex lock_;  // guards callback_, user_, path_, session_, thread_
  MP4PlayerCallback callback_;
  void* user_;
  std::string path_;
  std::shared_ptr<Session> session_;
  std::thread thread_;
  // Playback threads stopped from inside their own callback: still running
  // that callback, so a stop or delete from another thread joins them too.
  std::vector<std::thread> retired_;
  std::atomic<long> speed_{1};
  std::atomic<long> playFramerate_{0};
};
