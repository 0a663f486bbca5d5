// The pit-approach countdown as the driver hears it: the real refresh, the real tones and the
// engine on a capture file, with no recording sink in between.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "plugin/app/seams.h"
#include "plugin/audio/speak.h"
#include "support/race_fixture.h"
#include "support/fake_audio_output.h"
#include "support/test_folder.h"
#include "support/wav_measure.h"

namespace racetest {
namespace {

constexpr int kRate = 48000;
constexpr int kWindow = kRate / 50;  // 20 ms
const int kCountdownHz[] = {1250, 1050, 850};

class CountdownSoundTest : public SnapshotTest {
  protected:
    void SetUp() override {
        SnapshotTest::SetUp();
        audio::setVoiceSink(nullptr);
        dir_ = testsupport::freshTestFolder("korvane_countdown");
    }
    void TearDown() override {
        EXPECT_TRUE(audio::WaitForBackgroundSpeech(20000));
        capture_.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
        SnapshotTest::TearDown();
    }

    // The countdown frequency that fills each 20 ms window of the left channel, in order,
    // with runs of the same one merged; `windows` gets each run's length.
    static std::vector<int> tonesHeard(const platform::WavData& wav, std::vector<int>& windows) {
        std::vector<int> heard;
        for (std::size_t start = 0; start + kWindow <= wav.frames(); start += kWindow) {
            int found = 0;
            for (int hz : kCountdownHz) {
                if (testsupport::toneShare(wav, 0, start, kWindow, hz) > 0.8) {
                    found = hz;
                }
            }
            if (found == 0) {
                continue;
            }
            if (heard.empty() || heard.back() != found) {
                heard.push_back(found);
                windows.push_back(0);
            }
            ++windows.back();
        }
        return heard;
    }

    std::filesystem::path dir_;
    std::unique_ptr<testsupport::CapturedAudio> capture_;
};

TEST_F(CountdownSoundTest, TheMarksAreHeardOnlyWhenATickFindsTheCarOnThem) {
    struct Case {
        const char* name;
        std::vector<double> metresToEntry;  // one tick each, 200 ms apart
        std::vector<int> heard;
    };
    const Case cases[] = {
        {"a tick on each mark", {80, 75, 60, 50, 30, 25, 10}, {1250, 1050, 850}},
        // As in a sped-up replay: the car covers several metres per tick.
        {"ticks between the marks", {80, 70, 45, 20, 5}, {}},
    };
    sim_.setInt("PlayerTrackSurface", 2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        capture_.reset();  // its end clears the capture choice
        capture_ = std::make_unique<testsupport::CapturedAudio>(
            (dir_ / (std::string(c.name) + ".wav")).string(), 1, 2);
        ASSERT_TRUE(app::Seams().createAudioEngine());
        for (double metres : c.metresToEntry) {
            // The pit entry lies 100 m into the 5000 m lap.
            sim_.set("LapDist", 100 - metres);
            refresh();
            clock_.advanceMs(200);
            app::Seams().updateAudioEngine();
        }
        const platform::WavData wav = capture_->finish();
        ASSERT_EQ(wav.rate, kRate);
        ASSERT_EQ(wav.channels, 2);
        std::vector<int> windows;
        EXPECT_EQ(tonesHeard(wav, windows), c.heard);
        for (int n : windows) {
            EXPECT_GE(n, 6) << "a 150 ms beep fills about eight 20 ms windows";
            EXPECT_LE(n, 9);
        }
        EXPECT_EQ(testsupport::soundingFrames(wav, 1), 0u) << "the countdown is front left only";
    }
}

}  // namespace
}  // namespace racetest
