#pragma once
// What a play record keeps of its device's list row (copied at start).
#include <string>

namespace kelvara::media {

struct LiveRow {
  std::string serial;
  std::string device_type;
  std::string user, password;  // the device's user config
  bool has_user_config = false;
  int rtp_over_rtsp = 0;
  int video_port = 554;
  int web_port = 80;
  int login_port = 0;  // the SDK's (remote configuration)
  std::string ip;
  int login_handle = 0;
  bool online = false;
  std::string login_version;  // empty while not logged in
  std::string ability_text;
};

// The live view plays only these models.
bool PlaysVideo(const std::string& device_type);
// The refusal text names the type with "NVS-NVR-" shown as "NVR-".
std::string UnsupportedModelMessage(const std::string& device_type);
// "rtsp://IP:PORT/chNN/streamS" (channel > 0, NN = channel + 1) or "rtsp://IP:PORT/streamS".
std::string LiveUrl(const std::string& ip, int port, int channel, int stream);

// Pane context-menu record commands: lParam = record | key-frame-only << 8 | snapshot << 16.
inline constexpr unsigned RecordParam(int record, int key_frame_only, int snapshot) {
  return static_cast<unsigned>(record) | static_cast<unsigned>(key_frame_only) << 8 |
         static_cast<unsigned>(snapshot) << 16;
}

// Digital zoom settings text for a multiple given x 10.
std::string DigitalZoomXml(int multiple_x10);

}  // namespace kelvara::media
