#pragma once
// What a simulated device hears: each talk session the SDK opened on it (its
// parameters) and every piece of audio it received (tag, length, arrival
// time, bytes), with switches to refuse a talk and to end it from the device.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "talk_wire.h"

namespace kelvara::devsim {

class Device;

struct TalkChunk {
  uint32_t tag = 0;
  uint32_t length = 0;
  int64_t at_us = 0;  // arrival, microseconds after the session opened
  std::string bytes;  // empty once the sink's memory is used up
};

struct TalkSession {
  enum class State { kOpen, kStopped, kEnded, kLinkClosed };
  int id = 0;
  int handle = 0;  // the SDK's login handle, as it named itself
  varurovodiv::wire::TalkParams params;
  State state = State::kOpen;
  std::chrono::steady_clock::time_point opened;
  std::vector<TalkChunk> chunks;
  uint64_t bytes = 0;
  uint64_t late = 0;  // pieces that arrived after the session ended
};

class TalkSink {
 public:
  // Audio bytes kept per device; pieces beyond it are counted, not kept.
  static constexpr uint64_t kMaxKeptBytes = 64ull << 20;

  // TALK_START on a link: 0 and the new session's id, or the refusal result
  // (busy while another session is open, bad request for a format the device
  // cannot play, or the refusal switched on).
  int Begin(int handle, const std::string& payload, int& id);
  // TALK_DATA of a link's session (-1: the link has none).
  void Data(int id, uint32_t tag, const std::string& bytes);
  // TALK_STOP: false when the session was not open.
  bool Stop(int id);
  void LinkClosed(int id);
  // The device ends every open session; how many it ended.
  int EndAll();
  void SetRefusal(int result);
  void Clear();
  std::vector<TalkSession> Sessions() const;
  uint64_t stray() const;

 private:
  TalkSession* Find(int id);

  mutable std::mutex mutex_;
  std::vector<TalkSession> sessions_;
  int next_id_ = 1;
  int refusal_ = 0;
  uint64_t kept_ = 0;
  uint64_t stray_ = 0;  // audio on a link without a session
};

// The control command `talk D ...` (docs/devsim.md).
std::string TalkControl(Device& device, const std::string& args);

}  // namespace kelvara::devsim
