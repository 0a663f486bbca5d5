// One main tick without its waits: the fake simulator answers at once and the virtual clock
// makes every sleep free, so what is left is the tick's own work on a fresh row (telemetry copy,
// variable reads, the session snapshot refresh with its status row, the linked subsystems'
// per-tick work, the connection watch), on a session text of 40 and of 64 cars.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <iostream>

#include "plugin/app/main_tick.h"
#include "plugin/engineer/race_state.h"
#include "plugin/telemetry/telemetry_client.h"
#include "support/fake_simulator.h"
#include "support/virtual_clock.h"
#include "quiet_console.h"

namespace {

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
    engineer::ResetRaceState();
    app::ResetMainTick();
    // Connection, loading and the first redraw happen before the measurement.
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

void BM_MainTickOnTrack(benchmark::State& state) {
    runTicks(state, true);
}
void BM_MainTickInGarage(benchmark::State& state) {
    runTicks(state, false);
}

BENCHMARK(BM_MainTickOnTrack)->Arg(40)->Arg(64);
BENCHMARK(BM_MainTickInGarage)->Arg(40)->Arg(64);

}  // namespace

int main(int argc, char** argv) {
    const bool ran = bench::RunWithQuietConsole(argc, argv);
    return ran ? 0 : 1;
}
