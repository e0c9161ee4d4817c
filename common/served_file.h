#pragma once
// What the TFTP helper serves from its folder, and nothing else: no absolute
// names, no ".." component, no symbolic link that leads out of the folder
// (resolved by the kernel with RESOLVE_BENEATH), and only regular files. The
// recovery server offers only images this rule opens, so it never names a
// file the helper then refuses.
#include <cstdint>
#include <string>
#include <string_view>

namespace kelvara {

enum class OpenResult { kOk, kNotFound, kRefused };

struct ServedFile {
  int fd = -1;
  std::uint64_t size = 0;
};

// `root_fd` is an O_PATH or O_DIRECTORY descriptor of the served folder.
// Backslashes in the name count as separators.
OpenResult OpenServedFile(int root_fd, std::string_view name, ServedFile& out);

// The lexical part of the check: false for an empty or absolute name or one
// with a ".." component. `normalized` gets the name with '/' separators.
bool IsNameAcceptable(std::string_view name, std::string& normalized);

}  // namespace kelvara
