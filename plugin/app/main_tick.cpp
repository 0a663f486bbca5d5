#include "plugin/app/main_tick.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "common/console_tags.h"
#include "common/logo.h"
#include "common/settings_file.h"
#include "common/status_row.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/shared_memory.h"
#include "plugin/app/banner.h"
#include "plugin/app/seams.h"
#include "plugin/audio/voice.h"
#include "plugin/engineer/race_state.h"
#include "plugin/telemetry/catalogue.h"
#include "plugin/telemetry/session_query.h"
#include "plugin/telemetry/telemetry_client.h"

namespace app {

namespace {

using engineer::Race;
using engineer::RaceState;

using telemetry::vars::AirTemp;
using telemetry::vars::IsOnTrack;
using telemetry::vars::Lap;
using telemetry::vars::LapDist;
using telemetry::vars::LFcoldPressure;
using telemetry::vars::LRcoldPressure;
using telemetry::vars::PitSvLFP;
using telemetry::vars::PlayerTrackSurface;
using telemetry::vars::RFcoldPressure;
using telemetry::vars::RRcoldPressure;
using telemetry::vars::TrackTempCrew;

enum class Presence { kNotSeen, kConnected, kDisconnected };
Presence previousPresence = Presence::kNotSeen;

// The block outlives every tick; never destroyed, as the ctrl-c handler may end the process
// while a tick is writing to it. The lock keeps the handler's removal of the name from meeting
// the tick's opening or closing of the block.
std::unique_ptr<platform::SharedMemory>& localBlock() {
    static auto* block = new std::unique_ptr<platform::SharedMemory>();
    return *block;
}

std::mutex& localBlockMutex() {
    static auto* m = new std::mutex;
    return *m;
}

void OpenLocalBlock() {
    RaceState& r = Race();
    std::unique_ptr<platform::SharedMemory> block =
        platform::createSharedMemory(kLocalBlockName, kLocalBlockSize);
    if (!block) {
        // The code is that of the call that failed, read before anything else can change it.
        const int code = platform::lastErrorCode();
        if (platform::lastFailedStep() == platform::SharedMemoryStep::kView) {
            std::printf("Could not initialise QRD (%d).\n", code);
        } else {
            std::printf("Could not create file mapping object (%d).\n", code);
        }
        return;
    }
    {
        std::lock_guard<std::mutex> lock(localBlockMutex());
        localBlock() = std::move(block);
        r.LocalBlock = localBlock().get();
    }
    std::printf(KV_TAG_OK "QRD Link Connected.\n");
    r.LocalLinkOpen = 1;
}

void CloseLocalBlock() {
    RaceState& r = Race();
    std::unique_ptr<platform::SharedMemory> closing;
    {
        std::lock_guard<std::mutex> lock(localBlockMutex());
        r.LocalBlock = nullptr;
        closing = std::move(localBlock());
    }
    closing.reset();
    r.LocalLinkOpen = 0;
}

}  // namespace

void RemoveLocalBlockName() {
    std::lock_guard<std::mutex> lock(localBlockMutex());
    if (localBlock()) {
        localBlock()->removeName();
    }
}

namespace {

// In the garage the fuel and tire windows are held at their reset, so the measurements begin
// when the car leaves.
void GarageWork() {
    RaceState& r = Race();
    engineer::FuelReset();
    if (r.TireResetDone == 0) {
        engineer::TireReset();
    }
    r.AdaptiveTireManagement = 1;
    r.FuelLastSet = 0;

    const double air = AirTemp.readFloat();
    const double track = TrackTempCrew.readFloat();
    common::RowPrintf(" Weather: Air: %0.1f (%0.1f) Track: %0.1f (%0.1f)", air, air - 25.55, track,
                      track - 40.0);
    // The garage commands print lines of their own after the weather.
    common::FlushStatusRow();

    r.TiresRequested = 0;
    r.TireChangeLap = Lap.readInt();
    r.LapReportSent = 0;

    Seams().garageDriverCommands();

    if (PitSvLFP.readDouble() == 0.0) {
        common::RowPrintf(" Open Garage.%44s", "");
    } else {
        common::RowPrintf(" Setup data read.%44s", "");
    }
    common::RowPrintf("%9s\r", "");
}

}  // namespace

void PrintBanner() {
    std::printf("%s\n", kPluginBanner);
}

void ConnectionWatch() {
    const bool connected = telemetry::Telemetry().isTelemetryLive();
    const Presence now = connected ? Presence::kConnected : Presence::kDisconnected;
    if (now == previousPresence) {
        return;
    }

    platform::clearScreen();
    platform::sleepMs(100);
    common::DrawLogo();
    PrintBanner();

    RaceState& r = Race();
    r.PassiveMode = common::readPassiveMode() ? 1 : 0;
    if (r.PassiveMode) {
        r.AdaptiveTireManagement = 0;
        std::printf(KV_TAG_OK "Plugin Mode: Passive\n");
    } else {
        std::printf(KV_TAG_OK "Plugin Mode: Active\n");
    }
    if (r.ApplicationSwitch == 1) {
        std::printf(KV_TAG_DEBUG "ApplicationSwitch: ON\n\n");
    }
    common::DrawLogo();

    if (connected) {
        std::printf(KV_TAG_OK "Connected to iRacing.\n\n");
        audio::SpeakInBackground(L"Sim connected.");
        if (r.LocalLinkOpen == 0) {
            OpenLocalBlock();
        }
    } else {
        if (r.LocalLinkOpen == 1) {
            CloseLocalBlock();
            std::printf(KV_TAG_OK "QRD link closing.\n");
        }
        std::printf(KV_TAG_WAIT "No connection to iRacing.. (Waiting for the sim)\n\n");
        r.TelemetryLoaded = 0;
        audio::SpeakInBackground(L"Waiting for the sim.");
        engineer::DisconnectReset();
    }
    previousPresence = now;
}

void MainTick() {
    PluginSeams& seams = Seams();
    if (!telemetry::Telemetry().waitForTelemetry(16)) {
        ConnectionWatch();
        // Messages go on being heard while the simulator is away ("Waiting for the sim."
        // among them); an output the engine feeds only when served would otherwise hold
        // them, and their samples, until the simulator came back.
        seams.updateAudioEngine();
        return;
    }

    RaceState& r = Race();

    if (r.TelemetryLoaded == 0) {
        std::printf("\n" KV_TAG_WAIT "Waiting for telemetry...      \n");
        platform::sleepMs(3000);
        seams.logSessionJoin();
        std::printf(KV_TAG_OK "Telemetry Loaded.             \n");
        r.TelemetryLoaded = 1;
    }

    common::BeginStatusRows();
    seams.updateAudioEngine();
    seams.pollControls();
    seams.refreshSessionSnapshot();

    // Computed wide: a hostile lap number must not overflow.
    r.TireAgeInLaps = static_cast<int32_t>(static_cast<int64_t>(Lap.readInt()) - r.TireChangeLap);
    r.TireDistance = r.TireAgeInLaps * r.LocalLapLength + LapDist.readFloat();

    if (r.BaselinePressureLF == 0) {
        r.BaselinePressureLF = LFcoldPressure.readDouble();
        r.BaselinePressureRF = RFcoldPressure.readDouble();
        r.BaselinePressureLR = LRcoldPressure.readDouble();
        r.BaselinePressureRR = RRcoldPressure.readDouble();
    }

    if (!IsOnTrack.readBool()) {
        GarageWork();
        ConnectionWatch();
        return;
    }

    if (seams.driverCommands() == engineer::CommandResult::kTickEnded) {
        return;
    }

    if (telemetry::querySessionValue("WeekendInfo:TrackPitSpeedLimit:") == 1) {
        // The leading number ("60.00 kph" -> 60); clamped, as atoi's overflow is undefined.
        const long limit = std::strtol(telemetry::QueryResult, nullptr, 10);
        r.TrackPitSpeedLimit = static_cast<int32_t>(std::clamp<long>(limit, INT32_MIN, INT32_MAX));
    }

    seams.pitRoadHandling();

    const int32_t surface = PlayerTrackSurface.readInt();
    if (surface == 3) {
        seams.onTrackCalls();
    } else if (surface == -1) {
        r.TiresRequested = 0;
        if (r.TireChangeLap == 0) {
            r.TireChangeLap = Lap.readInt();
        }
    }

    ConnectionWatch();
}

void CloseLocalLink() {
    CloseLocalBlock();
}

void ResetMainTick() {
    previousPresence = Presence::kNotSeen;
    CloseLocalBlock();
}

}  // namespace app
