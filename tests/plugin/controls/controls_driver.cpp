// Runs the controller start-up and poll as the plugin does, for tests that drive it from outside
// the process.
//
//   controls_driver dialogue
//       A controller of model 1133:49686 at index 2 whose buttons come from standard input: each
//       probing pass after the first takes one line with a button mask and holds it for that
//       pass (0 = nothing down). Time is virtual, so the waits cost nothing. Then prints the
//       loaded bindings.
//   controls_driver real <expected bits> <seconds>
//       The machine's controllers and keyboard and its real clock: start-up, then a poll every
//       10 ms until every expected bit has been seen in PressedFunctions (exit 0) or the time is
//       up (exit 1).
//
// The settings file is the one in the working directory.

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "platform/clock.h"
#include "plugin/controls/controls.h"
#include "plugin/engineer/race_state.h"
#include "tests/support/fake_controls.h"
#include "tests/support/virtual_clock.h"

namespace {

constexpr unsigned kScriptedIndex = 2;

void printBindings() {
    for (int i = 0; i < 6; ++i) {
        std::printf("BINDING %s=%s\n", controls::kFunctions[i].key,
                    controls::Controls().binding(i).c_str());
    }
    std::printf("AVAILABLE %d\n", controls::Controls().ControllersAvailable);
    std::fflush(stdout);
}

int runDialogue() {
    // The presses must not come in through C stdio: reading stdin there flushes stdout, which
    // would hide a prompt left in the buffer while the real dialogue waits for a button.
    std::ios::sync_with_stdio(false);
    testsupport::VirtualClock clock;
    testsupport::ScopedClock scopedClock(clock);
    testsupport::FakeJoysticks joysticks;
    testsupport::FakeKeyboard keyboard;
    testsupport::ScopedControlDevices devices(joysticks, keyboard);
    joysticks.plug(kScriptedIndex, 1133, 49686);

    int passes = 0;
    joysticks.setReadHook([&](unsigned index) {
        if (index != 0) {
            return;  // index 0 is empty: read once per pass, at its start
        }
        joysticks.releaseAll();
        if (++passes == 1) {
            return;  // start-up's count of the controllers
        }
        std::string line;
        if (!std::getline(std::cin, line)) {
            std::fprintf(stderr, "controls_driver: input ended while a button was awaited\n");
            std::exit(3);
        }
        joysticks.hold(kScriptedIndex,
                       static_cast<uint32_t>(std::strtoul(line.c_str(), nullptr, 10)));
    });

    controls::SetupControllers();
    printBindings();
    return 0;
}

int runReal(uint32_t expected, int seconds) {
    controls::SetupControllers();
    printBindings();
    platform::Clock& clock = platform::clock();
    const int64_t end = clock.steadyMs() + static_cast<int64_t>(seconds) * 1000;
    uint32_t seen = 0;
    uint32_t previous = 0;
    while (clock.steadyMs() < end) {
        controls::PollControls();
        const uint32_t pressed = engineer::Race().PressedFunctions;
        if (pressed != previous) {
            std::printf("PRESSED %u\n", pressed);
            std::fflush(stdout);
            previous = pressed;
        }
        seen |= pressed;
        if ((seen & expected) == expected) {
            return 0;
        }
        clock.sleepMs(10);
    }
    std::printf("TIMEOUT seen %u of %u\n", seen, expected);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "dialogue") {
        return runDialogue();
    }
    if (mode == "real" && argc > 3) {
        return runReal(static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)),
                       std::atoi(argv[3]));
    }
    std::fprintf(stderr, "usage: controls_driver dialogue | real <expected bits> <seconds>\n");
    return 2;
}
