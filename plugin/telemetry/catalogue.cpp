#include "plugin/telemetry/catalogue.h"

namespace telemetry::vars {

TelemetryVariable AirTemp("AirTemp");
TelemetryVariable Brake("Brake");
TelemetryVariable EngineWarnings("EngineWarnings");
TelemetryVariable FuelLevel("FuelLevel");
TelemetryVariable IsOnTrack("IsOnTrack");
TelemetryVariable LFcoldPressure("LFcoldPressure");
TelemetryVariable RFcoldPressure("RFcoldPressure");
TelemetryVariable LRcoldPressure("LRcoldPressure");
TelemetryVariable RRcoldPressure("RRcoldPressure");
TelemetryVariable LFtempCR("LFtempCR");
TelemetryVariable RFtempCL("RFtempCL");
TelemetryVariable LRtempCR("LRtempCR");
TelemetryVariable RRtempCL("RRtempCL");
TelemetryVariable LFwearR("LFwearR");
TelemetryVariable RFwearL("RFwearL");
TelemetryVariable LRwearR("LRwearR");
TelemetryVariable RRwearL("RRwearL");
TelemetryVariable Lap("Lap");
TelemetryVariable LapDist("LapDist");
TelemetryVariable PitRepairLeft("PitRepairLeft");
TelemetryVariable PitOptRepairLeft("PitOptRepairLeft");
TelemetryVariable PitSvFlags("PitSvFlags");
TelemetryVariable PitSvLFP("PitSvLFP");
TelemetryVariable PitSvRFP("PitSvRFP");
TelemetryVariable PitSvLRP("PitSvLRP");
TelemetryVariable PitSvRRP("PitSvRRP");
TelemetryVariable PlayerCarIdx("PlayerCarIdx");
TelemetryVariable PlayerCarInPitStall("PlayerCarInPitStall");
TelemetryVariable PlayerCarPitSvStatus("PlayerCarPitSvStatus");
TelemetryVariable PlayerCarPosition("PlayerCarPosition");
TelemetryVariable PlayerTrackSurface("PlayerTrackSurface");
TelemetryVariable RPM("RPM");
TelemetryVariable SessionFlags("SessionFlags");
TelemetryVariable SessionLapsRemainEx("SessionLapsRemainEx");
TelemetryVariable SessionNum("SessionNum");
TelemetryVariable SessionState("SessionState");
TelemetryVariable SessionTime("SessionTime");
TelemetryVariable SessionTimeRemain("SessionTimeRemain");
TelemetryVariable Speed("Speed");
TelemetryVariable TrackTempCrew("TrackTempCrew");
TelemetryVariable TrackTempCrew2("TrackTempCrew");

}  // namespace telemetry::vars
