#include "tools/report/race_analysis.h"

#include <algorithm>
#include <cmath>

namespace report {

namespace {

// A rise of the fuel level between two laps larger than this is fuel put in, not noise.
constexpr double kRefuelRise = 0.5;

bool isFinishReport(const DataReport& d) {
    return d.sessionState >= kSessionStateCheckered;
}

// One row a lap: of two reports on one lap (on track near the pit entry, then on pit road) the
// later one stands, as it is nearer the stop.
std::vector<const LapReport*> onePerLap(const std::vector<LapReport>& laps) {
    std::vector<const LapReport*> rows;
    for (const LapReport& r : laps) {
        if (!rows.empty() && rows.back()->lap == r.lap) {
            rows.back() = &r;
        } else {
            rows.push_back(&r);
        }
    }
    return rows;
}

}  // namespace

std::string tireCorners(int bits) {
    bits &= 15;
    if (bits == 0) {
        return "none";
    }
    if (bits == 15) {
        return "all four";
    }
    std::string text;
    for (int c = 0; c < 4; ++c) {
        if (bits & (1 << c)) {
            // Appended piece by piece: `"" + std::string(...)` trips GCC 12's -Wrestrict
            // false positive at -O3.
            if (!text.empty()) {
                text += ' ';
            }
            text += kCornerNames[c];
        }
    }
    return text;
}

RaceAnalysis analyseRace(const RaceHistory& history) {
    RaceAnalysis a;
    a.timeLimited = history.session.raceType == kTimeLimited;
    std::vector<const LapReport*> rows = onePerLap(history.laps);

    // Stops reported from the stall, in session-clock order.
    for (const DataReport& d : history.dataReports) {
        if (isFinishReport(d)) {
            a.finishWear = d.wear;
            continue;
        }
        Stop s;
        s.lap = d.lap;
        s.sessionTime = d.sessionTime;
        s.reported = true;
        s.fuelBefore = d.fuelLevel;
        s.tiresOrdered = d.pitServices & 15;
        s.source = &d;
        a.stops.push_back(s);
    }
    // Stops that sent no report (no measured stint behind them) still show as fuel put in.
    for (size_t i = 1; i < rows.size(); ++i) {
        const LapReport& before = *rows[i - 1];
        const LapReport& after = *rows[i];
        bool reported = std::any_of(a.stops.begin(), a.stops.end(), [&](const Stop& s) {
            return s.reported && s.sessionTime >= before.sessionTime &&
                   s.sessionTime < after.sessionTime;
        });
        if (!reported && after.fuelLevel + after.fuelUsed > before.fuelLevel + kRefuelRise &&
            after.fuelLevel > before.fuelLevel) {
            Stop s;
            s.lap = before.lap;
            s.sessionTime = before.sessionTime;
            s.fuelBefore = before.fuelLevel;
            a.stops.push_back(s);
        }
    }
    std::sort(a.stops.begin(), a.stops.end(),
              [](const Stop& x, const Stop& y) { return x.sessionTime < y.sessionTime; });

    // Lap rows and stints: a lap reported after a stop belongs to the next stint. A lap report
    // made at the same second as the stop came before it (pit road, then the stall).
    auto stintOf = [&](const LapReport& r) {
        int stint = 1;
        for (const Stop& s : a.stops) {
            if (r.sessionTime > s.sessionTime) {
                ++stint;
            }
        }
        return stint;
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        const LapReport& r = *rows[i];
        LapRow row;
        row.lap = r.lap;
        row.stint = stintOf(r);
        row.fuelLevel = r.fuelLevel;
        row.burn = a.timeLimited ? r.burnPerMinute : r.burnPerLap;
        row.burnMax = r.burnMax;
        if (r.lapsLeft >= 0 && r.lapsLeft < kUnknownLapsLeft) {
            row.lapsLeft = r.lapsLeft;
        }
        row.fuelToFinish = r.fuelToFinish;
        row.tankLiters = r.tankLiters;
        row.tireDistance = r.tireDistance;
        row.source = &r;
        if (!a.laps.empty() && a.laps.back().stint == row.stint &&
            a.laps.back().lap + 1 == row.lap) {
            row.fuelUsed = std::max(0.0, a.laps.back().fuelLevel - row.fuelLevel);
        } else if (row.stint > 1 && (a.laps.empty() || a.laps.back().stint != row.stint)) {
            // The plugin starts its fuel count again in the stall.
            row.fuelUsed = std::max(0.0, r.fuelUsed);
        }
        a.laps.push_back(row);
    }

    // What each stop put in: the level on the next lap plus what was burnt since the stall
    // (the plugin's count restarts when the tank stops rising), less the level in the stall.
    for (size_t k = 0; k < a.stops.size(); ++k) {
        Stop& s = a.stops[k];
        const LapRow* before = nullptr;
        const LapRow* after = nullptr;
        for (const LapRow& row : a.laps) {
            if (row.stint == static_cast<int>(k) + 1) {
                before = &row;
            } else if (row.stint == static_cast<int>(k) + 2 && !after) {
                after = &row;
            }
        }
        if (after) {
            double added = after->fuelLevel + std::max(0.0, after->source->fuelUsed) - s.fuelBefore;
            s.litersAdded = std::max(0.0, std::round(added * 100) / 100);
            if (before) {
                s.tireDistanceReset = after->tireDistance < before->tireDistance;
            }
        }
    }

    int stintCount = static_cast<int>(a.stops.size()) + 1;
    for (int n = 1; n <= stintCount; ++n) {
        Stint st;
        st.number = n;
        const LapRow* first = nullptr;
        const LapRow* last = nullptr;
        for (const LapRow& row : a.laps) {
            if (row.stint == n) {
                if (!first) {
                    first = &row;
                }
                last = &row;
            }
        }
        if (first) {
            st.firstLap = first->lap;
            st.lastLap = last->lap;
        }
        if (n <= static_cast<int>(a.stops.size())) {
            if (a.stops[n - 1].source) {
                st.wearAtEnd = a.stops[n - 1].source->wear;
            }
        } else {
            st.wearAtEnd = a.finishWear;
        }
        // A stint with neither laps nor tire readings (a stop straight after another) is
        // still counted so that stint numbers follow the stops.
        a.stints.push_back(st);

        if (!first) {
            continue;
        }
        bool stopNeeded = false;
        PitWindow w;
        w.stint = n;
        for (const LapRow& row : a.laps) {
            if (row.stint != n) {
                continue;
            }
            if (row.fuelToFinish > row.fuelLevel) {
                stopNeeded = true;
                if (!w.opens && (row.tankLiters <= 0 || row.fuelToFinish <= row.tankLiters)) {
                    w.opens = row.lap;
                }
            }
        }
        if (!stopNeeded || !last->lapsLeft) {
            if (!stopNeeded) {
                a.stintsReachingFinish.push_back(n);
            }
            continue;
        }
        w.closes = last->lap + static_cast<int>(std::floor(*last->lapsLeft));
        a.windows.push_back(w);
    }
    return a;
}

}  // namespace report
