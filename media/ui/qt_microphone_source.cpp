#include "media/ui/qt_microphone_source.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSource>
#include <QMediaDevices>
#include <QMetaObject>

namespace kelvara::media {

class QtMicrophoneSource::Worker : public QObject {
 public:
  int Open(int rate, int channels, Callback callback) {
    Close();
    const QAudioDevice device = QMediaDevices::defaultAudioInput();
    if (device.isNull()) return -1;
    QAudioFormat format;
    format.setSampleRate(rate);
    format.setChannelCount(channels);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(format)) return -1;
    source_ = new QAudioSource(device, format, this);
    io_ = source_->start();
    if (!io_) {
      Close();
      return -1;
    }
    callback_ = std::move(callback);
    connect(io_, &QIODevice::readyRead, this, [this] {
      const QByteArray bytes = io_->readAll();
      if (!bytes.isEmpty() && callback_)
        callback_(reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size()));
    });
    return 0;
  }
  void Close() {
    if (source_) {
      source_->stop();
      delete source_;
    }
    source_ = nullptr;
    io_ = nullptr;
    callback_ = nullptr;
  }

 private:
  QAudioSource* source_ = nullptr;
  QIODevice* io_ = nullptr;
  Callback callback_;
};

QtMicrophoneSource::QtMicrophoneSource() {
  thread_.setObjectName("microphone");
  worker_ = new Worker;
  worker_->moveToThread(&thread_);
  QObject::connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
  thread_.start();
}

QtMicrophoneSource::~QtMicrophoneSource() {
  Stop();
  thread_.quit();
  thread_.wait();
}

int QtMicrophoneSource::Start(int rate, int bits, int channels, Callback callback) {
  if (bits != 16) return -1;
  int rc = -1;
  QMetaObject::invokeMethod(
      worker_, [&] { rc = worker_->Open(rate, channels, std::move(callback)); }, Qt::BlockingQueuedConnection);
  return rc;
}

void QtMicrophoneSource::Stop() {
  QMetaObject::invokeMethod(worker_, [this] { worker_->Close(); }, Qt::BlockingQueuedConnection);
}

}  // namespace kelvara::media
