#pragma once
// The audio handles the whole plugin shares: the engine objects started last and the device in
// use. The device selection, the tones and the speech threads all read and write them; a mutex
// keeps each access whole, and the last writer wins as it always has.

#include <string>

#include "plugin/audio/audio_engine.h"

namespace audio {

// The channel started last (test tone, tone or speech): the one the next volume call reaches.
ChannelId OutputChannel();
void SetOutputChannel(ChannelId id);
// The sound of the latest spoken message.
SoundId SpeechSound();
void SetSpeechSound(SoundId id);
// The oscillator of the test tone, then of the latest tone.
DspId ToneOscillator();
void SetToneOscillator(DspId id);
// The driver index in use (initially 0) and its name.
int AudioDeviceId();
void SetAudioDeviceId(int id);
std::string AudioDeviceName();
void SetAudioDeviceName(const std::string& name);
// Whether the engine was created this run (so shutdown closes it).
bool AudioEngineCreated();
void SetAudioEngineCreated(bool created);

// Back to the start-of-run values (tests).
void ResetAudioState();

}  // namespace audio
