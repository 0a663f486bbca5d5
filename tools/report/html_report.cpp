#include "tools/report/html_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>
#include <vector>

namespace report {

namespace {

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// An axis label: no trailing zeros, so 6.25 and 5 read as such.
std::string tickLabel(double value) {
    std::string text = fixed(value, 2);
    while (text.back() == '0') {
        text.pop_back();
    }
    if (text.back() == '.') {
        text.pop_back();
    }
    return text;
}

std::string number(int64_t value) {
    return std::to_string(value);
}

struct Point {
    int lap;
    double value;
};

struct Series {
    std::string name;   // data-series
    std::string label;  // legend
    std::string color;
    bool bars = false;
    int decimals = 2;
    std::vector<Point> points;
};

struct Band {
    int from;
    int to;
    std::string attributes;  // already escaped
    std::string label;
};

struct Marker {
    int lap;
    std::string attributes;
    std::string label;
};

struct Chart {
    std::string id;
    std::string title;
    std::string unit;
    std::vector<Series> series;
    std::vector<Band> bands;
    std::vector<Marker> markers;
};

constexpr double kWidth = 760;
constexpr double kHeight = 260;
constexpr double kLeft = 56;
constexpr double kRight = 16;
constexpr double kTop = 16;
constexpr double kBottom = 34;

// The top of the value axis: a round number a little above the largest value.
double axisTop(double largest) {
    if (largest <= 0) {
        return 1;
    }
    double step = std::pow(10.0, std::floor(std::log10(largest)));
    for (double f : {1.0, 2.0, 2.5, 5.0, 10.0}) {
        if (f * step >= largest * 1.05) {
            return f * step;
        }
    }
    return 10 * step;
}

std::string renderChart(const Chart& chart, int firstLap, int lastLap) {
    double largest = 0;
    for (const Series& s : chart.series) {
        for (const Point& p : s.points) {
            largest = std::max(largest, p.value);
        }
    }
    double top = axisTop(largest);
    double lo = firstLap - 0.5;
    double hi = lastLap + 0.5;
    double plotW = kWidth - kLeft - kRight;
    double plotH = kHeight - kTop - kBottom;
    auto x = [&](double lap) { return kLeft + (lap - lo) / (hi - lo) * plotW; };
    auto y = [&](double v) { return kTop + plotH - std::clamp(v / top, 0.0, 1.0) * plotH; };
    double slot = plotW / (hi - lo);

    std::string svg = "<svg class=\"chart\" id=\"" + chart.id + "\" viewBox=\"0 0 " +
                      fixed(kWidth, 0) + " " + fixed(kHeight, 0) +
                      "\" xmlns=\"http://www.w3.org/2000/svg\" role=\"img\"><title>" +
                      escapeHtml(chart.title) + "</title>\n";
    for (const Band& b : chart.bands) {
        double from = std::max(lo, b.from - 0.5);
        double to = std::min(hi, b.to + 0.5);
        if (to <= from) {
            continue;
        }
        svg += "<rect class=\"window\" " + b.attributes + " x=\"" + fixed(x(from), 1) + "\" y=\"" +
               fixed(kTop, 1) + "\" width=\"" + fixed(x(to) - x(from), 1) + "\" height=\"" +
               fixed(plotH, 1) + "\"><title>" + escapeHtml(b.label) + "</title></rect>\n";
    }
    for (int i = 0; i <= 4; ++i) {
        double v = top * i / 4;
        svg += "<line class=\"grid\" x1=\"" + fixed(kLeft, 1) + "\" x2=\"" +
               fixed(kWidth - kRight, 1) + "\" y1=\"" + fixed(y(v), 1) + "\" y2=\"" +
               fixed(y(v), 1) + "\"/><text class=\"tick\" x=\"" + fixed(kLeft - 6, 1) + "\" y=\"" +
               fixed(y(v) + 4, 1) + "\" text-anchor=\"end\">" + tickLabel(v) + "</text>\n";
    }
    int laps = lastLap - firstLap + 1;
    int step = laps <= 30 ? 1 : laps <= 60 ? 5 : 10;
    for (int lap = firstLap; lap <= lastLap; ++lap) {
        if (lap % step == 0 || laps <= 30) {
            svg += "<text class=\"tick\" x=\"" + fixed(x(lap), 1) + "\" y=\"" +
                   fixed(kHeight - kBottom + 16, 1) + "\" text-anchor=\"middle\">" + number(lap) +
                   "</text>";
        }
    }
    svg += "<text class=\"axis\" x=\"" + fixed(kLeft + plotW / 2, 1) + "\" y=\"" +
           fixed(kHeight - 2, 1) + "\" text-anchor=\"middle\">lap</text><text class=\"axis\" " +
           "x=\"12\" y=\"" + fixed(kTop + plotH / 2, 1) + "\" transform=\"rotate(-90 12 " +
           fixed(kTop + plotH / 2, 1) + ")\" text-anchor=\"middle\">" + escapeHtml(chart.unit) +
           "</text>\n";

    size_t barSeries = std::count_if(chart.series.begin(), chart.series.end(),
                                     [](const Series& s) { return s.bars; });
    size_t barIndex = 0;
    for (const Series& s : chart.series) {
        if (s.bars) {
            double w = slot * 0.7 / static_cast<double>(barSeries);
            for (const Point& p : s.points) {
                double left = x(p.lap) - slot * 0.35 + w * static_cast<double>(barIndex);
                svg += "<rect class=\"bar\" data-series=\"" + s.name + "\" data-lap=\"" +
                       number(p.lap) + "\" data-value=\"" + fixed(p.value, s.decimals) + "\" x=\"" +
                       fixed(left, 1) + "\" y=\"" + fixed(y(p.value), 1) + "\" width=\"" +
                       fixed(w, 1) + "\" height=\"" + fixed(kTop + plotH - y(p.value), 1) +
                       "\" fill=\"" + s.color + "\"><title>lap " + number(p.lap) + ": " +
                       fixed(p.value, s.decimals) + "</title></rect>\n";
            }
            ++barIndex;
            continue;
        }
        if (s.points.size() > 1) {
            svg += "<polyline class=\"line\" fill=\"none\" stroke=\"" + s.color + "\" points=\"";
            for (const Point& p : s.points) {
                svg += fixed(x(p.lap), 1) + "," + fixed(y(p.value), 1) + " ";
            }
            svg += "\"/>\n";
        }
        for (const Point& p : s.points) {
            svg += "<circle data-series=\"" + s.name + "\" data-lap=\"" + number(p.lap) +
                   "\" data-value=\"" + fixed(p.value, s.decimals) + "\" cx=\"" +
                   fixed(x(p.lap), 1) + "\" cy=\"" + fixed(y(p.value), 1) + "\" r=\"3.5\" fill=\"" +
                   s.color + "\"><title>lap " + number(p.lap) + ": " + fixed(p.value, s.decimals) +
                   "</title></circle>\n";
        }
    }
    for (const Marker& m : chart.markers) {
        if (m.lap < firstLap || m.lap > lastLap) {
            continue;
        }
        double at = x(m.lap + 0.5);
        svg += "<line class=\"stop\" " + m.attributes + " x1=\"" + fixed(at, 1) + "\" x2=\"" +
               fixed(at, 1) + "\" y1=\"" + fixed(kTop, 1) + "\" y2=\"" + fixed(kTop + plotH, 1) +
               "\"><title>" + escapeHtml(m.label) +
               "</title></line><text class=\"stoplabel\" x=\"" + fixed(at + 3, 1) + "\" y=\"" +
               fixed(kTop + 10, 1) + "\">" + escapeHtml(m.label) + "</text>\n";
    }
    svg += "</svg>\n<p class=\"legend\">";
    for (const Series& s : chart.series) {
        svg +=
            "<span><i style=\"background:" + s.color + "\"></i>" + escapeHtml(s.label) + "</span>";
    }
    if (!chart.markers.empty()) {
        svg += "<span><i class=\"stopkey\"></i>pit stop</span>";
    }
    if (!chart.bands.empty()) {
        svg += "<span><i class=\"windowkey\"></i>pit window</span>";
    }
    return svg + "</p>\n";
}

std::string wearChart(const RaceAnalysis& a) {
    struct Reading {
        std::string stint;  // data-stint: the stint number
        std::string label;
        std::array<double, 4> wear;
    };
    std::vector<Reading> readings;
    for (const Stint& s : a.stints) {
        if (s.wearAtEnd) {
            readings.push_back({number(s.number), "stint " + number(s.number), *s.wearAtEnd});
        }
    }
    if (readings.empty()) {
        return "<p class=\"missing\">No tire readings were stored for this session: the plugin "
               "sends them only when the car stops in its stall after a measured stint and at "
               "the checkered flag.</p>\n";
    }
    const char* colors[4] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728"};
    double plotW = kWidth - kLeft - kRight;
    double plotH = kHeight - kTop - kBottom;
    double group = plotW / static_cast<double>(readings.size());
    double bar = std::min(40.0, group * 0.8 / 4);
    auto y = [&](double v) { return kTop + plotH - std::clamp(v, 0.0, 1.0) * plotH; };
    std::string svg =
        "<svg class=\"chart\" id=\"tire-wear\" viewBox=\"0 0 760 260\" "
        "xmlns=\"http://www.w3.org/2000/svg\" role=\"img\"><title>Tire tread left per "
        "corner at the end of each stint</title>\n";
    for (int i = 0; i <= 4; ++i) {
        double v = i / 4.0;
        svg += "<line class=\"grid\" x1=\"" + fixed(kLeft, 1) + "\" x2=\"" +
               fixed(kWidth - kRight, 1) + "\" y1=\"" + fixed(y(v), 1) + "\" y2=\"" +
               fixed(y(v), 1) + "\"/><text class=\"tick\" x=\"" + fixed(kLeft - 6, 1) + "\" y=\"" +
               fixed(y(v) + 4, 1) + "\" text-anchor=\"end\">" + fixed(v * 100, 0) + "%</text>\n";
    }
    for (size_t g = 0; g < readings.size(); ++g) {
        double start = kLeft + group * static_cast<double>(g) + (group - bar * 4) / 2;
        for (int c = 0; c < 4; ++c) {
            double v = readings[g].wear[c];
            svg += "<rect class=\"bar\" data-series=\"tire-wear\" data-stint=\"" +
                   readings[g].stint + "\" data-corner=\"" + kCornerNames[c] + "\" data-value=\"" +
                   fixed(v, 2) + "\" x=\"" + fixed(start + bar * c, 1) + "\" y=\"" +
                   fixed(y(v), 1) + "\" width=\"" + fixed(bar - 2, 1) + "\" height=\"" +
                   fixed(kTop + plotH - y(v), 1) + "\" fill=\"" + colors[c] + "\"><title>" +
                   escapeHtml(readings[g].label) + " " + kCornerNames[c] + ": " +
                   fixed(v * 100, 0) + "% tread</title></rect>\n";
        }
        svg += "<text class=\"tick\" x=\"" + fixed(start + bar * 2, 1) + "\" y=\"" +
               fixed(kHeight - kBottom + 16, 1) + "\" text-anchor=\"middle\">" +
               escapeHtml(readings[g].label) + "</text>\n";
    }
    svg += "<line class=\"limit\" x1=\"" + fixed(kLeft, 1) + "\" x2=\"" +
           fixed(kWidth - kRight, 1) + "\" y1=\"" + fixed(y(0.75), 1) + "\" y2=\"" +
           fixed(y(0.75), 1) + "\"><title>75% tread: the plugin changes tires below this</title>" +
           "</line>\n</svg>\n<p class=\"legend\">";
    for (int c = 0; c < 4; ++c) {
        svg += std::string("<span><i style=\"background:") + colors[c] + "\"></i>" +
               kCornerNames[c] + "</span>";
    }
    return svg +
           "<span><i class=\"limitkey\"></i>75% change limit</span></p>\n<p class=\"note\">Tread "
           "left on the inner side of each tire (100% = new), as read at each stop and at the "
           "checkered flag.</p>\n";
}

const char* kStyle = R"(<style>
body{font-family:system-ui,-apple-system,"Segoe UI",Roboto,Arial,sans-serif;margin:0 auto;
max-width:820px;padding:16px;color:#1b1f24;background:#fafbfc}
h1{font-size:1.5em;margin:.2em 0}h2{font-size:1.15em;margin:1.6em 0 .4em;border-bottom:1px solid
#d0d7de;padding-bottom:.2em}
.facts{display:flex;flex-wrap:wrap;gap:8px;margin:.8em 0}.facts div{background:#fff;border:1px
solid #d0d7de;border-radius:6px;padding:6px 10px}.facts b{display:block;font-size:1.3em}
svg.chart{width:100%;height:auto;background:#fff;border:1px solid #d0d7de;border-radius:6px}
.grid{stroke:#e6e9ed;stroke-width:1}.tick,.axis,.stoplabel{font-size:11px;fill:#57606a}
.line{stroke-width:2}.stop{stroke:#6e40c9;stroke-width:2;stroke-dasharray:5 4}
.stoplabel{fill:#6e40c9}.window{fill:#2da44e;fill-opacity:.14}.limit{stroke:#cf222e;
stroke-dasharray:4 3}
.legend span{margin-right:14px;font-size:.9em}.legend i{display:inline-block;width:12px;
height:12px;margin-right:4px;vertical-align:-1px;border-radius:2px}
.stopkey{border-left:2px dashed #6e40c9}.windowkey{background:#2da44e55}.limitkey{border-top:2px
dashed #cf222e}
table{border-collapse:collapse;width:100%;background:#fff}td,th{border:1px solid #d0d7de;
padding:4px 8px;text-align:right}th{background:#f3f4f6}td.t,th.t{text-align:left}
.missing{background:#fff8c5;border:1px solid #d4a72c;border-radius:6px;padding:8px}
.note,.source{color:#57606a;font-size:.9em}
</style>)";

std::string factTile(const std::string& label, const std::string& value) {
    return "<div><b>" + escapeHtml(value) + "</b>" + escapeHtml(label) + "</div>";
}

}  // namespace

std::string escapeHtml(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string renderReport(const RaceHistory& history, const RaceAnalysis& a,
                         const PageSource& source) {
    const SessionChoice& s = history.session;
    std::string kind = sessionKindName(s.kind);
    std::string unit = a.timeLimited ? "minute" : "lap";
    std::string title = "Race report: subsession " + number(s.subSessionId) + ", " + kind;
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">\n"
        "<title>" +
        escapeHtml(title) + "</title>\n" + kStyle + "</head><body>\n<h1>" + escapeHtml(title) +
        "</h1>\n";

    std::string drivers;
    for (int d : s.driverIds) {
        drivers += (drivers.empty() ? "" : ", ") + number(d);
    }
    html += "<p>Track " + number(s.trackId) + ", car " + number(s.carId) + ", driver" +
            (s.driverIds.size() > 1 ? "s " : " ") + escapeHtml(drivers) + "; " +
            (a.timeLimited               ? "a race limited by time"
             : s.raceType == kLapLimited ? "a race limited by laps"
                                         : "race length not known") +
            ".</p>\n";
    for (const auto& other : s.otherKinds) {
        html += "<p class=\"note\">This subsession also holds " + number(other.second) +
                " reports of its " + escapeHtml(sessionKindName(other.first)) +
                ", not shown here.</p>\n";
    }

    double used = 0;
    int usedLaps = 0;
    for (const LapRow& row : a.laps) {
        if (row.fuelUsed) {
            used += *row.fuelUsed;
            ++usedLaps;
        }
    }
    html += "<div class=\"facts\">" + factTile("laps reported", number(a.laps.size())) +
            factTile("pit stops", number(a.stops.size()));
    if (usedLaps > 0) {
        html += factTile("liters a lap on average", fixed(used / usedLaps, 2));
    }
    if (!a.laps.empty()) {
        html +=
            factTile("FuelBurnMax at the last lap, per " + unit, fixed(a.laps.back().burnMax, 2));
    }
    html += "</div>\n";

    if (a.laps.empty()) {
        html +=
            "<p class=\"missing\" id=\"no-lap-data\">No lap reports were stored for this "
            "session, so there is no lap data to chart: the plugin sends one as the car "
            "nears the pit entry each lap.</p>\n";
    } else {
        int firstLap = a.laps.front().lap;
        int lastLap = a.laps.front().lap;
        for (const LapRow& row : a.laps) {
            firstLap = std::min(firstLap, row.lap);
            lastLap = std::max(lastLap, row.lap);
        }
        std::vector<Marker> stops;
        for (size_t i = 0; i < a.stops.size(); ++i) {
            const Stop& st = a.stops[i];
            stops.push_back(
                {st.lap, "data-stop=\"" + number(i + 1) + "\" data-lap=\"" + number(st.lap) + "\"",
                 "stop " + number(i + 1)});
        }

        Chart level{"fuel-level", "Fuel in the tank at the pit entry, each lap", "liters", {}, {},
                    stops};
        Series fl{"fuel-level", "fuel level (liters)", "#1f77b4", false, 3, {}};
        Chart usedChart{"fuel-used", "Fuel used per lap", "liters", {}, {}, stops};
        Series fu{"fuel-used", "fuel used over the lap (liters)", "#ff7f0e", true, 2, {}};
        Chart burn{
            "burn", "Burn per " + unit + " against FuelBurnMax", "liters per " + unit, {}, {},
            stops};
        Series fb{"burn", "burn per " + unit + " over the stint so far", "#2ca02c", false, 2, {}};
        Series fm{"burn-max", "FuelBurnMax (used for the fuel still needed)", "#d62728", false, 2,
                  {}};
        Chart left{"laps-left", "Laps of fuel left and pit windows", "laps", {}, {}, stops};
        Series ll{"laps-left", "laps of fuel left", "#6e40c9", false, 2, {}};
        for (const LapRow& row : a.laps) {
            fl.points.push_back({row.lap, row.fuelLevel});
            if (row.fuelUsed) {
                fu.points.push_back({row.lap, *row.fuelUsed});
            }
            fb.points.push_back({row.lap, row.burn});
            // 0 until the plugin has measured a lap of the stint: no maximum yet, not a 0 burn.
            if (row.burnMax > 0) {
                fm.points.push_back({row.lap, row.burnMax});
            }
            if (row.lapsLeft) {
                ll.points.push_back({row.lap, *row.lapsLeft});
            }
        }
        for (const PitWindow& w : a.windows) {
            if (w.opens) {
                left.bands.push_back({*w.opens, w.closes,
                                      "data-stint=\"" + number(w.stint) + "\" data-opens=\"" +
                                          number(*w.opens) + "\" data-closes=\"" +
                                          number(w.closes) + "\"",
                                      "pit window of stint " + number(w.stint) + ": laps " +
                                          number(*w.opens) + " to " + number(w.closes)});
            }
        }
        level.series.push_back(fl);
        usedChart.series.push_back(fu);
        burn.series.push_back(fb);
        burn.series.push_back(fm);
        left.series.push_back(ll);

        html += "<h2>Fuel</h2>\n" + renderChart(level, firstLap, lastLap);
        if (fu.points.empty()) {
            html +=
                "<p class=\"missing\">No lap has a fuel use: it needs two reports on "
                "consecutive laps of one stint.</p>\n";
        } else {
            html += renderChart(usedChart, firstLap, lastLap);
        }
        if (fu.points.size() < a.laps.size()) {
            html +=
                "<p class=\"note\">Fuel used is left out where it is not known: the first "
                "lap of the race and laps after a gap in the reports.</p>\n";
        }
        html += "<h2>Burn per " + unit + "</h2>\n" + renderChart(burn, firstLap, lastLap);
        if (fm.points.size() < a.laps.size()) {
            html +=
                "<p class=\"note\">FuelBurnMax shows from the second lap of a stint on: the "
                "plugin has no maximum before it has measured a lap.</p>\n";
        }
        html +=
            "<h2>Laps of fuel left and pit windows</h2>\n" + renderChart(left, firstLap, lastLap);
        if (ll.points.size() < a.laps.size()) {
            html +=
                "<p class=\"note\">Laps where the plugin had no burn figure yet show no laps "
                "of fuel left.</p>\n";
        }
        html +=
            "<table id=\"pit-windows\"><tr><th class=\"t\">stint</th><th>window opens "
            "(lap)</th><th>last lap the fuel reaches</th></tr>\n";
        for (const Stint& st : a.stints) {
            auto w = std::find_if(a.windows.begin(), a.windows.end(),
                                  [&](const PitWindow& pw) { return pw.stint == st.number; });
            bool finish = std::find(a.stintsReachingFinish.begin(), a.stintsReachingFinish.end(),
                                    st.number) != a.stintsReachingFinish.end();
            html += "<tr><td class=\"t\">" + number(st.number) + "</td>";
            if (w != a.windows.end()) {
                html += "<td>" + (w->opens ? number(*w->opens) : "not within this stint") +
                        "</td><td>" + number(w->closes) + "</td>";
            } else if (finish) {
                html += "<td colspan=\"2\">no stop needed: the fuel reached the finish</td>";
            } else {
                html += "<td colspan=\"2\">not known (no burn figure in this stint)</td>";
            }
            html += "</tr>\n";
        }
        html +=
            "</table>\n<p class=\"note\">A window opens on the first lap at which the fuel "
            "still needed to finish fits in one tank, and closes on the last lap the fuel in "
            "the tank reaches at the plugin's burn.</p>\n";
    }

    html += "<h2>Tire wear across stints</h2>\n" + wearChart(a);

    html += "<h2>Pit stops</h2>\n";
    if (a.stops.empty()) {
        html += "<p id=\"no-stops\">No pit stop in this session.</p>\n";
    } else {
        html +=
            "<table id=\"stops\"><tr><th>stop</th><th>lap</th><th>fuel on arrival "
            "(liters)</th><th>liters added</th><th class=\"t\">tires</th><th>time in the "
            "stall</th></tr>\n";
        for (size_t i = 0; i < a.stops.size(); ++i) {
            const Stop& st = a.stops[i];
            std::string tires;
            if (st.tiresOrdered && *st.tiresOrdered != 0) {
                tires = tireCorners(*st.tiresOrdered);
            } else if (st.tireDistanceReset.value_or(false)) {
                tires = "changed (corners not stored)";
            } else if (st.tiresOrdered) {
                tires = "none";
            } else {
                tires = "not known";
            }
            html += "<tr data-stop=\"" + number(i + 1) + "\" data-lap=\"" + number(st.lap) +
                    "\" data-liters-added=\"" +
                    (st.litersAdded ? fixed(*st.litersAdded, 2) : std::string("")) + "\"><td>" +
                    number(i + 1) + "</td><td>" + number(st.lap) + "</td><td>" +
                    fixed(st.fuelBefore, 2) + "</td><td>" +
                    (st.litersAdded ? fixed(*st.litersAdded, 2) : "not known") +
                    "</td><td class=\"t\">" + escapeHtml(tires) + "</td><td>not stored</td></tr>\n";
        }
        html +=
            "</table>\n<p class=\"note\">Liters added: the level on the next lap plus the "
            "fuel burnt since the stall, less the level on arrival. The reports do not carry "
            "the time in the stall.";
        if (std::any_of(a.stops.begin(), a.stops.end(),
                        [](const Stop& st) { return !st.reported; })) {
            html +=
                " A stop without a report from the stall (no measured stint behind it) is "
                "seen only from the rise of the fuel level; its lap is the last lap before it.";
        }
        html += "</p>\n";
    }
    html += "<p class=\"source\">Made from " + escapeHtml(source.databasePath) + ".</p>\n";
    return html + "</body></html>\n";
}

}  // namespace report
