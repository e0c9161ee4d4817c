// The player and the RTSP client together against devsim in the test LAN:
// 1, 4 and 16 panes each get decoded and painted pictures (offscreen), and
// the overlays, snapshots and digital zoom of one pane.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QWidget>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "kelvara_test/test_env.h"
#include "kelvara_test/test_lan.h"
#include "rivelin.h"
#include "zq_player.h"
#include "zq_rtsp_client.h"

namespace {

using kelvara::test::LanSide;
using kelvara::test::TestLan;
using kelvara::test::TestLanOptions;

// What the live view does with a stream: the description sets up the
// decoders, frames are decoded into the pane.
struct Pane {
  ZQ_PLAYER_HANDLE player = 0;
  ZQ_RTSP_PLAY_HANDLE play = 0;
  std::atomic<int> descriptions{0};
  std::atomic<int> width{0};
};

int OnStream(ZQ_RTSP_PLAY_HANDLE, int type, const unsigned char* data, int length, const ZQ_RTSP_FRAME_INFO* info) {
  auto* pane = static_cast<Pane*>(info->user);
  if (type == ZQ_RTSP_FRAME_MEDIA_INFO) {
    MEDIA_STREAM_INFO mi;
    std::memcpy(&mi, data, sizeof mi);
    ZQ_PLAYER_SetupDecoder(pane->player, ZQ_PLAYER_STREAM_VIDEO, &mi.video, sizeof mi.video, 0);
    if (mi.hasAudio) ZQ_PLAYER_SetupDecoder(pane->player, ZQ_PLAYER_STREAM_AUDIO, &mi.audio, sizeof mi.audio, 0);
    pane->width.store(static_cast<int>(mi.video.width));
    pane->descriptions.fetch_add(1);
  } else if (type == ZQ_RTSP_FRAME_VIDEO || type == ZQ_RTSP_FRAME_AUDIO) {
    ZQ_PLAYER_DecodeFrame(pane->player, type == ZQ_RTSP_FRAME_VIDEO ? 1 : 0, data, length, nullptr, 16);
  }
  return 0;
}

struct Dump {
  std::atomic<int> frames{0};
  std::atomic<int> bad{0};
};

int OnDecoded(ZQ_PLAYER_HANDLE, const unsigned char* data, int length, const int* dims, void* user, void*) {
  auto* dump = static_cast<Dump*>(user);
  uint32_t words[4];
  std::memcpy(words, data, sizeof words);
  const long expected = 16 + long(words[0]) * dims[1] + long(words[1]) * (dims[1] / 2) * 2;
  if (dims[0] != 640 || dims[1] != 360 || words[0] < 640u || length != expected) dump->bad.fetch_add(1);
  dump->frames.fetch_add(1);
  return 0;
}

class PlayerLanTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string why;
    lan_ = TestLan::Create(TestLanOptions{.lan_addresses = 16}, &why).release();
    if (lan_ == nullptr) {
      skip_ = why;
      return;
    }
    lan_->Spawn(LanSide::kLan, {(kelvara::test::BinDir() / "devsim").string(), "--count", "16", "--base-ip",
                                TestLan::LanAddress(0), "--no-stdin", "--max-seconds", "300"});
    ZQ_PLAYER_Init();
    ZQ_RTSP_CLINET_LIB_InitLib();
  }
  static void TearDownTestSuite() {
    ZQ_RTSP_CLINET_LIB_ReleaseLib();
    ZQ_PLAYER_ReleaseAll();
    delete lan_;
    lan_ = nullptr;
  }
  void SetUp() override {
    if (lan_ == nullptr) GTEST_SKIP() << "test LAN unavailable (" << skip_ << ")";
  }

  // Plays device i's stream into the pane, from a thread of the PC side so the
  // client's thread lives there too.
  static void Play(Pane& pane, int device, int stream) {
    const std::string url = "rtsp://" + TestLan::LanAddress(device) + ":554/stream" + std::to_string(stream);
    pane.play = lan_->CallInThread(LanSide::kPc, [&] {
      return ZQ_RTSP_CLINET_LIB_RealPlayByUrl(url.c_str(), "admin", "admin123", 1, OnStream, &pane);
    });
  }

  static TestLan* lan_;
  static std::string skip_;
};
TestLan* PlayerLanTest::lan_ = nullptr;
std::string PlayerLanTest::skip_;

TEST_F(PlayerLanTest, EveryPaneGetsPicturesIn1And4And16PaneGrids) {
  for (int count : {1, 4, 16}) {
    SCOPED_TRACE(count);
    QWidget window;
    window.resize(1280, 720);
    const int side = count == 1 ? 1 : count == 4 ? 2 : 4;
    std::vector<std::unique_ptr<Pane>> panes;
    for (int i = 0; i < count; ++i) {
      auto* w = new QWidget(&window);
      w->setGeometry((i % side) * 1280 / side, (i / side) * 720 / side, 1280 / side, 720 / side);
      panes.push_back(std::make_unique<Pane>());
      panes.back()->player = ZQ_PLAYER_CreatePlayer(w);
      ASSERT_NE(panes.back()->player, 0);
    }
    window.show();
    for (int i = 0; i < count; ++i) Play(*panes[i], i, 1);
    auto all_painted = [&] {
      for (auto& p : panes) {
        long long decoded = 0, painted = 0;
        ZQ_PLAYER_GetFrameCounts(p->player, &decoded, &painted);
        if (decoded < 10 || painted < 3) return false;
      }
      return true;
    };
    EXPECT_TRUE(QTest::qWaitFor(all_painted, 30000));
    for (auto& p : panes) {
      ZQ_RTSP_CLINET_LIB_StopRealPlay(p->play);
      ZQ_PLAYER_CloseDecoder(p->player, 0);
      ZQ_PLAYER_CloseDecoder(p->player, 1);
    }
  }
}

TEST_F(PlayerLanTest, SwitchingToTheMainStreamDecodesItsSize) {
  QWidget pane_window;
  pane_window.resize(640, 360);
  pane_window.show();
  Pane pane;
  pane.player = ZQ_PLAYER_CreatePlayer(&pane_window);
  Play(pane, 3, 1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return pane.descriptions.load() >= 1; }, 20000));
  EXPECT_EQ(pane.width.load(), 640);
  ZQ_RTSP_CLINET_LIB_StopRealPlay(pane.play);
  ZQ_PLAYER_CloseDecoder(pane.player, 0);
  ZQ_PLAYER_CloseDecoder(pane.player, 1);
  long long before = 0;
  ZQ_PLAYER_GetFrameCounts(pane.player, &before, nullptr);
  Play(pane, 3, 0);
  EXPECT_TRUE(QTest::qWaitFor([&] {
    long long decoded = 0;
    ZQ_PLAYER_GetFrameCounts(pane.player, &decoded, nullptr);
    return pane.descriptions.load() >= 2 && decoded >= before + 10;
  }, 30000));
  EXPECT_EQ(pane.width.load(), 1920);
  ZQ_RTSP_CLINET_LIB_StopRealPlay(pane.play);
}

// Snapshots, the decoded-picture callback (unregistered while pictures are
// being decoded: once the call returns the receiver may be freed) and the
// overlays on one live pane.
TEST_F(PlayerLanTest, SnapshotsDecodedPicturesAndOverlays) {
  QWidget pane_window;
  pane_window.resize(640, 360);
  pane_window.show();
  Pane pane;
  pane.player = ZQ_PLAYER_CreatePlayer(&pane_window);
  Play(pane, 5, 1);
  ASSERT_TRUE(QTest::qWaitFor([&] {
    long long decoded = 0;
    ZQ_PLAYER_GetFrameCounts(pane.player, &decoded, nullptr);
    return decoded >= 5;
  }, 20000));
  for (int round = 0; round < 3; ++round) {
    auto dump = std::make_unique<Dump>();
    ASSERT_EQ(ZQ_PLAYER_SetDecCallBack(pane.player, OnDecoded, dump.get()), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return dump->frames.load() >= 5; }, 10000));
    ZQ_PLAYER_SetDecCallBack(pane.player, nullptr, nullptr);
    EXPECT_EQ(dump->bad.load(), 0);
    dump.reset();  // no delivery may touch it now
  }

  const auto folder = kelvara::test::MakeTempDir("snap");
  const std::string prefix = folder.string() + "/";
  EXPECT_EQ(ZQ_PLAYER_SnapShot(pane.player, 0, prefix.c_str()), 0);
  EXPECT_EQ(ZQ_PLAYER_SnapShot(pane.player, 1, prefix.c_str()), 0);
  int yuv = 0, jpg = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    if (e.path().extension() == ".yuv") {
      ++yuv;
      EXPECT_EQ(e.file_size(), 640u * 360u * 3u / 2u);
      EXPECT_NE(e.path().filename().string().find("_640X360"), std::string::npos);
    }
    if (e.path().extension() == ".jpg") {
      ++jpg;
      EXPECT_EQ(QImage(QString::fromStdString(e.path().string())).size(), QSize(640, 360));
    }
  }
  EXPECT_EQ(yuv, 1);
  EXPECT_EQ(jpg, 1);

  // The record mark and the motion grid are drawn over the picture.
  ZQ_PLAYER_SetFullFillStatus(pane.player, 1);
  ZQ_PLAYER_SetRecordStatus(pane.player, 1);
  ZQ_PLAYER_SetMotionDetectConfig(pane.player, 4, 3, "111111111111");
  QTest::qWait(300);
  const QImage shot = pane_window.grab().toImage();
  EXPECT_EQ(shot.pixelColor(640 - 13, 12), QColor(255, 0, 0));  // record mark
  EXPECT_EQ(shot.pixelColor(0, 100), QColor(0, 255, 0));        // motion grid line
  ZQ_PLAYER_SetMotionDetectConfigOn(pane.player, 0);
  ZQ_PLAYER_SetRecordStatus(pane.player, 0);
  QTest::qWait(300);
  const QImage plain = pane_window.grab().toImage();
  EXPECT_NE(plain.pixelColor(640 - 13, 12), QColor(255, 0, 0));
  ZQ_RTSP_CLINET_LIB_StopRealPlay(pane.play);
}

// Digital zoom inside the pane: each step in shows 0.8 of the width before
// it, so the moving colour bars along a row cross the pane fewer times; a step
// out and the whole picture bring them back.
TEST_F(PlayerLanTest, MouseZoomShowsPartOfThePictureAndBack) {
  QWidget pane_window;
  pane_window.resize(640, 360);
  pane_window.show();
  Pane pane;
  pane.player = ZQ_PLAYER_CreatePlayer(&pane_window);
  ZQ_PLAYER_SetFullFillStatus(pane.player, 1);
  Play(pane, 6, 1);
  ASSERT_TRUE(QTest::qWaitFor([&] {
    long long painted = 0;
    ZQ_PLAYER_GetFrameCounts(pane.player, nullptr, &painted);
    return painted >= 5;
  }, 20000));
  // Colour edges along a row through the bars, an edge blurred by scaling counted once.
  auto edges = [&] {
    QTest::qWait(300);
    const QImage shot = pane_window.grab().toImage();
    int count = 0;
    for (int x = 0; x + 2 < shot.width(); ++x) {
      const QColor a = shot.pixelColor(x, 60), b = shot.pixelColor(x + 2, 60);
      if (std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) > 150) {
        ++count;
        x += 4;
      }
    }
    return count;
  };
  const int whole = edges();
  EXPECT_GE(whole, 5);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ZQ_PLAYER_InputMouseEvent(pane.player, 1, 320, 180), 0);  // 0.512 of the width
  const int zoomed = edges();
  EXPECT_LE(zoomed, whole * 2 / 3);
  EXPECT_GE(zoomed, 1);
  ZQ_PLAYER_InputMouseEvent(pane.player, 2, 320, 180);  // 0.64
  const int out = edges();
  EXPECT_GT(out, zoomed);
  ZQ_PLAYER_InputMouseEvent(pane.player, 0, 0, 0);
  EXPECT_GE(edges(), whole - 1);
  EXPECT_EQ(ZQ_PLAYER_InputMouseEvent(0, 1, 0, 0), -1);  // no such player
  ZQ_RTSP_CLINET_LIB_StopRealPlay(pane.play);
}

}  // namespace
