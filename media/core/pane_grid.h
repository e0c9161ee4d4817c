#pragma once
// The video grid's arithmetic: where each pane goes, which pane is free, and
// the grid entries of the layout menus.
#include <array>

namespace kelvara::media {

inline constexpr int kPaneCount = 64;

struct PaneRect {
  int left = 0, top = 0, width = 0, height = 0;
  bool operator==(const PaneRect&) const = default;
};

// Pane `index` of a rows x cols grid over a client area of width x height:
// cells of width / cols by height / rows, the last column and row taking the
// remainder. Empty for a pane outside the grid or a bad grid.
PaneRect LayoutPane(int index, int rows, int cols, int width, int height);

// True when rows x cols is a grid SetGrid accepts (1 .. 64 cells).
bool GridAccepted(int rows, int cols);

// The first pane 0 .. cells - 1 that is not occupied; when every one is, the
// rotating counter's value, and the counter moves on (modulo cells).
int FindFreePane(const std::array<bool, kPaneCount>& occupied, int cells, int& counter);

// Layout menu items: 32929 none, 32930 1x1, 32931 1x2, 32933 2x2, 32932 3x3,
// 32934 4x4, 32935 4x5, 32936 5x5.
struct GridChoice {
  int command;
  int rows, cols;  // 0 x 0 for "none"
};
inline constexpr std::array<GridChoice, 8> kGridChoices{{{32929, 0, 0},
                                                         {32930, 1, 1},
                                                         {32931, 1, 2},
                                                         {32933, 2, 2},
                                                         {32932, 3, 3},
                                                         {32934, 4, 4},
                                                         {32935, 4, 5},
                                                         {32936, 5, 5}}};
// The layout item checked for a pane count (1, 2, 4, 9, 16, 20, 25), else 0.
int GridCommandForPaneCount(int panes);

}  // namespace kelvara::media
