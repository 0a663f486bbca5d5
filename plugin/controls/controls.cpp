#include "plugin/controls/controls.h"

#include <cstdio>
#include <optional>

#include "common/settings_file.h"
#include "platform/clock.h"
#include "platform/joystick.h"
#include "platform/keyboard.h"
#include "plugin/engineer/race_state.h"

namespace controls {

const FunctionInfo kFunctions[6] = {
    {"Fuel", engineer::kFuel, "\n Fuel Control:         ", platform::kVkInsert},
    {"Tire", engineer::kTire, "\n Tire Control:         ", platform::kVkHome},
    {"Weather", engineer::kWeather, "\n VWeather Control:     ", platform::kVkDelete},
    {"Stint", engineer::kStint, "\n Stint Control:        ", platform::kVkEnd},
    {"ModeOption", engineer::kModeOption, "\n Mode Option Control:  ", platform::kVkPageUp},
    {"ModeConfig", engineer::kModeConfig, "\n Mode Config Control:  ", platform::kVkPageDown},
};

namespace {

// The settings buffer of a binding holds 32 bytes.
constexpr size_t kBindingLength = 31;
// After a press is captured the driver has this long to let go before the next prompt.
constexpr int kCaptureSettleMs = 1500;
// Damps a held button: a poll that sees a button down waits this long.
constexpr int kPressDampingMs = 125;

ControlsState& state() {
    static ControlsState s;
    return s;
}

// One probe of an index: the first reading tells whether the controller answers, the button
// mask is taken from a second one.
bool probe(unsigned index, uint32_t& buttons) {
    platform::Joysticks& joysticks = platform::joysticks();
    uint32_t first = 0;
    if (!joysticks.readButtons(index, first)) {
        return false;
    }
    joysticks.readButtons(index, buttons);
    return true;
}

std::string bindingText(unsigned index, uint32_t buttons) {
    const platform::JoystickIds ids = platform::joysticks().ids(index);
    char text[48];
    std::snprintf(text, sizeof(text), "%d:%d:%d", static_cast<int>(ids.manufacturerId),
                  static_cast<int>(ids.productId), static_cast<int>(buttons));
    return text;
}

void print(const char* text) {
    std::fputs(text, stdout);
    // Prompts end without a line feed and the program then waits for a button: they must be on
    // the screen before that.
    std::fflush(stdout);
}

void noticeKeyboard() {
    ControlsState& s = state();
    platform::Keyboard& keyboard = platform::keyboard();
    if (s.KeyboardNoticeGiven || keyboard.available()) {
        return;
    }
    s.KeyboardNoticeGiven = true;
    std::printf(" [ INFO ]  Keyboard shortcuts unavailable: %s\n",
                keyboard.unavailableReason().c_str());
    std::fflush(stdout);
}

}  // namespace

std::string& ControlsState::binding(int i) {
    std::string* fields[6] = {&FuelBinding,  &TireBinding,       &WeatherBinding,
                              &StintBinding, &ModeOptionBinding, &ModeConfigBinding};
    return *fields[i];
}

ControlsState& Controls() {
    return state();
}

void ResetControls() {
    state() = ControlsState{};
}

void SetupControllers() {
    platform::Joysticks& joysticks = platform::joysticks();
    int answering = 0;
    const unsigned count = joysticks.indexCount();
    for (unsigned i = 0; i < count; ++i) {
        uint32_t buttons = 0;
        if (probe(i, buttons)) {
            joysticks.ids(i);
            ++answering;
        }
    }
    const int setupComplete = common::readSetupComplete();

    ControlsState& s = state();
    if (answering == 0) {
        print(" No controlers available\n");
        s.ControllersAvailable = 0;
        noticeKeyboard();
        return;
    }
    std::printf(" Controllers available: %d\n", answering);
    if (setupComplete == 0) {
        print(" Setup Not done.\n");
        print("\n Setting up controls for 6 functions;\n\n");
        print(" Press controller button to assign the following controls:\n");
        std::string captured[6];
        bool saved = true;
        for (int i = 0; i < 6; ++i) {
            print(kFunctions[i].prompt);
            captured[i] = CaptureButton();
            saved = common::writeControlBinding(kFunctions[i].key, captured[i]) && saved;
        }
        saved = common::writeSetupComplete() && saved;
        if (saved) {
            print("\n [\033[32m DONE \033[0m]  Configuration Complete.\n\n");
        } else {
            std::printf(
                "\n [\033[33m FAIL \033[0m]  Could not save the configuration to %s; "
                "it holds for this run only.\n\n",
                common::settingsPath().c_str());
            std::fflush(stdout);
        }
        LoadControllerBindings();
        if (!saved) {
            // What the driver just pressed must not be lost with the file.
            for (int i = 0; i < 6; ++i) {
                s.binding(i) = captured[i].substr(0, kBindingLength);
            }
        }
    } else {
        print(" Setup done.\n");
        LoadControllerBindings();
    }
    s.ControllersAvailable = 1;
    noticeKeyboard();
}

std::string CaptureButton() {
    platform::Joysticks& joysticks = platform::joysticks();
    const unsigned count = joysticks.indexCount();
    for (;;) {
        std::string captured;
        for (unsigned i = 0; i < count; ++i) {
            uint32_t buttons = 0;
            if (probe(i, buttons) && buttons != 0) {
                captured = bindingText(i, buttons);
                std::printf("Button Saved. (%s)", captured.c_str());
                std::fflush(stdout);
                platform::sleepMs(kCaptureSettleMs);
            }
        }
        if (!captured.empty()) {
            return captured;
        }
    }
}

void LoadControllerBindings() {
    print("\n [\033[32m  OK  \033[0m]  Loading Controller Configuration.");
    ControlsState& s = state();
    for (int i = 0; i < 6; ++i) {
        s.binding(i) = common::readControlBinding(kFunctions[i].key).substr(0, kBindingLength);
    }
    print("\n [\033[32m  OK  \033[0m]  Controller Configuration Loaded.\n");
}

void PollControls() {
    uint32_t& pressed = engineer::Race().PressedFunctions;
    pressed = 0;
    ControlsState& s = state();

    if (s.ControllersAvailable == 1) {
        // Every answering controller replaces the candidate, so the last one in index order
        // decides; nullopt while none answers, and also while the deciding controller has no
        // button down, which must raise nothing even if a hand-edited binding says "n".
        std::optional<std::string> candidate;
        platform::Joysticks& joysticks = platform::joysticks();
        const unsigned count = joysticks.indexCount();
        for (unsigned i = 0; i < count; ++i) {
            uint32_t buttons = 0;
            if (!probe(i, buttons)) {
                continue;
            }
            if (buttons != 0) {
                candidate = bindingText(i, buttons);
                platform::sleepMs(kPressDampingMs);
            } else {
                candidate.reset();
            }
        }
        if (candidate) {
            for (int i = 0; i < 6; ++i) {
                if (s.binding(i) == *candidate) {
                    pressed |= kFunctions[i].bit;
                }
            }
        }
    }

    platform::Keyboard& keyboard = platform::keyboard();
    if (keyboard.asyncKeyState(platform::kVkRightControl) != 0 &&
        keyboard.asyncKeyState(platform::kVkRightShift) != 0) {
        for (const FunctionInfo& f : kFunctions) {
            if (keyboard.asyncKeyState(f.virtualKey) != 0) {
                pressed |= f.bit;
            }
        }
    }
}

}  // namespace controls
