#pragma once
// The telemetry variables the plugin reads, one program-wide object each, named as the
// simulator names them. They are constructed before main and resolve their index lazily on
// the first read of each connection.

#include "plugin/telemetry/telemetry_variable.h"

namespace telemetry::vars {

extern TelemetryVariable AirTemp;
extern TelemetryVariable Brake;
extern TelemetryVariable EngineWarnings;
extern TelemetryVariable FuelLevel;
extern TelemetryVariable IsOnTrack;
extern TelemetryVariable LFcoldPressure;
extern TelemetryVariable RFcoldPressure;
extern TelemetryVariable LRcoldPressure;
extern TelemetryVariable RRcoldPressure;
extern TelemetryVariable LFtempCR;
extern TelemetryVariable RFtempCL;
extern TelemetryVariable LRtempCR;
extern TelemetryVariable RRtempCL;
extern TelemetryVariable LFwearR;
extern TelemetryVariable RFwearL;
extern TelemetryVariable LRwearR;
extern TelemetryVariable RRwearL;
extern TelemetryVariable Lap;
extern TelemetryVariable LapDist;
extern TelemetryVariable PitRepairLeft;
extern TelemetryVariable PitOptRepairLeft;
extern TelemetryVariable PitSvFlags;
extern TelemetryVariable PitSvLFP;
extern TelemetryVariable PitSvRFP;
extern TelemetryVariable PitSvLRP;
extern TelemetryVariable PitSvRRP;
extern TelemetryVariable PlayerCarIdx;
extern TelemetryVariable PlayerCarInPitStall;
extern TelemetryVariable PlayerCarPitSvStatus;
extern TelemetryVariable PlayerCarPosition;
extern TelemetryVariable PlayerTrackSurface;
// PlayerTrackSurface of a car that is not in the world (in the garage).
inline constexpr int kSurfaceNotInWorld = -1;
extern TelemetryVariable RPM;
extern TelemetryVariable SessionFlags;
extern TelemetryVariable SessionLapsRemainEx;
extern TelemetryVariable SessionNum;
extern TelemetryVariable SessionState;
extern TelemetryVariable SessionTime;
extern TelemetryVariable SessionTimeRemain;
extern TelemetryVariable Speed;
extern TelemetryVariable TrackTempCrew;
// A second object for the same track temperature, read by the weather advisories; it
// resolves to the same variable as TrackTempCrew and keeps its own cached index.
extern TelemetryVariable TrackTempCrew2;

}  // namespace telemetry::vars
