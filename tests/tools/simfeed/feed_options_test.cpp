#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/simfeed/feed_options.h"

namespace {

using simfeed::parseFeedOptions;

TEST(FeedOptions, ReadsEveryOption) {
    auto parsed = parseFeedOptions({"--scenario",
                                    "timed_race",
                                    "--time-scale",
                                    "25",
                                    "--seed",
                                    "9",
                                    "--run-seconds",
                                    "60",
                                    "--until-end",
                                    "--connect-after",
                                    "3",
                                    "--disconnect",
                                    "10:14",
                                    "--disconnect",
                                    "20:21.5",
                                    "--freeze",
                                    "30:35",
                                    "--record",
                                    "out.ibt",
                                    "--log",
                                    "feed.log",
                                    "--channel",
                                    "TEST_CH",
                                    "--stop-file",
                                    "stop.flag",
                                    "--no-keyboard",
                                    "--quiet"});
    ASSERT_TRUE(parsed.options.has_value()) << parsed.error;
    const simfeed::FeedOptions& o = *parsed.options;
    EXPECT_EQ(o.scenario, "timed_race");
    EXPECT_EQ(o.timeScale, 25);
    EXPECT_EQ(o.seed, 9);
    EXPECT_EQ(o.runSeconds, 60);
    EXPECT_TRUE(o.untilEnd);
    EXPECT_EQ(o.connectAfter, 3);
    ASSERT_EQ(o.disconnects.size(), 2u);
    EXPECT_EQ(o.disconnects[1].at, 20);
    EXPECT_EQ(o.disconnects[1].until, 21.5);
    ASSERT_EQ(o.freezes.size(), 1u);
    EXPECT_EQ(o.freezes[0].until, 65) << "a freeze is given by its length";
    EXPECT_EQ(o.record, "out.ibt");
    EXPECT_EQ(o.logPath, "feed.log");
    EXPECT_EQ(o.channel, "TEST_CH");
    EXPECT_EQ(o.stopFile, "stop.flag");
    EXPECT_FALSE(o.keyboard);
    EXPECT_TRUE(o.quiet);
}

TEST(FeedOptions, DefaultsNeedNoArguments) {
    auto parsed = parseFeedOptions({});
    ASSERT_TRUE(parsed.options.has_value());
    EXPECT_EQ(parsed.options->scenario, "one_stop");
    EXPECT_EQ(parsed.options->logPath, "Qm_Korvane_SimFeed.log");
    EXPECT_TRUE(parsed.options->keyboard);
}

TEST(FeedOptions, RefusesWhatItCannotUse) {
    struct Case {
        std::vector<std::string> args;
        const char* expected;
    } cases[] = {
        {{"--time-scale", "0"}, "--time-scale"},
        {{"--time-scale", "1e9"}, "--time-scale"},
        {{"--time-scale"}, "--time-scale"},
        {{"--run-seconds", "-5"}, "--run-seconds"},
        {{"--run-seconds", "abc"}, "--run-seconds"},
        {{"--disconnect", "10"}, "--disconnect"},
        {{"--disconnect", "10:5"}, "BACK after AT"},
        {{"--freeze", "10:0"}, "--freeze"},
        {{"--seed", "1.5"}, "--seed"},
        {{"--loop"}, "--loop only goes with --replay"},
        {{"--replay", "a.ibt", "--record", "a.ibt"}, "the same file"},
        {{"--scenario"}, "--scenario"},
        {{"--frobnicate"}, "unknown option '--frobnicate'"},
    };
    for (const Case& c : cases) {
        auto parsed = parseFeedOptions(c.args);
        EXPECT_FALSE(parsed.options.has_value()) << c.args[0];
        EXPECT_NE(parsed.error.find(c.expected), std::string::npos) << parsed.error;
    }
}

}  // namespace
