#pragma once
// The simulated weekend: a field of cars running the scenario's sessions on one track, with
// the player's car in full detail (fuel, tires, engine, pit service). Driven in fixed steps of
// 1/60 s of simulated time, so a run depends only on the scenario, its seed and the pit
// commands applied between steps, never on the wall clock.

#include <cstdint>
#include <string>
#include <vector>

#include "tools/simfeed/field.h"
#include "tools/simfeed/scenario.h"
#include "tools/simfeed/session_text.h"

namespace simfeed {

inline constexpr int kTicksPerSecond = 60;
inline constexpr double kTickSeconds = 1.0 / kTicksPerSecond;

// The simulator's codes, as published in its variables.
enum SessionStateCode : int32_t {
    kStateInvalid = 0,
    kStateGetInCar = 1,
    kStateWarmup = 2,
    kStateParadeLaps = 3,
    kStateRacing = 4,
    kStateCheckered = 5,
    kStateCoolDown = 6,
};

enum TrackSurfaceCode : int32_t {
    kSurfaceNotInWorld = -1,
    kSurfaceOffTrack = 0,
    kSurfaceInPitStall = 1,
    kSurfaceApproachingPits = 2,
    kSurfaceOnTrack = 3,
};

enum SessionFlagBits : uint32_t {
    kFlagCheckered = 0x1,
    kFlagWhite = 0x2,
    kFlagGreen = 0x4,
    kFlagOneLapToGreen = 0x200,
    kFlagStartReady = 0x20000000,
    kFlagStartSet = 0x40000000,
    kFlagStartGo = 0x80000000,
};

enum EngineWarningBits : int32_t {
    kWarnWaterTemp = 0x01,
    kWarnFuelPressure = 0x02,
    kWarnOilPressure = 0x04,
    kWarnEngineStalled = 0x08,
    kWarnPitSpeedLimiter = 0x10,
    kWarnRevLimiter = 0x20,
    kWarnOilTemp = 0x40,
};

enum PitServiceBits : int32_t {
    kServiceLF = 0x01,
    kServiceRF = 0x02,
    kServiceLR = 0x04,
    kServiceRR = 0x08,
    kServiceTires = 0x0f,
    kServiceFuel = 0x10,
    kServiceWindshield = 0x20,
    kServiceFastRepair = 0x40,
};

enum PitServiceStatus : int32_t {
    kPitSvNone = 0,
    kPitSvInProgress = 1,
    kPitSvComplete = 2,
};

// The simulator's pit-command codes (second word of the broadcast).
enum PitCommandCode : int32_t {
    kCmdClear = 0,
    kCmdWindshield = 1,
    kCmdFuel = 2,
    kCmdLF = 3,
    kCmdRF = 4,
    kCmdLR = 5,
    kCmdRR = 6,
    kCmdClearTires = 7,
    kCmdFastRepair = 8,
    kCmdClearWindshield = 9,
    kCmdClearFastRepair = 10,
    kCmdClearFuel = 11,
};

enum class CarPhase { OutOfWorld, Garage, Grid, OnTrack, PitIn, Stall, PitOut };

enum class Stage { Garage, Warmup, Parade, Racing, Checkered, CoolDown, Between, Over };

struct CarState {
    int idx = 0;
    double pace = 1.0;
    CarPhase phase = CarPhase::OutOfWorld;
    double dist = 0;  // metres past the start/finish line
    int lap = 0;      // laps started
    int lapsCompleted = 0;
    double speed = 0;
    double accel = 0;
    double lapFactor = 1.0;  // this lap's pace
    double lapStartTime = -1;
    double lastLapTime = -1;
    double bestLapTime = -1;
    int bestLapNum = -1;
    int lapsLed = 0;
    bool pitPlanned = false;
    bool decidedThisLap = false;
    double stallTime = 0;      // seconds stationary in the stall on this stop
    double stallDuration = 0;  // AI cars: how long their stop lasts
    std::vector<int> pitLaps;  // AI cars: laps on which they stop
    bool finished = false;
    int finishOrder = 0;
    double finishTime = 0;
    int paradeCrossings = 0;
    int gear = 0;
    double rpm = 0;
};

struct TireCorner {
    double wear[3] = {1, 1, 1};  // tread remaining, zones L M R
    double carcass[3] = {25, 25, 25};
    double coldPressure = 165;
    int used = 0;
};

struct PlayerState {
    double fuel = 0;
    double lapBurnFactor = 1.0;
    int stintLaps = 0;
    double burnThisLap = 0;  // litres since the line
    TireCorner tires[4];
    int tireSetsUsed = 0;
    int tireSetsAvailable = 255;
    int engineWarnings = 0;
    // Pit menu, as the pit commands set it.
    int serviceFlags = 0;
    double serviceFuel = 0;
    double servicePressure[4] = {};
    // The stop in progress.
    int serviceStatus = kPitSvNone;
    double fuelAdded = 0;
    double tireWork = 0;  // seconds of tire work done on this stop
    bool tiresChanged = false;
    bool stopDone = false;
    double repairLeft = 0;
    double optRepairLeft = 0;
    bool speedingThisStop = false;
    int stops = 0;
    bool outOfFuel = false;
    double waterTemp = 85;
    double oilTemp = 95;
};

// What a pit command did, for the feed's console and log.
struct PitCommandOutcome {
    bool accepted = false;
    std::string text;
};

class RaceModel {
  public:
    explicit RaceModel(const Scenario& scenario);

    // One step of 1/60 s.
    void step();
    void stepSeconds(double seconds);
    PitCommandOutcome applyPitCommand(int32_t code, int32_t value);

    const Scenario& scenario() const { return scenario_; }
    const std::vector<FieldEntry>& field() const { return field_; }
    const std::vector<CarState>& cars() const { return cars_; }
    const CarState& playerCar() const { return cars_[static_cast<size_t>(playerIdx_)]; }
    const PlayerState& player() const { return player_; }
    int playerIdx() const { return playerIdx_; }

    int64_t tick() const { return tick_; }
    double sessionTime() const { return sessionTime_; }
    int sessionNum() const { return sessionNum_; }
    const SessionSpec& session() const { return *session_; }
    Stage stage() const { return stage_; }
    int32_t sessionState() const;
    uint32_t sessionFlags() const;
    double sessionTimeRemain() const;
    int sessionLapsRemainEx() const;
    int sessionUniqueId() const { return sessionUniqueId_; }
    bool lapLimited() const { return session_->laps > 0; }
    // True once the last simulated session is over.
    bool finished() const { return stage_ == Stage::Over; }

    // Where the player is, in the simulator's terms.
    int32_t playerSurface() const;
    bool playerInPitStall() const;
    bool playerIsOnTrack() const;
    bool playerOnPitRoad() const;
    double airTemp() const;
    double trackTemp() const;
    // 1-based positions per car index (0 = none yet).
    std::vector<int> positions() const;
    // The leader's laps completed in this session.
    int leaderLapsCompleted() const;

    // The truth of the player's race for a judge of the plugin's numbers: lines such as
    // "SAMPLE t=... odo=... fuel=...", collected only once switched on, taken by the feed.
    void recordTruth(bool on);
    std::vector<std::string> takeTruth();

    // The session text changes with the session, its results and the car setup.
    int sessionTextRevision() const { return textRevision_; }
    std::string sessionText() const;

    // The lap speed profile of the track for a car of the given pace (m/s at `dist`).
    double profileSpeed(double dist, double lapTime) const;
    double pitLimit() const { return scenario_.track.pitSpeedLimit / 3.6; }

  private:
    void startSession(size_t runIndex);
    void endSession();
    void advanceStage();
    void stepCar(CarState& car);
    double targetSpeed(const CarState& car) const;
    void onLineCrossed(CarState& car);
    void onDecisionPoint(CarState& car);
    void onPitEntry(CarState& car);
    void onStallReached(CarState& car);
    void onPitExit(CarState& car);
    void stallWork(CarState& car);
    void playerWear(const CarState& car, double moved);
    void updateEngine(const CarState& car);
    void goGreen();
    void updateFlags();
    bool eventActive(EventKind kind) const;
    void fireDamage();
    double lapTimeFor(const CarState& car) const;
    double fuelBurnThisLap() const;
    double fuelNeededToFinish(const CarState& car) const;
    double ahead(double from, double to) const;
    void newLapFactors(CarState& car);
    void placeOnGrid(CarState& car);
    void recordResults();
    void tireChangeDone();

    Scenario scenario_;
    std::vector<FieldEntry> field_;
    std::vector<CarState> cars_;
    PlayerState player_;
    int playerIdx_ = 0;
    Random rng_;

    std::vector<int> runOrder_;
    size_t runIndex_ = 0;
    const SessionSpec* session_ = nullptr;
    int sessionNum_ = 0;
    int sessionUniqueId_ = 0;
    Stage stage_ = Stage::Garage;
    double stageTime_ = 0;
    double sessionTime_ = 0;
    double greenTime_ = -1;
    bool white_ = false;
    bool checkered_ = false;
    int whiteLeaderLaps_ = -1;
    double checkeredAt_ = 0;
    int finishers_ = 0;
    int64_t tick_ = 0;
    double weekendTime_ = 0;  // for the temperature drift
    std::vector<bool> damageFired_;

    void truth(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    void truthSession();
    void truthStint(const char* why);

    bool recordTruth_ = false;
    std::vector<std::string> truth_;
    double odometer_ = 0;     // metres the player has driven in this session
    double lowestFuel_ = -1;  // in this session from the green flag, -1 before it
    bool flagTaken_ = false;

    SessionTextState text_;
    int textRevision_ = 1;
};

}  // namespace simfeed
