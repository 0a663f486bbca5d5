// Speak and SpeakInBackground through the real engine (no-sound output, which still plays
// sounds to their end by the process clock) with a fake speech engine behind them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/audio_output.h"
#include "platform/speech.h"
#include "platform/wav_file.h"
#include "plugin/audio/audio_engine.h"
#include "plugin/audio/audio_state.h"
#include "plugin/audio/speak.h"
#include "plugin/audio/voice.h"
#include "plugin/engineer/race_state.h"
#include "audio_fixture.h"
#include "support/fake_speech_renderer.h"
#include "support/recording_voice.h"
#include "support/wav_measure.h"

namespace fs = std::filesystem;
using Mode = testsupport::FakeSpeechRenderer::Mode;

namespace {

// Calendar seconds whose second-of-minute is `second` (1,700,000,000 is second 20).
int64_t atSecond(int second) {
    return 1699999980 + second;
}

#ifndef _WIN32
// Set by a test's child process: once every static object of the program has been destroyed
// (the program's finalisers run after them), a message is spoken, as a speech thread the end of
// the process did not wait for would go on.
std::atomic<bool> speakAfterTheEnd{false};

__attribute__((destructor)) void speakOnceEverythingElseHasEnded() {
    if (speakAfterTheEnd.exchange(false)) {
        audio::Speak(L" Late message.");
    }
}
#endif

class SpeakTest : public audiotest::AudioTest {
  protected:
    void SetUp() override {
        AudioTest::SetUp();
        previous_ = fs::current_path();
        fs::current_path(dir_);  // the temporary files are relative to it
        audio::ResetAudioState();
        audio::Engine().setNoSound();
        ASSERT_TRUE(audio::Engine().init(512));
        audio::setSpeechRenderer([this](const std::wstring& text, const std::string& path) {
            return fake_(text, path);
        });
    }
    void TearDown() override {
        fake_.open();
        EXPECT_TRUE(audio::WaitForBackgroundSpeech(20000)) << "a speech thread did not end";
        audio::setSpeechRenderer({});
        audio::setVoiceSink(nullptr);
        audio::Engine().close();
        platform::setCaptureOverride(std::nullopt);
        fs::current_path(previous_);
        AudioTest::TearDown();
    }
    std::vector<std::string> filesLeft() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) {
            names.push_back(e.path().filename().string());
        }
        return names;
    }
    void waitForBackground() { ASSERT_TRUE(audio::WaitForBackgroundSpeech(20000)); }

    testsupport::FakeSpeechRenderer fake_;
    fs::path previous_;
};

TEST_F(SpeakTest, AMessagePlaysAndItsFileIsGone) {
    ::testing::internal::CaptureStderr();
    audio::Speak(L" Fuel Reset.");
    const std::string err = ::testing::internal::GetCapturedStderr();

    const auto calls = fake_.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].text, L" Fuel Reset.");
    EXPECT_EQ(fs::path(calls[0].path).parent_path(), fs::path()) << "not in the working folder";
    EXPECT_TRUE(filesLeft().empty());
    EXPECT_EQ(clock_.sleeps(), (std::vector<int>{100, 100}));
    EXPECT_EQ(err.find("Fault Flushing"), std::string::npos) << err;

    EXPECT_NE(audio::SpeechSound(), 0u);
    EXPECT_TRUE(audio::Engine().isPlaying(audio::OutputChannel()));
    clock_.advanceMs(5000);  // the message is 1 s long
    audio::Engine().update();
    EXPECT_EQ(audio::Engine().channelCount(), 0u);
    EXPECT_EQ(audio::Engine().soundCount(), 0u) << "a heard message is still held";
}

struct FailureCase {
    const char* name;
    Mode mode;
    std::vector<int> sleeps;
    bool note;
};

TEST_F(SpeakTest, AFailedMessagePlaysNothingAndTheProgramGoesOn) {
    const FailureCase cases[] = {
        {"engine failed, no file", Mode::kFailNoFile, {100, 100, 100}, true},
        {"engine failed, unreadable file", Mode::kFailGarbageFile, {100, 100}, false},
        {"speech services did not start", Mode::kSetupFailed, {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake_.setMode(Mode::kRender);
        fake_.setSeconds(30);
        audio::Speak(L" Box this lap.");
        const audio::ChannelId previous = audio::OutputChannel();
        const audio::SoundId previousSound = audio::SpeechSound();
        ASSERT_NE(previous, 0u);
        const std::size_t channels = audio::Engine().channelCount();

        fake_.setMode(c.mode);
        clock_.clearSleeps();
        ::testing::internal::CaptureStderr();
        audio::Speak(L" Fuel Reset.");
        const std::string err = ::testing::internal::GetCapturedStderr();

        EXPECT_EQ(clock_.sleeps(), c.sleeps);
        EXPECT_EQ(err.find("\n Note: Fault Flushing Audio Cache\n") != std::string::npos, c.note)
            << err;
        EXPECT_EQ(audio::Engine().channelCount(), channels) << "something new plays";
        EXPECT_EQ(audio::OutputChannel(), previous);
        EXPECT_EQ(audio::SpeechSound(), previousSound);
        EXPECT_TRUE(audio::Engine().isPlaying(previous)) << "the earlier message was cut off";
        EXPECT_TRUE(filesLeft().empty());
    }
}

#ifndef _WIN32
TEST_F(SpeakTest, AMessageStillOnItsWayWhenTheProcessEndsMeetsNothingDestroyed) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // A renderer too large to be kept inside its holder: once destroyed, it is gone.
            const std::string voice(64, 'v');
            audio::setSpeechRenderer([voice](const std::wstring&, const std::string&) {
                return voice.empty() ? platform::SpeechRender::kRendered
                                     : platform::SpeechRender::kSetupFailed;
            });
            speakAfterTheEnd = true;
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}
#endif

TEST_F(SpeakTest, MessagesWithTheSameTimeDigitsGetTheirOwnFiles) {
    // Second 1 ms 23, second 12 ms 3, and second 12 ms 3 once more all read "123".
    const std::pair<int, int> times[] = {{1, 23}, {12, 3}, {12, 3}};
    for (const auto& [second, ms] : times) {
        clock_.setCalendarTime(atSecond(second), ms);
        audio::Speak(L" Fuel Reset.");
    }
    const auto calls = fake_.calls();
    ASSERT_EQ(calls.size(), 3u);
    for (std::size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE(calls[i].path);
        EXPECT_EQ(calls[i].path.rfind("123_", 0), 0u) << "the time is no longer in the name";
        for (std::size_t j = 0; j < i; ++j) {
            EXPECT_NE(calls[i].path, calls[j].path);
        }
    }
}

// The same, on a capture file: what the driver would hear.
class SpeakHeardTest : public SpeakTest {
  protected:
    void SetUp() override {
        SpeakTest::SetUp();
        capture_ =
            std::make_unique<testsupport::CapturedAudio>((dir_ / "capture.wav").string(), 1, 2);
        ASSERT_TRUE(audio::Engine().init(512));
    }
    // Lets the capture run `ms` further and reads it.
    platform::WavData heard(int ms) {
        clock_.advanceMs(ms);
        audio::Engine().update();
        const platform::WavData wav = capture_->finish();
        fs::remove(capture_->path());
        return wav;
    }
    std::vector<std::string> filesLeft() const {
        std::vector<std::string> names = SpeakTest::filesLeft();
        names.erase(std::remove(names.begin(), names.end(), "capture.wav"), names.end());
        return names;
    }
};

TEST_F(SpeakHeardTest, BackgroundMessagesStartedTogetherRenderAtOnceAndAreHeardOverlapping) {
    fake_.setSeconds(1);
    fake_.setHzFor(L" Sim connected.", 600);
    fake_.setHzFor(L" Waiting for the sim.", 900);
    fake_.close();
    audio::SpeakInBackground(L" Sim connected.");
    audio::SpeakInBackground(L" Waiting for the sim.");
    ASSERT_TRUE(fake_.waitForInside(2)) << "the second message waited for the first";
    fake_.open();
    waitForBackground();

    const auto calls = fake_.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_NE(calls[0].path, calls[1].path);
    EXPECT_FALSE(calls[0].fileExistedBefore);
    EXPECT_FALSE(calls[1].fileExistedBefore);
    EXPECT_TRUE(filesLeft().empty());

    const platform::WavData wav = heard(2000);
    const std::size_t sounding = testsupport::soundingFrames(wav, 0);
    // Two 1 s messages one after the other would sound for 2 s.
    EXPECT_GT(sounding, 48000u * 9 / 10);
    EXPECT_LT(sounding, 48000u * 13 / 10);
    std::size_t first = 0;
    while (first < wav.frames() && std::fabs(wav.samples[first * 2]) <= 1e-3) {
        ++first;
    }
    // 300 ms after the first starts, both are sounding.
    const std::size_t at = first + 48000 * 3 / 10;
    EXPECT_GT(testsupport::toneShare(wav, 0, at, 4800, 600), 0.3);
    EXPECT_GT(testsupport::toneShare(wav, 0, at, 4800, 900), 0.3);
}

#ifndef _WIN32
// The working folder removed under the running plugin (a USB stick pulled, a folder cleaned up
// by hand; Windows does not allow it): the build's own speech engine cannot write the message,
// which is lost with its note, and once the folder is sound again the next message is heard.
TEST_F(SpeakTest, AWorkingFolderThatIsGoneLosesTheMessageWithItsNoteAndTheNextIsHeard) {
    audio::setSpeechRenderer({});
    const fs::path gone = dir_ / "gone";
    fs::create_directories(gone);
    fs::current_path(gone);
    fs::remove(gone);
    for (const bool back : {false, false, true}) {
        SCOPED_TRACE(back ? "folder back" : "folder gone");
        if (back) {
            fs::current_path(dir_);
        }
        clock_.clearSleeps();
        ::testing::internal::CaptureStderr();
        audio::Speak(L" Fuel Reset.");
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.find("\n Note: Fault Flushing Audio Cache\n") == std::string::npos, back)
            << err;
        EXPECT_EQ(clock_.sleeps(),
                  back ? (std::vector<int>{100, 100}) : (std::vector<int>{100, 100, 100}));
        EXPECT_EQ(audio::SpeechSound() != 0u, back) << "a message that was never written plays";
    }
    EXPECT_TRUE(audio::Engine().isPlaying(audio::OutputChannel()));
    EXPECT_TRUE(filesLeft().empty()) << "the message's file was left behind";
}
#endif

TEST_F(SpeakTest, ABackgroundMessageSpeaksItsOwnCopyOfTheText) {
    fake_.close();
    auto buffer = std::make_unique<wchar_t[]>(256);
    std::swprintf(buffer.get(), 256, L" %d laps of fuel left.", 12);
    audio::SpeakInBackground(buffer.get());
    std::swprintf(buffer.get(), 256, L" Box this lap.");
    audio::SpeakInBackground(buffer.get());
    // Reused and then freed while the threads have not spoken yet.
    std::swprintf(buffer.get(), 256, L" garbage");
    buffer.reset();
    ASSERT_TRUE(fake_.waitForInside(2));
    fake_.open();
    waitForBackground();

    std::vector<std::wstring> texts;
    for (const auto& c : fake_.calls()) {
        texts.push_back(c.text);
    }
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, (std::vector<std::wstring>{L" 12 laps of fuel left.", L" Box this lap."}));
}

TEST_F(SpeakTest, PassiveModeOrAnInstalledSinkKeepMessagesAndBeepsFromTheEngine) {
    std::vector<std::string> heard;
    {
        testsupport::RecordingVoice sink;
        audio::Speak(L" Fuel Reset.");
        audio::SpeakInBackground(L" Sim connected.");
        audio::PlayTone(1200, 100, 0, 0.9f, 0, 0);
        EXPECT_EQ(audio::BackgroundSpeechRunning(), 0);
        heard = sink.events();
    }
    EXPECT_EQ(heard, (std::vector<std::string>{"say:  Fuel Reset.", "say later:  Sim connected.",
                                               "tone 1200 100 0.0/0.9/0.0/0.0"}));
    engineer::Race().PassiveMode = 1;  // renders nothing and plays nothing
    audio::Speak(L" Fuel Reset.");
    audio::SpeakInBackground(L" Sim connected.");
    audio::PlayTone(1250, 150, 0.9f, 0, 0, 0);
    waitForBackground();
    EXPECT_TRUE(fake_.calls().empty());
    EXPECT_EQ(audio::OutputChannel(), 0u);
    EXPECT_TRUE(filesLeft().empty());
    EXPECT_TRUE(clock_.sleeps().empty());
    EXPECT_EQ(audio::Engine().channelCount(), 0u);
    EXPECT_EQ(audio::Engine().soundCount(), 0u);
}

}  // namespace
