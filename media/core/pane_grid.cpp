#include "pane_grid.h"

#include <cstddef>

namespace kelvara::media {

bool GridAccepted(int rows, int cols) { return rows >= 1 && cols >= 1 && rows * cols <= kPaneCount; }

PaneRect LayoutPane(int index, int rows, int cols, int width, int height) {
  if (!GridAccepted(rows, cols) || index < 0 || index >= rows * cols) return {};
  const int cell_w = width > 0 ? width / cols : 0;
  const int cell_h = height > 0 ? height / rows : 0;
  const int r = index / cols, c = index % cols;
  PaneRect p{c * cell_w, r * cell_h, cell_w, cell_h};
  if (c == cols - 1 && width > 0) p.width += width % cols;
  if (r == rows - 1 && height > 0) p.height += height % rows;
  return p;
}

int FindFreePane(const std::array<bool, kPaneCount>& occupied, int cells, int& counter) {
  if (cells < 1 || cells > kPaneCount) return -1;
  for (int i = 0; i < cells; ++i)
    if (!occupied[static_cast<std::size_t>(i)]) return i;
  const int pane = counter % cells;
  counter = (pane + 1) % cells;
  return pane;
}

int GridCommandForPaneCount(int panes) {
  for (const GridChoice& g : kGridChoices)
    if (g.rows * g.cols == panes && panes > 0) return g.command;
  return 0;
}

}  // namespace kelvara::media
