#pragma once
// The one audible player: its decoded sound goes to the default output device
// through Qt Multimedia, written on the UI thread.
#include <QByteArray>

#include "zq_player.h"

namespace zq_player {

void AudioSetOn(ZQ_PLAYER_HANDLE player);
void AudioSetOff();
bool AudioIsOn(ZQ_PLAYER_HANDLE player);
// Any thread: 16-bit signed interleaved samples of the audible player.
void AudioPush(ZQ_PLAYER_HANDLE player, QByteArray pcm, int sample_rate, int channels);
// UI thread: the output device is closed.
void AudioRelease();

}  // namespace zq_player
