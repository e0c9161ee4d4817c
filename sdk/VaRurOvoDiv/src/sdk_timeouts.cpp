#include "sdk_timeouts.h"

#include <cstdlib>

namespace varurovodiv {
namespace {
void Read(const char* name, std::chrono::milliseconds& value) {
  const char* v = std::getenv(name);
  if (v == nullptr || *v == '\0') return;
  char* end = nullptr;
  const long ms = std::strtol(v, &end, 10);
  if (end != v && *end == '\0' && ms > 0 && ms <= 3600000) value = std::chrono::milliseconds(ms);
}
}  // namespace

Timeouts Timeouts::FromEnvironment() {
  Timeouts t;
  Read("VARUROVODIV_CONNECT_TIMEOUT_MS", t.connect);
  Read("VARUROVODIV_REPLY_TIMEOUT_MS", t.reply);
  Read("VARUROVODIV_HEARTBEAT_MS", t.heartbeat);
  Read("VARUROVODIV_LINK_DEAD_MS", t.link_dead);
  Read("VARUROVODIV_RECONNECT_MS", t.reconnect);
  Read("VARUROVODIV_TRANSFER_TIMEOUT_MS", t.transfer);
  if (t.reconnect_max < t.reconnect) t.reconnect_max = t.reconnect;
  if (t.link_dead <= t.heartbeat) t.link_dead = t.heartbeat * 3;
  return t;
}

}  // namespace varurovodiv
