// One session snapshot refresh on a 40-car and a 64-car session text from the simulator feed,
// with two baselines in the same run: the same refresh answering every query by a plain scan
// of the whole text, and a full YAML parse of the same text by python3-yaml, the way a Python
// telemetry tool reads it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "platform/shared_memory.h"
#include "plugin/app/seams.h"
#include "plugin/audio/voice.h"
#include "plugin/engineer/race_state.h"
#include "plugin/links/serial_pit_board.h"
#include "plugin/telemetry/session_query.h"
#include "plugin/telemetry/telemetry_client.h"
#include "support/fake_simulator.h"
#include "support/virtual_clock.h"

#include "quiet_console.h"
#include "tools/simfeed/field.h"
#include "tools/simfeed/scenario.h"
#include "tools/simfeed/session_text.h"

namespace {

// The player's car index and the session the texts describe.
struct SessionText {
    std::string text;
    int playerCarIdx = 1;
    int sessionNum = 2;
};

// The feed's one-stop race in mid-race, with the results of the whole field, as the simulator
// publishes it.
SessionText sessionTextFor(int cars) {
    SessionText out;
    const std::string dir = std::string(KORVANE_SOURCE_DIR) + "/tools/simfeed/scenarios";
    simfeed::ScenarioLoad load =
        simfeed::loadScenarioFile(simfeed::resolveScenarioPath("one_stop", {dir}));
    if (load.scenario) {
        simfeed::Scenario& s = *load.scenario;
        s.fieldSize = cars;
        const std::vector<simfeed::FieldEntry> field = simfeed::makeField(s);
        simfeed::SessionTextState state;
        state.currentSession = 2;
        simfeed::SessionResults& results = state.results[2];
        for (size_t i = 0; i < field.size(); ++i) {
            simfeed::ResultEntry e;
            e.position = static_cast<int>(i) + 1;
            e.classPosition = static_cast<int>(i);
            e.carIdx = field[i].carIdx;
            e.lap = 6;
            e.time = 570.0 + static_cast<double>(i);
            e.fastestLap = 3;
            e.fastestTime = 94.2 + 0.01 * static_cast<double>(i);
            e.lastTime = 95.1;
            e.lapsComplete = 6;
            results.positions.push_back(e);
        }
        results.lapsComplete = 6;
        out.text = simfeed::buildSessionText(s, field, state);
        out.playerCarIdx = s.driver.carIdx;
        return out;
    }
    std::fprintf(stderr, "snapshot_bench: the one_stop scenario did not load from %s\n",
                 dir.c_str());
    std::exit(1);
}

// The plugin on track mid-lap on a fresh row, the shared block open in memory.
class Fixture {
  public:
    explicit Fixture(const SessionText& t) {
        sim_.attach(telemetry::Telemetry());
        sim_.setSessionText(t.text);
        sim_.setConnected(true);
        sim_.setBool("IsOnTrack", true);
        sim_.setInt("PlayerTrackSurface", 3);
        sim_.setInt("PlayerCarIdx", t.playerCarIdx);
        sim_.setInt("SessionNum", t.sessionNum);
        sim_.setInt("Lap", 4);
        sim_.set("LapDist", 2100);
        sim_.set("FuelLevel", 30);
        sim_.set("SessionTime", 400);
        sim_.setInt("SessionLapsRemainEx", 10);
        sim_.setInt("SessionTimeRemain", 100000);
        engineer::ResetRaceState();
        engineer::RaceState& r = engineer::Race();
        r.ResetLap = 2;
        r.FuelAtReset = 36;
        r.ResetSessionTime = 200;
        r.LocalBlock = &block_;
        r.LocalLinkOpen = 1;
        sim_.deliver(telemetry::Telemetry());
    }
    ~Fixture() {
        telemetry::Telemetry().replaceConnection(nullptr);
        engineer::ResetRaceState();
    }

  private:
    class Block : public platform::SharedMemory {
      public:
        uint8_t* data() override { return bytes_; }
        size_t size() const override { return sizeof bytes_; }

      private:
        uint8_t bytes_[256] = {};
    };
    testsupport::VirtualClock clock_;
    testsupport::ScopedClock useClock_{clock_};
    testsupport::FakeSimulator sim_;
    Block block_;
};

void runRefresh(benchmark::State& state, bool indexed) {
    const SessionText t = sessionTextFor(static_cast<int>(state.range(0)));
    telemetry::setSessionQueryIndexEnabled(indexed);
    Fixture fixture(t);
    for (auto _ : state) {
        analytics::RefreshSessionSnapshot();
    }
    telemetry::setSessionQueryIndexEnabled(true);
    state.counters["text_bytes"] = static_cast<double>(t.text.size());
    state.counters["car_id"] = engineer::Race().CarID;  // proves the queries found their values
}

void BM_RefreshIndexed(benchmark::State& state) {
    runRefresh(state, true);
}
void BM_RefreshPlainScan(benchmark::State& state) {
    runRefresh(state, false);
}

// python3 parses the same text with yaml (the C loader where installed) and reports its best
// time per parse; the benchmark shows it as a counter in microseconds.
void BM_PythonYamlParse(benchmark::State& state) {
    namespace fs = std::filesystem;
    const SessionText t = sessionTextFor(static_cast<int>(state.range(0)));
    const fs::path dir = fs::temp_directory_path() / "korvane_snapshot_bench";
    fs::create_directories(dir);
    const fs::path textFile = dir / "session.yaml";
    const fs::path resultFile = dir / "result.txt";
    std::ofstream(textFile, std::ios::binary) << t.text;
    const std::string script =
        "import timeit, yaml\n"
        "t = open(r'" +
        textFile.string() +
        "').read()\n"
        "L = getattr(yaml, 'CSafeLoader', yaml.SafeLoader)\n"
        "yaml.load(t, Loader=L)\n"
        "best = min(timeit.repeat(lambda: yaml.load(t, Loader=L), number=1, repeat=20))\n"
        "open(r'" +
        resultFile.string() + "', 'w').write('%f %s' % (best * 1e6, L.__name__))\n";
    const fs::path scriptFile = dir / "parse.py";
    std::ofstream(scriptFile) << script;
    double micros = 0;
    for (auto _ : state) {
        fs::remove(resultFile);
        const std::string command = "python3 " + scriptFile.string();
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("python3 with yaml could not parse the text");
            break;
        }
        std::ifstream in(resultFile);
        std::string loader;
        in >> micros >> loader;
        state.SetLabel(loader);
    }
    state.counters["parse_us"] = micros;
    state.counters["text_bytes"] = static_cast<double>(t.text.size());
}

BENCHMARK(BM_RefreshIndexed)->Arg(40)->Arg(64)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RefreshPlainScan)->Arg(40)->Arg(64)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PythonYamlParse)->Arg(40)->Arg(64)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // Tones and speech go to the linked voice, which stays silent without an engine.
    audio::setVoiceSink(nullptr);
    const bool ran = bench::RunWithQuietConsole(argc, argv);
    links::CloseSerialPitBoard();
    return ran ? 0 : 1;
}
