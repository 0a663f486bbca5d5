#pragma once
// The feed's command line.

#include <optional>
#include <string>
#include <vector>

namespace simfeed {

struct TimeWindow {
    double at = 0;     // real seconds after the start
    double until = 0;  // real seconds after the start
};

struct FeedOptions {
    std::string scenario = "one_stop";
    double timeScale = 0;  // 0 = the scenario's own
    std::optional<int> seed;
    double runSeconds = 0;  // 0 = until stopped
    bool untilEnd = false;
    double connectAfter = 0;
    std::vector<TimeWindow> disconnects;  // connected bit clear from `at` to `until`
    std::vector<TimeWindow> freezes;      // no new row from `at` to `until`
    std::string replay;
    bool loop = false;
    std::string record;
    std::string logPath = "Qm_Korvane_SimFeed.log";
    // The race's truth (fuel, distance, stops) for a judge of the plugin; empty = none.
    std::string truthPath;
    std::string channel;
    // The telemetry block and its data-valid event; empty = the simulator's own names. A
    // block name without an event name gets the event "<block>DataValidEvent".
    std::string blockName;
    std::string eventName;
    int fieldSize = 0;  // 0 = the scenario's
    // Print the session text of `scenario` as it stands at the start, then exit.
    bool printSessionText = false;
    std::string stopFile;
    bool keyboard = true;
    bool quiet = false;
    bool help = false;
};

struct ParsedOptions {
    std::optional<FeedOptions> options;
    std::string error;  // set when options is empty
};

ParsedOptions parseFeedOptions(const std::vector<std::string>& args);

// The names the feed publishes under: the options' own, or the simulator's.
std::string feedBlockName(const FeedOptions& o);
std::string feedEventName(const FeedOptions& o);
std::string feedUsage();

}  // namespace simfeed
