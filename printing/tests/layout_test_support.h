#pragma once
// Small file helpers for the layout tests.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace kelvara::test {

inline void WriteText(const std::filesystem::path& p, const std::string& s) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << s;
}

inline std::string ReadText(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace kelvara::test
