#include "qr_test_support.h"

#include <cstdio>
#include <fstream>
#include <random>

#include "kelvara_test/test_env.h"

namespace kelvara::test {

void WriteSymbolPgm(const CQR_Encode& qr, const std::filesystem::path& path, int pixelsPerModule) {
  const int quiet = 4;
  const int modulesPerSide = qr.SymbolSize() + 2 * quiet;
  const int side = modulesPerSide * pixelsPerModule;
  std::string pixels(std::size_t(side) * side, char(255));
  for (int y = 0; y < qr.SymbolSize(); ++y) {
    for (int x = 0; x < qr.SymbolSize(); ++x) {
      if (!qr.IsDark(x, y)) continue;
      for (int dy = 0; dy < pixelsPerModule; ++dy) {
        const int py = (y + quiet) * pixelsPerModule + dy;
        const int px = (x + quiet) * pixelsPerModule;
        std::fill_n(pixels.begin() + std::ptrdiff_t(py) * side + px, pixelsPerModule, char(0));
      }
    }
  }
  std::ofstream out(path, std::ios::binary);
  out << "P5\n" << side << ' ' << side << "\n255\n";
  out.write(pixels.data(), std::streamsize(pixels.size()));
}

std::optional<std::string> ZbarDecodeFile(const std::filesystem::path& image) {
  const std::string command = "zbarimg --nodbus --raw -q -Sbinary '" + image.string() + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return std::nullopt;
  std::string out;
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) out.append(buffer, n);
  const int status = pclose(pipe);
  if (status != 0) return std::nullopt;
  return out;
}

std::optional<std::string> ZbarDecode(const CQR_Encode& qr, int pixelsPerModule) {
  static int counter = 0;
  const auto path = HomeDir() / ("qr_" + std::to_string(++counter) + ".pgm");
  WriteSymbolPgm(qr, path, pixelsPerModule);
  auto result = ZbarDecodeFile(path);
  std::filesystem::remove(path);
  return result;
}

std::string TestBytes(std::size_t n, unsigned seed, const std::string& alphabet) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) {
    c = alphabet.empty() ? char(rng() & 0xFF) : alphabet[rng() % alphabet.size()];
  }
  return s;
}

}  // namespace kelvara::test
