#include "talk_sink.h"

#include <fstream>
#include <sstream>

#include "device.h"
#include "wire_frame.h"

namespace kelvara::devsim {
namespace {

using Clock = std::chrono::steady_clock;
namespace wire = varurovodiv::wire;

const char* StateName(TalkSession::State s) {
  switch (s) {
    case TalkSession::State::kOpen: return "open";
    case TalkSession::State::kStopped: return "stopped";
    case TalkSession::State::kEnded: return "ended";
    case TalkSession::State::kLinkClosed: return "link_closed";
  }
  return "?";
}

bool Playable(const wire::TalkParams& p) {
  return p.format <= 3 && p.rate >= 8000 && p.rate <= 48000 && p.bits == 16 && p.channels >= 1 &&
         p.channels <= 2 && p.direction == 1;
}

}  // namespace

int TalkSink::Begin(int handle, const std::string& payload, int& id) {
  const auto params = wire::DecodeTalkParams(payload);
  std::lock_guard lock(mutex_);
  if (refusal_ != 0) return refusal_;
  if (!params || !Playable(*params)) return wire::kResultBadRequest;
  for (const auto& s : sessions_) {
    if (s.state == TalkSession::State::kOpen) return wire::kResultBusy;
  }
  TalkSession s;
  s.id = next_id_++;
  s.handle = handle;
  s.params = *params;
  s.opened = Clock::now();
  sessions_.push_back(std::move(s));
  id = sessions_.back().id;
  return wire::kResultOk;
}

TalkSession* TalkSink::Find(int id) {
  for (auto& s : sessions_) {
    if (s.id == id) return &s;
  }
  return nullptr;
}

void TalkSink::Data(int id, uint32_t tag, const std::string& bytes) {
  const auto now = Clock::now();
  std::lock_guard lock(mutex_);
  TalkSession* s = Find(id);
  if (s == nullptr) {
    ++stray_;
    return;
  }
  if (s->state != TalkSession::State::kOpen) {
    ++s->late;
    return;
  }
  TalkChunk c;
  c.tag = tag;
  c.length = static_cast<uint32_t>(bytes.size());
  c.at_us = std::chrono::duration_cast<std::chrono::microseconds>(now - s->opened).count();
  if (kept_ + bytes.size() <= kMaxKeptBytes) {
    c.bytes = bytes;
    kept_ += bytes.size();
  }
  s->bytes += bytes.size();
  s->chunks.push_back(std::move(c));
}

bool TalkSink::Stop(int id) {
  std::lock_guard lock(mutex_);
  TalkSession* s = Find(id);
  if (s == nullptr || s->state != TalkSession::State::kOpen) return false;
  s->state = TalkSession::State::kStopped;
  return true;
}

void TalkSink::LinkClosed(int id) {
  std::lock_guard lock(mutex_);
  TalkSession* s = Find(id);
  if (s != nullptr && s->state == TalkSession::State::kOpen) s->state = TalkSession::State::kLinkClosed;
}

int TalkSink::EndAll() {
  std::lock_guard lock(mutex_);
  int n = 0;
  for (auto& s : sessions_) {
    if (s.state == TalkSession::State::kOpen) {
      s.state = TalkSession::State::kEnded;
      ++n;
    }
  }
  return n;
}

void TalkSink::SetRefusal(int result) {
  std::lock_guard lock(mutex_);
  refusal_ = result;
}

void TalkSink::Clear() {
  std::lock_guard lock(mutex_);
  // Open sessions stay (their links still send), emptied.
  std::vector<TalkSession> open;
  for (auto& s : sessions_) {
    if (s.state == TalkSession::State::kOpen) {
      s.chunks.clear();
      s.bytes = 0;
      s.late = 0;
      open.push_back(std::move(s));
    }
  }
  sessions_ = std::move(open);
  kept_ = 0;
  stray_ = 0;
}

std::vector<TalkSession> TalkSink::Sessions() const {
  std::lock_guard lock(mutex_);
  return sessions_;
}

uint64_t TalkSink::stray() const {
  std::lock_guard lock(mutex_);
  return stray_;
}

std::string TalkControl(Device& d, const std::string& line) {
  std::istringstream args(line);
  std::string sub;
  args >> sub;
  TalkSink& sink = d.talk();
  if (sub.empty() || sub == "list") {
    const auto sessions = sink.Sessions();
    std::ostringstream out;
    out << "ok " << sessions.size() << " stray=" << sink.stray();
    for (const auto& s : sessions) {
      out << "\nsession " << s.id << " handle=" << s.handle << " transport=" << s.params.transport
          << " format=" << s.params.format << " rate=" << s.params.rate << " bits=" << s.params.bits
          << " channels=" << s.params.channels << " channel=" << s.params.channel
          << " direction=" << s.params.direction << " state=" << StateName(s.state)
          << " chunks=" << s.chunks.size() << " bytes=" << s.bytes << " late=" << s.late;
    }
    return out.str();
  }
  if (sub == "chunks" || sub == "save") {
    int id = 0;
    if (!(args >> id)) return "err talk D " + sub + " SESSION" + (sub == "save" ? " PATH" : "");
    for (const auto& s : sink.Sessions()) {
      if (s.id != id) continue;
      if (sub == "chunks") {
        std::ostringstream out;
        out << "ok " << s.chunks.size();
        for (size_t i = 0; i < s.chunks.size(); ++i) {
          out << "\nchunk " << i << " tag=" << s.chunks[i].tag << " len=" << s.chunks[i].length
              << " at_us=" << s.chunks[i].at_us;
        }
        return out.str();
      }
      std::string path;
      std::getline(args >> std::ws, path);
      if (path.empty()) return "err talk D save SESSION PATH";
      std::ofstream file(path, std::ios::binary | std::ios::trunc);
      uint64_t written = 0;
      for (const auto& c : s.chunks) {
        file.write(c.bytes.data(), static_cast<std::streamsize>(c.bytes.size()));
        written += c.bytes.size();
      }
      if (!file.flush()) return "err cannot write " + path;
      if (written != s.bytes) return "err only " + std::to_string(written) + " bytes were kept";
      return "ok " + std::to_string(written);
    }
    return "err no talk session " + std::to_string(id);
  }
  if (sub == "refuse") {
    int result = -1;
    if (!(args >> result) || result < 0) return "err talk D refuse RESULT (0 accepts again)";
    sink.SetRefusal(result);
    return "ok";
  }
  if (sub == "end") {
    int event = 37;
    args >> event;
    if (event != 8 && event != 35 && event != 36 && event != 37) return "err talk D end [8|35|36|37]";
    const int ended = sink.EndAll();
    d.PushEvent(static_cast<uint32_t>(event), {});
    return "ok " + std::to_string(ended);
  }
  if (sub == "clear") {
    sink.Clear();
    return "ok";
  }
  return "err talk D list|chunks S|save S PATH|refuse RESULT|end [EVENT]|clear";
}

}  // namespace kelvara::devsim
