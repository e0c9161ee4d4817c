#include "DeMuxer.h"

#include <chrono>
#include <cstring>
#include <system_error>
#include <vector>

#include "debug_util.h"
#include "emp4_demuxer.h"

namespace {
constexpr const char* kModule = "DeMuxer";
thread_local bool t_onPlaybackThread = false;
}  // namespace

// What one playback thread shares with the exports. The thread holds its own
// reference, so a player deleted from inside its callback leaves the thread
// a valid session to finish with.
struct DeMuxer::Session {
  long handle = 0;
  Emp4Demuxer* demuxer = nullptr;
  bool fast = false;
  std::atomic<bool> run{true};
  std::mutex lock;  // guards the fields below
  std::condition_variable wake;
  MP4PlayerCallback callback = nullptr;
  void* user = nullptr;
  long pause = 0;
  long seekSec = -1;
  long speed = 1;
  bool clockReset = true;

  ~Session() { Emp4DemuxerClose(demuxer); }
};

DeMuxer::DeMuxer(long handle, MP4PlayerCallback callback, void* user)
    : handle_(handle), callback_(callback), user_(user) {}

DeMuxer::~DeMuxer() {
  ClearCallback();
  // Nobody else holds the player any more: its threads are joined in place,
  // without the room Stop makes first, so the destructor never throws. Only
  // the thread running it can be left: the last reference went in its own
  // callback, which returns as soon as the destructor does.
  {
    std::lock_guard g(lock_);
    EndSession();
  }
  const auto self = std::this_thread::get_id();
  const auto end = [self](std::thread& t) {
    if (!t.joinable()) return;
    if (t.get_id() == self) {
      t.detach();
    } else {
      t.join();
    }
  };
  end(thread_);
  for (auto& t : retired_) end(t);
}

void DeMuxer::EndSession() {
  if (!session_) return;
  {
    std::lock_guard s(session_->lock);
    session_->run = false;
  }
  session_->wake.notify_all();
  session_.reset();
}

bool DeMuxer::OnPlaybackThread() { return t_onPlaybackThread; }

void DeMuxer::ClearCallback() {
  std::lock_guard g(lock_);
  callback_ = nullptr;
  user_ = nullptr;
  if (session_) {
    std::lock_guard s(session_->lock);
    session_->callback = nullptr;
    session_->user = nullptr;
  }
}

void DeMuxer::Stop() {
  std::vector<std::thread> toJoin;
  {
    std::lock_guard g(lock_);
    // Room for every thread first: a stop that cannot be made changes nothing.
    retired_.reserve(retired_.size() + 1);
    toJoin.reserve(retired_.size() + 1);
    EndSession();
    // Inside the callback the thread ends after it returns; it is kept (not
    // detached) so that a stop or delete from another thread still waits for
    // that callback to return.
    if (thread_.joinable()) retired_.push_back(std::move(thread_));
    const auto self = std::this_thread::get_id();
    for (auto it = retired_.begin(); it != retired_.end();) {
      if (it->get_id() == self) {
        ++it;
      } else {
        toJoin.push_back(std::move(*it));
        it = retired_.erase(it);
      }
    }
  }
  // The threads are joined before anything they use is freed; a session (and
  // the demuxer in it) goes with its last reference.
  for (auto& t : toJoin) t.join();
}

long DeMuxer::LoadFile(const char* path, long startSec, int fast) {
  if (!path || !*path) return -1;
  Stop();
  Emp4VideoDesc video;
  Emp4AudioDesc audio;
  int error = 0;
  Emp4Demuxer* demuxer = Emp4DemuxerOpen(path, &video, &audio, nullptr, &error);
  if (!demuxer) {
    RLOG(this, "DeMuxer::LoadFile() Emp4DemuxerOpen failed return NULL ret - %d!", error);
    return -2;
  }
  if (video.codec != kEmp4CodecH264 && video.codec != kEmp4CodecH265) {
    RLOG(this, "DeMuxer::LoadFile() Emp4DemuxerOpen failed: no video parameters");
    Emp4DemuxerClose(demuxer);
    return -3;
  }
  std::shared_ptr<Session> session;
  try {
    session = std::make_shared<Session>();
  } catch (...) {
    Emp4DemuxerClose(demuxer);  // the session that would close it was not made
    throw;
  }
  session->handle = handle_;
  session->demuxer = demuxer;
  session->fast = fast != 0;
  session->speed = speed_;
  session->seekSec = startSec >= 0 ? startSec : -1;

  auto info = std::make_unique<MEDIA_STREAM_INFO>();
  std::memset(info.get(), 0, sizeof *info);
  std::strcpy(info->name, "Rivelin");
  info->hasVideo = 1;
  std::strcpy(info->video.codec, video.codec == kEmp4CodecH264 ? "H264" : "H265");
  info->video.width = video.width;
  info->video.height = video.height;
  info->video.framerate = video.framerate;
  // The parameter sets are binary (they begin with a zero start code): copy
  // the bytes, with their count in extraLength.
  const auto& sets = Emp4DemuxerParameterSets(demuxer);
  const size_t n = std::min(sets.size(), sizeof info->video.extra);
  if (n > 0) std::memcpy(info->video.extra, sets.data(), n);
  info->video.extraLength = static_cast<uint32_t>(n);
  if (audio.enabled) {
    const char* name = audio.codec == kEmp4CodecUlaw   ? "PCMU"
                       : audio.codec == kEmp4CodecAlaw ? "PCMA"
                       : audio.codec == kEmp4CodecAac  ? "MPEG4-GENERIC"
                                                       : nullptr;
    if (name) {
      info->hasAudio = 1;
      std::strcpy(info->audio.codec, name);
      info->audio.sampleRate = audio.sampleRate;
      info->audio.samplesPerPacket = audio.samplesPerPacket;
      info->audio.channels = audio.channels;
    }
  }
  MP4PlayerCallback callback;
  void* user;
  {
    std::lock_guard g(lock_);
    path_ = path;
    callback = callback_;
    user = user_;
    session->callback = callback;
    session->user = user;
  }
  if (callback) callback(handle_, 2, reinterpret_cast<unsigned char*>(info.get()), sizeof *info, 0,
                         false, user);

  std::lock_guard g(lock_);
  // The media callback may have deleted or reloaded this player.
  if (!callback_ || session_ || thread_.joinable()) return -1;
  {
    std::lock_guard s(session->lock);
    session->callback = callback_;
    session->user = user_;
  }
  try {
    thread_ = std::thread(&DeMuxer::PlayThread, session);
  } catch (const std::system_error&) {
    RLOG(this, "DeMuxer::LoadFile() can not start the playback thread");
    return -1;
  }
  session_ = session;
  return 0;
}

long DeMuxer::Seek(long sec) {
  std::lock_guard g(lock_);
  if (!session_) return -1;
  {
    std::lock_guard s(session_->lock);
    session_->seekSec = sec;
  }
  session_->wake.notify_all();
  return 0;
}

void DeMuxer::SetSpeed(long speed) {
  speed_ = speed;
  std::lock_guard g(lock_);
  if (!session_) return;
  {
    std::lock_guard s(session_->lock);
    session_->speed = speed;
    session_->clockReset = true;
  }
  session_->wake.notify_all();
}

void DeMuxer::SetPause(long pause) {
  std::lock_guard g(lock_);
  if (!session_) return;
  {
    std::lock_guard s(session_->lock);
    session_->pause = pause;
    session_->clockReset = true;
  }
  session_->wake.notify_all();
}

void DeMuxer::PlayThread(std::shared_ptr<Session> session) {
  t_onPlaybackThread = true;
  // Nothing thrown on the playback thread may end the process: a callback
  // that throws, or memory running out, ends this playback as a stop would.
  try {
    Play(*session);
  } catch (const std::exception& e) {
    RLOG(nullptr, "DeMuxer::PlayThread() playback %ld ended: %s", session->handle, e.what());
  } catch (...) {
    RLOG(nullptr, "DeMuxer::PlayThread() playback %ld ended by an exception", session->handle);
  }
}

void DeMuxer::Play(Session& s) {
  using Clock = std::chrono::steady_clock;
  Clock::time_point baseWall;
  uint64_t baseTs = 0;
  for (;;) {
    long speed;
    {
      std::unique_lock lk(s.lock);
      // Paused: wait until resumed or stopped.
      s.wake.wait(lk, [&] { return !s.run || s.pause != 1; });
      if (!s.run) break;
      if (s.seekSec >= 0) {
        Emp4DemuxerSeek(s.demuxer, static_cast<uint64_t>(s.seekSec) * 1000);
        s.seekSec = -1;
        s.clockReset = true;
      }
      speed = s.speed > 0 ? s.speed : 1;
    }
    uint8_t* data = nullptr;
    int isAudio = 0, key = 0;
    uint64_t ts = 0;
    const int n = Emp4DemuxerReadFrame(s.demuxer, &data, &isAudio, &key, &ts);
    if (n <= 0) break;

    // Pace on an absolute schedule from the first frame after a (re)start, so
    // sleeps do not add up to drift. Audio and video share the one clock.
    MP4PlayerCallback callback;
    void* user;
    {
      std::unique_lock lk(s.lock);
      if (s.fast) {
        s.wake.wait_for(lk, std::chrono::milliseconds(1), [&] { return !s.run.load(); });
      } else {
        if (s.clockReset || ts < baseTs) {
          s.clockReset = false;
          baseWall = Clock::now();
          baseTs = ts;
        }
        const auto due = baseWall + std::chrono::microseconds((ts - baseTs) * 1000 / speed);
        s.wake.wait_until(lk, due, [&] {
          return !s.run || s.pause == 1 || s.seekSec >= 0 || s.clockReset;
        });
      }
      if (!s.run) break;
      if (s.seekSec >= 0) continue;  // the frame read before the seek is dropped
      if (s.pause == 1 || s.clockReset) {
        // Paused or speed changed while waiting: deliver this frame on time
        // after the change.
        if (s.pause == 1) s.wake.wait(lk, [&] { return !s.run || s.pause != 1; });
        if (!s.run) break;
        s.clockReset = true;
      }
      callback = s.callback;
      user = s.user;
    }
    if (callback)
      callback(s.handle, isAudio ? 1 : 0, data, static_cast<unsigned long>(n), ts, key != 0, user);
  }
  // End of the file (not a stop): tell the caller once.
  MP4PlayerCallback callback = nullptr;
  void* user = nullptr;
  {
    std::lock_guard lk(s.lock);
    if (s.run) {
      s.run = false;
      callback = s.callback;
      user = s.user;
    }
  }
  if (callback) callback(s.handle, 3, nullptr, 0, 0, false, user);
}
