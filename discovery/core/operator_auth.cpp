#include "discovery/core/operator_auth.h"

#include <string_view>

namespace kelvara::discovery {
namespace {

std::string Trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return std::string(s);
}

}  // namespace

std::optional<OperatorAuth> ResolveOperatorAuth(const OperatorAuthInputs& in) {
  if (!in.operationPasswordShown) return OperatorAuth{in.defaultUser, in.defaultPassword};
  std::string password = Trim(in.operationPassword);
  if (password.empty()) return std::nullopt;
  return OperatorAuth{"admin", std::move(password)};
}

OperatorAuthMessage MissingOperationPasswordMessage(const std::function<std::string(const char* key)>& lookup) {
  OperatorAuthMessage m;
  m.caption = lookup("IDS_OPERATE_PASSWD_TIPS1");
  m.text = m.caption + ": " + lookup("IDS_OPERATE_PASSWD_TIPS7");
  for (const char* key : {"IDS_OPERATE_PASSWD_TIPS3", "IDS_OPERATE_PASSWD_TIPS4", "IDS_OPERATE_PASSWD_TIPS5",
                          "IDS_OPERATE_PASSWD_TIPS6"})
    m.text += ", " + lookup(key);
  return m;
}

}  // namespace kelvara::discovery
