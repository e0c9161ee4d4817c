#pragma once
// Rivelin's own diagnostic log, separate from the program's logger. Off unless
// "player_dbg.cfg" exists in the per-user config folder; then it writes daily
// log files and/or sends each line by UDP to a monitor (port 3000).
#include <cstddef>
#include <ctime>
#include <functional>

// Reference-counted start and stop; the library's global object calls them.
void DebugInit();
void DebugRelease();
// (Re)reads the configuration file. Called by the first DebugInit.
void DebugInitLoad();
// One log line. -1 when logging is off or the datagram was not sent whole.
int DebugLog(const char* function, const char* module, int line, const void* object,
             const char* format, ...) __attribute__((format(printf, 5, 6)));
// Logs each byte as "%02X " (one line per byte), then "\n".
void emp4_dump_hex(const unsigned char* bytes, size_t length);

namespace rivelin::debug {
// Replaces the clock used for file names and rotation (tests); empty = time().
void SetClockForTest(std::function<time_t()> clock);
// True when any output is on (lets callers skip building expensive lines).
bool Enabled();
}  // namespace rivelin::debug

// Every module defines kModule and logs through this.
#define RLOG(object, ...) DebugLog(__func__, kModule, __LINE__, (object), __VA_ARGS__)
