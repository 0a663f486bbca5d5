#pragma once
// The session-information text in the simulator's layout: WeekendInfo, SessionInfo with the
// weekend's sessions and their results, CameraInfo, RadioInfo, DriverInfo with the whole
// field, SplitTimeInfo and CarSetup. Blocks are indented by one blank per level, list items
// start with "- ", values never carry trailing blanks.

#include <map>
#include <string>
#include <vector>

#include "tools/simfeed/field.h"
#include "tools/simfeed/scenario.h"

namespace simfeed {

struct ResultEntry {
    int position = 0;       // 1-based
    int classPosition = 0;  // 0-based, as the simulator writes it
    int carIdx = 0;
    int lap = 0;
    double time = 0;
    int fastestLap = 0;
    double fastestTime = -1;
    double lastTime = -1;
    int lapsLed = 0;
    int lapsComplete = 0;
    int incidents = 0;
    int reasonOut = 0;  // 0 running
};

struct SessionResults {
    std::vector<ResultEntry> positions;
    int lapsComplete = -1;
    double averageLapTime = -1;
    bool official = false;
};

struct SessionTextState {
    int currentSession = 0;
    std::map<int, SessionResults> results;  // by session number
    int setupUpdateCount = 1;
    double tireTemps[4][3] = {};  // last measured carcass temps per corner (OMI)
    double treadRemaining[4][3] = {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}};
};

std::string buildSessionText(const Scenario& s, const std::vector<FieldEntry>& field,
                             const SessionTextState& state);

// "5.15 km", "60.00 kph", "25.55 C": the simulator's unit-suffixed numbers.
std::string formatTrackLength(double metres);

}  // namespace simfeed
