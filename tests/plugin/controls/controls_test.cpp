#include "plugin/controls/controls.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/settings_file.h"
#include "platform/joystick.h"
#include "platform/keyboard.h"
#include "platform/settings.h"
#include "plugin/engineer/race_state.h"
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

// Controllers by index, plugged in, held and silenced by the test; `onRead` runs before every
// reading, so a test can press buttons while the code under test waits for them.
struct FakeJoysticks : platform::Joysticks {
    struct Controller {
        platform::JoystickIds ids;
        uint32_t buttons = 0;  // button 1 as bit 0
        bool answering = true;
    };
    std::map<unsigned, Controller> plugged;
    std::function<void(unsigned index)> onRead;
    int readings = 0;

    void plug(unsigned index, uint16_t mid, uint16_t pid) { plugged[index] = {{mid, pid}}; }
    void hold(unsigned index, uint32_t buttons) { plugged.at(index).buttons = buttons; }
    unsigned indexCount() override { return 16; }
    bool readButtons(unsigned index, uint32_t& buttons) override {
        if (onRead) {
            onRead(index);
        }
        ++readings;
        auto it = plugged.find(index);
        const bool answers = it != plugged.end() && it->second.answering;
        buttons = answers ? it->second.buttons : 0;
        return answers;
    }
    platform::JoystickIds ids(unsigned index) override {
        return plugged.count(index) ? plugged[index].ids : platform::JoystickIds{};
    }
};

// `tapped` keys went down and up again since the last query: the next query of each reports the
// press, later ones do not.
struct FakeKeyboard : platform::Keyboard {
    std::set<int> down, tapped;
    std::string unavailable;

    bool available() override { return unavailable.empty(); }
    std::string unavailableReason() override { return unavailable; }
    uint16_t asyncKeyState(int key) override {
        return static_cast<uint16_t>((down.count(key) ? platform::kKeyDown : 0) |
                                     (tapped.erase(key) ? platform::kKeyPressedSinceLastQuery : 0));
    }
};

class ControlsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = testsupport::freshTestFolder("korvane_controls");
        settings_ = (dir_ / "Qm_Korvane_Launcher.ini").string();
        common::setSettingsPath(settings_);
        controls::ResetControls();
        engineer::ResetRaceState();
        platform::setJoysticks(&joysticks_);
        platform::setKeyboard(&keyboard_);
    }
    void TearDown() override {
        platform::setJoysticks(nullptr);
        platform::setKeyboard(nullptr);
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

    // The driver at the dialogue: presses the next of `masks` on `index` after a few idle passes
    // and lets go during the 1500 ms after each capture. `onPress` sees each press's number
    // before it is made.
    void pressInTurn(unsigned index, std::vector<uint32_t> masks,
                     std::function<void(size_t)> onPress) {
        joysticks_.onRead = [=, this, next = size_t{0}](unsigned i) mutable {
            passes_ += i == 0 ? 1 : 0;  // every pass starts at index 0
            if (i == index && !holding_ && next < masks.size() && passes_ >= 6) {
                onPress(next);
                joysticks_.hold(index, masks[next++]);
                holding_ = true;
            }
        };
        clock_.setSleepHook([this](int ms) {
            if (ms == 1500) {
                for (auto& [i, controller] : joysticks_.plugged) {
                    controller.buttons = 0;
                }
                holding_ = false;
                passes_ = 0;
            }
        });
    }
    void stopPressing() {
        joysticks_.onRead = nullptr;
        clock_.setSleepHook(nullptr);
    }

    fs::path dir_;
    std::string settings_;
    testsupport::VirtualClock clock_;
    testsupport::ScopedClock scopedClock_{clock_};
    FakeJoysticks joysticks_;
    FakeKeyboard keyboard_;
    int passes_ = 0;
    bool holding_ = false;
};

TEST_F(ControlsTest, ButtonMasksMatchWholeBindingsOfTheSameModelAndKeysNeedRightCtrlAndShift) {
    joysticks_.plug(1, kMid, kPid);
    // Fuel on button 3, Tire on the chord of buttons 1 and 3, Weather and Stint both on button 4,
    // ModeOption on button 3 of another model, ModeConfig on a text that merely starts alike.
    startWithBindings({bindingFor(4), bindingFor(5), bindingFor(8), bindingFor(8),
                       bindingFor(4, 1, 2), bindingFor(4) + "0"});
    const int ctrl = K::kVkRightControl, shift = K::kVkRightShift;
    const struct {
        uint32_t mask;
        std::set<int> keys;  // held on the keyboard meanwhile
        uint32_t expected;
    } cases[] = {
        {4, {}, kFuel},              // button 3 alone, and not ModeConfig's "…:40"
        {5, {}, kTire},              // buttons 1 and 3: the chord, not Fuel
        {1, {}, 0},                  // button 1 alone is no part of any binding
        {8, {}, kWeather | kStint},  // two functions on one button
        {12, {}, 0},                 // a further button held spoils every binding
        {0, {}, 0},
        {40, {}, kModeConfig},  // buttons 4 and 6
        {4, {ctrl, shift, K::kVkEnd}, kFuel | kStint},
        {0, {K::kVkHome}, 0},
        {0, {ctrl, K::kVkHome}, 0},
        {0, {shift, K::kVkHome}, 0},
        {0, {ctrl, shift}, 0},
        {0, {ctrl, shift, K::kVkHome}, kTire},
        {0, {ctrl, shift, K::kVkInsert}, kFuel},
        {0, {ctrl, shift, K::kVkDelete}, kWeather},
        {0, {ctrl, shift, K::kVkEnd}, kStint},
        {0, {ctrl, shift, K::kVkPageUp}, kModeOption},
        {0, {ctrl, shift, K::kVkPageDown}, kModeConfig},
        {0,
         {ctrl, shift, K::kVkInsert, K::kVkHome, K::kVkDelete, K::kVkEnd, K::kVkPageUp,
          K::kVkPageDown},
         63},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        joysticks_.hold(1, cases[i].mask);
        keyboard_.down = cases[i].keys;
        clock_.clearSleeps();
        EXPECT_EQ(poll(), cases[i].expected);
        // A poll that sees a button down waits 125 ms; one that sees none does not wait.
        EXPECT_EQ(clock_.sleeps(), cases[i].mask ? std::vector<int>{125} : std::vector<int>{});
        EXPECT_EQ(poll(), cases[i].expected) << "held";
    }
    // Home went down and up between two polls: GetAsyncKeyState's "pressed since" bit counts.
    joysticks_.hold(1, 0);
    keyboard_.down = {ctrl, shift};
    keyboard_.tapped = {K::kVkHome};
    EXPECT_EQ(poll(), kTire);
    EXPECT_EQ(poll(), 0u);
}

TEST_F(ControlsTest, WithoutAControllerAtStartUpOnlyTheKeyboardIsPolled) {
    // No bindings are loaded, and a controller plugged in later is never polled; the keyboard
    // still works. A missing keyboard is said once.
    ASSERT_TRUE(platform::writeProfileString("Controls", "Fuel", bindingFor(1), settings_));
    keyboard_.unavailable = "no input devices in /dev/input";
    const std::string out = startWithBindings({});
    EXPECT_EQ(out,
              " No controlers available\n"
              " [ INFO ]  Keyboard shortcuts unavailable: no input devices in /dev/input\n");
    EXPECT_EQ(setup(), " No controlers available\n");
    EXPECT_EQ(controls::Controls().ControllersAvailable, 0);
    EXPECT_EQ(controls::Controls().FuelBinding, "");
    keyboard_.unavailable = "";
    joysticks_.plug(0, kMid, kPid);
    joysticks_.hold(0, 1);
    const int readingsBefore = joysticks_.readings;
    clock_.clearSleeps();
    keyboard_.down = {K::kVkRightControl, K::kVkRightShift, K::kVkInsert};
    EXPECT_EQ(poll(), kFuel);
    EXPECT_EQ(joysticks_.readings, readingsBefore);
    EXPECT_TRUE(clock_.sleeps().empty());
}

TEST_F(ControlsTest, LastAnsweringControllerDecides) {
    joysticks_.plug(0, kMid, kPid);
    joysticks_.plug(3, 1, 2);
    // Weather hand-edited to a text that is no button.
    startWithBindings({bindingFor(1), bindingFor(1, 1, 2), "n"});
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
        {0, 0, true, 0, 0},  // no button down raises nothing, not even the "n" of Weather
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        joysticks_.hold(0, cases[i].first);
        joysticks_.hold(3, cases[i].last);
        joysticks_.plugged[3].answering = cases[i].lastAnswers;
        clock_.clearSleeps();
        EXPECT_EQ(poll(), cases[i].expected) << "case " << i;
        EXPECT_EQ(clock_.sleeps().size(), static_cast<size_t>(cases[i].waits)) << "case " << i;
    }
}

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
    pressInTurn(4, masks, [&](size_t n) {
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
    stopPressing();
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
    joysticks_.onRead = [&](unsigned index) {
        if (index == 0 && ++idlePasses == 50) {
            joysticks_.hold(1, 3);
            joysticks_.hold(6, 9);
        }
    };
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
        pressInTurn(0, {1, 2, 4, 8, 16, 32}, [&](size_t n) {
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
        stopPressing();
        joysticks_.hold(0, 4);
        EXPECT_EQ(poll(), kWeather);
    }
}

}  // namespace
