// The grid arithmetic, the pane mouse rules, recording file names and the
// picture-dump arithmetic, as tables.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "kelvara_test/test_env.h"
#include "media/core/pane_grid.h"
#include "media/core/pane_mouse.h"
#include "media/core/record_files.h"
#include "media/core/record_yuv_thread.h"

namespace kelvara::media {
namespace {

TEST(PaneGrid, LayoutGivesTheRemainderToTheLastRowAndColumn) {
  struct Case {
    int index, rows, cols, w, h;
    PaneRect want;
  } cases[] = {
      {0, 4, 5, 1003, 601, {0, 0, 200, 150}},
      {4, 4, 5, 1003, 601, {800, 0, 203, 150}},      // last column 203 wide
      {15, 4, 5, 1003, 601, {0, 450, 200, 151}},     // last row 151 high
      {19, 4, 5, 1003, 601, {800, 450, 203, 151}},
      {20, 4, 5, 1003, 601, {}},                     // outside the grid
      {0, 1, 1, 640, 360, {0, 0, 640, 360}},
      {63, 8, 8, 800, 800, {700, 700, 100, 100}},
      {0, 5, 13, 100, 100, {}},                      // 65 cells: refused
      {1, 2, 2, -1, 0, {0, 0, 0, 0}},                // negative area: empty cells
  };
  for (const Case& c : cases)
    EXPECT_EQ(LayoutPane(c.index, c.rows, c.cols, c.w, c.h), c.want) << c.index << " " << c.rows << "x" << c.cols;
}

TEST(PaneGrid, FindFreePaneFillsThenRotates) {
  std::array<bool, kPaneCount> occupied{};
  int counter = 0;
  EXPECT_EQ(FindFreePane(occupied, 4, counter), 0);
  occupied[0] = occupied[2] = true;
  EXPECT_EQ(FindFreePane(occupied, 4, counter), 1);
  occupied[1] = occupied[3] = true;
  std::vector<int> got;
  for (int i = 0; i < 5; ++i) got.push_back(FindFreePane(occupied, 4, counter));
  EXPECT_EQ(got, (std::vector<int>{0, 1, 2, 3, 0}));
  EXPECT_EQ(GridCommandForPaneCount(20), 32935);
  EXPECT_EQ(GridCommandForPaneCount(9), 32932);
  EXPECT_EQ(GridCommandForPaneCount(6), 0);
  EXPECT_FALSE(GridAccepted(9, 8));
  EXPECT_TRUE(GridAccepted(8, 8));
}

TEST(PaneMouse, EdgeBandsGiveDirectionsAndCursors) {
  const Box big{0, 0, 1000, 800};  // band 50 (a tenth would be 100/80)
  const Box small{0, 0, 200, 100}; // band 20 x 10
  struct Case {
    Box box;
    int x, y, code, cursor;
  } cases[] = {
      {big, 500, 400, 0, 0},          // the middle
      {big, 30, 400, kPtzLeft, 133},
      {big, 60, 400, 0, 0},           // beyond 50 pixels
      {big, 970, 400, kPtzRight, 134},
      {big, 500, 20, kPtzUp, 135},
      {big, 500, 780, kPtzDown, 136},
      {big, 10, 10, kPtzUpLeft, 137},
      {big, 990, 10, kPtzUpRight, 139},
      {big, 10, 790, kPtzDownLeft, 138},
      {big, 990, 790, kPtzDownRight, 140},
      {big, 0, 400, 0, 0},            // on the border: not strictly inside
      {small, 19, 50, kPtzLeft, 133},
      {small, 20, 50, 0, 0},          // a tenth of 200
      {small, 100, 9, kPtzUp, 135},
      {small, 100, 10, 0, 0},
  };
  for (const Case& c : cases) {
    const unsigned e = EdgesAt(c.box, c.x, c.y);
    EXPECT_EQ(DirectionCode(e), c.code) << c.x << "," << c.y;
    EXPECT_EQ(EdgeCursor(e), c.cursor) << c.x << "," << c.y;
  }
}

TEST(PaneMouse, PressInTheMiddleSendsNothingAndEdgePressStopsOnRelease) {
  const Box box{0, 0, 400, 300};
  PaneMouse m;
  MouseAction a = m.LeftDown(box, 200, 150);
  EXPECT_TRUE(a.select);
  EXPECT_TRUE(a.ptz.empty());
  EXPECT_TRUE(m.LeftUp(box, 200, 150).ptz.empty());

  EXPECT_EQ(m.LeftDown(box, 5, 150).ptz, std::vector<int>{kPtzLeft});
  EXPECT_TRUE(m.Move(box, 5, 100).ptz.empty());  // a direction was sent: no zoom
  EXPECT_EQ(m.LeftUp(box, 5, 100).ptz, std::vector<int>{kPtzStop});

  // Dragging up from the middle zooms in, once.
  m.LeftDown(box, 200, 150);
  a = m.Move(box, 200, 140);
  EXPECT_EQ(a.ptz, std::vector<int>{kPtzZoomIn});
  EXPECT_EQ(a.cursor, kCursorZoomIn);
  EXPECT_TRUE(m.Move(box, 200, 100).ptz.empty());
  EXPECT_EQ(m.LeftUp(box, 200, 100).ptz, std::vector<int>{kPtzStop});
  m.LeftDown(box, 200, 150);
  EXPECT_EQ(m.Move(box, 200, 151).ptz, std::vector<int>{kPtzZoomOut});
}

TEST(PaneMouse, ThreeWheelNotchesThenOneStop) {
  PaneMouse m;
  std::vector<int> sent;
  int timer_starts = 0;
  for (int delta : {120, 120, -120}) {
    const MouseAction a = m.Wheel(delta);
    sent.insert(sent.end(), a.ptz.begin(), a.ptz.end());
    timer_starts += a.start_wheel_timer;
  }
  EXPECT_EQ(sent, (std::vector<int>{kPtzZoomIn, kPtzZoomIn, kPtzZoomOut}));
  EXPECT_EQ(timer_starts, 3);  // each notch restarts the one timer
  const MouseAction stop = m.WheelTimer();
  EXPECT_TRUE(stop.kill_wheel_timer);
  EXPECT_EQ(stop.ptz, std::vector<int>{kPtzStop});
}

TEST(PaneMouse, ThreeDRectangleInPercent) {
  PaneMouse m;
  m.SetMouse3DLocate(true);
  const Box box{100, 50, 500, 350};  // 400 x 300
  EXPECT_TRUE(m.LeftDown(box, 200, 125).ptz.empty());
  m.Move(box, 150, 100);
  EXPECT_EQ(m.Rectangle().left, 50);  // normalised: the smaller x
  const MouseAction a = m.LeftUp(box, 600, 350);
  ASSERT_TRUE(a.locate.has_value());
  EXPECT_EQ(*a.locate, (25u << 24) | (25u << 16) | (100u << 8) | 100u);  // x2 clamped to 100
  int p1 = 0, p2 = 0;
  Unpack3DLocate(*a.locate, p1, p2);
  EXPECT_EQ(p1, 25 << 8 | 25);
  EXPECT_EQ(p2, 100 << 8 | 100);
  EXPECT_EQ(Pack3DLocate(1, 2, 3, 4, 3, 3), (33u << 24) | (66u << 16) | (100u << 8) | 100u);
}

TEST(RecordFiles, SameSecondNamesAreDistinctAndDeviceNamesSanitised) {
  const auto base = kelvara::test::MakeTempDir("rec");
  std::tm t{};
  t.tm_year = 126;
  t.tm_mon = 11;
  t.tm_mday = 10;
  t.tm_hour = 9;
  t.tm_min = 5;
  t.tm_sec = 7;
  const auto folder = RecordFolder(base, "../10.77.1.1", t);
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder, base / "record" / "2026-12-10" / "_._10.77.1.1");
  EXPECT_EQ(TimeStem(t), "090507");
  const auto a = CreateUniqueFile(folder, "090507--av-0", ".mp4");
  const auto b = CreateUniqueFile(folder, "090507--av-0", ".mp4");
  const auto c = CreateUniqueFile(folder, "090507--av-0", ".mp4");
  EXPECT_EQ(a.filename(), "090507--av-0.mp4");
  EXPECT_EQ(b.filename(), "090507--av-0_1.mp4");
  EXPECT_EQ(c.filename(), "090507--av-0_2.mp4");
  EXPECT_TRUE(CreateUniqueFile(base / "missing", "x", ".mp4").empty());
}

TEST(RecordYuv, AssemblesI420FromStridedPlanes) {
  const int w = 4, h = 4, ys = 8, cs = 4;
  std::vector<unsigned char> buf(16 + ys * h + cs * (h / 2) * 2);
  const uint32_t words[4] = {ys, cs, cs, 0};
  std::memcpy(buf.data(), words, sizeof words);
  unsigned char* y = buf.data() + 16;
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < ys; ++c) y[r * ys + c] = static_cast<unsigned char>(c < w ? 10 * r + c : 0xEE);
  unsigned char* second = y + ys * h;  // V
  unsigned char* third = second + cs * 2;  // U
  for (int i = 0; i < cs * 2; ++i) {
    second[i] = static_cast<unsigned char>(i % cs < 2 ? 200 + i : 0xEE);
    third[i] = static_cast<unsigned char>(i % cs < 2 ? 100 + i : 0xEE);
  }
  const auto out = CRecordYuvThread::AssembleI420(buf.data(), static_cast<int>(buf.size()), w, h);
  ASSERT_EQ(out.size(), static_cast<size_t>(w * h * 3 / 2));
  EXPECT_EQ(std::vector<unsigned char>(out.begin(), out.begin() + 4), (std::vector<unsigned char>{0, 1, 2, 3}));
  EXPECT_EQ(out[12], 30);
  // U (the third plane) first, then V.
  EXPECT_EQ(std::vector<unsigned char>(out.begin() + 16, out.end()),
            (std::vector<unsigned char>{100, 101, 104, 105, 200, 201, 204, 205}));
  EXPECT_TRUE(CRecordYuvThread::AssembleI420(buf.data(), static_cast<int>(buf.size()) - 1, w, h).empty());
}

}  // namespace
}  // namespace kelvara::media
