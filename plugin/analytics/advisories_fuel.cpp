// The spoken starting-fuel suggestion for the race session.

#include <cwchar>

#include "common/log_writer.h"
#include "plugin/analytics/advisories_session.h"
#include "plugin/analytics/analytics_calls.h"
#include "plugin/audio/voice.h"
#include "plugin/engineer/race_state.h"

namespace analytics {

namespace {
// The race is the third session of the weekend.
constexpr int kRaceSessionNum = 2;
// Anything up to a liter is no suggestion.
constexpr double kLeastSuggestion = 1.0;
}  // namespace

void AdviseStartingFuel() {
    engineer::RaceState& r = engineer::Race();
    int32_t laps = 0;
    int32_t seconds = 0;
    querySessionInt(
        formatQueryPath("SessionInfo:Sessions:SessionNum:{%d}SessionLaps:", kRaceSessionNum), laps);
    querySessionInt(
        formatQueryPath("SessionInfo:Sessions:SessionNum:{%d}SessionTime:", kRaceSessionNum),
        seconds);

    if (r.LastHighFuelBurnMax == 0) {
        r.LastHighFuelBurnMax = laps > 0 ? r.FuelBurnPerLapMax : r.FuelBurnPerMinMax;
    }
    // Only the laps enter the product: a race limited by time has no count to multiply.
    double fuel = static_cast<double>(static_cast<float>(laps) * r.LastHighFuelBurnMax);
    double extra = 0.0;
    if (fuel > r.FuelTankLiters) {
        extra = fuel - r.FuelTankLiters;
        fuel = r.FuelTankLiters;
    }

    wchar_t text[256];
    if (fuel > kLeastSuggestion) {
        std::swprintf(text, 256, L" Current Suggested Starting Fuel is %3.2f Liters", fuel);
        audio::Speak(text);
        common::WritePluginLogf(
            "LOG: Request Starting Fuel. LastHighFuelBurnMax:%3.2f RaceSessionLapsMax:%d "
            "RaceSessionTimeMax:%d RaceSessionType:%d StartingFuel:%3.2f AdditionalFuel:%3.2f, "
            "FuelBurnPerLapMax:%3.2f FuelBurnPerMinMax:%3.2f",
            static_cast<double>(r.LastHighFuelBurnMax), laps, seconds, laps > 0 ? 1 : 2, fuel,
            extra, static_cast<double>(r.FuelBurnPerLapMax),
            static_cast<double>(r.FuelBurnPerMinMax));
    } else {
        std::swprintf(text, 256, L" Not enough information, Suggest Starting Fuel %d Liters",
                      r.FuelTankLiters);
        audio::Speak(text);
    }
}

}  // namespace analytics
