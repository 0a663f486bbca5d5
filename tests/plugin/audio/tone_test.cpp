// PlayTone as the capture hears it, and the engine's start and end around it.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "audio_fixture.h"
#include "plugin/audio/voice.h"

namespace {

using audiotest::rmsOf;
using audiotest::soundingFrames;
using audiotest::toneShare;

class ToneTest : public audiotest::AudioTest {};

TEST_F(ToneTest, ABeepSoundsItsPassesOnItsSpeakersOnly) {
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
        const std::size_t length = frames(16 * c.passes);
        for (int s = 0; s < 8; ++s) {
            const bool heard = std::find(c.heard.begin(), c.heard.end(), s) != c.heard.end();
            if (heard) {
                EXPECT_NEAR(static_cast<double>(soundingFrames(wav, s)), length, 48.0)
                    << "speaker " << s;
                EXPECT_NEAR(rmsOf(wav, s, 0, length), 0.81 / std::sqrt(2.0), 0.01);
                EXPECT_GT(toneShare(wav, s, 0, length, c.hz), 0.9);
            } else {
                EXPECT_EQ(soundingFrames(wav, s), 0u) << "speaker " << s;
            }
        }
    }
}

// Passive mode and the sink are the speech test's, beside the messages.
TEST_F(ToneTest, WithoutADeviceTheBeepTakesItsTimeAndReturnsSilently) {
    start(0);
    audio::SelectAudioDeviceInteractive();
    audio::PlayTone(1250, 150, 0.9f, 0, 0, 0);
    EXPECT_EQ(clock_.sleeps().size(), 10u);
    EXPECT_FALSE(audio::Engine().hasDeviceOutput());
    finish();
}

TEST_F(ToneTest, ADeviceThatFailsOrGoesAwayIsTriedAgainAndHeardOnceBack) {
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
        testing::internal::CaptureStdout();
        for (std::size_t i = 0; i < c.heard.size(); ++i) {
            clock_.clearSleeps();
            audio::UpdateAudioEngine();  // a tick
            audio::PlayTone(1200, 100, 0, 0.9f, 0, 0);
            waits += clock_.sleeps().size();
            heard.push_back(audio::Engine().hasDeviceOutput());
            clock_.advanceMs(2000 - 112);
        }
        const std::string said = testing::internal::GetCapturedStdout();
        EXPECT_EQ(heard, c.heard);
        // Never a wait of its own: the tries cost the tick nothing on the clock.
        EXPECT_EQ(waits, 7 * c.heard.size());
        EXPECT_EQ(count(said, off), c.said) << said;
        EXPECT_EQ(count(said, back), c.said) << said;
        EXPECT_LT(said.find(off), said.find(back)) << said;
        // What the device played once back: the last tone, 2 s before the end.
        const auto wav = finish();
        ASSERT_EQ(wav.channels, 2);
        ASSERT_GE(wav.frames(), frames(2000));
        EXPECT_GT(toneShare(wav, 1, wav.frames() - frames(2000), frames(100), 1200), 0.9);
    }
}

TEST_F(ToneTest, ShutdownSilencesTheLastChannelAndIsHarmlessWhenNothingStarted) {
    audio::ShutdownAudioEngine();  // never created (passive mode)
    audio::UpdateAudioEngine();
    start(2);
    engineer::Race().AudioInterfaceId = 1;
    audio::SelectAudioDevicePredefined();
    const auto osc = audio::Engine().createOscillator(500);
    const auto ch = audio::Engine().playDsp(osc, false);
    audio::SetOutputChannel(ch);
    audio::UpdateAudioEngine();
    audio::ShutdownAudioEngine();
    EXPECT_FALSE(audio::Engine().isPlaying(ch));
    EXPECT_EQ(audio::Engine().dspCount(), 0u);
    EXPECT_EQ(audio::Engine().playDsp(osc, false), 0u);
    audio::ShutdownAudioEngine();  // twice is harmless
    EXPECT_TRUE(audio::CreateAudioEngine()) << "the engine starts again after a close";
    audio::ShutdownAudioEngine();
}

}  // namespace
