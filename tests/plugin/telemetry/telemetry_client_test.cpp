#include <gtest/gtest.h>

#include "plugin/telemetry/catalogue.h"
#include "plugin/telemetry/session_query.h"
#include "plugin/telemetry/telemetry_client.h"
#include "plugin/telemetry/telemetry_variable.h"
#include "tests/support/fake_simulator.h"
#include "tests/support/virtual_clock.h"

namespace {

using testsupport::FakeSimulator;

TEST(Smoke, DeliversARow) {
    testsupport::VirtualClock clock;
    testsupport::ScopedClock use(clock);
    FakeSimulator sim;
    telemetry::TelemetryClient client(sim.connection());
    sim.setConnected(true);
    sim.setSessionText(testsupport::sampleSessionText());
    sim.set("FuelLevel", 42.5);
    sim.setInt("Lap", 7);
    ASSERT_TRUE(sim.deliver(client));
    telemetry::TelemetryVariable fuel("FuelLevel", client), lap("Lap", client);
    EXPECT_FLOAT_EQ(fuel.readFloat(), 42.5f);
    EXPECT_EQ(lap.readInt(), 7);
    EXPECT_EQ(telemetry::querySessionValue(client, "WeekendInfo:TrackID:"), 1);
    EXPECT_STREQ(telemetry::QueryResult, "47");
}

}  // namespace
