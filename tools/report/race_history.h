#pragma once
// What the race-data database holds about one session of one subsession, read as stored: the
// lap reports (one or two a lap, near the pit entry) and the data reports (a stop in the stall,
// the checkered flag), in the order of the session clock.

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace report {

// Anything that keeps the report from being written: the message is meant for the driver.
class ReportError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The plugin's session kinds (1 testing ... 6 heat, 0 other).
inline constexpr int kSessionKindRace = 4;
// The simulator's session states from the checkered flag on.
inline constexpr int kSessionStateCheckered = 5;
// Race types: limited by laps or by time.
inline constexpr int kLapLimited = 1;
inline constexpr int kTimeLimited = 2;
// FuelLapsLeft when the plugin could not work it out.
inline constexpr double kUnknownLapsLeft = 999;

enum Corner { kLeftFront, kRightFront, kLeftRear, kRightRear };
inline constexpr const char* kCornerNames[4] = {"LF", "RF", "LR", "RR"};

struct LapReport {
    int64_t id = 0;
    int lap = 0;
    int64_t sessionTime = 0;
    int sessionState = 0;
    int driverId = 0;
    int pitServices = 0;
    double fuelLevel = 0;
    double fuelUsed = 0;  // since the plugin's last fuel reset
    double burnPerLap = 0;
    double burnPerMinute = 0;
    double burnMax = 0;  // per lap or per minute, by race type
    double lapsLeft = 0;
    double tankLiters = 0;
    double litersToAdd = 0;
    double fuelToFinish = 0;
    int lapsRemaining = 0;
    int64_t timeRemaining = 0;
    int position = 0;
    int64_t tireDistance = 0;  // metres on the current tires
    int raceType = 0;
};

struct DataReport {
    int64_t id = 0;
    int lap = 0;
    int64_t sessionTime = 0;
    int sessionState = 0;
    int driverId = 0;
    int pitServices = 0;
    double fuelLevel = 0;
    double fuelUsed = 0;
    double litersToAdd = 0;
    double burnPerLap = 0;
    double burnPerMinute = 0;
    double burnMax = 0;
    std::array<double, 4> wear{};  // inner side, 1.0 = new, by Corner
    int raceType = 0;
};

struct SessionChoice {
    int64_t subSessionId = 0;
    int kind = 0;
    int trackId = 0;
    int carId = 0;
    int raceType = 0;
    std::vector<int> driverIds;
    // Kinds of this subsession that have reports but are not shown, with their report counts.
    std::vector<std::pair<int, int64_t>> otherKinds;
};

struct RaceHistory {
    SessionChoice session;
    std::vector<LapReport> laps;
    std::vector<DataReport> dataReports;
};

// Reads the session `subSessionId`, or the one that reported last when none is given. Of its
// session kinds the race is taken, else the kind that reported last. Throws ReportError when
// the file is missing or not a race-data database, holds no reports, or has no such session.
RaceHistory loadRaceHistory(const std::string& databasePath, std::optional<int64_t> subSessionId);

const char* sessionKindName(int kind);

}  // namespace report
