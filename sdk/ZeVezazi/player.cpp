#include "player.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <QCoreApplication>
#include <QDateTime>
#include <QEvent>
#include <QPainter>
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "audio_output.h"
#include "rivelin.h"

namespace zq_player {

Player* FindPlayer(ZQ_PLAYER_HANDLE handle);  // zq_player.cpp, UI thread

namespace {
bool Contains(const char* text, const char* part) { return std::strstr(text, part) != nullptr; }

// AAC over RTSP arrives without headers: the decoder needs the stream's
// AudioSpecificConfig, built here for AAC-LC from the rate and channels.
void SetAacConfig(AVCodecContext* c, int rate, int channels) {
  static const int kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};
  int index = 4;
  for (int i = 0; i < 13; ++i)
    if (kRates[i] == rate) index = i;
  c->extradata = static_cast<uint8_t*>(av_mallocz(2 + AV_INPUT_BUFFER_PADDING_SIZE));
  c->extradata[0] = static_cast<uint8_t>((2 << 3) | (index >> 1));
  c->extradata[1] = static_cast<uint8_t>(((index & 1) << 7) | ((channels & 0xF) << 3));
  c->extradata_size = 2;
}
}  // namespace

Player::Player(ZQ_PLAYER_HANDLE handle, QWidget* window) : handle_(handle) {
  decoded_ = av_frame_alloc();
  latest_ = av_frame_alloc();
  packet_ = av_packet_alloc();
  try {
    if (window != nullptr) view_ = new PlayerView(this, window);
  } catch (...) {
    // No destructor runs for a player not made: its frames go here.
    av_frame_free(&decoded_);
    av_frame_free(&latest_);
    av_packet_free(&packet_);
    throw;
  }
}

Player::~Player() {
  CloseVideo();
  CloseAudio();
  if (view_) {
    view_->Detach();
    delete view_.data();
  }
  sws_freeContext(scaler_);
  sws_freeContext(converter_);
  av_freep(&small_[0]);
  av_frame_free(&decoded_);
  av_frame_free(&latest_);
  av_packet_free(&packet_);
}

int Player::SetupDecoder(int stream, const void* param, int size) {
  if (param == nullptr) return -1;
  std::lock_guard lock(decode_mutex_);
  if (stream == ZQ_PLAYER_STREAM_VIDEO) {
    if (size < static_cast<int>(sizeof(MP4_VIDEO_PARAM))) return -1;
    const auto* p = static_cast<const MP4_VIDEO_PARAM*>(param);
    char codec[257] = {};
    std::memcpy(codec, p->codec, 256);
    const AVCodec* dec = avcodec_find_decoder(Contains(codec, "265") ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
    if (dec == nullptr) return -1;
    CloseVideo();
    AVCodecContext* c = avcodec_alloc_context3(dec);
    if (c == nullptr) return -1;
    if (p->extraLength > 0 && p->extraLength <= sizeof p->extra) {
      c->extradata = static_cast<uint8_t*>(av_mallocz(p->extraLength + AV_INPUT_BUFFER_PADDING_SIZE));
      std::memcpy(c->extradata, p->extra, p->extraLength);
      c->extradata_size = static_cast<int>(p->extraLength);
    }
    c->thread_count = 1;  // every pane decodes on its own stream thread already
    c->flags |= AV_CODEC_FLAG_LOW_DELAY;
    if (avcodec_open2(c, dec, nullptr) < 0) {
      avcodec_free_context(&c);
      return -1;
    }
    video_ = c;
    return 0;
  }
  if (stream == ZQ_PLAYER_STREAM_AUDIO) {
    if (size < static_cast<int>(sizeof(MP4_AUDIO_PARAM))) return -1;
    const auto* p = static_cast<const MP4_AUDIO_PARAM*>(param);
    char codec[257] = {};
    std::memcpy(codec, p->codec, 256);
    AVCodecID id = AV_CODEC_ID_NONE;
    if (Contains(codec, "PCMU") || Contains(codec, "G711U") || Contains(codec, "G.711U")) id = AV_CODEC_ID_PCM_MULAW;
    else if (Contains(codec, "PCMA") || Contains(codec, "G711") || Contains(codec, "G.711")) id = AV_CODEC_ID_PCM_ALAW;
    else if (Contains(codec, "MPEG4-GENERIC") || Contains(codec, "AAC")) id = AV_CODEC_ID_AAC;
    const AVCodec* dec = avcodec_find_decoder(id);
    const int rate = static_cast<int>(p->sampleRate), channels = static_cast<int>(p->channels);
    if (dec == nullptr || rate <= 0 || channels <= 0 || channels > 8) return -1;
    CloseAudio();
    AVCodecContext* c = avcodec_alloc_context3(dec);
    if (c == nullptr) return -1;
    c->sample_rate = rate;
    av_channel_layout_default(&c->ch_layout, channels);
    if (id == AV_CODEC_ID_AAC) SetAacConfig(c, rate, channels);
    if (avcodec_open2(c, dec, nullptr) < 0) {
      avcodec_free_context(&c);
      return -1;
    }
    audio_ = c;
    return 0;
  }
  return -1;
}

int Player::DecodeFrame(int stream, const unsigned char* data, int length) {
  if (data == nullptr || length <= 0) return -1;
  std::lock_guard lock(decode_mutex_);
  AVCodecContext* c = stream == ZQ_PLAYER_STREAM_VIDEO ? video_ : stream == ZQ_PLAYER_STREAM_AUDIO ? audio_ : nullptr;
  if (c == nullptr) return -1;
  if (av_new_packet(packet_, length) < 0) return -1;
  std::memcpy(packet_->data, data, static_cast<size_t>(length));
  const int sent = avcodec_send_packet(c, packet_);
  av_packet_unref(packet_);
  if (sent < 0 && sent != AVERROR(EAGAIN)) return -1;  // a damaged frame is skipped
  while (avcodec_receive_frame(c, decoded_) == 0) {
    if (stream == ZQ_PLAYER_STREAM_VIDEO)
      DeliverVideo(decoded_);
    else
      DeliverAudio(decoded_);
    av_frame_unref(decoded_);
  }
  return 0;
}

void Player::DeliverVideo(AVFrame* frame) {
  decoded_count_.fetch_add(1, std::memory_order_relaxed);
  {
    std::lock_guard lock(callback_mutex_);
    if (callback_ != nullptr && (frame->format == AV_PIX_FMT_YUV420P || frame->format == AV_PIX_FMT_YUVJ420P)) {
      // Four words (luma stride, first and second chroma stride, 0), then the
      // luma plane, the second chroma plane (V) and the first (U).
      const int h = frame->height, ch = frame->height / 2;
      const uint32_t words[4] = {static_cast<uint32_t>(frame->linesize[0]), static_cast<uint32_t>(frame->linesize[1]),
                                 static_cast<uint32_t>(frame->linesize[2]), 0};
      const size_t y = static_cast<size_t>(frame->linesize[0]) * h;
      const size_t v = static_cast<size_t>(frame->linesize[1]) * ch;
      const size_t u = static_cast<size_t>(frame->linesize[1]) * ch;
      dump_buffer_.resize(sizeof words + y + v + u);
      char* out = dump_buffer_.data();
      std::memcpy(out, words, sizeof words);
      std::memcpy(out + sizeof words, frame->data[0], y);
      std::memcpy(out + sizeof words + y, frame->data[2], v);
      std::memcpy(out + sizeof words + y + v, frame->data[1], u);
      const int dims[2] = {frame->width, frame->height};
      callback_(handle_, reinterpret_cast<const unsigned char*>(dump_buffer_.data()),
                static_cast<int>(dump_buffer_.size()), dims, callback_user_, nullptr);
    }
  }
  {
    std::lock_guard lock(picture_mutex_);
    av_frame_unref(latest_);
    av_frame_move_ref(latest_, frame);
  }
  SchedulePaint();
}

void Player::DeliverAudio(AVFrame* frame) {
  if (!AudioIsOn(handle_)) return;
  const int channels = frame->ch_layout.nb_channels > 0 ? frame->ch_layout.nb_channels : 1;
  QByteArray pcm;
  if (frame->format == AV_SAMPLE_FMT_S16) {
    pcm = QByteArray(reinterpret_cast<const char*>(frame->data[0]), frame->nb_samples * channels * 2);
  } else {
    if (resampler_ == nullptr) {
      swr_alloc_set_opts2(&resampler_, &frame->ch_layout, AV_SAMPLE_FMT_S16, frame->sample_rate, &frame->ch_layout,
                          static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
      if (resampler_ == nullptr || swr_init(resampler_) < 0) return;
    }
    pcm.resize(frame->nb_samples * channels * 2);
    uint8_t* out[1] = {reinterpret_cast<uint8_t*>(pcm.data())};
    const int got = swr_convert(resampler_, out, frame->nb_samples, const_cast<const uint8_t**>(frame->extended_data),
                                frame->nb_samples);
    if (got <= 0) return;
    pcm.resize(got * channels * 2);
  }
  AudioPush(handle_, std::move(pcm), frame->sample_rate, channels);
}

void Player::CloseVideo() {
  avcodec_free_context(&video_);
  {
    std::lock_guard lock(picture_mutex_);
    av_frame_unref(latest_);
    zoom_ = QRectF(0, 0, 1, 1);
  }
  SchedulePaint();
}

void Player::CloseAudio() {
  avcodec_free_context(&audio_);
  swr_free(&resampler_);
}

int Player::CloseDecoder(int stream) {
  std::lock_guard lock(decode_mutex_);
  if (stream == ZQ_PLAYER_STREAM_VIDEO) CloseVideo();
  else if (stream == ZQ_PLAYER_STREAM_AUDIO) CloseAudio();
  else return -1;
  return 0;
}

void Player::SetFill(bool fill) {
  { std::lock_guard lock(picture_mutex_); fill_ = fill; }
  SchedulePaint();
}

void Player::SetRecording(bool on) {
  { std::lock_guard lock(picture_mutex_); recording_ = on; }
  SchedulePaint();
}

void Player::SetDecodedCallback(ZQ_PLAYER_DEC_CALLBACK callback, void* user) {
  std::lock_guard lock(callback_mutex_);  // waits for a delivery in progress
  callback_ = callback;
  callback_user_ = user;
}

void Player::SetMotionGrid(int columns, int rows, const std::string& cells) {
  { std::lock_guard lock(picture_mutex_);
    motion_columns_ = columns;
    motion_rows_ = rows;
    motion_cells_ = cells;
    motion_on_ = true; }
  SchedulePaint();
}

void Player::SetMotionGridOn(bool on) {
  { std::lock_guard lock(picture_mutex_); motion_on_ = on; }
  SchedulePaint();
}

// Digital zoom inside the pane: event 1 zooms in around (x, y) of the view,
// 2 zooms out, 0 shows the whole picture again.
void Player::InputMouse(int event, int x, int y) {
  {
    std::lock_guard lock(picture_mutex_);
    const QSize size = view_ ? view_->size() : QSize(1, 1);
    if (event == 0 || size.isEmpty()) {
      zoom_ = QRectF(0, 0, 1, 1);
    } else {
      const double fx = zoom_.left() + zoom_.width() * std::clamp(double(x) / size.width(), 0.0, 1.0);
      const double fy = zoom_.top() + zoom_.height() * std::clamp(double(y) / size.height(), 0.0, 1.0);
      const double scale = event == 1 ? 0.8 : 1.25;
      const double w = std::clamp(zoom_.width() * scale, 0.1, 1.0), h = std::clamp(zoom_.height() * scale, 0.1, 1.0);
      zoom_ = QRectF(std::clamp(fx - w / 2, 0.0, 1.0 - w), std::clamp(fy - h / 2, 0.0, 1.0 - h), w, h);
    }
  }
  SchedulePaint();
}

void Player::GetCounts(long long* decoded, long long* painted) const {
  if (decoded) *decoded = decoded_count_.load();
  if (painted) *painted = painted_count_.load();
}

void Player::SchedulePaint() {
  if (paint_pending_.exchange(true) || QCoreApplication::instance() == nullptr) return;
  const ZQ_PLAYER_HANDLE handle = handle_;
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [handle] {
        if (Player* p = FindPlayer(handle)) {
          if (p->view_) p->view_->update();
          else p->paint_pending_.store(false);
        }
      },
      Qt::QueuedConnection);
}

void Player::Paint(QWidget* view) {
  paint_pending_.store(false);
  QPainter painter(view);
  const QRect area = view->rect();
  std::lock_guard lock(picture_mutex_);
  bool covered = false;  // the picture fills the whole pane
  if (latest_->data[0] != nullptr && latest_->width > 0 && latest_->height > 0 && !area.isEmpty()) {
    const auto fmt = static_cast<AVPixelFormat>(latest_->format);
    // The shown part of the picture, on even pixels so the chroma planes line up.
    int cx = static_cast<int>(zoom_.left() * latest_->width) & ~1;
    int cy = static_cast<int>(zoom_.top() * latest_->height) & ~1;
    int cw = std::max(2, static_cast<int>(zoom_.width() * latest_->width) & ~1);
    int ch = std::max(2, static_cast<int>(zoom_.height() * latest_->height) & ~1);
    cw = std::min(cw, latest_->width - cx);
    ch = std::min(ch, latest_->height - cy);
    QRect target = area;
    if (!fill_) {
      const QSize fitted = QSize(cw, ch).scaled(area.size(), Qt::KeepAspectRatio);
      target = QRect(QPoint(area.x() + (area.width() - fitted.width()) / 2,
                            area.y() + (area.height() - fitted.height()) / 2), fitted);
    }
    if (target.width() >= 2 && target.height() >= 2) {
      // Two steps, both on libswscale's vector paths: the 4:2:0 picture is
      // scaled to the pane's size (a pane much smaller than the picture takes
      // every n-th pixel), then converted to RGB at that size. Scaling and
      // converting in one step runs the generic per-pixel path instead.
      const int tw = target.width(), th = target.height();
      const int padded = (tw + 31) & ~31;  // the converter writes whole blocks
      if (canvas_.width() != padded || canvas_.height() != th) {
        canvas_ = QImage(padded, th, QImage::Format_RGB32);
        av_freep(&small_[0]);
        av_image_alloc(small_, small_stride_, padded, th + 1, AV_PIX_FMT_YUV420P, 64);
      }
      const int flags = tw * 2 <= cw && th * 2 <= ch ? SWS_POINT : SWS_FAST_BILINEAR;
      scaler_ = sws_getCachedContext(scaler_, cw, ch, fmt, tw, th, AV_PIX_FMT_YUV420P, flags, nullptr, nullptr,
                                     nullptr);
      converter_ = sws_getCachedContext(converter_, tw, th, AV_PIX_FMT_YUV420P, tw, th, AV_PIX_FMT_BGRA, SWS_POINT,
                                        nullptr, nullptr, nullptr);
      const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(fmt);
      if (scaler_ != nullptr && converter_ != nullptr && d != nullptr && small_[0] != nullptr) {
        const uint8_t* src[4] = {};
        for (int i = 0; i < 4 && latest_->data[i] != nullptr; ++i) {
          const int sx = i == 0 || i == 3 ? cx : cx >> d->log2_chroma_w;
          const int sy = i == 0 || i == 3 ? cy : cy >> d->log2_chroma_h;
          src[i] = latest_->data[i] + static_cast<ptrdiff_t>(sy) * latest_->linesize[i] + sx;
        }
        sws_scale(scaler_, src, latest_->linesize, 0, ch, small_, small_stride_);
        uint8_t* dst[1] = {canvas_.bits()};
        const int dst_stride[1] = {static_cast<int>(canvas_.bytesPerLine())};
        sws_scale(converter_, small_, small_stride_, 0, th, dst, dst_stride);
        if (target != area) painter.fillRect(area, Qt::black);
        painter.drawImage(target.topLeft(), canvas_, QRect(0, 0, tw, th));
        covered = true;
        painted_count_.fetch_add(1, std::memory_order_relaxed);
      }
    }
  }
  if (!covered) painter.fillRect(area, Qt::black);
  if (motion_on_ && motion_columns_ > 0 && motion_rows_ > 0) {
    painter.setPen(QPen(QColor(0, 255, 0), 1));
    const double cw = double(area.width()) / motion_columns_, ch = double(area.height()) / motion_rows_;
    for (int r = 0; r < motion_rows_; ++r)
      for (int c = 0; c < motion_columns_; ++c) {
        const size_t i = static_cast<size_t>(r) * motion_columns_ + c;
        if (i < motion_cells_.size() && motion_cells_[i] == '1')
          painter.drawRect(QRectF(c * cw, r * ch, cw - 1, ch - 1));
      }
  }
  if (recording_) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 0, 0));
    painter.drawEllipse(QPoint(area.right() - 12, area.top() + 12), 6, 6);
  }
}

int Player::SnapShot(int kind, const std::string& folder) {
  std::lock_guard lock(picture_mutex_);
  if (latest_->data[0] == nullptr || latest_->width <= 0) return -1;
  const int w = latest_->width, h = latest_->height;
  const QString base = QString::fromStdString(folder) + QStringLiteral("snapshot_") +
                       QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss_zzz"));
  if (kind == 1) {
    QImage image(w, h, QImage::Format_RGB32);
    SwsContext* s = sws_getContext(w, h, static_cast<AVPixelFormat>(latest_->format), w, h, AV_PIX_FMT_BGRA,
                                   SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (s == nullptr) return -1;
    uint8_t* dst[1] = {image.bits()};
    const int stride[1] = {static_cast<int>(image.bytesPerLine())};
    sws_scale(s, latest_->data, latest_->linesize, 0, h, dst, stride);
    sws_freeContext(s);
    return image.save(base + QStringLiteral(".jpg"), "JPEG", 90) ? 0 : -1;
  }
  if (latest_->format != AV_PIX_FMT_YUV420P && latest_->format != AV_PIX_FMT_YUVJ420P) return -1;
  const QString path = base + QStringLiteral("_%1X%2.yuv").arg(w).arg(h);
  FILE* f = std::fopen(path.toLocal8Bit().constData(), "wb");
  if (f == nullptr) return -1;
  bool ok = true;
  for (int plane = 0; plane < 3; ++plane) {
    const int pw = plane == 0 ? w : w / 2, ph = plane == 0 ? h : h / 2;
    for (int row = 0; row < ph && ok; ++row)
      ok = std::fwrite(latest_->data[plane] + static_cast<ptrdiff_t>(row) * latest_->linesize[plane], 1,
                       static_cast<size_t>(pw), f) == static_cast<size_t>(pw);
  }
  ok = std::fclose(f) == 0 && ok;
  return ok ? 0 : -1;
}

PlayerView::PlayerView(Player* player, QWidget* window) : QWidget(window), player_(player) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setGeometry(window->rect());
  window->installEventFilter(this);
  show();
}

void PlayerView::paintEvent(QPaintEvent*) {
  if (player_ != nullptr) {
    player_->Paint(this);
  } else {
    QPainter(this).fillRect(rect(), Qt::black);
  }
}

bool PlayerView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parent() && event->type() == QEvent::Resize) setGeometry(parentWidget()->rect());
  return false;
}

}  // namespace zq_player
