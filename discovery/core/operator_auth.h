#pragma once
// The operator's credentials that go with every login-free network command
// started from a menu: the settings' default login, or, while the operation
// password box is in use (display switch 1055), "admin" with the password
// typed there.
#include <functional>
#include <optional>
#include <string>

#include "discovery/core/body_builders.h"

namespace kelvara::discovery {

struct OperatorAuthInputs {
  std::string defaultUser;      // the settings' default login (UTF-8)
  std::string defaultPassword;
  bool operationPasswordShown = false;  // display switch 1055
  std::string operationPassword;        // the box's text as typed
};

// The credentials (UTF-8), or nullopt when the operation password is
// required and the box holds nothing but blanks.
std::optional<OperatorAuth> ResolveOperatorAuth(const OperatorAuthInputs& in);

// Caption and text of the message shown when the operation password is missing.
struct OperatorAuthMessage {
  std::string caption;
  std::string text;
};
OperatorAuthMessage MissingOperationPasswordMessage(const std::function<std::string(const char* key)>& lookup);

}  // namespace kelvara::discovery
