#pragma once
// A race written into a race-data database through the service's own store, lap by lap as the
// plugin reports it: a lap report near the pit entry each lap (two on a lap that ends in the
// pits), a data report in the stall at each stop and one at the checkered flag. What the page
// should show for it is kept alongside.

#include <map>
#include <string>
#include <vector>

#include "tools/racedata/race_store.h"

namespace reporttest {

struct PlannedStop {
    int lap = 0;
    double liters = 0;
    int tires = 0;         // pit-service tire bits (1 LF, 2 RF, 4 LR, 8 RR)
    bool reported = true;  // false: the plugin had no measured stint and sent no data report
};

struct RaceScript {
    int64_t subSessionId = 500;
    int kind = 4;  // race
    int driverId = 77;
    int raceType = 1;
    int laps = 10;
    double startFuel = 30;
    double burn = 2.5;
    double tank = 60;
    std::vector<PlannedStop> stops;
    bool checkered = true;
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

struct ExpectedStop {
    int lap;
    double litersAdded;
    int tires;
};

struct ExpectedRace {
    std::vector<ExpectedLap> laps;  // one a lap, the last report of the lap
    std::vector<ExpectedStop> stops;
    // Wear readings by stint (1-based), LF RF LR RR.
    std::map<int, std::vector<double>> wear;
};

// Writes the race into `store` and returns what it stored.
ExpectedRace writeRace(racedata::RaceStore& store, const RaceScript& script);

}  // namespace reporttest
