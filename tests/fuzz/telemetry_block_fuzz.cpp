// The telemetry reader, the typed reads and the session queries on a block whose header,
// variable table, buffer table and session offsets are whatever the input says. Between the
// ticks the block publishes new rows, shrinks, and is replaced by another layout, as a
// simulator that restarts or misbehaves would do.
//
// Input: one byte of fault choices, then the block's bytes (a second block after the first
// 0xFF 0xFE 0xFD 0xFC marker, laid in place of the first at the third tick).

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "plugin/telemetry/session_query.h"
#include "plugin/telemetry/telemetry_client.h"
#include "plugin/telemetry/telemetry_variable.h"
#include "support/fake_simulator.h"
#include "support/virtual_clock.h"

namespace {

// A simulator connection over the input's bytes: the mapping is exactly as long as the bytes
// (so any read past it is caught), the event always fires, and the test can move the tick
// counts, shrink the mapping or lay a new block in its place between two ticks.
class BlockConnection : public telemetry::SimulatorConnection {
  public:
    explicit BlockConnection(std::shared_ptr<std::vector<uint8_t>> block)
        : block_(std::move(block)) {}

    bool openMapping() override { return mapping_ = true; }
    bool mapView() override { return view_ = true; }
    bool openEvent() override { return event_ = true; }
    bool hasMapping() const override { return mapping_; }
    bool hasView() const override { return view_; }
    bool hasEvent() const override { return event_; }
    const uint8_t* view() const override {
        return view_ && !block_->empty() ? block_->data() : nullptr;
    }
    size_t viewSize() const override { return view_ ? block_->size() : 0; }
    bool waitEvent(int) override { return true; }
    void close() override { mapping_ = view_ = event_ = false; }

  private:
    std::shared_ptr<std::vector<uint8_t>> block_;
    bool mapping_ = false;
    bool view_ = false;
    bool event_ = false;
};

// Raises the tick count of every buffer entry the block holds by one, as a simulator publishing
// a new row would.
void advanceTicks(std::vector<uint8_t>& block) {
    for (size_t i = 0; i < telemetry::kMaxBuffers; ++i) {
        size_t at = 48 + 16 * i;
        if (at + 4 > block.size()) {
            break;
        }
        int32_t tick;
        std::memcpy(&tick, block.data() + at, 4);
        tick = static_cast<int32_t>(static_cast<uint32_t>(tick) + 1u);
        std::memcpy(block.data() + at, &tick, 4);
    }
}

const char* const kPaths[] = {
    "WeekendInfo:TrackID:",
    "WeekendInfo:TrackLength:",
    "DriverInfo:Drivers:CarIdx:{1}CarID:",
    "SessionInfo:Sessions:SessionNum:{2}SessionLaps:",
    "DriverInfo:DriverCarFuelMaxLtr:",
};

using fuzzing::check;

void readEverything(telemetry::TelemetryClient& client,
                    std::vector<telemetry::TelemetryVariable>& vars,
                    const std::vector<uint8_t>& block) {
    for (auto& v : vars) {
        (void)v.readInt();
        (void)v.readFloat();
        (void)v.readDouble();
        (void)v.readBool();
    }
    if (client.dataCopy() != nullptr) {
        check(client.dataLength() > 0, "a data copy without a length");
    }
    int n = client.numVars();
    for (int i = 0; i < n; ++i) {
        const auto* h = reinterpret_cast<const uint8_t*>(client.varHeader(i));
        check(h != nullptr, "a variable header inside the count is missing");
        check(h >= block.data() && h + sizeof(telemetry::VarHeader) <= block.data() + block.size(),
              "a variable header outside the mapping");
    }
    for (const char* path : kPaths) {
        int result = telemetry::querySessionValue(client, path);
        if (result == 1) {
            check(std::strlen(telemetry::QueryResult) <= telemetry::kQueryBufferSize,
                  "a query result longer than its buffer");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static testsupport::VirtualClock clock;
    static testsupport::ScopedClock useClock(clock);
    clock.clearSleeps();

    fuzzing::Input in(data, size);
    const uint8_t faults = in.byte();
    std::string bytes = in.rest();
    std::string second;
    const std::string marker("\xFF\xFE\xFD\xFC", 4);
    if (size_t at = bytes.find(marker); at != std::string::npos) {
        second = bytes.substr(at + marker.size());
        bytes.resize(at);
    }

    auto block = std::make_shared<std::vector<uint8_t>>(bytes.begin(), bytes.end());
    telemetry::TelemetryClient client(std::make_unique<BlockConnection>(block));
    std::vector<telemetry::TelemetryVariable> vars;
    for (const auto& var : testsupport::catalogueVarSpecs()) {
        vars.emplace_back(var.name.c_str(), client);
    }

    for (int tick = 0; tick < 6; ++tick) {
        if (tick == 2 && (faults & 1) && !block->empty()) {
            // The mapping shrinks under the reader: a fresh allocation of the shorter size, so
            // a read of the old length is caught.
            size_t keep = block->size() * ((faults >> 4) + 1) / 17;
            *block = std::vector<uint8_t>(block->begin(), block->begin() + static_cast<long>(keep));
        }
        if (tick == 3 && (faults & 2)) {
            *block = std::vector<uint8_t>(second.begin(), second.end());
        }
        if (tick == 4 && (faults & 4)) {
            clock.advanceSeconds(31);  // frozen long enough to count as gone
        }
        client.waitForTelemetry(16);
        readEverything(client, vars, *block);
        if (!(faults & 8) || tick % 2 == 0) {
            advanceTicks(*block);
        }
    }
    return 0;
}
