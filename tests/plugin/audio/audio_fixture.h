#pragma once
// The process engine on a capture file under a virtual clock, with the settings file, the
// console and the device number of a test's own.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "common/settings_file.h"
#include "platform/wav_file.h"
#include "plugin/app/seams.h"
#include "plugin/audio/audio_state.h"
#include "plugin/audio/device_selection.h"
#include "plugin/engineer/race_state.h"
#include "support/fake_audio_output.h"
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
        capture_.reset();
        audio::setNumberReader({});
        common::setSettingsPath("");
        engineer::Race().AudioInterfaceId = 1024;
        engineer::Race().PassiveMode = 0;
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    // The engine created on `devices` capture devices of `channels` channels each, with the
    // device faults of testsupport::CapturedAudio.
    void start(int devices, int channels = 2, int failingOpens = 0, long long lostAfterMs = -1) {
        capture_.reset();
        capture_ = std::make_unique<testsupport::CapturedAudio>(
            (dir_ / "capture.wav").string(), devices, channels, failingOpens, lostAfterMs);
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
    platform::WavData finish() {
        audio::ShutdownAudioEngine();
        return capture_->finish();
    }
    std::string preferedDevice() {
        return common::settingString("Audio", "PreferedDevice", "(unset)");
    }
    static std::size_t frames(int ms) { return static_cast<std::size_t>(ms) * 48; }

    testsupport::VirtualClock clock_;
    testsupport::ScopedClock scoped_{clock_};
    std::filesystem::path dir_;
    std::unique_ptr<testsupport::CapturedAudio> capture_;
    int prompts_ = 0;
};

}  // namespace audiotest
