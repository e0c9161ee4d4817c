#pragma once
// The live view over a host, with its video window and grid, made and ended
// the way the program does, for tests that play into a real grid.
#include <memory>

#include "media/ui/live_view.h"
#include "media/ui/wnd_manager.h"

namespace kelvara::media::test {

struct VideoGrid {
  std::unique_ptr<ui::CDialogVideo> video;
  ui::CWndManager* grid = nullptr;  // owned by the video window
  std::unique_ptr<LiveView> view;

  // Five panes shown, the window at the given size.
  void Make(const LiveViewHost& host, int width, int height) {
    video = std::make_unique<ui::CDialogVideo>();
    grid = new ui::CWndManager();
    grid->SetHostWindow(video.get());
    video->SetGrid(grid);
    video->resize(width, height);
    video->SetVisible(5);
    view = std::make_unique<LiveView>(host);
    view->Attach(grid, video.get());
  }

  // Previews first, then the view, then the window that owns the grid.
  void End() {
    if (view) view->CloseAllPreviews();
    view.reset();
    video.reset();
    grid = nullptr;
  }
};

}  // namespace kelvara::media::test
