#include "tools/simfeed/session_text.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace simfeed {

namespace {

class Text {
  public:
    void line(int indent, const char* fmt, ...) __attribute__((format(printf, 3, 4))) {
        char buf[1024];
        va_list ap;
        va_start(ap, fmt);
        std::vsnprintf(buf, sizeof buf, fmt, ap);
        va_end(ap);
        out_.append(static_cast<size_t>(indent), ' ');
        out_ += buf;
        out_ += '\n';
    }
    // "key: value" with the value as given; an empty value leaves only the key and colon,
    // so no line ends in a blank.
    void kv(int indent, const char* key, const std::string& value) {
        if (value.empty()) {
            line(indent, "%s:", key);
        } else {
            line(indent, "%s: %s", key, value.c_str());
        }
    }
    std::string str() const { return out_; }

  private:
    std::string out_;
};

std::string fmt(const char* f, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, f, v);
    return buf;
}

std::string num(int v) {
    return std::to_string(v);
}

std::string pressureText(double kpa) {
    return std::fabs(kpa - std::round(kpa)) < 1e-9 ? fmt("%.0f kPa", kpa) : fmt("%.1f kPa", kpa);
}

void weekendInfo(Text& t, const Scenario& s) {
    const TrackSpec& tr = s.track;
    t.line(0, "WeekendInfo:");
    t.kv(1, "TrackName", tr.name);
    t.kv(1, "TrackID", num(tr.id));
    t.kv(1, "TrackLength", formatTrackLength(tr.length));
    t.kv(1, "TrackLengthOfficial", formatTrackLength(tr.length));
    t.kv(1, "TrackDisplayName", tr.displayName);
    t.kv(1, "TrackDisplayShortName", tr.shortName);
    t.kv(1, "TrackConfigName", tr.configName);
    t.kv(1, "TrackCity", tr.city);
    t.kv(1, "TrackCountry", tr.country);
    t.kv(1, "TrackAltitude", "42.10 m");
    t.kv(1, "TrackLatitude", "60.391262 m");
    t.kv(1, "TrackLongitude", "5.322054 m");
    t.kv(1, "TrackNorthOffset", "1.2910 rad");
    t.kv(1, "TrackNumTurns", num(tr.turns));
    t.kv(1, "TrackPitSpeedLimit", fmt("%.2f kph", tr.pitSpeedLimit));
    t.kv(1, "TrackType", "road course");
    t.kv(1, "TrackDirection", "neutral");
    t.kv(1, "TrackWeatherType", "Static");
    t.kv(1, "TrackSkies", tr.skies);
    t.kv(1, "TrackSurfaceTemp", fmt("%.2f C", tr.trackTemp));
    t.kv(1, "TrackAirTemp", fmt("%.2f C", tr.airTemp));
    t.kv(1, "TrackAirPressure", "29.92 Hg");
    t.kv(1, "TrackWindVel", "1.34 m/s");
    t.kv(1, "TrackWindDir", "4.71 rad");
    t.kv(1, "TrackRelativeHumidity", "55 %");
    t.kv(1, "TrackFogLevel", "0 %");
    t.kv(1, "TrackPrecipitation", "0 %");
    t.kv(1, "TrackCleanup", "1");
    t.kv(1, "TrackDynamicTrack", "1");
    t.kv(1, "TrackVersion", "2024.03.12.01");
    t.kv(1, "SeriesID", num(s.seriesId));
    t.kv(1, "SeasonID", "0");
    t.kv(1, "SessionID", num(s.sessionId));
    t.kv(1, "SubSessionID", num(s.subSessionId));
    t.kv(1, "LeagueID", "0");
    t.kv(1, "Official", "0");
    t.kv(1, "RaceWeek", "0");
    t.kv(1, "EventType", "Race");
    t.kv(1, "Category", "Road");
    t.kv(1, "SimMode", "full");
    t.kv(1, "TeamRacing", "0");
    t.kv(1, "MinDrivers", "0");
    t.kv(1, "MaxDrivers", "0");
    t.kv(1, "DCRuleSet", "None");
    t.kv(1, "QualifierMustStartRace", "0");
    t.kv(1, "NumCarClasses", "1");
    t.kv(1, "NumCarTypes", "1");
    t.kv(1, "HeatRacing", "0");
    t.kv(1, "BuildType", "Release");
    t.kv(1, "BuildTarget", "Members");
    t.kv(1, "BuildVersion", "2024.03.12.01");
    t.line(1, "WeekendOptions:");
    t.kv(2, "NumStarters", num(s.fieldSize));
    t.kv(2, "StartingGrid", "2x2 inline pole on left");
    t.kv(2, "QualifyScoring", "best lap");
    t.kv(2, "CourseCautions", "off");
    t.kv(2, "StandingStart", s.paradeLaps > 0 ? "0" : "1");
    t.kv(2, "ShortParadeLap", "0");
    t.kv(2, "Restarts", "single file");
    t.kv(2, "WeatherType", "Static");
    t.kv(2, "Skies", tr.skies);
    t.kv(2, "WindDirection", "W");
    t.kv(2, "WindSpeed", "4.83 km/h");
    t.kv(2, "WeatherTemp", fmt("%.2f C", tr.airTemp));
    t.kv(2, "RelativeHumidity", "55 %");
    t.kv(2, "FogLevel", "0 %");
    t.kv(2, "TimeOfDay", "2:00 pm");
    t.kv(2, "Date", "2024-05-18");
    t.kv(2, "EarthRotationSpeedupFactor", "1");
    t.kv(2, "Unofficial", "1");
    t.kv(2, "CommercialMode", "consumer");
    t.kv(2, "NightMode", "variable");
    t.kv(2, "IsFixedSetup", "0");
    t.kv(2, "StrictLapsChecking", "default");
    t.kv(2, "HasOpenRegistration", "0");
    t.kv(2, "HardcoreLevel", "1");
    t.kv(2, "NumJokerLaps", "0");
    t.kv(2, "IncidentLimit", "unlimited");
    t.kv(2, "FastRepairsLimit", "unlimited");
    t.kv(2, "GreenWhiteCheckeredLimit", "0");
    t.line(1, "TelemetryOptions:");
    t.kv(2, "TelemetryDiskFile", "\"\"");
    t.line(0, "%s", "");
}

std::string limitLaps(int laps) {
    return laps > 0 ? num(laps) : "unlimited";
}
std::string limitTime(double seconds) {
    return seconds > 0 ? fmt("%.4f sec", seconds) : "unlimited";
}

void sessionInfo(Text& t, const Scenario& s, const SessionTextState& st) {
    t.line(0, "SessionInfo:");
    t.kv(1, "CurrentSessionNum", num(st.currentSession));
    t.line(1, "Sessions:");
    for (const SessionSpec& ss : s.sessions) {
        t.kv(1, "- SessionNum", num(ss.num));
        t.kv(3, "SessionLaps", limitLaps(ss.laps));
        t.kv(3, "SessionTime", limitTime(ss.timeSeconds));
        t.kv(3, "SessionNumLapsToAvg", ss.kind == SessionKind::Qualify ? "1" : "0");
        t.kv(3, "SessionType", ss.type);
        t.kv(3, "SessionTrackRubberState", "moderate usage");
        t.kv(3, "SessionName", ss.name);
        t.kv(3, "SessionSubType", "");
        t.kv(3, "SessionSkipped", "0");
        t.kv(3, "SessionRunGroupsUsed", "0");
        t.kv(3, "SessionEnforceTireCompoundChange", "0");
        auto it = st.results.find(ss.num);
        const SessionResults* r = it == st.results.end() ? nullptr : &it->second;
        if (r == nullptr || r->positions.empty()) {
            t.kv(3, "ResultsPositions", "");
        } else {
            t.line(3, "ResultsPositions:");
            for (const ResultEntry& e : r->positions) {
                t.kv(3, "- Position", num(e.position));
                t.kv(5, "ClassPosition", num(e.classPosition));
                t.kv(5, "CarIdx", num(e.carIdx));
                t.kv(5, "Lap", num(e.lap));
                t.kv(5, "Time", fmt("%.4f", e.time));
                t.kv(5, "FastestLap", num(e.fastestLap));
                t.kv(5, "FastestTime", fmt("%.4f", e.fastestTime));
                t.kv(5, "LastTime", fmt("%.4f", e.lastTime));
                t.kv(5, "LapsLed", num(e.lapsLed));
                t.kv(5, "LapsComplete", num(e.lapsComplete));
                t.kv(5, "JokerLapsComplete", "0");
                t.kv(5, "LapsDriven", fmt("%.3f", static_cast<double>(e.lapsComplete)));
                t.kv(5, "Incidents", num(e.incidents));
                t.kv(5, "ReasonOutId", num(e.reasonOut));
                t.kv(5, "ReasonOutStr", e.reasonOut == 0 ? "Running" : "Disconnected");
            }
        }
        t.line(3, "ResultsFastestLap:");
        int fastestCar = 255;
        int fastestLap = 0;
        double fastestTime = -1;
        if (r != nullptr) {
            for (const ResultEntry& e : r->positions) {
                if (e.fastestTime > 0 && (fastestTime < 0 || e.fastestTime < fastestTime)) {
                    fastestTime = e.fastestTime;
                    fastestCar = e.carIdx;
                    fastestLap = e.fastestLap;
                }
            }
        }
        t.kv(3, "- CarIdx", num(fastestCar));
        t.kv(5, "FastestLap", num(fastestLap));
        t.kv(5, "FastestTime", fmt("%.4f", fastestTime));
        t.kv(3, "ResultsAverageLapTime", fmt("%.4f", r != nullptr ? r->averageLapTime : -1.0));
        t.kv(3, "ResultsNumCautionFlags", "0");
        t.kv(3, "ResultsNumCautionLaps", "0");
        t.kv(3, "ResultsNumLeadChanges", "0");
        t.kv(3, "ResultsLapsComplete", num(r != nullptr ? r->lapsComplete : -1));
        t.kv(3, "ResultsOfficial", r != nullptr && r->official ? "1" : "0");
    }
    t.line(0, "%s", "");
}

void cameraAndRadio(Text& t) {
    t.line(0, "CameraInfo:");
    t.line(1, "Groups:");
    static const char* const groups[] = {"Nose", "Gearbox", "Roll Bar", "Chase", "Cockpit", "TV1"};
    int n = 1;
    for (const char* g : groups) {
        t.kv(1, "- GroupNum", num(n));
        t.kv(3, "GroupName", g);
        t.line(3, "Cameras:");
        t.kv(3, "- CameraNum", "1");
        t.kv(5, "CameraName", std::string("Cam") + g);
        ++n;
    }
    t.line(0, "%s", "");
    t.line(0, "RadioInfo:");
    t.kv(1, "SelectedRadioNum", "0");
    t.line(1, "Radios:");
    t.kv(1, "- RadioNum", "0");
    t.kv(3, "HopCount", "2");
    t.kv(3, "NumFrequencies", "6");
    t.kv(3, "TunedToFrequencyNum", "0");
    t.kv(3, "ScanningIsOn", "1");
    t.line(3, "Frequencies:");
    static const char* const freqs[] = {"@ALLTEAMS",    "@DRIVERS", "@ADMIN",
                                        "@RACECONTROL", "@PRIVATE", "@BROADCAST"};
    int f = 0;
    for (const char* name : freqs) {
        t.kv(3, "- FrequencyNum", num(f));
        t.kv(5, "FrequencyName", std::string("\"") + name + "\"");
        t.kv(5, "Priority", num(f == 3 ? 80 : 12));
        t.kv(5, "CarIdx", "-1");
        t.kv(5, "EntryIdx", "-1");
        t.kv(5, "ClubID", "0");
        t.kv(5, "CanScan", "1");
        t.kv(5, "CanSquawk", "1");
        t.kv(5, "Muted", "0");
        t.kv(5, "IsMutable", "1");
        t.kv(5, "IsDeletable", "0");
        ++f;
    }
    t.line(0, "%s", "");
}

void driverInfo(Text& t, const Scenario& s, const std::vector<FieldEntry>& field) {
    const CarSpec& c = s.car;
    t.line(0, "DriverInfo:");
    t.kv(1, "DriverCarIdx", num(s.driver.carIdx));
    t.kv(1, "DriverUserID", num(s.driver.userId));
    t.kv(1, "PaceCarIdx", "-1");
    t.kv(1, "DriverHeadPosX", "-0.084");
    t.kv(1, "DriverHeadPosY", "0.371");
    t.kv(1, "DriverHeadPosZ", "0.642");
    t.kv(1, "DriverCarIsElectric", "0");
    t.kv(1, "DriverCarIdleRPM", fmt("%.3f", c.idleRpm));
    t.kv(1, "DriverCarRedLine", fmt("%.3f", c.redLine));
    t.kv(1, "DriverCarEngCylinderCount", "8");
    t.kv(1, "DriverCarFuelKgPerLtr", "0.750");
    t.kv(1, "DriverCarFuelMaxLtr", fmt("%.3f", c.tankLiters));
    t.kv(1, "DriverCarMaxFuelPct", fmt("%.3f", c.classMaxFuelPct));
    t.kv(1, "DriverCarGearNumForward", num(c.gears));
    t.kv(1, "DriverCarGearNeutral", "1");
    t.kv(1, "DriverCarGearReverse", "1");
    t.kv(1, "DriverCarSLFirstRPM", fmt("%.3f", c.shiftRpm * 0.85));
    t.kv(1, "DriverCarSLShiftRPM", fmt("%.3f", c.shiftRpm));
    t.kv(1, "DriverCarSLLastRPM", fmt("%.3f", c.shiftRpm * 0.97));
    t.kv(1, "DriverCarSLBlinkRPM", fmt("%.3f", c.redLine * 0.99));
    t.kv(1, "DriverCarVersion", "2024.03.05.02");
    t.kv(1, "DriverPitTrkPct", fmt("%.6f", s.track.pitEntryPct));
    t.kv(1, "DriverCarEstLapTime", fmt("%.4f", c.lapTime));
    t.kv(1, "DriverSetupName", "baseline.sto");
    t.kv(1, "DriverSetupIsModified", "0");
    t.kv(1, "DriverSetupLoadTypeName", "user");
    t.kv(1, "DriverSetupPassedTech", "1");
    t.kv(1, "DriverIncidentCount", "0");
    t.line(1, "Drivers:");
    for (const FieldEntry& f : field) {
        t.kv(1, "- CarIdx", num(f.carIdx));
        t.kv(3, "UserName", f.userName);
        t.kv(3, "AbbrevName", f.abbrevName);
        t.kv(3, "Initials", f.initials);
        t.kv(3, "UserID", num(f.userId));
        t.kv(3, "TeamID", "0");
        t.kv(3, "TeamName", f.userName);
        t.kv(3, "CarNumber", "\"" + f.carNumber + "\"");
        t.kv(3, "CarNumberRaw", f.carNumber);
        t.kv(3, "CarPath", c.path);
        t.kv(3, "CarClassID", num(c.classId));
        t.kv(3, "CarID", num(c.id));
        t.kv(3, "CarIsPaceCar", "0");
        t.kv(3, "CarIsAI", "0");
        t.kv(3, "CarIsElectric", "0");
        t.kv(3, "CarScreenName", c.screenName);
        t.kv(3, "CarScreenNameShort", c.shortName);
        t.kv(3, "CarClassShortName", c.classShortName);
        t.kv(3, "CarClassRelSpeed", "0");
        t.kv(3, "CarClassLicenseLevel", "0");
        t.kv(3, "CarClassMaxFuelPct", fmt("%.3f %%", c.classMaxFuelPct));
        t.kv(3, "CarClassWeightPenalty", "0.000 kg");
        t.kv(3, "CarClassPowerAdjust", "0.000 %");
        t.kv(3, "CarClassDryTireSetLimit", "0 %");
        t.kv(3, "CarClassColor", "0xffffff");
        t.kv(3, "CarClassEstLapTime", fmt("%.4f", c.lapTime));
        t.kv(3, "IRating", num(f.iRating));
        t.kv(3, "LicLevel", num(13 + f.iRating % 7));
        t.kv(3, "LicSubLevel", num(300 + f.iRating % 200));
        t.kv(3, "LicString", f.licString);
        t.kv(3, "LicColor", "0x0153db");
        t.kv(3, "IsSpectator", "0");
        t.kv(3, "CarDesignStr", "1,ffffff,0a2f6b,d21e1e");
        t.kv(3, "HelmetDesignStr", "3,0a2f6b,ffffff,d21e1e");
        t.kv(3, "SuitDesignStr", "22,0a2f6b,ffffff,d21e1e");
        t.kv(3, "BodyType", "0");
        t.kv(3, "FaceType", "0");
        t.kv(3, "HelmetType", "0");
        t.kv(3, "CarNumberDesignStr", "0,0,ffffff,777777,000000");
        t.kv(3, "CarSponsor_1", "0");
        t.kv(3, "CarSponsor_2", "0");
        t.kv(3, "ClubName", "Scandinavia");
        t.kv(3, "ClubID", "37");
        t.kv(3, "DivisionName", "Division 3");
        t.kv(3, "DivisionID", "2");
        t.kv(3, "CurDriverIncidentCount", "0");
        t.kv(3, "TeamIncidentCount", "0");
    }
    t.line(0, "%s", "");
}

void splitTimes(Text& t) {
    t.line(0, "SplitTimeInfo:");
    t.line(1, "Sectors:");
    const double starts[] = {0.0, 0.334, 0.667};
    for (int i = 0; i < 3; ++i) {
        t.kv(1, "- SectorNum", num(i));
        t.kv(3, "SectorStartPct", fmt("%.6f", starts[i]));
    }
    t.line(0, "%s", "");
}

void carSetup(Text& t, const Scenario& s, const SessionTextState& st) {
    // The simulator lists the corners in this order.
    static const char* const names[4] = {"LeftFront", "LeftRear", "RightFront", "RightRear"};
    static const int corner[4] = {0, 2, 1, 3};
    t.line(0, "CarSetup:");
    t.kv(1, "UpdateCount", num(st.setupUpdateCount));
    t.line(1, "Tires:");
    for (int i = 0; i < 4; ++i) {
        int c = corner[i];
        t.line(2, "%s:", names[i]);
        t.kv(3, "StartingPressure", pressureText(s.car.startingPressure[c]));
        t.kv(3, "LastHotPressure", pressureText(s.car.startingPressure[c]));
        t.kv(3, "LastTempsOMI",
             fmt("%.0fC", st.tireTemps[c][0]) + ", " + fmt("%.0fC", st.tireTemps[c][1]) + ", " +
                 fmt("%.0fC", st.tireTemps[c][2]));
        t.kv(3, "TreadRemaining",
             fmt("%.0f%%", st.treadRemaining[c][0] * 100) + ", " +
                 fmt("%.0f%%", st.treadRemaining[c][1] * 100) + ", " +
                 fmt("%.0f%%", st.treadRemaining[c][2] * 100));
    }
    t.line(1, "Chassis:");
    t.line(2, "Front:");
    t.kv(3, "BrakePressureBias", "54.0%");
    t.kv(3, "FuelLevel", fmt("%.1f L", s.startFuel()));
    t.line(2, "Rear:");
    t.kv(3, "WingSetting", "6");
    t.line(0, "%s", "");
}

}  // namespace

std::string formatTrackLength(double metres) {
    return fmt("%.2f km", metres / 1000.0);
}

std::string buildSessionText(const Scenario& s, const std::vector<FieldEntry>& field,
                             const SessionTextState& state) {
    Text t;
    t.line(0, "---");
    weekendInfo(t, s);
    sessionInfo(t, s, state);
    cameraAndRadio(t);
    driverInfo(t, s, field);
    splitTimes(t);
    carSetup(t, s, state);
    t.line(0, "...");
    return t.str();
}

}  // namespace simfeed
