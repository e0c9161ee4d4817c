#pragma once
// The mouse on a video pane as pure rules: the edge bands and the PTZ codes
// they give, the drag zoom, the wheel with its stop timer, and the 3D
// positioning rectangle. The widget feeds events in and carries out what
// comes back (post a PTZ command, set a cursor, start or kill the timer).
#include <optional>
#include <vector>

namespace kelvara::media {

// PTZ codes of the device SDK's PTZ control.
enum PtzCode : int {
  kPtzZoomIn = 11,
  kPtzZoomOut = 12,
  kPtzUp = 17,
  kPtzDown = 18,
  kPtzLeft = 19,
  kPtzRight = 20,
  kPtzUpLeft = 21,
  kPtzUpRight = 22,
  kPtzDownLeft = 23,
  kPtzDownRight = 24,
  kPtzStop = 26,
  kPtz3DLocate = 27,
};
inline constexpr int kPtzPresetSet = 8;
inline constexpr int kPtzPresetCall = 39;
inline constexpr int kTimerWheelZoomStop = 100;
inline constexpr int kWheelZoomStopMs = 1000;

enum Edge : unsigned { kEdgeNone = 0, kEdgeLeft = 1, kEdgeRight = 2, kEdgeTop = 4, kEdgeBottom = 8 };

struct Box {
  int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
  int width() const { return right - left; }
  int height() const { return bottom - top; }
};

// The edges the point lies in: a band of a tenth of the size, at most 50
// pixels, on each side; only for points strictly inside the box.
unsigned EdgesAt(const Box& box, int x, int y);
// The PTZ direction of an edge set (0 for none).
int DirectionCode(unsigned edges);
// The cursor resource of an edge set (133 .. 140; 0 = unchanged).
int EdgeCursor(unsigned edges);
inline constexpr int kCursorZoomIn = 141;
inline constexpr int kCursorZoomOut = 142;

// 3D positioning: the press and release points in percent of the client size
// (truncated, clamped 0..100), packed x1 << 24 | y1 << 16 | x2 << 8 | y2.
unsigned Pack3DLocate(int x1, int y1, int x2, int y2, int width, int height);
// The PTZ parameters of a packed 3D rectangle: (x1 << 8 | y1, x2 << 8 | y2).
void Unpack3DLocate(unsigned packed, int& p1, int& p2);

// What the pane does in reply to one mouse event.
struct MouseAction {
  std::vector<int> ptz;    // PTZ codes to post, in order
  int cursor = 0;          // cursor to set, 0 = unchanged
  bool select = false;     // select the pane (and focus its player)
  bool start_wheel_timer = false;
  bool kill_wheel_timer = false;
  bool context_menu = false;
  std::optional<unsigned> locate;  // a finished 3D rectangle, packed
};

class PaneMouse {
 public:
  void SetMouse3DLocate(bool on) { locate_mode_ = on; }
  bool Mouse3DLocate() const { return locate_mode_; }

  MouseAction LeftDown(const Box& box, int x, int y);
  MouseAction Move(const Box& box, int x, int y);
  MouseAction LeftUp(const Box& box, int x, int y);
  // delta: the wheel's signed turn (negative = towards the user).
  MouseAction Wheel(int delta);
  MouseAction WheelTimer();
  MouseAction RightDown();

  // 3D rectangle being drawn (normalised), for the outline.
  bool Drawing() const { return drawing_; }
  Box Rectangle() const;

 private:
  bool locate_mode_ = false;
  bool button_down_ = false;
  bool zoom_started_ = false;
  int press_y_ = 0;
  bool drawing_ = false;
  int start_x_ = 0, start_y_ = 0, end_x_ = 0, end_y_ = 0;
};

}  // namespace kelvara::media
