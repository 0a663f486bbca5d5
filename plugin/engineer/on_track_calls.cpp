// The calls the race engineer makes on track without being asked: the lap report near the pit
// entry with the fuel-save advice, the checkered and white flags, low fuel, the box call, the
// tire requests kept cleared, and the re-arming of the pit-in consultation.

#include "common/log_writer.h"
#include "plugin/engineer/race_state.h"
#include "plugin/engineer/race_work.h"
#include "plugin/links/web_service_link.h"
#include "plugin/telemetry/catalogue.h"
#include "plugin/telemetry/pit_commands.h"

namespace engineer {

namespace {

using telemetry::vars::Lap;
using telemetry::vars::PitSvFlags;
using telemetry::vars::SessionFlags;
using telemetry::vars::SessionState;

constexpr double kLapReportDistance = 75.0;
constexpr int32_t kCheckeredFlag = 1;
constexpr int32_t kWhiteFlag = 2;
constexpr int32_t kTireMask = 15;
constexpr int32_t kSessionRace = 4;
constexpr int32_t kStateRacing = 4;

using Call = Sentence<128>;

void FuelSaveAdvice() {
    RaceState& r = Race();
    if (r.SessionKind != kSessionRace || SessionState.readInt() != kStateRacing ||
        !(r.TanksToFinish < 1.0) || r.FuelSaveAdvised) {
        return;
    }
    // Without an earlier stint's burn there is nothing to save against: the "saving" would be
    // the whole burn, told to a driver who needs no saving at all.
    if (r.LastHighFuelBurnMax > 0 && r.FuelBurnMax > r.LastHighFuelBurnMax) {
        double saving = 0;
        Call call;
        if (r.RaceSessionType == 1) {
            saving = static_cast<double>(r.FuelBurnPerLap) - r.LastHighFuelBurnMax;
            call.format(L" On current fuel burn, we need to fuel save %2.2f Liters per lap.",
                        saving);
        } else if (r.RaceSessionType == 2) {
            saving = static_cast<double>(r.FuelBurnPerMin) - r.LastHighFuelBurnMax;
            call.format(L" On current fuel burn, we need to fuel save %2.2f Liters per minute.",
                        saving);
        }
        // A saving of nothing or less is no advice: the burn is within the old maximum.
        if (call.text[0] != L'\0' && saving > 0) {
            SpeakLater(call.text);
            const double high = r.LastHighFuelBurnMax;
            common::WritePluginLogf(
                "LOG: Lap %d On current fuel burn, we need to fuel save %2.2f Liters. (%2.2f  "
                "%2.2f)",
                Lap.readInt(), saving, high, high);
        }
    }
    r.FuelSaveAdvised = 1;
}

void LapReport() {
    RaceState& r = Race();
    if (r.DistanceToPitEntry >= kLapReportDistance) {
        r.LapReportSent = 0;
        r.FuelSaveAdvised = 0;
        return;
    }
    if (r.LapReportSent) {
        return;
    }
    links::SendLapReport();
    r.LapReportSent = 1;
    FuelSaveAdvice();
}

void Flags() {
    RaceState& r = Race();
    const int32_t flags = SessionFlags.readInt();
    if (flags & kCheckeredFlag) {
        if (!r.CheckeredSeen) {
            links::SendDataReport();
        }
        r.CheckeredSeen = 1;
    } else {
        r.CheckeredSeen = 0;
    }

    if (flags & kWhiteFlag) {
        if (!r.WhiteFlagSeen) {
            Call call;
            call.format(L"White flag, last lap, with %0.2f laps left in the tank.",
                        static_cast<double>(r.FuelLapsLeft));
            SpeakLater(call.text);
        }
        r.WhiteFlagSeen = 1;
    } else {
        r.WhiteFlagSeen = 0;
    }
}

void FuelWarnings() {
    RaceState& r = Race();
    if (r.FuelLapsLeft > 1.0f && r.FuelLapsLeft < 2.0f) {
        if (!r.LowFuelWarned) {
            SpeakLater(L"Warning for low fuel, there is 2 laps left in the tank.");
        }
        r.LowFuelWarned = 1;
    } else {
        r.LowFuelWarned = 0;
    }

    if (r.NextPitLaps > 1.0 && r.NextPitLaps < 2.0) {
        if (!r.BoxNextLapCalled) {
            SpeakLater(L"Ok, Fuel plan says box next lap, Copy Box next lap?");
        }
        r.BoxNextLapCalled = 1;
    } else {
        r.BoxNextLapCalled = 0;
    }
}

}  // namespace

void OnTrackCalls() {
    RaceState& r = Race();
    LapReport();
    Flags();
    FuelWarnings();

    // Tires are ordered by the plugin itself on pit road and in the stall; a request made from
    // the pit menu on track is taken back.
    if (r.AdaptiveTireManagement == 1 && !r.PassiveMode && (PitSvFlags.readInt() & kTireMask)) {
        telemetry::sendPitCommand(telemetry::kPitClearTires, 0);
        r.TiresRequested = 0;
        r.ServiceType = 0;
    }

    if (r.PitInArmed == 0) {
        r.PitInArmed = 1;
        // The next tire service in the stall resets the tire age again.
        r.TireResetDone = 0;
    }
}

}  // namespace engineer
