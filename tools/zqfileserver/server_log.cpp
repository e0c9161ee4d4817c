#include "server_log.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <chrono>

namespace kelvara::tftp {
namespace {

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string AddressText(std::uint32_t address) {
  in_addr a{address};
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

// One line for what `guard` held back in its window; empty when nothing was.
std::string CountLine(LogFloodGuard& guard, std::int64_t now_ms, const char* about) {
  std::uint64_t held = 0;
  std::size_t addresses = 0;
  bool others = false;
  guard.Flush(now_ms, [&](const std::string& source, std::uint64_t n) {
    held += n;
    if (source == LogFloodGuard::kOtherSources)
      others = true;
    else
      ++addresses;
  });
  if (held == 0) return {};
  std::string from = std::to_string(addresses) + (addresses == 1 ? " client address" : " client addresses");
  if (others) from += " and more";
  return "zqfileserver: " + std::to_string(held) + " lines about " + about + " not written, from " + from;
}

}  // namespace

void ServerLog::SetSink(Sink sink) {
  std::lock_guard lock(mutex_);
  sink_ = std::move(sink);
}

void ServerLog::Emit(const std::string& line) {
  if (sink_) sink_(line);
}

void ServerLog::Write(Kind kind, std::uint32_t address, const std::string& line) {
  std::lock_guard lock(mutex_);
  LogFloodGuard& guard = kind == Kind::kRefusal ? refusals_ : transfers_;
  if (guard.Admit(AddressText(address), NowMs())) Emit(line);
}

void ServerLog::EndWindowLocked(std::int64_t now_ms) {
  for (const std::string& line :
       {CountLine(refusals_, now_ms, "refused requests"), CountLine(transfers_, now_ms, "transfers")})
    if (!line.empty()) Emit(line);
}

void ServerLog::EndWindowIfDue() {
  std::lock_guard lock(mutex_);
  EndWindowLocked(NowMs());
}

void ServerLog::EndWindowNow() {
  std::lock_guard lock(mutex_);
  // A time a whole window on: each guard's window counts as over.
  EndWindowLocked(NowMs() + window_ms_);
}

}  // namespace kelvara::tftp
