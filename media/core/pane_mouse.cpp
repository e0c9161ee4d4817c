#include "pane_mouse.h"

#include <algorithm>

namespace kelvara::media {

unsigned EdgesAt(const Box& b, int x, int y) {
  if (!(x > b.left && x < b.right && y > b.top && y < b.bottom)) return kEdgeNone;  // strictly inside only
  const int w = b.width(), h = b.height();
  unsigned e = kEdgeNone;
  if (x < b.left + w / 10 && x - b.left <= 50) e |= kEdgeLeft;
  if (x > b.right - w / 10 && b.right - x <= 50) e |= kEdgeRight;
  if (y < b.top + h / 10 && y - b.top <= 50) e |= kEdgeTop;
  if (y > b.bottom - h / 10 && b.bottom - y <= 50) e |= kEdgeBottom;
  return e;
}

int DirectionCode(unsigned e) {
  const bool l = e & kEdgeLeft, r = e & kEdgeRight, t = e & kEdgeTop, b = e & kEdgeBottom;
  if (t && l) return kPtzUpLeft;
  if (t && r) return kPtzUpRight;
  if (b && l) return kPtzDownLeft;
  if (b && r) return kPtzDownRight;
  if (l) return kPtzLeft;
  if (r) return kPtzRight;
  if (t) return kPtzUp;
  if (b) return kPtzDown;
  return 0;
}

int EdgeCursor(unsigned e) {
  const bool l = e & kEdgeLeft, r = e & kEdgeRight, t = e & kEdgeTop, b = e & kEdgeBottom;
  if (t && l) return 137;
  if (t && r) return 139;
  if (b && l) return 138;
  if (b && r) return 140;
  if (l) return 133;
  if (r) return 134;
  if (t) return 135;
  if (b) return 136;
  return 0;
}

namespace {
int Percent(int v, int size) {
  if (size <= 0) return 0;
  const float p = static_cast<float>(v) / static_cast<float>(size) * 100.0f;
  return std::clamp(static_cast<int>(p), 0, 100);
}
}  // namespace

unsigned Pack3DLocate(int x1, int y1, int x2, int y2, int width, int height) {
  return static_cast<unsigned>(Percent(x1, width)) << 24 | static_cast<unsigned>(Percent(y1, height)) << 16 |
         static_cast<unsigned>(Percent(x2, width)) << 8 | static_cast<unsigned>(Percent(y2, height));
}

void Unpack3DLocate(unsigned packed, int& p1, int& p2) {
  const int x1 = (packed >> 24) & 0xFF, y1 = (packed >> 16) & 0xFF, x2 = (packed >> 8) & 0xFF, y2 = packed & 0xFF;
  p1 = x1 << 8 | y1;
  p2 = x2 << 8 | y2;
}

MouseAction PaneMouse::LeftDown(const Box& box, int x, int y) {
  MouseAction a;
  if (locate_mode_) {
    drawing_ = true;
    start_x_ = end_x_ = x - box.left;
    start_y_ = end_y_ = y - box.top;
    return a;
  }
  a.select = true;
  if (const int code = DirectionCode(EdgesAt(box, x, y))) {
    a.ptz.push_back(code);
    zoom_started_ = true;
  }
  button_down_ = true;
  press_y_ = y;
  return a;
}

MouseAction PaneMouse::Move(const Box& box, int x, int y) {
  MouseAction a;
  if (locate_mode_) {
    if (drawing_) {
      end_x_ = x - box.left;
      end_y_ = y - box.top;
    }
    return a;
  }
  a.cursor = EdgeCursor(EdgesAt(box, x, y));
  if (button_down_ && !zoom_started_ && y != press_y_) {
    const bool up = y < press_y_;
    a.ptz.push_back(up ? kPtzZoomIn : kPtzZoomOut);
    a.cursor = up ? kCursorZoomIn : kCursorZoomOut;
    zoom_started_ = true;
  }
  return a;
}

MouseAction PaneMouse::LeftUp(const Box& box, int x, int y) {
  MouseAction a;
  if (locate_mode_) {
    if (drawing_) {
      end_x_ = x - box.left;
      end_y_ = y - box.top;
      a.locate = Pack3DLocate(start_x_, start_y_, end_x_, end_y_, box.width(), box.height());
      drawing_ = false;
    }
    return a;
  }
  if (zoom_started_) a.ptz.push_back(kPtzStop);
  button_down_ = zoom_started_ = false;
  return a;
}

MouseAction PaneMouse::Wheel(int delta) {
  MouseAction a;
  a.ptz.push_back(delta < 0 ? kPtzZoomOut : kPtzZoomIn);
  a.cursor = delta < 0 ? kCursorZoomOut : kCursorZoomIn;
  a.start_wheel_timer = true;  // restarted by every notch
  return a;
}

MouseAction PaneMouse::WheelTimer() {
  MouseAction a;
  a.kill_wheel_timer = true;
  a.ptz.push_back(kPtzStop);
  return a;
}

MouseAction PaneMouse::RightDown() {
  MouseAction a;
  a.select = true;
  a.context_menu = true;
  return a;
}

Box PaneMouse::Rectangle() const {
  return Box{std::min(start_x_, end_x_), std::min(start_y_, end_y_), std::max(start_x_, end_x_),
             std::max(start_y_, end_y_)};
}

}  // namespace kelvara::media
