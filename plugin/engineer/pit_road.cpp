// Pit road and the pit stop: the consultation with the race-data service on the way in, the
// stall timer, the tire decisions in the stall and the once-per-stop work when the car stands.

#include <cmath>
#include <cstdio>

#include "common/log_writer.h"
#include "common/status_row.h"
#include "platform/clock.h"
#include "plugin/audio/voice.h"
#include "plugin/analytics/analytics_calls.h"
#include "plugin/engineer/race_state.h"
#include "plugin/engineer/race_work.h"
#include "plugin/links/web_service_link.h"
#include "plugin/telemetry/catalogue.h"
#include "plugin/telemetry/pit_commands.h"

namespace engineer {

namespace {

using namespace telemetry::vars;

constexpr double kWearLimit = 0.75;
constexpr int kWearLimitPercent = 75;
constexpr int kTireMask = 15;

// Set once the wear order has been tried in this stall visit. Where the order cannot be placed
// (passive mode, adaptive tire management switched off after the wear check) the request
// would otherwise be logged and spoken again at every tick for as long as the car stands.
bool wearOrderTried = false;

void (*pitInSnapshotRefresh)() = analytics::RefreshSessionSnapshot;

bool takesTires(int32_t reply) {
    return reply == 1 || reply == 2 || reply == 4;
}

void TireDecision(int32_t lap) {
    RaceState& r = Race();
    const int32_t reply =
        leadingInt(links::QueryServiceCommand("qrdtireschange", truncToInt(r.LocalLapLength)));
    Sentence<128> message;
    if (takesTires(reply)) {
        common::WritePluginLogf(
            "LOG: Lap %d Pit IN: TireReply: %d ChangeTires: %d TireAgeInLaps: %d Taking Tires "
            "this stop.",
            lap, reply, 1, r.TireAgeInLaps);
        analytics::OrderAdaptiveTires();
        message.format(L"Taking Tires this stop. They're %d laps old.", r.TireAgeInLaps);
    } else {
        common::WritePluginLogf(
            "LOG: Lap %d Pit IN: TireReply: %d ChangeTires: %d TireAgeInLaps: %d We won't be "
            "taking tires this time",
            lap, reply, 0, r.TireAgeInLaps);
        message.format(L"We won't be taking tires this time. They're %d laps old.",
                       r.TireAgeInLaps);
    }
    // The driver hears the decision without the tick waiting for the sentence.
    SpeakLater(message.text);
}

void FuelCorrection(int32_t lap) {
    RaceState& r = Race();
    float reply = static_cast<float>(leadingDouble(links::QueryPreviousFuelBurn()));
    // An answer such as "inf" or "nan" is no burn: it would put an endless fuel need into the
    // pit request.
    if (!std::isfinite(reply)) {
        reply = 0;
    }
    common::WritePluginLogf(
        "LOG: Lap %d Pit IN: Checking FuelBurnMaxReply: %2.2f Current FuelBurnMax: %2.2f", lap,
        static_cast<double>(reply), static_cast<double>(r.FuelBurnMax));
    if (!(reply > r.FuelBurnMax)) {
        return;
    }
    common::WritePluginLogf(
        "LOG: Lap %d Pit IN: Setting FuelBurnMax: %2.2f to FuelBurnMaxReply: "
        "%2.2f",
        lap, static_cast<double>(r.FuelBurnMax), static_cast<double>(reply));
    r.FuelBurnMax = reply;
    // The fuel to finish and the liters to add follow the new maximum.
    pitInSnapshotRefresh();
    if (r.LitersToAdd > 0) {
        r.LitersToAdd -= r.FuelBurnPerLap;
        // A lap's burn may exceed what is left to add; the crew is never asked for less than
        // nothing.
        if (!(r.LitersToAdd > 0)) {
            r.LitersToAdd = 0;
        }
        common::WritePluginLogf(
            "LOG: Lap %d Pit IN: Updating Fuel: FuelLastSet: %2.2f LitersToAdd: %2.2f", lap,
            r.FuelLastSet, r.LitersToAdd);
    }
    if (!r.PassiveMode) {
        telemetry::sendPitCommand(telemetry::kPitFuel, truncToInt(r.LitersToAdd));
    }
    r.FuelLastSet = r.LitersToAdd;
}

void PitInConsultation() {
    RaceState& r = Race();
    const int32_t neededTireRange =
        r.FuelBurnPerLap == 0 ? 0 : truncToInt(r.LitersToAdd / r.FuelBurnPerLap * r.LocalLapLength);

    links::SendLapReport();
    platform::sleepMs(1000);

    const int32_t lap = Lap.readInt();
    // "FuelBurnPerLap:" carries FuelBurnMax: the label is what the log has always shown.
    common::WritePluginLogf(
        "LOG: Lap %d Pit IN: NeededTireRange: %d LitersToAdd: %d FuelBurnPerLap: %3.2f "
        "LocalLapLength: %d",
        lap, neededTireRange, truncToInt(r.LitersToAdd), static_cast<double>(r.FuelBurnMax),
        truncToInt(r.LocalLapLength));

    TireDecision(lap);
    FuelCorrection(lap);

    const double pressureReply =
        leadingDouble(links::QueryServiceCommand("qrdweatherchange", truncToInt(r.LocalLapLength)));
    common::WritePluginLogf("LOG: Lap %d Pit IN: Checking TirePressureDifferenceReply: %2.2f", lap,
                            pressureReply);

    r.PitInArmed = 0;
}

void PitApproach() {
    RaceState& r = Race();
    common::RowPrintf(
        "Pit Approach: ServiceType :%d Changed: %d TLU:%0.1f Lap:(%0.1f) RFP:%3.2f          "
        "\r",
        static_cast<int>(r.ServiceType), r.TiresRequested, r.TireDistance, r.LocalLapLength,
        static_cast<double>(PitSvRFP.readFloat()));
    if (r.LapsSinceReset > 0 && r.PitInArmed == 1) {
        PitInConsultation();
    }
}

void StallTimer() {
    RaceState& r = Race();
    if (PlayerCarInPitStall.readInt() != 0) {
        const double now = SessionTime.readDouble();
        if (r.PitStallEntryTime == 0) {
            r.PitStallEntryTime = now;
        }
        r.PitStallTime = now - r.PitStallEntryTime;
    } else if (r.PitStallEntryTime != 0) {
        r.PitStallEntryTime = 0;
        r.PitStallTime = 0;
    }
}

struct Wear {
    double lf, rf, lr, rr;
};

Wear ReadWear() {
    return {LFwearR.readFloat(), RFwearL.readFloat(), LRwearR.readFloat(), RRwearL.readFloat()};
}

void StoppedInTheBox() {
    RaceState& r = Race();
    if (r.BoxServiceDone) {
        return;
    }
    r.BoxServiceDone = 1;
    audio::PlayTone(1200, 100, 0.0f, 0.9f, 0.0f, 0.0f);
    // A report needs a measured stint behind the car.
    if (r.FuelBurnPerLap > 0 && r.FuelBurnPerMin > 0) {
        audio::PlayTone(1200, 100, 0.0f, 0.9f, 0.0f, 0.0f);
        platform::sleepMs(1000);
        const int32_t lap = Lap.readInt();
        common::WritePluginLogf(
            "BOX: Lap %d Session Weather: TrackAir: %2.2f TrackSurface: %2.2f  Air: %2.2f  "
            "Track: %2.2f",
            lap, r.TrackAirTemp, r.TrackSurfaceTemp, static_cast<double>(AirTemp.readFloat()),
            static_cast<double>(TrackTempCrew.readFloat()));
        common::WritePluginLogf(
            "BOX: Lap %d Pitting: QRD : Service : PSV: %d FT: %d FL: %2.3f FU: %2.3f LTA: %d FN: "
            "%2.3f",
            lap, PitSvFlags.readInt(), r.FuelTankLiters, static_cast<double>(FuelLevel.readFloat()),
            static_cast<double>(r.FuelUsed), truncToInt(r.LitersToAdd), r.FuelToFinish);
        const Wear w = ReadWear();
        common::WritePluginLogf(
            "BOX: Lap %d Pitting: QRD : Tire Read: LF:%1.2f RF:%1.2f LR:%1.2f RR:%1.2f ", lap, w.lf,
            w.rf, w.lr, w.rr);
        links::SendDataReport();
    }
    // The next stint is measured from here.
    FuelReset();
}

void InTheStall() {
    RaceState& r = Race();
    common::RowPrintf(
        " Box: %d Time: %3.1f SVC: %d PR:%3.1f PRO:%3.1f Fuel: L:%3.3f Volume: %d%% "
        "QRD:%d                  \r",
        PlayerCarInPitStall.readInt(), r.PitStallTime, PlayerCarPitSvStatus.readInt(),
        static_cast<double>(PitRepairLeft.readFloat()),
        static_cast<double>(PitOptRepairLeft.readFloat()),
        static_cast<double>(FuelLevel.readFloat()), 90, static_cast<int>(r.StatusBits));

    const int32_t flags = PitSvFlags.readInt();
    // Tires ordered for this stop count as new from this lap.
    if ((flags & kTireMask) != 0 && r.TireResetDone == 0) {
        TireReset();
    }

    const Wear w = ReadWear();
    const bool worn =
        w.lf < kWearLimit || w.rf < kWearLimit || w.lr < kWearLimit || w.rr < kWearLimit;
    if (r.AdaptiveTireManagement == 1 && worn && r.TiresRequested == 0 && r.ServiceType == 0) {
        r.ServiceType = 1;
        const int32_t lap = Lap.readInt();
        common::WritePluginLogf(
            "SET: Lap %d Pitting: Changing Tires due to wear PSV: %d (Wear Limit: %2.2f)", lap,
            flags, kWearLimit);
        common::WritePluginLogf(
            "BOX: Lap %d Pitting: Tire Wear: LF:%1.2f RF:%1.2f LR:%1.2f RR:%1.2f ", lap, w.lf, w.rf,
            w.lr, w.rr);
    }
    if ((r.ServiceType & kTireMask) != 0 && r.TiresRequested == 0 && !wearOrderTried) {
        wearOrderTried = true;
        common::WritePluginLogf("SET: Lap %d Pitting: Change Tires Reason: Wear.", Lap.readInt());
        analytics::OrderAdaptiveTires();
        Sentence<128> message;
        message.format(L"Tire wear more than %d%%.", kWearLimitPercent);
        SpeakLater(message.text);
    }

    if (truncToInt(Speed.readFloat()) < 1) {
        StoppedInTheBox();
    } else {
        // Rolling through the stall: the next stop is handled again.
        r.BoxServiceDone = 0;
    }
}

}  // namespace

void PitRoadHandling() {
    const int32_t surface = PlayerTrackSurface.readInt();
    if (surface == 2) {
        PitApproach();
    }
    StallTimer();
    if (surface == 1) {
        InTheStall();
    } else {
        wearOrderTried = false;
        // Out of the stall the next stop is a new one, even when no row showed the car rolling
        // out of its box (a tick held up by the stop's own report, a quick getaway).
        Race().BoxServiceDone = 0;
    }
}

void ResetPitRoadHandling() {
    wearOrderTried = false;
}

void setPitInSnapshotRefresh(void (*refresh)()) {
    pitInSnapshotRefresh = refresh ? refresh : analytics::RefreshSessionSnapshot;
}

}  // namespace engineer
