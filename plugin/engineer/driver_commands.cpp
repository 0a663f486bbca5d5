// The driver's six functions, answered by where the car is.

#include "common/log_writer.h"
#include "plugin/audio/voice.h"
#include "plugin/analytics/analytics_calls.h"
#include "plugin/engineer/race_state.h"
#include "plugin/engineer/race_work.h"
#include "plugin/telemetry/catalogue.h"

namespace engineer {

using telemetry::vars::Lap;
using telemetry::vars::LFcoldPressure;
using telemetry::vars::LRcoldPressure;
using telemetry::vars::PlayerTrackSurface;
using telemetry::vars::RFcoldPressure;
using telemetry::vars::RRcoldPressure;

namespace {

// Spoken answers of the driver's functions: the tick waits for each.
using Answer = Sentence<256>;

bool pressed(Function f) {
    return (Race().PressedFunctions & f) != 0;
}

void ToggleAdaptiveTires() {
    RaceState& r = Race();
    if (r.AdaptiveTireManagement == 0) {
        r.AdaptiveTireManagement = 1;
        SpeakNow(L" Adaptive Tire management is now enabled");
    } else {
        r.AdaptiveTireManagement = 0;
        SpeakNow(L" Adaptive Tire management is now disabled");
    }
}

void FuelNumbers() {
    const RaceState& r = Race();
    Answer a;
    a.format(
        L" Checking the numbers there is %0.1f laps of fuel left, we will need %d more "
        L"liters at the current burn of %0.1f liters per lap. Current Fuel plan %d, Next "
        L"Pit window in %d laps",
        static_cast<double>(r.FuelLapsLeft), truncToInt(r.FuelToFinish),
        static_cast<double>(r.FuelBurnPerLap), r.FuelPlan, truncToInt(r.NextPitLaps));
    SpeakNow(a.text);
}

void NextStintPlan() {
    RaceState& r = Race();
    r.FuelPlan = (r.FuelPlan >= 0 && r.FuelPlan < 4) ? r.FuelPlan + 1 : 0;
    Answer a;
    // The plan only takes effect while the fuel still needed lies between one and three tanks;
    // it is changed either way, so the driver hears which plan is now set.
    if (r.TanksToFinish > 1.0 && r.TanksToFinish < 3.0) {
        a.format(L" Setting Stint Fuel plan %d", r.FuelPlan);
    } else {
        a.format(
            L" Fuel Plan change not available yet. Setting plan %d, Next Pit window in %d "
            L"laps",
            r.FuelPlan, truncToInt(r.NextPitLaps));
    }
    SpeakNow(a.text);
}

void NextTireChoice() {
    RaceState& r = Race();
    r.TireChangeMode = (r.TireChangeMode >= 0 && r.TireChangeMode < 2) ? r.TireChangeMode + 1 : 0;
    analytics::OrderTiresForMode();
    const wchar_t* message = L" Setting no tires.";
    if (r.TireChangeMode == 1) {
        message = L" Setting all tires.";
    } else if (r.TireChangeMode == 2) {
        message = L" Setting right sides only.";
    }
    common::WritePluginLogf("LOG: Lap %d TireChangeMode: %d TireAgeInLaps %d ", Lap.readInt(),
                            r.TireChangeMode, r.TireAgeInLaps);
    SpeakNow(message);
}

CommandResult OnTrack() {
    if (pressed(kFuel)) {
        FuelNumbers();
    }
    if (pressed(kTire)) {
        analytics::AdviseTireSets();
    }
    if (pressed(kWeather)) {
        analytics::AdviseTrackConditions();
    }
    if (pressed(kStint)) {
        NextStintPlan();
    }
    if (pressed(kModeOption)) {
        FuelReset();
        SpeakNow(L" Fuel Reset.");
    }
    if (pressed(kModeConfig)) {
        ToggleAdaptiveTires();
        return CommandResult::kTickEnded;
    }
    return CommandResult::kTickGoesOn;
}

CommandResult OnPitRoad() {
    if (pressed(kTire)) {
        NextTireChoice();
    }
    if (pressed(kModeConfig)) {
        ToggleAdaptiveTires();
        return CommandResult::kTickEnded;
    }
    return CommandResult::kTickGoesOn;
}

CommandResult InTheStall() {
    if (pressed(kFuel)) {
        analytics::AdviseStartingFuel();
    }
    if (pressed(kTire)) {
        analytics::OrderAdaptiveTires();
    }
    if (pressed(kModeConfig)) {
        ToggleAdaptiveTires();
        return CommandResult::kTickEnded;
    }
    return CommandResult::kTickGoesOn;
}

}  // namespace

CommandResult DriverCommands() {
    switch (PlayerTrackSurface.readInt()) {
        case 3:
            return OnTrack();
        case 2:
            return OnPitRoad();
        case 1:
            return InTheStall();
        default:
            // Off track or not in the world: no function acts.
            return CommandResult::kTickGoesOn;
    }
}

void GarageDriverCommands() {
    RaceState& r = Race();
    // In the garage three functions answer only when pressed alone.
    switch (r.PressedFunctions) {
        case kFuel:
            analytics::AdviseStartingFuel();
            break;
        case kWeather:
            analytics::AdviseTrackConditions();
            break;
        case kTire:
            analytics::AdviseTirePressure();
            break;
        default:
            break;
    }
    if (pressed(kModeConfig)) {
        r.BaselinePressureLF = LFcoldPressure.readDouble();
        r.BaselinePressureRF = RFcoldPressure.readDouble();
        r.BaselinePressureLR = LRcoldPressure.readDouble();
        r.BaselinePressureRR = RRcoldPressure.readDouble();
        SpeakNow(L" Baseline starting pressures have been updated.");
    }
}

}  // namespace engineer
