#include "made_files.h"

#include <sstream>

namespace kelvara::devsim {

std::string MadeFileName(const std::string& pattern, const std::string& serial, int n) {
  std::string out;
  for (std::size_t i = 0; i < pattern.size();) {
    if (pattern.compare(i, 8, "{serial}") == 0) {
      out += serial;
      i += 8;
    } else if (pattern.compare(i, 3, "{n}") == 0) {
      out += std::to_string(n);
      i += 3;
    } else {
      out += pattern[i++];
    }
  }
  return out;
}

std::optional<MadeFile> MakeFileFor(uint32_t request_code, const MadeFileSettings& settings, const std::string& serial,
                                    int n) {
  switch (request_code) {
    case 1043: return MadeFile{23, MadeFileName(settings.picture_name, serial, n), &SamplePicture()};
    case 1058:
    case 1061: return MadeFile{47, MadeFileName(settings.video_name, serial, n), &SampleVideo()};
    default: return std::nullopt;
  }
}

std::string SetMadeFileSetting(MadeFileSettings& settings, const std::string& args) {
  std::istringstream in(args);
  std::string what, value;
  in >> what;
  std::getline(in, value);
  if (!value.empty() && value[0] == ' ') value.erase(0, 1);
  if (value.empty()) return "madefile D picture NAME|video NAME|delay MS";
  if (what == "picture") {
    settings.picture_name = value;
  } else if (what == "video") {
    settings.video_name = value;
  } else if (what == "delay") {
    try {
      const int ms = std::stoi(value);
      if (ms < 0) return "delay must not be negative";
      settings.delay_ms = ms;
    } catch (const std::exception&) {
      return "delay must be a number";
    }
  } else {
    return "madefile D picture NAME|video NAME|delay MS";
  }
  return "";
}

}  // namespace kelvara::devsim
