// The rule that keeps a window's frame on the screen, on the cases met: the
// video window's default place on a 1920 x 1080 screen, panels on each side,
// windows larger than the work area, windows off every edge.
#include <gtest/gtest.h>

#include "common/window_fit.h"

namespace kelvara {
namespace {

TEST(WindowFit, TheFrameAndItsTitleBarGoInsideTheWorkArea) {
  const FrameMargins frame{4, 30, 4, 4};
  struct Case {
    const char* what;
    WindowBox work, client, fitted;
  };
  const Case cases[] = {
      // The video window's default, the lower right third of a 1920 x 1080
      // screen as its client area: the frame's right and bottom edges were
      // off the screen.
      {"video default", {0, 0, 1920, 1080}, {1280, 720, 640, 360}, {1276, 716, 640, 360}},
      // The same under a panel along the bottom (work area 1920 x 1040).
      {"panel below", {0, 0, 1920, 1040}, {1280, 693, 640, 346}, {1276, 690, 640, 346}},
      // The whole work area as the client (the main window before it is
      // maximised): the title bar was above the screen.
      {"panel above", {0, 27, 1600, 873}, {0, 27, 1600, 873}, {4, 57, 1592, 839}},
      {"panel left", {48, 0, 1872, 1080}, {0, 100, 800, 600}, {52, 100, 800, 600}},
      {"panel right", {0, 0, 1872, 1080}, {1200, 100, 800, 600}, {1068, 100, 800, 600}},
      // A frame that fits stays as it is, also touching every edge.
      {"fits", {0, 27, 1600, 873}, {100, 200, 800, 600}, {100, 200, 800, 600}},
      {"fits exactly", {0, 0, 1920, 1080}, {4, 30, 1912, 1046}, {4, 30, 1912, 1046}},
      // Off to the top left: moved in, size kept.
      {"off top left", {0, 27, 1600, 873}, {-300, -100, 800, 600}, {4, 57, 800, 600}},
      // Off to the bottom right: moved back in.
      {"off bottom right", {0, 27, 1600, 873}, {1500, 800, 800, 600}, {796, 296, 800, 600}},
      // Wider and higher than the work area: shrunk to it.
      {"too large", {0, 0, 1920, 1080}, {-50, -50, 2500, 1500}, {4, 30, 1912, 1046}},
      // A screen to the right of another (virtual desktop coordinates).
      {"second screen", {1920, 0, 1280, 1024}, {2900, 900, 400, 300}, {2796, 720, 400, 300}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const WindowBox got = FitFrameInWorkArea(c.client, frame, c.work);
    EXPECT_EQ(got, c.fitted) << got.x << "," << got.y << " " << got.width << "x" << got.height;
    // The whole frame lies inside the work area.
    EXPECT_GE(got.x - frame.left, c.work.x);
    EXPECT_GE(got.y - frame.top, c.work.y);
    EXPECT_LE(got.x + got.width + frame.right, c.work.x + c.work.width);
    EXPECT_LE(got.y + got.height + frame.bottom, c.work.y + c.work.height);
  }
}

TEST(WindowFit, AWorkAreaSmallerThanTheFrameKeepsTheTitleBarAndOnePixel) {
  const FrameMargins frame{4, 30, 4, 4};
  const WindowBox got = FitFrameInWorkArea({500, 500, 300, 200}, frame, {0, 0, 6, 20});
  EXPECT_EQ(got, (WindowBox{4, 30, 1, 1}));
  // No frame at all (no window manager): only the client is kept inside.
  EXPECT_EQ(FitFrameInWorkArea({1280, 720, 640, 360}, {}, {0, 0, 1920, 1080}), (WindowBox{1280, 720, 640, 360}));
  EXPECT_EQ(FitFrameInWorkArea({1300, 720, 640, 360}, {}, {0, 0, 1920, 1080}), (WindowBox{1280, 720, 640, 360}));
}

}  // namespace
}  // namespace kelvara
