#pragma once
// Windows the program places itself (the video window, dialogs centred on the
// main window, popups at the cursor) are kept inside the screen's available
// area, frame and title bar included, by the rule of common/window_fit.h.
class QWidget;

namespace kelvara::ui {

// Moves (and, only where it is larger, shrinks) a shown window so that its
// frame lies inside the available area of the screen its frame's centre is on
// (else the window's own screen). Hidden, minimised, maximised and full-screen
// windows are left alone. True when the window was changed.
bool FitWindowInWorkArea(QWidget& window);

// Fits the window each time it is shown, and once more when it is first
// exposed after that: a window manager puts its frame around a window only
// after the show, and the frame's size is known only then.
void KeepWindowInWorkArea(QWidget& window);

}  // namespace kelvara::ui
