#pragma once
// The values of the password dialog (a new admin password for the checked
// devices, typed twice) and of the default login dialog (the login used for
// devices that report no account), with the one check OK makes.
#include <string>

namespace kelvara::dialogs {

// The devices' factory default password.
inline constexpr const char* kFactoryPassword = "470913";

struct PasswordValues {
  std::string password = kFactoryPassword;
  std::string repeat = kFactoryPassword;
};

struct DefaultUserValues {
  std::string userName = "admin";
  std::string password = kFactoryPassword;
};

// OK refuses an empty password: it would give every checked device an empty
// admin password. Comparing the two texts stays the caller's task.
inline bool AcceptNewPassword(const std::string& password) { return !password.empty(); }
// The language key of the message shown when OK is refused.
inline constexpr const char* kEmptyPasswordKey = "PASSWORD_EMPTY";

}  // namespace kelvara::dialogs
