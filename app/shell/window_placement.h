#pragma once
// Window geometry rules of the main window: the video window's saved rectangle
// and keeping a window on its monitor. Fitting a frame into the work area is
// common/window_fit.h.
#include <optional>
#include <string>

#include "app/shell/main_layout.h"

namespace kelvara::shell {

// The saved video window (its client area: left, top, right, bottom in screen
// pixels) when it is usable on a screen of the given size, else the lower
// right third of the screen's work area (the screen less its panels), so no
// panel covers it. `replaced` tells the caller to store and save the new
// rectangle. The window's frame goes around the rectangle: once shown, the
// window is fitted into the work area frame included (common/window_fit.h).
struct SavedRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  friend bool operator==(const SavedRect&, const SavedRect&) = default;
};
SavedRect ValidVideoWindowRect(const SavedRect& saved, int screen_width, int screen_height, const Box& work_area,
                               bool& replaced);

// Where a window goes so that at least 20 x 20 pixels of it lie in the work
// area; nullopt when it may stay where it is.
std::optional<Box> KeepOnMonitor(const Box& window, const Box& work_area);

// The main window's title: the language's title text, and the version unless style 2.
std::string MainWindowTitle(const std::string& title, const std::string& version, int style);
// A quick-search build requests searches every 100 ms.
bool IsQuickSearchVersion(const std::string& version);

}  // namespace kelvara::shell
