// The race engineer's arithmetic, once per processed tick: session facts, the fuel picture, the
// pit approach and the status outputs. Every result is a field of the race state.
#include <cstdio>
#include <cstring>

#include "plugin/analytics/snapshot_numbers.h"
#include "plugin/analytics/snapshot_steps.h"
#include "plugin/analytics/analytics_calls.h"
#include "plugin/engineer/race_state.h"
#include "plugin/telemetry/catalogue.h"
#include "plugin/telemetry/session_query.h"

namespace analytics {

namespace snapshot {

namespace {

using telemetry::QueryPath;
using telemetry::QueryResult;
using telemetry::querySessionValue;

bool found(const char* path) {
    return querySessionValue(path) == 1;
}

// Paths that carry a number: built in the shared QueryPath, as every caller does.
bool foundFor(const char* format, int32_t number) {
    std::snprintf(QueryPath, sizeof QueryPath, format, number);
    return found(QueryPath);
}

int32_t SessionKindOf(const char* name) {
    static const char* const kinds[] = {"TESTING", "PRACTICE",   "QUALIFY",
                                        "RACE",    "TIME TRIAL", "HEAT"};
    for (int i = 0; i < 6; ++i) {
        if (std::strcmp(name, kinds[i]) == 0) {
            return i + 1;
        }
    }
    return 0;
}

}  // namespace

int32_t PlayerCarIndex() {
    namespace vars = telemetry::vars;
    if (vars::PlayerCarIdx.resolveIndex() && vars::PlayerCarIdx.index() >= 0) {
        return vars::PlayerCarIdx.readInt();
    }
    // Car 0 is the pace car: an old simulator build that publishes no index names the
    // driver's car in the session text.
    if (found("DriverInfo:DriverCarIdx:")) {
        return leadingInt(QueryResult);
    }
    return 0;
}

void ReadSessionFacts() {
    engineer::RaceState& r = engineer::Race();
    namespace vars = telemetry::vars;
    if (found("DriverInfo:DriverUserID:")) {
        r.DriverUserID = leadingInt(QueryResult);
    }
    if (found("DriverInfo:DriverCarSLShiftRPM:")) {
        r.ShiftRPM = leadingInt(QueryResult);
    }
    if (found("WeekendInfo:SubSessionID:")) {
        r.SubSessionID = leadingInt(QueryResult);
    }
    if (found("WeekendInfo:TrackID:")) {
        r.TrackID = leadingInt(QueryResult);
    }
    if (foundFor("DriverInfo:Drivers:CarIdx:{%d}CarID:", PlayerCarIndex())) {
        r.CarID = leadingInt(QueryResult);
    }
    if (found("WeekendInfo:TrackAirTemp:")) {
        r.TrackAirTemp = std::atof(QueryResult);
    }
    if (found("WeekendInfo:TrackSurfaceTemp:")) {
        r.TrackSurfaceTemp = std::atof(QueryResult);
    }
    if (found("WeekendInfo:TrackLength:")) {
        r.LocalLapLength = std::atof(QueryResult) * 1000;
    }
    if (found("DriverInfo:DriverPitTrkPct:")) {
        r.PitTrackPct = static_cast<float>(std::atof(QueryResult));
    }
    if (found("DriverInfo:DriverCarFuelMaxLtr:")) {
        r.CarFuelMaxLtr = std::atof(QueryResult);
    }
    if (foundFor("DriverInfo:Drivers:CarIdx:{%d}CarClassMaxFuelPct:", PlayerCarIndex())) {
        r.CarClassMaxFuelPct = std::atof(QueryResult);
    }
    r.SessionNum = vars::SessionNum.readInt();
    if (foundFor("SessionInfo:Sessions:SessionNum:{%d}SessionName:", r.SessionNum)) {
        // The first 20 characters only, as the name has always been kept.
        std::strncpy(r.SessionName, QueryResult, 20);
        r.SessionName[20] = '\0';
    }
    r.SessionKind = SessionKindOf(r.SessionName);
}

}  // namespace snapshot

void RefreshSessionSnapshot() {
    // One version of the session text for the whole pass, read through the index.
    telemetry::SessionQueryPass pass;
    snapshot::ReadSessionFacts();
    snapshot::WorkOutFuel();
    snapshot::TrackPitEntry();
}

}  // namespace analytics
