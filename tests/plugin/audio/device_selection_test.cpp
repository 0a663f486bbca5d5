// The device choice at start-up: the console dialogue, the test sounds as the capture hears
// them, and what is kept in the settings file.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "audio_fixture.h"

namespace {

using audiotest::rmsOf;
using audiotest::toneShare;

class DeviceSelectionTest : public audiotest::AudioTest {};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(DeviceSelectionTest, TheChosenDeviceHearsTheWalkAroundTheSpeakersAndIsKept) {
    start(3, 8);
    answer(2);
    testing::internal::CaptureStdout();
    audio::SelectAudioDeviceInteractive();
    const std::string out = testing::internal::GetCapturedStdout();
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

TEST_F(DeviceSelectionTest, WhatIsNotADeviceIsNeitherSelectedNorKept) {
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
        testing::internal::CaptureStdout();
        audio::SelectAudioDeviceInteractive();
        const std::string out = testing::internal::GetCapturedStdout();
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

TEST_F(DeviceSelectionTest, APredefinedDevicePansLeftToRightWithRisingPitchOrIsRefusedQuietly) {
    start(3);
    engineer::Race().AudioInterfaceId = 1;
    testing::internal::CaptureStdout();
    audio::SelectAudioDevicePredefined();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(contains(out, "\n [ FMOD ]  Setting device 1 .. Capture device 1 \n")) << out;
    EXPECT_EQ(audio::Engine().currentDriver(), 1);
    EXPECT_EQ(clock_.totalSleptMs(), 4750);
    EXPECT_EQ(preferedDevice(), "(unset)");

    const auto wav = finish();
    // The first pan: left loud and right quiet at its start, the other way at its end.
    const double startLeft = rmsOf(wav, 0, 0, frames(150));
    const double startRight = rmsOf(wav, 1, 0, frames(150));
    const double endLeft = rmsOf(wav, 0, frames(1350), frames(150));
    const double endRight = rmsOf(wav, 1, frames(1350), frames(150));
    EXPECT_GT(startLeft, 5 * startRight);
    EXPECT_GT(endRight, 5 * endLeft);
    // Rising pitch: more zero crossings at the end of the pan than at its start.
    auto crossings = [&](std::size_t from, std::size_t count) {
        int n = 0;
        for (std::size_t i = from + 1; i < from + count; ++i) {
            const float a = wav.samples[(i - 1) * 2] + wav.samples[(i - 1) * 2 + 1];
            const float b = wav.samples[i * 2] + wav.samples[i * 2 + 1];
            n += (a < 0) != (b < 0) ? 1 : 0;
        }
        return n;
    };
    // From 23 Hz up by 3 Hz every 50 ms: 0.1 crossings per hertz in each step.
    EXPECT_NEAR(crossings(frames(0), frames(400)), 0.1 * (23 + 44) * 4, 3);
    EXPECT_GT(crossings(frames(1100), frames(400)), 2 * crossings(frames(0), frames(400)));
    // And back after a pause, falling.
    EXPECT_GT(crossings(frames(2000), frames(400)), 2 * crossings(frames(3100), frames(400)));
    // Silent from the park on.
    EXPECT_LT(rmsOf(wav, 0, frames(3550), frames(1000)), 1e-4);

    // A device past the list: the test sound plays on the current output, without a complaint.
    start(3);
    engineer::Race().AudioInterfaceId = 3;
    testing::internal::CaptureStdout();
    audio::SelectAudioDevicePredefined();
    const std::string past = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(contains(past, "\n [ FMOD ]  Setting device 3 ..  \n")) << past;
    EXPECT_FALSE(contains(past, "could not")) << past;
    EXPECT_EQ(audio::AudioDeviceId(), 3);
    EXPECT_EQ(audio::Engine().currentDriver(), 0);
    EXPECT_GT(rmsOf(finish(), 0, 0, frames(500)), 0.1);
}

}  // namespace
