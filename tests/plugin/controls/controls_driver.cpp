// Runs the controller start-up and poll as the plugin does, on the machine's controllers and
// keyboard and its real clock, for tests that press buttons from outside the process:
//
//   controls_driver <expected bits> <seconds>
//
// Start-up, then a poll every 10 ms until every expected bit has been seen in
// PressedFunctions (exit 0) or the time is up (exit 1). The settings file is the one in the
// working directory.

#include <cstdio>
#include <cstdlib>

#include "platform/clock.h"
#include "plugin/controls/controls.h"
#include "plugin/engineer/race_state.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: controls_driver <expected bits> <seconds>\n");
        return 2;
    }
    const auto expected = static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10));
    controls::SetupControllers();
    std::printf("AVAILABLE %d\n", controls::Controls().ControllersAvailable);
    std::fflush(stdout);
    platform::Clock& clock = platform::clock();
    const int64_t end = clock.steadyMs() + static_cast<int64_t>(std::atoi(argv[2])) * 1000;
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
