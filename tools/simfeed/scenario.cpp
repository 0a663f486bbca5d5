#include "tools/simfeed/scenario.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>

namespace simfeed {

namespace {

SessionSpec makeSession(int num, SessionKind kind, int laps, double timeSeconds, bool run) {
    SessionSpec s;
    s.num = num;
    s.kind = kind;
    switch (kind) {
        case SessionKind::Practice:
            s.type = "Practice";
            s.name = "PRACTICE";
            break;
        case SessionKind::Qualify:
            s.type = "Open Qualify";
            s.name = "QUALIFY";
            break;
        case SessionKind::Race:
            s.type = "Race";
            s.name = "RACE";
            break;
    }
    s.laps = laps;
    s.timeSeconds = timeSeconds;
    s.run = run;
    return s;
}

// "unlimited" or a number >= 0.
bool readLimit(const IniFile& ini, const std::string& sec, const std::string& key, double* out) {
    auto v = ini.value(sec, key);
    if (!v) {
        return true;
    }
    if (lower(*v) == "unlimited") {
        *out = 0;
        return true;
    }
    auto d = parseDouble(*v);
    if (!d || *d < 0) {
        ini.addError(ini.where(sec, key) + ": '" + *v + "' is neither a number nor unlimited");
        return false;
    }
    *out = *d;
    return true;
}

std::optional<int> sectionNumber(const std::string& section, const std::string& prefix) {
    std::string l = lower(section);
    if (l.rfind(prefix, 0) != 0) {
        return std::nullopt;
    }
    return parseInt(l.substr(prefix.size()));
}

std::optional<EventKind> eventKind(const std::string& text) {
    static const std::pair<const char*, EventKind> kinds[] = {
        {"watertemp", EventKind::WaterTemp},     {"fuelpressure", EventKind::FuelPressure},
        {"oilpressure", EventKind::OilPressure}, {"oiltemp", EventKind::OilTemp},
        {"pitspeeding", EventKind::PitSpeeding}, {"damage", EventKind::Damage},
    };
    for (const auto& [name, kind] : kinds) {
        if (lower(text) == name) {
            return kind;
        }
    }
    return std::nullopt;
}

void readTrack(const IniFile& ini, TrackSpec& t) {
    const std::string s = "Track";
    t.name = ini.getString(s, "Name", t.name);
    t.id = ini.getInt(s, "ID", t.id);
    t.displayName = ini.getString(s, "DisplayName", t.displayName);
    t.shortName = ini.getString(s, "ShortName", t.shortName);
    t.configName = ini.getString(s, "ConfigName", t.configName);
    t.city = ini.getString(s, "City", t.city);
    t.country = ini.getString(s, "Country", t.country);
    t.length = ini.getDouble(s, "Length", t.length);
    t.pitEntryPct = ini.getDouble(s, "PitEntry", t.pitEntryPct);
    t.pitStallPct = ini.getDouble(s, "PitStall", t.pitStallPct);
    t.pitExitPct = ini.getDouble(s, "PitExit", t.pitExitPct);
    t.pitSpeedLimit = ini.getDouble(s, "PitSpeedLimit", t.pitSpeedLimit);
    t.airTemp = ini.getDouble(s, "AirTemp", t.airTemp);
    t.trackTemp = ini.getDouble(s, "TrackTemp", t.trackTemp);
    t.airTempDrift = ini.getDouble(s, "AirTempDrift", t.airTempDrift);
    t.trackTempDrift = ini.getDouble(s, "TrackTempDrift", t.trackTempDrift);
    t.skies = ini.getString(s, "Skies", t.skies);
    t.turns = ini.getInt(s, "Turns", t.turns);
}

void readCar(const IniFile& ini, CarSpec& c) {
    const std::string s = "Car";
    c.id = ini.getInt(s, "ID", c.id);
    c.screenName = ini.getString(s, "ScreenName", c.screenName);
    c.shortName = ini.getString(s, "ShortName", c.shortName);
    c.path = ini.getString(s, "Path", c.path);
    c.classId = ini.getInt(s, "ClassID", c.classId);
    c.classShortName = ini.getString(s, "ClassShortName", c.classShortName);
    c.tankLiters = ini.getDouble(s, "TankLiters", c.tankLiters);
    c.classMaxFuelPct = ini.getDouble(s, "ClassMaxFuelPct", c.classMaxFuelPct);
    c.startFuel = ini.getDouble(s, "StartFuel", c.startFuel);
    c.fuelPerLap = ini.getDouble(s, "FuelPerLap", c.fuelPerLap);
    c.fuelNoise = ini.getDouble(s, "FuelNoise", c.fuelNoise);
    c.fuelBurnGrowth = ini.getDouble(s, "FuelBurnGrowth", c.fuelBurnGrowth);
    c.lapTime = ini.getDouble(s, "LapTime", c.lapTime);
    c.lapTimeNoise = ini.getDouble(s, "LapTimeNoise", c.lapTimeNoise);
    c.tireWearPerLap = ini.getDouble(s, "TireWearPerLap", c.tireWearPerLap);
    double all = ini.getDouble(s, "StartingPressure", -1);
    static const char* corners[4] = {"PressureLF", "PressureRF", "PressureLR", "PressureRR"};
    for (int i = 0; i < 4; ++i) {
        if (all >= 0) {
            c.startingPressure[i] = all;
        }
        c.startingPressure[i] = ini.getDouble(s, corners[i], c.startingPressure[i]);
    }
    c.minPressure = ini.getDouble(s, "MinPressure", c.minPressure);
    c.maxPressure = ini.getDouble(s, "MaxPressure", c.maxPressure);
    c.tireSets = ini.getInt(s, "TireSets", c.tireSets);
    c.idleRpm = ini.getInt(s, "IdleRPM", c.idleRpm);
    c.shiftRpm = ini.getInt(s, "ShiftRPM", c.shiftRpm);
    c.redLine = ini.getInt(s, "RedLine", c.redLine);
    c.gears = ini.getInt(s, "Gears", c.gears);
}

void readDriver(const IniFile& ini, DriverSpec& d) {
    const std::string s = "Driver";
    d.name = ini.getString(s, "Name", d.name);
    d.userId = ini.getInt(s, "UserID", d.userId);
    d.carIdx = ini.getInt(s, "CarIdx", d.carIdx);
    d.gridPosition = ini.getInt(s, "GridPosition", d.gridPosition);
    d.carNumber = ini.getString(s, "CarNumber", d.carNumber);
    d.iRating = ini.getInt(s, "IRating", d.iRating);
}

void readStrategy(const IniFile& ini, StrategySpec& st) {
    const std::string s = "Strategy";
    st.pitWhenFuelBelow = ini.getDouble(s, "PitWhenFuelBelow", st.pitWhenFuelBelow);
    if (auto v = ini.value(s, "PitOnLaps")) {
        auto laps = parseIntList(*v);
        if (!laps) {
            ini.addError(ini.where(s, "PitOnLaps") + ": '" + *v + "' is not a list of lap numbers");
        } else {
            st.pitOnLaps = *laps;
        }
    }
    st.safetyStop = ini.getBool(s, "SafetyStop", st.safetyStop);
    st.stopSeconds = ini.getDouble(s, "StopSeconds", st.stopSeconds);
    st.fuelFillRate = ini.getDouble(s, "FuelFillRate", st.fuelFillRate);
    st.tireChangeSeconds = ini.getDouble(s, "TireChangeSeconds", st.tireChangeSeconds);
    st.menuFuel = ini.getDouble(s, "MenuFuel", st.menuFuel);
    st.menuFuelOn = ini.getBool(s, "MenuFuelOn", st.menuFuelOn);
    st.menuTires = ini.getBool(s, "MenuTires", st.menuTires);
}

}  // namespace

double Scenario::startFuel() const {
    double usable = usableTank();
    return car.startFuel < 0 ? usable : std::min(car.startFuel, usable);
}

const SessionSpec* Scenario::session(int num) const {
    for (const SessionSpec& s : sessions) {
        if (s.num == num) {
            return &s;
        }
    }
    return nullptr;
}

std::vector<int> Scenario::runOrder() const {
    std::vector<int> out;
    for (const SessionSpec& s : sessions) {
        if (s.run) {
            out.push_back(s.num);
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

Scenario defaultScenario() {
    Scenario s;
    s.sessions = {makeSession(0, SessionKind::Practice, 0, 1800, false),
                  makeSession(1, SessionKind::Qualify, 2, 900, false),
                  makeSession(2, SessionKind::Race, 12, 0, true)};
    return s;
}

std::vector<std::string> validateScenario(const Scenario& s) {
    std::vector<std::string> e;
    const TrackSpec& t = s.track;
    auto fraction = [&](double v, const char* what) {
        if (!(v >= 0 && v < 1)) {
            e.push_back(std::string("[Track] ") + what + " must be a fraction of the lap, 0 to 1");
        }
    };
    if (!(t.length >= 200 && t.length <= 50000)) {
        e.push_back("[Track] Length must be 200 to 50000 metres");
    }
    fraction(t.pitEntryPct, "PitEntry");
    fraction(t.pitStallPct, "PitStall");
    fraction(t.pitExitPct, "PitExit");
    if (e.empty()) {
        auto ahead = [&](double from, double to) {
            double d = to - from;
            return d < 0 ? d + 1 : d;
        };
        double road = ahead(t.pitEntryPct, t.pitExitPct) * t.length;
        double toStall = ahead(t.pitEntryPct, t.pitStallPct) * t.length;
        if (road < 100 || road > t.length / 2) {
            e.push_back(
                "[Track] the pit road from PitEntry to PitExit must be 100 m to half a lap");
        } else if (toStall < 30 || toStall > road - 30) {
            e.push_back("[Track] PitStall must lie on the pit road, 30 m from either end");
        }
    }
    if (!(t.pitSpeedLimit >= 20 && t.pitSpeedLimit <= 150)) {
        e.push_back("[Track] PitSpeedLimit must be 20 to 150 km/h");
    }
    const CarSpec& c = s.car;
    if (!(c.lapTime >= 20 && c.lapTime <= 3600)) {
        e.push_back("[Car] LapTime must be 20 to 3600 seconds");
    } else if (t.length / c.lapTime > 120) {
        e.push_back("[Car] LapTime is too short for the track length");
    }
    if (!(c.tankLiters > 0 && c.tankLiters <= 1000)) {
        e.push_back("[Car] TankLiters must be above 0 and at most 1000");
    }
    if (!(c.classMaxFuelPct > 0 && c.classMaxFuelPct <= 1)) {
        e.push_back("[Car] ClassMaxFuelPct must be a fraction above 0 and at most 1");
    }
    if (!(c.fuelPerLap >= 0 && c.fuelPerLap < c.tankLiters)) {
        e.push_back("[Car] FuelPerLap must be at least 0 and less than the tank");
    }
    if (!(c.fuelNoise >= 0 && c.fuelNoise < 0.5) ||
        !(c.lapTimeNoise >= 0 && c.lapTimeNoise < 0.1)) {
        e.push_back("[Car] FuelNoise must be 0 to 0.5 and LapTimeNoise 0 to 0.1");
    }
    if (!(c.fuelBurnGrowth >= 0 && c.fuelBurnGrowth < 1)) {
        e.push_back("[Car] FuelBurnGrowth must be 0 to 1 litre per lap");
    }
    if (!(c.tireWearPerLap >= 0 && c.tireWearPerLap < 0.5)) {
        e.push_back("[Car] TireWearPerLap must be 0 to 0.5");
    }
    if (!(c.minPressure > 0 && c.minPressure < c.maxPressure)) {
        e.push_back("[Car] MinPressure must be above 0 and below MaxPressure");
    }
    for (double p : c.startingPressure) {
        if (!(p >= c.minPressure && p <= c.maxPressure)) {
            e.push_back("[Car] starting pressures must lie within MinPressure and MaxPressure");
            break;
        }
    }
    if (c.tireSets < 0 || c.tireSets > 255) {
        e.push_back("[Car] TireSets must be 0 to 255 (255 = unlimited)");
    }
    if (!(c.idleRpm > 0 && c.idleRpm < c.shiftRpm && c.shiftRpm <= c.redLine)) {
        e.push_back("[Car] the engine speeds must rise: IdleRPM < ShiftRPM <= RedLine");
    }
    if (c.gears < 1 || c.gears > 10) {
        e.push_back("[Car] Gears must be 1 to 10");
    }
    if (s.fieldSize < 1 || s.fieldSize > 64) {
        e.push_back("[Scenario] Field must be 1 to 64 cars");
    }
    if (s.driver.carIdx < 0 || s.driver.carIdx >= s.fieldSize) {
        e.push_back("[Driver] CarIdx must be below the field size");
    }
    if (s.driver.gridPosition < 1 || s.driver.gridPosition > s.fieldSize) {
        e.push_back("[Driver] GridPosition must be 1 to the field size");
    }
    if (!(s.timeScale > 0 && s.timeScale <= 1000)) {
        e.push_back("[Scenario] TimeScale must be above 0 and at most 1000");
    }
    if (s.paradeLaps < 0 || s.paradeLaps > 3) {
        e.push_back("[Scenario] ParadeLaps must be 0 to 3");
    }
    for (double v : {s.garageSeconds, s.setupReadSeconds, s.warmupSeconds, s.checkeredTimeout,
                     s.coolDownSeconds, s.betweenSessionsSeconds}) {
        if (!(v >= 0 && v <= 36000)) {
            e.push_back("[Scenario] phase durations must be 0 to 36000 seconds");
            break;
        }
    }
    const StrategySpec& st = s.strategy;
    if (!(st.fuelFillRate > 0 && st.fuelFillRate <= 100)) {
        e.push_back("[Strategy] FuelFillRate must be above 0 and at most 100 litres per second");
    }
    if (!(st.stopSeconds >= 0 && st.stopSeconds <= 600) ||
        !(st.tireChangeSeconds >= 0 && st.tireChangeSeconds <= 600)) {
        e.push_back("[Strategy] StopSeconds and TireChangeSeconds must be 0 to 600");
    }
    if (st.pitWhenFuelBelow < 0) {
        e.push_back("[Strategy] PitWhenFuelBelow must not be negative");
    }
    std::set<int> nums;
    bool anyRun = false;
    for (const SessionSpec& ss : s.sessions) {
        if (ss.num < 0 || !nums.insert(ss.num).second) {
            e.push_back("session numbers must be unique and not negative");
        }
        if (ss.laps < 0 || ss.timeSeconds < 0) {
            e.push_back("[Session " + std::to_string(ss.num) + "] limits must not be negative");
        }
        if (ss.run && ss.laps == 0 && ss.timeSeconds == 0) {
            e.push_back("[Session " + std::to_string(ss.num) +
                        "] a simulated session needs a lap or time limit");
        }
        anyRun = anyRun || ss.run;
    }
    if (!anyRun) {
        e.push_back("no session is simulated (set Run=yes on one)");
    }
    for (const EventSpec& ev : s.events) {
        if (ev.lap <= 0 && ev.time < 0) {
            e.push_back("an event needs a Lap (from 1) or a Time (from 0)");
        }
        if (ev.laps < 1 || ev.duration <= 0 || ev.repair < 0 || ev.optRepair < 0) {
            e.push_back("an event needs Laps >= 1, Duration > 0 and repairs >= 0");
        }
    }
    return e;
}

ScenarioLoad loadScenario(const IniFile& ini) {
    ScenarioLoad out;
    Scenario s = defaultScenario();
    const std::string sc = "Scenario";
    s.name = ini.getString(sc, "Name", s.name);
    s.description = ini.getString(sc, "Description", s.description);
    int seed = ini.getInt(sc, "Seed", static_cast<int>(s.seed));
    s.seed = static_cast<uint32_t>(seed);
    s.timeScale = ini.getDouble(sc, "TimeScale", s.timeScale);
    s.fieldSize = ini.getInt(sc, "Field", s.fieldSize);
    s.garageSeconds = ini.getDouble(sc, "GarageSeconds", s.garageSeconds);
    s.setupReadSeconds = ini.getDouble(sc, "SetupReadSeconds", s.setupReadSeconds);
    s.warmupSeconds = ini.getDouble(sc, "WarmupSeconds", s.warmupSeconds);
    s.paradeLaps = ini.getInt(sc, "ParadeLaps", s.paradeLaps);
    s.checkeredTimeout = ini.getDouble(sc, "CheckeredTimeout", s.checkeredTimeout);
    s.coolDownSeconds = ini.getDouble(sc, "CoolDownSeconds", s.coolDownSeconds);
    s.betweenSessionsSeconds =
        ini.getDouble(sc, "BetweenSessionsSeconds", s.betweenSessionsSeconds);
    s.subSessionId = ini.getInt(sc, "SubSessionID", s.subSessionId);
    s.sessionId = ini.getInt(sc, "SessionID", s.sessionId);
    s.seriesId = ini.getInt(sc, "SeriesID", s.seriesId);
    readTrack(ini, s.track);
    readCar(ini, s.car);
    readDriver(ini, s.driver);
    readStrategy(ini, s.strategy);

    std::vector<SessionSpec> sessions;
    for (const std::string& sec : ini.sections()) {
        if (auto num = sectionNumber(sec, "session")) {
            std::string type = lower(ini.getString(sec, "Type", "race"));
            SessionKind kind = SessionKind::Race;
            if (type == "practice") {
                kind = SessionKind::Practice;
            } else if (type == "qualify") {
                kind = SessionKind::Qualify;
            } else if (type != "race") {
                ini.addError(ini.where(sec, "Type") + ": '" + type +
                             "' is not Practice, Qualify or Race");
            }
            double laps = 0;
            double time = 0;
            readLimit(ini, sec, "Laps", &laps);
            readLimit(ini, sec, "Time", &time);
            if (laps != std::floor(laps) || laps > 100000) {
                ini.addError(ini.where(sec, "Laps") + ": a lap count must be a whole number");
                laps = 0;
            }
            SessionSpec ss = makeSession(*num, kind, static_cast<int>(laps), time,
                                         ini.getBool(sec, "Run", false));
            ss.name = ini.getString(sec, "Name", ss.name);
            ss.type = ini.getString(sec, "SessionType", ss.type);
            ss.lapsFromPace = ini.getBool(sec, "LapsFromPace", false);
            sessions.push_back(ss);
        } else if (auto n = sectionNumber(sec, "event")) {
            EventSpec ev;
            auto kind = eventKind(ini.getString(sec, "Kind", ""));
            if (!kind) {
                ini.addError("[" + sec +
                             "] Kind must be WaterTemp, FuelPressure, OilPressure, "
                             "OilTemp, PitSpeeding or Damage");
                continue;
            }
            ev.kind = *kind;
            ev.session = ini.getInt(sec, "Session", ev.session);
            ev.lap = ini.getInt(sec, "Lap", ev.lap);
            ev.laps = ini.getInt(sec, "Laps", ev.laps);
            ev.time = ini.getDouble(sec, "Time", ev.time);
            ev.duration = ini.getDouble(sec, "Duration", ev.duration);
            ev.repair = ini.getDouble(sec, "Repair", ev.repair);
            ev.optRepair = ini.getDouble(sec, "OptRepair", ev.optRepair);
            s.events.push_back(ev);
        } else if (!(lower(sec) == "scenario" || lower(sec) == "track" || lower(sec) == "car" ||
                     lower(sec) == "driver" || lower(sec) == "strategy")) {
            out.warnings.push_back("unknown section [" + sec + "] ignored");
        }
    }
    if (!sessions.empty()) {
        std::sort(sessions.begin(), sessions.end(),
                  [](const SessionSpec& a, const SessionSpec& b) { return a.num < b.num; });
        s.sessions = sessions;
    }
    for (const std::string& k : ini.unusedKeys()) {
        out.warnings.push_back(k + ": unknown key ignored");
    }
    out.errors = ini.errors();
    for (const std::string& e : validateScenario(s)) {
        out.errors.push_back(e);
    }
    if (out.errors.empty()) {
        out.scenario = s;
    }
    return out;
}

ScenarioLoad loadScenarioFile(const std::string& path) {
    std::string error;
    auto ini = IniFile::load(path, &error);
    if (!ini) {
        ScenarioLoad out;
        out.errors.push_back(error);
        return out;
    }
    return loadScenario(*ini);
}

std::string resolveScenarioPath(const std::string& nameOrPath,
                                const std::vector<std::string>& dirs) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::is_regular_file(nameOrPath, ec)) {
        return nameOrPath;
    }
    for (const std::string& d : dirs) {
        if (d.empty()) {
            continue;
        }
        for (const std::string& candidate : {nameOrPath + ".ini", nameOrPath}) {
            fs::path p = fs::path(d) / candidate;
            if (fs::is_regular_file(p, ec)) {
                return p.string();
            }
        }
    }
    return {};
}

}  // namespace simfeed
