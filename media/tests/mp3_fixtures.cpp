#include "mp3_fixtures.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "kelvara_test/test_env.h"

namespace kelvara::media::test {

const std::filesystem::path& EncodedMp3Dir() {
  static const std::filesystem::path dir = [] {
    const std::filesystem::path d = kelvara::test::HomeDir() / "mp3";
    const std::string script = (kelvara::test::SourceDir() / "media/tests/make_mp3_fixtures.sh").string();
    const std::string command = "bash '" + script + "' '" + d.string() + "'";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("cannot make the MP3 fixtures");
    return d;
  }();
  return dir;
}

std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string CommandOutput(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  if (::pclose(pipe) != 0) out.clear();
  return out;
}

std::vector<std::uint8_t> SyntheticFrames(int count, bool mono) {
  std::vector<std::uint8_t> out;
  for (int i = 0; i < count; ++i) {
    std::vector<std::uint8_t> frame(417, 0x00);
    frame[0] = 0xFF;
    frame[1] = 0xFB;
    frame[2] = 0x90;
    frame[3] = mono ? 0xC0 : 0x00;
    frame[100] = static_cast<std::uint8_t>(i);
    Append(out, frame);
  }
  return out;
}

void Append(std::vector<std::uint8_t>& to, const std::vector<std::uint8_t>& bytes) {
  to.insert(to.end(), bytes.begin(), bytes.end());
}

void Append(std::vector<std::uint8_t>& to, const std::string& text) { to.insert(to.end(), text.begin(), text.end()); }

}  // namespace kelvara::media::test
