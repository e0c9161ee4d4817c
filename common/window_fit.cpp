#include "common/window_fit.h"

#include <algorithm>

namespace kelvara {

WindowBox FitFrameInWorkArea(const WindowBox& client, const FrameMargins& f, const WindowBox& work) {
  const int fw = client.width + f.left + f.right, fh = client.height + f.top + f.bottom;
  const int w = std::min(fw, work.width), h = std::min(fh, work.height);
  // The frame's left and top edges: inside the work area, the right and
  // bottom edges too where the size allows.
  const int x = std::clamp(client.x - f.left, work.x, work.x + work.width - w);
  const int y = std::clamp(client.y - f.top, work.y, work.y + work.height - h);
  return WindowBox{x + f.left, y + f.top, std::max(w - f.left - f.right, 1), std::max(h - f.top - f.bottom, 1)};
}

}  // namespace kelvara
