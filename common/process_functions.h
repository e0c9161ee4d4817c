#pragma once
// Ending a helper program by name. Prefer keeping the child you started and
// ending that one; this is for a helper left over from an earlier run.
#include <string_view>

namespace kelvara {

// Ends the first process of the current user whose program file name equals
// `name` (case-insensitive; a trailing ".exe" of `name` is ignored). SIGTERM,
// then SIGKILL when it has not ended after one second. Never another user's
// process, never this process. 1 when a process was ended, else 0.
int KillProcessByName(std::string_view name);

}  // namespace kelvara
