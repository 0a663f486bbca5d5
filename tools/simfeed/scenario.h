#pragma once
// What the feed simulates: the track, the car, the field, the sessions, the player's pit
// strategy and the scripted events. Read from an INI file under tools/simfeed/scenarios/;
// every value has a default, so an empty file is a short practice-free sprint race.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/simfeed/ini_file.h"

namespace simfeed {

enum class SessionKind { Practice, Qualify, Race };

struct SessionSpec {
    int num = 0;
    SessionKind kind = SessionKind::Race;
    std::string type;        // the simulator's SessionType text ("Practice", "Race", ...)
    std::string name;        // SessionName ("PRACTICE", "QUALIFY", "RACE")
    int laps = 0;            // 0 = unlimited
    double timeSeconds = 0;  // 0 = unlimited
    bool run = false;        // simulated, not only listed in the session text
    // A timed race whose lap count the leader's pace decides: SessionLapsRemainEx carries the
    // laps the leader is expected to run, as the simulator shows it for such races.
    bool lapsFromPace = false;
};

enum class EventKind {
    WaterTemp,     // engine warning bit 1
    FuelPressure,  // engine warning bit 2
    OilPressure,   // engine warning bit 4
    OilTemp,       // engine warning bit 64
    PitSpeeding,   // the driver forgets the limiter and runs the pit lane too fast
    Damage,        // contact: repair time owed at the next stop
};

struct EventSpec {
    EventKind kind = EventKind::WaterTemp;
    int session = -1;      // session number, -1 = every simulated session
    int lap = 0;           // > 0: starts when the player begins this lap ...
    int laps = 1;          // ... and lasts this many laps
    double time = -1;      // >= 0: starts at this session time (s) ...
    double duration = 30;  // ... and lasts this long
    double repair = 0;     // Damage: required repair seconds
    double optRepair = 0;  // Damage: optional repair seconds
};

struct TrackSpec {
    std::string name = "brenvik ring";
    int id = 417;
    std::string displayName = "Brenvik Ring";
    std::string shortName = "Brenvik";
    std::string configName = "Grand Prix";
    std::string city = "Brenvik";
    std::string country = "Norway";
    double length = 5150;        // metres
    double pitEntryPct = 0.93;   // where the pit road leaves the track (DriverPitTrkPct)
    double pitStallPct = 0.985;  // the player's stall
    double pitExitPct = 0.06;    // where the pit road rejoins the track
    double pitSpeedLimit = 60;   // km/h
    double airTemp = 25.55;      // degrees C at the start of the weekend
    double trackTemp = 40.0;
    double airTempDrift = 0.5;    // degrees per hour
    double trackTempDrift = 2.0;  // degrees per hour
    std::string skies = "Partly Cloudy";
    int turns = 14;
};

struct CarSpec {
    int id = 143;
    std::string screenName = "Korvane GT3";
    std::string shortName = "GT3";
    std::string path = "korvanegt3";
    int classId = 2708;
    std::string classShortName = "GT3";
    double tankLiters = 100;        // DriverCarFuelMaxLtr
    double classMaxFuelPct = 1.0;   // fraction of the tank the class may use
    double startFuel = -1;          // litres at the start of each session; < 0 = the usable tank
    double fuelPerLap = 2.6;        // litres on a racing lap
    double fuelNoise = 0.02;        // relative spread of one lap's burn
    double fuelBurnGrowth = 0;      // litres per lap added for every lap of a stint
    double lapTime = 95.0;          // seconds on a racing lap
    double lapTimeNoise = 0.003;    // relative spread of one lap's time
    double tireWearPerLap = 0.010;  // tread lost per lap on the most loaded zone
    double startingPressure[4] = {165, 165, 165, 165};  // kPa, LF RF LR RR
    double minPressure = 110;
    double maxPressure = 350;
    int tireSets = 255;  // 255 = unlimited, as the simulator shows it
    int idleRpm = 1500;
    int shiftRpm = 7300;
    int redLine = 7800;
    int gears = 6;
};

struct DriverSpec {
    std::string name = "Alva Korvane";
    int userId = 402117;
    int carIdx = 7;
    int gridPosition = 8;
    std::string carNumber = "17";
    int iRating = 2350;
};

struct StrategySpec {
    double pitWhenFuelBelow = 0;  // litres at the pit-entry decision point; 0 = off
    std::vector<int> pitOnLaps;   // pit at the end of these laps
    bool safetyStop = true;       // pit when the fuel would not last to the next pit entry
    double stopSeconds = 4.0;     // least time stationary in the stall
    double fuelFillRate = 2.7;    // litres per second
    double tireChangeSeconds = 14.0;
    double menuFuel = -1;    // litres requested in the pit menu at the start; < 0 = a full tank
    bool menuFuelOn = true;  // the fuel box is ticked at the start
    bool menuTires = false;  // the tire boxes are ticked at the start
};

struct Scenario {
    std::string name = "default";
    std::string description;
    uint32_t seed = 1;
    double timeScale = 1.0;
    int fieldSize = 40;
    double garageSeconds = 20;
    double setupReadSeconds = 5;  // garage screen open, setup not yet loaded
    double warmupSeconds = 10;
    int paradeLaps = 0;
    double checkeredTimeout = 90;  // after the leader's finish, for the rest of the field
    double coolDownSeconds = 30;
    double betweenSessionsSeconds = 20;
    int subSessionId = 60123457;
    int sessionId = 210987;
    int seriesId = 0;
    TrackSpec track;
    CarSpec car;
    DriverSpec driver;
    StrategySpec strategy;
    std::vector<SessionSpec> sessions;  // every session of the weekend, by number
    std::vector<EventSpec> events;

    double usableTank() const { return car.tankLiters * car.classMaxFuelPct; }
    double startFuel() const;
    const SessionSpec* session(int num) const;
    std::vector<int> runOrder() const;
};

// The weekend without a file: practice 0 and qualify 1 listed, a 12-lap race 2 simulated.
Scenario defaultScenario();

struct ScenarioLoad {
    std::optional<Scenario> scenario;   // nullopt when an error makes it unusable
    std::vector<std::string> errors;    // each names the file, line and key
    std::vector<std::string> warnings;  // unknown keys, odd but usable values
};

ScenarioLoad loadScenario(const IniFile& ini);
ScenarioLoad loadScenarioFile(const std::string& path);

// Checks a scenario built in code or read from a file; returns the problems found.
std::vector<std::string> validateScenario(const Scenario& s);

// A scenario argument as given on the command line: a path to an existing file, or a name
// looked up as <dir>/<name>.ini in each of `dirs`. Empty when nothing is found.
std::string resolveScenarioPath(const std::string& nameOrPath,
                                const std::vector<std::string>& dirs);

}  // namespace simfeed
