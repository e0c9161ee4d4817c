#pragma once
// The process-wide debug logger. Every part of the program writes diagnostic
// lines with DebugLogPrintf; the file uc_dbg.cfg in the config folder decides
// whether they go to a log file in the data folder, to a UDP monitor (port
// 3000 of a configured address), to both or nowhere. Without that file
// nothing is written and nothing is sent.
//
// Line: "DoDuzUdodo: YYYY-MM-DD hh:mm:ss: <thread id, 8 hex digits>: <text>";
// the caller supplies the line break. At most 10239 bytes; longer is cut.
// Log files: DoDuzUdodo_<YYYYMMDD of the line>_<hhmmss of the start>_<n>.log,
// a new one every 20000 lines or kDebugLogMaxFileBytes and at each change of
// day (n back to 0). The log files in the folder never hold more than
// kDebugLogMaxTotalBytes together: opening a new file deletes the oldest.
//
// Any thread may log at any time, also before DebugLogInit and after
// DebugLogRelease (the text is then only formatted). The logger's state and
// lock are never destroyed, so a thread still logging during shut-down is safe.
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

namespace kelvara {

inline constexpr char kDebugLogTag[] = "DoDuzUdodo";
inline constexpr int kDebugLogMonitorPort = 3000;
inline constexpr int kDebugLogLinesPerFile = 20000;
inline constexpr size_t kDebugLogMaxLine = 10239;
inline constexpr std::uintmax_t kDebugLogMaxFileBytes = 16u << 20;
inline constexpr std::uintmax_t kDebugLogMaxTotalBytes = 128u << 20;

// The keys of uc_dbg.cfg. A key absent from the text sets its item to 0 (or
// empty); a key present without a ';' after it keeps the item as it was.
struct DebugLogConfig {
  int file = 0;
  int network = 0;
  int level = 10;          // read and kept; no output depends on it
  std::string monitor_ip;  // dotted IPv4; empty means 127.0.0.1
};

// Resets the logger, takes the start stamp, reads uc_dbg.cfg when present and
// logs the build date. Always 0.
int DebugLogInit();

// Turns both outputs off and closes the log file and the socket. Always 0.
int DebugLogRelease();

// Formats and writes one line. 0 when done (also when both outputs are off),
// -1 when the UDP socket cannot be created or a send is short.
int DebugLogPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Reads the keys "file=", "network=", "level=" and "monitor_ip=" (first
// occurrence, anywhere in the text, each value ended by ';'). Always 0.
int DebugLogParseConfig(std::string_view text, DebugLogConfig& config);

// Where the log files go (the per-user data folder) and where the
// configuration is read from.
std::filesystem::path DebugLogGetFolder();
std::filesystem::path DebugLogConfigPath();

namespace debug_log_testing {
// Replaces the local clock (nullptr restores it), so tests can cross midnight.
using LocalTimeFn = std::tm (*)();
void SetLocalTime(LocalTimeFn fn);
// The log file currently open (empty when none).
std::filesystem::path CurrentFile();
// Replaces the size limits (0, 0 restores kDebugLogMaxFileBytes and
// kDebugLogMaxTotalBytes).
void SetSizeLimits(std::uintmax_t file_bytes, std::uintmax_t total_bytes);
}  // namespace debug_log_testing

}  // namespace kelvara
