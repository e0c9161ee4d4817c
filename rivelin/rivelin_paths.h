#pragma once
// Rivelin's own per-user folders. It follows the same rules as the program
// (KELVARA_HOME moves everything below one root, else the XDG folders), but
// the library depends on nothing of the program.
#include <filesystem>

namespace rivelin::paths {

// KELVARA_HOME/config, else $XDG_CONFIG_HOME/kelvara, else ~/.config/kelvara.
std::filesystem::path ConfigDir();
// KELVARA_HOME/data, else $XDG_DATA_HOME/kelvara, else ~/.local/share/kelvara.
std::filesystem::path DataDir();

}  // namespace rivelin::paths
