#pragma once
// Where Kelvara's files live on Linux.
//
// Read-only resources (language files, display.xml, images) lie next to the
// program. Writable files go to per-user folders following the XDG base
// directories. KELVARA_HOME, when set, moves every per-user folder under one
// root (tests always set it), so nothing outside that root is touched.
#include <filesystem>

namespace kelvara::paths {

// Folder of the running executable (from /proc/self/exe).
std::filesystem::path ProgramDir();

// $XDG_CONFIG_HOME/kelvara (default ~/.config/kelvara): zq_cfg.xml, the
// language choice, uc_dbg.cfg, player_dbg.cfg.
std::filesystem::path ConfigDir();

// $XDG_DATA_HOME/kelvara (default ~/.local/share/kelvara): the writable files
// the program keeps beside itself (Data/printconfig.xml, debug logs).
std::filesystem::path DataDir();

// $XDG_DOCUMENTS_DIR/Kelvara (default ~/Documents/Kelvara): downloads,
// snapshots, recordings, device logs.
std::filesystem::path DocumentsDir();

// The above, created when missing. Returns an empty path when the folder
// cannot be created.
std::filesystem::path EnsureDir(const std::filesystem::path& dir);

}  // namespace kelvara::paths
