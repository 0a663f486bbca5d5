#include "tools/simfeed/feed_row.h"

#include <algorithm>
#include <cmath>

namespace simfeed {

namespace {

constexpr double kPi = 3.14159265358979323846;
const char* const kCorners[4] = {"LF", "RF", "LR", "RR"};

std::string name(const char* a, const char* b) {
    return std::string(a) + b;
}

void writeSession(const RaceModel& m, RowWriter& w) {
    const SessionSpec& s = m.session();
    w.set("SessionTime", m.sessionTime());
    w.setInt("SessionTick", static_cast<int32_t>(m.tick()));
    w.setInt("SessionNum", m.sessionNum());
    w.setInt("SessionState", m.sessionState());
    w.setInt("SessionUniqueID", m.sessionUniqueId());
    w.setInt("SessionFlags", static_cast<int32_t>(m.sessionFlags()));
    w.set("SessionTimeRemain", m.sessionTimeRemain());
    int lapsRemain = m.sessionLapsRemainEx();
    w.setInt("SessionLapsRemainEx", lapsRemain);
    w.setInt("SessionLapsRemain", s.laps > 0 ? std::max(0, lapsRemain - 1) : lapsRemain);
    w.set("SessionTimeTotal", s.timeSeconds > 0 ? s.timeSeconds : 604800.0);
    w.setInt("SessionLapsTotal", s.laps > 0 ? s.laps : 32767);
    w.setInt("SessionJokerLapsRemain", 0);
    w.set("SessionTimeOfDay", 14 * 3600 + m.sessionTime());
    w.setInt("PaceMode", m.stage() == Stage::Parade ? 1 : 4);
    w.setInt("RadioTransmitCarIdx", -1);
    w.setInt("RadioTransmitRadioIdx", -1);
    w.setInt("RadioTransmitFrequencyIdx", -1);
    w.setInt("DisplayUnits", 1);
    w.setInt("ReplayFrameNum", static_cast<int32_t>(m.tick()));
    w.setInt("ReplayFrameNumEnd", 1);
    w.setInt("ReplayPlaySpeed", 1);
    w.set("ReplaySessionTime", m.sessionTime());
    w.setInt("ReplaySessionNum", m.sessionNum());
    w.setBool("IsDiskLoggingEnabled", false);
    w.set("FrameRate", 90.0);
    w.set("CpuUsageFG", 0.31);
    w.set("CpuUsageBG", 0.12);
    w.set("GpuUsage", 0.55);
    w.set("ChanAvgLatency", 0.032);
    w.set("ChanLatency", 0.031);
    w.set("ChanQuality", 1.0);
    w.set("ChanPartnerQuality", 1.0);
    w.set("ChanClockSkew", 0.0);
    w.setBool("OkToReloadTextures", true);
    w.setInt("EnterExitReset", m.playerIsOnTrack() ? 2 : 0);
    w.setInt("CamCarIdx", m.playerIdx());
    w.setInt("CamCameraNumber", 1);
    w.setInt("CamGroupNumber", 5);
    w.setInt("CamCameraState", 0x4);
    w.setBool("PitsOpen", true);
    w.setInt("TrackWetness", 1);
    w.setInt("Skies", 1);
}

void writeField(const RaceModel& m, RowWriter& w) {
    const double l = m.scenario().track.length;
    const std::vector<int> pos = m.positions();
    const std::vector<CarState>& cars = m.cars();
    const uint32_t flags = m.sessionFlags();
    double leaderProgress = 0;
    for (const CarState& c : cars) {
        leaderProgress = std::max(leaderProgress, c.lapsCompleted + c.dist / l);
    }
    // Looked up once per row; each is written for all 64 car slots.
    RowWriter::Column carIdxLap = w.column("CarIdxLap");
    RowWriter::Column carIdxLapCompleted = w.column("CarIdxLapCompleted");
    RowWriter::Column carIdxLapDistPct = w.column("CarIdxLapDistPct");
    RowWriter::Column carIdxTrackSurface = w.column("CarIdxTrackSurface");
    RowWriter::Column carIdxTrackSurfaceMaterial = w.column("CarIdxTrackSurfaceMaterial");
    RowWriter::Column carIdxPaceLine = w.column("CarIdxPaceLine");
    RowWriter::Column carIdxPaceRow = w.column("CarIdxPaceRow");
    RowWriter::Column carIdxLastLapTime = w.column("CarIdxLastLapTime");
    RowWriter::Column carIdxBestLapTime = w.column("CarIdxBestLapTime");
    RowWriter::Column carIdxBestLapNum = w.column("CarIdxBestLapNum");
    RowWriter::Column carIdxGear = w.column("CarIdxGear");
    RowWriter::Column carIdxTireCompound = w.column("CarIdxTireCompound");
    RowWriter::Column carIdxQualTireCompound = w.column("CarIdxQualTireCompound");
    RowWriter::Column carIdxOnPitRoad = w.column("CarIdxOnPitRoad");
    RowWriter::Column carIdxPosition = w.column("CarIdxPosition");
    RowWriter::Column carIdxClassPosition = w.column("CarIdxClassPosition");
    RowWriter::Column carIdxClass = w.column("CarIdxClass");
    RowWriter::Column carIdxF2Time = w.column("CarIdxF2Time");
    RowWriter::Column carIdxEstTime = w.column("CarIdxEstTime");
    RowWriter::Column carIdxFastRepairsUsed = w.column("CarIdxFastRepairsUsed");
    RowWriter::Column carIdxSessionFlags = w.column("CarIdxSessionFlags");
    RowWriter::Column carIdxSteer = w.column("CarIdxSteer");
    RowWriter::Column carIdxRPM = w.column("CarIdxRPM");
    for (int i = 0; i < kMaxCars; ++i) {
        if (i >= static_cast<int>(cars.size())) {
            carIdxLap.setInt(-1, i);
            carIdxLapCompleted.setInt(-1, i);
            carIdxLapDistPct.set(-1.0, i);
            carIdxTrackSurface.setInt(-1, i);
            carIdxTrackSurfaceMaterial.setInt(-1, i);
            carIdxPaceLine.setInt(-1, i);
            carIdxPaceRow.setInt(-1, i);
            carIdxLastLapTime.set(-1.0, i);
            carIdxBestLapTime.set(-1.0, i);
            carIdxBestLapNum.setInt(-1, i);
            carIdxGear.setInt(0, i);
            carIdxTireCompound.setInt(-1, i);
            carIdxQualTireCompound.setInt(-1, i);
            continue;
        }
        const CarState& c = cars[static_cast<size_t>(i)];
        bool inWorld = c.phase != CarPhase::OutOfWorld && c.phase != CarPhase::Garage;
        int surface = -1;
        if (inWorld) {
            surface = c.phase == CarPhase::Stall
                          ? 1
                          : (c.phase == CarPhase::PitIn || c.phase == CarPhase::PitOut ? 2 : 3);
        }
        if (i == m.playerIdx()) {
            surface = m.playerSurface();
        }
        bool pitRoad =
            c.phase == CarPhase::PitIn || c.phase == CarPhase::Stall || c.phase == CarPhase::PitOut;
        carIdxLap.setInt(inWorld ? c.lap : -1, i);
        carIdxLapCompleted.setInt(c.lapsCompleted, i);
        carIdxLapDistPct.set(inWorld ? c.dist / l : -1.0, i);
        carIdxTrackSurface.setInt(surface, i);
        carIdxTrackSurfaceMaterial.setInt(inWorld ? (pitRoad ? 11 : 1) : -1, i);
        carIdxOnPitRoad.setBool(pitRoad, i);
        carIdxPosition.setInt(pos[static_cast<size_t>(i)], i);
        carIdxClassPosition.setInt(pos[static_cast<size_t>(i)], i);
        carIdxClass.setInt(m.scenario().car.classId, i);
        double lapTime = m.scenario().car.lapTime * c.pace;
        carIdxF2Time.set(m.session().kind == SessionKind::Race
                             ? (leaderProgress - (c.lapsCompleted + c.dist / l)) * lapTime
                             : std::max(0.0, c.bestLapTime),
                         i);
        carIdxEstTime.set(inWorld ? c.dist / l * lapTime : 0.0, i);
        carIdxLastLapTime.set(c.lastLapTime, i);
        carIdxBestLapTime.set(c.bestLapTime, i);
        carIdxBestLapNum.setInt(c.bestLapNum, i);
        carIdxTireCompound.setInt(0, i);
        carIdxQualTireCompound.setInt(0, i);
        carIdxFastRepairsUsed.setInt(0, i);
        carIdxSessionFlags.setInt(static_cast<int32_t>(c.finished ? kFlagCheckered : flags), i);
        carIdxPaceLine.setInt(m.stage() == Stage::Parade ? i % 2 : -1, i);
        carIdxPaceRow.setInt(m.stage() == Stage::Parade ? i / 2 : -1, i);
        carIdxSteer.set(inWorld ? 0.15 * std::sin(2 * kPi * 6 * c.dist / l) : 0.0, i);
        carIdxRPM.set(c.rpm, i);
        carIdxGear.setInt(c.gear, i);
    }
    const CarState& p = m.playerCar();
    int position = pos[static_cast<size_t>(m.playerIdx())];
    w.setInt("PlayerCarIdx", m.playerIdx());
    w.setInt("PlayerCarPosition", position);
    w.setInt("PlayerCarClassPosition", position);
    w.setInt("PlayerCarClass", m.scenario().car.classId);
    w.setInt("PlayerTrackSurface", m.playerSurface());
    w.setInt("PlayerTrackSurfaceMaterial",
             m.playerIsOnTrack() ? (m.playerOnPitRoad() ? 11 : 1) : -1);
    w.setInt("PlayerCarDryTireSetLimit", 0);
    w.setBool("PlayerCarInPitStall", m.playerInPitStall());
    w.setInt("PlayerCarPitSvStatus", m.player().serviceStatus);
    w.setInt("PlayerTireCompound", 0);
    const CarSpec& carSpec = m.scenario().car;
    w.set("PlayerCarSLFirstRPM", carSpec.shiftRpm * 0.85);
    w.set("PlayerCarSLShiftRPM", carSpec.shiftRpm);
    w.set("PlayerCarSLLastRPM", carSpec.shiftRpm * 0.97);
    w.set("PlayerCarSLBlinkRPM", carSpec.redLine * 0.99);
    w.setBool("OnPitRoad", m.playerOnPitRoad());
    w.setBool("IsOnTrack", m.playerIsOnTrack());
    w.setBool("IsOnTrackCar", m.playerIsOnTrack());
    w.setBool("IsInGarage", p.phase == CarPhase::Garage);
    w.setBool("IsGarageVisible", p.phase == CarPhase::Garage);
}

void writeLaps(const RaceModel& m, RowWriter& w) {
    const CarState& p = m.playerCar();
    const double l = m.scenario().track.length;
    bool inWorld = m.playerIsOnTrack();
    w.setInt("Lap", p.lap);
    w.setInt("LapCompleted", p.lapsCompleted);
    w.set("LapDist", inWorld ? p.dist : 0.0);
    w.set("LapDistPct", inWorld ? p.dist / l : 0.0);
    w.setInt("RaceLaps", m.session().kind == SessionKind::Race ? p.lapsCompleted : 0);
    w.setInt("LapBestLap", std::max(0, p.bestLapNum));
    w.set("LapBestLapTime", std::max(0.0, p.bestLapTime));
    w.set("LapLastLapTime", std::max(0.0, p.lastLapTime));
    w.set("LapCurrentLapTime", p.lapStartTime >= 0 ? m.sessionTime() - p.lapStartTime : 0.0);
    w.setInt("LapLasNLapSeq", std::max(0, p.lapsCompleted - 1));
    w.set("LapLastNLapTime", std::max(0.0, p.lastLapTime));
    w.setInt("LapBestNLapLap", std::max(0, p.bestLapNum));
    w.set("LapBestNLapTime", std::max(0.0, p.bestLapTime));
    // A delta to the best lap that follows the lap's noise.
    double delta = p.bestLapTime > 0 ? (p.lapFactor - 1) * p.dist / l * p.bestLapTime : 0.0;
    for (const char* what :
         {"BestLap", "OptimalLap", "SessionBestLap", "SessionOptimalLap", "SessionLastlLap"}) {
        std::string base = std::string("LapDeltaTo") + what;
        w.set(base, delta);
        w.set(base + "_DD", p.lapFactor - 1);
        w.setBool(base + "_OK", p.bestLapTime > 0);
    }
}

void writeMotion(const RaceModel& m, RowWriter& w) {
    const CarState& p = m.playerCar();
    const CarSpec& carSpec = m.scenario().car;
    const double l = m.scenario().track.length;
    bool driving =
        p.phase == CarPhase::OnTrack || p.phase == CarPhase::PitIn || p.phase == CarPhase::PitOut;
    double brake = std::clamp(-p.accel / 6.5, 0.0, 1.0);
    double throttle = driving ? std::clamp(0.55 + p.accel / 8.0, 0.0, 1.0) : 0.0;
    if (brake > 0.05) {
        throttle = 0;
    }
    double steer = driving ? 0.6 * std::sin(2 * kPi * 6 * p.dist / l) : 0.0;
    double yaw = std::fmod(2 * kPi * p.dist / l, 2 * kPi);
    w.set("Speed", p.speed);
    w.set("RPM", p.rpm);
    w.setInt("Gear", p.gear);
    w.set("Throttle", throttle);
    w.set("ThrottleRaw", throttle);
    w.set("Brake", brake);
    w.set("BrakeRaw", brake);
    w.setBool("BrakeABSactive", brake > 0.85);
    w.set("Clutch", 1.0);
    w.set("ClutchRaw", 1.0);
    w.set("HandbrakeRaw", 0.0);
    w.set("SteeringWheelAngle", steer);
    w.set("SteeringWheelAngleMax", 7.85);
    w.set("SteeringWheelPctTorque", std::fabs(steer) * 0.5);
    w.set("SteeringWheelPctTorqueSign", steer * 0.5);
    w.set("SteeringWheelPctTorqueSignStops", steer * 0.5);
    w.set("SteeringWheelPctDamper", 0.0);
    w.set("SteeringWheelLimiter", 0.0);
    w.set("SteeringWheelMaxForceNm", 12.0);
    w.set("SteeringWheelPeakForceNm", -1.0);
    w.set("SteeringWheelTorque", steer * 10);
    for (int i = 0; i < 6; ++i) {
        w.set("SteeringWheelTorque_ST", steer * 10, i);
    }
    w.set("ShiftIndicatorPct",
          std::clamp((p.rpm - carSpec.shiftRpm * 0.85) / (carSpec.shiftRpm * 0.15), 0.0, 1.0));
    double lat = p.speed * p.speed * std::fabs(steer) / 300.0;
    w.set("VelocityX", p.speed);
    w.set("Yaw", yaw > kPi ? yaw - 2 * kPi : yaw);
    w.set("YawNorth", yaw);
    w.set("YawRate", driving ? p.speed * steer / 60.0 : 0.0);
    w.set("VertAccel", 9.81);
    w.set("LatAccel", lat);
    w.set("LongAccel", p.accel);
    for (int i = 0; i < 6; ++i) {
        w.set("VertAccel_ST", 9.81, i);
        w.set("LatAccel_ST", lat, i);
        w.set("LongAccel_ST", p.accel, i);
    }
}

void writeEngine(const RaceModel& m, RowWriter& w) {
    const PlayerState& pl = m.player();
    const CarSpec& carSpec = m.scenario().car;
    bool running = m.playerIsOnTrack() && !pl.outOfFuel;
    w.setInt("EngineWarnings", pl.engineWarnings);
    w.set("FuelLevel", pl.fuel);
    w.set("FuelLevelPct", pl.fuel / carSpec.tankLiters);
    w.set("FuelPress", running ? ((pl.engineWarnings & kWarnFuelPressure) ? 0.6 : 3.5) : 0.0);
    w.set("FuelUsePerHour", running ? m.playerCar().speed * 0.9 : 0.0);
    w.set("WaterTemp", pl.waterTemp);
    w.set("WaterLevel", 6.5);
    w.set("OilTemp", pl.oilTemp);
    w.set("OilPress", running ? ((pl.engineWarnings & kWarnOilPressure) ? 0.9 : 4.6) : 0.0);
    w.set("OilLevel", 7.2);
    w.set("Voltage", running ? 13.9 : 12.4);
    w.set("ManifoldPress", running ? 1.05 : 1.0);
    w.set("dcBrakeBias", 54.0);
    w.set("dcABS", 4.0);
    w.set("dcTractionControl", 3.0);
    w.set("dcTractionControl2", 3.0);
    w.set("dcThrottleShape", 1.0);
    w.set("dcFuelMixture", 1.0);
    w.set("dcDashPage", 1.0);
    w.setBool("dcPitSpeedLimiterToggle", (pl.engineWarnings & kWarnPitSpeedLimiter) != 0);
}

void writeWeather(const RaceModel& m, RowWriter& w) {
    double air = m.airTemp();
    double track = m.trackTemp();
    w.set("AirTemp", air);
    w.set("AirDensity", 101325.0 / (287.05 * (air + 273.15)));
    w.set("AirPressure", 101325.0);
    w.set("TrackTemp", track);
    w.set("TrackTempCrew", track);
    w.set("WindVel", 1.34);
    w.set("WindDir", 4.71);
    w.set("RelativeHumidity", 0.55);
    w.set("FogLevel", 0.0);
    w.set("Precipitation", 0.0);
    w.set("SolarAltitude", 0.9);
    w.set("SolarAzimuth", 3.4);
}

void writePitAndTires(const RaceModel& m, RowWriter& w) {
    const PlayerState& pl = m.player();
    w.setInt("PitSvFlags", pl.serviceFlags);
    w.set("PitSvLFP", pl.servicePressure[0]);
    w.set("PitSvRFP", pl.servicePressure[1]);
    w.set("PitSvLRP", pl.servicePressure[2]);
    w.set("PitSvRRP", pl.servicePressure[3]);
    w.set("PitSvFuel", pl.serviceFuel);
    w.setInt("PitSvTireCompound", 0);
    w.set("PitRepairLeft", pl.repairLeft);
    w.set("PitOptRepairLeft", pl.optRepairLeft);
    w.setBool("PitstopActive", pl.serviceStatus == kPitSvInProgress);
    w.setInt("FastRepairAvailable", 255);
    w.set("dpFuelFill", (pl.serviceFlags & kServiceFuel) ? 1.0 : 0.0);
    w.set("dpFuelAddKg", pl.serviceFuel * 0.75);
    w.set("dpWindshieldTearoff", (pl.serviceFlags & kServiceWindshield) ? 1.0 : 0.0);
    w.set("dpFastRepair", (pl.serviceFlags & kServiceFastRepair) ? 1.0 : 0.0);
    const CarState& car = m.playerCar();
    int unlimited = pl.tireSetsAvailable == 255;
    for (int c = 0; c < 4; ++c) {
        const TireCorner& t = pl.tires[c];
        const char* k = kCorners[c];
        double carcass = (t.carcass[0] + t.carcass[1] + t.carcass[2]) / 3;
        w.set(name(k, "coldPressure"), t.coldPressure);
        w.set(name(k, "tempCL"), t.carcass[0]);
        w.set(name(k, "tempCM"), t.carcass[1]);
        w.set(name(k, "tempCR"), t.carcass[2]);
        w.set(name(k, "wearL"), t.wear[0]);
        w.set(name(k, "wearM"), t.wear[1]);
        w.set(name(k, "wearR"), t.wear[2]);
        w.set(name(k, "speed"), car.speed);
        w.set(name(k, "pressure"), t.coldPressure * (1 + std::max(0.0, carcass - 20) * 0.0025));
        w.set(name(k, "rideHeight"), c < 2 ? 0.055 : 0.072);
        w.set(name(k, "shockDefl"), c < 2 ? 0.031 : 0.042);
        for (int i = 0; i < 6; ++i) {
            w.set(name(k, "shockDefl_ST"), c < 2 ? 0.031 : 0.042, i);
            w.set(name(k, "shockVel_ST"), 0.0, i);
        }
        w.set(name(k, "brakeLinePress"), std::clamp(-car.accel / 6.5, 0.0, 1.0) * 60);
        w.setInt(name(k, "TiresUsed"), t.used);
        w.setInt(name(k, "TiresAvailable"), unlimited ? 255 : std::max(0, pl.tireSetsAvailable));
        w.set("dp" + std::string(k) + "TireChange", (pl.serviceFlags & (1 << c)) ? 1.0 : 0.0);
        w.set("dp" + std::string(k) + "TireColdPress", pl.servicePressure[c] * 1000);
    }
    w.setInt("TireSetsUsed", pl.tireSetsUsed);
    w.setInt("TireSetsAvailable", pl.tireSetsAvailable);
    for (const char* side : {"Left", "Right", "Front", "Rear"}) {
        w.setInt(std::string(side) + "TireSetsUsed", pl.tireSetsUsed);
        w.setInt(std::string(side) + "TireSetsAvailable", pl.tireSetsAvailable);
    }
}

}  // namespace

void writeRow(const RaceModel& model, RowWriter& w) {
    if (w.row() != nullptr) {
        std::fill(w.row()->begin(), w.row()->end(), 0);
    }
    writeSession(model, w);
    writeField(model, w);
    writeLaps(model, w);
    writeMotion(model, w);
    writeEngine(model, w);
    writeWeather(model, w);
    writePitAndTires(model, w);
}

}  // namespace simfeed
