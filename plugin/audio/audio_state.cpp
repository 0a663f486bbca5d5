#include "plugin/audio/audio_state.h"

#include <mutex>

namespace audio {

namespace {

struct AudioState {
    ChannelId outputChannel = 0;
    SoundId speechSound = 0;
    DspId toneOscillator = 0;
    int deviceId = 0;
    std::string deviceName;
    bool engineCreated = false;
};

// Never destroyed: a speech thread still on its way at the end of the process sets the
// channel it started.
struct Guarded {
    std::mutex mutex;
    AudioState state;
};

Guarded& guarded() {
    static auto* g = new Guarded;
    return *g;
}

}  // namespace

ChannelId OutputChannel() {
    std::lock_guard<std::mutex> lock(guarded().mutex);
    return guarded().state.outputChannel;
}

void SetOutputChannel(ChannelId id) {
    std::lock_guard<std::mutex> lock(guarded().mutex);
    guarded().state.outputChannel = id;
}

SoundId SpeechSound() {
    std::lock_guard<std::mutex> lock(guarded().mutex);
    return guarded().state.speechSound;
}

void SetSpeechSound(SoundId id) {
    std::lock_guard<std::mutex> lock(guarded().mutex);
    guarded().state.speechSound = id;
}

DspId ToneOscillator() {
    std::lock_guard<std::mutex> lock(guarded().mutex);
    return guarded().state.toneOscillator;
}

void SetToneOscillator(DspId id) {
    std::lock_guard<std::mutex> lock(guarded().mutex);
    guarded().state.toneOscillator = id;
}

int AudioDeviceId() {
    std::lock_guard<std::mutex> lock(guarded().mutex);
    return guarded().state.deviceId;
}

void SetAudioDeviceId(int id) {
    std::lock_guard<std::mutex> lock(guarded().mutex);
    guarded().state.deviceId = id;
}

std::string AudioDeviceName() {
    std::lock_guard<std::mutex> lock(guarded().mutex);
    return guarded().state.deviceName;
}

void SetAudioDeviceName(const std::string& name) {
    std::lock_guard<std::mutex> lock(guarded().mutex);
    // The name buffer holds 256 bytes with its terminator.
    guarded().state.deviceName = name.substr(0, 255);
}

bool AudioEngineCreated() {
    std::lock_guard<std::mutex> lock(guarded().mutex);
    return guarded().state.engineCreated;
}

void SetAudioEngineCreated(bool created) {
    std::lock_guard<std::mutex> lock(guarded().mutex);
    guarded().state.engineCreated = created;
}

void ResetAudioState() {
    std::lock_guard<std::mutex> lock(guarded().mutex);
    guarded().state = AudioState{};
}

}  // namespace audio
