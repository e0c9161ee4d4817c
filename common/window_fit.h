#pragma once
// Keeping a window's frame on the screen: the client rectangle that puts the
// whole frame, title bar first, inside the screen's work area (the screen less
// panels and docks). GUI-free; common/ui/window_fit.h applies it to widgets.
namespace kelvara {

struct WindowBox {
  int x = 0, y = 0, width = 0, height = 0;
  friend bool operator==(const WindowBox&, const WindowBox&) = default;
};

// The frame's margins around the client area (the title bar is `top`).
struct FrameMargins {
  int left = 0, top = 0, right = 0, bottom = 0;
};

// The client moves down and right (or up and left) as far as needed and
// shrinks only where the frame is larger than the work area; `client` is kept
// when its frame already fits. Where the frame cannot fit at all, its top left
// corner (the title bar) is the part kept on the screen.
WindowBox FitFrameInWorkArea(const WindowBox& client, const FrameMargins& frame, const WindowBox& work_area);

}  // namespace kelvara
