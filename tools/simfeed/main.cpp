// Qm_Korvane_SimFeed: a stand-in for the simulator. Publishes the telemetry block and session
// text of a simulated race (or of a recorded file) and carries out the pit commands it
// receives.

#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/simfeed/feed_options.h"
#include "tools/simfeed/feed_runner.h"

namespace {

std::atomic<bool> stopRequested{false};

extern "C" void onSignal(int) {
    stopRequested.store(true);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    simfeed::ParsedOptions parsed = simfeed::parseFeedOptions(args);
    if (!parsed.options) {
        std::fprintf(stderr, "Qm_Korvane_SimFeed: %s\n%s", parsed.error.c_str(),
                     simfeed::feedUsage().c_str());
        return 2;
    }
    if (parsed.options->help) {
        std::printf("%s", simfeed::feedUsage().c_str());
        return 0;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    return simfeed::runFeed(*parsed.options, stopRequested);
}
