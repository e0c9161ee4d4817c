// Outside input of the dialogs: focus reports from devices and reference
// files, and the time-zone file. A parsed focus text prints back to a text
// that parses to the same pairs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "dialogs/core/focus_model.h"
#include "dialogs/core/time_model.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  using namespace kelvara::dialogs;
  if (const auto pairs = ParseFocusText(text)) {
    const auto again = ParseFocusText(FormatFocusText(*pairs));
    if (!again || *again != *pairs) std::abort();
    const FocusEvaluation e = EvaluateFocus(*pairs, DefaultFocusBase());
    (void)BuildFocusStartRequest(e.current);
  }
  for (const TimeZoneRule& r : ParseTimeZoneRules(text)) {
    if (r.name.size() > 63 || r.rule.size() > 63) std::abort();
    (void)RuleForZone({r}, r.minutes);
  }
  return 0;
}
