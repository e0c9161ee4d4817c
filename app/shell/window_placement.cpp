#include "app/shell/window_placement.h"

#include <algorithm>
#include <string>

namespace kelvara::shell {

SavedRect ValidVideoWindowRect(const SavedRect& r, int screen_width, int screen_height, const Box& work,
                               bool& replaced) {
  const long long width = static_cast<long long>(r.right) - r.left;
  const long long height = static_cast<long long>(r.bottom) - r.top;
  // Edges compare as unsigned numbers, so a negative left or top fails.
  const bool valid = width >= 100 && height >= 100 && r.right != 0 && r.bottom != 0 &&
                     static_cast<unsigned>(r.left) < static_cast<unsigned>(screen_width) &&
                     static_cast<unsigned>(r.top) < static_cast<unsigned>(screen_height);
  replaced = !valid;
  if (valid) return r;
  const int w = work.width / 3, h = work.height / 3;
  const int left = work.x + work.width - w, top = work.y + work.height - h;
  return {left, top, left + w, top + h};
}

std::optional<Box> KeepOnMonitor(const Box& win, const Box& work) {
  const int inside_w = std::min(win.x + win.width, work.x + work.width) - std::max(win.x, work.x);
  const int inside_h = std::min(win.y + win.height, work.y + work.height) - std::max(win.y, work.y);
  if (inside_w >= 20 && inside_h >= 20) return std::nullopt;
  const int w = std::min(win.width, work.width), h = std::min(win.height, work.height);
  return Box{work.x + (work.width - w) / 2, work.y + (work.height - h) / 2, w, h};
}

std::string MainWindowTitle(const std::string& title, const std::string& version, int style) {
  return style == 2 ? title : title + " " + version;
}

bool IsQuickSearchVersion(const std::string& version) {
  return version.find("QUICKSEARCH_") != std::string::npos;
}

}  // namespace kelvara::shell
