#pragma once
// One player: the decoders of a pane, its latest picture, its overlays and its
// decoded-picture callback. Decoding runs on the caller's thread (the stream
// callback); painting on the UI thread reads the latest picture under a lock.
#include <QImage>
#include <QPointer>
#include <QRectF>
#include <QString>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "zq_player.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;
struct SwrContext;

namespace zq_player {

class PlayerView;

class Player {
 public:
  Player(ZQ_PLAYER_HANDLE handle, QWidget* window);
  ~Player();
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;

  ZQ_PLAYER_HANDLE handle() const { return handle_; }
  int SetupDecoder(int stream, const void* param, int size);
  int DecodeFrame(int stream, const unsigned char* data, int length);
  int CloseDecoder(int stream);
  void SetPlayMode(int mode) { play_mode_.store(mode); }
  void SetDecodeMode(int mode) { decode_mode_.store(mode); }
  void SetFill(bool fill);
  void SetRecording(bool on);
  int SnapShot(int kind, const std::string& folder);
  // After it returns the previous callback is not running and will not run.
  void SetDecodedCallback(ZQ_PLAYER_DEC_CALLBACK callback, void* user);
  void InputMouse(int event, int x, int y);
  void SetMotionGrid(int columns, int rows, const std::string& cells);
  void SetMotionGridOn(bool on);
  void GetCounts(long long* decoded, long long* painted) const;

  // UI thread: paints the latest picture and the overlays into the view.
  void Paint(QWidget* view);
  void SchedulePaint();

 private:
  void DeliverVideo(AVFrame* frame);
  void DeliverAudio(AVFrame* frame);
  void CloseVideo();
  void CloseAudio();

  const ZQ_PLAYER_HANDLE handle_;
  QPointer<PlayerView> view_;

  std::mutex decode_mutex_;  // decoders and the scratch packet
  AVCodecContext* video_ = nullptr;
  AVCodecContext* audio_ = nullptr;
  AVFrame* decoded_ = nullptr;
  AVPacket* packet_ = nullptr;
  SwrContext* resampler_ = nullptr;
  std::string dump_buffer_;

  mutable std::mutex picture_mutex_;  // latest picture, overlays, paint scaler
  AVFrame* latest_ = nullptr;
  SwsContext* scaler_ = nullptr;     // picture -> pane size, 4:2:0
  SwsContext* converter_ = nullptr;  // 4:2:0 -> RGB at pane size
  uint8_t* small_[4] = {};
  int small_stride_[4] = {};
  QImage canvas_;
  bool fill_ = false;
  bool recording_ = false;
  bool motion_on_ = false;
  int motion_columns_ = 0, motion_rows_ = 0;
  std::string motion_cells_;
  QRectF zoom_{0, 0, 1, 1};  // shown part of the picture, in picture fractions

  std::mutex callback_mutex_;
  ZQ_PLAYER_DEC_CALLBACK callback_ = nullptr;
  void* callback_user_ = nullptr;

  std::atomic<int> play_mode_{0};
  std::atomic<int> decode_mode_{0};
  std::atomic<bool> paint_pending_{false};
  std::atomic<long long> decoded_count_{0};
  std::atomic<long long> painted_count_{0};
};

// The widget the player draws into: a child covering the pane's window,
// transparent for the mouse so the pane keeps its gestures.
class PlayerView : public QWidget {
 public:
  PlayerView(Player* player, QWidget* window);
  void Detach() { player_ = nullptr; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  Player* player_;
};

}  // namespace zq_player
