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

std::mutex stateMutex;
AudioState state;

}  // namespace

ChannelId OutputChannel() {
    std::lock_guard<std::mutex> lock(stateMutex);
    return state.outputChannel;
}

void SetOutputChannel(ChannelId id) {
    std::lock_guard<std::mutex> lock(stateMutex);
    state.outputChannel = id;
}

SoundId SpeechSound() {
    std::lock_guard<std::mutex> lock(stateMutex);
    return state.speechSound;
}

void SetSpeechSound(SoundId id) {
    std::lock_guard<std::mutex> lock(stateMutex);
    state.speechSound = id;
}

DspId ToneOscillator() {
    std::lock_guard<std::mutex> lock(stateMutex);
    return state.toneOscillator;
}

void SetToneOscillator(DspId id) {
    std::lock_guard<std::mutex> lock(stateMutex);
    state.toneOscillator = id;
}

int AudioDeviceId() {
    std::lock_guard<std::mutex> lock(stateMutex);
    return state.deviceId;
}

void SetAudioDeviceId(int id) {
    std::lock_guard<std::mutex> lock(stateMutex);
    state.deviceId = id;
}

std::string AudioDeviceName() {
    std::lock_guard<std::mutex> lock(stateMutex);
    return state.deviceName;
}

void SetAudioDeviceName(const std::string& name) {
    std::lock_guard<std::mutex> lock(stateMutex);
    // The name buffer holds 256 bytes with its terminator.
    state.deviceName = name.substr(0, 255);
}

bool AudioEngineCreated() {
    std::lock_guard<std::mutex> lock(stateMutex);
    return state.engineCreated;
}

void SetAudioEngineCreated(bool created) {
    std::lock_guard<std::mutex> lock(stateMutex);
    state.engineCreated = created;
}

void ResetAudioState() {
    std::lock_guard<std::mutex> lock(stateMutex);
    state = AudioState{};
}

}  // namespace audio
