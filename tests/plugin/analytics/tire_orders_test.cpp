// The tire orders: pressures corrected for the track temperature, and the Tire function's
// choice by TireChangeMode.
#include <utility>
#include <vector>

#include "plugin/analytics/analytics_calls.h"
#include "support/race_fixture.h"

namespace racetest {
namespace {

class TireOrdersTest : public SnapshotTest {
  protected:
    void baselines(double lf, double rf, double lr, double rr) {
        race().BaselinePressureLF = lf;
        race().BaselinePressureRF = rf;
        race().BaselinePressureLR = lr;
        race().BaselinePressureRR = rr;
    }
    void trackAt(double celsius) {
        sim_.set("TrackTempCrew", celsius);
        ASSERT_TRUE(sim_.deliver(telemetry::Telemetry()));
    }
};

TEST_F(TireOrdersTest, AdaptivePressuresFollowTheTrackTemperature) {
    struct Case {
        double track;
        int32_t pressure;
    };
    const Case cases[] = {
        {50.0, 167},  // 180 - 10 x 1.8 x 0.689476 = 167.589...
        {40.0, 180},
        {30.0, 192},  // 180 + 12.41 = 192.41...
        {40.5, 179},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.track);
        timeline_.clear();
        baselines(180, 180, 180, 180);
        trackAt(c.track);
        analytics::OrderAdaptiveTires();
        EXPECT_EQ(pitCommands(),
                  (Commands{{3, c.pressure}, {4, c.pressure}, {5, c.pressure}, {6, c.pressure}}));
    }
}

TEST_F(TireOrdersTest, AdaptiveOrderKeepsTheTireBookkeeping) {
    baselines(170, 171, 172, 173.9);
    sim_.setInt("Lap", 9);
    trackAt(40);
    race().TireDistance = 1234;
    race().ServiceType = 1;
    // Neither without adaptive management nor in passive mode is anything ordered.
    race().AdaptiveTireManagement = 0;
    analytics::OrderAdaptiveTires();
    race().AdaptiveTireManagement = 1;
    race().PassiveMode = 1;
    analytics::OrderAdaptiveTires();
    EXPECT_EQ(pitCommands(), Commands{});
    EXPECT_EQ(race().TiresRequested, 0);

    race().PassiveMode = 0;
    analytics::OrderAdaptiveTires();
    EXPECT_EQ(pitCommands(), (Commands{{3, 170}, {4, 171}, {5, 172}, {6, 173}}));
    EXPECT_EQ(race().TireChangeLap, 9);
    EXPECT_EQ(race().TireDistance, 0);
    EXPECT_EQ(race().ServiceType, 0u);
    EXPECT_EQ(race().TiresRequested, 1);
}

TEST_F(TireOrdersTest, TireChoiceByMode) {
    struct Case {
        int mode;
        uint8_t adaptive;
        Commands sent;
    };
    const Case cases[] = {
        {0, 1, {{7, 0}}},
        {1, 1, {{3, 167}, {4, 168}, {5, 169}, {6, 170}}},
        {2, 1, {{7, 0}, {4, 168}, {6, 170}}},
        {3, 1, {{7, 0}}},
        {-1, 1, {{7, 0}}},
        // Without adaptive management the baselines go out as they are.
        {1, 0, {{3, 180}, {4, 181}, {5, 182}, {6, 183}}},
        {2, 0, {{7, 0}, {4, 181}, {6, 183}}},
    };
    baselines(180, 181, 182, 183);
    trackAt(50);
    for (const Case& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode) + " adaptive " + std::to_string(c.adaptive));
        timeline_.clear();
        race().TireChangeMode = c.mode;
        race().AdaptiveTireManagement = c.adaptive;
        analytics::OrderTiresForMode();
        EXPECT_EQ(pitCommands(), c.sent);
        EXPECT_EQ(race().TiresRequested, 0);  // the choice does not touch the bookkeeping
    }
    race().PassiveMode = 1;
    timeline_.clear();
    analytics::OrderTiresForMode();
    EXPECT_EQ(pitCommands(), Commands{});
}

}  // namespace
}  // namespace racetest
