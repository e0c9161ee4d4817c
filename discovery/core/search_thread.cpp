#include "discovery/core/search_thread.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <tinyxml.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <map>
#include <utility>
#include <vector>

#include "common/log_flood_guard.h"
#include "common/log_text.h"
#include "discovery/core/discovery_log.h"
#include "discovery/core/discovery_protocol.h"

namespace kelvara::discovery {
namespace {

constexpr int kPassWait_ms = 1000;
constexpr int kWritableWait_ms = 2000;
// Datagrams taken from one socket per pass before the others get their turn.
constexpr int kMaxDatagramsPerSocket = 256;
// Past this many queued requests the oldest plain search request gives way.
constexpr std::size_t kMaxQueued = 64;
// A stalled card must not let the queue grow without bound (production mode
// posts a command per device on every refresh): past this, Post hands the
// request back and the caller sends it directly.
constexpr std::size_t kMaxQueuedCommands = 4096;

}  // namespace

struct SearchThread::Run {
  SearchConfig config;
  std::atomic<bool> stop{false};
  int wakeFd = -1;
  std::mutex queueMutex;
  std::deque<std::string> queue;
  std::atomic<std::uint64_t> received{0}, replies{0}, oversized{0}, refused{0}, sends{0};

  ~Run() {
    if (wakeFd >= 0) close(wakeFd);
  }
  void Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(wakeFd, &one, sizeof one);
  }
  std::deque<std::string> TakeQueue() {
    std::lock_guard lock(queueMutex);
    return std::exchange(queue, {});
  }
};

SearchThread::SearchThread(ReplyHandler onReply) : onReply_(std::move(onReply)) {}

SearchThread::SearchThread(ParsedReplyHandler onReply) : onParsedReply_(std::move(onReply)) {}

SearchThread::~SearchThread() { Stop(); }

bool SearchThread::Start(SearchConfig config) {
  std::lock_guard lock(mutex_);
  if (run_) {
    Log("CZqDevSearchToolDlg::StartSearchThread: SearchIPCThread has run.\n");
    return false;
  }
  auto run = std::make_shared<Run>();
  run->config = std::move(config);
  run->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (run->wakeFd < 0) {
    Log("CZqDevSearchToolDlg::StartSearchThread: Strat SearchIPCThread fail, error= %d.\n", errno);
    return false;
  }
  // The first search request goes out in the thread's first pass.
  run->queue.push_back(BuildDiscoveryMessage(kMsgSearch, std::nullopt, 0));
  try {
    thread_ = std::thread([run, this] { Loop(*run, onReply_, onParsedReply_); });
  } catch (const std::system_error& e) {
    Log("CZqDevSearchToolDlg::StartSearchThread: Strat SearchIPCThread fail, error= %d.\n",
        e.code().value());
    return false;
  }
  run_ = std::move(run);
  return true;
}

bool SearchThread::Stop() {
  std::shared_ptr<Run> run;
  std::thread thread;
  {
    std::lock_guard lock(mutex_);
    if (!run_) {
      Log("CZqDevSearchToolDlg::StopSearchThread: SearchIPCThread hasn't run.\n");
      return false;
    }
    run = std::move(run_);
    thread = std::move(thread_);
  }
  run->stop = true;
  run->Wake();
  thread.join();
  std::lock_guard lock(mutex_);
  lastRun_ = std::move(run);
  return true;
}

bool SearchThread::Running() const {
  std::lock_guard lock(mutex_);
  return run_ != nullptr;
}

bool SearchThread::Post(std::string text) {
  std::lock_guard lock(mutex_);
  if (!run_) return false;
  {
    std::lock_guard q(run_->queueMutex);
    if (run_->queue.size() >= kMaxQueued) {
      // A quick-search timer can outrun a stalled card: drop the oldest plain
      // search request, never a command.
      const std::string search = BuildDiscoveryMessage(kMsgSearch, std::nullopt, 0);
      for (auto it = run_->queue.begin(); it != run_->queue.end(); ++it) {
        if (*it == search) {
          run_->queue.erase(it);
          break;
        }
      }
      if (run_->queue.size() >= kMaxQueuedCommands) return false;
    }
    run_->queue.push_back(std::move(text));
  }
  run_->Wake();
  return true;
}

SearchThread::Counters SearchThread::GetCounters() const {
  std::lock_guard lock(mutex_);
  Counters c;
  if (const Run* r = run_ ? run_.get() : lastRun_.get()) {
    c.received = r->received;
    c.replies = r->replies;
    c.oversized = r->oversized;
    c.refused = r->refused;
    c.sends = r->sends;
  }
  return c;
}

void SearchThread::Loop(Run& run, const ReplyHandler& onReply, const ParsedReplyHandler& onParsedReply) {
  Log("SearchIPCThread(): enter main loop...\n");
  const SearchConfig& cfg = run.config;
  // Socket table by local address; the adapters are read once per run.
  std::map<Ipv4, int> table;
  for (Ipv4 a : AdapterTable(cfg.adapters ? cfg.adapters() : std::vector<Ipv4>{})) {
    if (cfg.adapterChoice == 0 || cfg.adapterChoice == a) table[a] = OpenBroadcastSocket(a, 0);
  }
  std::vector<int> sockets;
  std::vector<std::pair<int, std::string>> readers;  // socket, dotted address
  for (const auto& [address, fd] : table) {
    sockets.push_back(fd);
    if (fd >= 0) readers.emplace_back(fd, DottedText(address));
  }

  std::vector<int> lastError(sockets.size(), 0);
  auto sendQueued = [&] {
    for (const std::string& text : run.TakeQueue()) {
      Log("send broardcast\n");
      const int n = SendFromEach(sockets, text, cfg.destination, kWritableWait_ms, &lastError);
      run.sends += static_cast<std::uint64_t>(n);
      if (n > 0) Log("send INADDR_BROADCAST to seach ipc......\r\n");
    }
  };

  std::vector<pollfd> polls;
  polls.push_back({run.wakeFd, POLLIN, 0});
  for (const auto& r : readers) polls.push_back({r.first, POLLIN, 0});
  std::vector<char> buffer(kReceiveBufferSize + 1);
  // Lines about received datagrams: the first few per sender, then a count
  // per minute, so a flood cannot grow the debug log without bound.
  LogFloodGuard flood;
  const auto steadyMs = [] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  };

  Log("SearchIPCThread(): enter send and recv loop...\n");
  while (!run.stop) {
    flood.Flush(steadyMs(), [](const std::string& source, std::uint64_t held) {
      Log("SearchIPCThread(): %llu more lines about datagrams from %s held back in the last minute\n",
          static_cast<unsigned long long>(held), source.c_str());
    });
    sendQueued();
    for (auto& p : polls) p.revents = 0;
    const int ready = poll(polls.data(), polls.size(), kPassWait_ms);
    if (ready < 0) {
      if (errno != EINTR) Log("SearchIPCThread(): select failed, error=%d\n", errno);
      continue;
    }
    if (polls[0].revents & POLLIN) {
      std::uint64_t count;
      [[maybe_unused]] ssize_t n = read(run.wakeFd, &count, sizeof count);
    }
    for (std::size_t i = 1; i < polls.size(); ++i) {
      const pollfd& p = polls[i];
      if (p.revents & (POLLERR | POLLNVAL)) Log("SearchIPCThread(): select sock find socket error\n");
      if (!(p.revents & (POLLIN | POLLERR))) continue;
      const std::string& adapter = readers[i - 1].second;
      for (int k = 0; k < kMaxDatagramsPerSocket && !run.stop; ++k) {
        // MSG_TRUNC gives the real length, so an oversized datagram is seen as such.
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        const ssize_t n = recvfrom(p.fd, buffer.data(), kReceiveBufferSize, MSG_DONTWAIT | MSG_TRUNC,
                                   reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n < 0) {
          if (errno != EAGAIN && errno != EWOULDBLOCK)
            Log("SearchIPCThread(): recvfrom failed, error=%d\n", errno);
          break;
        }
        if (n == 0) continue;
        ++run.received;
        char sender[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &from.sin_addr, sender, sizeof sender);
        const DatagramLogScope scope(flood, sender, steadyMs());
        if (static_cast<std::size_t>(n) >= kReceiveBufferSize) {
          // Its text would be cut and could never parse: drop it whole.
          ++run.oversized;
          Log("SearchIPCThread(): datagram of %zd bytes dropped\n", n);
          continue;
        }
        const std::string_view text(buffer.data(), static_cast<std::size_t>(n));
        ReplyHeader header;
        std::string refusal;
        TiXmlDocument document;
        const int parsed =
            ParseReplyHeader(cfg.acceptedRoots, text, header, &refusal, onParsedReply ? &document : nullptr);
        if (parsed == kHeaderRefused) {
          const std::uint64_t refused = ++run.refused;
          Log("SearchIPCThread(): datagram of %zd bytes dropped: %s (%llu refused)\n", n, refusal.c_str(),
              static_cast<unsigned long long>(refused));
          continue;
        }
        if (parsed != kHeaderOk || AtoI(header.msgCode) != kMsgSearchReply) {
          Log("recv message: %s\n", EscapeForLog(text).c_str());
          continue;
        }
        ++run.replies;
        if (onReply) onReply(text, adapter, sender);
        if (onParsedReply) onParsedReply(text, document, adapter, sender);
      }
    }
  }
  // Requests queued before the stop still go out.
  sendQueued();
  Log("SearchIPCThread(): exit send and recv loop\n");
  for (int fd : sockets)
    if (fd >= 0) close(fd);
  Log("SearchIPCThread(): exit main loop\n");
}

}  // namespace kelvara::discovery
