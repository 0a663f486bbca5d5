#pragma once
// The race engineer's record: everything known about the car, session, fuel, tires and the
// current pit stop. One process-wide instance, written only on the main thread.

#include <atomic>
#include <cstdint>

namespace platform {
class SharedMemory;
}

namespace engineer {

// Bits of PressedFunctions.
enum Function : uint32_t {
    kModeOption = 1,
    kModeConfig = 2,
    kFuel = 4,
    kTire = 8,
    kWeather = 16,
    kStint = 32,
};

struct RaceState {
    // Modes and connection flags
    std::atomic<uint8_t> PassiveMode{0};  // also read by speech threads
    uint8_t AdaptiveTireManagement = 1;
    uint8_t ApplicationSwitch = 0;
    uint8_t TelemetryLoaded = 0;
    uint8_t LocalLinkOpen = 0;
    platform::SharedMemory* LocalBlock = nullptr;  // mapping and view of "Local\qrdlocal"
    int32_t AudioInterfaceId = 1024;
    uint32_t PressedFunctions = 0;

    // Session facts
    int32_t DriverUserID = 0;
    int32_t SubSessionID = 0;
    int32_t TrackID = 0;
    int32_t CarID = 0;
    int32_t SessionNum = 0;
    char SessionName[512] = {};
    int32_t SessionKind = 0;
    int32_t ShiftRPM = 0;
    double TrackAirTemp = 0;
    double TrackSurfaceTemp = 0;
    double LocalLapLength = 0;
    float PitTrackPct = 0;
    float PitEntryDistance = 0;
    double DistanceToPitEntry = 0;
    double CarFuelMaxLtr = 0;
    double CarClassMaxFuelPct = 1.0;
    int32_t FuelTankLiters = 0;
    int32_t TrackPitSpeedLimit = 0;
    int32_t RaceSessionType = 0;
    const char* RaceUnitWord = "Minutes";
    int32_t SessionRemaining = 0;
    int32_t SpeedKph = 0;
    int32_t EngineWarningBits = 0;
    uint32_t StatusBits = 0;

    // Fuel accounting
    double ResetSessionTime = 0;
    int32_t ResetLap = 0;
    // Where on the lap the window began (a pit stall is rarely on the line); -1 while the car
    // has not been in the world since the reset.
    float ResetLapDist = 0;
    float FuelAtReset = 0;
    int32_t LapsSinceReset = 0;
    float DistanceSinceReset = 0;
    float FuelUsed = 0;
    float FuelBurnPerLap = 0;
    float FuelBurnPerMin = 0;
    float FuelBurnPerUnit = 0;
    float FuelBurnPerLapMax = 0;
    float FuelBurnPerMinMax = 0;
    float FuelBurnMax = 0;
    float LastHighFuelBurnMax = 0;
    float FuelLapsLeft = 0;
    double FuelToFinish = 0;
    double TanksToFinish = 0;
    double LitersToAdd = 0;
    double FuelLastSet = 0;
    int32_t FuelPlan = 0;
    double FuelPlanFraction = 0;
    double NextPitLaps = 0;
    int32_t FuelWindowState = 0;
    uint8_t FuelOffAnnounced = 0;
    uint8_t PitBeepGiven = 0;

    // Pit road and stop
    int32_t PitInArmed = 0;
    double PitStallEntryTime = 0;
    double PitStallTime = 0;
    uint8_t BoxServiceDone = 0;
    uint32_t ServiceType = 0;
    uint8_t TiresRequested = 0;
    uint8_t TireResetDone = 0;

    // Tires
    int32_t TireChangeLap = 0;
    int32_t TireAgeInLaps = 0;
    double TireDistance = 0;
    int32_t TireChangeMode = 0;
    double BaselinePressureLF = 0;
    double BaselinePressureRF = 0;
    double BaselinePressureLR = 0;
    double BaselinePressureRR = 0;

    // Once-only guards of the on-track calls
    uint8_t LapReportSent = 0;
    uint8_t FuelSaveAdvised = 0;
    uint8_t CheckeredSeen = 0;
    uint8_t WhiteFlagSeen = 0;
    uint8_t LowFuelWarned = 0;
    uint8_t BoxNextLapCalled = 0;

    // Serial pit board
    uint8_t UseSerial = 0;
};

RaceState& Race();

// Back to the start-of-run values (tests).
void ResetRaceState();

void FuelReset();
void TireReset();
void DisconnectReset();

}  // namespace engineer
