#pragma once
// Reads devsim's answer to `journal D`: "ok N", then "CHANNEL HEX" per message.
#include <cctype>
#include <string>

namespace kelvara::devsim {

// The bytes of every message of `channel` ("sdk", "udp", "log") in the
// journal answer, one after the other.
inline std::string JournalBytes(const std::string& journal, const std::string& channel = "sdk") {
  std::string out;
  const std::string mark = "\n" + channel + " ";
  size_t at = 0;
  while ((at = journal.find(mark, at)) != std::string::npos) {
    at += mark.size();
    for (; at + 1 < journal.size() && std::isxdigit(static_cast<unsigned char>(journal[at])); at += 2)
      out += static_cast<char>(std::stoi(journal.substr(at, 2), nullptr, 16));
  }
  return out;
}

}  // namespace kelvara::devsim
