#pragma once
// The LAN search thread: one broadcast socket per local address plus the
// any-address socket; it sends every queued request from each of them and
// hands every accepted device reply (Msg_code 3) to its reply handler.
//
// Each run has its own stop flag, queue and wake-up, and Stop always joins:
// a new search never races with the thread of an earlier one.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "discovery/core/broadcast_socket.h"

class TiXmlDocument;

namespace kelvara::discovery {

struct SearchConfig {
  std::string acceptedRoots;    // customer root-name setting, read once per run
  Ipv4 adapterChoice = 0;       // 0: every card; else only that local address
  AdapterSource adapters = LocalIpv4Addresses;
  Destination destination;      // 255.255.255.255:3001 outside tests
};

// Called on the search thread with the reply text, the dotted address of the
// local address whose socket received it ("0.0.0.0" for the any socket) and
// the dotted address the datagram came from.
using ReplyHandler = std::function<void(std::string_view text, const std::string& adapterAddress,
                                        const std::string& senderAddress)>;
// The same with the reply as the header check parsed it, so the handler need
// not parse it again (OnSearchReply's overload takes it).
using ParsedReplyHandler = std::function<void(std::string_view text, const TiXmlDocument& parsed,
                                              const std::string& adapterAddress,
                                              const std::string& senderAddress)>;

class SearchThread {
 public:
  explicit SearchThread(ReplyHandler onReply);
  explicit SearchThread(ParsedReplyHandler onReply);
  ~SearchThread();
  SearchThread(const SearchThread&) = delete;
  SearchThread& operator=(const SearchThread&) = delete;

  // Starts a run that first broadcasts one search request. False when a run
  // is already going or the thread cannot be created.
  bool Start(SearchConfig config);

  // Ends the run: requests still queued are sent, the sockets closed and the
  // thread joined. False when no run was going.
  bool Stop();

  bool Running() const;

  // Queues a request text for the running thread and wakes it. False when no
  // run is going or the queue is full of commands: the caller then sends it
  // with BroadcastToAllAdapters.
  bool Post(std::string text);

  // Datagrams received, accepted as device replies, dropped for being too
  // long or for XML the guard refused, and sockets' sends, of the current or
  // last run (tests, benchmarks).
  struct Counters {
    std::uint64_t received = 0, replies = 0, oversized = 0, refused = 0, sends = 0;
  };
  Counters GetCounters() const;

 private:
  struct Run;
  static void Loop(Run& run, const ReplyHandler& onReply, const ParsedReplyHandler& onParsedReply);

  ReplyHandler onReply_;
  ParsedReplyHandler onParsedReply_;
  mutable std::mutex mutex_;  // guards run_ and thread_
  std::shared_ptr<Run> run_;
  std::shared_ptr<Run> lastRun_;  // counters stay readable after Stop
  std::thread thread_;
};

}  // namespace kelvara::discovery
