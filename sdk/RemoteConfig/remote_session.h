#pragma once
// The remote-configuration library's own link to one device: a blocking
// client of the device protocol (docs/device-protocol.md) used on the
// library's worker thread. It logs in with the key exchange, reads and
// writes configuration blocks one request at a time over the sealed link,
// and logs in again when the link was lost in between (never after a refused
// login). Events the device pushes are skipped. The whole login, and each
// request, has one deadline: the time-out given.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "link_seal.h"
#include "wire_frame.h"

namespace remote_config {

enum class LoginOutcome { kOk, kUnreachable, kRefused, kProtocol };

struct Reply {
  int result = -1;  // the device's result; -1 when the link failed
  std::string text;
};
// The result of a request too long for one frame: it was not sent.
inline constexpr int kResultNotSent = 253;

// What the window says of a reply: `done` for result 0, else what went
// wrong in words, with the device's result number.
std::string ReplyStateText(const Reply& reply, const char* done);

class RemoteSession {
 public:
  RemoteSession(std::string address, int port, std::string user, std::string password, int timeoutMs = 5000);
  ~RemoteSession();
  RemoteSession(const RemoteSession&) = delete;
  RemoteSession& operator=(const RemoteSession&) = delete;

  // Connects and logs in. Once a login was refused the session logs in no
  // more: every further login offered to a device that knows no password
  // would be another guess for it.
  LoginOutcome Login();
  Reply GetConfig(std::uint32_t code);
  Reply SetConfig(std::uint32_t code, const std::string& text);
  // Ends a blocking call from another thread within kAbortSliceMs; the
  // session does nothing more afterwards.
  void Abort();
  static constexpr int kAbortSliceMs = 100;

 private:
  using Clock = std::chrono::steady_clock;
  Reply Request(std::uint16_t type, std::uint32_t code, const std::string& payload);
  Reply Exchange(std::uint16_t type, std::uint32_t code, const std::string& payload);
  bool SendAll(const std::string& bytes, Clock::time_point deadline);
  // Waits until the link is ready for `events`, at most until the deadline.
  bool WaitFor(short events, Clock::time_point deadline);
  // The next frame before the deadline, if any (opened once the link is sealed).
  std::optional<varurovodiv::wire::Frame> ReadFrame(Clock::time_point deadline);
  LoginOutcome Handshake(Clock::time_point deadline);
  void Close();

  std::string address_, user_, password_;
  int port_, timeoutMs_;
  int fd_ = -1;
  std::atomic<bool> aborted_{false};
  bool refused_ = false;
  std::uint32_t sequence_ = 0;
  varurovodiv::wire::FrameParser parser_;
  std::unique_ptr<varurovodiv::wire::LinkSeal> seal_;  // once logged in
};

}  // namespace remote_config
