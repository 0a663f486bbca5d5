#pragma once
// The service's database (SQLite or PostgreSQL): every data and lap report as it arrived, the
// published component versions, and the answers the plugin asks for, worked out from what is
// stored.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/racedata/database.h"
#include "tools/racedata/report_fields.h"

namespace racedata {

// Tire tread below which a set is worn out, as a fraction of new.
inline constexpr double kTreadLimit = 0.75;
// The cold-pressure correction for a change of track temperature.
inline constexpr double kPsiPerFahrenheit = 0.1;
inline constexpr double kKpaPerPsi = 6.894757;

// Safe to use from several threads. Questions run on a pool of connections, side by side.
// Reports go to one writer, which stores the reports waiting at that moment in one
// transaction and acknowledges each only once it is committed and durable (SQLite: WAL,
// synchronous=FULL): many clients at once cost one disk flush, and a restart loses nothing.
// Several processes may share one PostgreSQL database: everything they answer comes from it.
class RaceStore {
  public:
    // `database`: a SQLite file, or a "postgresql://" URI. Opens or creates it and brings its
    // schema up to date; throws StoreError when it cannot.
    explicit RaceStore(const std::string& database);
    ~RaceStore();
    RaceStore(const RaceStore&) = delete;
    RaceStore& operator=(const RaceStore&) = delete;

    // `values` in the order of dataReportFields() / lapReportFields(). A report equal in every
    // field to one already stored (a client sending it again) is not stored twice. Throw
    // StoreError; return once the report is durable.
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
    struct Pending;
    class Lease;

    void insert(bool lap, const std::vector<FieldValue>& values);
    void writeLoop();
    void storeBatch(std::vector<Pending*>& batch);

    std::string database_;
    Dialect dialect_ = Dialect::kSqlite;

    std::mutex poolMutex_;
    std::vector<std::unique_ptr<Connection>> idle_;

    std::unique_ptr<Connection> writer_;
    std::mutex queueMutex_;
    std::condition_variable queued_;
    std::condition_variable stored_;
    std::deque<Pending*> queue_;
    bool stopping_ = false;
    std::thread writerThread_;
};

}  // namespace racedata
