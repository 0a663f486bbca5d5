#pragma once
// One connection to the service's database, SQLite or PostgreSQL, behind the few calls the
// store needs: statements with '?' parameters, the rows they give, and plain scripts.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace racedata {

class StoreError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
    // Worth running the whole transaction again: a deadlock or serialisation failure.
    bool retry = false;
};

enum class Dialect { kSqlite, kPostgres };

using Value = std::variant<std::monostate, int64_t, double, std::string>;
using Row = std::vector<Value>;

inline bool isNull(const Value& v) {
    return std::holds_alternative<std::monostate>(v);
}
double asReal(const Value& v);
int64_t asInteger(const Value& v);

class Connection {
  public:
    virtual ~Connection() = default;
    virtual Dialect dialect() const = 0;
    // Statements without parameters, separated by ';'. Throws StoreError.
    virtual void script(const std::string& sql) = 0;
    // One statement with '?' parameters; the rows it gives. Throws StoreError.
    virtual std::vector<Row> query(const std::string& sql, const std::vector<Value>& params) = 0;
    // False once the connection is lost: it is dropped rather than used again.
    virtual bool healthy() const { return true; }
};

// "postgresql://..." or "postgres://..." (libpq's connection URI) names a PostgreSQL database;
// anything else is the path of a SQLite file.
bool isPostgresUri(const std::string& database);

// Opens a connection; throws StoreError when it cannot.
std::unique_ptr<Connection> connectSqlite(const std::string& path);
std::unique_ptr<Connection> connectPostgres(const std::string& uri);
inline std::unique_ptr<Connection> connect(const std::string& database) {
    return isPostgresUri(database) ? connectPostgres(database) : connectSqlite(database);
}

}  // namespace racedata
