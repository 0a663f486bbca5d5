// The machine's own controller and keyboard interfaces (winmm and GetAsyncKeyState on Windows,
// SDL2 and /dev/input elsewhere): whatever is plugged in, start-up and polling must agree with
// what the interfaces report, and nothing may block or crash.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "common/settings_file.h"
#include "platform/joystick.h"
#include "platform/keyboard.h"
#include "platform/settings.h"
#include "plugin/controls/controls.h"
#include "plugin/engineer/race_state.h"

namespace {

namespace fs = std::filesystem;

int answeringControllers() {
    platform::Joysticks& joysticks = platform::joysticks();
    int answering = 0;
    for (unsigned i = 0; i < joysticks.indexCount(); ++i) {
        uint32_t buttons = 0;
        if (joysticks.readButtons(i, buttons)) {
            ++answering;
        } else {
            EXPECT_EQ(buttons, 0u) << "index " << i;
        }
    }
    return answering;
}

TEST(ControlsDevicesTest, StartUpCountsWhatTheSystemReports) {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const fs::path dir = fs::temp_directory_path() / ("korvane_devices_" + std::to_string(stamp));
    fs::create_directories(dir);
    const std::string settings = (dir / "Qm_Korvane_Launcher.ini").string();
    // Setup marked done, so a controller on the test machine cannot start the dialogue.
    ASSERT_TRUE(platform::writeProfileString("Setup", "SetupComplete", "1", settings));
    common::setSettingsPath(settings);
    controls::ResetControls();

    const int answering = answeringControllers();
    testing::internal::CaptureStdout();
    controls::SetupControllers();
    const std::string out = testing::internal::GetCapturedStdout();
    if (answering == 0) {
        EXPECT_EQ(out.rfind(" No controlers available\n", 0), 0u) << out;
        EXPECT_EQ(controls::Controls().ControllersAvailable, 0);
    } else {
        EXPECT_NE(out.find(" Controllers available: "), std::string::npos) << out;
        EXPECT_EQ(controls::Controls().ControllersAvailable, 1);
    }
    for (int i = 0; i < 3; ++i) {
        controls::PollControls();
    }
    // Indices beyond the range never answer.
    uint32_t buttons = 7;
    EXPECT_FALSE(platform::joysticks().readButtons(platform::joysticks().indexCount(), buttons));
    EXPECT_EQ(buttons, 0u);

    common::setSettingsPath("");
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

TEST(ControlsDevicesTest, KeyboardStateIsReadableOrTheReasonIsGiven) {
    platform::Keyboard& keyboard = platform::keyboard();
#ifdef _WIN32
    EXPECT_TRUE(keyboard.available());
#else
    if (!fs::exists("/dev/input")) {
        EXPECT_FALSE(keyboard.available());
    }
#endif
    if (keyboard.available()) {
        EXPECT_EQ(keyboard.unavailableReason(), "");
    } else {
        EXPECT_NE(keyboard.unavailableReason().find("/dev/input"), std::string::npos)
            << keyboard.unavailableReason();
        for (int key : {platform::kVkRightControl, platform::kVkRightShift, platform::kVkHome}) {
            EXPECT_EQ(keyboard.asyncKeyState(key), 0) << key;
        }
    }
}

}  // namespace
