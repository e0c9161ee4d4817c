#pragma once
// MP3 test files: those made once per test process by the Debian encoders
// (make_mp3_fixtures.sh) and hand-made byte images.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kelvara::media::test {

// The folder of encoder-made files (made on first use).
const std::filesystem::path& EncodedMp3Dir();

std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// Standard output of a shell command; empty on failure.
std::string CommandOutput(const std::string& command);

// `count` MPEG-1 Layer III frames at 44.1 kHz, 128 kbit/s (417 bytes each),
// stereo or mono, with a counter in each body.
std::vector<std::uint8_t> SyntheticFrames(int count, bool mono = false);

void Append(std::vector<std::uint8_t>& to, const std::vector<std::uint8_t>& bytes);
void Append(std::vector<std::uint8_t>& to, const std::string& text);

}  // namespace kelvara::media::test
