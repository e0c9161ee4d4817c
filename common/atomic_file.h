#pragma once
// Replacing a file so that a crash, a full disk or a power cut leaves either the
// old content or the new one, never a mix: write a temporary file in the same
// folder, flush it to disk, then rename it over the target.
#include <filesystem>
#include <string>
#include <string_view>

namespace kelvara {

// Returns true on success. On failure the target is unchanged, the temporary
// file is removed, and *error (when given) says what failed.
// `mode` is the new file's permission bits (0600 for files that hold passwords).
bool WriteFileAtomically(const std::filesystem::path& target, std::string_view content,
                         std::string* error = nullptr, unsigned mode = 0644);

}  // namespace kelvara
