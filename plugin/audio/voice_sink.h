#pragma once
// The sink a test installs with setVoiceSink (plugin/audio/voice.h). While one is installed,
// Speak, SpeakInBackground and PlayTone hand their call to it and do nothing else.

#include "plugin/audio/voice.h"

namespace audio {

// The installed sink, or nullptr when the engine plays the calls itself.
VoiceSink* CurrentVoiceSink();

}  // namespace audio
