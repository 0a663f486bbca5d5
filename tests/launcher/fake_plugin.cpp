// Stands in for Qm_Korvane_Plugin in the launcher's end-to-end test: says what it was started
// with, keeps its argument in "fake_plugin.args", runs for a while so that a launcher that does
// not wait would be caught, and ends with the plugin's failure code, which must not matter.
#include <cstdio>

#include "platform/clock.h"

int main(int argc, char** argv) {
    const char* argument = argc > 1 ? argv[1] : "(none)";
    std::printf(" fake plugin started: %s\n", argument);
    std::fflush(stdout);
    if (std::FILE* f = std::fopen("fake_plugin.args", "w")) {
        std::fputs(argument, f);
        std::fclose(f);
    }
    platform::sleepMs(1500);
    std::printf(" fake plugin ended\n");
    std::fflush(stdout);
    return 1;
}
