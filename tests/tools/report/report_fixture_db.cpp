// Writes a two-stint race into a new race-data database and prints, one per line, the laps the
// page should chart ("lap LAP FUEL BURN BURNMAX LAPSLEFT", BURNMAX -1 where none) and its stops
// ("stop LAP LITERS").
//
// usage: report_fixture_db DATABASE

#include <cstdio>
#include <exception>

#include "race_fixture.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: report_fixture_db DATABASE\n");
        return 2;
    }
    try {
        racedata::RaceStore store(argv[1]);
        reporttest::RaceScript script;
        script.laps = 12;
        script.startFuel = 20;
        script.stops = {{6, 17.5, 15, true}};
        reporttest::ExpectedRace race = reporttest::writeRace(store, script);
        for (const auto& lap : race.laps) {
            std::printf("lap %d %.3f %.2f %.2f %.2f\n", lap.lap, lap.fuelLevel, lap.burn,
                        lap.burnMax, lap.lapsLeft);
        }
        for (const auto& stop : race.stops) {
            std::printf("stop %d %.2f\n", stop.lap, stop.litersAdded);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "report_fixture_db: %s\n", e.what());
        return 1;
    }
    return 0;
}
