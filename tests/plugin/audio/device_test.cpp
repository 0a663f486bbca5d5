// The device choice at start-up and the beeps, as the capture hears them: the console dialogue,
// the test sounds, what is kept in the settings file, and a device that fails or goes away.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "audio_fixture.h"
#include "plugin/audio/voice.h"

namespace {

using audiotest::rmsOf;
using audiotest::toneShare;

class DeviceTest : public audiotest::AudioTest {
  protected:
    // What the call printed.
    template <typename F>
    std::string said(F call) {
        testing::internal::CaptureStdout();
        call();
        return testing::internal::GetCapturedStdout();
    }
};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(DeviceTest, TheChosenDeviceHearsTheWalkAroundTheSpeakersAndIsKept) {
    start(3, 8);
    answer(2);
    const std::string out = said(audio::SelectAudioDeviceInteractive);
    EXPECT_TRUE(contains(out,
                         " [ FMOD ]  Number of Audio devices: 3\n [ FMOD ]  Listing devices..\n\n"
                         " 0: Capture device 0\n 1: Capture device 1\n 2: Capture device 2\n"
                         "\n Enter Driver Id# to use: "))
        << out;
    EXPECT_TRUE(contains(out, "\n [ FMOD ]  Setting device 2 .. Capture device 2 \n")) << out;
    EXPECT_TRUE(contains(out, " [ FMOD ]  Spatial Audio Test..(Volume: 0.90)\n")) << out;
    EXPECT_EQ(prompts_, 1);
    EXPECT_EQ(audio::AudioDeviceId(), 2);
    EXPECT_EQ(audio::Engine().currentDriver(), 2);
    EXPECT_EQ(preferedDevice(), "2");
    EXPECT_EQ(clock_.sleeps(), (std::vector<int>{500, 500, 500, 500, 500, 750}));

    const auto wav = finish();
    ASSERT_EQ(wav.channels, 8);
    // 500 ms each on front left, front right, surround right, surround left; then silence.
    const int speakers[] = {0, 1, 5, 4};
    for (int step = 0; step < 4; ++step) {
        SCOPED_TRACE(step);
        const std::size_t at = frames(500 * step + 50);
        for (int s = 0; s < 8; ++s) {
            const double level = rmsOf(wav, s, at, frames(400));
            if (s == speakers[step]) {
                EXPECT_NEAR(level, 0.9 * 0.5 / std::sqrt(2.0), 0.01);
                EXPECT_GT(toneShare(wav, s, at, frames(400), 440), 0.95);
            } else {
                EXPECT_LT(level, 1e-4) << "speaker " << s;
            }
        }
    }
    EXPECT_LT(rmsOf(wav, 0, frames(2000), frames(1250)), 1e-4) << "the parked channel is silent";
}

TEST_F(DeviceTest, WhatIsNotADeviceIsNeitherSelectedNorKept) {
    struct Case {
        const char* what;
        int devices;
        std::optional<int> typed;
        int prompts;
        const char* line;
        int sleeps;
    } cases[] = {
        {"one device", 1, 0, 0, " [ FMOD ]  Single Audio device found found.\n", 0},
        {"no device", 0, 0, 0, " [ FMOD ]  No Audio Devices found.\n", 0},
        {"a number past the list", 3, 7, 1, "Setting device 7 ..  \n", 6},
        {"no number", 3, std::nullopt, 1, "Setting device 3 ..  \n", 6},
        {"a negative number", 3, -1, 1, "Setting device -1 ..  \n", 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        prompts_ = 0;
        clock_.clearSleeps();
        start(c.devices);
        answer(c.typed);
        const std::string out = said(audio::SelectAudioDeviceInteractive);
        EXPECT_TRUE(contains(out,
                             " [\033[32m INIT \033[0m]  Plugin Setup..\n"
                             " [ FMOD ]  Audio engine Startup..\n"))
            << out;
        EXPECT_TRUE(contains(out, c.line)) << out;
        EXPECT_EQ(prompts_, c.prompts);
        EXPECT_EQ(static_cast<int>(clock_.sleeps().size()), c.sleeps);
        EXPECT_EQ(preferedDevice(), "(unset)");
        EXPECT_EQ(audio::Engine().currentDriver(), 0) << "the output stays where it was";
        EXPECT_EQ(audio::Engine().hasDeviceOutput(), c.devices > 0);
        audio::ShutdownAudioEngine();
    }
}

TEST_F(DeviceTest, APredefinedDevicePansLeftToRightWithRisingPitchOrIsRefusedQuietly) {
    start(3);
    engineer::Race().AudioInterfaceId = 1;
    const std::string out = said(audio::SelectAudioDevicePredefined);
    EXPECT_TRUE(contains(out, "\n [ FMOD ]  Setting device 1 .. Capture device 1 \n")) << out;
    EXPECT_EQ(audio::Engine().currentDriver(), 1);
    EXPECT_EQ(clock_.totalSleptMs(), 4750);
    EXPECT_EQ(preferedDevice(), "(unset)");

    const auto wav = finish();
    // The first pan: left loud and right quiet at its start, the other way at its end.
    EXPECT_GT(rmsOf(wav, 0, 0, frames(150)), 5 * rmsOf(wav, 1, 0, frames(150)));
    EXPECT_GT(rmsOf(wav, 1, frames(1350), frames(150)),
              5 * rmsOf(wav, 0, frames(1350), frames(150)));
    // From 23 Hz up by 3 Hz every 50 ms: 0.1 zero crossings per hertz in each step.
    auto crossings = [&](int ms) {
        int n = 0;
        for (std::size_t i = frames(ms) + 1; i < frames(ms + 400); ++i) {
            n += (audiotest::sampleOf(wav, 0, i - 1) < 0) != (audiotest::sampleOf(wav, 0, i) < 0);
        }
        return n;
    };
    EXPECT_NEAR(crossings(0), 0.1 * (23 + 44) * 4, 3);
    EXPECT_GT(crossings(1100), 2 * crossings(0));
    EXPECT_LT(rmsOf(wav, 0, frames(3550), frames(1000)), 1e-4) << "silent from the park on";

    // A device past the list: the test sound plays on the current output, without a complaint.
    start(3);
    engineer::Race().AudioInterfaceId = 3;
    const std::string past = said(audio::SelectAudioDevicePredefined);
    EXPECT_TRUE(contains(past, "\n [ FMOD ]  Setting device 3 ..  \n")) << past;
    EXPECT_FALSE(contains(past, "could not")) << past;
    EXPECT_EQ(audio::AudioDeviceId(), 3);
    EXPECT_EQ(audio::Engine().currentDriver(), 0);
    EXPECT_GT(rmsOf(finish(), 0, 0, frames(500)), 0.1);
}

TEST_F(DeviceTest, ABeepSoundsItsPassesOnItsSpeakersOnly) {
    struct Case {
        int hz;
        int ms;
        float fl, fr, sl, sr;
        int passes;
        std::vector<int> heard;  // speakers of the 8-channel capture that carry it
    } cases[] = {
        {1250, 150, 0.9f, 0, 0, 0, 10, {0}},
        {1200, 100, 0, 0.9f, 0, 0, 7, {1}},
        {850, 16, 0, 0, 0.9f, 0.9f, 1, {4, 5}},
        {1050, 33, 0.9f, 0, 0, 0, 3, {0}},  // whole milliseconds: 0, 16, 32
        {1250, 0, 0.9f, 0, 0, 0, 0, {}},    // no length: not heard at all
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.hz) + " Hz for " + std::to_string(c.ms) + " ms");
        clock_.clearSleeps();
        start(1, 8);
        audio::PlayTone(c.hz, c.ms, c.fl, c.fr, c.sl, c.sr);
        EXPECT_EQ(clock_.sleeps(), std::vector<int>(static_cast<std::size_t>(c.passes), 16));
        EXPECT_EQ(audio::Engine().dspCount(), 0u) << "the tone's oscillator is released";
        EXPECT_EQ(audio::Engine().channelCount(), 0u);
        const auto wav = finish();
        ASSERT_EQ(wav.channels, 8);
        // Heard for its passes at full strength and silent after them, on its speakers only.
        const std::size_t length = frames(16 * c.passes);
        for (int s = 0; s < 8; ++s) {
            SCOPED_TRACE("speaker " + std::to_string(s));
            EXPECT_LT(rmsOf(wav, s, length + 48, wav.frames()), 1e-4);
            if (std::find(c.heard.begin(), c.heard.end(), s) == c.heard.end()) {
                EXPECT_LT(rmsOf(wav, s, 0, length), 1e-4);
            } else {
                EXPECT_NEAR(rmsOf(wav, s, 0, length), 0.81 / std::sqrt(2.0), 0.01);
                EXPECT_GT(toneShare(wav, s, 0, length, c.hz), 0.9);
            }
        }
    }
}

TEST_F(DeviceTest, ADeviceThatFailsOrGoesAwayIsTriedAgainAndHeardOnceBack) {
    const std::string off = "Audio device 0 is not available";
    const std::string back = "Audio device 0 is back, sound on.\n";
    struct Case {
        const char* name;
        int failingOpens;
        long long lostAfterMs;
        std::vector<bool> heard;  // a tone every 2 s, from the start
        std::size_t said;         // times "not available" and "back" each
    } cases[] = {
        // Not ready at the start: tried again after 3 s, then found at the third try.
        {"headset not ready", 2, -1, {false, false, false, false, true, true}, 1},
        // Pulled out after the first tone, plugged in again by the next try.
        {"headset pulled out", 0, 500, {true, false, false, true, true}, 1},
        {"not ready, then pulled out",
         2,
         500,
         {false, false, false, false, true, false, false, true},
         2},
    };
    auto count = [](const std::string& text, const std::string& part) {
        std::size_t n = 0;
        for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
            ++n;
        }
        return n;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start(1, 2, c.failingOpens, c.lostAfterMs);
        std::vector<bool> heard;
        std::size_t waits = 0;
        const std::string out = said([&] {
            for (std::size_t i = 0; i < c.heard.size(); ++i) {
                clock_.clearSleeps();
                audio::UpdateAudioEngine();  // a tick
                audio::PlayTone(1200, 100, 0, 0.9f, 0, 0);
                waits += clock_.sleeps().size();
                heard.push_back(audio::Engine().hasDeviceOutput());
                clock_.advanceMs(2000 - 112);
            }
        });
        EXPECT_EQ(heard, c.heard);
        // Never a wait of its own: the tries cost the tick nothing on the clock.
        EXPECT_EQ(waits, 7 * c.heard.size());
        EXPECT_EQ(count(out, off), c.said) << out;
        EXPECT_EQ(count(out, back), c.said) << out;
        EXPECT_LT(out.find(off), out.find(back)) << out;
        // What the device played once back: the last tone, 2 s before the end.
        const auto wav = finish();
        ASSERT_EQ(wav.channels, 2);
        ASSERT_GE(wav.frames(), frames(2000));
        EXPECT_GT(toneShare(wav, 1, wav.frames() - frames(2000), frames(100), 1200), 0.9);
    }
}

}  // namespace
