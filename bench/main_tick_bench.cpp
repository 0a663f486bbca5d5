// One main tick without its waits: the fake simulator answers at once and the virtual clock
// makes every sleep free, so what is left is the tick's own work on a fresh row (telemetry copy,
// variable reads, the session snapshot refresh with its status row, the linked subsystems'
// per-tick work, the connection watch), on a session text of 40 and of 64 cars.
//
// The same tick on the path a driver's plugin takes: the block published through the
// platform's named shared memory and event (under names of this process, so no simulator feed
// is disturbed), read through the system connection. Beside it the typed read alone on that
// mapping, against a plain load from a private buffer.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "plugin/app/main_tick.h"
#include "plugin/engineer/race_state.h"
#include "platform/named_event.h"
#include "platform/shared_memory.h"
#include "plugin/telemetry/telemetry_client.h"
#include "plugin/telemetry/telemetry_variable.h"
#include "support/fake_simulator.h"
#include "support/virtual_clock.h"
#include "quiet_console.h"

namespace {

// Ticks on rows the simulator `sim` publishes (the fake or the real block); connection, loading
// and the first redraw happen before the measurement.
template <typename Simulator>
void tickAgainst(benchmark::State& state, Simulator& sim) {
    engineer::ResetRaceState();
    app::ResetMainTick();
    for (int i = 0; i < 8; ++i) {
        sim.publish();
        app::MainTick();
    }
    for (auto _ : state) {
        sim.publish();
        app::MainTick();
    }
    app::ResetMainTick();
    telemetry::Telemetry().replaceConnection(nullptr);
}

void runTicks(benchmark::State& state, bool onTrack) {
    testsupport::VirtualClock clock;
    testsupport::ScopedClock useClock(clock);
    testsupport::FakeSimulator sim;
    sim.attach(telemetry::Telemetry());
    sim.setSessionText(testsupport::sampleSessionText(static_cast<int>(state.range(0))));
    sim.setConnected(true);
    sim.setBool("IsOnTrack", onTrack);
    sim.setInt("PlayerTrackSurface", onTrack ? 3 : -1);
    sim.setInt("Lap", 4);
    tickAgainst(state, sim);
}

void BM_MainTickOnTrack(benchmark::State& state) {
    runTicks(state, true);
}
void BM_MainTickInGarage(benchmark::State& state) {
    runTicks(state, false);
}

BENCHMARK(BM_MainTickOnTrack)->Arg(40)->Arg(64);
BENCHMARK(BM_MainTickInGarage)->Arg(40)->Arg(64);

// A simulator publishing through the platform: a named shared block written by the block
// writer and the named event signalled for each row, as the simulator feed does.
class RealPublisher {
  public:
    explicit RealPublisher(int cars) {
        const std::string tag = std::to_string(::getpid());
        blockName_ = "Local\\KorvaneBenchBlock" + tag;
        eventName_ = "Local\\KorvaneBenchEvent" + tag;
        const std::vector<simblock::VarSpec> vars = testsupport::catalogueVarSpecs();
        const simblock::BlockOptions options = testsupport::defaultFakeBlockOptions();
        const simblock::BlockLayout layout = simblock::computeLayout(vars, options);
        memory_ = platform::createSharedMemory(blockName_, layout.totalSize);
        event_ = platform::createNamedEvent(eventName_);
        if (!memory_ || !event_) {
            return;
        }
        writer_ = std::make_unique<simblock::BlockWriter>(memory_->data(), memory_->size(), vars,
                                                          options);
        writer_->setSessionText(testsupport::sampleSessionText(cars));
        writer_->setConnected(true);
    }
    bool ok() const { return writer_ && writer_->ok(); }
    simblock::BlockWriter& writer() { return *writer_; }
    std::unique_ptr<telemetry::SimulatorConnection> connection() const {
        return telemetry::makeSystemConnection(blockName_, eventName_);
    }
    void publish() {
        writer_->publish();
        event_->signal();
    }

  private:
    std::string blockName_;
    std::string eventName_;
    std::unique_ptr<platform::SharedMemory> memory_;
    std::unique_ptr<platform::NamedEventSignaller> event_;
    std::unique_ptr<simblock::BlockWriter> writer_;
};

void runRealTicks(benchmark::State& state, bool onTrack) {
    testsupport::VirtualClock clock;
    testsupport::ScopedClock useClock(clock);
    RealPublisher sim(static_cast<int>(state.range(0)));
    if (!sim.ok()) {
        state.SkipWithError("cannot create the shared block and event");
        return;
    }
    telemetry::Telemetry().replaceConnection(sim.connection());
    sim.writer().setBool("IsOnTrack", onTrack);
    sim.writer().setInt("PlayerTrackSurface", onTrack ? 3 : -1);
    sim.writer().setInt("Lap", 4);
    tickAgainst(state, sim);
}

void BM_MainTickRealBlockOnTrack(benchmark::State& state) {
    runRealTicks(state, true);
}
void BM_MainTickRealBlockInGarage(benchmark::State& state) {
    runRealTicks(state, false);
}

// What the simulator's side of the two above costs (the row written and the event
// signalled): the tick's own share is their time less this.
void BM_RealBlockPublishOnly(benchmark::State& state) {
    RealPublisher sim(static_cast<int>(state.range(0)));
    if (!sim.ok()) {
        state.SkipWithError("cannot create the shared block and event");
        return;
    }
    for (auto _ : state) {
        sim.publish();
    }
}

BENCHMARK(BM_MainTickRealBlockOnTrack)->Arg(40)->Arg(64);
BENCHMARK(BM_MainTickRealBlockInGarage)->Arg(40)->Arg(64);
BENCHMARK(BM_RealBlockPublishOnly)->Arg(40);

// One typed read of a float on a live row taken from the real mapping.
void BM_TypedReadRealBlock(benchmark::State& state) {
    testsupport::VirtualClock clock;
    testsupport::ScopedClock useClock(clock);
    RealPublisher sim(3);
    if (!sim.ok()) {
        state.SkipWithError("cannot create the shared block and event");
        return;
    }
    telemetry::TelemetryClient client(sim.connection());
    telemetry::TelemetryVariable fuel("FuelLevel", client);
    sim.writer().setFloat("FuelLevel", 42.5f);
    bool live = false;
    for (int i = 0; i < 4 && !live; ++i) {
        sim.publish();
        live = client.waitForTelemetry(16);
    }
    if (!live || fuel.readFloat() != 42.5f) {
        state.SkipWithError("no row from the real mapping");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(fuel.readFloat());
    }
}
BENCHMARK(BM_TypedReadRealBlock);

// The floor: the same four bytes loaded from a private buffer.
void BM_PlainLoadBaseline(benchmark::State& state) {
    std::vector<uint8_t> row(1024, 0);
    const float value = 42.5f;
    std::memcpy(row.data() + 100, &value, sizeof value);
    const uint8_t* volatile at = row.data() + 100;
    for (auto _ : state) {
        float v;
        std::memcpy(&v, at, sizeof v);
        benchmark::DoNotOptimize(v);
    }
}
BENCHMARK(BM_PlainLoadBaseline);

}  // namespace

int main(int argc, char** argv) {
    const bool ran = bench::RunWithQuietConsole(argc, argv);
    return ran ? 0 : 1;
}
