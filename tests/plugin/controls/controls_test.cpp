#include "plugin/controls/controls.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/settings_file.h"
#include "platform/keyboard.h"
#include "platform/settings.h"
#include "plugin/engineer/race_state.h"
#include "tests/support/fake_controls.h"
#include "tests/support/test_folder.h"
#include "tests/support/virtual_clock.h"

namespace {

namespace fs = std::filesystem;
using engineer::kFuel;
using engineer::kModeConfig;
using engineer::kModeOption;
using engineer::kStint;
using engineer::kTire;
using engineer::kWeather;

constexpr uint16_t kMid = 1133;
constexpr uint16_t kPid = 49686;

std::string bindingFor(uint32_t mask, uint16_t mid = kMid, uint16_t pid = kPid) {
    return std::to_string(mid) + ":" + std::to_string(pid) + ":" + std::to_string(mask);
}

class ControlsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = testsupport::freshTestFolder("korvane_controls");
        settings_ = (dir_ / "Qm_Korvane_Launcher.ini").string();
        common::setSettingsPath(settings_);
        controls::ResetControls();
        engineer::ResetRaceState();
    }

    void TearDown() override {
        common::setSettingsPath("");
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    void writeSetting(const char* section, const char* key, const std::string& value) {
        ASSERT_TRUE(platform::writeProfileString(section, key, value, settings_));
    }

    // Start-up with SetupComplete 1 and the given bindings in table order ("" = key missing).
    std::string startWithBindings(const std::vector<std::string>& bindings) {
        writeSetting("Setup", "SetupComplete", "1");
        for (size_t i = 0; i < bindings.size(); ++i) {
            if (!bindings[i].empty()) {
                writeSetting("Controls", controls::kFunctions[i].key, bindings[i]);
            }
        }
        return setup();
    }

    std::string setup() {
        testing::internal::CaptureStdout();
        controls::SetupControllers();
        return testing::internal::GetCapturedStdout();
    }

    uint32_t poll() {
        controls::PollControls();
        return engineer::Race().PressedFunctions;
    }

    fs::path dir_;
    std::string settings_;
    testsupport::VirtualClock clock_;
    testsupport::ScopedClock scopedClock_{clock_};
    testsupport::FakeJoysticks joysticks_;
    testsupport::FakeKeyboard keyboard_;
    testsupport::ScopedControlDevices devices_{joysticks_, keyboard_};
};

TEST_F(ControlsTest, ButtonMasksMatchWholeBindingsOfTheSameModel) {
    joysticks_.plug(1, kMid, kPid);
    // Fuel on button 3, Tire on the chord of buttons 1 and 3, Weather and Stint both on button 4,
    // ModeOption on button 3 of another model, ModeConfig on a text that merely starts alike.
    startWithBindings({bindingFor(4), bindingFor(5), bindingFor(8), bindingFor(8),
                       bindingFor(4, 1, 2), bindingFor(4) + "0"});
    struct Case {
        uint32_t mask;
        uint32_t expected;
    };
    const Case cases[] = {
        {4, kFuel},              // button 3 alone, and not ModeConfig's "…:40"
        {5, kTire},              // buttons 1 and 3: the chord, not Fuel
        {1, 0},                  // button 1 alone is no part of any binding
        {8, kWeather | kStint},  // two functions on one button
        {12, 0},                 // a further button held spoils every binding
        {0, 0},                  // nothing held
        {40, kModeConfig},       // buttons 4 and 6
    };
    for (const Case& c : cases) {
        joysticks_.hold(1, c.mask);
        clock_.clearSleeps();
        EXPECT_EQ(poll(), c.expected) << "mask " << c.mask;
        // A poll that sees a button down waits 125 ms; one that sees none does not wait.
        EXPECT_EQ(clock_.sleeps(), c.mask != 0 ? std::vector<int>{125} : std::vector<int>{})
            << "mask " << c.mask;
    }
}

TEST_F(ControlsTest, SetupCompleteWithoutControlsSectionBindsNothing) {
    joysticks_.plug(0, kMid, kPid);
    const std::string out = startWithBindings({});
    EXPECT_NE(out.find(" Controllers available: 1\n Setup done.\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Controller Configuration Loaded."), std::string::npos) << out;
    EXPECT_EQ(controls::Controls().ControllersAvailable, 1);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(controls::Controls().binding(i), "") << controls::kFunctions[i].key;
    }
    for (uint32_t mask : {0u, 1u, 2u, 4u, 5u, 0xFFFFFFFFu}) {
        joysticks_.hold(0, mask);
        EXPECT_EQ(poll(), 0u) << "mask " << mask;
    }
}

TEST_F(ControlsTest, NoControllerAtStartUpLeavesOnlyTheKeyboard) {
    writeSetting("Setup", "SetupComplete", "1");
    writeSetting("Controls", "Fuel", bindingFor(1));
    const std::string out = setup();
    EXPECT_EQ(out, " No controlers available\n");
    EXPECT_EQ(controls::Controls().ControllersAvailable, 0);
    EXPECT_EQ(controls::Controls().FuelBinding, "") << "no bindings are loaded";

    // A controller plugged in later is never polled.
    joysticks_.plug(0, kMid, kPid);
    joysticks_.hold(0, 1);
    const int readingsBefore = joysticks_.totalReadings();
    keyboard_.setDown(platform::kVkRightControl, true);
    keyboard_.setDown(platform::kVkRightShift, true);
    keyboard_.setDown(platform::kVkInsert, true);
    EXPECT_EQ(poll(), kFuel);
    EXPECT_EQ(joysticks_.totalReadings(), readingsBefore);
    EXPECT_TRUE(clock_.sleeps().empty());
}

TEST_F(ControlsTest, KeyboardShortcutsNeedRightCtrlAndRightShift) {
    startWithBindings({});  // no controller: keyboard only
    using K = platform::VirtualKey;
    struct Case {
        std::vector<int> down;
        uint32_t expected;
    };
    const Case cases[] = {
        {{K::kVkHome}, 0},
        {{K::kVkRightControl, K::kVkHome}, 0},
        {{K::kVkRightShift, K::kVkHome}, 0},
        {{K::kVkRightControl, K::kVkRightShift}, 0},
        {{K::kVkRightControl, K::kVkRightShift, K::kVkHome}, kTire},
        {{K::kVkRightControl, K::kVkRightShift, K::kVkInsert}, kFuel},
        {{K::kVkRightControl, K::kVkRightShift, K::kVkDelete}, kWeather},
        {{K::kVkRightControl, K::kVkRightShift, K::kVkEnd}, kStint},
        {{K::kVkRightControl, K::kVkRightShift, K::kVkPageUp}, kModeOption},
        {{K::kVkRightControl, K::kVkRightShift, K::kVkPageDown}, kModeConfig},
        {{K::kVkRightControl, K::kVkRightShift, K::kVkInsert, K::kVkHome, K::kVkDelete, K::kVkEnd,
          K::kVkPageUp, K::kVkPageDown},
         63},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        keyboard_.releaseAll();
        for (int key : cases[i].down) {
            keyboard_.setDown(key, true);
        }
        EXPECT_EQ(poll(), cases[i].expected) << "case " << i;
    }
}

TEST_F(ControlsTest, HeldShortcutFiresInEveryPollAndATapOnce) {
    startWithBindings({});
    keyboard_.setDown(platform::kVkRightControl, true);
    keyboard_.setDown(platform::kVkRightShift, true);
    keyboard_.setDown(platform::kVkHome, true);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(poll(), kTire) << "poll " << i;
    }
    keyboard_.setDown(platform::kVkHome, false);
    EXPECT_EQ(poll(), 0u);
    // Home went down and up between two polls: GetAsyncKeyState's "pressed since" bit counts.
    keyboard_.tap(platform::kVkHome);
    EXPECT_EQ(poll(), kTire);
    EXPECT_EQ(poll(), 0u);
}

TEST_F(ControlsTest, ControllerAndKeyboardBitsAddUp) {
    joysticks_.plug(0, kMid, kPid);
    startWithBindings({bindingFor(1)});
    joysticks_.hold(0, 1);
    keyboard_.setDown(platform::kVkRightControl, true);
    keyboard_.setDown(platform::kVkRightShift, true);
    keyboard_.setDown(platform::kVkEnd, true);
    EXPECT_EQ(poll(), kFuel | kStint);
}

TEST_F(ControlsTest, LastAnsweringControllerDecides) {
    joysticks_.plug(0, kMid, kPid);
    joysticks_.plug(3, 1, 2);
    startWithBindings({bindingFor(1), bindingFor(1, 1, 2)});
    struct Case {
        uint32_t first;  // buttons on index 0
        uint32_t last;   // buttons on index 3
        bool lastAnswers;
        uint32_t expected;
        int waits;
    };
    const Case cases[] = {
        {1, 0, true, 0, 1},      // index 3 answers with nothing down and overrides index 0
        {1, 1, true, kTire, 2},  // both down: each waits, index 3 decides
        {0, 1, true, kTire, 1}, {1, 1, false, kFuel, 1},  // index 3 silent: index 0 decides
        {0, 0, true, 0, 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        joysticks_.hold(0, cases[i].first);
        joysticks_.hold(3, cases[i].last);
        joysticks_.setAnswering(3, cases[i].lastAnswers);
        clock_.clearSleeps();
        EXPECT_EQ(poll(), cases[i].expected) << "case " << i;
        EXPECT_EQ(clock_.sleeps().size(), static_cast<size_t>(cases[i].waits)) << "case " << i;
    }
}

TEST_F(ControlsTest, ControllerThatStopsAnsweringIsSkippedUntilItAnswersAgain) {
    joysticks_.plug(2, kMid, kPid);
    startWithBindings({bindingFor(2)});
    joysticks_.hold(2, 2);
    EXPECT_EQ(poll(), kFuel);
    joysticks_.setAnswering(2, false);
    EXPECT_EQ(poll(), 0u) << "nothing answers: no candidate, nothing raised";
    EXPECT_EQ(poll(), 0u);
    joysticks_.setAnswering(2, true);
    EXPECT_EQ(poll(), kFuel);
    // Unplugged and plugged in again on another index: the binding names the model, not the
    // index.
    joysticks_.unplug(2);
    EXPECT_EQ(poll(), 0u);
    joysticks_.plug(7, kMid, kPid);
    joysticks_.hold(7, 2);
    EXPECT_EQ(poll(), kFuel);
}

TEST_F(ControlsTest, HandEditedNoButtonTextMatchesNothing) {
    joysticks_.plug(0, kMid, kPid);
    startWithBindings({"n", bindingFor(1)});
    EXPECT_EQ(poll(), 0u) << "no button down must not raise a binding that reads \"n\"";
    joysticks_.hold(0, 1);
    EXPECT_EQ(poll(), kTire);
}

// Presses the next scripted mask on index `index` after a few idle passes of the dialogue, and
// lets go during the 1500 ms that follow each capture.
class ScriptedDriver {
  public:
    ScriptedDriver(testsupport::FakeJoysticks& joysticks, testsupport::VirtualClock& clock,
                   unsigned index, std::vector<uint32_t> masks)
        : joysticks_(joysticks), index_(index), masks_(std::move(masks)) {
        joysticks_.setReadHook([this](unsigned i) {
            if (i == 0) {
                ++passes_;  // every pass starts at index 0
            }
            if (i == index_ && !holding_ && next_ < masks_.size() && passes_ >= 6) {
                joysticks_.hold(index_, masks_[next_++]);
                holding_ = true;
            }
        });
        clock.setSleepHook([this](int ms) {
            if (ms == 1500) {
                joysticks_.releaseAll();
                holding_ = false;
                passes_ = 0;
            }
        });
    }

  private:
    testsupport::FakeJoysticks& joysticks_;
    unsigned index_;
    std::vector<uint32_t> masks_;
    size_t next_ = 0;
    int passes_ = 0;
    bool holding_ = false;
};

TEST_F(ControlsTest, FirstRunDialogueStoresSixBindingsAndTheNextStartLoadsThem) {
    joysticks_.plug(4, kMid, kPid);
    const std::vector<uint32_t> masks = {4, 5, 8, 16, 1, 2};
    ScriptedDriver driver(joysticks_, clock_, 4, masks);

    const std::string out = setup();
    std::string expected =
        " Controllers available: 1\n Setup Not done.\n"
        "\n Setting up controls for 6 functions;\n\n"
        " Press controller button to assign the following controls:\n";
    for (int i = 0; i < 6; ++i) {
        expected += controls::kFunctions[i].prompt;
        expected += "Button Saved. (" + bindingFor(masks[i]) + ")";
    }
    expected += "\n [\033[32m DONE \033[0m]  Configuration Complete.\n\n";
    expected += "\n [\033[32m  OK  \033[0m]  Loading Controller Configuration.";
    expected += "\n [\033[32m  OK  \033[0m]  Controller Configuration Loaded.\n";
    EXPECT_EQ(out, expected);
    EXPECT_EQ(clock_.sleeps(), std::vector<int>(6, 1500));

    EXPECT_EQ(platform::profileInt("Setup", "SetupComplete", 0, settings_), 1);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(platform::profileString("Controls", controls::kFunctions[i].key, "", settings_),
                  bindingFor(masks[i]));
        EXPECT_EQ(controls::Controls().binding(i), bindingFor(masks[i]));
    }

    // The next start.
    joysticks_.setReadHook(nullptr);
    clock_.setSleepHook(nullptr);
    controls::ResetControls();
    const std::string second = setup();
    EXPECT_NE(second.find(" Setup done.\n"), std::string::npos) << second;
    EXPECT_EQ(second.find("Setup Not done."), std::string::npos) << second;
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(controls::Controls().binding(i), bindingFor(masks[i]));
    }
    joysticks_.hold(4, 5);
    EXPECT_EQ(poll(), kTire);
}

TEST_F(ControlsTest, CaptureTakesTheLastControllerWithAButtonDownInThePass) {
    joysticks_.plug(1, kMid, kPid);
    joysticks_.plug(6, 1, 2);
    int idlePasses = 0;
    joysticks_.setReadHook([&](unsigned index) {
        if (index == 0 && ++idlePasses == 50) {
            joysticks_.hold(1, 3);
            joysticks_.hold(6, 9);
        }
    });
    testing::internal::CaptureStdout();
    const std::string captured = controls::CaptureButton();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(captured, bindingFor(9, 1, 2));
    EXPECT_EQ(out,
              "Button Saved. (" + bindingFor(3) + ")Button Saved. (" + bindingFor(9, 1, 2) + ")");
    EXPECT_EQ(clock_.sleeps(), (std::vector<int>{1500, 1500}));
}

TEST_F(ControlsTest, UnwritableSettingsKeepTheBindingsForThisRunAndSaySo) {
    common::setSettingsPath((dir_ / "missing" / "folder" / "Qm_Korvane_Launcher.ini").string());
    joysticks_.plug(0, kMid, kPid);
    ScriptedDriver driver(joysticks_, clock_, 0, {1, 2, 4, 8, 16, 32});
    const std::string out = setup();
    EXPECT_EQ(out.find("Configuration Complete."), std::string::npos) << out;
    EXPECT_NE(out.find("FAIL"), std::string::npos) << out;
    EXPECT_NE(out.find("this run only"), std::string::npos) << out;
    joysticks_.setReadHook(nullptr);
    joysticks_.hold(0, 4);
    EXPECT_EQ(poll(), kWeather);
}

TEST_F(ControlsTest, MissingKeyboardIsReportedOnceAtStartUp) {
    keyboard_.setUnavailable("no input devices in /dev/input");
    const std::string first = setup();
    EXPECT_EQ(first,
              " No controlers available\n"
              " [ INFO ]  Keyboard shortcuts unavailable: no input devices in /dev/input\n");
    EXPECT_EQ(setup(), " No controlers available\n");
    EXPECT_EQ(poll(), 0u);
}

}  // namespace
