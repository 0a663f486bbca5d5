#pragma once
// The driver's six functions on controller buttons and keyboard shortcuts.
//
// Each function can be bound to a button, or a chord of buttons held together, on any
// controller; the binding is the text "<manufacturer id>:<product id>:<button mask>", so it names
// a model and not a particular controller. The first start asks for the bindings on the console
// and stores them in the settings file; later starts load them. Every tick then polls the
// controllers and the keyboard and leaves the pressed functions in
// engineer::Race().PressedFunctions. Everything here runs on the main thread.

#include <cstdint>
#include <string>

namespace controls {

// The functions in the order of setup, loading and comparison.
struct FunctionInfo {
    const char* key;     // settings key in section "Controls"
    uint32_t bit;        // bit in PressedFunctions
    const char* prompt;  // setup dialogue prompt
    int virtualKey;      // keyboard shortcut, with Right Ctrl and Right Shift held
};
extern const FunctionInfo kFunctions[6];

struct ControlsState {
    std::string FuelBinding;
    std::string TireBinding;
    std::string WeatherBinding;
    std::string StintBinding;
    std::string ModeOptionBinding;
    std::string ModeConfigBinding;
    // 1 when a controller answered at start-up and the bindings were loaded; controllers are
    // polled only then.
    uint8_t ControllersAvailable = 0;
    // The notice that keyboard shortcuts cannot work here has been given.
    bool KeyboardNoticeGiven = false;

    // The binding of kFunctions[i].
    std::string& binding(int i);
};

ControlsState& Controls();
// Back to the start-of-run state (tests).
void ResetControls();

// Start-up, when not passive: probes the controllers, runs the setup dialogue while
// "Setup"/"SetupComplete" is 0, loads the bindings.
void SetupControllers();
// Waits until a button is down on some controller and returns its binding text.
std::string CaptureButton();
// Fills the six bindings from section "Controls" of the settings file.
void LoadControllerBindings();
// Once per tick with fresh telemetry: rebuilds engineer::Race().PressedFunctions.
void PollControls();

}  // namespace controls
