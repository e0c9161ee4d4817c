#pragma once
// The remote-configuration library's own link to one device: a blocking
// client of the device protocol (docs/device-protocol.md) used on the
// library's worker thread. It logs in with the key exchange, reads and
// writes configuration blocks one request at a time, and logs in again when
// the link was lost in between. Events the device pushes are skipped.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "wire_frame.h"

namespace remote_config {

enum class LoginOutcome { kOk, kUnreachable, kRefused, kProtocol };

struct Reply {
  int result = -1;  // the device's result; -1 when the link failed
  std::string text;
};

// What the window says of a reply: `done` for result 0, else what went
// wrong in words, with the device's result number.
std::string ReplyStateText(const Reply& reply, const char* done);

class RemoteSession {
 public:
  RemoteSession(std::string address, int port, std::string user, std::string password, int timeoutMs = 5000);
  ~RemoteSession();
  RemoteSession(const RemoteSession&) = delete;
  RemoteSession& operator=(const RemoteSession&) = delete;

  LoginOutcome Login();
  Reply GetConfig(std::uint32_t code);
  Reply SetConfig(std::uint32_t code, const std::string& text);
  // Ends a blocking call from another thread within kAbortSliceMs; the
  // session does nothing more afterwards.
  void Abort();
  static constexpr int kAbortSliceMs = 100;

 private:
  Reply Request(std::uint16_t type, std::uint32_t code, const std::string& payload);
  Reply Exchange(std::uint16_t type, std::uint32_t code, const std::string& payload);
  bool SendAll(const std::string& bytes);
  // Waits until the link is ready for `events` within the time-out.
  bool WaitFor(short events);
  // The next frame within the time-out, if any.
  bool ReadFrame(std::uint16_t& type, std::uint32_t& sequence, std::int32_t& result, std::string& payload);
  void Close();

  std::string address_, user_, password_;
  int port_, timeoutMs_;
  int fd_ = -1;
  std::atomic<bool> aborted_{false};
  std::uint32_t sequence_ = 0;
  varurovodiv::wire::FrameParser parser_;
};

}  // namespace remote_config
