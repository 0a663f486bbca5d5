#pragma once
// What a driver reads off a session's reports: one row a lap, the stops, the stints between
// them and the pit windows. Only what the stored reports allow; a value they do not carry
// stays empty (std::nullopt) so the page can say so.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "tools/report/race_history.h"

namespace report {

struct LapRow {
    int lap = 0;
    int stint = 1;
    double fuelLevel = 0;
    // Liters burnt over this lap: from the previous lap's level, or for the first lap after a
    // stop from the fuel used since the stall. Empty where neither is known.
    std::optional<double> fuelUsed;
    double burn = 0;  // the plugin's burn in the race unit (per lap, or per minute when timed)
    double burnMax = 0;
    std::optional<double> lapsLeft;  // empty when the plugin had no figure (999)
    double fuelToFinish = 0;
    double tankLiters = 0;
    int64_t tireDistance = 0;
    const LapReport* source = nullptr;
};

struct Stop {
    int lap = 0;
    int64_t sessionTime = 0;
    bool reported = false;  // a data report from the stall; else seen from the fuel levels only
    double fuelBefore = 0;
    std::optional<double> litersAdded;
    // Tire changes the simulator had been asked for at the stop (bits 1 LF, 2 RF, 4 LR, 8 RR);
    // empty when there was no data report.
    std::optional<int> tiresOrdered;
    // The distance on the tires started again after the stop.
    std::optional<bool> tireDistanceReset;
    const DataReport* source = nullptr;
};

struct Stint {
    int number = 1;
    int firstLap = 0;  // of the lap rows; 0 when the stint has none
    int lastLap = 0;
    // Tire readings at the end of the stint (the stop's or the checkered flag's data report).
    std::optional<std::array<double, 4>> wearAtEnd;
};

struct PitWindow {
    int stint = 1;
    // The first lap at which the fuel still needed fitted one tank, and the last lap the fuel
    // in the tank reached. `opens` is empty when the fuel never fitted one tank in the stint.
    std::optional<int> opens;
    int closes = 0;
};

struct RaceAnalysis {
    std::vector<LapRow> laps;
    std::vector<Stop> stops;
    std::vector<Stint> stints;
    std::vector<PitWindow> windows;
    // A stint that needed no stop to reach the finish has no window.
    std::vector<int> stintsReachingFinish;
    bool timeLimited = false;
    std::optional<std::array<double, 4>> finishWear;
};

RaceAnalysis analyseRace(const RaceHistory& history);

// "LF RF", "all four", "none".
std::string tireCorners(int bits);

}  // namespace report
