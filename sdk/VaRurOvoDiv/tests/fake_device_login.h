#pragma once
// The device's side of the login for the tests' own fake devices: the HELLO,
// then the answers to LOGIN_SHARE and LOGIN for one account, and the sealing
// of the link it logged in.
#include <memory>
#include <optional>
#include <string>

#include "link_seal.h"
#include "login_handshake.h"
#include "wire_frame.h"

namespace varurovodiv::test {

class FakeDeviceLogin {
 public:
  explicit FakeDeviceLogin(std::string password, std::string nonce = std::string(16, 'c'))
      : password_(std::move(password)), nonce_(std::move(nonce)) {}

  std::string HelloFrame() const {
    return wire::EncodeFrame(wire::FrameType::kHello, 0, 0, 0, 0, wire::EncodeHello({nonce_}));
  }
  // The reply to a frame of the login; none for any other frame.
  std::optional<std::string> Answer(const wire::Frame& f) {
    const auto reply = [&](int32_t result, const std::string& payload) {
      return wire::EncodeFrame(f.header.type | wire::kReplyBit, f.header.sequence, f.header.handle,
                               0, result, payload);
    };
    if (f.header.type == static_cast<uint16_t>(wire::FrameType::kLoginShare)) {
      share_ = wire::DecodeLoginShare(f.payload);
      if (!share_) return reply(wire::kResultBadCredentials, {});
      exchange_ = std::make_unique<wire::LoginExchange>(wire::LoginExchange::Side::kDevice,
                                                        password_, share_->user, nonce_,
                                                        share_->nonce);
      if (!exchange_->TakePeerShare(share_->share)) return reply(wire::kResultBadCredentials, {});
      return reply(wire::kResultOk, exchange_->share());
    }
    if (f.header.type == static_cast<uint16_t>(wire::FrameType::kLogin)) {
      logged_in_ = exchange_ && exchange_->CheckPeerTag(f.payload);
      if (logged_in_) seal_ = std::make_unique<wire::LinkSeal>(*exchange_);
      return logged_in_ ? reply(wire::kResultOk, exchange_->Tag())
                        : reply(wire::kResultBadCredentials, {});
    }
    return std::nullopt;
  }
  bool logged_in() const { return logged_in_; }
  // The logged-in link's sealing; null before the login.
  wire::LinkSeal* seal() { return seal_.get(); }
  // The last LOGIN_SHARE received.
  const std::optional<wire::LoginShare>& share() const { return share_; }

 private:
  std::string password_;
  std::string nonce_;
  std::unique_ptr<wire::LoginExchange> exchange_;
  std::optional<wire::LoginShare> share_;
  std::unique_ptr<wire::LinkSeal> seal_;
  bool logged_in_ = false;
};

}  // namespace varurovodiv::test
