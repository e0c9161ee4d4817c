#include "audio_output.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QCoreApplication>
#include <QIODevice>
#include <QMediaDevices>
#include <atomic>
#include <memory>

namespace zq_player {

namespace {
std::atomic<ZQ_PLAYER_HANDLE> g_audible{0};

// Lives on the UI thread only.
struct Sink {
  std::unique_ptr<QAudioSink> sink;
  QIODevice* io = nullptr;
  int rate = 0, channels = 0;
};
Sink& TheSink() {
  static Sink s;
  return s;
}

void WriteOnUiThread(ZQ_PLAYER_HANDLE player, const QByteArray& pcm, int rate, int channels) {
  if (g_audible.load() != player) return;
  Sink& s = TheSink();
  if (!s.sink || s.rate != rate || s.channels != channels) {
    s.sink.reset();
    s.io = nullptr;
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) return;  // no sound card: live view stays silent
    QAudioFormat format;
    format.setSampleRate(rate);
    format.setChannelCount(channels);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(format)) return;
    s.sink = std::make_unique<QAudioSink>(device, format);
    s.sink->setBufferSize(rate * channels * 2 / 2);  // half a second
    s.io = s.sink->start();
    s.rate = rate;
    s.channels = channels;
  }
  // A sink that falls behind drops sound rather than adding delay.
  if (s.io != nullptr && s.sink->bytesFree() >= pcm.size()) s.io->write(pcm);
}
}  // namespace

void AudioSetOn(ZQ_PLAYER_HANDLE player) { g_audible.store(player); }
void AudioSetOff() { g_audible.store(0); }
bool AudioIsOn(ZQ_PLAYER_HANDLE player) { return player != 0 && g_audible.load() == player; }

void AudioPush(ZQ_PLAYER_HANDLE player, QByteArray pcm, int sample_rate, int channels) {
  if (!AudioIsOn(player) || QCoreApplication::instance() == nullptr) return;
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [player, pcm = std::move(pcm), sample_rate, channels] { WriteOnUiThread(player, pcm, sample_rate, channels); },
      Qt::QueuedConnection);
}

void AudioRelease() {
  g_audible.store(0);
  TheSink().sink.reset();
  TheSink().io = nullptr;
}

}  // namespace zq_player
