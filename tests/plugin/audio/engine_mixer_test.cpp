// The mixer on its own: an engine with the no-sound output under a clock that stands still, so
// nothing but the test's own render() calls moves the sound on.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/wav_file.h"
#include "plugin/audio/audio_engine.h"
#include "support/test_folder.h"
#include "support/virtual_clock.h"

namespace fs = std::filesystem;
using audio::AudioEngine;
using audio::MixLevels;

namespace {

class MixerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = testsupport::freshTestFolder("korvane_mixer");
        engine_.setNoSound();
        ASSERT_TRUE(engine_.init(64));
    }
    void TearDown() override {
        engine_.close();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // A sound file of `frames` frames of `value` (or of its frame number / frames when ramp).
    std::string writeSound(const std::string& name, int rate, int frames, float value,
                           bool ramp = false) {
        platform::WavData w;
        w.rate = rate;
        w.channels = 1;
        for (int i = 0; i < frames; ++i) {
            w.samples.push_back(ramp ? static_cast<float>(i) / frames : value);
        }
        const std::string path = (dir_ / name).string();
        EXPECT_TRUE(platform::writeWavFile(path, w));
        return path;
    }

    std::vector<float> render(int frames) {
        std::vector<float> out(static_cast<std::size_t>(frames * engine_.outputChannels()));
        engine_.render(out.data(), frames);
        return out;
    }

    testsupport::VirtualClock clock_;
    testsupport::ScopedClock scoped_{clock_};
    fs::path dir_;
    AudioEngine engine_;
};

MixLevels only(int speaker) {
    MixLevels m{};
    m[static_cast<std::size_t>(speaker)] = 1.0f;
    return m;
}

TEST_F(MixerTest, EachSpeakerFoldsDownToTheOutputsChannels) {
    enum { FL, FR, C, LFE, SL, SR, BL, BR };
    const float h = 0.5f * 0.70710678f;
    struct Case {
        int outputs;
        int speaker;
        std::vector<float> expected;
    } cases[] = {
        {2, FL, {0.5f, 0}},
        {2, FR, {0, 0.5f}},
        {2, C, {h, h}},
        {2, LFE, {0, 0}},
        {2, SL, {0.5f, 0}},
        {2, SR, {0, 0.5f}},
        {2, BL, {0.5f, 0}},
        {2, BR, {0, 0.5f}},
        {1, FL, {0.25f}},
        {1, C, {h}},
        {4, C, {h, h, 0, 0}},
        {4, SL, {0, 0, 0.5f, 0}},
        {4, BL, {0, 0, 0.5f, 0}},
        {4, BR, {0, 0, 0, 0.5f}},
        {6, BL, {0, 0, 0, 0, 0.5f, 0}},
        {6, LFE, {0, 0, 0, 0.5f, 0, 0}},
        {8, SL, {0, 0, 0, 0, 0.5f, 0, 0, 0}},
        {8, BR, {0, 0, 0, 0, 0, 0, 0, 0.5f}},
    };
    const std::string path = writeSound("half.wav", 48000, 4800, 0.5f);
    for (const Case& c : cases) {
        SCOPED_TRACE("outputs " + std::to_string(c.outputs) + ", speaker " +
                     std::to_string(c.speaker));
        engine_.close();
        engine_.setNoSound();
        engine_.setSoftwareFormat(48000, c.outputs);
        ASSERT_TRUE(engine_.init(64));
        ASSERT_EQ(engine_.outputChannels(), c.outputs);
        const auto ch = engine_.playSound(engine_.createSound(path), false);
        engine_.setMixLevels(ch, only(c.speaker));
        const auto out = render(1);
        for (int i = 0; i < c.outputs; ++i) {
            EXPECT_NEAR(out[static_cast<std::size_t>(i)], c.expected[static_cast<std::size_t>(i)],
                        1e-3)
                << "output channel " << i;
        }
    }
    engine_.close();
    engine_.setSoftwareFormat(48000, 0);
    ASSERT_TRUE(engine_.init(64));
    EXPECT_EQ(engine_.outputChannels(), 2) << "0 asks for the output's own layout again";
    EXPECT_FALSE(AudioEngine().init(0)) << "a block of no frames";
}

TEST_F(MixerTest, ChannelsSumWithTheirVolumesAndPauseHoldsThePlace) {
    const std::string flat = writeSound("flat.wav", 48000, 48000, 0.25f);
    const std::string ramp = writeSound("ramp.wav", 48000, 1000, 0, true);
    const auto a = engine_.playSound(engine_.createSound(flat), false);
    const auto b = engine_.playSound(engine_.createSound(flat), false);
    ASSERT_EQ(engine_.outputChannels(), 2);
    EXPECT_NEAR(render(1)[0], 0.5f, 1e-3) << "two sounds at once add up";
    engine_.setVolume(b, 0.5f);
    EXPECT_NEAR(render(1)[1], 0.375f, 1e-3);
    engine_.setPaused(a, true);
    engine_.setPaused(b, true);
    EXPECT_NEAR(render(1)[0], 0.0f, 1e-6) << "paused channels are silent";
    EXPECT_TRUE(engine_.isPlaying(a)) << "a paused channel still exists";
    engine_.stop(a);
    engine_.stop(b);
    EXPECT_FALSE(engine_.isPlaying(a));

    const auto r = engine_.playSound(engine_.createSound(ramp), false);
    render(100);
    engine_.setPaused(r, true);
    render(300);
    engine_.setPaused(r, false);
    EXPECT_NEAR(render(1)[0], 100.0f / 1000, 1e-3) << "resumes where it was paused";
    engine_.stop(r);

    // At half the output rate every second frame lies halfway between two of the sound's.
    engine_.playSound(engine_.createSound(writeSound("slow.wav", 24000, 100, 0, true)), false);
    EXPECT_NEAR(render(12)[11 * 2], 0.055f, 2e-4);
}

TEST_F(MixerTest, SoundsPlayOnceAtTheOutputRateAndEnd) {
    struct Case {
        int rate;
        int frames;
        int expectedOutputFrames;
    } cases[] = {{48000, 480, 480}, {24000, 480, 960}, {22050, 2205, 4800}, {96000, 960, 480}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        const auto ch = engine_.playSound(
            engine_.createSound(writeSound("s.wav", c.rate, c.frames, 0.5f)), false);
        const auto out = render(c.expectedOutputFrames + 100);
        EXPECT_FALSE(engine_.isPlaying(ch));
        int heard = 0;
        for (std::size_t i = 0; i < out.size(); i += 2) {
            heard += out[i] > 0.25f ? 1 : 0;
        }
        EXPECT_NEAR(heard, c.expectedOutputFrames, 2);
    }
}

TEST_F(MixerTest, SoundsMarkedForReleaseAreFreedOnceHeard) {
    // Marked while still playing on two channels: kept until the second ends (one that is
    // heard alone is the speech test's).
    const std::string path = writeSound("msg.wav", 48000, 480, 0.5f);
    const auto sound = engine_.createSound(path);
    const auto first = engine_.playSound(sound, false);
    render(200);
    engine_.playSound(sound, false);
    engine_.releaseWhenDone(sound);
    render(300);
    EXPECT_FALSE(engine_.isPlaying(first));
    EXPECT_EQ(engine_.soundCount(), 1u);
    render(300);
    EXPECT_EQ(engine_.soundCount(), 0u);

    // Marked before it has played: kept for its play.
    const auto later = engine_.createSound(path);
    engine_.releaseWhenDone(later);
    EXPECT_EQ(engine_.soundCount(), 1u);
    EXPECT_NE(engine_.playSound(later, false), 0u);

    const auto kept = engine_.createSound(path);
    const auto ch = engine_.playSound(kept, false);
    engine_.releaseSound(kept);
    EXPECT_FALSE(engine_.isPlaying(ch)) << "releasing a sound stops its channels";
    EXPECT_EQ(engine_.playSound(kept, false), 0u);
}

TEST_F(MixerTest, PlayStopAndUpdateFromManyThreadsWhileTheDeviceRenders) {
    const std::string path = writeSound("short.wav", 48000, 256, 0.1f);
    std::atomic<bool> done{false};
    std::thread device([&] {
        std::vector<float> buffer(512 * 2);
        while (!done) {
            engine_.render(buffer.data(), 512);
        }
    });
    std::vector<std::thread> players;
    for (int t = 0; t < 4; ++t) {
        players.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                const auto sound = engine_.createSound(path);
                const auto ch = engine_.playSound(sound, i % 3 == 0);
                engine_.releaseWhenDone(sound);
                const auto osc = engine_.createOscillator(100.0f + t);
                const auto tone = engine_.playDsp(osc, false);
                engine_.setMixLevels(tone, only(t));
                engine_.setVolume(ch, 0.5f);
                engine_.update();
                if (i % 2) {
                    engine_.stop(ch);
                }
                engine_.releaseDsp(osc);
            }
        });
    }
    for (auto& p : players) {
        p.join();
    }
    done = true;
    device.join();
    EXPECT_EQ(engine_.dspCount(), 0u);
}

}  // namespace
