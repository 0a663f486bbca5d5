#include <libpq-fe.h>

#include <cstdio>
#include <cstdlib>
#include <map>

#include "tools/racedata/database.h"

namespace racedata {

namespace {

// Type numbers of the columns the store reads.
constexpr Oid kInt8 = 20;
constexpr Oid kInt2 = 21;
constexpr Oid kInt4 = 23;
constexpr Oid kFloat4 = 700;
constexpr Oid kFloat8 = 701;
constexpr Oid kNumeric = 1700;

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

class PostgresConnection final : public Connection {
  public:
    explicit PostgresConnection(const std::string& uri) : conn_(PQconnectdb(uri.c_str())) {
        if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
            std::string why = conn_ ? PQerrorMessage(conn_) : "out of memory";
            PQfinish(conn_);
            while (!why.empty() && (why.back() == '\n' || why.back() == ' ')) {
                why.pop_back();
            }
            throw StoreError("cannot connect to the PostgreSQL database: " + why);
        }
        // Notices (such as "relation already exists, skipping") are no news to an operator.
        PQsetNoticeProcessor(
            conn_, [](void*, const char*) {}, nullptr);
    }
    ~PostgresConnection() override { PQfinish(conn_); }

    Dialect dialect() const override { return Dialect::kPostgres; }
    bool healthy() const override { return PQstatus(conn_) == CONNECTION_OK; }

    void script(const std::string& sql) override {
        Result result(PQexec(conn_, sql.c_str()), &PQclear);
        check(result.get(), sql);
    }

    std::vector<Row> query(const std::string& sql, const std::vector<Value>& params) override {
        auto found = prepared_.find(sql);
        if (found == prepared_.end()) {
            const std::string name = "q" + std::to_string(prepared_.size());
            Result result(PQprepare(conn_, name.c_str(), numbered(sql).c_str(), 0, nullptr),
                          &PQclear);
            check(result.get(), sql);
            found = prepared_.emplace(sql, name).first;
        }
        std::vector<std::string> texts(params.size());
        std::vector<const char*> pointers(params.size(), nullptr);
        for (size_t i = 0; i < params.size(); ++i) {
            const Value& v = params[i];
            if (const int64_t* n = std::get_if<int64_t>(&v)) {
                texts[i] = std::to_string(*n);
            } else if (const double* d = std::get_if<double>(&v)) {
                char text[40];
                std::snprintf(text, sizeof text, "%.17g", *d);
                texts[i] = text;
            } else if (const std::string* s = std::get_if<std::string>(&v)) {
                texts[i] = *s;
            } else {
                continue;
            }
            pointers[i] = texts[i].c_str();
        }
        Result result(PQexecPrepared(conn_, found->second.c_str(), static_cast<int>(params.size()),
                                     pointers.data(), nullptr, nullptr, 0),
                      &PQclear);
        check(result.get(), sql);
        std::vector<Row> rows;
        const int count = PQntuples(result.get());
        const int columns = PQnfields(result.get());
        for (int r = 0; r < count; ++r) {
            Row row;
            for (int c = 0; c < columns; ++c) {
                if (PQgetisnull(result.get(), r, c)) {
                    row.emplace_back(std::monostate{});
                    continue;
                }
                const char* text = PQgetvalue(result.get(), r, c);
                const Oid type = PQftype(result.get(), c);
                if (type == kInt8 || type == kInt4 || type == kInt2) {
                    row.emplace_back(static_cast<int64_t>(std::strtoll(text, nullptr, 10)));
                } else if (type == kFloat8 || type == kFloat4 || type == kNumeric) {
                    row.emplace_back(std::strtod(text, nullptr));
                } else {
                    row.emplace_back(std::string(text));
                }
            }
            rows.push_back(std::move(row));
        }
        return rows;
    }

  private:
    // '?' to PostgreSQL's "$1", "$2", ... (the store's statements hold no '?' in literals).
    static std::string numbered(const std::string& sql) {
        std::string out;
        int n = 0;
        for (char c : sql) {
            if (c == '?') {
                out += "$" + std::to_string(++n);
            } else {
                out += c;
            }
        }
        return out;
    }

    void check(PGresult* result, const std::string& sql) {
        const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
            return;
        }
        std::string why = result ? PQresultErrorMessage(result) : PQerrorMessage(conn_);
        while (!why.empty() && (why.back() == '\n' || why.back() == ' ')) {
            why.pop_back();
        }
        const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
        StoreError error("database statement failed (" + why + "): " + sql);
        // 40001 serialization_failure, 40P01 deadlock_detected.
        error.retry = state && (std::string(state) == "40001" || std::string(state) == "40P01");
        if (!healthy()) {
            prepared_.clear();
        }
        throw error;
    }

    PGconn* conn_;
    std::map<std::string, std::string> prepared_;
};

}  // namespace

std::unique_ptr<Connection> connectPostgres(const std::string& uri) {
    return std::make_unique<PostgresConnection>(uri);
}

}  // namespace racedata
