#include "common/ui/sound_prompts.h"

#include <QAudioOutput>
#include <QFileInfo>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QUrl>

namespace kelvara::ui {

bool HasAudioOutput() { return !QMediaDevices::defaultAudioOutput().isNull(); }

QtSoundPrompts::QtSoundPrompts() = default;
QtSoundPrompts::~QtSoundPrompts() {
  if (player_) player_->stop();
}

void QtSoundPrompts::Play(const QString& path) {
  if (player_) player_->stop();
  if (!QFileInfo::exists(path)) return;
  if (!player_) {
    // Created on first use: most runs never play a prompt.
    output_ = std::make_unique<QAudioOutput>();
    player_ = std::make_unique<QMediaPlayer>();
    player_->setAudioOutput(output_.get());
  }
  player_->setSource(QUrl::fromLocalFile(path));
  player_->setPosition(0);
  player_->play();
}

}  // namespace kelvara::ui
