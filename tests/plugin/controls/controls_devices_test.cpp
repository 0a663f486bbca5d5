// The machine's own controller and keyboard interfaces (winmm and GetAsyncKeyState on Windows,
// SDL2 and /dev/input elsewhere): whatever is plugged in, start-up and polling must agree with
// what the interfaces report, and nothing may block or crash.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/settings_file.h"
#include "platform/joystick.h"
#include "platform/keyboard.h"
#include "platform/settings.h"
#include "plugin/controls/controls.h"
#include "tests/support/test_folder.h"

namespace {

TEST(ControlsDevicesTest, StartUpCountsWhatTheSystemReportsAndTheKeyboardSaysWhyItIsMissing) {
    const auto dir = testsupport::freshTestFolder("korvane_devices");
    const std::string settings = (dir / "Qm_Korvane_Launcher.ini").string();
    // Setup marked done, so a controller on the test machine cannot start the dialogue.
    ASSERT_TRUE(platform::writeProfileString("Setup", "SetupComplete", "1", settings));
    common::setSettingsPath(settings);
    controls::ResetControls();

    platform::Joysticks& joysticks = platform::joysticks();
    int answering = 0;
    for (unsigned i = 0; i <= joysticks.indexCount(); ++i) {  // one past the range never answers
        uint32_t buttons = 7;
        if (joysticks.readButtons(i, buttons)) {
            ++answering;
        } else {
            EXPECT_EQ(buttons, 0u) << "index " << i;
        }
    }
    testing::internal::CaptureStdout();
    controls::SetupControllers();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind(answering ? " Controllers available: " : " No controlers available\n", 0),
              0u)
        << out;
    EXPECT_EQ(controls::Controls().ControllersAvailable, answering ? 1 : 0);
    for (int i = 0; i < 3; ++i) {
        controls::PollControls();
    }
    common::setSettingsPath("");
    std::filesystem::remove_all(dir);

    platform::Keyboard& keyboard = platform::keyboard();
#ifdef _WIN32
    EXPECT_TRUE(keyboard.available());
#else
    EXPECT_TRUE(keyboard.available()
                    ? std::filesystem::exists("/dev/input")
                    : keyboard.unavailableReason().find("/dev/input") != std::string::npos)
        << keyboard.unavailableReason();
#endif
    EXPECT_EQ(keyboard.available(), keyboard.unavailableReason().empty());
    if (!keyboard.available()) {
        EXPECT_EQ(keyboard.asyncKeyState(platform::kVkRightControl), 0);
    }
}

}  // namespace
