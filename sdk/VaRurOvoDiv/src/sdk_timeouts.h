#pragma once
// Time limits of the SDK. Defaults suit real devices; each can be changed with an
// environment variable read at Init (tests shorten them).
#include <chrono>

namespace varurovodiv {

struct Timeouts {
  std::chrono::milliseconds connect{5000};      // VARUROVODIV_CONNECT_TIMEOUT_MS
  std::chrono::milliseconds reply{10000};       // VARUROVODIV_REPLY_TIMEOUT_MS
  std::chrono::milliseconds heartbeat{5000};    // VARUROVODIV_HEARTBEAT_MS
  std::chrono::milliseconds link_dead{15000};   // VARUROVODIV_LINK_DEAD_MS
  std::chrono::milliseconds reconnect{1000};    // VARUROVODIV_RECONNECT_MS (first retry)
  std::chrono::milliseconds reconnect_max{10000};
  std::chrono::milliseconds transfer{30000};    // VARUROVODIV_TRANSFER_TIMEOUT_MS (idle transfer)

  static Timeouts FromEnvironment();
};

}  // namespace varurovodiv
