#include <sqlite3.h>

#include <map>

#include "tools/racedata/database.h"

namespace racedata {

double asReal(const Value& v) {
    if (const double* d = std::get_if<double>(&v)) {
        return *d;
    }
    if (const int64_t* i = std::get_if<int64_t>(&v)) {
        return static_cast<double>(*i);
    }
    if (const std::string* s = std::get_if<std::string>(&v)) {
        return std::strtod(s->c_str(), nullptr);
    }
    return 0;
}

int64_t asInteger(const Value& v) {
    if (const int64_t* i = std::get_if<int64_t>(&v)) {
        return *i;
    }
    if (const double* d = std::get_if<double>(&v)) {
        return static_cast<int64_t>(*d);
    }
    if (const std::string* s = std::get_if<std::string>(&v)) {
        return std::strtoll(s->c_str(), nullptr, 10);
    }
    return 0;
}

bool isPostgresUri(const std::string& database) {
    return database.rfind("postgresql://", 0) == 0 || database.rfind("postgres://", 0) == 0;
}

namespace {

class SqliteConnection final : public Connection {
  public:
    explicit SqliteConnection(const std::string& path) {
        int rc = sqlite3_open_v2(path.c_str(), &db_,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                 nullptr);
        if (rc != SQLITE_OK) {
            std::string why = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
            sqlite3_close(db_);
            db_ = nullptr;
            throw StoreError("cannot open database " + path + ": " + why);
        }
        try {
            sqlite3_busy_timeout(db_, 5000);
            script("PRAGMA journal_mode=WAL");
            // Every commit reaches the disk before the reports in it are acknowledged.
            script("PRAGMA synchronous=FULL");
        } catch (...) {
            sqlite3_close(db_);
            throw;
        }
    }
    ~SqliteConnection() override {
        for (auto& [sql, statement] : statements_) {
            sqlite3_finalize(statement);
        }
        sqlite3_close(db_);
    }

    Dialect dialect() const override { return Dialect::kSqlite; }

    void script(const std::string& sql) override {
        char* message = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
            std::string why = message ? message : "unknown error";
            sqlite3_free(message);
            throw StoreError("database statement failed (" + why + "): " + sql);
        }
    }

    std::vector<Row> query(const std::string& sql, const std::vector<Value>& params) override {
        sqlite3_stmt*& statement = statements_[sql];
        if (!statement &&
            sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
            statements_.erase(sql);
            throw StoreError(std::string("cannot prepare query (") + sqlite3_errmsg(db_) +
                             "): " + sql);
        }
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
        for (size_t i = 0; i < params.size(); ++i) {
            const int index = static_cast<int>(i) + 1;
            const Value& v = params[i];
            if (const int64_t* n = std::get_if<int64_t>(&v)) {
                sqlite3_bind_int64(statement, index, *n);
            } else if (const double* d = std::get_if<double>(&v)) {
                sqlite3_bind_double(statement, index, *d);
            } else if (const std::string* s = std::get_if<std::string>(&v)) {
                sqlite3_bind_text(statement, index, s->c_str(), static_cast<int>(s->size()),
                                  SQLITE_TRANSIENT);
            } else {
                sqlite3_bind_null(statement, index);
            }
        }
        std::vector<Row> rows;
        for (;;) {
            const int rc = sqlite3_step(statement);
            if (rc == SQLITE_DONE) {
                break;
            }
            if (rc != SQLITE_ROW) {
                std::string why = sqlite3_errmsg(db_);
                sqlite3_reset(statement);
                throw StoreError("query failed (" + why + "): " + sql);
            }
            Row row;
            const int columns = sqlite3_column_count(statement);
            for (int c = 0; c < columns; ++c) {
                switch (sqlite3_column_type(statement, c)) {
                    case SQLITE_INTEGER:
                        row.emplace_back(static_cast<int64_t>(sqlite3_column_int64(statement, c)));
                        break;
                    case SQLITE_FLOAT:
                        row.emplace_back(sqlite3_column_double(statement, c));
                        break;
                    case SQLITE_NULL:
                        row.emplace_back(std::monostate{});
                        break;
                    default:
                        row.emplace_back(std::string(
                            reinterpret_cast<const char*>(sqlite3_column_text(statement, c))));
                }
            }
            rows.push_back(std::move(row));
        }
        sqlite3_reset(statement);
        return rows;
    }

  private:
    sqlite3* db_ = nullptr;
    std::map<std::string, sqlite3_stmt*> statements_;
};

}  // namespace

std::unique_ptr<Connection> connectSqlite(const std::string& path) {
    return std::make_unique<SqliteConnection>(path);
}

}  // namespace racedata
