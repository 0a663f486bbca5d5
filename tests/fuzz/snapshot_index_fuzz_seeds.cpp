// The session texts the simulator feed publishes (before the race, and with its results) and the
// tests' sample text, each with the player's car and the race session chosen, and with rewrites
// that touch a value, a line end, the indentation and the NUL.

#include <string>

#include "fuzz/fuzz_input.h"
#include "support/fake_simulator.h"
#include "tools/simfeed/field.h"
#include "tools/simfeed/scenario.h"
#include "tools/simfeed/session_text.h"

namespace {

struct Rewrite {
    uint16_t offset;
    std::string bytes;
};

std::string encode(bool terminated, int carIdx, int sessionNum,
                   const std::vector<std::string>& paths, const std::vector<Rewrite>& rewrites,
                   const std::string& text) {
    std::string out;
    out += static_cast<char>(terminated ? 1 : 0);
    out += static_cast<char>(carIdx);
    out += static_cast<char>(sessionNum);
    out += static_cast<char>(paths.size());
    for (const std::string& p : paths) {
        out += p;
        out += '\0';
    }
    out += static_cast<char>(rewrites.size());
    for (const Rewrite& r : rewrites) {
        fuzzing::put(out, r.offset);
        out += static_cast<char>(r.bytes.size() - 1);
        out += r.bytes;
    }
    return out + text;
}

uint16_t offsetOf(const std::string& text, const std::string& part, size_t extra = 0) {
    const size_t at = text.find(part);
    return static_cast<uint16_t>(at == std::string::npos ? 0 : at + extra);
}

std::string feedText(int fieldSize, bool withResults) {
    simfeed::Scenario s = simfeed::defaultScenario();
    s.fieldSize = fieldSize;
    const std::vector<simfeed::FieldEntry> field = simfeed::makeField(s);
    simfeed::SessionTextState state;
    if (withResults) {
        state.currentSession = 2;
        simfeed::SessionResults& race = state.results[2];
        for (const simfeed::FieldEntry& car : field) {
            simfeed::ResultEntry e;
            e.position = static_cast<int>(race.positions.size()) + 1;
            e.classPosition = e.position - 1;
            e.carIdx = car.carIdx;
            e.lap = 3;
            e.lapsComplete = 3;
            e.fastestLap = 2;
            e.fastestTime = 95.5 + e.position;
            e.lastTime = 96.25 + e.position;
            race.positions.push_back(e);
        }
        race.lapsComplete = 3;
        race.averageLapTime = 97.0;
    }
    return simfeed::buildSessionText(s, field, state);
}

int playerOf(const simfeed::Scenario& s) {
    for (const simfeed::FieldEntry& car : simfeed::makeField(s)) {
        if (car.isPlayer) {
            return car.carIdx;
        }
    }
    return 0;
}

}  // namespace

fuzzing::Seeds snapshot_index_fuzzSeeds() {
    fuzzing::Seeds seeds;
    simfeed::Scenario small = simfeed::defaultScenario();
    small.fieldSize = 4;
    const int player = playerOf(small);

    // A short field keeps the inputs, and so every scan, small; the layout is the same.
    const std::string practice = feedText(4, false);
    seeds.emplace_back("feed-field", encode(true, player, 2, {},
                                            {{offsetOf(practice, "TrackID: ", 9), "9"}}, practice));

    const std::string results = feedText(4, true);
    seeds.emplace_back(
        "feed-results",
        encode(true, player, 2, {"SessionInfo:Sessions:SessionNum:{2}ResultsLapsComplete:"},
               {{offsetOf(results, "TrackLength: ", 13), "7"},
                {offsetOf(results, "\nDriverInfo:"), " "},
                {offsetOf(results, "SessionNum: 2", 12), "3"}},
               results));
    seeds.emplace_back("feed-no-nul",
                       encode(false, player, 1, {"WeekendInfo:TrackName:"},
                              {{static_cast<uint16_t>(results.size() - 1), "x"}}, results));

    const std::string sample = testsupport::sampleSessionText(3);
    seeds.emplace_back("sample", encode(true, 1, 2, {"WeekendInfo:Nowhere:"},
                                        {{offsetOf(sample, "CarID: ", 7), "1"},
                                         {offsetOf(sample, "\n DriverPitTrkPct"), "\r"},
                                         {offsetOf(sample, "TrackID"), std::string(1, '\0')},
                                         {offsetOf(sample, "TrackID"), "T"}},
                                        sample));
    seeds.emplace_back(
        "selectors", encode(true, 1, 0, {"A:B:{1}C:", "A:B:{}C:", "A:B:{10"}, {{9, "1"}, {20, "-"}},
                            "A:\r\n B:\r\n - B: 10\r\n   C: x\r\n - B: 1\r\n   C: -4\r\n - B:"));
    seeds.emplace_back("empty", encode(false, 0, 0, {""}, {{0, "A"}}, ""));
    return seeds;
}
