// Stands in for the audio engine: start-up goes on without an output device.
#include <cstdio>

#include "common/console_tags.h"
#include "plugin/app/seams.h"

namespace audio {

bool CreateAudioEngine() {
    return true;
}

void SelectAudioDeviceInteractive() {
    std::printf(KV_TAG_FMOD "audio initialised, no device\n");
}

void SelectAudioDevicePredefined() {
    std::printf(KV_TAG_FMOD "audio initialised, no device\n");
}

void UpdateAudioEngine() {}

void ShutdownAudioEngine() {}

}  // namespace audio
