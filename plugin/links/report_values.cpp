// The report values as they stand at this tick: race state plus the telemetry row.

#include <cstdint>

#include "plugin/engineer/race_state.h"
#include "plugin/links/web_service_link.h"
#include "plugin/telemetry/catalogue.h"

namespace links {

namespace {

using namespace telemetry::vars;

// Wheel by wheel; wear and carcass temperature on the inner side of each tire.
telemetry::TelemetryVariable* const Wear[4] = {&LFwearR, &RFwearL, &LRwearR, &RRwearL};
telemetry::TelemetryVariable* const CarcassTemp[4] = {&LFtempCR, &RFtempCL, &LRtempCR, &RRtempCL};
telemetry::TelemetryVariable* const PitPressure[4] = {&PitSvLFP, &PitSvRFP, &PitSvLRP, &PitSvRRP};
telemetry::TelemetryVariable* const ColdPressure[4] = {&LFcoldPressure, &RFcoldPressure,
                                                       &LRcoldPressure, &RRcoldPressure};

// Truncation toward zero that stays defined for values no int holds.
int32_t truncated(double value) {
    if (!(value > -2147483648.0)) {
        return value != value ? 0 : INT32_MIN;
    }
    if (value >= 2147483648.0) {
        return INT32_MAX;
    }
    return static_cast<int32_t>(value);
}

}  // namespace

ReportValues CurrentReportValues() {
    const engineer::RaceState& race = engineer::Race();
    ReportValues v;
    v.SubSessionID = race.SubSessionID;
    v.SessionKind = race.SessionKind;
    v.SessionState = SessionState.readInt();
    v.TrackID = race.TrackID;
    v.CarID = race.CarID;
    v.DriverUserID = race.DriverUserID;
    v.TrackAirTemp = race.TrackAirTemp;
    v.TrackSurfaceTemp = race.TrackSurfaceTemp;
    v.AirTemp = AirTemp.readFloat();
    v.TrackTempCrew = TrackTempCrew.readFloat();
    v.PitSvFlags = PitSvFlags.readInt();
    v.Lap = Lap.readInt();
    v.SessionLapsRemainEx = SessionLapsRemainEx.readInt();
    v.SessionTime = SessionTime.readInt();
    v.SessionTimeRemain = SessionTimeRemain.readInt();
    v.FuelTankLiters = race.FuelTankLiters;
    v.FuelLevel = FuelLevel.readFloat();
    v.FuelUsed = race.FuelUsed;
    v.LitersToAdd = race.LitersToAdd;
    v.FuelToFinish = race.FuelToFinish;
    v.FuelBurnPerLap = race.FuelBurnPerLap;
    v.FuelBurnPerMin = race.FuelBurnPerMin;
    v.RaceSessionType = race.RaceSessionType;
    for (int w = 0; w < 4; ++w) {
        v.Wheels[w].Wear = Wear[w]->readFloat();
        v.Wheels[w].CarcassTemp = CarcassTemp[w]->readFloat();
        v.Wheels[w].PitPressure = PitPressure[w]->readFloat();
        v.Wheels[w].ColdPressure = ColdPressure[w]->readFloat();
    }
    v.PlayerCarPosition = PlayerCarPosition.readInt();
    v.FuelLapsLeft = race.FuelLapsLeft;
    v.FuelBurnMax = race.FuelBurnMax;
    v.TireDistance = truncated(race.TireDistance);
    return v;
}

}  // namespace links
