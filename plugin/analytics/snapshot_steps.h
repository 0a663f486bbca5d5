#pragma once
// The steps of one session snapshot refresh, in the order RefreshSessionSnapshot runs them.
// Each reads the telemetry row and the race state and writes the race state.

#include <cstdint>

namespace analytics::snapshot {

// The session's lap and time limits as this pass read them.
struct SessionLimits {
    int32_t lapsRemain = 0;  // SessionLapsRemainEx
    int32_t timeRemain = 0;  // SessionTimeRemain, whole seconds
};

// Session facts from the session text, then the session kind.
void ReadSessionFacts();
// Plan fraction, race unit, the fuel window, fuel to finish, laps left, the next window,
// refuel detection, litres to add and the session remaining.
void WorkOutFuel();
// Pit entry distance, countdown tones, then the pit approach or the status output, and the
// closing blanks of the console row.
void TrackPitEntry();

// The usable tank in whole litres: the class's fraction of the car's tank.
int32_t UsableTankLiters(double classMaxFuelPct, double carFuelMaxLtr);

// The player's car index: the telemetry's, or the session text's where an old simulator
// publishes none.
int32_t PlayerCarIndex();

// The reserve in whole litres for the current burns.
int32_t ReserveLiters(float burnPerMin, float burnPerLap);

}  // namespace analytics::snapshot
