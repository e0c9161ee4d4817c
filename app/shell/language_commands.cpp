#include "app/shell/language_commands.h"

#include <array>

namespace kelvara::shell {
namespace {
// 1956 stores "pt-br" although its menu key names pt_pt: the language file is pt-br.
constexpr std::array<LanguageCommand, 10> kCommands = {{
    {1950, "LANGAGE_ENGLISH", "en-us"},
    {1951, "LANGAGE_ZH_CN", "zh-cn"},
    {1952, "LANGAGE_ZH_TW", "zh-tw"},
    {1953, "LANGAGE_KO_KO", "ko-ko"},
    {1954, "ID_LANGUAGE_Japanese", "Japanese"},
    {1955, "ID_LANGUAGE_pl_pl", "pl-pl"},
    {1956, "ID_LANGUAGE_pt_pt", "pt-br"},
    {1957, "LANGAGE_RUSSIAN", "Russian"},
    {1958, "ID_LANGUAGE_Ukraine", "Ukrainian"},
    {1959, "LANGAGE_MONGOLIAN", "Mongolian"},
}};
}  // namespace

std::span<const LanguageCommand> LanguageCommands() { return kCommands; }

const char* LanguageCodeForCommand(int command) {
  for (const auto& c : kCommands)
    if (c.command == command) return c.code;
  return "en-us";
}

}  // namespace kelvara::shell
