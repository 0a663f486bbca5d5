#pragma once
// The process engine on a capture file instead of a sound card, under a virtual clock, with the
// settings file, the console and the device number of a test's own; and measurements of what the
// capture heard.

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

#include "common/settings_file.h"
#include "platform/audio_output.h"
#include "platform/wav_file.h"
#include "plugin/audio/audio_engine.h"
#include "plugin/audio/audio_state.h"
#include "plugin/audio/device_selection.h"
#include "plugin/audio/engine_lifecycle.h"
#include "plugin/engineer/race_state.h"
#include "support/test_folder.h"
#include "support/virtual_clock.h"

namespace audiotest {

class AudioTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = testsupport::freshTestFolder("korvane_audio");
        common::setSettingsPath((dir_ / "Qm_Korvane_Launcher.ini").string());
        engineer::Race().PassiveMode = 0;
        engineer::Race().AudioInterfaceId = 1024;
    }
    void TearDown() override {
        audio::Engine().close();
        audio::Engine().setSoftwareFormat(48000, 0);
        platform::setCaptureOverride(std::nullopt);
        audio::ResetAudioState();
        audio::setNumberReader({});
        common::setSettingsPath("");
        engineer::Race().AudioInterfaceId = 1024;
        engineer::Race().PassiveMode = 0;
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    // The engine created on `devices` capture devices ("Capture device 0", ...) of `channels`
    // channels each. The device fails its first `failingOpens` opens, and is lost `lostAfterMs`
    // after its first opening (-1: never) to be back at the next.
    void start(int devices, int channels = 2, int failingOpens = 0, long long lostAfterMs = -1) {
        audio::Engine().close();
        audio::ResetAudioState();
        platform::setCaptureOverride(platform::CaptureSettings{
            (dir_ / "capture.wav").string(), devices, channels, failingOpens, lostAfterMs});
        audio::Engine().setSoftwareFormat(48000, channels);
        ASSERT_TRUE(audio::CreateAudioEngine());
    }
    // The driver's answer at the prompt; nullopt types something that is no number.
    void answer(std::optional<int> number) {
        audio::setNumberReader([this, number](int& value) {
            ++prompts_;
            if (number) {
                value = *number;
            }
            return number.has_value();
        });
    }
    // Shuts the engine down (so the file is complete) and reads what it wrote.
    platform::WavData finish() {
        audio::ShutdownAudioEngine();
        audio::Engine().close();
        platform::WavData wav;
        platform::readWavFile((dir_ / "capture.wav").string(), wav);
        return wav;
    }
    std::string preferedDevice() {
        return common::settingString("Audio", "PreferedDevice", "(unset)");
    }
    static std::size_t frames(int ms) { return static_cast<std::size_t>(ms) * 48; }

    testsupport::VirtualClock clock_;
    testsupport::ScopedClock scoped_{clock_};
    std::filesystem::path dir_;
    int prompts_ = 0;
};

inline double sampleOf(const platform::WavData& wav, int channel, std::size_t frame) {
    return wav.samples[frame * static_cast<std::size_t>(wav.channels) +
                       static_cast<std::size_t>(channel)];
}

// Root mean square of `channel` over frames [start, start + count).
inline double rmsOf(const platform::WavData& wav, int channel, std::size_t start,
                    std::size_t count) {
    double sum = 0;
    std::size_t n = 0;
    for (std::size_t i = start; i < start + count && i < wav.frames(); ++i, ++n) {
        sum += sampleOf(wav, channel, i) * sampleOf(wav, channel, i);
    }
    return n ? std::sqrt(sum / static_cast<double>(n)) : 0.0;
}

// Share of the stretch's energy at `hz` (Goertzel): near 1 for a pure tone of that frequency,
// near 0 for silence or another frequency.
inline double toneShare(const platform::WavData& wav, int channel, std::size_t start,
                        std::size_t count, double hz) {
    const double coeff = 2.0 * std::cos(2.0 * 3.141592653589793 * hz / wav.rate);
    double s1 = 0, s2 = 0, energy = 0;
    std::size_t n = 0;
    for (std::size_t i = start; i < start + count && i < wav.frames(); ++i, ++n) {
        const double x = sampleOf(wav, channel, i);
        energy += x * x;
        const double s0 = x + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    if (n == 0 || energy < 1e-9) {
        return 0.0;
    }
    return (s1 * s1 + s2 * s2 - coeff * s1 * s2) / (energy * static_cast<double>(n) / 2.0);
}

}  // namespace audiotest
