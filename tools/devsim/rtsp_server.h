#pragma once
// The simulated devices' live streams: one RTSP server per device address and
// port (GStreamer's RTSP server), serving /stream0 (main), /stream1 (sub) and
// /chNN/streamS from a moving test pattern with G.711 u-law sound. Each
// device checks its own account (Basic authentication). Every client gets an
// encoder of its own, so its stream starts with a key frame.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kelvara::devsim {

struct RtspDevice {
  std::string ip;
  int port = 554;  // 0 = any free port (loopback tests)
  std::string user = "admin";
  std::string password = "admin123";
  std::string codec = "h264";  // "h264" or "h265"
  int main_width = 1920, main_height = 1080;
  int sub_width = 640, sub_height = 360;
  int fps = 25;
  int channels = 1;  // /chNN/streamS for NN = 01 .. channels
  bool audio = true;
};

// What a stream switch does to every stream of a device.
enum class StreamFault { kRun, kStall, kDrop };

class RtspServer {
 public:
  RtspServer();
  ~RtspServer();
  RtspServer(const RtspServer&) = delete;
  RtspServer& operator=(const RtspServer&) = delete;

  // Binds every device's server and starts the serving thread; returns an
  // error text or "". Addresses other than loopback are refused outside a
  // test network namespace.
  std::string Start(const std::vector<RtspDevice>& devices);
  void Stop();

  // The port device i listens on (resolves port 0).
  int port(int device) const;
  // The next picture of every stream of the device is a key frame.
  void RequestKeyFrame(int device);
  // kDrop closes every connection of the device (clients reconnect); kStall
  // keeps them open but sends nothing; kRun resumes.
  void SetFault(int device, StreamFault fault);
  // Key-frame requests served so far for a device.
  int key_frame_requests(int device) const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// The GStreamer pipeline of one stream (the part inside the RTSP factory).
std::string StreamLaunch(const RtspDevice& d, int stream);

// "rtsp keyframe D", "rtsp stall D", "rtsp drop D", "rtsp run D": the device
// index parsed and the fault or key-frame request applied; returns the reply.
std::string RtspControl(RtspServer& server, int device_count, const std::string& line);

}  // namespace kelvara::devsim
