// The temporary speech file that cannot be written: the working folder removed under the
// running plugin (a USB stick pulled, a folder cleaned up by hand). The build's own speech
// engine is used, so the failure is the real one: the message is lost with its note, the
// caller gets control back after the usual waits, and once the folder is sound again the next
// message is heard.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "plugin/audio/audio_engine.h"
#include "plugin/audio/audio_state.h"
#include "plugin/audio/voice.h"
#include "support/test_folder.h"
#include "support/virtual_clock.h"

namespace fs = std::filesystem;

namespace {

class SpeechFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = testsupport::freshTestFolder("korvane_speech_faults");
        previous_ = fs::current_path();
        audio::ResetAudioState();
        audio::Engine().setNoSound();
        ASSERT_TRUE(audio::Engine().init(512));
    }
    void TearDown() override {
        audio::Engine().close();
        fs::current_path(previous_);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    testsupport::VirtualClock clock_;
    testsupport::ScopedClock scopedClock_{clock_};
    fs::path dir_;
    fs::path previous_;
};

// Linux only: Windows does not let a process's working folder be removed.
TEST_F(SpeechFaults, AWorkingFolderThatIsGoneLosesTheMessageWithItsNoteAndTheNextIsHeard) {
    const fs::path gone = dir_ / "gone";
    fs::create_directories(gone);
    fs::current_path(gone);
    fs::remove(gone);

    for (int message = 0; message < 2; ++message) {
        SCOPED_TRACE(message);
        clock_.clearSleeps();
        ::testing::internal::CaptureStderr();
        audio::Speak(L" Fuel Reset.");
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("\n Note: Fault Flushing Audio Cache\n"), std::string::npos) << err;
        EXPECT_EQ(clock_.sleeps(), (std::vector<int>{100, 100, 100}));
        EXPECT_EQ(audio::SpeechSound(), 0u) << "a message that was never written plays";
    }

    fs::current_path(dir_);
    clock_.clearSleeps();
    ::testing::internal::CaptureStderr();
    audio::Speak(L" Fuel Reset.");
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("Fault Flushing"), std::string::npos) << err;
    EXPECT_EQ(clock_.sleeps(), (std::vector<int>{100, 100}));
    EXPECT_NE(audio::SpeechSound(), 0u);
    EXPECT_TRUE(audio::Engine().isPlaying(audio::OutputChannel()));
    EXPECT_TRUE(fs::is_empty(dir_)) << "the message's file was left behind";
}

}  // namespace
