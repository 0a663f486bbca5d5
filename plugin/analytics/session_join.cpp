// The log line that records which session, track and car the driver has joined.

#include "common/log_writer.h"
#include "plugin/analytics/advisories_session.h"
#include "plugin/analytics/snapshot_steps.h"
#include "plugin/analytics/analytics_calls.h"
#include "plugin/engineer/race_state.h"
#include "plugin/telemetry/catalogue.h"

namespace analytics {

namespace {
constexpr size_t kNameChars = 126;
}

void LogSessionJoin() {
    engineer::RaceState& r = engineer::Race();
    // Each number keeps its previous value when the session text does not carry it.
    querySessionInt("WeekendInfo:SubSessionID:", r.SubSessionID);
    querySessionInt("WeekendInfo:TrackID:", r.TrackID);
    char trackName[kNameChars + 1];
    querySessionText("WeekendInfo:TrackDisplayName:", trackName, kNameChars);

    const int carIdx = snapshot::PlayerCarIndex();
    querySessionInt(formatQueryPath("DriverInfo:Drivers:CarIdx:{%d}CarID:", carIdx), r.CarID);
    char carName[kNameChars + 1];
    querySessionText(formatQueryPath("DriverInfo:Drivers:CarIdx:{%d}CarScreenName:", carIdx),
                     carName, kNameChars);

    common::WritePluginLogf("LOG: Join Session Information: SessionID: %d, %d,%s, %d,%s",
                            r.SubSessionID, r.TrackID, trackName, r.CarID, carName);
}

}  // namespace analytics
