#pragma once
// Makes the session threads of new logins, and joins those of ended logins, on
// a thread of its own, so a login call returns its handle at once and a logout
// returns without waiting for the login's thread: making a thread costs the
// caller about half a millisecond on a busy process, and ending thousands of
// them takes about a second; a program that logs thousands of devices in or
// out from its UI thread would stall for that long.
//
// The sessions are started in the order they were queued, once the caller's
// burst of logins is over (5 ms without a new one, at most 100 ms). A session
// stopped before its turn is skipped (Session::Start does nothing once Stop
// ran). Ended sessions (marked stopped by the caller) are woken, so their
// threads end and close their links, and joined, 32 at a time; batches of
// starts and of ends take turns, so neither waits for the other's thousands.
// A session thread that ends by itself (a refused login) hands its session
// here to be joined, so it keeps no thread while its handle lives on.
// The starter's thread is made by the first Enqueue, so it and the session
// threads it makes share the network namespace of the thread that logged in
// first.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace varurovodiv {

class Session;

class SessionStarter {
 public:
  SessionStarter() = default;
  ~SessionStarter() { Stop(); }
  SessionStarter(const SessionStarter&) = delete;
  SessionStarter& operator=(const SessionStarter&) = delete;

  // Queues a session whose thread is to be made. False when the starter has no
  // thread and none can be made, or is stopping: the caller starts it itself.
  bool Enqueue(std::shared_ptr<Session> session);
  // Takes sessions marked stopped (Session::MarkStopped), to wake their
  // threads, join them and drop the sessions; moves them out of `ended` only
  // when it returns true. False when the starter has no thread or is
  // stopping: the caller ends them itself (Session::Stop).
  bool Retire(std::vector<std::shared_ptr<Session>>& ended);
  // Joins the thread of a session that ended by itself, leaving the session
  // as it is (Session::JoinEnded); called by that thread as its last act.
  // Without a starter thread, or while it stops, the session's Stop joins it.
  void Join(std::shared_ptr<Session> finished);
  // Starts what is still queued (stopped sessions make no thread), joins every
  // retired session's thread, ends the starter's thread and waits for it. A
  // later Enqueue makes a new one.
  void Stop();

 private:
  void Run();
  // The starter's loop; Run takes it up again should it throw.
  void Serve();
  // Wakes a batch of retired sessions' threads and joins them; and starts a
  // batch of queued sessions. Called with `lock` holding mutex_.
  void EndSome(std::unique_lock<std::mutex>& lock);
  void StartSome(std::unique_lock<std::mutex>& lock);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::shared_ptr<Session>> queue_;
  std::deque<std::shared_ptr<Session>> retired_;  // marked stopped, to be woken and joined
  std::vector<std::shared_ptr<Session>> finished_;  // ended by themselves, to be joined
  using Clock = std::chrono::steady_clock;
  Clock::time_point last_enqueue_{};
  Clock::time_point noticed_{};  // when the starter saw the queue fill
  bool starting_ = false;        // the burst is over: start what is queued
  std::thread thread_;
  bool running_ = false;
  bool stopping_ = false;
};

}  // namespace varurovodiv
