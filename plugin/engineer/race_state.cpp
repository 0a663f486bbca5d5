#include "plugin/engineer/race_state.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "plugin/telemetry/catalogue.h"

namespace engineer {

using telemetry::vars::FuelLevel;
using telemetry::vars::Lap;
using telemetry::vars::LapDist;
using telemetry::vars::PlayerTrackSurface;
using telemetry::vars::SessionTime;

RaceState& Race() {
    // Never destroyed: the ctrl-c handler ends the process from another thread while the tick
    // may still be using the record.
    static RaceState* state = new RaceState();
    return *state;
}

void ResetRaceState() {
    RaceState& r = Race();
    std::destroy_at(&r);
    std::construct_at(&r);
}

void FuelReset() {
    RaceState& r = Race();
    r.ResetSessionTime = std::trunc(SessionTime.readDouble());
    r.ResetLap = Lap.readInt();
    // Out of the world (in the garage) the lap distance says nothing about where the car will
    // stand: the window's place on the lap is taken when the car first appears (-1 until then).
    r.ResetLapDist = PlayerTrackSurface.readInt() == telemetry::vars::kSurfaceNotInWorld
                         ? -1.0f
                         : std::max(0.0f, LapDist.readFloat());
    r.DistanceSinceReset = 0;
    r.FuelAtReset = FuelLevel.readFloat();

    // The highest burn of the first window is kept across resets, so it is taken before the
    // maxima are cleared below.
    if (r.LastHighFuelBurnMax == 0) {
        if (r.RaceSessionType == 1) {
            r.LastHighFuelBurnMax = r.FuelBurnPerLapMax;
        } else if (r.RaceSessionType == 2) {
            r.LastHighFuelBurnMax = r.FuelBurnPerMinMax;
        }
    }

    r.NextPitLaps = 0;
    r.FuelPlanFraction = 0;
    r.FuelBurnPerLapMax = 0;
    r.FuelBurnPerMinMax = 0;
    r.FuelPlan = 0;
    r.FuelBurnMax = 0;
    r.FuelBurnPerLap = 0;
    r.FuelBurnPerMin = 0;
}

void TireReset() {
    RaceState& r = Race();
    r.TireAgeInLaps = 0;
    r.TireChangeLap = Lap.readInt();
    r.TireDistance = 0;
    r.TireResetDone = 1;
    r.TireChangeMode = 0;
}

void DisconnectReset() {
    RaceState& r = Race();
    r.TelemetryLoaded = 0;
    r.FuelPlan = 0;
    r.BaselinePressureLF = 0;
    r.BaselinePressureRF = 0;
    r.BaselinePressureLR = 0;
    r.BaselinePressureRR = 0;
}

}  // namespace engineer
