#pragma once
// Files a simulated device makes on request: the picture of a snapshot
// (1043) and the MP4 of a time-lapse (1058) or a record export (1061). The
// device stores the file under a name made from a pattern and announces it
// after a delay by an alarm (23 for the picture, 47 for the video) whose
// detail is the file's device path.
#include <cstdint>
#include <optional>
#include <string>

namespace kelvara::devsim {

struct MadeFileSettings {
  // "{serial}" and "{n}" (the device's count of made files, from 1) are
  // replaced; any other text is kept as it is, hostile names included.
  std::string picture_name = "/mnt/sd/snap/{serial}_{n}.jpg";
  std::string video_name = "/mnt/sd/record/{serial}_{n}.mp4";
  int delay_ms = 50;
};

// What a request code makes: the alarm code, the name pattern and the content.
struct MadeFile {
  uint32_t alarm_code = 0;
  std::string path;
  const std::string* content = nullptr;
};
std::optional<MadeFile> MakeFileFor(uint32_t request_code, const MadeFileSettings& settings, const std::string& serial,
                                    int n);

std::string MadeFileName(const std::string& pattern, const std::string& serial, int n);

// Control "madefile D picture NAME|video NAME|delay MS": "" when taken, else
// the error text.
std::string SetMadeFileSetting(MadeFileSettings& settings, const std::string& args);

const std::string& SamplePicture();
const std::string& SampleVideo();

}  // namespace kelvara::devsim
