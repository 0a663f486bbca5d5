#pragma once
// The service's SQLite database: every data and lap report as it arrived, the published
// component versions, and the answers the plugin asks for, worked out from what is stored.

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/racedata/report_fields.h"

struct sqlite3;
struct sqlite3_stmt;

namespace racedata {

class StoreError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Tire tread below which a set is worn out, as a fraction of new.
inline constexpr double kTreadLimit = 0.75;
// The cold-pressure correction for a change of track temperature.
inline constexpr double kPsiPerFahrenheit = 0.1;
inline constexpr double kKpaPerPsi = 6.894757;

// Safe to use from several threads: one connection, one lock. A report is acknowledged only
// after its transaction is durable (WAL, synchronous=FULL), so a restart loses nothing.
class RaceStore {
  public:
    // Opens or creates the database; throws StoreError when it cannot.
    explicit RaceStore(const std::string& path);
    ~RaceStore();
    RaceStore(const RaceStore&) = delete;
    RaceStore& operator=(const RaceStore&) = delete;

    // `values` in the order of dataReportFields() / lapReportFields(). Throw StoreError.
    void insertDataReport(const std::vector<FieldValue>& values);
    void insertLapReport(const std::vector<FieldValue>& values);

    int64_t dataReportCount();
    int64_t lapReportCount();

    // The highest fuel burn stored for this car, track, driver and race type: FuelBurnMax or
    // the burn in the race type's unit (per lap for 1, per minute for 2). 0 when none.
    double previousFuelBurn(int64_t carId, int64_t trackId, int64_t driverId, int64_t raceType);

    // 1 when the tires on the car of `driverId` in `subSessionId` are expected to be below
    // kTreadLimit at the end of the next stint, else 0. The wear per metre comes from the data
    // reports of the same car and track, each paired with the distance on those tires that the
    // lap report before it gave; the next stint is the fuel in the tank after the stop at the
    // current burn per lap, times `lapLength` metres.
    int tiresChange(int64_t driverId, int64_t subSessionId, int64_t lapLength);

    // The cold-pressure change in kPa that the track temperature change since the session's
    // first report calls for: kPsiPerFahrenheit less per degree Fahrenheit warmer. 0 when the
    // session has no reports.
    double weatherChange(int64_t driverId, int64_t subSessionId);

    std::optional<std::string> publishedVersion(const std::string& component);
    void publishVersion(const std::string& component, const std::string& version);

  private:
    void execute(const char* sql);
    void insert(sqlite3_stmt* statement, std::span<const Field> fields,
                const std::vector<FieldValue>& values);
    int64_t count(const char* sql);
    [[noreturn]] void fail(const std::string& what);

    std::mutex mutex_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* insertData_ = nullptr;
    sqlite3_stmt* insertLap_ = nullptr;
};

}  // namespace racedata
