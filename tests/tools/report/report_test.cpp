// The race report page against the reports stored for a race: every chart point is a stored
// lap, every stop and tire reading is on the page, and the program's errors are plain.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_folder.h"
#include "tools/racedata/race_store.h"
#include "tools/report/html_report.h"
#include "tools/report/race_analysis.h"
#include "tools/report/race_history.h"

// A race written into a race-data database through the service's own store, lap by lap as the
// plugin reports it: a lap report near the pit entry each lap (two on a lap that ends in the
// pits), a data report in the stall at each stop and one at the checkered flag. What the page
// should show for it is kept alongside.
namespace {

struct PlannedStop {
    int lap = 0;
    double liters = 0;
    int tires = 0;         // pit-service tire bits (1 LF, 2 RF, 4 LR, 8 RR)
    bool reported = true;  // false: the plugin had no measured stint and sent no data report
};

struct RaceScript {
    int64_t subSessionId = 500;
    int kind = 4;  // race
    int raceType = 1;
    int laps = 10;
    double startFuel = 30;
    double burn = 2.5;
    double tank = 60;
    std::vector<PlannedStop> stops{};
    bool lapReports = true;
};

struct ExpectedLap {
    int lap;
    double fuelLevel;
    double burn;
    double burnMax;  // < 0 where the plugin had none yet (it reports 0)
    double lapsLeft;
    double fuelUsed;  // over the lap (from the stall after a stop); < 0 when not known
};

struct ExpectedRace {
    std::vector<ExpectedLap> laps;  // one a lap, the last report of the lap
    std::vector<PlannedStop> stops;
    // Wear readings by stint (1-based), LF RF LR RR.
    std::map<int, std::vector<double>> wear;
};

std::vector<racedata::FieldValue> report(std::span<const racedata::Field> fields,
                                         const std::map<std::string, double>& values) {
    std::vector<racedata::FieldValue> out(fields.size());
    for (size_t i = 0; i < fields.size(); ++i) {
        auto v = values.find(fields[i].key);
        if (v == values.end()) {
            continue;
        }
        if (fields[i].type == racedata::FieldType::kInt) {
            out[i].integer = std::llround(v->second);
        } else {
            out[i].real = v->second;
        }
    }
    return out;
}

// A lap takes 100 s; the pit entry is at 93 % of the lap, the stall at 98.5 %.
constexpr double kLapSeconds = 100;
constexpr double kPitEntry = 0.93;
constexpr double kOnTrackReport = 0.92;
constexpr double kStall = 0.985;
constexpr double kLapLength = 5000;

// Writes the race into `store` and returns what it stored.
ExpectedRace writeRace(racedata::RaceStore& store, const RaceScript& s) {
    ExpectedRace expected;
    double fuelAtReset = s.startFuel;
    double refuelled = 0;    // liters put in so far
    double tiresFitted = 0;  // lap position (in laps) at which the current tires went on
    double burnMax = 0;
    // Tread left at lap position t, by corner, as the tire reading rounds it.
    auto wearAt = [&](double t) {
        const double wornPerLap[] = {0.011, 0.013, 0.009, 0.010};
        std::vector<double> wear(4);
        for (int c = 0; c < 4; ++c) {
            wear[c] = std::round((1 - wornPerLap[c] * (t - tiresFitted)) * 100) / 100;
        }
        return wear;
    };
    auto fuelAt = [&](double t) { return s.startFuel + refuelled - s.burn * t; };
    std::map<std::string, double> common = {
        {"sid", double(s.subSessionId)},
        {"sli", double(s.kind)},
        {"sst", 4},
        {"tid", 252},
        {"cid", 67},
        {"did", 77},
        {"sft", double(s.raceType)},
        {"fs", s.tank},
    };
    int stint = 1;
    // A data report carries the tread at its moment; the report reads it back per stint.
    auto storeDataReport = [&](std::map<std::string, double> v, const std::vector<double>& wear) {
        v.insert({{"fbm", burnMax},
                  {"wlf", wear[0]},
                  {"wrf", wear[1]},
                  {"wlr", wear[2]},
                  {"wrr", wear[3]}});
        store.insertDataReport(report(racedata::dataReportFields(), v));
        expected.wear[stint] = wear;
    };
    double previousFuel = s.startFuel;  // at the last lap's report, or as the car left the stall
    // The plugin's FuelBurnMax stays 0 until it has measured a lap of the stint.
    int lapsInStint = 0;
    for (int lap = 1; lap <= s.laps; ++lap) {
        // The plugin's burn creeps up a little lap by lap so that each lap's figure differs.
        double burn = s.burn + 0.01 * (lap % 4);
        burnMax = std::max(burnMax, burn);
        auto stop = std::find_if(s.stops.begin(), s.stops.end(),
                                 [&](const PlannedStop& p) { return p.lap == lap; });
        std::vector<double> marks = {kPitEntry};
        if (stop != s.stops.end()) {
            marks = {kOnTrackReport, kPitEntry};  // on track near the entry, then on pit road
        }
        for (double mark : marks) {
            double t = lap - 1 + mark;
            double fuel = fuelAt(t);
            std::map<std::string, double> v = common;
            v.insert({{"sl", lap},
                      {"st", std::floor(t * kLapSeconds)},
                      {"slr", s.laps - lap},
                      {"str", (s.laps - t) * kLapSeconds},
                      {"fl", fuel},
                      {"fu", fuelAtReset - fuel},
                      {"fbpl", burn},
                      {"fbpm", burn * 60 / kLapSeconds},
                      {"fbm", lapsInStint < 1 ? 0 : burnMax},
                      {"llt", fuel / burn},
                      {"fn", (s.laps - lap) * burnMax},
                      {"pos", 8},
                      {"tlu", (t - tiresFitted) * kLapLength}});
            if (s.lapReports) {
                store.insertLapReport(report(racedata::lapReportFields(), v));
            }
            if (mark == kPitEntry && s.lapReports) {
                double used = expected.laps.empty() ? -1 : previousFuel - fuel;
                expected.laps.push_back({lap, fuel,
                                         s.raceType == 2 ? burn * 60 / kLapSeconds : burn,
                                         lapsInStint < 1 ? -1 : burnMax, fuel / burn, used});
                previousFuel = fuel;
            }
        }
        if (stop != s.stops.end()) {
            const double t = lap - 1 + kStall;
            const double before = fuelAt(t);
            if (stop->reported) {
                std::map<std::string, double> v = common;
                v.insert({{"sl", lap},
                          {"st", std::floor(t * kLapSeconds)},
                          {"psv", stop->tires | 16},
                          {"fl", before},
                          {"fu", fuelAtReset - before},
                          {"fta", stop->liters},
                          {"fbpl", burn},
                          {"fbpm", burn * 60 / kLapSeconds}});
                storeDataReport(v, wearAt(t));
            }
            refuelled += stop->liters;
            fuelAtReset = previousFuel = fuelAt(t);
            if (stop->tires) {
                tiresFitted = t;
            }
            lapsInStint = -1;
            expected.stops.push_back(*stop);
            ++stint;
        }
        ++lapsInStint;
    }
    const double flag = s.laps + 0.01;
    std::map<std::string, double> v = common;
    v["sst"] = 5;  // checkered
    v.insert({{"sl", s.laps + 1}, {"st", std::floor(flag * kLapSeconds)}, {"fl", fuelAt(flag)}});
    storeDataReport(v, wearAt(flag));
    return expected;
}

namespace fs = std::filesystem;

using Attributes = std::map<std::string, std::string>;

// The attributes of every element of `tag` that carries data-series="series" (or, for an
// empty series, every element with `marker` in its opening tag).
std::vector<Attributes> elements(const std::string& html, const std::string& tag,
                                 const std::string& marker) {
    std::vector<Attributes> found;
    std::regex open("<" + tag + "\\b[^>]*>");
    std::regex attribute("([a-z-]+)=\"([^\"]*)\"");
    for (auto it = std::sregex_iterator(html.begin(), html.end(), open);
         it != std::sregex_iterator(); ++it) {
        std::string element = it->str();
        if (element.find(marker) == std::string::npos) {
            continue;
        }
        Attributes a;
        for (auto at = std::sregex_iterator(element.begin(), element.end(), attribute);
             at != std::sregex_iterator(); ++at) {
            a[(*at)[1]] = (*at)[2];
        }
        found.push_back(a);
    }
    return found;
}

std::vector<Attributes> series(const std::string& html, const std::string& tag,
                               const std::string& name) {
    return elements(html, tag, "data-series=\"" + name + "\"");
}

double value(const Attributes& a, const char* key = "data-value") {
    auto it = a.find(key);
    return it == a.end() ? -12345 : std::atof(it->second.c_str());
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A fresh database of `name` holding the races; its path, and what the first race stored.
std::string storedRaces(const std::vector<RaceScript>& races, ExpectedRace* expected = nullptr,
                        const std::string& name = "racedata.db") {
    const std::string db = (testsupport::freshTestFolder("korvane_report") / name).string();
    racedata::RaceStore store(db);
    for (const RaceScript& race : races) {
        ExpectedRace stored = writeRace(store, race);
        if (expected && &race == &races.front()) {
            *expected = stored;
        }
    }
    return db;
}

struct PageCase {
    const char* name;
    RaceScript script;
    size_t stints;
};

std::vector<PageCase> pageCases() {
    const std::vector<PlannedStop> oneStop = {{6, 17.5, 15, true}};
    return {
        {"OneStint", {.laps = 8, .startFuel = 40}, 1},
        {"TwoStintsWithAStop", {.laps = 12, .startFuel = 20, .stops = oneStop}, 2},
        {"TwoStopsRightSides",
         {.subSessionId = 501,
          .laps = 12,
          .startFuel = 20,
          .stops = {{5, 12.25, 2 | 8, true}, {9, 8.0, 0, true}}},
         3},
        // A stop without a stall report: seen from the fuel.
        {"StopWithoutAReport", {.laps = 12, .startFuel = 20, .stops = {{6, 20.0, 0, false}}}, 2},
        {"TimeLimitedRace", {.raceType = 2, .laps = 12, .startFuel = 20, .stops = oneStop}, 2},
        {"NoLaps", {.lapReports = false}, 1},
    };
}

class ReportPageTest : public ::testing::TestWithParam<PageCase> {};

TEST_P(ReportPageTest, ChartPointsAreTheStoredLaps) {
    const PageCase& c = GetParam();
    ExpectedRace expected;
    const std::string db = storedRaces({c.script}, &expected);
    report::RaceHistory history = report::loadRaceHistory(db, std::nullopt);
    report::RaceAnalysis analysis = report::analyseRace(history);
    std::string html = report::renderReport(history, analysis, {db});

    EXPECT_EQ(analysis.stints.size(), c.stints);
    std::vector<Attributes> level = series(html, "circle", "fuel-level");
    std::vector<Attributes> burn = series(html, "circle", "burn");
    std::vector<Attributes> burnMax = series(html, "circle", "burn-max");
    std::vector<Attributes> left = series(html, "circle", "laps-left");
    ASSERT_EQ(level.size(), expected.laps.size());
    ASSERT_EQ(burn.size(), expected.laps.size());
    std::vector<ExpectedLap> withMax;
    for (const auto& lap : expected.laps) {
        if (lap.burnMax >= 0) {
            withMax.push_back(lap);
        }
    }
    ASSERT_EQ(burnMax.size(), withMax.size());
    for (size_t i = 0; i < withMax.size(); ++i) {
        EXPECT_EQ(burnMax[i].at("data-lap"), std::to_string(withMax[i].lap));
        EXPECT_NEAR(value(burnMax[i]), withMax[i].burnMax, 0.006);
    }
    ASSERT_EQ(left.size(), expected.laps.size());
    for (size_t i = 0; i < expected.laps.size(); ++i) {
        const auto& lap = expected.laps[i];
        std::string at = "lap " + std::to_string(lap.lap);
        EXPECT_EQ(level[i].at("data-lap"), std::to_string(lap.lap)) << at;
        EXPECT_NEAR(value(level[i]), lap.fuelLevel, 0.0006) << at;
        EXPECT_NEAR(value(burn[i]), lap.burn, 0.006) << at;
        EXPECT_NEAR(value(left[i]), lap.lapsLeft, 0.006) << at;
    }
    if (expected.laps.empty()) {
        EXPECT_NE(html.find("id=\"no-lap-data\""), std::string::npos);
    }

    // Fuel used: every lap but the race's first; the lap after a stop counts from the stall.
    std::vector<Attributes> used = series(html, "rect", "fuel-used");
    std::vector<ExpectedLap> wantUsed;
    for (const auto& lap : expected.laps) {
        if (lap.fuelUsed >= 0) {
            wantUsed.push_back(lap);
        }
    }
    ASSERT_EQ(used.size(), wantUsed.size());
    for (size_t i = 0; i < used.size(); ++i) {
        EXPECT_EQ(used[i].at("data-lap"), std::to_string(wantUsed[i].lap));
        EXPECT_NEAR(value(used[i]), wantUsed[i].fuelUsed, 0.006) << "lap " << wantUsed[i].lap;
        // Each lap's bar keeps to its own lap.
        if (i > 0) {
            EXPECT_LE(value(used[i - 1], "x") + value(used[i - 1], "width"), value(used[i], "x"));
        }
    }

    // The stops: table rows and a marker in each lap chart.
    std::vector<Attributes> rows = elements(html, "tr", "data-stop=");
    ASSERT_EQ(rows.size(), expected.stops.size());
    EXPECT_EQ(elements(html, "line", "class=\"stop\"").size(),
              expected.laps.empty() ? 0 : expected.stops.size() * 4);
    for (size_t i = 0; i < expected.stops.size(); ++i) {
        const auto& stop = expected.stops[i];
        EXPECT_EQ(rows[i].at("data-lap"), std::to_string(stop.lap));
        // Without a stall report the level on arrival is the pit entry's, a little higher.
        double tolerance = stop.reported ? 0.011 : 0.25;
        EXPECT_NEAR(value(rows[i], "data-liters-added"), stop.liters, tolerance)
            << "stop " << i + 1;
    }

    // Tire readings by stint and corner.
    std::vector<Attributes> wear = series(html, "rect", "tire-wear");
    size_t readings = 0;
    for (const auto& [stint, corners] : expected.wear) {
        for (int corner = 0; corner < 4; ++corner) {
            ++readings;
            auto it = std::find_if(wear.begin(), wear.end(), [&](const Attributes& a) {
                return a.at("data-stint") == std::to_string(stint) &&
                       a.at("data-corner") == report::kCornerNames[corner];
            });
            ASSERT_NE(it, wear.end()) << "stint " << stint << " " << report::kCornerNames[corner];
            EXPECT_NEAR(value(*it), corners[corner], 0.006);
        }
    }
    EXPECT_EQ(wear.size(), readings);
    // Self-contained: nothing fetched, nothing run.
    for (const char* outside : {"<script", "src=", "href=", "@import", "url("}) {
        EXPECT_EQ(html.find(outside), std::string::npos) << outside;
    }
}

INSTANTIATE_TEST_SUITE_P(Races, ReportPageTest, ::testing::ValuesIn(pageCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ReportAnalysisTest, StopsTiresAndWindows) {
    const RaceScript s{.laps = 12, .startFuel = 20, .tank = 25, .stops = {{6, 17.5, 2 | 8, true}}};
    report::RaceHistory history = report::loadRaceHistory(storedRaces({s}), std::nullopt);
    report::RaceAnalysis a = report::analyseRace(history);
    ASSERT_EQ(a.stops.size(), 1u);
    EXPECT_EQ(a.stops[0].tiresOrdered.value_or(-1), 2 | 8);
    EXPECT_TRUE(a.stops[0].tireDistanceReset.value_or(false));
    EXPECT_EQ(report::tireCorners(2 | 8), "RF RR");
    EXPECT_EQ(report::tireCorners(15 | 16), "all four");
    EXPECT_EQ(report::tireCorners(16), "none");
    // Stint 1: 20 l at 2.5 a lap; after lap L, (12 - L) laps still need about 2.53 l each. That
    // fits a 25-liter tank from lap 3 on, and the fuel of lap 6 (5.5 l) lasts 2 more laps.
    ASSERT_FALSE(a.windows.empty());
    EXPECT_EQ(a.windows[0].stint, 1);
    EXPECT_EQ(a.windows[0].opens.value_or(-1), 3);
    EXPECT_EQ(a.windows[0].closes, 8);
    // Stint 2 starts with 5.5 + 17.5 l, which reaches the finish.
    EXPECT_EQ(a.stintsReachingFinish, std::vector<int>{2});
}

TEST(ReportSessionTest, TheRaceOfTheChosenSubsessionIsShown) {
    // A practice and a race of subsession 500, then a race of a later one.
    const std::string db =
        storedRaces({{.kind = 2, .laps = 3}, {.laps = 5}, {.subSessionId = 600, .laps = 2}});
    struct Case {
        std::optional<int64_t> session;
        int64_t shown;
        size_t laps;
        size_t otherKinds;
    };
    const Case cases[] = {{std::nullopt, 600, 2, 0}, {500, 500, 5, 1}, {600, 600, 2, 0}};
    for (const Case& c : cases) {
        report::RaceHistory h = report::loadRaceHistory(db, c.session);
        EXPECT_EQ(h.session.subSessionId, c.shown);
        EXPECT_EQ(h.session.kind, report::kSessionKindRace);
        EXPECT_EQ(report::analyseRace(h).laps.size(), c.laps);
        EXPECT_EQ(h.session.otherKinds.size(), c.otherKinds);
    }
}

// The program itself: what a driver sees when something is wrong.
TEST(ReportProgramTest, ErrorsArePlainAndNothingIsWritten) {
    const char* binDir = std::getenv("KORVANE_BIN_DIR");
    ASSERT_NE(binDir, nullptr);
    fs::path program = fs::path(binDir) / "Qm_Korvane_Report";
    ASSERT_TRUE(fs::exists(program));
    const RaceScript s{.stops = {{5, 10, 0, true}}};
    // The database's name is the one text on the page that comes from outside.
    const std::string race = storedRaces({s}, nullptr, "Ana <Börk> & \"Co\".db");
    const fs::path folder = fs::path(race).parent_path();
    std::string empty = (folder / "empty.db").string();
    { racedata::RaceStore store(empty); }
    std::string text = (folder / "notes.db").string();
    std::ofstream(text) << "not a database, just notes\n";
    struct Case {
        const char* name;
        std::string arguments;
        int exitCode;
        std::string message;
    };
    std::string out = (folder / "report.html").string();
    const Case cases[] = {
        {"missing database", "--db " + (folder / "none.db").string(), 1, "not found"},
        {"not a database", "--db " + text, 1, "not a database"},
        {"no reports", "--db " + empty, 1, "holds no reports"},
        {"unknown session", "--db '" + race + "' --session 4242", 1, "has no session 4242"},
    };
    for (const Case& c : cases) {
        fs::remove(out);
        std::string errors = (folder / "stderr.txt").string();
        std::string command = "'" + program.string() + "' " + c.arguments + " --out '" + out +
                              "' >/dev/null 2>'" + errors + "'";
        int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status)) << c.name;
        EXPECT_EQ(WEXITSTATUS(status), c.exitCode) << c.name;
        EXPECT_NE(readFile(errors).find(c.message), std::string::npos)
            << c.name << ": " << readFile(errors);
        EXPECT_FALSE(fs::exists(out)) << c.name;
    }

    // And the good case writes the page, with no partial file left beside it.
    std::string command = "'" + program.string() + "' --db '" + race + "' --out '" + out + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string html = readFile(out);
    EXPECT_NE(html.find("data-series=\"fuel-level\""), std::string::npos);
    EXPECT_EQ(html.find("<Börk>"), std::string::npos);
    EXPECT_EQ(html.find("\"Co\""), std::string::npos);
    EXPECT_NE(html.find("Ana &lt;Börk&gt; &amp; &quot;Co&quot;.db"), std::string::npos);
    EXPECT_FALSE(fs::exists(out + ".part"));
}

}  // namespace
