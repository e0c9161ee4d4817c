#pragma once
// Records what the SDK's callbacks deliver, for tests and the benchmark.
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "VaRurOvoDiv/zq_netsdk_ipc.h"

namespace varurovodiv::test {

// How much longer than nominal the tests' time-outs run: KELVARA_TEST_TIME_SCALE,
// which CTest sets above 1 for sanitizer builds, where every step is slower and
// a loaded machine can hold a thread off the CPU for many heartbeats.
inline int TimeScale() {
  const char* v = std::getenv("KELVARA_TEST_TIME_SCALE");
  const int scale = v != nullptr ? std::atoi(v) : 1;
  return scale < 1 ? 1 : scale;
}
inline std::chrono::milliseconds Scaled(std::chrono::milliseconds nominal) { return nominal * TimeScale(); }

// The SDK's time-outs for the tests: short enough that losses show within a
// test, scaled with TimeScale() so that a slow login or a starved thread is not
// taken for a dead link. The reply time also bounds the whole login exchange.
// A silent device must time out a request before its link counts as dead, so
// the dead-link time exceeds the reply time by well over a heartbeat period.
inline void SetTestSdkTimeouts() {
  const auto set = [](const char* name, int ms) { setenv(name, std::to_string(ms * TimeScale()).c_str(), 1); };
  set("VARUROVODIV_RECONNECT_MS", 100);
  set("VARUROVODIV_REPLY_TIMEOUT_MS", 1200);
  set("VARUROVODIV_HEARTBEAT_MS", 300);
  set("VARUROVODIV_LINK_DEAD_MS", 3000);
  set("VARUROVODIV_TRANSFER_TIMEOUT_MS", 2000);
  set("VARUROVODIV_CONNECT_TIMEOUT_MS", 1000);
}

struct Delivered {
  bool aux = false;
  int handle = 0;
  int code = 0;        // status event, or AUX command (low 24 bits)
  int result = 0;      // AUX result (bits 24-31)
  std::string data;    // text (record events: their raw bytes)
};

class EventRecorder {
 public:
  void Register() {
    ZQ_NETSDK_IPC_SetStatusEventCallBack(&EventRecorder::OnStatus, this);
    ZQ_NETSDK_IPC_SetAUXResponseCallBack(&EventRecorder::OnAux, this);
  }

  // Waits until pred holds over the recorded events, at most timeout.
  bool WaitFor(const std::function<bool(const std::vector<Delivered>&)>& pred,
               std::chrono::milliseconds timeout = Scaled(std::chrono::milliseconds(5000))) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, timeout, [&] { return pred(events_); });
  }

  bool WaitStatus(int handle, int code, size_t count = 1,
                  std::chrono::milliseconds timeout = Scaled(std::chrono::milliseconds(5000))) {
    return WaitFor([&](const auto& ev) { return Count(ev, handle, code, false) >= count; }, timeout);
  }

  bool WaitAux(int handle, int command, size_t count = 1,
               std::chrono::milliseconds timeout = Scaled(std::chrono::milliseconds(5000))) {
    return WaitFor([&](const auto& ev) { return Count(ev, handle, command, true) >= count; },
                   timeout);
  }

  static size_t Count(const std::vector<Delivered>& ev, int handle, int code, bool aux) {
    size_t n = 0;
    for (const auto& e : ev) n += e.aux == aux && e.handle == handle && e.code == code;
    return n;
  }

  std::vector<Delivered> Snapshot() {
    std::lock_guard lock(mutex_);
    return events_;
  }

  std::vector<Delivered> For(int handle) {
    std::vector<Delivered> out;
    for (auto& e : Snapshot()) {
      if (e.handle == handle) out.push_back(e);
    }
    return out;
  }

  void Clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
  }

  // While held, every callback waits: a callback as slow as it can be.
  void Hold(bool hold) {
    {
      std::lock_guard lock(mutex_);
      held_ = hold;
    }
    cv_.notify_all();
  }

 private:
  static int OnStatus(int handle, int type, const char* data, void* user) {
    auto* self = static_cast<EventRecorder*>(user);
    Delivered d;
    d.handle = handle;
    d.code = type;
    // Record events carry exactly their record's size, whatever the device sent.
    const size_t raw = type == STATUS_EVENT_ALARM ? 168 : type == 24 ? 536 : type == 25 ? 276 : type == 30 ? 1360 : 0;
    d.data = raw ? std::string(data, raw) : std::string(data);
    self->Add(std::move(d));
    return 0;
  }

  static int OnAux(int handle, unsigned int rc, const char* text, void* user) {
    auto* self = static_cast<EventRecorder*>(user);
    Delivered d;
    d.aux = true;
    d.handle = handle;
    d.code = static_cast<int>(rc & 0xFFFFFF);
    d.result = static_cast<int>((rc >> 24) & 0xFF);
    d.data = text;
    self->Add(std::move(d));
    return 0;
  }

  void Add(Delivered d) {
    {
      std::unique_lock lock(mutex_);
      cv_.wait(lock, [this] { return !held_; });
      events_.push_back(std::move(d));
    }
    cv_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<Delivered> events_;
  bool held_ = false;
};

}  // namespace varurovodiv::test
