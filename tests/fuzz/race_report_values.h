#pragma once
// The report values of a race in progress, the starting point of the seeds that carry a report.

#include "plugin/links/web_service_link.h"

namespace fuzzing {

inline links::ReportValues raceInProgressValues() {
    links::ReportValues v;
    v.SubSessionID = 51234567;
    v.SessionKind = 4;
    v.TrackID = 239;
    v.CarID = 67;
    v.DriverUserID = 123456;
    v.TrackAirTemp = 21.5;
    v.FuelLevel = 32.125f;
    v.FuelBurnPerLap = 2.61f;
    v.FuelBurnMax = 2.8f;
    v.LitersToAdd = 18.4;
    v.RaceSessionType = 1;
    v.TireDistance = 15400;
    for (auto& w : v.Wheels) {
        w = {0.93f, 81.2f, 165.5f, 158.0f};
    }
    return v;
}

}  // namespace fuzzing
