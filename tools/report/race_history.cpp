#include "tools/report/race_history.h"

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

namespace report {

namespace {

// One read-only use of the database; closes itself.
class Database {
  public:
    explicit Database(const std::string& path) : path_(path) {
        std::error_code ec;
        if (!std::filesystem::exists(path, ec)) {
            throw ReportError("race-data database " + path + " not found");
        }
        if (std::filesystem::is_directory(path, ec)) {
            throw ReportError("race-data database " + path + " is a folder, not a file");
        }
        // Read-write without create first: a WAL database the service has closed needs its
        // shared-memory file made, which a read-only connection may not do. A file we may not
        // write is still read.
        int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr);
        if (rc != SQLITE_OK) {
            sqlite3_close(db_);
            db_ = nullptr;
            rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr);
        }
        if (rc != SQLITE_OK) {
            std::string why = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
            sqlite3_close(db_);
            throw ReportError("cannot open race-data database " + path + ": " + why);
        }
        sqlite3_busy_timeout(db_, 5000);
    }
    ~Database() { sqlite3_close(db_); }
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    sqlite3* handle() const { return db_; }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    sqlite3* db_ = nullptr;
};

class Query {
  public:
    Query(const Database& db, const char* sql) : db_(db) {
        if (sqlite3_prepare_v2(db.handle(), sql, -1, &statement_, nullptr) != SQLITE_OK) {
            fail();
        }
    }
    ~Query() { sqlite3_finalize(statement_); }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    Query& bind(int index, int64_t value) {
        sqlite3_bind_int64(statement_, index, value);
        return *this;
    }
    bool step() {
        int rc = sqlite3_step(statement_);
        if (rc == SQLITE_ROW) {
            return true;
        }
        if (rc != SQLITE_DONE) {
            fail();
        }
        return false;
    }
    int64_t integer(int column) { return sqlite3_column_int64(statement_, column); }
    int small(int column) { return sqlite3_column_int(statement_, column); }
    double real(int column) { return sqlite3_column_double(statement_, column); }
    bool isNull(int column) { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }

  private:
    [[noreturn]] void fail() {
        throw ReportError("cannot read race-data database " + db_.path() + ": " +
                          sqlite3_errmsg(db_.handle()));
    }
    const Database& db_;
    sqlite3_stmt* statement_ = nullptr;
};

void requireTables(const Database& db) {
    Query tables(db,
                 "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table'"
                 " AND name IN ('lap_reports', 'data_reports')");
    if (!tables.step() || tables.integer(0) != 2) {
        throw ReportError(db.path() +
                          " is not a race-data database (it has no lap_reports and data_reports "
                          "tables)");
    }
}

int64_t newestSession(const Database& db) {
    Query q(db,
            "SELECT sid FROM (SELECT sid, received_at, id, 0 AS t FROM lap_reports"
            " UNION ALL SELECT sid, received_at, id, 1 FROM data_reports)"
            " ORDER BY received_at DESC, t DESC, id DESC LIMIT 1");
    if (!q.step()) {
        throw ReportError("race-data database " + db.path() + " holds no reports yet");
    }
    return q.integer(0);
}

// The race if there is one, else the kind that reported last.
void chooseKind(const Database& db, SessionChoice& session) {
    Query q(db,
            "SELECT sli, COUNT(*), MAX(received_at) FROM (SELECT sli, received_at FROM lap_reports"
            " WHERE sid = ?1 UNION ALL SELECT sli, received_at FROM data_reports WHERE sid = ?1)"
            " GROUP BY sli ORDER BY MAX(received_at) DESC");
    q.bind(1, session.subSessionId);
    std::vector<std::pair<int, int64_t>> kinds;
    while (q.step()) {
        kinds.emplace_back(q.small(0), q.integer(1));
    }
    if (kinds.empty()) {
        throw ReportError("race-data database " + db.path() + " has no session " +
                          std::to_string(session.subSessionId));
    }
    auto race = std::find_if(kinds.begin(), kinds.end(),
                             [](const auto& k) { return k.first == kSessionKindRace; });
    session.kind = race != kinds.end() ? race->first : kinds.front().first;
    for (const auto& k : kinds) {
        if (k.first != session.kind) {
            session.otherKinds.push_back(k);
        }
    }
}

}  // namespace

const char* sessionKindName(int kind) {
    switch (kind) {
        case 1:
            return "testing";
        case 2:
            return "practice";
        case 3:
            return "qualifying";
        case 4:
            return "race";
        case 5:
            return "time trial";
        case 6:
            return "heat";
        default:
            return "other session";
    }
}

RaceHistory loadRaceHistory(const std::string& databasePath, std::optional<int64_t> subSessionId) {
    Database db(databasePath);
    requireTables(db);
    RaceHistory history;
    history.session.subSessionId = subSessionId ? *subSessionId : newestSession(db);
    chooseKind(db, history.session);
    const int64_t sid = history.session.subSessionId;
    const int64_t kind = history.session.kind;
    std::set<int> drivers;

    Query laps(db,
               "SELECT id, sl, st, sst, did, psv, fl, fu, fbpl, fbpm, fbm, llt, fs, fta, fn, slr,"
               " str, pos, tlu, sft, tid, cid FROM lap_reports WHERE sid = ? AND sli = ?"
               " ORDER BY st, id");
    laps.bind(1, sid).bind(2, kind);
    while (laps.step()) {
        LapReport r;
        r.id = laps.integer(0);
        r.lap = laps.small(1);
        r.sessionTime = laps.integer(2);
        r.sessionState = laps.small(3);
        r.driverId = laps.small(4);
        r.pitServices = laps.small(5);
        r.fuelLevel = laps.real(6);
        r.fuelUsed = laps.real(7);
        r.burnPerLap = laps.real(8);
        r.burnPerMinute = laps.real(9);
        r.burnMax = laps.real(10);
        r.lapsLeft = laps.real(11);
        r.tankLiters = laps.real(12);
        r.litersToAdd = laps.real(13);
        r.fuelToFinish = laps.real(14);
        r.lapsRemaining = laps.small(15);
        r.timeRemaining = laps.integer(16);
        r.position = laps.small(17);
        r.tireDistance = laps.integer(18);
        r.raceType = laps.small(19);
        history.session.trackId = laps.small(20);
        history.session.carId = laps.small(21);
        history.session.raceType = r.raceType;
        drivers.insert(r.driverId);
        history.laps.push_back(r);
    }

    Query data(db,
               "SELECT id, sl, st, sst, did, psv, fl, fu, fta, fbpl, fbpm, fbm, wlf, wrf, wlr, wrr,"
               " sft, tid, cid FROM data_reports WHERE sid = ? AND sli = ? ORDER BY st, id");
    data.bind(1, sid).bind(2, kind);
    while (data.step()) {
        DataReport r;
        r.id = data.integer(0);
        r.lap = data.small(1);
        r.sessionTime = data.integer(2);
        r.sessionState = data.small(3);
        r.driverId = data.small(4);
        r.pitServices = data.small(5);
        r.fuelLevel = data.real(6);
        r.fuelUsed = data.real(7);
        r.litersToAdd = data.real(8);
        r.burnPerLap = data.real(9);
        r.burnPerMinute = data.real(10);
        r.burnMax = data.real(11);
        for (int c = 0; c < 4; ++c) {
            r.wear[c] = data.real(12 + c);
        }
        r.raceType = data.small(16);
        if (history.laps.empty()) {
            history.session.trackId = data.small(17);
            history.session.carId = data.small(18);
            history.session.raceType = r.raceType;
        }
        drivers.insert(r.driverId);
        history.dataReports.push_back(r);
    }
    history.session.driverIds.assign(drivers.begin(), drivers.end());
    return history;
}

}  // namespace report
