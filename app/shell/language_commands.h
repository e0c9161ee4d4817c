#pragma once
// The language items of the system menu: command ids, menu keys and the
// language codes they store.
#include <span>

namespace kelvara::shell {

struct LanguageCommand {
  int command;
  const char* menu_key;  // language key of the item text
  const char* code;      // stored language code
};

inline constexpr int kFirstLanguageCommand = 1950;
inline constexpr int kLastLanguageCommand = 1959;

std::span<const LanguageCommand> LanguageCommands();
// The code a language command stores; "en-us" for any other command.
const char* LanguageCodeForCommand(int command);

}  // namespace kelvara::shell
