#include "race_fixture.h"

#include <algorithm>
#include <cmath>

namespace reporttest {

namespace {

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

std::vector<racedata::FieldValue> lapReport(const std::map<std::string, double>& values) {
    return report(racedata::lapReportFields(), values);
}
std::vector<racedata::FieldValue> dataReport(const std::map<std::string, double>& values) {
    return report(racedata::dataReportFields(), values);
}

// A lap takes 100 s; the pit entry is at 93 % of the lap, the stall at 98.5 %.
constexpr double kLapSeconds = 100;
constexpr double kPitEntry = 0.93;
constexpr double kOnTrackReport = 0.92;
constexpr double kStall = 0.985;
constexpr double kLapLength = 5000;

}  // namespace

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
        {"did", double(s.driverId)},
        {"sft", double(s.raceType)},
        {"fs", s.tank},
    };
    int stint = 1;
    double previousFuel = -1;  // at the last lap's report of this stint, < 0 after a stop
    bool firstLap = true;
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
                store.insertLapReport(lapReport(v));
            }
            if (mark == kPitEntry && s.lapReports) {
                double used = firstLap           ? -1
                              : previousFuel < 0 ? fuelAtReset - fuel
                                                 : previousFuel - fuel;
                expected.laps.push_back({lap, fuel,
                                         s.raceType == 2 ? burn * 60 / kLapSeconds : burn,
                                         lapsInStint < 1 ? -1 : burnMax, fuel / burn, used});
                previousFuel = fuel;
                firstLap = false;
            }
        }
        double t = lap - 1 + kStall;
        std::vector<double> wear = wearAt(t);
        if (stop != s.stops.end()) {
            double before = fuelAt(t);
            if (stop->reported) {
                std::map<std::string, double> v = common;
                v.insert({{"sl", lap},
                          {"st", std::floor(t * kLapSeconds)},
                          {"psv", stop->tires | 16},
                          {"fl", before},
                          {"fu", fuelAtReset - before},
                          {"fta", stop->liters},
                          {"fbpl", burn},
                          {"fbpm", burn * 60 / kLapSeconds},
                          {"fbm", burnMax},
                          {"wlf", wear[0]},
                          {"wrf", wear[1]},
                          {"wlr", wear[2]},
                          {"wrr", wear[3]}});
                store.insertDataReport(dataReport(v));
                expected.wear[stint] = wear;
            }
            refuelled += stop->liters;
            fuelAtReset = fuelAt(t);
            if (stop->tires) {
                tiresFitted = t;
            }
            previousFuel = -1;
            lapsInStint = -1;
            expected.stops.push_back({lap, stop->liters, stop->reported ? stop->tires : -1});
            ++stint;
        }
        ++lapsInStint;
    }
    if (s.checkered) {
        double t = s.laps + 0.01;
        std::vector<double> wear = wearAt(t);
        std::map<std::string, double> v = common;
        v["sst"] = 5;  // checkered
        v.insert({{"sl", s.laps + 1},
                  {"st", std::floor(t * kLapSeconds)},
                  {"fl", fuelAt(t)},
                  {"fbm", burnMax},
                  {"wlf", wear[0]},
                  {"wrf", wear[1]},
                  {"wlr", wear[2]},
                  {"wrr", wear[3]}});
        store.insertDataReport(dataReport(v));
        expected.wear[stint] = wear;
    }
    return expected;
}

}  // namespace reporttest
