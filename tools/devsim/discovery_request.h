#pragma once
// A datagram received on the discovery port, as the device side reads it:
// the message code and flag, the serial number (or UUID) it names, the
// operator's credentials and the command's body.
#include <map>
#include <optional>
#include <string>

namespace kelvara::devsim {

struct DiscoveryRequest {
  int code = 0;
  int flag = 0;
  std::string key;                        // IPC_SERIALNUMBER/SerialNumber
  std::optional<std::string> user;        // OPERATOR_AUTH/Username
  std::optional<std::string> password;    // OPERATOR_AUTH/Password
  bool retain_network = false;            // <retain value="network" />
  std::optional<std::map<std::string, std::string>> lan;  // LANConfig attributes
  std::optional<std::string> intercom;    // FH_CONFIG, printed back
};

// nullopt for anything that is not XML with a MESSAGE_HEADER carrying Msg_code.
std::optional<DiscoveryRequest> ParseDiscoveryRequest(const std::string& text);

}  // namespace kelvara::devsim
