#include "app/shell/window_placement.h"

#include <algorithm>
#include <string>

namespace kelvara::shell {

SavedRect ValidVideoWindowRect(const SavedRect& r, int screen_width, int screen_height, bool& replaced) {
  const long long width = static_cast<long long>(r.right) - r.left;
  const long long height = static_cast<long long>(r.bottom) - r.top;
  // Edges compare as unsigned numbers, so a negative left or top fails.
  const bool valid = width >= 100 && height >= 100 && r.right != 0 && r.bottom != 0 &&
                     static_cast<unsigned>(r.left) < static_cast<unsigned>(screen_width) &&
                     static_cast<unsigned>(r.top) < static_cast<unsigned>(screen_height);
  replaced = !valid;
  if (valid) return r;
  const int w = screen_width / 3, h = screen_height / 3;
  const int left = screen_width - w, top = screen_height - h;
  return {left, top, left + w, top + h};
}

std::optional<Box> KeepOnMonitor(const Box& win, const Box& work) {
  const int inside_w = std::min(win.x + win.width, work.x + work.width) - std::max(win.x, work.x);
  const int inside_h = std::min(win.y + win.height, work.y + work.height) - std::max(win.y, work.y);
  if (inside_w >= 20 && inside_h >= 20) return std::nullopt;
  const int w = std::min(win.width, work.width), h = std::min(win.height, work.height);
  return Box{work.x + (work.width - w) / 2, work.y + (work.height - h) / 2, w, h};
}

Box FitFrameInWorkArea(const Box& client, const FrameMargins& f, const Box& work) {
  const int fw = client.width + f.left + f.right, fh = client.height + f.top + f.bottom;
  const int w = std::min(fw, work.width), h = std::min(fh, work.height);
  // The frame's left and top edges: inside the work area, the right and
  // bottom edges too where the size allows.
  const int x = std::clamp(client.x - f.left, work.x, work.x + work.width - w);
  const int y = std::clamp(client.y - f.top, work.y, work.y + work.height - h);
  return Box{x + f.left, y + f.top, std::max(w - f.left - f.right, 1), std::max(h - f.top - f.bottom, 1)};
}

std::string MainWindowTitle(const std::string& title, const std::string& version, int style) {
  return style == 2 ? title : title + " " + version;
}

bool IsQuickSearchVersion(const std::string& version) {
  return version.find("QUICKSEARCH_") != std::string::npos;
}

}  // namespace kelvara::shell
