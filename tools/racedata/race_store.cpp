#include "tools/racedata/race_store.h"

#include <openssl/evp.h>
#include <pthread.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <span>
#include <tuple>
#include <utility>

#include "tools/racedata/migrations.h"

namespace racedata {

namespace {

// Reports stored in one transaction at most.
constexpr size_t kMaxBatch = 256;
// Tries of a transaction PostgreSQL gave up for a deadlock or a conflict.
constexpr int kTries = 5;

size_t indexOf(std::span<const Field> fields, const char* key) {
    for (size_t i = 0; i < fields.size(); ++i) {
        if (std::string(fields[i].key) == key) {
            return i;
        }
    }
    return fields.size();  // never: every key asked for is in both lists
}

struct Columns {
    explicit Columns(std::span<const Field> f)
        : fields(f),
          sid(indexOf(f, "sid")),
          did(indexOf(f, "did")),
          st(indexOf(f, "st")),
          cid(indexOf(f, "cid")),
          tid(indexOf(f, "tid")),
          sft(indexOf(f, "sft")),
          fbpl(indexOf(f, "fbpl")),
          fbpm(indexOf(f, "fbpm")),
          fbm(indexOf(f, "fbm")) {}
    std::span<const Field> fields;
    size_t sid, did, st, cid, tid, sft, fbpl, fbpm, fbm;
};

const Columns& lapColumns() {
    static const Columns columns(lapReportFields());
    return columns;
}
const Columns& dataColumns() {
    static const Columns columns(dataReportFields());
    return columns;
}

std::string insertSql(const char* table, std::span<const Field> fields,
                      std::initializer_list<const char*> extra) {
    std::string names = "received_at";
    std::string marks = "?";
    for (const Field& f : fields) {
        names += std::string(", \"") + f.key + "\"";
        marks += ", ?";
    }
    for (const char* name : extra) {
        names += std::string(", ") + name;
        marks += ", ?";
    }
    return std::string("INSERT INTO ") + table + " (" + names + ") VALUES (" + marks +
           ") ON CONFLICT (report_key) DO NOTHING RETURNING id";
}

// The burn in the race type's unit, or FuelBurnMax when that is higher.
double burnOf(const Columns& c, const std::vector<FieldValue>& v) {
    const int64_t type = v[c.sft].integer;
    const double inUnit = type == 1 ? v[c.fbpl].real : type == 2 ? v[c.fbpm].real : 0.0;
    return std::max(v[c.fbm].real, inUnit);
}

// Two reports with this key are the same report sent twice.
std::string reportKey(const Columns& c, const std::vector<FieldValue>& v) {
    std::string text = c.fields.size() == lapReportFields().size() ? "lap" : "data";
    char number[40];
    for (size_t i = 0; i < c.fields.size(); ++i) {
        if (c.fields[i].type == FieldType::kInt) {
            std::snprintf(number, sizeof number, ",%lld", static_cast<long long>(v[i].integer));
        } else {
            std::snprintf(number, sizeof number, ",%.17g", v[i].real);
        }
        text += number;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(text.data(), text.size(), digest, &size, EVP_sha256(), nullptr);
    std::string hex;
    for (unsigned int i = 0; i < 16 && i < size; ++i) {
        std::snprintf(number, sizeof number, "%02x", digest[i]);
        hex += number;
    }
    return hex;
}

std::vector<Value> reportParams(const Columns& c, const std::vector<FieldValue>& v) {
    std::vector<Value> params;
    params.reserve(c.fields.size() + 6);
    params.emplace_back(static_cast<int64_t>(std::time(nullptr)));
    for (size_t i = 0; i < c.fields.size(); ++i) {
        if (c.fields[i].type == FieldType::kInt) {
            params.emplace_back(v[i].integer);
        } else {
            params.emplace_back(v[i].real);
        }
    }
    params.emplace_back(burnOf(c, v));
    return params;
}

// What one data report adds to its car and track's wear: the tread it lost over the distance
// the tires had run, when both are something to go on.
struct Wear {
    double worn = 0;
    int64_t metres = 0;
};
Wear wearOf(double tread, const Value& distance) {
    if (isNull(distance) || asInteger(distance) <= 0 || tread < 0 || tread > 1) {
        return {};
    }
    return {1.0 - tread, asInteger(distance)};
}

using CarTrack = std::pair<int64_t, int64_t>;
using WearChanges = std::map<CarTrack, Wear>;

void storeReport(Connection& db, bool lap, const std::vector<FieldValue>& v, WearChanges& wear) {
    static const std::string insertLap =
        insertSql("lap_reports", lapReportFields(), {"burn", "report_key"});
    static const std::string insertData = insertSql(
        "data_reports", dataReportFields(), {"burn", "tread", "pair_st", "pair_tlu", "report_key"});
    const Columns& c = lap ? lapColumns() : dataColumns();
    const int64_t sid = v[c.sid].integer;
    const int64_t did = v[c.did].integer;
    const int64_t st = v[c.st].integer;
    std::vector<Value> params = reportParams(c, v);
    if (lap) {
        params.emplace_back(reportKey(c, v));
        if (db.query(insertLap, params).empty()) {
            return;  // stored before
        }
        // A lap report that arrives after data reports it comes before (in session time)
        // becomes their pair.
        const int64_t tlu = v[indexOf(c.fields, "tlu")].integer;
        for (const Row& d : db.query(
                 "SELECT id, cid, tid, tread, pair_tlu FROM data_reports WHERE sid = ? AND did = ?"
                 " AND st >= ? AND (pair_st IS NULL OR pair_st <= ?)",
                 {sid, did, st, st})) {
            const double tread = asReal(d[3]);
            const Wear before = wearOf(tread, d[4]);
            const Wear after = wearOf(tread, Value(tlu));
            Wear& change = wear[{asInteger(d[1]), asInteger(d[2])}];
            change.worn += after.worn - before.worn;
            change.metres += after.metres - before.metres;
            db.query("UPDATE data_reports SET pair_st = ?, pair_tlu = ? WHERE id = ?",
                     {st, tlu, d[0]});
        }
        return;
    }
    const double tread =
        std::min({v[indexOf(c.fields, "wlf")].real, v[indexOf(c.fields, "wrf")].real,
                  v[indexOf(c.fields, "wlr")].real, v[indexOf(c.fields, "wrr")].real});
    std::vector<Row> pair = db.query(
        "SELECT st, tlu FROM lap_reports WHERE sid = ? AND did = ? AND st <= ?"
        " ORDER BY st DESC, id DESC LIMIT 1",
        {sid, did, st});
    const Value pairSt = pair.empty() ? Value() : pair[0][0];
    const Value pairTlu = pair.empty() ? Value() : pair[0][1];
    params.emplace_back(tread);
    params.emplace_back(pairSt);
    params.emplace_back(pairTlu);
    params.emplace_back(reportKey(c, v));
    if (db.query(insertData, params).empty()) {
        return;
    }
    const Wear added = wearOf(tread, pairTlu);
    Wear& change = wear[{v[c.cid].integer, v[c.tid].integer}];
    change.worn += added.worn;
    change.metres += added.metres;
}

}  // namespace

struct RaceStore::Pending {
    bool lap;
    const std::vector<FieldValue>* values;
    bool done = false;
    std::string error;
};

// A connection of the pool for as long as it lives; a lost one is not given back.
class RaceStore::Lease {
  public:
    explicit Lease(RaceStore& store) : store_(store) {
        {
            std::lock_guard<std::mutex> lock(store_.poolMutex_);
            if (!store_.idle_.empty()) {
                connection_ = std::move(store_.idle_.back());
                store_.idle_.pop_back();
            }
        }
        if (!connection_) {
            connection_ = connect(store_.database_);
        }
    }
    ~Lease() {
        if (connection_ && connection_->healthy()) {
            std::lock_guard<std::mutex> lock(store_.poolMutex_);
            store_.idle_.push_back(std::move(connection_));
        }
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;

    // One statement; once more on a new connection when the old one turns out lost (a
    // PostgreSQL server restarted since).
    std::vector<Row> query(const std::string& sql, const std::vector<Value>& params) {
        try {
            return connection_->query(sql, params);
        } catch (const StoreError&) {
            if (connection_->healthy()) {
                throw;
            }
            connection_ = connect(store_.database_);
            return connection_->query(sql, params);
        }
    }

  private:
    RaceStore& store_;
    std::unique_ptr<Connection> connection_;
};

RaceStore::RaceStore(const std::string& database) : database_(database) {
    writer_ = connect(database_);
    dialect_ = writer_->dialect();
    migrate(*writer_);
    writerThread_ = std::thread([this] { writeLoop(); });
}

RaceStore::~RaceStore() {
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        stopping_ = true;
    }
    queued_.notify_all();
    writerThread_.join();
}

void RaceStore::insertDataReport(const std::vector<FieldValue>& values) {
    insert(false, values);
}

void RaceStore::insertLapReport(const std::vector<FieldValue>& values) {
    insert(true, values);
}

void RaceStore::insert(bool lap, const std::vector<FieldValue>& values) {
    if (values.size() != (lap ? lapReportFields() : dataReportFields()).size()) {
        throw StoreError("report has the wrong number of fields");
    }
    Pending pending{lap, &values, false, {}};
    std::unique_lock<std::mutex> lock(queueMutex_);
    queue_.push_back(&pending);
    queued_.notify_one();
    stored_.wait(lock, [&] { return pending.done; });
    if (!pending.error.empty()) {
        throw StoreError("cannot store the report: " + pending.error);
    }
}

void RaceStore::writeLoop() {
    pthread_setname_np(pthread_self(), "qrd-writer");
    for (;;) {
        std::vector<Pending*> batch;
        {
            std::unique_lock<std::mutex> lock(queueMutex_);
            queued_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) {
                return;  // stopping, and every report handed in has been answered
            }
            while (!queue_.empty() && batch.size() < kMaxBatch) {
                batch.push_back(queue_.front());
                queue_.pop_front();
            }
        }
        try {
            storeBatch(batch);
        } catch (const StoreError&) {
            // One report the database refuses must not cost the others theirs.
            for (Pending* pending : batch) {
                std::vector<Pending*> one{pending};
                try {
                    storeBatch(one);
                } catch (const StoreError& error) {
                    pending->error = error.what();
                }
            }
        }
        {
            std::lock_guard<std::mutex> lock(queueMutex_);
            for (Pending* pending : batch) {
                pending->done = true;
            }
        }
        stored_.notify_all();
    }
}

void RaceStore::storeBatch(std::vector<Pending*>& batch) {
    for (int attempt = 1;; ++attempt) {
        try {
            if (!writer_ || !writer_->healthy()) {
                writer_.reset();
                writer_ = connect(database_);
            }
            Connection& db = *writer_;
            db.script(dialect_ == Dialect::kSqlite ? "BEGIN IMMEDIATE" : "BEGIN");
            try {
                if (dialect_ == Dialect::kPostgres) {
                    // Another instance may store reports of the same driver and session at
                    // once; each pairs its data reports with the laps the other committed.
                    // Taken in one order, so two batches never wait for each other in a ring.
                    std::vector<std::pair<int64_t, int64_t>> sessions;
                    for (Pending* p : batch) {
                        const Columns& c = p->lap ? lapColumns() : dataColumns();
                        sessions.emplace_back((*p->values)[c.sid].integer,
                                              (*p->values)[c.did].integer);
                    }
                    std::sort(sessions.begin(), sessions.end());
                    sessions.erase(std::unique(sessions.begin(), sessions.end()), sessions.end());
                    for (const auto& [sid, did] : sessions) {
                        db.query(
                            "SELECT pg_advisory_xact_lock(CAST(? AS INTEGER), CAST(? AS "
                            "INTEGER))",
                            {sid, did});
                    }
                }
                WearChanges wear;
                for (Pending* p : batch) {
                    storeReport(db, p->lap, *p->values, wear);
                }
                for (const auto& [carTrack, change] : wear) {
                    if (change.worn == 0 && change.metres == 0) {
                        continue;
                    }
                    db.query(
                        "INSERT INTO tire_wear (cid, tid, worn, metres) VALUES (?, ?, ?, ?)"
                        " ON CONFLICT (cid, tid) DO UPDATE SET worn = tire_wear.worn +"
                        " excluded.worn, metres = tire_wear.metres + excluded.metres",
                        {carTrack.first, carTrack.second, change.worn, change.metres});
                }
                db.script("COMMIT");
                return;
            } catch (...) {
                if (db.healthy()) {
                    try {
                        db.script("ROLLBACK");
                    } catch (const StoreError&) {
                    }
                }
                throw;
            }
        } catch (const StoreError& error) {
            const bool lost = !writer_ || !writer_->healthy();
            if (attempt >= kTries || !(error.retry || lost)) {
                throw;
            }
        }
    }
}

int64_t RaceStore::dataReportCount() {
    Lease db(*this);
    return asInteger(db.query("SELECT COUNT(*) FROM data_reports", {}).at(0).at(0));
}

int64_t RaceStore::lapReportCount() {
    Lease db(*this);
    return asInteger(db.query("SELECT COUNT(*) FROM lap_reports", {}).at(0).at(0));
}

double RaceStore::previousFuelBurn(int64_t carId, int64_t trackId, int64_t driverId,
                                   int64_t raceType) {
    Lease db(*this);
    std::vector<Row> rows = db.query(
        "SELECT * FROM (SELECT burn FROM data_reports WHERE cid = ? AND tid = ? AND did = ?"
        " AND sft = ? ORDER BY burn DESC LIMIT 1) d UNION ALL SELECT * FROM (SELECT burn FROM"
        " lap_reports WHERE cid = ? AND tid = ? AND did = ? AND sft = ? ORDER BY burn DESC"
        " LIMIT 1) l",
        {carId, trackId, driverId, raceType, carId, trackId, driverId, raceType});
    double highest = 0;
    for (const Row& row : rows) {
        highest = std::max(highest, asReal(row[0]));
    }
    return highest;
}

int RaceStore::tiresChange(int64_t driverId, int64_t subSessionId, int64_t lapLength) {
    if (lapLength <= 0) {
        return 0;
    }
    // Where the car stands now (the newest lap report of this driver in this session), and
    // the wear measured on its car and track.
    Lease db(*this);
    std::vector<Row> rows = db.query(
        "SELECT l.tlu, l.fl, l.fta, l.fbpl, w.worn, w.metres FROM (SELECT cid, tid, tlu, fl,"
        " fta, fbpl FROM lap_reports WHERE sid = ? AND did = ? ORDER BY st DESC, id DESC"
        " LIMIT 1) l LEFT JOIN tire_wear w ON w.cid = l.cid AND w.tid = l.tid",
        {subSessionId, driverId});
    if (rows.empty()) {
        return 0;
    }
    const Row& now = rows[0];
    const double tireDistance = static_cast<double>(std::max<int64_t>(0, asInteger(now[0])));
    const double fuelAfterStop = asReal(now[1]) + std::max(0.0, asReal(now[2]));
    const double burnPerLap = asReal(now[3]);
    if (burnPerLap <= 0 || fuelAfterStop <= 0 || isNull(now[5]) || asInteger(now[5]) <= 0) {
        return 0;
    }
    const double wearPerMetre = asReal(now[4]) / static_cast<double>(asInteger(now[5]));
    const double stintMetres = fuelAfterStop / burnPerLap * static_cast<double>(lapLength);
    const double treadAtStintEnd = 1.0 - wearPerMetre * (tireDistance + stintMetres);
    return treadAtStintEnd < kTreadLimit ? 1 : 0;
}

double RaceStore::weatherChange(int64_t driverId, int64_t subSessionId) {
    // The first and the last report of the session in session time; at the same second a
    // data report comes before a lap report, and of two alike the one stored first first.
    static const std::string kSql = [] {
        std::string sql;
        for (const char* order : {"ASC", "DESC"}) {
            for (const char* table : {"data_reports", "lap_reports"}) {
                const bool lap = std::string(table) == "lap_reports";
                sql += std::string(sql.empty() ? "" : " UNION ALL ") + "SELECT * FROM (SELECT " +
                       (std::string(order) == "ASC" ? "0" : "1") + " AS edge, st, " +
                       (lap ? "1" : "0") + " AS kind, id, ctt FROM " + table +
                       " WHERE sid = ? AND did = ? ORDER BY st " + order + ", id " + order +
                       " LIMIT 1) " + (lap ? "l" : "d") + (order[0] == 'A' ? "f" : "l");
            }
        }
        return sql;
    }();
    Lease db(*this);
    std::vector<Row> rows = db.query(kSql, {subSessionId, driverId, subSessionId, driverId,
                                            subSessionId, driverId, subSessionId, driverId});
    using Key = std::tuple<int64_t, int64_t, int64_t>;
    std::optional<std::pair<Key, double>> first;
    std::optional<std::pair<Key, double>> last;
    for (const Row& row : rows) {
        const Key key{asInteger(row[1]), asInteger(row[2]), asInteger(row[3])};
        const double ctt = asReal(row[4]);
        if (asInteger(row[0]) == 0) {
            if (!first || key < first->first) {
                first = {{key, ctt}};
            }
        } else if (!last || key > last->first) {
            last = {{key, ctt}};
        }
    }
    if (!first || !last) {
        return 0;
    }
    const double warmerFahrenheit = (last->second - first->second) * 9.0 / 5.0;
    // A warmer track heats the tires more, so they need less cold pressure.
    return -warmerFahrenheit * kPsiPerFahrenheit * kKpaPerPsi;
}

std::optional<std::string> RaceStore::publishedVersion(const std::string& component) {
    Lease db(*this);
    std::vector<Row> rows =
        db.query("SELECT version FROM versions WHERE component = ?", {component});
    if (rows.empty()) {
        return std::nullopt;
    }
    return std::get<std::string>(rows[0][0]);
}

void RaceStore::publishVersion(const std::string& component, const std::string& version) {
    Lease db(*this);
    db.query(
        "INSERT INTO versions (component, version) VALUES (?, ?)"
        " ON CONFLICT (component) DO UPDATE SET version = excluded.version",
        {component, version});
}

}  // namespace racedata
