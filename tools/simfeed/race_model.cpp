#include "tools/simfeed/race_model.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <numeric>

namespace simfeed {

namespace {

constexpr double kPi = 3.14159265358979323846;
// The lap speed profile: k slow and fast stretches per lap, +-A around the mean speed.
constexpr int kProfileWaves = 4;
constexpr double kProfileAmplitude = 0.3;
constexpr double kAccelerate = 9.0;  // m/s^2
constexpr double kDecelerate = 16.0;
constexpr double kPitEntryBraking = 8.0;
constexpr double kStallBraking = 6.0;
constexpr double kStallBox = 6.0;          // metres either side of the stall mark
constexpr double kDecisionDistance = 400;  // metres before the pit entry
constexpr double kIdleBurn = 0.0004;       // litres per second with the engine running
constexpr double kPitRoadBurnShare = 0.35;
constexpr double kUnlimitedTime = 604800.0;  // what the simulator shows for no time limit
constexpr int kUnlimitedLaps = 32767;
// Wear of the corners and of the tread zones (L M R); the inner edge wears most.
constexpr double kCornerLoad[4] = {0.85, 1.0, 0.7, 0.8};
constexpr double kZoneLoadLeftTire[3] = {0.7, 0.8, 1.0};   // inner edge is R
constexpr double kZoneLoadRightTire[3] = {1.0, 0.8, 0.7};  // inner edge is L

double zoneLoad(int corner, int zone) {
    return (corner == 0 || corner == 2) ? kZoneLoadLeftTire[zone] : kZoneLoadRightTire[zone];
}

}  // namespace

RaceModel::RaceModel(const Scenario& scenario)
    : scenario_(scenario), field_(makeField(scenario)), rng_(scenario.seed) {
    playerIdx_ = scenario_.driver.carIdx;
    cars_.resize(field_.size());
    for (size_t i = 0; i < field_.size(); ++i) {
        cars_[i].idx = static_cast<int>(i);
        cars_[i].pace = field_[i].pace;
    }
    player_.tireSetsAvailable = scenario_.car.tireSets;
    for (int c = 0; c < 4; ++c) {
        player_.tires[c].coldPressure = scenario_.car.startingPressure[c];
    }
    const StrategySpec& st = scenario_.strategy;
    player_.serviceFlags = (st.menuFuelOn ? kServiceFuel : 0) | (st.menuTires ? kServiceTires : 0);
    player_.serviceFuel =
        st.menuFuel < 0 ? scenario_.usableTank() : std::min(st.menuFuel, scenario_.usableTank());
    runOrder_ = scenario_.runOrder();
    damageFired_.assign(scenario_.events.size(), false);
    startSession(0);
}

double RaceModel::ahead(double from, double to) const {
    double l = scenario_.track.length;
    double d = std::fmod(to - from, l);
    return d < 0 ? d + l : d;
}

double RaceModel::profileSpeed(double dist, double lapTime) const {
    double l = scenario_.track.length;
    double mean = l / (lapTime * std::sqrt(1 - kProfileAmplitude * kProfileAmplitude));
    return mean * (1 + kProfileAmplitude * std::sin(2 * kPi * kProfileWaves * dist / l));
}

double RaceModel::lapTimeFor(const CarState& car) const {
    return scenario_.car.lapTime * car.pace * car.lapFactor;
}

double RaceModel::fuelBurnThisLap() const {
    const CarSpec& c = scenario_.car;
    return (c.fuelPerLap + c.fuelBurnGrowth * player_.stintLaps) * player_.lapBurnFactor;
}

void RaceModel::newLapFactors(CarState& car) {
    car.lapFactor = 1 + scenario_.car.lapTimeNoise * rng_.symmetric();
    if (car.idx == playerIdx_) {
        player_.lapBurnFactor = 1 + scenario_.car.fuelNoise * rng_.symmetric();
    }
}

void RaceModel::placeOnGrid(CarState& car) {
    const FieldEntry& f = field_[static_cast<size_t>(car.idx)];
    car.phase = CarPhase::Grid;
    // Two columns, 8 m a row, the pole 10 m behind the line.
    car.dist = scenario_.track.length - 10.0 - 8.0 * ((f.gridPosition - 1) / 2) -
               4.0 * ((f.gridPosition - 1) % 2);
    car.speed = 0;
}

void RaceModel::startSession(size_t runIndex) {
    runIndex_ = runIndex;
    sessionNum_ = runOrder_[runIndex];
    session_ = scenario_.session(sessionNum_);
    ++sessionUniqueId_;
    sessionTime_ = 0;
    stageTime_ = 0;
    greenTime_ = -1;
    white_ = false;
    checkered_ = false;
    whiteLeaderLaps_ = -1;
    finishers_ = 0;
    stage_ = Stage::Garage;

    player_.fuel = scenario_.startFuel();
    player_.stintLaps = 0;
    player_.burnThisLap = 0;
    player_.engineWarnings = 0;
    player_.serviceStatus = kPitSvNone;
    player_.outOfFuel = false;
    player_.repairLeft = 0;
    player_.optRepairLeft = 0;
    for (TireCorner& t : player_.tires) {
        for (int z = 0; z < 3; ++z) {
            t.wear[z] = 1.0;
            t.carcass[z] = airTemp();
        }
    }
    bool race = session_->kind == SessionKind::Race;
    double l = scenario_.track.length;
    for (CarState& car : cars_) {
        double pace = car.pace;
        int idx = car.idx;
        car = CarState{};
        car.idx = idx;
        car.pace = pace;
        newLapFactors(car);
        if (idx == playerIdx_) {
            car.phase = CarPhase::Garage;
            continue;
        }
        if (race) {
            car.phase = CarPhase::OutOfWorld;
            // Rivals run the player's fuel plan: the same start fuel, then full tanks, each
            // stint a lap or two short of dry.
            double laps = session_->laps > 0 ? session_->laps
                                             : session_->timeSeconds / scenario_.car.lapTime + 1;
            double burn = std::max(0.1, scenario_.car.fuelPerLap);
            int first = static_cast<int>(scenario_.startFuel() / burn);
            int stint = std::max(2, static_cast<int>(scenario_.usableTank() / burn));
            for (int lap = std::max(1, first - rng_.below(3)); lap < laps;
                 lap += std::max(1, stint - rng_.below(3))) {
                car.pitLaps.push_back(lap);
            }
        } else {
            car.phase = CarPhase::OnTrack;
            car.dist = rng_.uniform() * l;
            car.lap = 1;
            car.speed = profileSpeed(car.dist, lapTimeFor(car));
        }
    }
    text_.currentSession = sessionNum_;
    ++textRevision_;
    odometer_ = 0;
    lowestFuel_ = -1;
    flagTaken_ = false;
    truthSession();
}

void RaceModel::truthSession() {
    truth("SESSION num=%d kind=%s laps=%d time=%.0f length=%.3f tank=%.3f lapsFromPace=%d",
          sessionNum_,
          session_->kind == SessionKind::Race      ? "Race"
          : session_->kind == SessionKind::Qualify ? "Qualify"
                                                   : "Practice",
          session_->laps, session_->timeSeconds, scenario_.track.length, scenario_.usableTank(),
          session_->lapsFromPace ? 1 : 0);
    truthStint("start");
}

void RaceModel::recordTruth(bool on) {
    const bool starting = on && !recordTruth_;
    recordTruth_ = on;
    if (starting) {
        // The session began with the model, before anyone asked for its truth.
        truthSession();
    }
}

void RaceModel::truth(const char* format, ...) {
    if (!recordTruth_) {
        return;
    }
    char buf[320];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    truth_.emplace_back(buf);
}

void RaceModel::truthStint(const char* why) {
    const CarState& c = playerCar();
    truth("STINT t=%.3f lap=%d lapdist=%.3f odo=%.3f fuel=%.5f why=%s", sessionTime_, c.lap, c.dist,
          odometer_, player_.fuel, why);
}

std::vector<std::string> RaceModel::takeTruth() {
    std::vector<std::string> out;
    out.swap(truth_);
    return out;
}

void RaceModel::endSession() {
    truth("SESSIONEND num=%d t=%.3f fuel=%.5f lowest=%.5f", sessionNum_, sessionTime_, player_.fuel,
          lowestFuel_);
    recordResults();
    for (CarState& car : cars_) {
        car.phase = CarPhase::OutOfWorld;
        car.speed = 0;
        car.accel = 0;
    }
    player_.serviceStatus = kPitSvNone;
    stageTime_ = 0;
    stage_ = runIndex_ + 1 < runOrder_.size() ? Stage::Between : Stage::Over;
}

void RaceModel::recordResults() {
    SessionResults r;
    std::vector<int> pos = positions();
    for (const CarState& car : cars_) {
        int p = pos[static_cast<size_t>(car.idx)];
        if (p <= 0) {
            continue;
        }
        ResultEntry e;
        e.position = p;
        e.classPosition = p - 1;
        e.carIdx = car.idx;
        e.lap = car.lapsCompleted;
        e.time = car.finished ? car.finishTime : sessionTime_;
        e.fastestLap = car.bestLapNum;
        e.fastestTime = car.bestLapTime;
        e.lastTime = car.lastLapTime;
        e.lapsLed = car.lapsLed;
        e.lapsComplete = car.lapsCompleted;
        r.positions.push_back(e);
    }
    std::sort(r.positions.begin(), r.positions.end(),
              [](const ResultEntry& a, const ResultEntry& b) { return a.position < b.position; });
    r.lapsComplete = leaderLapsCompleted();
    if (r.lapsComplete > 0 && greenTime_ >= 0 && !r.positions.empty()) {
        r.averageLapTime = (r.positions.front().time - greenTime_) / r.lapsComplete;
    }
    r.official = stage_ == Stage::CoolDown || stage_ == Stage::Checkered;
    text_.results[sessionNum_] = r;
    ++textRevision_;
}

void RaceModel::goGreen() {
    stage_ = Stage::Racing;
    stageTime_ = 0;
    greenTime_ = sessionTime_;
    // The race's first stint: what the car burnt before the green is no racing burn.
    truthStint("green");
    for (CarState& car : cars_) {
        if (car.phase == CarPhase::Grid) {
            car.phase = CarPhase::OnTrack;
        }
    }
}

void RaceModel::advanceStage() {
    const bool race = session_->kind == SessionKind::Race;
    switch (stage_) {
        case Stage::Garage:
            if (stageTime_ >= scenario_.setupReadSeconds || stageTime_ >= scenario_.garageSeconds) {
                // The garage has loaded the setup: the pit menu shows its pressures.
                for (int c = 0; c < 4; ++c) {
                    if (player_.servicePressure[c] <= 0) {
                        player_.servicePressure[c] = player_.tires[c].coldPressure;
                    }
                }
            }
            if (stageTime_ >= scenario_.garageSeconds) {
                stageTime_ = 0;
                if (race) {
                    stage_ = Stage::Warmup;
                    for (CarState& car : cars_) {
                        placeOnGrid(car);
                    }
                } else {
                    // Out of the garage into the stall, then down the pit road.
                    stage_ = Stage::Racing;
                    greenTime_ = 0;
                    CarState& p = cars_[static_cast<size_t>(playerIdx_)];
                    p.phase = CarPhase::PitOut;
                    p.dist = scenario_.track.pitStallPct * scenario_.track.length;
                    p.speed = 0;
                }
            }
            break;
        case Stage::Warmup:
            if (stageTime_ >= scenario_.warmupSeconds) {
                if (scenario_.paradeLaps > 0) {
                    stage_ = Stage::Parade;
                    stageTime_ = 0;
                    for (CarState& car : cars_) {
                        car.phase = CarPhase::OnTrack;
                    }
                } else {
                    goGreen();
                }
            }
            break;
        case Stage::Parade:
            break;  // the pole car's line crossing starts the race
        case Stage::Racing:
            updateFlags();
            break;
        case Stage::Checkered: {
            bool all = std::all_of(cars_.begin(), cars_.end(), [](const CarState& c) {
                return c.finished || c.phase == CarPhase::OutOfWorld;
            });
            if (all || sessionTime_ - checkeredAt_ >= scenario_.checkeredTimeout) {
                stage_ = Stage::CoolDown;
                stageTime_ = 0;
                recordResults();
            }
            break;
        }
        case Stage::CoolDown:
            if (stageTime_ >= scenario_.coolDownSeconds) {
                endSession();
            }
            break;
        case Stage::Between:
            if (stageTime_ >= scenario_.betweenSessionsSeconds) {
                startSession(runIndex_ + 1);
            }
            break;
        case Stage::Over:
            break;
    }
}

void RaceModel::updateFlags() {
    if (stage_ != Stage::Racing) {
        return;
    }
    const int leader = leaderLapsCompleted();
    const int laps = session_->laps;
    const bool race = session_->kind == SessionKind::Race;
    bool checkered = false;
    if (laps > 0) {
        if (leader >= laps) {
            checkered = true;
        } else if (race && leader == laps - 1) {
            white_ = true;
        }
    }
    if (session_->timeSeconds > 0 && sessionTimeRemain() <= 0) {
        if (!race) {
            checkered = true;
        } else if (whiteLeaderLaps_ < 0) {
            white_ = true;
            whiteLeaderLaps_ = leader;
        }
    }
    if (whiteLeaderLaps_ >= 0 && leader > whiteLeaderLaps_) {
        checkered = true;
    }
    if (checkered) {
        checkered_ = true;
        white_ = false;
        checkeredAt_ = sessionTime_;
        stage_ = Stage::Checkered;
        stageTime_ = 0;
    }
}

int RaceModel::leaderLapsCompleted() const {
    int best = 0;
    for (const CarState& c : cars_) {
        best = std::max(best, c.lapsCompleted);
    }
    return best;
}

std::vector<int> RaceModel::positions() const {
    std::vector<int> pos(cars_.size(), 0);
    std::vector<int> order;
    for (const CarState& c : cars_) {
        if (c.phase != CarPhase::OutOfWorld || c.finished || c.lapsCompleted > 0) {
            order.push_back(c.idx);
        }
    }
    const double l = scenario_.track.length;
    if (session_->kind == SessionKind::Race) {
        if (stage_ == Stage::Garage) {
            return pos;
        }
        // A finished car counts its laps; a running one its laps and the part of the lap it
        // has run, so a lapped car that took the flag falls behind a car still on the lead lap.
        auto progress = [&](const CarState& c) {
            if (c.finished) {
                return static_cast<double>(c.lapsCompleted);
            }
            return c.lap >= 1 ? c.lap - 1 + c.dist / l : (c.dist - l) / l;
        };
        std::sort(order.begin(), order.end(), [&](int a, int b) {
            const CarState& x = cars_[static_cast<size_t>(a)];
            const CarState& y = cars_[static_cast<size_t>(b)];
            double px = progress(x);
            double py = progress(y);
            if (px != py) {
                return px > py;
            }
            if (x.finished != y.finished) {
                return x.finished;
            }
            if (x.finished && x.finishOrder != y.finishOrder) {
                return x.finishOrder < y.finishOrder;
            }
            return a < b;
        });
        for (size_t i = 0; i < order.size(); ++i) {
            pos[static_cast<size_t>(order[i])] = static_cast<int>(i) + 1;
        }
        return pos;
    }
    order.erase(
        std::remove_if(order.begin(), order.end(),
                       [&](int i) { return cars_[static_cast<size_t>(i)].bestLapTime <= 0; }),
        order.end());
    std::sort(order.begin(), order.end(), [&](int a, int b) {
        return cars_[static_cast<size_t>(a)].bestLapTime <
               cars_[static_cast<size_t>(b)].bestLapTime;
    });
    for (size_t i = 0; i < order.size(); ++i) {
        pos[static_cast<size_t>(order[i])] = static_cast<int>(i) + 1;
    }
    return pos;
}

int32_t RaceModel::sessionState() const {
    switch (stage_) {
        case Stage::Garage:
            return session_->kind == SessionKind::Race ? kStateGetInCar : kStateRacing;
        case Stage::Warmup:
            return kStateWarmup;
        case Stage::Parade:
            return kStateParadeLaps;
        case Stage::Racing:
            return kStateRacing;
        case Stage::Checkered:
            return kStateCheckered;
        case Stage::CoolDown:
        case Stage::Between:
        case Stage::Over:
            return kStateCoolDown;
    }
    return kStateInvalid;
}

uint32_t RaceModel::sessionFlags() const {
    switch (stage_) {
        case Stage::Warmup:
            return scenario_.warmupSeconds - stageTime_ <= 2.0 ? kFlagStartSet : kFlagStartReady;
        case Stage::Parade:
            return kFlagOneLapToGreen;
        case Stage::Racing: {
            uint32_t f = kFlagGreen;
            if (white_) {
                f |= kFlagWhite;
            }
            if (session_->kind == SessionKind::Race && sessionTime_ - greenTime_ < 2.0) {
                f |= kFlagStartGo;
            }
            return f;
        }
        case Stage::Checkered:
        case Stage::CoolDown:
            return kFlagCheckered;
        default:
            return 0;
    }
}

double RaceModel::sessionTimeRemain() const {
    if (session_->timeSeconds <= 0) {
        return kUnlimitedTime;
    }
    double start = session_->kind == SessionKind::Race ? greenTime_ : 0;
    if (start < 0) {
        return session_->timeSeconds;
    }
    return std::max(0.0, session_->timeSeconds - (sessionTime_ - start));
}

int RaceModel::sessionLapsRemainEx() const {
    if (session_->laps <= 0 && session_->lapsFromPace && session_->timeSeconds > 0) {
        // The leader's laps still to run: those the clock leaves at the leader's last lap
        // time, and the one that takes the flag.
        double lapTime = scenario_.car.lapTime;
        for (const CarState& c : cars_) {
            if (c.lapsCompleted == leaderLapsCompleted() && c.lastLapTime > 0) {
                lapTime = c.lastLapTime;
                break;
            }
        }
        if (checkered_) {
            return 0;
        }
        if (white_) {
            return 1;
        }
        return static_cast<int>(std::ceil(sessionTimeRemain() / lapTime)) + 1;
    }
    if (session_->laps <= 0) {
        return kUnlimitedLaps;
    }
    return std::max(0, session_->laps - leaderLapsCompleted());
}

int32_t RaceModel::playerSurface() const {
    const CarState& c = playerCar();
    switch (c.phase) {
        case CarPhase::OutOfWorld:
        case CarPhase::Garage:
            return kSurfaceNotInWorld;
        case CarPhase::Grid:
        case CarPhase::OnTrack:
            return kSurfaceOnTrack;
        case CarPhase::Stall:
            return kSurfaceInPitStall;
        case CarPhase::PitIn:
        case CarPhase::PitOut:
            return playerInPitStall() ? kSurfaceInPitStall : kSurfaceApproachingPits;
    }
    return kSurfaceNotInWorld;
}

bool RaceModel::playerInPitStall() const {
    const CarState& c = playerCar();
    if (c.phase == CarPhase::Stall) {
        return true;
    }
    if (c.phase != CarPhase::PitIn && c.phase != CarPhase::PitOut) {
        return false;
    }
    double stall = scenario_.track.pitStallPct * scenario_.track.length;
    return std::min(ahead(c.dist, stall), ahead(stall, c.dist)) <= kStallBox;
}

bool RaceModel::playerIsOnTrack() const {
    CarPhase p = playerCar().phase;
    return p != CarPhase::OutOfWorld && p != CarPhase::Garage;
}

bool RaceModel::playerOnPitRoad() const {
    CarPhase p = playerCar().phase;
    return p == CarPhase::PitIn || p == CarPhase::Stall || p == CarPhase::PitOut;
}

double RaceModel::airTemp() const {
    const TrackSpec& t = scenario_.track;
    return t.airTemp + t.airTempDrift * weekendTime_ / 3600.0 +
           0.15 * std::sin(weekendTime_ / 600.0);
}

double RaceModel::trackTemp() const {
    const TrackSpec& t = scenario_.track;
    return t.trackTemp + t.trackTempDrift * weekendTime_ / 3600.0 +
           0.4 * std::sin(weekendTime_ / 900.0);
}

bool RaceModel::eventActive(EventKind kind) const {
    for (const EventSpec& e : scenario_.events) {
        if (e.kind != kind || (e.session >= 0 && e.session != sessionNum_)) {
            continue;
        }
        if (e.lap > 0) {
            int lap = playerCar().lap;
            if (lap >= e.lap && lap < e.lap + e.laps) {
                return true;
            }
        } else if (e.time >= 0 && sessionTime_ >= e.time && sessionTime_ < e.time + e.duration) {
            return true;
        }
    }
    return false;
}

void RaceModel::fireDamage() {
    for (size_t i = 0; i < scenario_.events.size(); ++i) {
        const EventSpec& e = scenario_.events[i];
        if (e.kind != EventKind::Damage || damageFired_[i] ||
            (e.session >= 0 && e.session != sessionNum_)) {
            continue;
        }
        bool due = e.lap > 0 ? playerCar().lap >= e.lap : (e.time >= 0 && sessionTime_ >= e.time);
        if (due && playerIsOnTrack()) {
            damageFired_[i] = true;
            player_.repairLeft += e.repair;
            player_.optRepairLeft += e.optRepair;
        }
    }
}

double RaceModel::fuelNeededToFinish(const CarState& car) const {
    const double l = scenario_.track.length;
    double laps;
    if (session_->laps > 0) {
        laps = std::max(0, sessionLapsRemainEx() - 1);
    } else if (session_->timeSeconds > 0) {
        laps = std::ceil(sessionTimeRemain() / lapTimeFor(car)) + 1;
    } else {
        laps = 1e9;
    }
    return fuelBurnThisLap() * (laps + ahead(car.dist, 0) / l);
}

double RaceModel::targetSpeed(const CarState& car) const {
    const bool isPlayer = car.idx == playerIdx_;
    const double pitLimitSpeed =
        isPlayer && player_.speedingThisStop ? pitLimit() + 15.0 / 3.6 : pitLimit() * 0.98;
    double stall = scenario_.track.pitStallPct * scenario_.track.length;
    double v = 0;
    switch (car.phase) {
        case CarPhase::OnTrack: {
            v = profileSpeed(car.dist, lapTimeFor(car));
            if (stage_ == Stage::Parade) {
                v *= 0.45;
            } else if (car.finished || stage_ == Stage::CoolDown) {
                v *= 0.6;
            }
            if (car.pitPlanned) {
                double d = ahead(car.dist, scenario_.track.pitEntryPct * scenario_.track.length);
                v = std::min(v,
                             std::sqrt(pitLimitSpeed * pitLimitSpeed + 2 * kPitEntryBraking * d));
            }
            if (isPlayer && player_.outOfFuel) {
                v = 0;
            }
            break;
        }
        case CarPhase::PitIn:
            v = std::min(pitLimitSpeed, std::sqrt(2 * kStallBraking * ahead(car.dist, stall)));
            // The crew pushes a car without fuel to its stall.
            v = std::max(v, 0.3);
            if (isPlayer && player_.outOfFuel) {
                v = std::min(v, 3.0);
            }
            break;
        case CarPhase::PitOut:
            v = isPlayer && player_.outOfFuel ? 0 : pitLimitSpeed;
            break;
        default:
            v = 0;
            break;
    }
    return v;
}

void RaceModel::onDecisionPoint(CarState& car) {
    if (car.decidedThisLap || car.finished || stage_ != Stage::Racing || white_) {
        return;
    }
    car.decidedThisLap = true;
    if (car.idx != playerIdx_) {
        car.pitPlanned =
            std::find(car.pitLaps.begin(), car.pitLaps.end(), car.lap) != car.pitLaps.end();
        return;
    }
    const StrategySpec& st = scenario_.strategy;
    const double l = scenario_.track.length;
    bool pit = std::find(st.pitOnLaps.begin(), st.pitOnLaps.end(), car.lap) != st.pitOnLaps.end();
    if (st.pitWhenFuelBelow > 0 && player_.fuel < st.pitWhenFuelBelow) {
        pit = true;
    }
    if (st.safetyStop) {
        // Enough to reach the pit entry once more, with a margin, unless it reaches the flag.
        double toNextEntry =
            (ahead(car.dist, scenario_.track.pitEntryPct * l) + l) / l * fuelBurnThisLap() * 1.05;
        if (player_.fuel < toNextEntry && player_.fuel < fuelNeededToFinish(car)) {
            pit = true;
        }
    }
    if (session_->laps > 0 && sessionLapsRemainEx() <= 1) {
        pit = false;  // the last lap: nothing to gain from a stop
    }
    car.pitPlanned = pit;
    // The driver who forgets the limiter forgets it from the approach on.
    player_.speedingThisStop = pit && eventActive(EventKind::PitSpeeding);
}

void RaceModel::onPitEntry(CarState& car) {
    car.phase = CarPhase::PitIn;
    car.pitPlanned = false;
    if (car.idx == playerIdx_) {
        player_.serviceStatus = kPitSvNone;
    }
}

void RaceModel::onStallReached(CarState& car) {
    car.phase = CarPhase::Stall;
    car.dist = scenario_.track.pitStallPct * scenario_.track.length;
    car.speed = 0;
    car.accel = 0;
    car.stallTime = 0;
    if (car.idx == playerIdx_) {
        player_.serviceStatus = kPitSvInProgress;
        player_.fuelAdded = 0;
        player_.tireWork = 0;
        player_.tiresChanged = false;
        player_.stopDone = false;
    } else {
        // Fuel for the rest of their race (at most a tank) at the player's fill rate, and
        // tires when the player's crew changes them too.
        const StrategySpec& st = scenario_.strategy;
        double laps = session_->laps > 0 ? std::max(0, session_->laps - car.lapsCompleted)
                                         : sessionTimeRemain() / scenario_.car.lapTime + 1;
        double fuel = std::min(laps * scenario_.car.fuelPerLap, scenario_.usableTank());
        double work = std::max(fuel / st.fuelFillRate, st.menuTires ? st.tireChangeSeconds : 0.0);
        car.stallDuration = std::max(st.stopSeconds, work) + 3.0 * rng_.uniform();
    }
}

void RaceModel::onPitExit(CarState& car) {
    car.phase = CarPhase::OnTrack;
    if (car.idx == playerIdx_) {
        player_.serviceStatus = kPitSvNone;
        player_.speedingThisStop = false;
    }
}

void RaceModel::tireChangeDone() {
    int mask = player_.serviceFlags & kServiceTires;
    for (int c = 0; c < 4; ++c) {
        if ((mask & (1 << c)) == 0) {
            continue;
        }
        TireCorner& t = player_.tires[c];
        for (int z = 0; z < 3; ++z) {
            text_.treadRemaining[c][z] = t.wear[z];
            t.wear[z] = 1.0;
            t.carcass[z] = airTemp() + 5;
        }
        t.coldPressure =
            player_.servicePressure[c] > 0 ? player_.servicePressure[c] : t.coldPressure;
        ++t.used;
    }
    ++player_.tireSetsUsed;
    if (player_.tireSetsAvailable != 255 && player_.tireSetsAvailable > 0) {
        --player_.tireSetsAvailable;
    }
    player_.tiresChanged = true;
    player_.serviceFlags &= ~mask;
}

void RaceModel::stallWork(CarState& car) {
    car.stallTime += kTickSeconds;
    if (car.idx != playerIdx_) {
        if (car.stallTime >= car.stallDuration) {
            car.phase = CarPhase::PitOut;
        }
        return;
    }
    PlayerState& p = player_;
    if (p.stopDone) {
        return;
    }
    const StrategySpec& st = scenario_.strategy;
    const double usable = scenario_.usableTank();
    bool fuelDone = true;
    if ((p.serviceFlags & kServiceFuel) != 0 && p.fuelAdded < p.serviceFuel && p.fuel < usable) {
        double add = std::min(
            {st.fuelFillRate * kTickSeconds, p.serviceFuel - p.fuelAdded, usable - p.fuel});
        p.fuel += add;
        p.fuelAdded += add;
        p.outOfFuel = p.fuel <= 0;
        fuelDone = p.fuelAdded >= p.serviceFuel - 1e-9 || p.fuel >= usable - 1e-9;
    }
    bool tiresDone = true;
    int mask = p.serviceFlags & kServiceTires;
    if (mask != 0 && !p.tiresChanged && p.tireSetsAvailable > 0) {
        p.tireWork += kTickSeconds;
        tiresDone = false;
        if (p.tireWork >= st.tireChangeSeconds) {
            tireChangeDone();
            tiresDone = true;
        }
    }
    bool repairsDone = true;
    if (p.repairLeft > 0) {
        p.repairLeft = std::max(0.0, p.repairLeft - kTickSeconds);
        repairsDone = false;
    } else if (p.optRepairLeft > 0) {
        p.optRepairLeft = std::max(0.0, p.optRepairLeft - kTickSeconds);
        repairsDone = false;
    }
    if (car.stallTime >= st.stopSeconds && fuelDone && tiresDone && repairsDone) {
        p.stopDone = true;
        truth("STOP t=%.3f lap=%d ordered=%.3f added=%.5f fuel=%.5f odo=%.3f", sessionTime_,
              car.lap, (p.serviceFlags & kServiceFuel) != 0 ? p.serviceFuel : 0.0, p.fuelAdded,
              p.fuel, odometer_);
        p.serviceStatus = kPitSvComplete;
        if (p.fuelAdded > 0) {
            p.serviceFlags &= ~kServiceFuel;
            p.stintLaps = 0;
        }
        ++p.stops;
        for (int c = 0; c < 4; ++c) {
            for (int z = 0; z < 3; ++z) {
                text_.tireTemps[c][z] = p.tires[c].carcass[z];
                if (!p.tiresChanged) {
                    text_.treadRemaining[c][z] = p.tires[c].wear[z];
                }
            }
        }
        ++text_.setupUpdateCount;
        ++textRevision_;
        car.phase = CarPhase::PitOut;
        truthStint("stop");
    }
}

void RaceModel::onLineCrossed(CarState& car) {
    if (stage_ == Stage::Parade) {
        ++car.paradeCrossings;
        const FieldEntry& f = field_[static_cast<size_t>(car.idx)];
        // The first crossing starts the pace lap; the one after the last pace lap is the start.
        if (f.gridPosition == 1 && car.paradeCrossings > scenario_.paradeLaps) {
            goGreen();
        }
    }
    if (greenTime_ < 0 || car.finished) {
        return;
    }
    if (car.lap >= 1) {
        ++car.lapsCompleted;
        if (car.lapStartTime >= 0) {
            car.lastLapTime = sessionTime_ - car.lapStartTime;
            if (car.bestLapTime < 0 || car.lastLapTime < car.bestLapTime) {
                car.bestLapTime = car.lastLapTime;
                car.bestLapNum = car.lap;
            }
        }
        std::vector<int> pos = positions();
        if (pos[static_cast<size_t>(car.idx)] == 1) {
            ++car.lapsLed;
        }
        updateFlags();
        if (checkered_) {
            car.finished = true;
            car.finishOrder = ++finishers_;
            car.finishTime = sessionTime_;
        }
        if (car.idx == playerIdx_) {
            truth("LAP t=%.3f lap=%d burn=%.5f fuel=%.5f odo=%.3f", sessionTime_, car.lap,
                  player_.burnThisLap, player_.fuel, odometer_);
            if (car.finished && !flagTaken_) {
                flagTaken_ = true;
                truth("FLAG t=%.3f lap=%d fuel=%.5f odo=%.3f lowest=%.5f", sessionTime_, car.lap,
                      player_.fuel, odometer_, lowestFuel_);
            }
        }
    }
    ++car.lap;
    car.lapStartTime = sessionTime_;
    car.decidedThisLap = false;
    newLapFactors(car);
    if (car.idx == playerIdx_) {
        player_.burnThisLap = 0;
        if (car.lap > 1) {
            ++player_.stintLaps;
        }
    }
}

void RaceModel::playerWear(const CarState& car, double moved) {
    PlayerState& p = player_;
    const double l = scenario_.track.length;
    const bool engineOn = car.phase != CarPhase::Garage && car.phase != CarPhase::OutOfWorld;
    if (!engineOn) {
        return;
    }
    double perMetre = fuelBurnThisLap() / l;
    if (car.phase != CarPhase::OnTrack) {
        perMetre *= kPitRoadBurnShare;
    } else if (stage_ == Stage::Parade || car.finished) {
        perMetre *= 0.5;
    }
    double burn = p.outOfFuel ? 0 : perMetre * moved + kIdleBurn * kTickSeconds;
    p.fuel = std::max(0.0, p.fuel - burn);
    p.burnThisLap += burn;
    odometer_ += moved;
    if (greenTime_ >= 0 && !car.finished && (lowestFuel_ < 0 || p.fuel < lowestFuel_)) {
        lowestFuel_ = p.fuel;
    }
    if (p.fuel <= 0) {
        if (!p.outOfFuel) {
            truth("DRY t=%.3f lap=%d lapdist=%.3f odo=%.3f", sessionTime_, car.lap, car.dist,
                  odometer_);
        }
        p.outOfFuel = true;
    }

    const bool onTrack = car.phase == CarPhase::OnTrack;
    const double wearScale = scenario_.car.tireWearPerLap * moved / l * (onTrack ? 1.0 : 0.2);
    const double ambient = trackTemp();
    for (int c = 0; c < 4; ++c) {
        TireCorner& t = p.tires[c];
        for (int z = 0; z < 3; ++z) {
            t.wear[z] = std::max(0.0, t.wear[z] - wearScale * kCornerLoad[c] * zoneLoad(c, z));
            double target = onTrack && stage_ != Stage::Parade
                                ? 70 + 20 * kCornerLoad[c] + 8 * zoneLoad(c, z)
                                : (car.phase == CarPhase::Stall ? ambient + 15 : ambient + 30);
            double tau = onTrack ? 40.0 : 90.0;
            t.carcass[z] += (target - t.carcass[z]) * kTickSeconds / tau;
        }
    }
}

void RaceModel::updateEngine(const CarState& car) {
    PlayerState& p = player_;
    int w = 0;
    if (eventActive(EventKind::WaterTemp)) {
        w |= kWarnWaterTemp;
    }
    if (eventActive(EventKind::FuelPressure)) {
        w |= kWarnFuelPressure;
    }
    if (eventActive(EventKind::OilPressure)) {
        w |= kWarnOilPressure;
    }
    if (eventActive(EventKind::OilTemp)) {
        w |= kWarnOilTemp;
    }
    if (p.outOfFuel && playerIsOnTrack()) {
        w |= kWarnEngineStalled;
    }
    bool pitRoad = car.phase == CarPhase::PitIn || car.phase == CarPhase::Stall ||
                   car.phase == CarPhase::PitOut;
    if (pitRoad && !p.speedingThisStop) {
        w |= kWarnPitSpeedLimiter;
    }
    if (car.rpm >= scenario_.car.redLine) {
        w |= kWarnRevLimiter;
    }
    p.engineWarnings = playerIsOnTrack() ? w : 0;
    double waterTarget = (w & kWarnWaterTemp) != 0 ? 118 : 86 + 6 * std::min(1.0, car.speed / 70);
    double oilTarget = (w & kWarnOilTemp) != 0 ? 138 : 96 + 10 * std::min(1.0, car.speed / 70);
    if (!playerIsOnTrack()) {
        waterTarget = airTemp() + 20;
        oilTarget = airTemp() + 20;
    }
    p.waterTemp += (waterTarget - p.waterTemp) * kTickSeconds / 20.0;
    p.oilTemp += (oilTarget - p.oilTemp) * kTickSeconds / 30.0;
}

void RaceModel::stepCar(CarState& car) {
    const bool isPlayer = car.idx == playerIdx_;
    const CarSpec& carSpec = scenario_.car;
    if (car.phase == CarPhase::OutOfWorld || car.phase == CarPhase::Garage ||
        car.phase == CarPhase::Grid || car.phase == CarPhase::Stall) {
        car.speed = 0;
        car.accel = 0;
        bool engineOn = car.phase == CarPhase::Grid || car.phase == CarPhase::Stall;
        car.gear = engineOn && car.phase == CarPhase::Grid ? 1 : 0;
        car.rpm = engineOn ? carSpec.idleRpm : 0;
        if (car.phase == CarPhase::Stall) {
            stallWork(car);
        }
        if (isPlayer) {
            playerWear(car, 0);
        }
        return;
    }
    const double l = scenario_.track.length;
    const double stall = scenario_.track.pitStallPct * l;
    const double target = targetSpeed(car);
    const double old = car.speed;
    if (target > car.speed) {
        car.speed = std::min(target, car.speed + kAccelerate * kTickSeconds);
    } else {
        car.speed = std::max(target, car.speed - kDecelerate * kTickSeconds);
    }
    car.accel = (car.speed - old) / kTickSeconds;
    double moved = car.speed * kTickSeconds;
    const double before = car.dist;
    bool arrive = false;
    if (car.phase == CarPhase::PitIn) {
        double toStall = ahead(before, stall);
        if (toStall <= moved) {
            moved = toStall;
            arrive = true;
        }
    }
    auto crossed = [&](double mark) {
        double d = ahead(before, mark);
        return d > 0 && d <= moved;
    };
    car.dist = std::fmod(before + moved, l);
    if (car.phase == CarPhase::OnTrack &&
        crossed(std::fmod(scenario_.track.pitEntryPct * l - kDecisionDistance + l, l))) {
        onDecisionPoint(car);
    }
    if (car.phase == CarPhase::OnTrack && car.pitPlanned &&
        crossed(scenario_.track.pitEntryPct * l)) {
        onPitEntry(car);
    }
    if (car.phase == CarPhase::PitOut && crossed(scenario_.track.pitExitPct * l)) {
        onPitExit(car);
    }
    if (crossed(0)) {
        onLineCrossed(car);
    }
    if (arrive) {
        onStallReached(car);
    }

    // Gears spread over the speed range; the shift light point is just under the top of each.
    double top = profileSpeed(l / (4.0 * kProfileWaves), carSpec.lapTime * 0.99) * 1.04;
    int gear = 1;
    for (; gear < carSpec.gears; ++gear) {
        double gearTop = top * (0.3 + 0.7 * gear / carSpec.gears);
        if (car.speed <= gearTop) {
            break;
        }
    }
    double gearTop = top * (0.3 + 0.7 * gear / carSpec.gears);
    car.gear = car.speed < 0.1 ? (car.phase == CarPhase::OnTrack ? 1 : 0) : gear;
    car.rpm = std::clamp(car.speed / gearTop * carSpec.shiftRpm * 1.01, double(carSpec.idleRpm),
                         double(carSpec.redLine));
    if (isPlayer) {
        playerWear(car, moved);
    }
}

void RaceModel::step() {
    ++tick_;
    sessionTime_ += kTickSeconds;
    stageTime_ += kTickSeconds;
    weekendTime_ += kTickSeconds;
    advanceStage();
    if (stage_ != Stage::Between && stage_ != Stage::Over) {
        fireDamage();
        for (CarState& car : cars_) {
            stepCar(car);
        }
    }
    updateEngine(playerCar());
    const CarState& p = playerCar();
    if (recordTruth_ && tick_ % kTicksPerSecond == 0 && p.phase != CarPhase::OutOfWorld &&
        p.phase != CarPhase::Garage) {
        truth("SAMPLE t=%.3f lap=%d lapdist=%.3f odo=%.3f fuel=%.5f", sessionTime_, p.lap, p.dist,
              odometer_, player_.fuel);
    }
}

void RaceModel::stepSeconds(double seconds) {
    int64_t n = static_cast<int64_t>(std::llround(seconds * kTicksPerSecond));
    for (int64_t i = 0; i < n; ++i) {
        step();
    }
}

std::string RaceModel::sessionText() const {
    return buildSessionText(scenario_, field_, text_);
}

PitCommandOutcome RaceModel::applyPitCommand(int32_t code, int32_t value) {
    PlayerState& p = player_;
    PitCommandOutcome out;
    out.accepted = true;
    char buf[160];
    switch (code) {
        case kCmdClear:
            p.serviceFlags &=
                ~(kServiceTires | kServiceFuel | kServiceWindshield | kServiceFastRepair);
            out.text = "clear all service requests";
            break;
        case kCmdWindshield:
            p.serviceFlags |= kServiceWindshield;
            out.text = "windshield tear-off";
            break;
        case kCmdFuel: {
            p.serviceFlags |= kServiceFuel;
            if (value > 0) {
                p.serviceFuel = std::min(static_cast<double>(value), scenario_.usableTank());
                std::snprintf(buf, sizeof buf, "add fuel %.1f l", p.serviceFuel);
            } else {
                // The simulator reads 0 as "keep the amount already set".
                std::snprintf(buf, sizeof buf, "add fuel, amount kept at %.1f l", p.serviceFuel);
            }
            out.text = buf;
            break;
        }
        case kCmdLF:
        case kCmdRF:
        case kCmdLR:
        case kCmdRR: {
            int c = code - kCmdLF;
            static const char* const names[4] = {"left front", "right front", "left rear",
                                                 "right rear"};
            p.serviceFlags |= 1 << c;
            if (value > 0) {
                p.servicePressure[c] =
                    std::clamp(static_cast<double>(value), scenario_.car.minPressure,
                               scenario_.car.maxPressure);
            } else if (p.servicePressure[c] <= 0) {
                p.servicePressure[c] = p.tires[c].coldPressure;
            }
            std::snprintf(buf, sizeof buf, "change %s tire at %.0f kPa", names[c],
                          p.servicePressure[c]);
            out.text = buf;
            break;
        }
        case kCmdClearTires:
            p.serviceFlags &= ~kServiceTires;
            out.text = "clear tire changes";
            break;
        case kCmdFastRepair:
            p.serviceFlags |= kServiceFastRepair;
            out.text = "fast repair";
            break;
        case kCmdClearWindshield:
            p.serviceFlags &= ~kServiceWindshield;
            out.text = "clear windshield tear-off";
            break;
        case kCmdClearFastRepair:
            p.serviceFlags &= ~kServiceFastRepair;
            out.text = "clear fast repair";
            break;
        case kCmdClearFuel:
            p.serviceFlags &= ~kServiceFuel;
            out.text = "clear fuel";
            break;
        default:
            out.accepted = false;
            out.text = "unknown pit command, ignored";
            break;
    }
    return out;
}

}  // namespace simfeed
