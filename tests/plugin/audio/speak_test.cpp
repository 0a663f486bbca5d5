// Speak and SpeakInBackground through the real engine (no-sound output, which still plays
// sounds to their end by the process clock) with a fake speech engine behind them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/speech.h"
#include "plugin/audio/speak.h"
#include "plugin/audio/voice.h"
#include "audio_fixture.h"

namespace fs = std::filesystem;

namespace {

// Stands in for the speech engine: writes a 1 s sine of 440 Hz as the sentence, or fails
// the way the real engines can, and records every call. While closed, renders wait at their
// start until it opens (at most 20 s).
class FakeSpeechRenderer {
  public:
    enum class Mode {
        kRender,
        kFailNoFile,       // engine failure, no file written
        kFailGarbageFile,  // engine failure leaving a file that is no WAV
        kSetupFailed,      // COM could not start
    };
    struct Call {
        std::wstring text;
        std::string path;
        bool fileExistedBefore = false;
    };
    std::atomic<Mode> mode{Mode::kRender};

    void setOpen(bool open) {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = open;
        changed_.notify_all();
    }
    // Waits (real time, bounded) until `n` renders are inside the renderer together.
    bool waitForInside(int n) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return inside_ >= n; });
    }
    std::vector<Call> calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

    platform::SpeechRender operator()(const std::wstring& text, const std::string& path) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            calls_.push_back({text, path, fs::exists(path)});
            ++inside_;
            changed_.notify_all();
            changed_.wait_for(lock, std::chrono::seconds(20), [&] { return open_; });
            --inside_;
        }
        if (mode == Mode::kSetupFailed) {
            return platform::SpeechRender::kSetupFailed;
        }
        if (mode == Mode::kFailGarbageFile) {
            if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
                std::fputs("RIFF", f);
                std::fclose(f);
            }
        }
        if (mode != Mode::kRender) {
            return platform::SpeechRender::kEngineFailed;
        }
        platform::WavData wave;
        wave.rate = 22050;
        wave.channels = 1;
        for (std::size_t i = 0; i < std::size_t{22050}; ++i) {
            wave.samples.push_back(
                0.5f * static_cast<float>(std::sin(2 * 3.14159265358979 * 440 * i / 22050.0)));
        }
        return platform::writeWavFile(path, wave) ? platform::SpeechRender::kRendered
                                                  : platform::SpeechRender::kEngineFailed;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = true;
    int inside_ = 0;
    std::vector<Call> calls_;
};

using Mode = FakeSpeechRenderer::Mode;

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
        fake_.setOpen(true);
        EXPECT_TRUE(audio::WaitForBackgroundSpeech(20000)) << "a speech thread did not end";
        audio::setSpeechRenderer({});
        fs::current_path(previous_);
        AudioTest::TearDown();
    }
    bool filesLeft() const { return !fs::is_empty(dir_); }
    void waitForBackground() { ASSERT_TRUE(audio::WaitForBackgroundSpeech(20000)); }

    FakeSpeechRenderer fake_;
    fs::path previous_;
};

TEST_F(SpeakTest, MessagesPlayFromFilesOfTheirOwnThatAreGoneAtOnce) {
    // Second 1 ms 23, second 12 ms 3, and second 12 ms 3 once more all read "123".
    const std::pair<int, int> times[] = {{1, 23}, {12, 3}, {12, 3}};
    ::testing::internal::CaptureStderr();
    for (const auto& [second, ms] : times) {
        clock_.setCalendarTime(1699999980 + second, ms);  // 1,700,000,000 is second 20
        audio::Speak(L" Fuel Reset.");
    }
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("Fault Flushing"), std::string::npos) << err;
    EXPECT_FALSE(filesLeft());
    EXPECT_EQ(clock_.sleeps(), std::vector<int>(6, 100));

    const auto calls = fake_.calls();
    ASSERT_EQ(calls.size(), 3u);
    for (std::size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE(calls[i].path);
        EXPECT_EQ(calls[i].text, L" Fuel Reset.");
        EXPECT_EQ(calls[i].path.rfind("123_", 0), 0u) << "the time is no longer in the name";
        EXPECT_EQ(fs::path(calls[i].path).parent_path(), fs::path()) << "not in the working folder";
        for (std::size_t j = 0; j < i; ++j) {
            EXPECT_NE(calls[i].path, calls[j].path);
        }
    }
    EXPECT_NE(audio::SpeechSound(), 0u);
    EXPECT_EQ(audio::Engine().channelCount(), 3u);
    clock_.advanceMs(5000);  // the messages are 1 s long
    audio::Engine().update();
    EXPECT_EQ(audio::Engine().channelCount(), 0u);
    EXPECT_EQ(audio::Engine().soundCount(), 0u) << "a heard message is still held";
}

TEST_F(SpeakTest, AFailedMessagePlaysNothingAndTheProgramGoesOn) {
    const struct {
        const char* name;
        Mode mode;
        std::vector<int> sleeps;
        bool note;
    } cases[] = {
        {"engine failed, no file", Mode::kFailNoFile, {100, 100, 100}, true},
        {"engine failed, unreadable file", Mode::kFailGarbageFile, {100, 100}, false},
        {"speech services did not start", Mode::kSetupFailed, {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake_.mode = Mode::kRender;
        audio::Speak(L" Box this lap.");
        const audio::ChannelId previous = audio::OutputChannel();
        const audio::SoundId previousSound = audio::SpeechSound();
        ASSERT_NE(previous, 0u);
        const std::size_t channels = audio::Engine().channelCount();

        fake_.mode = c.mode;
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
        EXPECT_FALSE(filesLeft());
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

TEST_F(SpeakTest, BackgroundMessagesRenderTheirOwnCopiesAtOnceAndPlayOverEachOther) {
    fake_.setOpen(false);
    auto buffer = std::make_unique<wchar_t[]>(256);
    std::swprintf(buffer.get(), 256, L" %d laps of fuel left.", 12);
    audio::SpeakInBackground(buffer.get());
    std::swprintf(buffer.get(), 256, L" Box this lap.");
    audio::SpeakInBackground(buffer.get());
    // Reused and then freed while the threads have not spoken yet.
    std::swprintf(buffer.get(), 256, L" garbage");
    buffer.reset();
    ASSERT_TRUE(fake_.waitForInside(2)) << "the second message waited for the first";
    fake_.setOpen(true);
    waitForBackground();

    auto calls = fake_.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_NE(calls[0].path, calls[1].path);
    EXPECT_FALSE(calls[0].fileExistedBefore || calls[1].fileExistedBefore);
    EXPECT_FALSE(filesLeft());
    std::sort(calls.begin(), calls.end(),
              [](const auto& a, const auto& b) { return a.text < b.text; });
    EXPECT_EQ(calls[0].text, L" 12 laps of fuel left.");
    EXPECT_EQ(calls[1].text, L" Box this lap.");
    EXPECT_EQ(audio::Engine().channelCount(), 2u) << "one message stopped or held the other";
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
    EXPECT_FALSE(filesLeft()) << "the message's file was left behind";
}
#endif

// The sink for the engineer's tests is theirs; here passive mode, which sounds nothing at all.
TEST_F(SpeakTest, PassiveModeRendersAndPlaysNothing) {
    engineer::Race().PassiveMode = 1;
    audio::Speak(L" Fuel Reset.");
    audio::SpeakInBackground(L" Sim connected.");
    audio::PlayTone(1250, 150, 0.9f, 0, 0, 0);
    waitForBackground();
    EXPECT_TRUE(fake_.calls().empty());
    EXPECT_EQ(audio::OutputChannel(), 0u);
    EXPECT_FALSE(filesLeft());
    EXPECT_TRUE(clock_.sleeps().empty());
    EXPECT_EQ(audio::Engine().channelCount(), 0u);
    EXPECT_EQ(audio::Engine().soundCount(), 0u);
}

}  // namespace
