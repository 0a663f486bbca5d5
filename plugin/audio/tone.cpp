// Short sine beeps on chosen speakers, for the pit approach and the stop.
#include "platform/clock.h"
#include "plugin/audio/audio_engine.h"
#include "plugin/audio/audio_state.h"
#include "plugin/audio/voice.h"
#include "plugin/audio/voice_sink.h"
#include "plugin/engineer/race_state.h"

namespace audio {

void PlayTone(int hz, int durationMs, float frontLeft, float frontRight, float surroundLeft,
              float surroundRight) {
    if (VoiceSink* sink = CurrentVoiceSink()) {
        sink->tone(hz, durationMs, frontLeft, frontRight, surroundLeft, surroundRight);
        return;
    }
    if (engineer::Race().PassiveMode.load()) {
        return;
    }
    AudioEngine& engine = Engine();
    const int device = AudioDeviceId();
    SetAudioDeviceName(engine.driverName(device));
    engine.setDriver(device);  // the same device again; an unknown one changes nothing

    const DspId osc = engine.createOscillator(static_cast<float>(hz));
    SetToneOscillator(osc);
    const ChannelId channel = engine.playDsp(osc, false);
    SetOutputChannel(channel);
    // The tone keeps to its own channel: a message started meanwhile takes over the shared
    // handle, and must not be moved onto the tone's speakers.
    const MixLevels mix{frontLeft, frontRight, 0.0f, 0.0f, surroundLeft, surroundRight, 0.0f, 0.0f};
    int elapsed = 0;
    while (elapsed < durationMs) {
        engine.setMixLevels(channel, mix);
        engine.setVolume(channel, 0.9f);
        platform::sleepMs(16);
        elapsed = static_cast<int>(elapsed + 16.6);
    }
    SetOutputChannel(engine.playDsp(osc, true));
    engine.releaseDsp(osc);  // ends the tone and the paused channel with it
}

}  // namespace audio
