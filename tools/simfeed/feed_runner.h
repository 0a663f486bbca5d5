#pragma once
// The feed program: publishes a source's rows into the simulator's named block at its tick
// rate (times the time scale), signals the data-valid event after each row, receives the pit
// commands and applies them, and follows the control options (connect later, disconnect,
// freeze, stop).

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "tools/simfeed/feed_options.h"
#include "tools/simfeed/scenario.h"

namespace simfeed {

// The feed's own log: truncated at start, one line per event, each line appended and the
// file closed again, so a test can read it while the feed runs.
class FeedLog {
  public:
    explicit FeedLog(std::string path) : path_(std::move(path)) {}
    bool start();  // false when the file cannot be written
    void line(const std::string& message);
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    bool ok_ = false;
};

// Where scenario names are looked up: scenarios/ beside the program, then the source tree.
std::vector<std::string> scenarioSearchDirs();

// The scenario the options name, with their seed and field size applied; nullopt with the
// reasons in `errors`. `path` is the file it came from.
std::optional<Scenario> loadFeedScenario(const FeedOptions& o, std::string* path,
                                         std::vector<std::string>* errors,
                                         std::vector<std::string>* warnings);

// The session text a scenario publishes with its first row (the whole field in DriverInfo).
std::string initialSessionText(const Scenario& s);

// --print-session-text: the text on stdout; the exit code of the program.
int printSessionText(const FeedOptions& o);

// Runs until a stop condition; the exit code of the program.
int runFeed(const FeedOptions& options, const std::atomic<bool>& stopRequested);

}  // namespace simfeed
