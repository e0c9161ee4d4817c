#pragma once
// Makes the session threads of new logins on a thread of its own, so a login
// call returns its handle at once: making a thread costs the caller about half
// a millisecond on a busy process, and a program that logs in thousands of
// devices from its UI thread would stall for seconds.
//
// The sessions are started in the order they were queued, once the caller's
// burst of logins is over (5 ms without a new one, at most 100 ms). A session
// stopped before its turn is skipped (Session::Start does nothing once Stop
// ran). The
// starter's thread is made by the first Enqueue, so it and the session threads
// it makes share the network namespace of the thread that logged in first.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

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
  // Starts what is still queued (stopped sessions make no thread), ends the
  // starter's thread and waits for it. A later Enqueue makes a new one.
  void Stop();

 private:
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::shared_ptr<Session>> queue_;
  using Clock = std::chrono::steady_clock;
  Clock::time_point last_enqueue_{};
  std::thread thread_;
  bool running_ = false;
  bool stopping_ = false;
};

}  // namespace varurovodiv
