#pragma once
// The writer's exported functions and what they share: codec-name mapping
// and the registry that turns small integer handles into muxers.
#include "emp4_muxer.h"
#include "rivelin.h"

// Fills the muxer's descriptions from the records of the library boundary.
// Unknown audio codec names leave the audio disabled (video-only recording).
void ConvertMp4Param(const MP4_VIDEO_PARAM* video, const MP4_AUDIO_PARAM* audio,
                     Emp4VideoDesc* outVideo, Emp4AudioDesc* outAudio);
