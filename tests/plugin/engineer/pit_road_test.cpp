// Pit road and the pit stop through the real tick: the consultation on the way in, the stall
// timer, the tire decisions in the stall and the once-per-stop work.

#include <algorithm>
#include <string>
#include <vector>

#include "plugin/engineer/race_work.h"
#include "support/race_fixture.h"

namespace racetest {
namespace {

class PitRoadTest : public RaceWorkTest {
  protected:
    // The consultation's answers on top of the harness's armed car.
    void armedOnPitRoad() {
        RaceWorkTest::armedOnPitRoad();
        race().BaselinePressureLF = race().BaselinePressureRF = 170;
        race().BaselinePressureLR = race().BaselinePressureRR = 170;
        service_.answer("qrdtireschange", "3");
        service_.answer("getpreviousfuelburn", "0");
        service_.answer("qrdweatherchange", "-1.25");
    }
};

TEST_F(PitRoadTest, TheConsultationReportsWaitsAndAsksTheThreeQuestionsOnce) {
    armedOnPitRoad();
    // Without a lap since the reset only the row is shown.
    race().LapsSinceReset = 0;
    sim_.set("PitSvRFP", 172);
    race().ServiceType = 1;
    EXPECT_EQ(tick(),
              "Pit Approach: ServiceType :1 Changed: 0 TLU:10820.0 Lap:(3600.0) RFP:172.00"
              "          \r");
    EXPECT_EQ(timeline_.events(), Events{"refresh"});
    EXPECT_EQ(readLog(), "");

    race().LapsSinceReset = 4;
    timeline_.clear();
    tick();
    const Events events = timeline_.events();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[0], "refresh");
    EXPECT_EQ(events[2], "sleep 1000");
    Events gets;  // the lap report without its fields
    for (const std::string& e : timeline_.starting("GET ")) {
        gets.push_back(contains(e, "lap.php") ? e.substr(0, e.find('?')) : e);
    }
    EXPECT_EQ(gets, (Events{"GET /qrd/lap.php", "GET /qrd/api.php?c=qrdtireschange&s=0&r=0&f=3600",
                            "GET /qrd/api.php?c=getpreviousfuelburn&cid=0&tid=0&did=0&sft=0",
                            "GET /qrd/api.php?c=qrdweatherchange&s=0&r=0&f=3600"}));
    EXPECT_EQ(events[1].substr(0, 17), "GET /qrd/lap.php?");
    EXPECT_EQ(race().PitInArmed, 0);
    EXPECT_EQ(logMessages(),
              (Events{"LOG: Lap 9 Pit IN: NeededTireRange: 43200 LitersToAdd: 30 FuelBurnPerLap: "
                      "2.50 LocalLapLength: 3600",
                      "LOG: Lap 9 Pit IN: TireReply: 3 ChangeTires: 0 TireAgeInLaps: 3 We won't "
                      "be taking tires this time",
                      "LOG: Lap 9 Pit IN: Checking FuelBurnMaxReply: 0.00 Current FuelBurnMax: "
                      "2.50",
                      "LOG: Lap 9 Pit IN: Checking TirePressureDifferenceReply: -1.25"}));
    EXPECT_EQ(timeline_.starting("say"),
              Events{"say later: We won't be taking tires this time. They're 3 laps old."});

    // Consulted: later rows on pit road show the row only.
    timeline_.clear();
    tick();
    EXPECT_TRUE(timeline_.starting("GET").empty());

    // Without a burn (right after a reset) no tire range is known.
    armedOnPitRoad();
    race().FuelBurnPerLap = 0;
    clearLog();
    tick();
    ASSERT_FALSE(logMessages().empty());
    EXPECT_EQ(logMessages()[0],
              "LOG: Lap 9 Pit IN: NeededTireRange: 0 LitersToAdd: 30 FuelBurnPerLap: 2.50 "
              "LocalLapLength: 3600");
}

TEST_F(PitRoadTest, TheServicesBurnRaisesTheMaximumAndCorrectsTheFuelRequest) {
    struct Case {
        const char* name;
        const char* reply;
        double litersAfterRefresh;
        bool passive, raised;
        const char* pit;  // the fuel command, nullptr: none
        double fuelLastSet;
        const char* updating;  // the litres of the "Updating Fuel" line, nullptr: none
    };
    const Case cases[] = {
        {"equal", "2.5", 30, false, false, nullptr, 20, nullptr},
        {"text", "more soon", 30, false, false, nullptr, 20, nullptr},
        {"endless", "inf", 30, false, false, nullptr, 20, nullptr},
        {"higher", "3.1", 30, false, true, "pit 2 27", 27.5, "27.50"},
        {"higher, nothing to add", "3.1", 0, false, true, "pit 2 0", 0, nullptr},
        // Less left to add than a lap's burn: never a negative amount.
        {"higher, less than a lap to add", "3.1", 1, false, true, "pit 2 0", 0, "0.00"},
        {"higher, less than a litre left to add", "3.1", 3, false, true, "pit 2 0", 0.5, "0.50"},
        {"higher, passive", "3.1", 30, true, true, nullptr, 27.5, "27.50"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        armedOnPitRoad();
        race().PassiveMode = c.passive ? 1 : 0;
        service_.answer("getpreviousfuelburn", c.reply);
        double refreshedLiters = c.litersAfterRefresh;
        int refreshes = 0;
        onRefresh = [&] {
            // The tick's own refresh leaves the numbers; the one at pit-in follows the new burn.
            if (++refreshes == 2) {
                race().LitersToAdd = refreshedLiters;
            }
        };
        timeline_.clear();
        clearLog();
        tick();
        onRefresh = nullptr;

        EXPECT_EQ(refreshes, c.raised ? 2 : 1);
        EXPECT_EQ(race().FuelBurnMax, c.raised ? 3.1f : 2.5f);
        EXPECT_EQ(timeline_.starting("pit 2"), c.pit ? Events{c.pit} : Events{});
        EXPECT_NEAR(race().FuelLastSet, c.fuelLastSet, 1e-4);
        const Events log = logMessages();
        ASSERT_GE(log.size(), 4u);
        if (c.raised) {
            EXPECT_EQ(log[3],
                      "LOG: Lap 9 Pit IN: Setting FuelBurnMax: 2.50 to FuelBurnMaxReply: 3.10");
        }
        const Events extra(log.begin() + (c.raised ? 4 : 3), log.end() - 1);
        EXPECT_EQ(extra, c.updating ? Events{"LOG: Lap 9 Pit IN: Updating Fuel: FuelLastSet: "
                                             "20.00 LitersToAdd: " +
                                             std::string(c.updating)}
                                    : Events{});
    }
}

TEST_F(PitRoadTest, TheTireReplyDecidesWhetherTiresAreOrdered) {
    struct Case {
        const char* reply;
        bool takes;
    };
    const Case cases[] = {{"1", true},  {"2", true},    {"4", true},   {"3", false},
                          {"0", false}, {"5", false},   {"-1", false}, {"two", false},
                          {"", false},  {" 2\n", true}, {"2.9", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        armedOnPitRoad();
        race().TiresRequested = 0;
        service_.answer("qrdtireschange", c.reply);
        timeline_.clear();
        clearLog();
        tick();
        const Events log = logMessages();
        ASSERT_GE(log.size(), 2u);
        const std::string words =
            c.takes ? "Taking Tires this stop." : "We won't be taking tires this time";
        EXPECT_EQ(log[1], "LOG: Lap 9 Pit IN: TireReply: " + std::to_string(std::atoi(c.reply)) +
                              " ChangeTires: " + (c.takes ? "1" : "0") + " TireAgeInLaps: 3 " +
                              words);
        EXPECT_EQ(race().TiresRequested, c.takes ? 1 : 0);
        EXPECT_EQ(timeline_.starting("pit").size(), c.takes ? 4u : 0u);
        if (c.takes) {
            EXPECT_EQ(timeline_.starting("say"),
                      Events{"say later: Taking Tires this stop. They're 3 laps old."});
        }
    }
}

TEST_F(PitRoadTest, RollingThroughTheStallNeitherSoundsNorReports) {
    inTheStall(5.0);
    race().StatusBits = 9;
    sim_.set("FuelLevel", 31.5);
    sim_.setInt("PlayerCarPitSvStatus", 2);
    // The stall timer runs from the first row in the box and stops when the car leaves it.
    const char* const rows[] = {" Box: 1 Time: 0.0 ", " Box: 1 Time: 1.5 ", " Box: 1 Time: 3.0 ",
                                " Box: 0 Time: 0.0 ", " Box: 0 Time: 0.0 "};
    for (int i = 0; i < 5; ++i) {
        sim_.set("SessionTime", 500 + 1.5 * i);
        sim_.setBool("PlayerCarInPitStall", i < 3);
        const std::string out = tick();
        EXPECT_TRUE(contains(out, std::string(rows[i]) +
                                      "SVC: 2 PR:0.0 PRO:0.0 Fuel: L:31.500 Volume: 90% QRD:9"
                                      "                  \r"))
            << out;
    }
    EXPECT_TRUE(timeline_.starting("tone").empty());
    EXPECT_TRUE(timeline_.starting("GET").empty());
    EXPECT_EQ(race().BoxServiceDone, 0);
    EXPECT_EQ(race().FuelBurnPerLap, 2.4f);
}

TEST_F(PitRoadTest, EachStopSoundsLogsAndReportsOnceAfterAMeasuredStintAndRestartsTheWindow) {
    const Events box = {
        "BOX: Lap 12 Session Weather: TrackAir: 25.55 TrackSurface: 34.27  Air: 21.00  Track: "
        "33.50",
        "BOX: Lap 12 Pitting: QRD : Service : PSV: 16 FT: 45 FL: 20.500 FU: 12.250 LTA: 38 FN: "
        "58.700",
        "BOX: Lap 12 Pitting: QRD : Tire Read: LF:0.90 RF:0.90 LR:0.90 RR:0.90 "};
    const Events tone = {"tone 1200 100 0.0/0.9/0.0/0.0"};
    struct Stop {
        float perLap, perMin;
        bool reported;
        bool rollsOut;  // seen rolling out of the box, or next seen on pit road
    };
    // A thrifty car burns below a litre a lap and a minute: still a measured stint.
    const Stop stops[] = {{2.4f, 1.3f, true, true},
                          {2.4f, 1.3f, true, false},
                          {0.9f, 0.6f, true, false},
                          {2.4f, 0, false, false},
                          {0, 1.3f, false, true}};
    for (const Stop& s : stops) {
        SCOPED_TRACE(std::to_string(s.perLap) + " " + std::to_string(s.perMin));
        inTheStall(0.5);
        sim_.set("AirTemp", 21);
        sim_.set("TrackTempCrew", 33.5);
        sim_.setInt("PitSvFlags", 16);
        sim_.set("FuelLevel", 20.5);
        race().TrackAirTemp = 25.55;
        race().TrackSurfaceTemp = 34.27;
        race().FuelTankLiters = 45;
        race().FuelUsed = 12.25f;
        race().LitersToAdd = 38.9;
        race().FuelToFinish = 58.7;
        race().FuelBurnPerLap = s.perLap;
        race().FuelBurnPerMin = s.perMin;
        timeline_.clear();
        clearLog();
        for (int i = 0; i < 4; ++i) {
            tick();
        }
        Events stopWork;
        for (const std::string& e : timeline_.events()) {
            if (e != "refresh") {
                stopWork.push_back(e.rfind("GET", 0) == 0 ? e.substr(0, e.find('?')) : e);
            }
        }
        const Events reported = {tone[0], tone[0], "sleep 1000", "GET /qrd/data.php"};
        EXPECT_EQ(stopWork, s.reported ? reported : tone);
        EXPECT_EQ(logMessages(), s.reported ? box : Events{});
        EXPECT_EQ(race().BoxServiceDone, 1);
        EXPECT_EQ(race().FuelBurnPerLap, 0.0f);
        EXPECT_FLOAT_EQ(race().FuelAtReset, 20.5f);

        // Rolling out of the box makes the next stop count again; so does a car next seen on
        // pit road, past every row of its getaway.
        if (s.rollsOut) {
            sim_.set("Speed", 2.0);
        } else {
            sim_.setBool("PlayerCarInPitStall", false);
            onSurface(2);
        }
        tick();
        EXPECT_EQ(race().BoxServiceDone, 0);
    }
}

TEST_F(PitRoadTest, TiresWornBelowTheLimitAreChangedInTheStall) {
    struct Case {
        const char* corner;
        double wear;
        bool change;
    };
    const Case cases[] = {{"LFwearR", 0.74, true},  {"RFwearL", 0.74, true},
                          {"LRwearR", 0.74, true},  {"RRwearL", 0.74, true},
                          {"LFwearR", 0.76, false}, {"RRwearL", 0.75, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.corner) + " " + std::to_string(c.wear));
        engineer::ResetPitRoadHandling();
        race().ServiceType = 0;
        race().TiresRequested = 0;
        inTheStall(3.0);
        sim_.set(c.corner, c.wear);
        sim_.setInt("PitSvFlags", 16);
        race().BaselinePressureLF = race().BaselinePressureRF = 170;
        race().BaselinePressureLR = race().BaselinePressureRR = 170;
        race().TireResetDone = 1;
        timeline_.clear();
        clearLog();
        tick();
        tick();
        const Events log = logMessages();
        if (!c.change) {
            EXPECT_EQ(log, Events{});
            EXPECT_TRUE(timeline_.starting("pit").empty());
            continue;
        }
        ASSERT_EQ(log.size(), 3u);
        EXPECT_EQ(log[0],
                  "SET: Lap 12 Pitting: Changing Tires due to wear PSV: 16 (Wear Limit: "
                  "0.75)");
        EXPECT_TRUE(log[1].rfind("BOX: Lap 12 Pitting: Tire Wear: LF:", 0) == 0) << log[1];
        EXPECT_TRUE(contains(log[1], "0.74")) << log[1];
        EXPECT_EQ(log[2], "SET: Lap 12 Pitting: Change Tires Reason: Wear.");
        EXPECT_EQ(timeline_.starting("pit").size(), 4u);
        EXPECT_EQ(timeline_.starting("say"), Events{"say later: Tire wear more than 75%."});
        EXPECT_EQ(race().TiresRequested, 1);
        EXPECT_EQ(race().ServiceType, 0u);
    }
}

TEST_F(PitRoadTest, AWearOrderThatCannotBePlacedIsTriedOncePerStallVisit) {
    auto tries = [this] {
        const Events log = logMessages();
        return std::count_if(log.begin(), log.end(), [](const std::string& line) {
            return contains(line, "Change Tires Reason");
        });
    };
    // Passive after a garage visit: adaptive management is on, but no order can be placed.
    inTheStall(3.0);
    sim_.set("LFwearR", 0.5);
    race().PassiveMode = 1;
    race().AdaptiveTireManagement = 1;
    for (int i = 0; i < 5; ++i) {
        tick();
    }
    EXPECT_EQ(tries(), 1);
    EXPECT_EQ(race().ServiceType, 1u);

    // The next visit to the stall tries again.
    onSurface(2);
    race().PitInArmed = 0;
    tick();
    inTheStall(3.0);
    tick();
    tick();
    EXPECT_EQ(tries(), 2);
}

TEST_F(PitRoadTest, ATireServiceResetsTheTireAgeOncePerStop) {
    struct Case {
        int flags;
        uint8_t resetDone;
        bool reset;
    };
    const Case cases[] = {{1, 0, true}, {8, 0, true}, {16, 0, false}, {15, 1, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        inTheStall(3.0);
        sim_.setInt("PitSvFlags", c.flags);
        race().TireChangeLap = 2;
        race().TireResetDone = c.resetDone;
        race().TireChangeMode = 2;
        tick();
        EXPECT_EQ(race().TireChangeLap, c.reset ? 12 : 2);
        EXPECT_EQ(race().TireChangeMode, c.reset ? 0 : 2);
        EXPECT_EQ(race().TireResetDone, c.reset ? 1 : c.resetDone);
    }
}

}  // namespace
}  // namespace racetest
