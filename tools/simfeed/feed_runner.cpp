#include "tools/simfeed/feed_runner.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "platform/clock.h"
#include "platform/console.h"
#include "platform/named_event.h"
#include "platform/pit_channel.h"
#include "platform/shared_memory.h"
#include "platform/system.h"
#include "plugin/telemetry/block_layout.h"
#include "tools/simblock/sim_block.h"
#include "tools/simfeed/feed_source.h"
#include "tools/simfeed/ibt_file.h"

namespace simfeed {

namespace {

const char* const kOk = " [\033[32m  OK  \033[0m]  ";
const char* const kWait = " [\033[33m WAIT \033[0m]  ";
const char* const kFail = " [\033[31m FAIL \033[0m]  ";
const char* const kPit = " [ PIT  ]  ";
constexpr int kPitCommandKind = 9;

class Console {
  public:
    explicit Console(bool quiet) : quiet_(quiet) {}
    // A whole line, over whatever status row is showing.
    void line(const std::string& tag, const std::string& text) {
        std::printf("\r%s%s%*s\n", tag.c_str(), text.c_str(), pad(tag.size() + text.size()), "");
        std::fflush(stdout);
        lastStatus_ = 0;
    }
    void status(const std::string& text) {
        if (quiet_) {
            return;
        }
        std::printf("\r %s%*s\r", text.c_str(), pad(text.size() + 1), "");
        std::fflush(stdout);
        lastStatus_ = text.size() + 1;
    }

  private:
    int pad(size_t used) const {
        return used < lastStatus_ ? static_cast<int>(lastStatus_ - used) : 0;
    }
    bool quiet_;
    size_t lastStatus_ = 0;
};

bool inWindow(const std::vector<TimeWindow>& windows, double t) {
    return std::any_of(windows.begin(), windows.end(),
                       [t](const TimeWindow& w) { return t >= w.at && t < w.until; });
}

class Feed {
  public:
    Feed(const FeedOptions& o, const std::atomic<bool>& stop)
        : o_(o), stop_(stop), console_(o.quiet), log_(o.logPath) {}
    int run();

  private:
    bool makeSource();
    bool createBlock();
    void closeBlock();
    void publish();
    void pollPitCommands();
    void writeTruth();
    bool stopWanted(double elapsed);
    std::string stopReason_;

    const FeedOptions& o_;
    const std::atomic<bool>& stop_;
    Console console_;
    FeedLog log_;
    std::unique_ptr<FeedSource> source_;
    double timeScale_ = 1;
    std::string name_;

    std::unique_ptr<platform::SharedMemory> memory_;
    std::unique_ptr<platform::NamedEventSignaller> event_;
    std::unique_ptr<simblock::BlockWriter> writer_;
    std::unique_ptr<platform::BroadcastReceiver> receiver_;
    IbtWriter recorder_;
    int textRevision_ = -1;
    bool connected_ = false;
    bool keyboard_ = true;
    int64_t rows_ = 0;
};

void Feed::writeTruth() {
    if (o_.truthPath.empty()) {
        return;
    }
    const std::vector<std::string> lines = source_->takeTruth();
    if (lines.empty()) {
        return;
    }
    std::FILE* f = std::fopen(o_.truthPath.c_str(), "a");
    if (f == nullptr) {
        return;
    }
    for (const std::string& l : lines) {
        std::fprintf(f, "%s\n", l.c_str());
    }
    std::fclose(f);
}

bool Feed::makeSource() {
    if (!o_.replay.empty()) {
        auto reader = std::make_unique<IbtReader>();
        std::string error;
        std::vector<std::string> warnings;
        if (!reader->open(o_.replay, &error, &warnings)) {
            console_.line(kFail, "Cannot replay: " + error);
            return false;
        }
        for (const std::string& w : warnings) {
            console_.line(kWait, w);
        }
        name_ = o_.replay;
        console_.line(kOk, "Replaying " + o_.replay + ": " + std::to_string(reader->recordCount()) +
                               " rows of " + std::to_string(reader->vars().size()) +
                               " variables at " + std::to_string(reader->tickRate()) +
                               " per second");
        source_ = std::make_unique<ReplaySource>(std::move(reader), o_.loop);
        timeScale_ = o_.timeScale > 0 ? o_.timeScale : 1.0;
        return true;
    }
    std::string path;
    std::vector<std::string> errors;
    std::vector<std::string> warnings;
    std::optional<Scenario> loaded = loadFeedScenario(o_, &path, &errors, &warnings);
    for (const std::string& w : warnings) {
        console_.line(kWait, w);
    }
    if (!loaded) {
        for (const std::string& e : errors) {
            console_.line(kFail, e);
        }
        return false;
    }
    const Scenario& s = *loaded;
    timeScale_ = o_.timeScale > 0 ? o_.timeScale : s.timeScale;
    name_ = s.name;
    char buf[160];
    std::snprintf(buf, sizeof buf, "Scenario '%s' from %s, seed %u, time scale %.1fx",
                  s.name.c_str(), path.c_str(), s.seed, timeScale_);
    console_.line(kOk, buf);
    source_ = std::make_unique<ModelSource>(s);
    if (!o_.truthPath.empty()) {
        std::FILE* f = std::fopen(o_.truthPath.c_str(), "w");
        if (f == nullptr) {
            console_.line(kFail, "Cannot write the truth file " + o_.truthPath);
            return false;
        }
        std::fclose(f);
        source_->recordTruth(true);
    }
    return true;
}

bool Feed::createBlock() {
    std::vector<simblock::VarSpec> vars = source_->vars();
    simblock::BlockOptions options;
    options.tickRate = source_->tickRate();
    std::string text = source_->sessionText();
    options.sessionCapacity = std::max<size_t>(512 * 1024, text.size() * 2 + 1);
    simblock::BlockLayout layout = simblock::computeLayout(vars, options);
    if (!layout.ok) {
        console_.line(kFail, "Cannot lay out the telemetry block: " + layout.error);
        return false;
    }
    const std::string blockName = feedBlockName(o_);
    const std::string eventName = feedEventName(o_);
    memory_ = platform::createSharedMemory(blockName, layout.totalSize);
    if (!memory_) {
        int code = platform::lastErrorCode();
        console_.line(kFail, "Cannot create " + blockName + " (" + std::to_string(code) + ": " +
                                 platform::errorText(code) + ")");
        return false;
    }
    if (memory_->size() < layout.totalSize) {
        console_.line(kFail, blockName + " already exists and is too small (" +
                                 std::to_string(memory_->size()) + " bytes, need " +
                                 std::to_string(layout.totalSize) +
                                 "): is another simulator or feed running?");
        memory_.reset();
        return false;
    }
    writer_ = std::make_unique<simblock::BlockWriter>(memory_->data(), memory_->size(),
                                                      std::move(vars), options);
    if (!writer_->ok()) {
        console_.line(kFail, "Cannot write the telemetry block: " + writer_->error());
        writer_.reset();
        memory_.reset();
        return false;
    }
    event_ = platform::createNamedEvent(eventName);
    if (!event_) {
        int code = platform::lastErrorCode();
        console_.line(kFail, "Cannot create " + eventName + " (" + std::to_string(code) + ": " +
                                 platform::errorText(code) + ")");
        writer_.reset();
        memory_.reset();
        return false;
    }
    source_->bind(writer_->layout());
    writer_->setSessionText(text);
    textRevision_ = source_->sessionTextRevision();
    if (!o_.record.empty()) {
        const auto* table = reinterpret_cast<const telemetry::VarHeader*>(
            memory_->data() + writer_->layout().varHeaderOffset);
        std::vector<telemetry::VarHeader> headers(table, table + writer_->vars().size());
        std::string error;
        if (recorder_.open(o_.record, headers, writer_->layout().bufferLength, text,
                           source_->tickRate(), platform::clock().calendarSeconds(), &error)) {
            console_.line(kOk, "Recording to " + o_.record);
        } else {
            console_.line(kFail, "Not recording: " + error);
        }
    }
    char buf[200];
    std::snprintf(buf, sizeof buf, "Publishing %zu variables, rows of %d bytes, block of %zu bytes",
                  writer_->vars().size(), writer_->layout().bufferLength, layout.totalSize);
    console_.line(kOk, buf);
    log_.line("PUBLISH block=" + blockName + " event=" + eventName +
              " vars=" + std::to_string(writer_->vars().size()) +
              " row=" + std::to_string(writer_->layout().bufferLength));
    return true;
}

void Feed::closeBlock() {
    if (writer_) {
        writer_->setConnected(false);
    }
    if (recorder_.isOpen()) {
        std::string error;
        if (recorder_.close(&error)) {
            console_.line(kOk, "Recorded " + std::to_string(recorder_.recordCount()) + " rows to " +
                                   o_.record);
        } else {
            console_.line(kFail, "Recording " + o_.record + ": " + error);
        }
    }
    event_.reset();
    writer_.reset();
    memory_.reset();
}

void Feed::publish() {
    std::vector<uint8_t>& row = writer_->stagingRow();
    source_->fillRow(row);
    if (source_->sessionTextRevision() != textRevision_) {
        textRevision_ = source_->sessionTextRevision();
        std::string text = source_->sessionText();
        if (!writer_->setSessionText(text)) {
            console_.line(kFail, "Session text of " + std::to_string(text.size()) +
                                     " bytes does not fit; the previous one stays");
        }
        recorder_.setSessionText(text);
    }
    writer_->publish();
    if (!connected_) {
        writer_->setConnected(true);
        connected_ = true;
    }
    event_->signal();
    if (recorder_.isOpen()) {
        recorder_.addRow(row.data(), source_->sessionTime());
    }
    ++rows_;
}

void Feed::pollPitCommands() {
    if (!receiver_) {
        return;
    }
    receiver_->poll([&](const platform::BroadcastMessage& m) {
        char buf[200];
        if (m.kind != kPitCommandKind) {
            std::snprintf(buf, sizeof buf, "MSG kind=%d code=%d value=%d (not a pit command)",
                          m.kind, m.code, m.value);
            console_.line(kPit, buf);
            log_.line(buf);
            return;
        }
        PitCommandOutcome r = source_->pitCommand(m.code, m.value);
        std::snprintf(buf, sizeof buf, "PIT code=%d value=%d session=%d time=%.2f %s", m.code,
                      m.value, source_->sessionNum(), source_->sessionTime(), r.text.c_str());
        console_.line(kPit, buf);
        log_.line(buf);
    });
}

bool Feed::stopWanted(double elapsed) {
    if (stop_.load()) {
        stopReason_ = "interrupted";
        return true;
    }
    if (o_.runSeconds > 0 && elapsed >= o_.runSeconds) {
        stopReason_ = "run time over";
        return true;
    }
    if (keyboard_ && platform::keyWaiting()) {
        if (platform::readKeyNoEcho() < 0) {
            // Input has ended (a background start): there is no keyboard to watch.
            keyboard_ = false;
        } else {
            stopReason_ = "key pressed";
            return true;
        }
    }
    return false;
}

int Feed::run() {
    if (!log_.start()) {
        console_.line(kFail,
                      "Cannot write the log " + log_.path() + "; pit commands are only printed");
    }
    if (!makeSource()) {
        log_.line("STOP setup failed");
        return 1;
    }
    keyboard_ = o_.keyboard;
    if (!o_.channel.empty()) {
        platform::setBroadcastChannelName(o_.channel);
    }
    receiver_ = platform::createBroadcastReceiver();
    if (!receiver_) {
        int code = platform::lastErrorCode();
        console_.line(kFail, "Cannot receive pit commands (" + std::to_string(code) + ": " +
                                 platform::errorText(code) +
                                 "); the pit service only follows the "
                                 "scenario");
    } else {
        console_.line(kOk, "Receiving pit commands");
    }
    char buf[200];
    std::snprintf(buf, sizeof buf, "START %s time scale %.2f", name_.c_str(), timeScale_);
    log_.line(buf);

    platform::Clock& clock = platform::clock();
    const int64_t start = clock.steadyMs();
    const double ticksPerMs = source_->tickRate() * timeScale_ / 1000.0;
    const double framesPerMs = 60.0 / 1000.0;
    double due = 0;  // ticks owed to the source
    int64_t last = start;
    int64_t frame = 0;
    int64_t lastStatusMs = -1000;
    double endedAt = -1;
    bool wasDisconnected = false;
    bool wasFrozen = false;
    if (o_.connectAfter > 0) {
        console_.line(kWait, "No simulator for " + std::to_string(o_.connectAfter) + " s");
    }
    while (true) {
        const int64_t now = clock.steadyMs();
        const double elapsed = (now - start) / 1000.0;
        if (stopWanted(elapsed)) {
            break;
        }
        if (frame % 15 == 0 && !o_.stopFile.empty()) {
            std::error_code ec;
            if (std::filesystem::exists(o_.stopFile, ec)) {
                stopReason_ = "stop file";
                break;
            }
        }
        if (!writer_ && elapsed >= o_.connectAfter) {
            if (!createBlock()) {
                log_.line("STOP cannot publish");
                return 1;
            }
            last = now;
        }
        pollPitCommands();
        if (writer_) {
            bool disconnected = inWindow(o_.disconnects, elapsed);
            bool frozen = inWindow(o_.freezes, elapsed);
            if (disconnected != wasDisconnected) {
                if (disconnected) {
                    writer_->setConnected(false);
                    connected_ = false;
                    console_.line(kWait, "Simulator disconnected");
                    log_.line("DISCONNECT");
                } else {
                    // A restarted simulator counts its ticks from the start again.
                    writer_->restartTicks(0);
                    console_.line(kOk, "Simulator connected again");
                    log_.line("RECONNECT");
                }
                wasDisconnected = disconnected;
            }
            if (frozen != wasFrozen) {
                console_.line(frozen ? kWait : kOk, frozen ? "Rows frozen" : "Rows flowing again");
                log_.line(frozen ? "FREEZE" : "THAW");
                wasFrozen = frozen;
            }
            if (!disconnected && !frozen) {
                due += (now - last) * ticksPerMs;
                // After a stall (a debugger, a suspended machine) catch up at most a second.
                due = std::min(due, source_->tickRate() * timeScale_ + 1);
                bool advanced = false;
                while (due >= 1) {
                    due -= 1;
                    if (!source_->advance()) {
                        due = 0;
                        break;
                    }
                    advanced = true;
                }
                writeTruth();
                if (advanced || rows_ == 0) {
                    publish();
                }
            }
            if (source_->finished() && endedAt < 0) {
                endedAt = elapsed;
                console_.line(kOk, "The last session has ended");
                log_.line("END");
            }
            // Readers get a second to see the final row before the feed goes away.
            if (o_.untilEnd && endedAt >= 0 && elapsed - endedAt >= 1.0) {
                stopReason_ = "session ended";
                break;
            }
        }
        last = now;
        if (now - lastStatusMs >= 500 && writer_) {
            lastStatusMs = now;
            console_.status(source_->status());
        }
        ++frame;
        int64_t next = start + static_cast<int64_t>(std::ceil((frame) / framesPerMs));
        int64_t wait = next - clock.steadyMs();
        platform::sleepMs(static_cast<int>(std::clamp<int64_t>(wait, 1, 100)));
    }
    closeBlock();
    receiver_.reset();
    console_.line(kOk, "Simulator feed stopped (" + stopReason_ + ")");
    log_.line("STOP " + stopReason_);
    return 0;
}

}  // namespace

bool FeedLog::start() {
    std::FILE* f = std::fopen(path_.c_str(), "w");
    ok_ = f != nullptr;
    if (f != nullptr) {
        std::fclose(f);
    }
    return ok_;
}

void FeedLog::line(const std::string& message) {
    if (!ok_) {
        return;
    }
    std::FILE* f = std::fopen(path_.c_str(), "a");
    if (f == nullptr) {
        return;
    }
    std::fprintf(f, "SimFeed: %lld : %s\n",
                 static_cast<long long>(platform::clock().calendarSeconds()), message.c_str());
    std::fclose(f);
}

std::optional<Scenario> loadFeedScenario(const FeedOptions& o, std::string* path,
                                         std::vector<std::string>* errors,
                                         std::vector<std::string>* warnings) {
    *path = resolveScenarioPath(o.scenario, scenarioSearchDirs());
    if (path->empty()) {
        errors->push_back("No scenario '" + o.scenario + "' (looked for " + o.scenario +
                          ".ini in scenarios/ beside the program and in the sources)");
        return std::nullopt;
    }
    ScenarioLoad load = loadScenarioFile(*path);
    warnings->insert(warnings->end(), load.warnings.begin(), load.warnings.end());
    if (!load.scenario) {
        errors->insert(errors->end(), load.errors.begin(), load.errors.end());
        errors->push_back("Scenario " + *path + " is not usable");
        return std::nullopt;
    }
    Scenario s = *load.scenario;
    if (o.seed) {
        s.seed = static_cast<uint32_t>(*o.seed);
    }
    if (o.fieldSize > 0) {
        // A smaller field keeps the player in it.
        s.fieldSize = o.fieldSize;
        s.driver.carIdx = std::min(s.driver.carIdx, s.fieldSize - 1);
        s.driver.gridPosition = std::min(s.driver.gridPosition, s.fieldSize);
        std::vector<std::string> problems = validateScenario(s);
        if (!problems.empty()) {
            errors->insert(errors->end(), problems.begin(), problems.end());
            return std::nullopt;
        }
    }
    return s;
}

std::string initialSessionText(const Scenario& s) {
    return RaceModel(s).sessionText();
}

int printSessionText(const FeedOptions& o) {
    std::string path;
    std::vector<std::string> errors;
    std::vector<std::string> warnings;
    std::optional<Scenario> s = loadFeedScenario(o, &path, &errors, &warnings);
    for (const std::string& w : warnings) {
        std::fprintf(stderr, "%s\n", w.c_str());
    }
    if (!s) {
        for (const std::string& e : errors) {
            std::fprintf(stderr, "%s\n", e.c_str());
        }
        return 1;
    }
    const std::string text = initialSessionText(*s);
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
        std::fflush(stdout) != 0) {
        std::fprintf(stderr, "Cannot write the session text to the output\n");
        return 1;
    }
    return 0;
}

std::vector<std::string> scenarioSearchDirs() {
    std::vector<std::string> dirs;
    std::string exe = platform::executableDirectory();
    if (!exe.empty()) {
        dirs.push_back((std::filesystem::path(exe) / "scenarios").string());
    }
    dirs.push_back("scenarios");
    if (const char* src = std::getenv("KORVANE_SOURCE_DIR")) {
        dirs.push_back((std::filesystem::path(src) / "tools" / "simfeed" / "scenarios").string());
    }
    return dirs;
}

int runFeed(const FeedOptions& options, const std::atomic<bool>& stopRequested) {
    if (options.printSessionText) {
        return printSessionText(options);
    }
    platform::enableAnsiColours();
    Feed feed(options, stopRequested);
    return feed.run();
}

}  // namespace simfeed
