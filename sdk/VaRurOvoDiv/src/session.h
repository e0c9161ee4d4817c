#pragma once
// One login: a thread that connects to the device's command port, logs in with
// the key exchange, keeps the link alive with heartbeats, sends requests, runs file
// transfers one after another, reconnects when allowed, and posts every outcome
// to the event dispatcher.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <string>
#include <vector>

#include "event_dispatcher.h"
#include "sdk_timeouts.h"
#include "digest.h"
#include "link_seal.h"
#include "login_handshake.h"
#include "talk_wire.h"
#include "wire_frame.h"

namespace varurovodiv {

struct LoginParams {
  std::string address;
  uint16_t port = 0;
  std::string user;
  std::string password;
};

// One request whose answer is an AUX response.
struct Request {
  wire::FrameType type = wire::FrameType::kSystemControl;
  uint32_t command = 0;
  std::string payload;
  bool wants_aux = true;
  enum class Talk { kNone, kStart, kStop } talk = Talk::kNone;
  // A talk stop: the audio (and its tags) handed over before it, sent first.
  std::vector<std::pair<std::shared_ptr<const std::string>, uint32_t>> audio_before;
};

// The queues of a login: lists, as an empty deque allocates its first block
// when it is made, and a login is made (with its queues empty) on the thread
// that logs in, often thousands at once.
template <class T>
using SessionQueue = std::list<T>;

struct TransferJob {
  bool upload = true;
  wire::TransferKind kind = wire::TransferKind::kConfigFile;
  std::string local_path;
  // The file's name on the device, as the transfer's first frame carries it:
  // the path of a download by name, the local file's base name for an upload
  // (empty for the configuration file's download). It fits one frame.
  std::string device_path;
};

class SessionStarter;

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(int handle, LoginParams params, const Timeouts& timeouts, bool auto_reconnect,
          EventDispatcher& dispatcher);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Starts the session thread; when no thread can be made the login reports
  // the device unreachable (status event 3) and does nothing else. Does
  // nothing once Stop or RequestStop ran: a login may end before its turn to
  // start (SessionStarter). `joiner`, when given, joins the thread should it
  // end by itself (a refused login); without one it is joined by Stop.
  void Start(SessionStarter* joiner = nullptr);
  // Marks the login ended, without a system call: a session not yet started
  // never starts, and Submit refuses work; the thread ends at its next
  // wake-up, which RequestStop gives.
  void MarkStopped() { stop_.store(true); }
  // Asks the thread to end without waiting (many logins end in parallel).
  void RequestStop();
  // Ends the thread and waits for it; posts nothing afterwards.
  void Stop();
  // Joins a thread that ended by itself (the starter, for a refused login);
  // the login's state stays as it is until Stop.
  void JoinEnded();
  void SetAutoReconnect(bool enable);
  // 0 when accepted, else a negative ZQ_NETSDK_ERR_*.
  int Submit(Request request);
  // The same for a request already in a queue node of its own: allocates
  // nothing, so a call that has made its node cannot fail half-way. The node
  // is taken only when the request is accepted.
  int Submit(SessionQueue<Request>& one);
  int SubmitTransfer(TransferJob job);
  int upgrade_progress() const { return upgrade_progress_.load(); }

  // The talk on this link (session_talk.cpp); 0 or a negative ZQ_NETSDK_ERR_*.
  int TalkStart(const wire::TalkParams& params);
  int TalkAdd();
  int TalkRemove();
  // A talk stop in two steps: the request made ready ahead (may throw), then
  // the stop itself, which allocates nothing, so a talk never ends half-way.
  SessionQueue<Request> PrepareTalkStop();
  int TalkStop(SessionQueue<Request>& prepared);
  // Queues a piece of audio; never waits. False when the talk takes none.
  bool TalkPush(const std::shared_ptr<const std::string>& audio, uint32_t tag);
  uint64_t talk_dropped() const { return talk_dropped_.load(); }
  bool online() const { return online_.load(); }
  int handle() const { return handle_; }

 private:
  using Clock = std::chrono::steady_clock;
  enum class LinkEnd { kStopped, kLost, kHeartbeat, kProtocol };
  enum class LoginOutcome { kOk, kStopped, kUnreachable, kRefused, kProtocol };

  struct Pending {
    uint32_t command = 0;
    bool wants_aux = true;
    Clock::time_point deadline;
    Request::Talk talk = Request::Talk::kNone;
  };
  enum class TalkState { kNone, kStarting, kAccepted, kSending, kRemoved };
  struct TalkPiece {
    std::shared_ptr<const std::string> audio;
    uint32_t tag = 0;
  };

  struct ActiveTransfer {
    TransferJob job;
    enum class Phase { kBegin, kSending, kEnding, kReceiving } phase = Phase::kBegin;
    int fd = -1;                 // local file
    uint64_t size = 0;
    uint64_t done = 0;
    wire::Sha256 hash;
    std::string part_path;       // downloads: temporary file
    uint32_t sequence = 0;       // of the request awaiting a reply
    Clock::time_point last_activity;
    Clock::time_point started;
    int progress = -1;
  };

  static void* ThreadMain(void* session);
  // Ends a login whose thread met an exception nothing else caught.
  void Abandon(const char* why);
  void Run();
  LoginOutcome ConnectAndLogin();
  // Serves the logged-in link until it ends. Whatever throws while it is
  // served (memory running out) ends the link as lost, never the process.
  LinkEnd Serve();
  LinkEnd ServeLink();
  void CloseLink();
  bool WaitWake(std::chrono::milliseconds timeout);  // false when stopping
  void DrainWake();
  // Wakes the session thread; nothing once its wake-up descriptor is closed.
  void Wake();
  // A refused login keeps no thread, descriptor or buffer: the session
  // thread closes its wake-up descriptor and unmaps its buffer, then ends.
  void ReleaseAfterRefusal();
  bool SendAll(const std::string& bytes, Clock::time_point deadline);
  std::optional<wire::Frame> ReadFrame(wire::FrameParser& parser, Clock::time_point deadline);

  // False when the link must close because the device broke the protocol.
  bool HandleFrame(const wire::Frame& frame);
  // Seals one frame of the logged-in link into the send buffer. False when
  // the frame cannot be built (too long for a frame, or no memory for it):
  // nothing was queued, and the caller fails that request alone.
  [[nodiscard]] bool QueueFrame(wire::FrameType type, uint32_t sequence, uint32_t command,
                                std::string_view payload);
  // Fails a request that was taken but not sent, as its answer would.
  void FailUnsent(uint32_t sequence, const Request& request);
  bool HandleReply(const wire::Frame& frame);
  void OpenPartFile();
  bool Throttled();
  void TakeQueuedRequests();
  void PumpTransfer();
  void StartNextTransfer();
  void FinishTransfer(bool ok, const std::string& text);
  void FailAllOnLinkLoss();
  void ExpireReplies(Clock::time_point now);
  void PostStatus(int code, std::string data = {});
  // A status event the device sent unasked; dropped (and counted) when it
  // does not fit the login's budget.
  void PostDeviceStatus(int code, std::string data);
  void PostAux(int result, uint32_t command, std::string text);
  uint32_t NextSequence() { return ++sequence_; }
  // Talk, on the session thread.
  void PumpTalk();
  void TalkRequestDone(uint32_t sequence, const Pending& p, int result);
  void TalkEndedByDevice(uint32_t code);
  void TalkLinkLost();

  const int handle_;
  const LoginParams params_;
  const Timeouts timeouts_;
  EventDispatcher& dispatcher_;

  std::atomic<bool> stop_{false};
  std::atomic<bool> auto_reconnect_;
  std::atomic<bool> online_{false};
  std::atomic<int> upgrade_progress_{0};
  // Set when the running transfer stopped moving; its failure says "timed out".
  bool transfer_timed_out_ = false;
  // Made by Start; -1 until then (a write to it before is no wake-up needed:
  // the thread reads the flags when it begins) and again once a refused
  // login closed it. Other threads write to it only through Wake, under
  // wake_mutex_, so none writes to a closed descriptor whose number the
  // process has given to another file meanwhile.
  std::atomic<int> wake_fd_{-1};
  std::mutex wake_mutex_;
  // Joins the thread when it ends by itself; null: Stop joins it.
  SessionStarter* joiner_ = nullptr;
  bool ended_by_itself_ = false;  // session thread: a refused login ended it
  // Start and Stop may run on two threads: they make and join the thread
  // under this lock, so a Stop that comes first means no thread at all.
  std::mutex start_mutex_;
  pthread_t thread_{};
  bool thread_started_ = false;

  std::mutex queue_mutex_;
  SessionQueue<Request> requests_;
  SessionQueue<TransferJob> transfers_;

  // Owned by the session thread.
  // The link's reads and upload chunks go through this buffer, so the
  // thread's stack stays small (kSessionStackSize in session.cpp). It is
  // mapped on its own (by Start): an idle link touches one page of it, and
  // the small records of many logins stay packed in the heap.
  struct IoBuffer {
    IoBuffer() = default;
    ~IoBuffer();
    IoBuffer(const IoBuffer&) = delete;
    IoBuffer& operator=(const IoBuffer&) = delete;
    bool Map();
    void Unmap();
    char* data = nullptr;
  };
  IoBuffer io_buffer_;
  int socket_ = -1;
  wire::FrameParser parser_;
  // The logged-in link's keys and frame counts; none before the login.
  std::unique_ptr<wire::LinkSeal> seal_;
  std::string outbuf_;
  std::map<uint32_t, Pending> pending_;
  std::atomic<size_t> pending_count_{0};  // pending_.size(), for Submit
  std::unique_ptr<ActiveTransfer> active_;
  uint32_t sequence_ = 0;
  Clock::time_point last_received_;
  Clock::time_point next_heartbeat_;
  bool throttled_ = false;  // not reading: the callback has not taken the events

  // The talk: its state and the audio waiting for the link.
  std::mutex talk_mutex_;
  TalkState talk_state_ = TalkState::kNone;
  SessionQueue<TalkPiece> talk_queue_;
  uint32_t talk_start_sequence_ = 0;  // session thread
  std::atomic<uint64_t> talk_dropped_{0};
};

}  // namespace varurovodiv
