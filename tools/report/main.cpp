// Qm_Korvane_Report: one HTML page from the race-data database for a driver to read after a
// session: fuel, burn, pit windows, tire wear and the stops.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>

#include "tools/racedata/report_fields.h"
#include "tools/report/html_report.h"
#include "tools/report/race_analysis.h"
#include "tools/report/race_history.h"

namespace {

constexpr const char* kUsage =
    "usage: Qm_Korvane_Report --db RACEDATA.DB --out REPORT.HTML [--session SUBSESSION_ID]\n"
    "Writes one self-contained HTML page about a session of the race-data database: the\n"
    "newest session, or SUBSESSION_ID. Of its sessions the race is shown when there is one.\n";

int usage(const std::string& why) {
    std::cerr << "Qm_Korvane_Report: " << why << "\n" << kUsage;
    return 2;
}

// Written beside the target and moved over it, so a failed run never leaves half a page.
void writeFile(const std::string& path, const std::string& text) {
    std::string temporary = path + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) {
            throw report::ReportError("cannot write " + path + ": " + std::strerror(errno));
        }
        out << text;
        out.flush();
        if (!out) {
            std::filesystem::remove(temporary);
            throw report::ReportError("cannot write " + path + ": " + std::strerror(errno));
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        std::filesystem::remove(temporary);
        throw report::ReportError("cannot write " + path + ": " + ec.message());
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string database;
    std::string output;
    std::optional<int64_t> session;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (arg != "--db" && arg != "--out" && arg != "--session") {
            return usage("unknown option " + arg);
        }
        if (i + 1 >= argc) {
            return usage(arg + " needs a value");
        }
        std::string value = argv[++i];
        if (arg == "--db") {
            database = value;
        } else if (arg == "--out") {
            output = value;
        } else {
            int64_t id = 0;
            if (!racedata::isDecimalInteger(value, id)) {
                return usage("--session takes a subsession id (a whole number), not " + value);
            }
            session = id;
        }
    }
    if (database.empty() || output.empty()) {
        return usage("--db and --out are needed");
    }

    try {
        report::RaceHistory history = report::loadRaceHistory(database, session);
        report::RaceAnalysis analysis = report::analyseRace(history);
        writeFile(output, report::renderReport(history, analysis, {database}));
        if (analysis.laps.empty()) {
            std::cerr << "Qm_Korvane_Report: subsession " << history.session.subSessionId
                      << " has no lap reports; the report says so\n";
        }
        std::cout << "Qm_Korvane_Report: subsession " << history.session.subSessionId << " ("
                  << report::sessionKindName(history.session.kind) << "), " << analysis.laps.size()
                  << " laps, " << analysis.stops.size() << " stops -> " << output << "\n";
    } catch (const std::exception& e) {
        std::cerr << "Qm_Korvane_Report: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
