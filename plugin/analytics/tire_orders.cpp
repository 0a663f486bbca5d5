// Tire orders to the pit crew: all four tires at pressures corrected for the track
// temperature, or the driver's choice of the Tire function.
#include "plugin/analytics/analytics_calls.h"
#include "plugin/analytics/snapshot_numbers.h"
#include "plugin/engineer/race_state.h"
#include "plugin/telemetry/catalogue.h"
#include "plugin/telemetry/pit_commands.h"

namespace analytics {

namespace {

using engineer::Race;
using engineer::RaceState;

// 0.1 psi per degree Fahrenheit away from 40 degrees Celsius, in kPa.
double Corrected(double baseline, bool correct, float trackTemp) {
    double p = static_cast<float>(baseline);
    if (!correct) {
        return p;
    }
    const double t = trackTemp;
    if (t > 40.0) {
        p -= (t - 40.0) * 1.8 * 0.689476;
    } else if (t < 40.0) {
        p += (40.0 - t) * 1.8 * 0.689476;
    }
    return p;
}

void SendTire(int32_t code, double baseline, bool correct, float trackTemp) {
    telemetry::sendPitCommand(
        code, truncToInt(static_cast<float>(Corrected(baseline, correct, trackTemp))));
}

}  // namespace

void OrderAdaptiveTires() {
    RaceState& r = Race();
    if (r.PassiveMode || r.AdaptiveTireManagement != 1) {
        return;
    }
    const float t = telemetry::vars::TrackTempCrew.readFloat();
    SendTire(telemetry::kPitLF, r.BaselinePressureLF, true, t);
    SendTire(telemetry::kPitRF, r.BaselinePressureRF, true, t);
    SendTire(telemetry::kPitLR, r.BaselinePressureLR, true, t);
    SendTire(telemetry::kPitRR, r.BaselinePressureRR, true, t);
    r.TireChangeLap = telemetry::vars::Lap.readInt();
    r.TireDistance = 0;
    r.ServiceType = 0;
    r.TiresRequested = 1;
}

void OrderTiresForMode() {
    RaceState& r = Race();
    if (r.PassiveMode) {
        return;
    }
    const bool correct = r.AdaptiveTireManagement == 1;
    const float t = telemetry::vars::TrackTempCrew.readFloat();
    switch (r.TireChangeMode) {
        case 1:
            SendTire(telemetry::kPitLF, r.BaselinePressureLF, correct, t);
            SendTire(telemetry::kPitRF, r.BaselinePressureRF, correct, t);
            SendTire(telemetry::kPitLR, r.BaselinePressureLR, correct, t);
            SendTire(telemetry::kPitRR, r.BaselinePressureRR, correct, t);
            break;
        case 2:
            telemetry::sendPitCommand(telemetry::kPitClearTires, 0);
            SendTire(telemetry::kPitRF, r.BaselinePressureRF, correct, t);
            SendTire(telemetry::kPitRR, r.BaselinePressureRR, correct, t);
            break;
        default:  // 0, and anything unknown, clears every tire change
            telemetry::sendPitCommand(telemetry::kPitClearTires, 0);
            break;
    }
}

}  // namespace analytics
