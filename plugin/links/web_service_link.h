#pragma once
// The plugin's link to the race-data web service: the lap and data reports, and the three
// questions asked on the way into the pits. Every call is one complete GET exchange on the
// calling thread (the main tick's), bounded by the HTTP client's time-outs.

#include <cstdint>
#include <string>

#include "platform/http_client.h"

namespace links {

inline constexpr const char* kUserAgent = "QRD Transponder/1.0";

// Everything a report carries, in the units the simulator and the race state use. Filled by
// CurrentReportValues() just before a report is sent.
struct ReportValues {
    int32_t SubSessionID = 0;
    int32_t SessionKind = 0;
    int32_t SessionState = 0;  // telemetry
    int32_t TrackID = 0;
    int32_t CarID = 0;
    int32_t DriverUserID = 0;
    double TrackAirTemp = 0;
    double TrackSurfaceTemp = 0;
    float AirTemp = 0;        // telemetry
    float TrackTempCrew = 0;  // telemetry
    int32_t PitSvFlags = 0;   // telemetry
    int32_t Lap = 0;          // telemetry
    int32_t SessionLapsRemainEx = 0;
    int32_t SessionTime = 0;        // telemetry, whole seconds
    int32_t SessionTimeRemain = 0;  // telemetry, whole seconds
    int32_t FuelTankLiters = 0;
    float FuelLevel = 0;  // telemetry
    float FuelUsed = 0;
    double LitersToAdd = 0;
    double FuelToFinish = 0;
    float FuelBurnPerLap = 0;
    float FuelBurnPerMin = 0;
    int32_t RaceSessionType = 0;
    // Tire block, wheel by wheel: left front, right front, left rear, right rear; wear and
    // carcass temperature on the inner side of each tire.
    struct Wheel {
        float Wear = 0;
        float CarcassTemp = 0;
        float PitPressure = 0;  // requested for the stop
        float ColdPressure = 0;
    } Wheels[4];
    int32_t PlayerCarPosition = 0;  // telemetry
    float FuelLapsLeft = 0;
    float FuelBurnMax = 0;
    int32_t TireDistance = 0;  // metres on the current tires, truncated
};

// The race state and the telemetry as they are now.
ReportValues CurrentReportValues();

// Request paths and query strings, exactly as sent.
std::string DataReportPath(const ReportValues& values);
std::string LapReportPath(const ReportValues& values);
std::string ServiceCommandPath(const char* command, int f);
std::string PreviousFuelBurnPath();

// The reports: the answer is read and dropped; a failure prints its message and the report
// is lost.
void SendDataReport(const ReportValues& values);
void SendLapReport(const ReportValues& values);
void SendDataReport();  // with CurrentReportValues()
void SendLapReport();

// The questions. The result is this query's own answer, the whole body, valid until the next
// query; a request that failed, or that the service answered with an HTTP error, gives ""
// (which reads as 0 and so changes nothing).
const char* QueryServiceCommand(const char* command, int f);
const char* QueryPreviousFuelBurn();

// The text the last query returned (`LastServiceReply`).
const char* LastServiceReply();

// Where the requests go. Without an override, the "Service" section of the settings file is
// read at each request (the maker's host when there is none).
platform::HttpEndpoint ServiceEndpoint();
void SetServiceEndpoint(const platform::HttpEndpoint& endpoint);
void ClearServiceEndpoint();

// Console output of the link (standard output unless a test installs a writer).
using ConsoleWriter = void (*)(const char* text);
void SetConsoleWriter(ConsoleWriter writer);

// Back to the start-of-run state: no reply, no override, standard output (tests).
void ResetServiceLink();

}  // namespace links
