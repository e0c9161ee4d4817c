#pragma once
// Test fixtures made at test time with Debian's ffmpeg from lavfi sources,
// and small helpers around the ffprobe / ffmpeg oracles.
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace rivelin::test {

struct AccessUnit {
  std::vector<uint8_t> data;  // Annex B
  bool key = false;
};

struct Packet {
  std::vector<uint8_t> data;
};

// Runs a shell command; returns its stdout (stderr too when mergeStderr).
std::string RunCommand(const std::string& command, int* exitCode = nullptr, bool mergeStderr = false);

std::vector<uint8_t> ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& data);

// Encodes with ffmpeg into `dir/name` (cached for the process); `args` are the
// ffmpeg arguments between "-y" and the output name. Aborts the test on failure.
std::filesystem::path Fixture(const std::string& name, const std::string& args);

// Access units of an Annex B elementary stream (H.264 when h265 is false).
std::vector<AccessUnit> SplitAccessUnits(const std::vector<uint8_t>& stream, bool h265);
// ADTS frames of an AAC stream, headers included.
std::vector<Packet> SplitAdts(const std::vector<uint8_t>& stream);
// Fixed-size packets of a raw G.711 stream.
std::vector<Packet> SplitFixed(const std::vector<uint8_t>& stream, size_t size);

// ffprobe's view of each stream: key=value of the [STREAM] sections, with
// packets counted (nb_read_packets).
std::vector<std::map<std::string, std::string>> Probe(const std::filesystem::path& file);
// Everything `ffmpeg -v error -i file -f null -` prints (empty when clean).
std::string DecodeErrors(const std::filesystem::path& file);

}  // namespace rivelin::test
