#include "plugin/audio/engine_lifecycle.h"

#include "platform/speech.h"
#include "plugin/audio/audio_engine.h"
#include "plugin/audio/audio_state.h"
#include "plugin/audio/speak.h"

namespace audio {

bool CreateAudioEngine() {
    if (!Engine().init(512)) {
        return false;
    }
    SetAudioEngineCreated(true);
    platform::PrepareSpeech();
    return true;
}

void UpdateAudioEngine() {
    if (AudioEngineCreated()) {
        Engine().update();
    }
}

void ShutdownAudioEngine() {
    // In passive mode nothing was ever created, and nothing is touched.
    if (!AudioEngineCreated()) {
        return;
    }
    // A message still on its way would otherwise run on into the process's end, where the
    // objects it uses are being torn down. A render takes milliseconds; the wait is bounded.
    WaitForBackgroundSpeech(2000);
    AudioEngine& engine = Engine();
    const ChannelId channel = OutputChannel();
    engine.setVolume(channel, 0.0f);
    engine.stop(channel);
    engine.releaseDsp(ToneOscillator());
    engine.close();
    SetAudioEngineCreated(false);
}

}  // namespace audio
