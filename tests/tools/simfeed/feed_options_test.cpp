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
        {{"--field", "0"}, "--field"},
        {{"--field", "65"}, "--field"},
        {{"--block"}, "--block"},
        {{"--event", ""}, "--event"},
        {{"--print-session-text"}, "--print-session-text"},
        {{"--print-session-text", "one_stop", "--replay", "a.ibt"}, "do not go together"},
    };
    for (const Case& c : cases) {
        auto parsed = parseFeedOptions(c.args);
        EXPECT_FALSE(parsed.options.has_value()) << c.args[0];
        EXPECT_NE(parsed.error.find(c.expected), std::string::npos) << parsed.error;
    }
}

// Parallel tests give the feed names of their own; the reader opens them by the same rule.
TEST(FeedOptions, BlockAndEventNames) {
    struct Case {
        std::vector<std::string> args;
        const char* block;
        const char* event;
    } cases[] = {
        {{}, "Local\\IRSDKMemMapFileName", "Local\\IRSDKDataValidEvent"},
        {{"--block", "KTEST1"}, "Local\\KTEST1", "Local\\KTEST1DataValidEvent"},
        {{"--block", "Local\\KTEST2", "--event", "KEV"}, "Local\\KTEST2", "Local\\KEV"},
        {{"--event", "Global\\KEV"}, "Local\\IRSDKMemMapFileName", "Global\\KEV"},
    };
    for (const Case& c : cases) {
        auto parsed = parseFeedOptions(c.args);
        ASSERT_TRUE(parsed.options.has_value()) << parsed.error;
        EXPECT_EQ(simfeed::feedBlockName(*parsed.options), c.block);
        EXPECT_EQ(simfeed::feedEventName(*parsed.options), c.event);
    }
}

TEST(FeedOptions, PrintSessionTextTakesTheScenarioAndField) {
    auto parsed = parseFeedOptions({"--print-session-text", "timed_race", "--field", "64"});
    ASSERT_TRUE(parsed.options.has_value()) << parsed.error;
    EXPECT_TRUE(parsed.options->printSessionText);
    EXPECT_EQ(parsed.options->scenario, "timed_race");
    EXPECT_EQ(parsed.options->fieldSize, 64);
}

}  // namespace
