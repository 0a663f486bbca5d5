#pragma once
// What the link tests share: report values as a stop would give them, and the console the link
// writes its messages to.

#include <string>

#include "plugin/links/web_service_link.h"

namespace linkstest {

inline std::string console;
inline void recordConsole(const char* text) {
    console += text;
}

inline links::ReportValues sampleValues() {
    links::ReportValues v;
    v.SubSessionID = 41234567;
    v.SessionKind = 4;
    v.SessionState = 4;
    v.TrackID = 252;
    v.CarID = 67;
    v.DriverUserID = 123456;
    v.TrackAirTemp = 22.5;
    v.TrackSurfaceTemp = -3.14159;
    v.AirTemp = 21.3f;
    v.TrackTempCrew = 35.75f;
    v.PitSvFlags = 16;
    v.Lap = 12;
    v.SessionLapsRemainEx = 32767;
    v.SessionTime = 1234;
    v.SessionTimeRemain = -1;
    v.FuelTankLiters = 60;
    v.FuelLevel = 12.3456f;
    v.FuelUsed = -0.5f;
    v.LitersToAdd = 47.654;
    v.FuelToFinish = 99.987;
    v.FuelBurnPerLap = 2.456f;
    v.FuelBurnPerMin = 1.234f;
    v.RaceSessionType = 1;
    v.Wheels[0] = {0.98f, 85.4f, 165.0f, 160.5f};
    v.Wheels[1] = {0.97f, 86.1f, 166.0f, 161.25f};
    v.Wheels[2] = {0.96f, 80.0f, 150.0f, 149.75f};
    v.Wheels[3] = {0.95f, -1.0f, 151.0f, 0.0f};
    v.PlayerCarPosition = 3;
    v.FuelLapsLeft = 999.0f;
    v.FuelBurnMax = 2.51f;
    v.TireDistance = 20345;
    return v;
}

}  // namespace linkstest
