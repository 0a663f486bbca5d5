#include "support/fake_audio_output.h"

#include "plugin/audio/audio_engine.h"
#include "plugin/audio/audio_state.h"

namespace testsupport {

CapturedAudio::CapturedAudio(const std::string& path, int devices, int channels, int failingOpens,
                             long long lostAfterMs)
    : path_(path) {
    audio::Engine().close();
    audio::ResetAudioState();
    platform::setCaptureOverride(
        platform::CaptureSettings{path, devices, channels, failingOpens, lostAfterMs});
    audio::Engine().setSoftwareFormat(48000, channels);
}

CapturedAudio::~CapturedAudio() {
    audio::Engine().close();
    audio::Engine().setSoftwareFormat(48000, 0);
    platform::setCaptureOverride(std::nullopt);
    audio::ResetAudioState();
}

platform::WavData CapturedAudio::finish() {
    audio::Engine().close();
    platform::WavData wav;
    platform::readWavFile(path_, wav);
    return wav;
}

}  // namespace testsupport
