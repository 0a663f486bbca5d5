// The fuel picture of one refresh: burn since the last fuel reset, fuel to finish, laps left,
// the next pit window and the litres to add at the next stop.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "plugin/analytics/snapshot_numbers.h"
#include "plugin/analytics/snapshot_steps.h"
#include "plugin/engineer/race_state.h"
#include "plugin/telemetry/catalogue.h"

namespace analytics::snapshot {

namespace {

namespace vars = telemetry::vars;

// Above 99 litres per lap or per minute a burn is a measuring artefact (a window only metres
// or seconds long); not a number (0 / 0 right after a reset) is none either.
float SaneBurn(double burn) {
    if (!std::isfinite(burn) || burn > 99.0) {
        return 0;
    }
    return static_cast<float>(burn);
}

void PlanFraction(engineer::RaceState& r) {
    if (!(r.TanksToFinish < 3.0)) {
        return;
    }
    switch (r.FuelPlan) {
        case 0:
            r.FuelPlanFraction = 1.0;
            break;
        case 1:
            r.FuelPlanFraction = 0.25;
            break;
        case 2:
            r.FuelPlanFraction = 0.5;
            break;
        case 3:
            r.FuelPlanFraction = 0.75;
            break;
        default:
            break;
    }
}

// What the simulator publishes for the laps of a session without a lap limit.
constexpr int32_t kUnlimitedLaps = 32767;
// SessionState before the race runs.
constexpr int32_t kStateGetInCar = 1;
constexpr int32_t kStateParadeLaps = 3;

void RaceUnit(engineer::RaceState& r, const SessionLimits& s) {
    // Unlimited laps are no limit, however long the clock runs (a 24-hour race, testing).
    if (s.lapsRemain > 0 && s.lapsRemain < kUnlimitedLaps && s.lapsRemain < s.timeRemain) {
        r.RaceSessionType = 1;
        r.RaceUnitWord = "Laps";
    } else {
        r.RaceSessionType = 2;
        r.RaceUnitWord = "Minutes";
    }
}

void WindowSinceReset(engineer::RaceState& r) {
    const double wholeSessionTime = vars::SessionTime.readInt();
    // A window opened in the garage restarts where the car is first seen in the world (the
    // grid, the stall, or further on when a busy tick missed it standing): its lap distance and
    // its fuel then belong to one stretch.
    if (r.ResetLapDist < 0 && vars::PlayerTrackSurface.readInt() != vars::kSurfaceNotInWorld) {
        engineer::FuelReset();
    }
    r.LapsSinceReset = static_cast<int32_t>(static_cast<int64_t>(vars::Lap.readInt()) - r.ResetLap);
    // Metres run since the reset: the window began where the car stood then (a pit stall before
    // the line is a few metres short of a whole lap, not one).
    r.DistanceSinceReset =
        static_cast<float>(vars::LapDist.readFloat() + r.LapsSinceReset * r.LocalLapLength -
                           std::max(0.0, static_cast<double>(r.ResetLapDist)));
    r.FuelUsed =
        static_cast<float>(static_cast<double>(r.FuelAtReset) - vars::FuelLevel.readDouble());
    if (!(r.FuelUsed >= 0)) {
        r.FuelUsed = 0;
    }
    r.FuelBurnPerLap =
        SaneBurn(static_cast<float>(r.LocalLapLength * r.FuelUsed / r.DistanceSinceReset));
    r.FuelBurnPerMin = SaneBurn(r.FuelUsed / ((wholeSessionTime - r.ResetSessionTime) / 60));
    r.FuelBurnPerLapMax = std::max(r.FuelBurnPerLapMax, r.FuelBurnPerLap);
    r.FuelBurnPerMinMax = std::max(r.FuelBurnPerMinMax, r.FuelBurnPerMin);
}

void FuelToFinish(engineer::RaceState& r, const SessionLimits& s) {
    if (r.RaceSessionType == 1) {
        r.FuelBurnPerUnit = r.FuelBurnPerLap;
        if (r.LapsSinceReset < 2) {
            r.FuelToFinish = static_cast<float>(s.lapsRemain) * r.FuelBurnPerUnit;
        } else {
            r.FuelBurnMax = std::max(r.FuelBurnMax, r.FuelBurnPerLap);
            r.FuelToFinish = static_cast<float>(s.lapsRemain) * r.FuelBurnMax;
        }
    } else {
        r.FuelBurnMax = std::max(r.FuelBurnMax, r.FuelBurnPerMin);
        r.FuelBurnPerUnit = r.FuelBurnPerMin;
        r.FuelToFinish = r.FuelBurnMax * static_cast<float>(s.timeRemain / 60);
    }
}

// Returns the reserve for this pass's burns, which the litres to add use after the refuel
// detection may have cleared the burns.
int32_t LapsLeftAndNextWindow(engineer::RaceState& r) {
    r.FuelLapsLeft = static_cast<float>(vars::FuelLevel.readDouble() / r.FuelBurnPerLap);
    const int32_t reserve = ReserveLiters(r.FuelBurnPerMin, r.FuelBurnPerLap);
    const bool planned = r.FuelPlan >= 1 && r.FuelPlan <= 3;
    if (r.TanksToFinish > 1.0 && r.TanksToFinish < 3.0 && planned) {
        r.NextPitLaps = r.FuelPlanFraction * (r.FuelToFinish / r.FuelBurnPerLap);
    } else {
        r.NextPitLaps = r.FuelLapsLeft;
    }
    if (r.FuelPlan == 4) {
        r.FuelToFinish += reserve;
    }
    // Not a number means no need is known: nothing to add.
    r.FuelToFinish = std::isnan(r.FuelToFinish) ? 0 : std::clamp(r.FuelToFinish, 0.0, 999.0);
    const int32_t state = vars::SessionState.readInt();
    if (state == 1 || state == 3 || state == 6) {
        r.FuelToFinish = 0;
    }
    if (!(r.FuelLapsLeft >= 0 && r.FuelLapsLeft <= 999)) {
        r.FuelLapsLeft = 999;
    }
    // No burn yet (right after every reset) gives an endless window; it reads as the laps
    // left do.
    if (!(r.NextPitLaps >= 0 && r.NextPitLaps <= 999)) {
        r.NextPitLaps = 999;
    }
    return reserve;
}

void LitersToAdd(engineer::RaceState& r, int32_t reserve) {
    r.LitersToAdd = r.FuelToFinish - vars::FuelLevel.readDouble();
    if (std::trunc(r.LitersToAdd) > 0) {
        r.LitersToAdd = std::trunc(r.LitersToAdd) + reserve;
    }
    r.FuelTankLiters = UsableTankLiters(r.CarClassMaxFuelPct, r.CarFuelMaxLtr);
    r.TanksToFinish = r.FuelToFinish / r.FuelTankLiters;
    // An empty tank size gives no number of tanks; 999 keeps every tank-dependent call and
    // plan as quiet as the infinite quotient did, without printing "inf" or "nan".
    if (!std::isfinite(r.TanksToFinish)) {
        r.TanksToFinish = 999;
    }
    const int32_t inTank = truncToInt(vars::FuelLevel.readFloat());
    if (static_cast<double>(inTank) + r.LitersToAdd > r.FuelTankLiters) {
        r.LitersToAdd = static_cast<double>(r.FuelTankLiters) - inTank;
    }
    if (!(r.LitersToAdd >= 0)) {
        r.LitersToAdd = 0;
    }
}

}  // namespace

int32_t UsableTankLiters(double classMaxFuelPct, double carFuelMaxLtr) {
    // 0.57 x 100 is 56.99999999999999 in binary: the product is taken to a millionth of a
    // litre first, so that a product that is whole in decimal truncates to itself.
    const double liters = classMaxFuelPct * carFuelMaxLtr;
    if (!std::isfinite(liters)) {
        return truncToInt(liters);
    }
    return truncToInt(std::round(liters * 1e6) / 1e6);
}

int32_t ReserveLiters(float burnPerMin, float burnPerLap) {
    return truncToInt(std::trunc(static_cast<double>(burnPerMin) + 0.9) +
                      2 * std::trunc(static_cast<double>(burnPerLap) + 0.9));
}

void WorkOutFuel() {
    engineer::RaceState& r = engineer::Race();
    SessionLimits limits;
    limits.lapsRemain = vars::SessionLapsRemainEx.readInt();
    limits.timeRemain = vars::SessionTimeRemain.readInt();

    PlanFraction(r);
    RaceUnit(r, limits);
    WindowSinceReset(r);
    FuelToFinish(r, limits);
    const int32_t reserve = LapsLeftAndNextWindow(r);
    // A full or rising tank restarts the window; it begins when the level first falls. Before
    // the green flag (getting in, warm-up, pace laps) it restarts too: the simulator does not
    // count a pace lap in Lap, so a window across it would hold the lap's fuel without its
    // metres.
    const int32_t state = vars::SessionState.readInt();
    const bool beforeTheGreen = state >= kStateGetInCar && state <= kStateParadeLaps;
    if (vars::FuelLevel.readDouble() >= r.FuelAtReset || beforeTheGreen) {
        engineer::FuelReset();
    }
    LitersToAdd(r, reserve);
    r.SessionRemaining = r.RaceSessionType == 1 ? limits.lapsRemain : limits.timeRemain / 60;
}

}  // namespace analytics::snapshot
