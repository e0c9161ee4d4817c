#pragma once
// Ending a helper program by name, and the process's own descriptor limit.
#include <string_view>

namespace kelvara {

// Ends the first process of the current user whose program file name equals
// `name` (case-insensitive; a trailing ".exe" of `name` is ignored). SIGTERM,
// then SIGKILL when it has not ended after one second. Never another user's
// process, never this process. 1 when a process was ended, else 0.
int KillProcessByName(std::string_view name);

// Raises this process's soft limit of open descriptors to its hard limit.
// Each login holds a socket and a wake-up descriptor, so a list of a few
// thousand devices needs more than the soft limit of 1,024 that desktop
// sessions usually start programs with. Returns the soft limit in force
// afterwards (unchanged when it could not be raised).
unsigned long RaiseOpenFileLimit();

}  // namespace kelvara
