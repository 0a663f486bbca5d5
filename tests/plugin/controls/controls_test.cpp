#include "plugin/controls/controls.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
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
using namespace engineer;  // the function bits
using K = platform::VirtualKey;

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

    // Start-up with SetupComplete 1 and the given bindings in table order ("" = key missing).
    std::string startWithBindings(const std::vector<std::string>& bindings) {
        EXPECT_TRUE(platform::writeProfileString("Setup", "SetupComplete", "1", settings_));
        for (size_t i = 0; i < bindings.size(); ++i) {
            if (!bindings[i].empty()) {
                EXPECT_TRUE(platform::writeProfileString("Controls", controls::kFunctions[i].key,
                                                         bindings[i], settings_));
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
    void holdKeys(const std::vector<int>& keys) {
        keyboard_.releaseAll();
        for (int key : keys) {
            keyboard_.setDown(key, true);
        }
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
    const struct {
        uint32_t mask;
        std::vector<int> keys;  // held on the keyboard meanwhile
        uint32_t expected;
    } cases[] = {
        {4, {}, kFuel},              // button 3 alone, and not ModeConfig's "…:40"
        {5, {}, kTire},              // buttons 1 and 3: the chord, not Fuel
        {1, {}, 0},                  // button 1 alone is no part of any binding
        {8, {}, kWeather | kStint},  // two functions on one button
        {12, {}, 0},                 // a further button held spoils every binding
        {0, {}, 0},
        {40, {}, kModeConfig},  // buttons 4 and 6
        {4, {K::kVkRightControl, K::kVkRightShift, K::kVkEnd}, kFuel | kStint},
    };
    for (const auto& c : cases) {
        joysticks_.hold(1, c.mask);
        holdKeys(c.keys);
        clock_.clearSleeps();
        EXPECT_EQ(poll(), c.expected) << "mask " << c.mask;
        // A poll that sees a button down waits 125 ms; one that sees none does not wait.
        EXPECT_EQ(clock_.sleeps(), c.mask != 0 ? std::vector<int>{125} : std::vector<int>{})
            << "mask " << c.mask;
    }
}

TEST_F(ControlsTest, StartUpWithoutBindingsOrControllers) {
    joysticks_.plug(0, kMid, kPid);
    std::string out = startWithBindings({});
    EXPECT_NE(out.find(" Controllers available: 1\n Setup done.\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Controller Configuration Loaded."), std::string::npos) << out;
    EXPECT_EQ(controls::Controls().ControllersAvailable, 1);
    for (uint32_t mask : {0u, 1u, 5u, 0xFFFFFFFFu}) {
        joysticks_.hold(0, mask);
        EXPECT_EQ(poll(), 0u) << "no Controls section binds nothing: mask " << mask;
    }

    // No controller at start-up: no bindings are loaded, and one plugged in later is never
    // polled; the keyboard still works. A missing keyboard is said once.
    joysticks_.unplug(0);
    controls::ResetControls();
    ASSERT_TRUE(platform::writeProfileString("Controls", "Fuel", bindingFor(1), settings_));
    keyboard_.setUnavailable("no input devices in /dev/input");
    out = setup();
    EXPECT_EQ(out,
              " No controlers available\n"
              " [ INFO ]  Keyboard shortcuts unavailable: no input devices in /dev/input\n");
    EXPECT_EQ(setup(), " No controlers available\n");
    EXPECT_EQ(controls::Controls().ControllersAvailable, 0);
    EXPECT_EQ(controls::Controls().FuelBinding, "");
    keyboard_.setUnavailable("");
    joysticks_.plug(0, kMid, kPid);
    joysticks_.hold(0, 1);
    const int readingsBefore = joysticks_.totalReadings();
    clock_.clearSleeps();
    holdKeys({K::kVkRightControl, K::kVkRightShift, K::kVkInsert});
    EXPECT_EQ(poll(), kFuel);
    EXPECT_EQ(joysticks_.totalReadings(), readingsBefore);
    EXPECT_TRUE(clock_.sleeps().empty());
}

TEST_F(ControlsTest, KeyboardShortcutsNeedRightCtrlAndRightShift) {
    startWithBindings({});  // no controller: keyboard only
    const struct {
        std::vector<int> down;
        uint32_t expected;
    } cases[] = {
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
        holdKeys(cases[i].down);
        EXPECT_EQ(poll(), cases[i].expected) << "case " << i;
        EXPECT_EQ(poll(), cases[i].expected) << "held, case " << i;
    }
    // Home went down and up between two polls: GetAsyncKeyState's "pressed since" bit counts.
    holdKeys({K::kVkRightControl, K::kVkRightShift});
    keyboard_.tap(K::kVkHome);
    EXPECT_EQ(poll(), kTire);
    EXPECT_EQ(poll(), 0u);
}

TEST_F(ControlsTest, LastAnsweringControllerDecides) {
    joysticks_.plug(0, kMid, kPid);
    joysticks_.plug(3, 1, 2);
    startWithBindings({bindingFor(1), bindingFor(1, 1, 2)});
    const struct {
        uint32_t first;  // buttons on index 0
        uint32_t last;   // buttons on index 3
        bool lastAnswers;
        uint32_t expected;
        int waits;
    } cases[] = {
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
    startWithBindings({bindingFor(2), "n"});  // Tire hand-edited to a text that is no button
    joysticks_.hold(2, 2);
    EXPECT_EQ(poll(), kFuel);
    joysticks_.setAnswering(2, false);
    EXPECT_EQ(poll(), 0u) << "nothing answers: no candidate, nothing raised";
    joysticks_.setAnswering(2, true);
    joysticks_.hold(2, 0);
    EXPECT_EQ(poll(), 0u) << "no button down must not raise a binding that reads \"n\"";
    // Unplugged and plugged in again on another index: the binding names the model.
    joysticks_.unplug(2);
    joysticks_.plug(7, kMid, kPid);
    joysticks_.hold(7, 2);
    EXPECT_EQ(poll(), kFuel);
}

// Presses the next scripted mask on index `index` after a few idle passes of the dialogue, and
// lets go during the 1500 ms that follow each capture. `onPress` sees the number of each press
// before it is made.
class ScriptedDriver {
  public:
    ScriptedDriver(testsupport::FakeJoysticks& joysticks, testsupport::VirtualClock& clock,
                   unsigned index, std::vector<uint32_t> masks,
                   std::function<void(size_t)> onPress = nullptr)
        : joysticks_(joysticks), index_(index), masks_(std::move(masks)) {
        joysticks_.setReadHook([this, onPress](unsigned i) {
            passes_ += i == 0 ? 1 : 0;  // every pass starts at index 0
            if (i == index_ && !holding_ && next_ < masks_.size() && passes_ >= 6) {
                if (onPress) {
                    onPress(next_);
                }
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

// Standard output into a file of the test's own: what the program has flushed is in the file.
// A terminal's output is line-buffered and the prompts end without a line feed, so a prompt
// that is not flushed is not on the screen while the dialogue waits for a button.
class StdoutToFile {
  public:
    explicit StdoutToFile(const fs::path& path) : path_(path) {
        std::fflush(stdout);
        saved_ = dup(1);
        std::FILE* file = std::fopen(path.string().c_str(), "wb");
        dup2(fileno(file), 1);
        std::fclose(file);
    }
    std::string flushed() const {
        std::ifstream in(path_);  // text mode, as a Windows console line end reads "\n"
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::string finish() {
        std::fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
        return flushed();
    }

  private:
    fs::path path_;
    int saved_;
};

TEST_F(ControlsTest, FirstRunDialogueStoresSixBindingsAndTheNextStartLoadsThem) {
    joysticks_.plug(4, kMid, kPid);
    const std::vector<uint32_t> masks = {4, 5, 8, 16, 1, 2};
    StdoutToFile screen(dir_ / "screen.txt");
    ScriptedDriver driver(joysticks_, clock_, 4, masks, [&](size_t n) {
        const std::string shown = screen.flushed();
        const std::string prompt = controls::kFunctions[n].prompt;
        EXPECT_EQ(shown.substr(shown.size() - std::min(shown.size(), prompt.size())), prompt)
            << "not on the screen while the dialogue waits";
    });
    controls::SetupControllers();
    const std::string out = screen.finish();
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

    // The next start.
    joysticks_.setReadHook(nullptr);
    clock_.setSleepHook(nullptr);
    controls::ResetControls();
    const std::string second = setup();
    EXPECT_NE(second.find(" Setup done.\n"), std::string::npos) << second;
    EXPECT_EQ(second.find("Setup Not done."), std::string::npos) << second;
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(platform::profileString("Controls", controls::kFunctions[i].key, "", settings_),
                  bindingFor(masks[i]));
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
    const std::string unwritable = (dir_ / "missing" / "Qm_Korvane_Launcher.ini").string();
    // The file unwritable from the start, or only while the second to fifth binding are saved.
    for (const size_t from : {0, 1}) {
        SCOPED_TRACE(from);
        controls::ResetControls();
        common::setSettingsPath(settings_);
        joysticks_.plug(0, kMid, kPid);
        ScriptedDriver driver(joysticks_, clock_, 0, {1, 2, 4, 8, 16, 32}, [&](size_t n) {
            if (n == from) {
                common::setSettingsPath(unwritable);
            } else if (n == 5 && from > 0) {
                common::setSettingsPath(settings_);
            }
        });
        const std::string out = setup();
        EXPECT_EQ(out.find("Configuration Complete."), std::string::npos) << out;
        EXPECT_NE(out.find("FAIL"), std::string::npos) << out;
        EXPECT_NE(out.find("this run only"), std::string::npos) << out;
        joysticks_.setReadHook(nullptr);
        clock_.setSleepHook(nullptr);
        joysticks_.hold(0, 4);
        EXPECT_EQ(poll(), kWeather);
    }
}

}  // namespace
