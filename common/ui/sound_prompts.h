#pragma once
// The sound prompts of production mode, behind an interface so tests record
// them and a machine without sound output is no different.
#include <QString>
#include <memory>

class QMediaPlayer;
class QAudioOutput;

namespace kelvara::ui {

class SoundPrompts {
 public:
  virtual ~SoundPrompts() = default;
  // Stops the previous prompt and starts this file from the start; returns once
  // playback has started. A missing file plays nothing.
  virtual void Play(const QString& path) = 0;
};

// True when the system has an audio output device to play to (false, for
// example, with no sound server running).
bool HasAudioOutput();

class QtSoundPrompts final : public SoundPrompts {
 public:
  QtSoundPrompts();
  ~QtSoundPrompts() override;
  void Play(const QString& path) override;

 private:
  std::unique_ptr<QAudioOutput> output_;
  std::unique_ptr<QMediaPlayer> player_;
};

}  // namespace kelvara::ui
