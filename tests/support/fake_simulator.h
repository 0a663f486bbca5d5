#pragma once
// An in-memory simulator for unit tests: a telemetry block laid out by simblock in a byte
// buffer, reached by a TelemetryClient through the connection it hands out. Switches make
// opening fail, answer the event wait at once or misreport the mapped size; a test may also poke
// the block directly (tick counts, a row torn under the reader's copy, a new row layout).
//   FakeSimulator sim;  sim.attach(client);  sim.set("FuelLevel", 42.5);  sim.deliver(client);
// Single-threaded, like the reader it serves.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plugin/telemetry/telemetry_client.h"
#include "tools/simblock/sim_block.h"

namespace testsupport {

// Every variable the plugin reads, with the types the simulator publishes them in, plus a few
// arrays so the row is not trivially small.
std::vector<simblock::VarSpec> catalogueVarSpecs();

// A session text in the simulator's layout: WeekendInfo, SessionInfo with three sessions
// (practice 0, qualify 1, race 2), CarSetup tires, and DriverInfo with `cars` drivers; the
// player is car index 1 (CarID 67, "Mazda MX-5 Cup").
std::string sampleSessionText(int cars = 3);

simblock::BlockOptions defaultFakeBlockOptions();

class FakeSimulator {
  public:
    explicit FakeSimulator(std::vector<simblock::VarSpec> vars = catalogueVarSpecs(),
                           simblock::BlockOptions options = defaultFakeBlockOptions());
    ~FakeSimulator();
    FakeSimulator(const FakeSimulator&) = delete;
    FakeSimulator& operator=(const FakeSimulator&) = delete;

    // A connection over this block; the fake must outlive it (and the client holding it).
    std::unique_ptr<telemetry::SimulatorConnection> connection();
    void attach(telemetry::TelemetryClient& client);

    // Opening steps made to fail (and below, how often each was tried).
    bool failOpenMapping = false;
    bool failMapView = false;
    bool failOpenEvent = false;
    // The size the system reports for the block now; the region's size when unset.
    std::optional<size_t> reportedViewSize;
    // The length the view was mapped with; the reported size when unset. A real mapping keeps
    // its length while the file behind it may shrink.
    std::optional<size_t> reportedMappedSize;
    // The event wait never blocks: it answers true when a row was published since the previous
    // wait. When set, a wait that finds nothing also sleeps its time-out on platform::clock(),
    // as a real wait would let the time pass.
    bool waitPassesTime = false;
    // Called between each of the reader's row copies and its second tick read.
    std::function<void()> onRowCopied;

    int openMappingCalls = 0;
    int mapViewCalls = 0;
    int openEventCalls = 0;
    int closeCalls = 0;
    int lastWaitTimeoutMs = -1;

    simblock::BlockWriter& writer() { return *writer_; }
    telemetry::BlockHeader* header() { return writer_->header(); }
    uint8_t* region() { return region_.data(); }
    size_t regionSize() const { return region_.size(); }
    // The variable's header in the block, nullptr for an unknown name.
    telemetry::VarHeader* varHeader(std::string_view name);

    void setConnected(bool connected) { writer_->setConnected(connected); }
    bool set(std::string_view name, double value, int entry = 0) {
        return writer_->setDouble(name, value, entry);
    }
    bool setInt(std::string_view name, int32_t value, int entry = 0) {
        return writer_->setInt(name, value, entry);
    }
    bool setBool(std::string_view name, bool value) { return writer_->setBool(name, value); }
    // Publishes the staged row into the oldest buffer and signals the event.
    int32_t publish();
    // Publishes the text and raises the update counter.
    bool setSessionText(std::string_view text) { return writer_->setSessionText(text); }
    // Writes the text in place without raising the update counter (as a careless publisher
    // might). With `terminate` false no NUL is written, so the text runs to whatever follows.
    // Bytes past the session area are never written.
    void overwriteSessionText(std::string_view text, bool terminate = true);

    void restartTicks(int32_t tick = 0) { writer_->restartTicks(tick); }
    // From inside each of the reader's next `copies` row copies, rewrites the buffer being
    // read (the newest) with the staged row under the next tick, as a simulator lapping the
    // reader would.
    void tearNextCopies(int copies) { tearsLeft_ = copies; }

    // Lays the block out anew with `vars` (the region may move; connections follow it). The
    // tick counter, the connected bit and the session text carry over; staged values do not.
    bool changeLayout(std::vector<simblock::VarSpec> vars);

    // Publishes the staged row and runs client.waitForTelemetry() until it reports a row to
    // process (a fresh attachment needs up to three rows). False when it never does.
    bool deliver(telemetry::TelemetryClient& client, int maxRows = 4);

  private:
    class Connection;
    friend class Connection;

    bool build(std::vector<simblock::VarSpec> vars, const simblock::BlockOptions& options);
    void rewriteNewestBuffer();

    simblock::BlockOptions options_;
    std::vector<uint8_t> region_;
    std::unique_ptr<simblock::BlockWriter> writer_;
    bool signalled_ = false;
    int tearsLeft_ = 0;
    std::vector<Connection*> connections_;
};

}  // namespace testsupport
