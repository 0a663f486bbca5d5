#include "tools/simfeed/variables.h"

#include <algorithm>
#include <cstring>

namespace simfeed {

namespace {

using telemetry::kBitField;
using telemetry::kBool;
using telemetry::kDouble;
using telemetry::kFloat;
using telemetry::kInt;

struct Builder {
    std::vector<simblock::VarSpec> vars;
    void add(const char* name, int32_t type, const char* unit, const char* desc, int count = 1) {
        vars.push_back(simblock::VarSpec{name, type, count, desc, unit});
    }
};

const char* const kCorners[4] = {"LF", "RF", "LR", "RR"};
const char* const kCornerWords[4] = {"left front", "right front", "left rear", "right rear"};

}  // namespace

std::vector<simblock::VarSpec> feedVariables() {
    Builder b;
    // Session and simulator state.
    b.add("SessionTime", kDouble, "s", "Seconds since session start");
    b.add("SessionTick", kInt, "", "Current update number");
    b.add("SessionNum", kInt, "", "Session number");
    b.add("SessionState", kInt, "irsdk_SessionState", "Session state");
    b.add("SessionUniqueID", kInt, "", "Session ID");
    b.add("SessionFlags", kBitField, "irsdk_Flags", "Session flags");
    b.add("SessionTimeRemain", kDouble, "s", "Seconds left till session ends");
    b.add("SessionLapsRemain", kInt, "", "Old laps left till session ends use SessionLapsRemainEx");
    b.add("SessionLapsRemainEx", kInt, "", "New improved laps left till session ends");
    b.add("SessionTimeTotal", kDouble, "s", "Total number of seconds in session");
    b.add("SessionLapsTotal", kInt, "", "Total number of laps in session");
    b.add("SessionJokerLapsRemain", kInt, "", "Joker laps remaining to be taken");
    b.add("SessionOnJokerLap", kBool, "", "Player is currently completing a joker lap");
    b.add("SessionTimeOfDay", kFloat, "s", "Time of day in seconds");
    b.add("PaceMode", kInt, "irsdk_PaceMode", "Are we pacing or not");
    b.add("RadioTransmitCarIdx", kInt, "",
          "The car index of the current person speaking on the radio");
    b.add("RadioTransmitRadioIdx", kInt, "", "The radio index of the current person speaking");
    b.add("RadioTransmitFrequencyIdx", kInt, "",
          "The frequency index of the current person speaking");
    b.add("DisplayUnits", kInt, "", "Default units for the user interface 0 = english 1 = metric");
    b.add("DriverMarker", kBool, "", "Driver activated flag");
    b.add("PushToTalk", kBool, "", "Push to talk button state");
    b.add("PushToPass", kBool, "", "Push to pass button state");
    b.add("ManualBoost", kBool, "", "Hybrid manual boost state");
    b.add("ManualNoBoost", kBool, "", "Hybrid manual no boost state");
    b.add("IsOnTrack", kBool, "", "1=Car on track physics running with player in car");
    b.add("IsOnTrackCar", kBool, "", "1=Car on track physics running");
    b.add("IsInGarage", kBool, "", "1=Car in garage physics running");
    b.add("IsGarageVisible", kBool, "", "1=Garage screen is visible");
    b.add("IsReplayPlaying", kBool, "", "0=replay not playing  1=replay playing");
    b.add("ReplayFrameNum", kInt, "", "Integer replay frame number (60 per second)");
    b.add("ReplayFrameNumEnd", kInt, "", "Integer replay frame number from end of tape");
    b.add("ReplayPlaySpeed", kInt, "", "Replay playback speed");
    b.add("ReplayPlaySlowMotion", kBool, "", "0=not slow motion  1=replay is in slow motion");
    b.add("ReplaySessionTime", kDouble, "s", "Seconds since replay session start");
    b.add("ReplaySessionNum", kInt, "", "Replay session number");
    b.add("IsDiskLoggingEnabled", kBool, "", "0=disk based telemetry turned off  1=turned on");
    b.add("IsDiskLoggingActive", kBool, "",
          "0=disk based telemetry file not being written  1=being written");
    b.add("FrameRate", kFloat, "fps", "Average frames per second");
    b.add("CpuUsageFG", kFloat, "%", "Percent of available tim fg thread took with a 1 sec avg");
    b.add("CpuUsageBG", kFloat, "%", "Percent of available tim bg thread took with a 1 sec avg");
    b.add("GpuUsage", kFloat, "%", "Percent of available tim gpu took with a 1 sec avg");
    b.add("ChanAvgLatency", kFloat, "s", "Communications average latency");
    b.add("ChanLatency", kFloat, "s", "Communications latency");
    b.add("ChanQuality", kFloat, "%", "Communications quality");
    b.add("ChanPartnerQuality", kFloat, "%", "Partner communications quality");
    b.add("ChanClockSkew", kFloat, "s", "Communications server clock skew");
    b.add("MemPageFaultSec", kFloat, "", "Memory page faults per second");
    b.add("MemSoftPageFaultSec", kFloat, "", "Memory soft page faults per second");
    b.add("OkToReloadTextures", kBool, "", "True if it is ok to reload car textures at this time");
    b.add("LoadNumTextures", kBool, "", "True if the car_num texture will be loaded");
    b.add("EnterExitReset", kInt, "",
          "Indicate action the reset key will take 0 enter 1 exit 2 reset");
    b.add("DCLapStatus", kInt, "", "Status of driver change lap requirements");
    b.add("DCDriversSoFar", kInt, "", "Number of team drivers who have run a stint");
    b.add("CamCarIdx", kInt, "", "Active camera's focus car index");
    b.add("CamCameraNumber", kInt, "", "Active camera number");
    b.add("CamGroupNumber", kInt, "", "Active camera group number");
    b.add("CamCameraState", kBitField, "irsdk_CameraState", "State of camera system");
    b.add("VidCapEnabled", kBool, "", "True if video capture system is enabled");
    b.add("VidCapActive", kBool, "", "True if video currently being captured");
    b.add("PitsOpen", kBool, "", "True if pit stop is allowed for the current player");

    // The player's car in the field.
    b.add("PlayerCarIdx", kInt, "", "Players carIdx");
    b.add("PlayerCarPosition", kInt, "", "Players position in race");
    b.add("PlayerCarClassPosition", kInt, "", "Players class position in race");
    b.add("PlayerCarClass", kInt, "", "Player car class id");
    b.add("PlayerTrackSurface", kInt, "irsdk_TrkLoc", "Players car track surface type");
    b.add("PlayerTrackSurfaceMaterial", kInt, "irsdk_TrkSurf",
          "Players car track surface material type");
    b.add("PlayerCarTeamIncidentCount", kInt, "", "Players team incident count for this session");
    b.add("PlayerCarMyIncidentCount", kInt, "", "Players own incident count for this session");
    b.add("PlayerCarDriverIncidentCount", kInt, "",
          "Teams current drivers incident count for this session");
    b.add("PlayerCarWeightPenalty", kFloat, "kg", "Players weight penalty");
    b.add("PlayerCarPowerAdjust", kFloat, "%", "Players power adjust");
    b.add("PlayerCarDryTireSetLimit", kInt, "", "Players dry tire set limit");
    b.add("PlayerCarTowTime", kFloat, "s",
          "Players car is being towed if time is greater than zero");
    b.add("PlayerCarInPitStall", kBool, "", "Players car is properly in their pitstall");
    b.add("PlayerCarPitSvStatus", kInt, "irsdk_PitSvStatus", "Players car pit service status bits");
    b.add("PlayerTireCompound", kInt, "", "Players car current tire compound");
    b.add("PlayerFastRepairsUsed", kInt, "", "Players car number of fast repairs used");
    b.add("PlayerCarSLFirstRPM", kFloat, "revs/min", "Shift light first light rpm");
    b.add("PlayerCarSLShiftRPM", kFloat, "revs/min", "Shift light shift rpm");
    b.add("PlayerCarSLLastRPM", kFloat, "revs/min", "Shift light last light rpm");
    b.add("PlayerCarSLBlinkRPM", kFloat, "revs/min", "Shift light blink rpm");
    b.add("OnPitRoad", kBool, "", "Is the player car on pit road between the cones");

    // Every car of the field.
    b.add("CarIdxLap", kInt, "", "Laps started by car index", kMaxCars);
    b.add("CarIdxLapCompleted", kInt, "", "Laps completed by car index", kMaxCars);
    b.add("CarIdxLapDistPct", kFloat, "%", "Percentage distance around lap by car index", kMaxCars);
    b.add("CarIdxTrackSurface", kInt, "irsdk_TrkLoc", "Track surface type by car index", kMaxCars);
    b.add("CarIdxTrackSurfaceMaterial", kInt, "irsdk_TrkSurf",
          "Track surface material type by car index", kMaxCars);
    b.add("CarIdxOnPitRoad", kBool, "", "On pit road between the cones by car index", kMaxCars);
    b.add("CarIdxPosition", kInt, "", "Cars position in race by car index", kMaxCars);
    b.add("CarIdxClassPosition", kInt, "", "Cars class position in race by car index", kMaxCars);
    b.add("CarIdxClass", kInt, "", "Cars class id by car index", kMaxCars);
    b.add("CarIdxF2Time", kFloat, "s", "Race time behind leader or fastest lap time otherwise",
          kMaxCars);
    b.add("CarIdxEstTime", kFloat, "s", "Estimated time to reach current location on track",
          kMaxCars);
    b.add("CarIdxLastLapTime", kFloat, "s", "Cars last lap time", kMaxCars);
    b.add("CarIdxBestLapTime", kFloat, "s", "Cars best lap time", kMaxCars);
    b.add("CarIdxBestLapNum", kInt, "", "Cars best lap number", kMaxCars);
    b.add("CarIdxTireCompound", kInt, "", "Cars current tire compound", kMaxCars);
    b.add("CarIdxQualTireCompound", kInt, "", "Cars Qual tire compound", kMaxCars);
    b.add("CarIdxQualTireCompoundLocked", kBool, "", "Cars Qual tire compound is locked-in",
          kMaxCars);
    b.add("CarIdxFastRepairsUsed", kInt, "", "How many fast repairs each car has used", kMaxCars);
    b.add("CarIdxSessionFlags", kBitField, "irsdk_Flags", "Session flags for each player",
          kMaxCars);
    b.add("CarIdxPaceLine", kInt, "", "What line cars are pacing in  or -1 if not pacing",
          kMaxCars);
    b.add("CarIdxPaceRow", kInt, "", "What row cars are in while pacing  or -1 if not pacing",
          kMaxCars);
    b.add("CarIdxPaceFlags", kBitField, "irsdk_PaceFlags", "Pacing status flags for each car",
          kMaxCars);
    b.add("CarIdxSteer", kFloat, "rad", "Steering wheel angle by car index", kMaxCars);
    b.add("CarIdxRPM", kFloat, "revs/min", "Engine rpm by car index", kMaxCars);
    b.add("CarIdxGear", kInt, "", "-1=reverse  0=neutral  1..n=current gear by car index",
          kMaxCars);
    b.add("CarIdxP2P_Status", kBool, "", "Push2Pass active or not", kMaxCars);
    b.add("CarIdxP2P_Count", kInt, "", "Push2Pass count of usage (or remaining in Race)", kMaxCars);
    b.add("CarLeftRight", kInt, "irsdk_CarLeftRight",
          "Notify if car is to the left or right of driver");

    // Laps and lap times of the player.
    b.add("Lap", kInt, "", "Laps started count");
    b.add("LapCompleted", kInt, "", "Laps completed count");
    b.add("LapDist", kFloat, "m", "Meters traveled from S/F this lap");
    b.add("LapDistPct", kFloat, "%", "Percentage distance around lap");
    b.add("RaceLaps", kInt, "", "Laps completed in race");
    b.add("LapBestLap", kInt, "", "Players best lap number");
    b.add("LapBestLapTime", kFloat, "s", "Players best lap time");
    b.add("LapLastLapTime", kFloat, "s", "Players last lap time");
    b.add("LapCurrentLapTime", kFloat, "s",
          "Estimate of players current lap time as shown in F3 box");
    b.add("LapLasNLapSeq", kInt, "", "Player num consecutive clean laps completed for N average");
    b.add("LapLastNLapTime", kFloat, "s", "Player last N average lap time");
    b.add("LapBestNLapLap", kInt, "", "Player last lap in best N average lap time");
    b.add("LapBestNLapTime", kFloat, "s", "Player best N average lap time");
    for (const char* what :
         {"BestLap", "OptimalLap", "SessionBestLap", "SessionOptimalLap", "SessionLastlLap"}) {
        std::string base = std::string("LapDeltaTo") + what;
        std::string desc = std::string("Delta time for ") + what;
        b.vars.push_back({base, kFloat, 1, desc, "s"});
        b.vars.push_back({base + "_DD", kFloat, 1, "Rate of change of " + desc, "s/s"});
        b.vars.push_back({base + "_OK", kBool, 1, desc + " is valid", ""});
    }

    // Driver inputs and car motion.
    b.add("Speed", kFloat, "m/s", "GPS vehicle speed");
    b.add("RPM", kFloat, "revs/min", "Engine rpm");
    b.add("Gear", kInt, "", "-1=reverse  0=neutral  1..n=current gear");
    b.add("Throttle", kFloat, "%", "0=off throttle to 1=full throttle");
    b.add("ThrottleRaw", kFloat, "%", "Raw throttle input 0=off throttle to 1=full throttle");
    b.add("Brake", kFloat, "%", "0=brake released to 1=max pedal force");
    b.add("BrakeRaw", kFloat, "%", "Raw brake input 0=brake released to 1=max pedal force");
    b.add("BrakeABSactive", kBool, "", "true if abs is currently reducing brake force pressure");
    b.add("Clutch", kFloat, "%", "0=disengaged to 1=fully engaged");
    b.add("ClutchRaw", kFloat, "%", "Raw clutch input 0=disengaged to 1=fully engaged");
    b.add("HandbrakeRaw", kFloat, "%", "Raw handbrake input 0=handbrake released to 1=max force");
    b.add("SteeringWheelAngle", kFloat, "rad", "Steering wheel angle");
    b.add("SteeringWheelAngleMax", kFloat, "rad", "Steering wheel max angle");
    b.add("SteeringWheelPctTorque", kFloat, "%",
          "Force feedback % max torque on steering shaft unsigned");
    b.add("SteeringWheelPctTorqueSign", kFloat, "%",
          "Force feedback % max torque on steering shaft signed");
    b.add("SteeringWheelPctTorqueSignStops", kFloat, "%",
          "Force feedback % max torque signed stops");
    b.add("SteeringWheelPctDamper", kFloat, "%", "Force feedback % max damping");
    b.add("SteeringWheelLimiter", kFloat, "%", "Force feedback limiter strength limits impacts");
    b.add("SteeringWheelMaxForceNm", kFloat, "N*m", "Value of strength or max force slider in Nm");
    b.add("SteeringWheelPeakForceNm", kFloat, "N*m", "Peak torque mapping to direct input units");
    b.add("SteeringWheelUseLinear", kBool, "", "True if steering wheel force is using linear mode");
    b.add("SteeringWheelTorque", kFloat, "N*m", "Output torque on steering shaft");
    b.add("SteeringWheelTorque_ST", kFloat, "N*m", "Output torque on steering shaft at 360 Hz", 6);
    b.add("ShiftIndicatorPct", kFloat, "%", "DEPRECATED use DriverCarSLBlinkRPM instead");
    b.add("ShiftPowerPct", kFloat, "%",
          "Friction torque applied to gears when shifting or grinding");
    b.add("ShiftGrindRPM", kFloat, "RPM", "RPM of shifter grinding noise");
    b.add("VelocityX", kFloat, "m/s", "X velocity");
    b.add("VelocityY", kFloat, "m/s", "Y velocity");
    b.add("VelocityZ", kFloat, "m/s", "Z velocity");
    b.add("Yaw", kFloat, "rad", "Yaw orientation");
    b.add("YawNorth", kFloat, "rad", "Yaw orientation relative to north");
    b.add("Pitch", kFloat, "rad", "Pitch orientation");
    b.add("Roll", kFloat, "rad", "Roll orientation");
    b.add("YawRate", kFloat, "rad/s", "Yaw rate");
    b.add("PitchRate", kFloat, "rad/s", "Pitch rate");
    b.add("RollRate", kFloat, "rad/s", "Roll rate");
    b.add("VertAccel", kFloat, "m/s^2", "Vertical acceleration (including gravity)");
    b.add("LatAccel", kFloat, "m/s^2", "Lateral acceleration (including gravity)");
    b.add("LongAccel", kFloat, "m/s^2", "Longitudinal acceleration (including gravity)");
    b.add("YawRate_ST", kFloat, "rad/s", "Yaw rate at 360 Hz", 6);
    b.add("PitchRate_ST", kFloat, "rad/s", "Pitch rate at 360 Hz", 6);
    b.add("RollRate_ST", kFloat, "rad/s", "Roll rate at 360 Hz", 6);
    b.add("VertAccel_ST", kFloat, "m/s^2", "Vertical acceleration at 360 Hz", 6);
    b.add("LatAccel_ST", kFloat, "m/s^2", "Lateral acceleration at 360 Hz", 6);
    b.add("LongAccel_ST", kFloat, "m/s^2", "Longitudinal acceleration at 360 Hz", 6);

    // Engine.
    b.add("EngineWarnings", kBitField, "irsdk_EngineWarnings", "Bitfield for warning lights");
    b.add("FuelLevel", kFloat, "l", "Liters of fuel remaining");
    b.add("FuelLevelPct", kFloat, "%", "Percent fuel remaining");
    b.add("FuelPress", kFloat, "bar", "Engine fuel pressure");
    b.add("FuelUsePerHour", kFloat, "kg/h", "Engine fuel used instantaneous");
    b.add("WaterTemp", kFloat, "C", "Engine coolant temp");
    b.add("WaterLevel", kFloat, "l", "Engine coolant level");
    b.add("OilTemp", kFloat, "C", "Engine oil temperature");
    b.add("OilPress", kFloat, "bar", "Engine oil pressure");
    b.add("OilLevel", kFloat, "l", "Engine oil level");
    b.add("Voltage", kFloat, "V", "Engine voltage");
    b.add("ManifoldPress", kFloat, "bar", "Engine manifold pressure");
    b.add("dcBrakeBias", kFloat, "", "In car brake bias adjustment");
    b.add("dcABS", kFloat, "", "In car abs adjustment");
    b.add("dcTractionControl", kFloat, "", "In car traction control adjustment");
    b.add("dcTractionControl2", kFloat, "", "In car traction control 2 adjustment");
    b.add("dcThrottleShape", kFloat, "", "In car throttle shape adjustment");
    b.add("dcFuelMixture", kFloat, "", "In car fuel mixture adjustment");
    b.add("dcDashPage", kFloat, "", "In car dash display page adjustment");
    b.add("dcStarter", kBool, "", "In car trigger car starter");
    b.add("dcPitSpeedLimiterToggle", kBool, "", "In car toggle pit speed limiter");
    b.add("dcHeadlightFlash", kBool, "", "In car headlight flash control active");
    b.add("dcToggleWindshieldWipers", kBool, "", "In car turn wipers on or off");
    b.add("dcTriggerWindshieldWipers", kBool, "", "In car momentarily turn on wipers");

    // Weather.
    b.add("AirTemp", kFloat, "C", "Temperature of air at start/finish line");
    b.add("AirDensity", kFloat, "kg/m^3", "Density of air at start/finish line");
    b.add("AirPressure", kFloat, "Pa", "Pressure of air at start/finish line");
    b.add("TrackTemp", kFloat, "C", "Deprecated  set to TrackTempCrew");
    b.add("TrackTempCrew", kFloat, "C", "Temperature of track measured by crew around track");
    b.add("TrackWetness", kInt, "irsdk_TrackWetness", "How wet is the average track surface");
    b.add("WeatherDeclaredWet", kBool, "", "The steward says rain tires can be used");
    b.add("WindVel", kFloat, "m/s", "Wind velocity at start/finish line");
    b.add("WindDir", kFloat, "rad", "Wind direction at start/finish line");
    b.add("RelativeHumidity", kFloat, "%", "Relative Humidity at start/finish line");
    b.add("FogLevel", kFloat, "%", "Fog level at start/finish line");
    b.add("Precipitation", kFloat, "%", "Precipitation at start/finish line");
    b.add("Skies", kInt, "", "Skies (0=clear/1=p cloudy/2=m cloudy/3=overcast)");
    b.add("SolarAltitude", kFloat, "rad", "Sun angle above horizon in radians");
    b.add("SolarAzimuth", kFloat, "rad", "Sun angle clockwise from north in radians");

    // Pit service.
    b.add("PitSvFlags", kBitField, "irsdk_PitSvFlags", "Bitfield of pit service checkboxes");
    b.add("PitSvLFP", kFloat, "kPa", "Pit service left front tire pressure");
    b.add("PitSvRFP", kFloat, "kPa", "Pit service right front tire pressure");
    b.add("PitSvLRP", kFloat, "kPa", "Pit service left rear tire pressure");
    b.add("PitSvRRP", kFloat, "kPa", "Pit service right rear tire pressure");
    b.add("PitSvFuel", kFloat, "l", "Pit service fuel add amount");
    b.add("PitSvTireCompound", kInt, "", "Pit service pending tire compound");
    b.add("PitRepairLeft", kFloat, "s",
          "Time left for mandatory pit repairs if repairs are active");
    b.add("PitOptRepairLeft", kFloat, "s", "Time left for optional repairs if repairs are active");
    b.add("PitstopActive", kBool, "", "Is the player getting pit stop service");
    b.add("FastRepairUsed", kInt, "", "How many fast repairs used so far");
    b.add("FastRepairAvailable", kInt, "", "How many fast repairs left  255 is unlimited");
    b.add("dpFuelFill", kFloat, "", "Pitstop fuel fill flag");
    b.add("dpFuelAddKg", kFloat, "kg", "Pitstop fuel add amount");
    b.add("dpFuelAutoFillEnabled", kFloat, "", "Pitstop auto fill fuel system enabled");
    b.add("dpFuelAutoFillActive", kFloat, "", "Pitstop auto fill fuel next stop flag");
    b.add("dpWindshieldTearoff", kFloat, "", "Pitstop windshield tearoff");
    b.add("dpFastRepair", kFloat, "", "Pitstop fast repair set");

    // Tires, per corner.
    for (int c = 0; c < 4; ++c) {
        std::string k = kCorners[c];
        std::string w = kCornerWords[c];
        b.vars.push_back({k + "coldPressure", kFloat, 1,
                          w + " tire cold pressure  as set in the garage", "kPa"});
        for (const char* zone : {"CL", "CM", "CR"}) {
            b.vars.push_back(
                {k + "temp" + zone, kFloat, 1, w + " tire carcass temperature " + zone, "C"});
        }
        for (const char* zone : {"L", "M", "R"}) {
            b.vars.push_back(
                {k + "wear" + zone, kFloat, 1, w + " tire tread remaining " + zone, "%"});
        }
        b.vars.push_back({k + "speed", kFloat, 1, w + " wheel speed", "m/s"});
        b.vars.push_back({k + "pressure", kFloat, 1, w + " tire pressure", "kPa"});
        b.vars.push_back({k + "rideHeight", kFloat, 1, w + " ride height", "m"});
        b.vars.push_back({k + "shockDefl", kFloat, 1, w + " shock deflection", "m"});
        b.vars.push_back({k + "shockVel", kFloat, 1, w + " shock velocity", "m/s"});
        b.vars.push_back({k + "shockDefl_ST", kFloat, 6, w + " shock deflection at 360 Hz", "m"});
        b.vars.push_back({k + "shockVel_ST", kFloat, 6, w + " shock velocity at 360 Hz", "m/s"});
        b.vars.push_back({k + "brakeLinePress", kFloat, 1, w + " brake line pressure", "bar"});
        b.vars.push_back({k + "TiresUsed", kInt, 1, "How many " + w + " tires used so far", ""});
        b.vars.push_back({k + "TiresAvailable", kInt, 1,
                          "How many " + w + " tires are remaining  255 is unlimited", ""});
        b.vars.push_back(
            {"dp" + k + "TireChange", kFloat, 1, "Pitstop " + k + " tire change request", ""});
        b.vars.push_back({"dp" + k + "TireColdPress", kFloat, 1,
                          "Pitstop " + k + " tire cold pressure adjustment", "Pa"});
    }
    b.add("TireSetsUsed", kInt, "", "How many tire sets used so far");
    b.add("TireSetsAvailable", kInt, "", "How many tire sets are remaining  255 is unlimited");
    b.add("LeftTireSetsUsed", kInt, "", "How many left tire sets used so far");
    b.add("RightTireSetsUsed", kInt, "", "How many right tire sets used so far");
    b.add("FrontTireSetsUsed", kInt, "", "How many front tire sets used so far");
    b.add("RearTireSetsUsed", kInt, "", "How many rear tire sets used so far");
    b.add("LeftTireSetsAvailable", kInt, "",
          "How many left tire sets are remaining  255 is unlimited");
    b.add("RightTireSetsAvailable", kInt, "",
          "How many right tire sets are remaining  255 is unlimited");
    b.add("FrontTireSetsAvailable", kInt, "",
          "How many front tire sets are remaining  255 is unlimited");
    b.add("RearTireSetsAvailable", kInt, "",
          "How many rear tire sets are remaining  255 is unlimited");
    return b.vars;
}

RowWriter::RowWriter(const std::vector<simblock::VarSpec>& vars,
                     const simblock::BlockLayout& layout) {
    for (size_t i = 0; i < vars.size() && i < layout.valueOffsets.size(); ++i) {
        std::string name = vars[i].name.substr(0, telemetry::kVarNameLength - 1);
        slots_.emplace(name, Slot{vars[i].type, layout.valueOffsets[i], vars[i].count});
    }
}

void RowWriter::noteMissing(std::string_view name) {
    if (std::find(missing_.begin(), missing_.end(), name) == missing_.end()) {
        missing_.emplace_back(name);
    }
}

const RowWriter::Slot* RowWriter::slot(std::string_view name, int entry) {
    auto it = slots_.find(name);
    if (it == slots_.end() || entry < 0 || entry >= std::max(it->second.count, 1) ||
        row_ == nullptr) {
        noteMissing(name);
        return nullptr;
    }
    size_t end = static_cast<size_t>(it->second.offset) +
                 static_cast<size_t>(entry + 1) * telemetry::varTypeSize(it->second.type);
    if (end > row_->size()) {
        return nullptr;
    }
    return &it->second;
}

RowWriter::Column RowWriter::column(std::string_view name) {
    auto it = slots_.find(name);
    return Column(this, it == slots_.end() ? nullptr : &it->second, name);
}

uint8_t* RowWriter::Column::at(int entry) {
    const auto* s = static_cast<const Slot*>(slot_);
    std::vector<uint8_t>* row = writer_->row_;
    if (s == nullptr || row == nullptr || entry < 0 || entry >= std::max(s->count, 1)) {
        writer_->noteMissing(name_);
        return nullptr;
    }
    size_t size = static_cast<size_t>(telemetry::varTypeSize(s->type));
    size_t start = static_cast<size_t>(s->offset) + static_cast<size_t>(entry) * size;
    return start + size <= row->size() ? row->data() + start : nullptr;
}

bool RowWriter::Column::set(double value, int entry) {
    uint8_t* p = at(entry);
    if (p != nullptr) {
        simblock::BlockWriter::storeValue(p, static_cast<const Slot*>(slot_)->type, value);
    }
    return p != nullptr;
}

bool RowWriter::Column::setInt(int32_t value, int entry) {
    uint8_t* p = at(entry);
    if (p != nullptr) {
        simblock::BlockWriter::storeValue(p, static_cast<const Slot*>(slot_)->type, value);
    }
    return p != nullptr;
}

bool RowWriter::set(std::string_view name, double value, int entry) {
    const Slot* s = slot(name, entry);
    if (s == nullptr) {
        return false;
    }
    simblock::BlockWriter::storeValue(
        row_->data() + s->offset + entry * telemetry::varTypeSize(s->type), s->type, value);
    return true;
}

bool RowWriter::setInt(std::string_view name, int32_t value, int entry) {
    const Slot* s = slot(name, entry);
    if (s == nullptr) {
        return false;
    }
    simblock::BlockWriter::storeValue(
        row_->data() + s->offset + entry * telemetry::varTypeSize(s->type), s->type, value);
    return true;
}

bool RowWriter::get(const std::vector<uint8_t>& row, std::string_view name, double* value,
                    int entry) const {
    auto it = slots_.find(name);
    if (it == slots_.end() || entry < 0 || entry >= std::max(it->second.count, 1)) {
        return false;
    }
    const Slot& s = it->second;
    int size = telemetry::varTypeSize(s.type);
    size_t at = static_cast<size_t>(s.offset) + static_cast<size_t>(entry) * size;
    if (at + size > row.size()) {
        return false;
    }
    const uint8_t* p = row.data() + at;
    switch (s.type) {
        case telemetry::kChar:
            *value = static_cast<int8_t>(*p);
            return true;
        case telemetry::kBool:
            *value = *p != 0 ? 1 : 0;
            return true;
        case telemetry::kInt:
        case telemetry::kBitField: {
            int32_t i;
            std::memcpy(&i, p, 4);
            *value = i;
            return true;
        }
        case telemetry::kFloat: {
            float f;
            std::memcpy(&f, p, 4);
            *value = f;
            return true;
        }
        case telemetry::kDouble:
            std::memcpy(value, p, 8);
            return true;
        default:
            return false;
    }
}

}  // namespace simfeed
