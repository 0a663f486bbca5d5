// The end of each refresh: where the pit entry lies, the countdown tones, the automatic fuel
// request on the pit approach, and otherwise the pit-board line, the fuel status row and the
// dashboard bits.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "common/status_row.h"
#include "platform/clock.h"
#include "platform/shared_memory.h"
#include "plugin/analytics/snapshot_numbers.h"
#include "plugin/analytics/snapshot_steps.h"
#include "plugin/audio/voice.h"
#include "plugin/engineer/race_state.h"
#include "plugin/links/serial_pit_board.h"
#include "plugin/telemetry/catalogue.h"
#include "plugin/telemetry/pit_commands.h"

namespace analytics::snapshot {

namespace {

namespace vars = telemetry::vars;

// trunc(DistanceToPitEntry), wide enough for any lap length the text may announce.
int64_t WholeMetres(double d) {
    if (std::isnan(d)) {
        return INT64_MAX;  // no distance known: far from the pit entry
    }
    return static_cast<int64_t>(std::clamp(d, -9.0e18, 9.0e18));
}

void PitEntry(engineer::RaceState& r) {
    r.PitEntryDistance = static_cast<float>(r.PitTrackPct * r.LocalLapLength);
    // Without a lap length there is no pit approach: the car is always far from the entry.
    if (!(r.LocalLapLength > 0)) {
        r.DistanceToPitEntry = std::numeric_limits<double>::infinity();
        return;
    }
    r.DistanceToPitEntry = r.LocalLapLength - (vars::LapDist.readFloat() - r.PitEntryDistance);
    if (r.DistanceToPitEntry > r.LocalLapLength) {
        r.DistanceToPitEntry -= r.LocalLapLength;
    }
}

void CountdownTones(engineer::RaceState& r, int64_t metres, int32_t surface) {
    struct Mark {
        int64_t metres;
        int hz;
    };
    static const Mark marks[] = {{75, 1250}, {50, 1050}, {25, 850}};
    for (const Mark& m : marks) {
        if (metres == m.metres && surface == 2) {
            if (r.PitBeepGiven == 0) {
                if (!r.PassiveMode) {
                    audio::PlayTone(m.hz, 150, 0.9f, 0, 0, 0);
                }
                r.PitBeepGiven = 1;
            }
            return;
        }
    }
    r.PitBeepGiven = 0;
}

void PitApproach(engineer::RaceState& r, int64_t metres) {
    common::RowPrintf("Pit Board..   P: %2d  L:%3d                                            ",
                      vars::PlayerCarPosition.readInt(), r.SessionRemaining);
    if (metres > 50) {
        r.FuelWindowState = 0;
        return;
    }
    const bool passive = r.PassiveMode != 0;
    const int32_t inTank = truncToInt(vars::FuelLevel.readFloat());
    if (inTank > r.FuelToFinish && (vars::PitSvFlags.readInt() & 16) != 0) {
        if (!r.FuelOffAnnounced && !passive) {
            telemetry::sendPitCommand(telemetry::kPitClearFuel, 1);
            r.FuelLastSet = 0;
            audio::SpeakInBackground(
                L"The current fuel numbers look ok, Turning off fuel. Eyes forward.");
        }
        r.FuelOffAnnounced = 1;
    } else {
        r.FuelOffAnnounced = 0;
    }

    if (r.LitersToAdd > 0 && r.FuelWindowState != 2) {
        r.FuelWindowState = 1;
        if (!passive) {
            const int32_t liters = truncToInt(r.LitersToAdd);
            telemetry::sendPitCommand(telemetry::kPitFuel, liters);
            r.FuelLastSet = r.LitersToAdd;
            if (static_cast<int64_t>(liters) + truncToInt(vars::FuelLevel.readFloat()) <
                r.FuelTankLiters) {
                if (!r.FuelOffAnnounced) {
                    audio::SpeakInBackground(
                        L"On Current fuel numbers it looks like the Fuel Window is open.");
                }
                r.FuelOffAnnounced = 1;
            } else {
                r.FuelOffAnnounced = 0;
            }
            r.FuelWindowState = 2;
        }
    }
}

void PublishPitBoardLine(engineer::RaceState& r) {
    char line[256];
    std::snprintf(line, sizeof line, "%2d,%3d,%3d,%3.2f,%3d,%3d,%3d\r",
                  vars::PlayerCarPosition.readInt(), vars::Lap.readInt(), r.SessionRemaining,
                  static_cast<double>(r.FuelLapsLeft), truncToInt(r.LitersToAdd),
                  vars::PitSvFlags.readInt(), static_cast<int>(r.StatusBits));
    const size_t length = std::strlen(line);
    if (r.LocalBlock != nullptr && r.LocalBlock->data() != nullptr) {
        // No NUL: whatever a longer earlier line left behind the carriage return stays. The
        // block is this program's own, reserved whole when it was made and never shrunk, so
        // the length it was mapped with holds without asking the system on every row.
        std::memcpy(r.LocalBlock->data(), line, std::min(length, r.LocalBlock->mappedSize()));
    }
    if (r.UseSerial == 1) {
        links::WriteSerialLine("%s", line);
    }
}

void PrintFuelStatus(const engineer::RaceState& r) {
    const int32_t lapsRun = truncToInt(r.DistanceSinceReset / r.LocalLapLength);
    common::RowPrintf(
        " Fuel L:%3.3f U:%3.3f %2.2fL/%s SL:%3d FL:%3d EL:%3.2f FN:%0.2f FPM:%d T%2.2f "
        "NPL:%2.2f",
        static_cast<double>(vars::FuelLevel.readFloat()), static_cast<double>(r.FuelUsed),
        static_cast<double>(r.FuelBurnPerUnit), r.RaceUnitWord, vars::Lap.readInt(), lapsRun,
        static_cast<double>(r.FuelLapsLeft), r.FuelToFinish, r.FuelPlan, r.TanksToFinish,
        r.NextPitLaps);
}

void DashboardBits(engineer::RaceState& r, int32_t surface) {
    uint32_t bits = 0;
    r.EngineWarningBits = vars::EngineWarnings.readInt();
    if (platform::clock().utcNow().millisecond < 500) {
        bits |= 1;
    }
    if (r.EngineWarningBits & 16) {
        bits |= 2;
    }
    if (r.EngineWarningBits & 1) {
        bits |= 32;
    }
    if (r.EngineWarningBits & 4) {
        bits |= 128;
    }
    if (r.EngineWarningBits & 2) {
        bits |= 64;
    }
    const int32_t rpm = vars::RPM.readInt();
    if (rpm > r.ShiftRPM) {
        bits |= 8;
    }
    r.SpeedKph = truncToInt(vars::Speed.readInt() * 3.6);
    if (r.SpeedKph > r.TrackPitSpeedLimit && surface == 2) {
        bits |= 4;
    }
    if (vars::Brake.readDouble() > 0.9 && r.SpeedKph > 5 && rpm / r.SpeedKph > 0) {
        bits |= 16;
    }
    r.StatusBits = bits;
}

void PublishStatus(engineer::RaceState& r, int32_t surface) {
    if (r.LocalLinkOpen) {
        PublishPitBoardLine(r);
    }
    if (surface == 3) {
        PrintFuelStatus(r);
    }
    DashboardBits(r, surface);
    common::RowPrintf(" %d %d", static_cast<int>(r.StatusBits),
                      static_cast<int>(r.PressedFunctions));
}

}  // namespace

void TrackPitEntry() {
    engineer::RaceState& r = engineer::Race();
    PitEntry(r);
    const int64_t metres = WholeMetres(r.DistanceToPitEntry);
    const int32_t surface = vars::PlayerTrackSurface.readInt();
    CountdownTones(r, metres, surface);
    if (metres <= 75 && surface == 3) {
        PitApproach(r, metres);
    } else {
        PublishStatus(r, surface);
    }
    common::RowPrintf("                 \r");
}

}  // namespace analytics::snapshot
