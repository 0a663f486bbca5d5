#include "tools/racedata/migrations.h"

#include <ctime>
#include <span>

#include "tools/racedata/report_fields.h"

namespace racedata {

namespace {

struct Types {
    const char* id;
    const char* integer;
    const char* real;
};

Types typesOf(Dialect dialect) {
    return dialect == Dialect::kSqlite
               ? Types{"INTEGER PRIMARY KEY", "INTEGER", "REAL"}
               : Types{"BIGSERIAL PRIMARY KEY", "BIGINT", "DOUBLE PRECISION"};
}

std::string reportTable(const char* name, std::span<const Field> fields, const Types& t) {
    std::string sql = std::string("CREATE TABLE IF NOT EXISTS ") + name + " (id " + t.id +
                      ", received_at " + t.integer + " NOT NULL";
    for (const Field& f : fields) {
        sql += std::string(", \"") + f.key + "\" " +
               (f.type == FieldType::kInt ? t.integer : t.real) + " NOT NULL";
    }
    return sql + ");\n";
}

// 1: the tables as the service kept them before its schema had versions (an older database
// already has them, and is taken over as it is).
std::string reportTables(Dialect dialect) {
    const Types t = typesOf(dialect);
    return reportTable("data_reports", dataReportFields(), t) +
           reportTable("lap_reports", lapReportFields(), t) +
           "CREATE INDEX IF NOT EXISTS data_by_car ON data_reports (cid, tid);\n"
           "CREATE INDEX IF NOT EXISTS data_by_session ON data_reports (sid, did, st);\n"
           "CREATE INDEX IF NOT EXISTS lap_by_session ON lap_reports (sid, did, st);\n"
           "CREATE INDEX IF NOT EXISTS lap_by_car ON lap_reports (cid, tid, did, sft);\n"
           "CREATE TABLE IF NOT EXISTS versions (component TEXT PRIMARY KEY, "
           "version TEXT NOT NULL);\n";
}

// 2: every question answered from an index, in a time that does not grow with the history.
// "burn" is the report's burn in its race type's unit; a data report keeps the tread of its
// most worn tire and the lap report it is paired with ("pair_st", "pair_tlu": the newest lap
// report of its session and driver at or before it), and "tire_wear" sums the wear and the
// distance of the paired reports per car and track. "report_key" tells a report sent again
// from a new one.
std::string indexedQuestions(Dialect dialect) {
    const Types t = typesOf(dialect);
    const std::string real = t.real;
    const std::string integer = t.integer;
    const std::string burn =
        "CASE WHEN sft = 1 AND fbpl > fbm THEN fbpl WHEN sft = 2 AND fbpm > fbm THEN fbpm"
        " WHEN sft <> 1 AND sft <> 2 AND fbm < 0 THEN 0 ELSE fbm END";
    const std::string pair =
        " FROM lap_reports l WHERE l.sid = data_reports.sid AND"
        " l.did = data_reports.did AND l.st <= data_reports.st"
        " ORDER BY l.st DESC, l.id DESC LIMIT 1)";
    return "ALTER TABLE lap_reports ADD COLUMN burn " + real + ";\n" +
           "ALTER TABLE lap_reports ADD COLUMN report_key TEXT;\n" +
           "ALTER TABLE data_reports ADD COLUMN burn " + real + ";\n" +
           "ALTER TABLE data_reports ADD COLUMN tread " + real + ";\n" +
           "ALTER TABLE data_reports ADD COLUMN pair_st " + integer + ";\n" +
           "ALTER TABLE data_reports ADD COLUMN pair_tlu " + integer + ";\n" +
           "ALTER TABLE data_reports ADD COLUMN report_key TEXT;\n" +
           "UPDATE lap_reports SET burn = " + burn + ";\n" +
           "UPDATE data_reports SET burn = " + burn +
           ", tread = CASE WHEN wlf <= wrf AND wlf <= wlr AND wlf <= wrr THEN wlf"
           " WHEN wrf <= wlr AND wrf <= wrr THEN wrf WHEN wlr <= wrr THEN wlr ELSE wrr END" +
           ", pair_st = (SELECT l.st" + pair + ", pair_tlu = (SELECT l.tlu" + pair + ";\n" +
           "DROP INDEX IF EXISTS data_by_car;\n"
           "DROP INDEX IF EXISTS data_by_session;\n"
           "DROP INDEX IF EXISTS lap_by_session;\n"
           "DROP INDEX IF EXISTS lap_by_car;\n"
           "CREATE INDEX data_by_session ON data_reports (sid, did, st, id);\n"
           "CREATE INDEX lap_by_session ON lap_reports (sid, did, st, id);\n"
           "CREATE INDEX data_by_burn ON data_reports (cid, tid, did, sft, burn);\n"
           "CREATE INDEX lap_by_burn ON lap_reports (cid, tid, did, sft, burn);\n"
           "CREATE UNIQUE INDEX data_by_key ON data_reports (report_key);\n"
           "CREATE UNIQUE INDEX lap_by_key ON lap_reports (report_key);\n"
           "CREATE TABLE tire_wear (cid " +
           integer + " NOT NULL, tid " + integer + " NOT NULL, worn " + real +
           " NOT NULL, metres " + integer +
           " NOT NULL, PRIMARY KEY (cid, tid));\n"
           "INSERT INTO tire_wear (cid, tid, worn, metres) SELECT cid, tid, SUM(1 - tread),"
           " SUM(pair_tlu) FROM data_reports WHERE pair_tlu > 0 AND tread >= 0 AND tread <= 1"
           " GROUP BY cid, tid;\n";
}

using Step = std::string (*)(Dialect);
constexpr Step kSteps[] = {reportTables, indexedQuestions};

}  // namespace

int latestSchemaVersion() {
    return static_cast<int>(std::size(kSteps));
}

void migrate(Connection& connection) {
    const Dialect dialect = connection.dialect();
    connection.script(dialect == Dialect::kSqlite ? "BEGIN IMMEDIATE" : "BEGIN");
    try {
        if (dialect == Dialect::kPostgres) {
            // Instances starting together take turns; the lock ends with the transaction.
            connection.query("SELECT pg_advisory_xact_lock(4242424242)", {});
        }
        connection.script(std::string("CREATE TABLE IF NOT EXISTS schema_migrations (version ") +
                          typesOf(dialect).integer + " PRIMARY KEY, applied_at " +
                          typesOf(dialect).integer + " NOT NULL)");
        std::vector<Row> rows = connection.query("SELECT MAX(version) FROM schema_migrations", {});
        const int64_t have = rows.empty() || isNull(rows[0][0]) ? 0 : asInteger(rows[0][0]);
        if (have > latestSchemaVersion()) {
            throw StoreError("the database has schema version " + std::to_string(have) +
                             ", newer than this program's " +
                             std::to_string(latestSchemaVersion()) + ": run a newer service");
        }
        for (int64_t version = have + 1; version <= latestSchemaVersion(); ++version) {
            connection.script(kSteps[version - 1](dialect));
            connection.query("INSERT INTO schema_migrations (version, applied_at) VALUES (?, ?)",
                             {version, static_cast<int64_t>(std::time(nullptr))});
        }
        connection.script("COMMIT");
    } catch (...) {
        try {
            connection.script("ROLLBACK");
        } catch (const StoreError&) {
        }
        throw;
    }
}

}  // namespace racedata
