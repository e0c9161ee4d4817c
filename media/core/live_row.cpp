#include "live_row.h"

#include <cstdio>

namespace kelvara::media {

bool PlaysVideo(const std::string& t) {
  return t.find("DAV-ODUVE-") != std::string::npos || t.find("NVS-DM36X-") != std::string::npos;
}

std::string UnsupportedModelMessage(const std::string& device_type) {
  std::string shown = device_type;
  const std::string from = "NVS-NVR-";
  for (size_t at = shown.find(from); at != std::string::npos; at = shown.find(from, at + 4))
    shown.replace(at, from.size(), "NVR-");
  return "不支持设备类型为" + shown + "的视频播放";
}

std::string LiveUrl(const std::string& ip, int port, int channel, int stream) {
  char url[256];
  if (channel > 0)
    std::snprintf(url, sizeof url, "rtsp://%s:%d/ch%02d/stream%d", ip.c_str(), port, channel + 1, stream);
  else
    std::snprintf(url, sizeof url, "rtsp://%s:%d/stream%d", ip.c_str(), port, stream);
  return url;
}

std::string DigitalZoomXml(int multiple_x10) {
  char text[128];
  std::snprintf(text, sizeof text, "<DZOOMSETTING><SETTING MULTIPLE=\"%f\"/></DZOOMSETTING>", multiple_x10 / 10.0);
  return text;
}

}  // namespace kelvara::media
