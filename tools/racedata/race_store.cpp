#include "tools/racedata/race_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>

namespace racedata {

namespace {

std::string columnList(std::span<const Field> fields) {
    std::string columns;
    for (const Field& f : fields) {
        columns += std::string(", \"") + f.key + "\" " +
                   (f.type == FieldType::kInt ? "INTEGER" : "REAL") + " NOT NULL";
    }
    return columns;
}

std::string insertSql(const char* table, std::span<const Field> fields) {
    std::string names = "received_at";
    std::string marks = "strftime('%s','now')";
    for (const Field& f : fields) {
        names += std::string(", \"") + f.key + "\"";
        marks += ", ?";
    }
    return std::string("INSERT INTO ") + table + " (" + names + ") VALUES (" + marks + ")";
}

// A prepared query that finalises itself.
class Query {
  public:
    Query(sqlite3* db, const char* sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) {
            throw StoreError(std::string("cannot prepare query: ") + sqlite3_errmsg(db));
        }
    }
    ~Query() { sqlite3_finalize(statement_); }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    Query& bind(int index, int64_t value) {
        sqlite3_bind_int64(statement_, index, value);
        return *this;
    }
    Query& bind(int index, const std::string& value) {
        sqlite3_bind_text(statement_, index, value.c_str(), static_cast<int>(value.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }
    // True while there is a row.
    bool step() {
        int rc = sqlite3_step(statement_);
        if (rc == SQLITE_ROW) {
            return true;
        }
        if (rc != SQLITE_DONE) {
            throw StoreError(std::string("query failed: ") + sqlite3_errmsg(db_));
        }
        return false;
    }
    bool isNull(int column) { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }
    double real(int column) { return sqlite3_column_double(statement_, column); }
    int64_t integer(int column) { return sqlite3_column_int64(statement_, column); }
    std::string text(int column) {
        const unsigned char* t = sqlite3_column_text(statement_, column);
        return t ? reinterpret_cast<const char*>(t) : "";
    }

  private:
    sqlite3* db_;
    sqlite3_stmt* statement_ = nullptr;
};

}  // namespace

RaceStore::RaceStore(const std::string& path) {
    int rc =
        sqlite3_open_v2(path.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        std::string why = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError("cannot open database " + path + ": " + why);
    }
    try {
        sqlite3_busy_timeout(db_, 5000);
        execute("PRAGMA journal_mode=WAL");
        execute("PRAGMA synchronous=FULL");
        execute(("CREATE TABLE IF NOT EXISTS data_reports (id INTEGER PRIMARY KEY, "
                 "received_at INTEGER NOT NULL" +
                 columnList(dataReportFields()) + ")")
                    .c_str());
        execute(("CREATE TABLE IF NOT EXISTS lap_reports (id INTEGER PRIMARY KEY, "
                 "received_at INTEGER NOT NULL" +
                 columnList(lapReportFields()) + ")")
                    .c_str());
        execute("CREATE INDEX IF NOT EXISTS data_by_car ON data_reports (cid, tid)");
        execute("CREATE INDEX IF NOT EXISTS data_by_session ON data_reports (sid, did, st)");
        execute("CREATE INDEX IF NOT EXISTS lap_by_session ON lap_reports (sid, did, st)");
        execute("CREATE INDEX IF NOT EXISTS lap_by_car ON lap_reports (cid, tid, did, sft)");
        execute(
            "CREATE TABLE IF NOT EXISTS versions (component TEXT PRIMARY KEY, "
            "version TEXT NOT NULL)");
        std::string data = insertSql("data_reports", dataReportFields());
        std::string lap = insertSql("lap_reports", lapReportFields());
        if (sqlite3_prepare_v2(db_, data.c_str(), -1, &insertData_, nullptr) != SQLITE_OK ||
            sqlite3_prepare_v2(db_, lap.c_str(), -1, &insertLap_, nullptr) != SQLITE_OK) {
            fail("cannot prepare the report inserts");
        }
    } catch (...) {
        sqlite3_finalize(insertData_);
        sqlite3_finalize(insertLap_);
        sqlite3_close(db_);
        throw;
    }
}

RaceStore::~RaceStore() {
    sqlite3_finalize(insertData_);
    sqlite3_finalize(insertLap_);
    sqlite3_close(db_);
}

void RaceStore::fail(const std::string& what) {
    throw StoreError(what + ": " + sqlite3_errmsg(db_));
}

void RaceStore::execute(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        std::string why = message ? message : "unknown error";
        sqlite3_free(message);
        throw StoreError(std::string("database statement failed (") + why + "): " + sql);
    }
}

void RaceStore::insert(sqlite3_stmt* statement, std::span<const Field> fields,
                       const std::vector<FieldValue>& values) {
    if (values.size() != fields.size()) {
        throw StoreError("report has the wrong number of fields");
    }
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    for (size_t i = 0; i < fields.size(); ++i) {
        int index = static_cast<int>(i) + 1;
        if (fields[i].type == FieldType::kInt) {
            sqlite3_bind_int64(statement, index, values[i].integer);
        } else {
            sqlite3_bind_double(statement, index, values[i].real);
        }
    }
    int rc = sqlite3_step(statement);
    sqlite3_reset(statement);
    if (rc != SQLITE_DONE) {
        fail("cannot store the report");
    }
}

void RaceStore::insertDataReport(const std::vector<FieldValue>& values) {
    std::lock_guard<std::mutex> lock(mutex_);
    insert(insertData_, dataReportFields(), values);
}

void RaceStore::insertLapReport(const std::vector<FieldValue>& values) {
    std::lock_guard<std::mutex> lock(mutex_);
    insert(insertLap_, lapReportFields(), values);
}

int64_t RaceStore::count(const char* sql) {
    std::lock_guard<std::mutex> lock(mutex_);
    Query q(db_, sql);
    return q.step() ? q.integer(0) : 0;
}

int64_t RaceStore::dataReportCount() {
    return count("SELECT COUNT(*) FROM data_reports");
}
int64_t RaceStore::lapReportCount() {
    return count("SELECT COUNT(*) FROM lap_reports");
}

double RaceStore::previousFuelBurn(int64_t carId, int64_t trackId, int64_t driverId,
                                   int64_t raceType) {
    static constexpr const char* kSql =
        "SELECT MAX(burn) FROM ("
        " SELECT MAX(fbm, CASE sft WHEN 1 THEN fbpl WHEN 2 THEN fbpm ELSE 0 END) AS burn"
        " FROM data_reports WHERE cid = ?1 AND tid = ?2 AND did = ?3 AND sft = ?4"
        " UNION ALL"
        " SELECT MAX(fbm, CASE sft WHEN 1 THEN fbpl WHEN 2 THEN fbpm ELSE 0 END)"
        " FROM lap_reports WHERE cid = ?1 AND tid = ?2 AND did = ?3 AND sft = ?4)";
    std::lock_guard<std::mutex> lock(mutex_);
    Query q(db_, kSql);
    q.bind(1, carId).bind(2, trackId).bind(3, driverId).bind(4, raceType);
    if (!q.step() || q.isNull(0)) {
        return 0;
    }
    return std::max(0.0, q.real(0));
}

int RaceStore::tiresChange(int64_t driverId, int64_t subSessionId, int64_t lapLength) {
    if (lapLength <= 0) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    // Where the car stands now: the newest lap report of this driver in this session.
    Query now(db_,
              "SELECT cid, tid, tlu, fl, fta, fbpl FROM lap_reports WHERE sid = ? AND did = ?"
              " ORDER BY st DESC, id DESC LIMIT 1");
    now.bind(1, subSessionId).bind(2, driverId);
    if (!now.step()) {
        return 0;
    }
    int64_t carId = now.integer(0);
    int64_t trackId = now.integer(1);
    double tireDistance = std::max<int64_t>(0, now.integer(2));
    double fuelAfterStop = now.real(3) + std::max(0.0, now.real(4));
    double burnPerLap = now.real(5);
    if (burnPerLap <= 0 || fuelAfterStop <= 0) {
        return 0;
    }

    // Each data report of this car and track gives the tread left on its most worn tire; the
    // lap report just before it in the same session says how far those tires had run.
    Query history(db_,
                  "SELECT MIN(d.wlf, d.wrf, d.wlr, d.wrr),"
                  " (SELECT l.tlu FROM lap_reports l WHERE l.sid = d.sid AND l.did = d.did"
                  "  AND l.st <= d.st ORDER BY l.st DESC, l.id DESC LIMIT 1)"
                  " FROM data_reports d WHERE d.cid = ? AND d.tid = ?");
    history.bind(1, carId).bind(2, trackId);
    double worn = 0;
    double metres = 0;
    while (history.step()) {
        if (history.isNull(1)) {
            continue;
        }
        double tread = history.real(0);
        double distance = static_cast<double>(history.integer(1));
        if (distance <= 0 || tread < 0 || tread > 1) {
            continue;
        }
        worn += 1.0 - tread;
        metres += distance;
    }
    if (metres <= 0) {
        return 0;
    }
    double wearPerMetre = worn / metres;
    double stintMetres = fuelAfterStop / burnPerLap * static_cast<double>(lapLength);
    double treadAtStintEnd = 1.0 - wearPerMetre * (tireDistance + stintMetres);
    return treadAtStintEnd < kTreadLimit ? 1 : 0;
}

double RaceStore::weatherChange(int64_t driverId, int64_t subSessionId) {
    static constexpr const char* kSql =
        "SELECT ctt FROM (SELECT st, id, 0 AS kind, ctt FROM data_reports WHERE sid = ?1 AND did = "
        "?2"
        " UNION ALL SELECT st, id, 1, ctt FROM lap_reports WHERE sid = ?1 AND did = ?2)"
        " ORDER BY st %s, kind %s, id %s LIMIT 1";
    auto trackTemperature = [&](bool first, double& value) {
        char sql[512];
        const char* order = first ? "ASC" : "DESC";
        std::snprintf(sql, sizeof sql, kSql, order, order, order);
        Query q(db_, sql);
        q.bind(1, subSessionId).bind(2, driverId);
        if (!q.step()) {
            return false;
        }
        value = q.real(0);
        return true;
    };
    std::lock_guard<std::mutex> lock(mutex_);
    double first = 0;
    double last = 0;
    if (!trackTemperature(true, first) || !trackTemperature(false, last)) {
        return 0;
    }
    double warmerFahrenheit = (last - first) * 9.0 / 5.0;
    // A warmer track heats the tires more, so they need less cold pressure.
    return -warmerFahrenheit * kPsiPerFahrenheit * kKpaPerPsi;
}

std::optional<std::string> RaceStore::publishedVersion(const std::string& component) {
    std::lock_guard<std::mutex> lock(mutex_);
    Query q(db_, "SELECT version FROM versions WHERE component = ?");
    q.bind(1, component);
    if (!q.step()) {
        return std::nullopt;
    }
    return q.text(0);
}

void RaceStore::publishVersion(const std::string& component, const std::string& version) {
    std::lock_guard<std::mutex> lock(mutex_);
    Query q(db_,
            "INSERT INTO versions (component, version) VALUES (?, ?)"
            " ON CONFLICT (component) DO UPDATE SET version = excluded.version");
    q.bind(1, component).bind(2, version);
    q.step();
}

}  // namespace racedata
