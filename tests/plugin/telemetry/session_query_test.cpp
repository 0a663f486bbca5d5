// Session queries: the plain scan's line rules, the index that must answer every query as the
// scan does (texts rewritten in place between passes included), and the paths the plugin asks.
// Arbitrary texts and rewrites are the session-query and snapshot-index fuzz targets' part.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "plugin/telemetry/session_query.h"
#include "plugin/telemetry/telemetry_client.h"
#include "tests/support/fake_simulator.h"
#include "tests/support/virtual_clock.h"

namespace {

using telemetry::findSessionValue;
using telemetry::QueryPath;
using telemetry::QueryResult;
using telemetry::querySessionValue;
using telemetry::SessionTextIndex;

// What a query found: the value, and where it starts in the text (or in the index's copy).
struct Answer {
    bool found = false;
    std::string value;
    size_t offset = 0;
    bool operator==(const Answer&) const = default;
};

Answer answer(bool found, const char* start, int length, const char* base) {
    return found ? Answer{true, std::string(start, static_cast<size_t>(length)),
                          static_cast<size_t>(start - base)}
                 : Answer{};
}

// The scan over an exact-size heap copy of the text's first `limit` bytes.
Answer plain(const std::string& text, size_t limit, const std::string& path) {
    const auto bytes = std::make_unique<char[]>(limit);
    std::memcpy(bytes.get(), text.c_str(), limit);
    const char* start = nullptr;
    int length = 0;
    const bool found = findSessionValue(bytes.get(), limit, path.c_str(), &start, &length);
    return answer(found, start, length, bytes.get());
}

Answer indexed(SessionTextIndex& index, const std::string& text, size_t limit,
               const std::string& path) {
    EXPECT_TRUE(index.sync(text.data(), limit));
    const char* start = nullptr;
    int length = 0;
    const bool found = index.find(path.c_str(), &start, &length);
    return answer(found, start, length, index.copyStart());
}

// Texts without their NUL: the scans run over exact-size heap copies, so the sanitizer build
// catches any read past the limit, by the scan or by the index.
TEST(SessionTextIndex, TextsWithoutTheirNulStopAtTheLimit) {
    const std::string text = "A:\n B: 1\n C: 2\n D: 3\n";
    SessionTextIndex index;
    for (size_t limit = 0; limit <= text.size(); ++limit) {
        for (const char* path : {"A:B:", "A:C:", "A:D:"}) {
            SCOPED_TRACE(std::to_string(limit) + " " + path);
            EXPECT_EQ(indexed(index, text, limit, path), plain(text, limit, path));
        }
    }
    EXPECT_EQ(plain(text, text.size(), "A:D:").value, "3");
    // One digit rewritten in place, one up: the new value, not the one remembered.
    std::string rewritten = text;
    rewritten[7] = '2';
    EXPECT_EQ(indexed(index, text, text.size() + 1, "A:B:").value, "1");
    EXPECT_EQ(indexed(index, rewritten, text.size() + 1, "A:B:").value, "2");
    EXPECT_FALSE(index.sync(nullptr, 10));
    EXPECT_FALSE(index.holdsText());
    const char* start = nullptr;
    int length = 0;
    EXPECT_FALSE(index.find("A:B:", &start, &length));
    EXPECT_FALSE(findSessionValue(nullptr, 10, "A:", &start, &length));
    EXPECT_FALSE(findSessionValue(text.c_str(), text.size(), nullptr, &start, &length));
}

struct ScanCase {
    const char* name;
    const char* text;
    const char* path;
    const char* expected;
};

TEST(SessionScanner, LineRules) {
    const ScanCase cases[] = {
        {"nested key", "WeekendInfo:\n TrackID: 12\n", "WeekendInfo:TrackID:", "12"},
        {"selector must match the whole value",
         "Drivers:\n- CarIdx: 10\n  CarID: 5\n- CarIdx: 1\n  CarID: 7\n",
         "Drivers:CarIdx:{1}CarID:", "7"},
        {"selector absent from the list, search leaves the section",
         "S:\n Sessions:\n - Num: 0\n   Name: A\n - Num: 1\n   Name: B\n - Num: 2\n   Name: C\n"
         "Next:\n Sessions:\n - Num: 3\n   Name: D\n",
         "S:Sessions:Num:{3}Name:", "<none>"},
        {"CR LF line ends", "A:\r\n B: 5\r\n C: 6\r\n", "A:C:", "6"},
        {"CR line ends", "A:\r B: 5\r", "A:B:", "5"},
        {"last line without a line end", "A:\n B: 5", "A:B:", "<none>"},
        {"minus sign kept", "A:\n B: -3\n", "A:B:", "-3"},
        {"list dash directly after the colon blank", "A:\n B: - x\n", "A:B:", "- x"},
        {"inner and trailing blanks kept", "A:\n B: two words  \n", "A:B:", "two words  "},
        {"key with blanks", "A:\n Some Key: x\n", "A:Some Key:", "x"},
        {"quotes kept", "A:\n B: \"7\"\n", "A:B:", "\"7\""},
        {"case-sensitive keys", "A:\n B: 1\n", "a:B:", "<none>"},
        {"case-sensitive selector", "A:\n- N: Race\n  V: 1\n", "A:N:{race}V:", "<none>"},
        {"key deeper than its parent line, then shallower", "A:\n  B:\n C: 9\n",
         "A:B:C:", "<none>"},
        {"key at the depth of the last match", "A:\n B:\n C: 9\n", "A:B:C:", "9"},
        {"key at the depth of a match on the first line", "A:\nB: 1\n", "A:B:", "1"},
        {"shallower line after an indented first line ends its section", " A:\nB: 1\n",
         "A:B:", "<none>"},
        {"empty value", "A:\n B:\n  C: 1\n", "A:B:", ""},
        {"blank lines between", "A:\n\n\n B: 1\n", "A:B:", "1"},
        {"longer key with the same start", "A:\n TrackIDX: 1\n TrackID: 2\n", "A:TrackID:", "2"},
        {"shorter key with the same start", "A:\n Track: 1\n TrackID: 2\n", "A:TrackID:", "2"},
        {"top-level key not first", "X:\n Y: 1\nA:\n B: 2\n", "A:B:", "2"},
        {"empty path never matches a line", "A:\n B: 1\n", "", "<none>"},
    };
    SessionTextIndex index;
    for (const ScanCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = c.text;
        const Answer scanned = plain(text, text.size() + 1, c.path);
        EXPECT_EQ(scanned.found ? scanned.value : "<none>", c.expected);
        EXPECT_EQ(indexed(index, text, text.size() + 1, c.path), scanned);
    }
}

class SessionQueryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim.attach(client);
        sim.setConnected(true);
        sim.setSessionText(testsupport::sampleSessionText(64));
        ASSERT_TRUE(sim.deliver(client));
    }
    void TearDown() override { telemetry::setSessionQueryIndexEnabled(true); }

    // Every answer (result and QueryResult) for `paths`, inside a pass or by plain scans.
    std::vector<std::string> answers(const std::vector<std::string>& paths, bool indexedPass) {
        telemetry::setSessionQueryIndexEnabled(indexedPass);
        telemetry::SessionQueryPass pass(client);
        std::vector<std::string> out;
        for (const std::string& p : paths) {
            std::strcpy(QueryResult, "<before>");
            const int result = querySessionValue(client, p.c_str());
            out.push_back(std::to_string(result) + " " + QueryResult);
        }
        return out;
    }

    testsupport::VirtualClock clock;
    testsupport::ScopedClock useClock{clock};
    testsupport::FakeSimulator sim;
    telemetry::TelemetryClient client;
};

struct PathCase {
    const char* format;
    int number;
    const char* expected;
};
const PathCase kPluginPaths[] = {
    {"DriverInfo:DriverUserID:", 0, "100001"},
    {"WeekendInfo:TrackID:", 0, "47"},
    {"WeekendInfo:TrackDisplayName:", 0, "WeatherTech Raceway at Laguna Seca"},
    {"DriverInfo:Drivers:CarIdx:{%d}CarID:", 1, "67"},
    {"DriverInfo:Drivers:CarIdx:{%d}CarID:", 0, "120"},
    {"DriverInfo:Drivers:CarIdx:{%d}CarID:", 63, "67"},
    {"DriverInfo:Drivers:CarIdx:{%d}UserName:", 11, "Driver 11"},
    {"WeekendInfo:TrackLength:", 0, "3.60 km"},
    {"SessionInfo:Sessions:SessionNum:{%d}SessionName:", 0, "PRACTICE"},
    {"SessionInfo:Sessions:SessionNum:{%d}SessionName:", 2, "RACE"},
    {"SessionInfo:Sessions:SessionNum:{%d}SessionLaps:", 2, "20"},
    {"SessionInfo:Sessions:SessionNum:{%d}SessionTime:", 0, "1800.0000 sec"},
    {"CarSetup:Tires:RightFront:StartingPressure:", 0, "165 kPa"},
};
const char* const kMissingPaths[] = {
    "SessionInfo:Sessions:SessionNum:{3}SessionName:",  // only sessions 0 to 2
    "DriverInfo:Drivers:CarIdx:{64}CarID:",             // only cars 0 to 63
    "WeekendInfo:NoSuchKey:",
    "CarSetup:Tires:RightFront:NoSuchKey:",
};

// Every path shape the plugin asks, found as the plain scan finds it, and a missing entry not
// found and leaving the last result, across texts rewritten in place between passes.
TEST_F(SessionQueryTest, PassesAnswerAsPlainScansAcrossInPlaceRewrites) {
    std::vector<std::string> paths, expected;
    for (const char* path : kMissingPaths) {
        paths.push_back(path);
        expected.push_back("0 <before>");
    }
    for (const PathCase& c : kPluginPaths) {
        std::snprintf(QueryPath, sizeof QueryPath, c.format, c.number);
        paths.push_back(QueryPath);
        expected.push_back(std::string("1 ") + c.expected);
    }
    EXPECT_EQ(answers(paths, true), expected);
    std::string text = testsupport::sampleSessionText(64);
    std::mt19937 rng(11);
    for (int change = 0; change < 30; ++change) {
        SCOPED_TRACE(change);
        ASSERT_EQ(answers(paths, true), answers(paths, false));
        // Rewrite in place, without a new update counter: a digit, a line end, or the end.
        const size_t at = std::uniform_int_distribution<size_t>(0, text.size() - 1)(rng);
        static const char bytes[] = {'7', '\n', ' ', ':', '\0'};
        text[at] = bytes[rng() % sizeof bytes];
        sim.overwriteSessionText(text, rng() % 4 != 0);
    }
}

// A pass reads one version of the text; after it, the text is read as it is now.
TEST_F(SessionQueryTest, APassReadsOneVersionOfTheTextAndThenTheTextAsItIsNowWhileLive) {
    {
        telemetry::SessionQueryPass pass(client);
        ASSERT_EQ(querySessionValue(client, "WeekendInfo:TrackID:"), 1);
        sim.overwriteSessionText("WeekendInfo:\n TrackID: 99\n");
        ASSERT_EQ(querySessionValue(client, "WeekendInfo:TrackID:"), 1);
        EXPECT_STREQ(QueryResult, "47");
    }
    EXPECT_EQ(querySessionValue(client, "WeekendInfo:TrackID:"), 1);
    EXPECT_STREQ(QueryResult, "99");
    // Nothing is found while not live.
    EXPECT_EQ(querySessionValue(client, nullptr), 0);
    sim.setConnected(false);
    EXPECT_EQ(querySessionValue(client, "WeekendInfo:TrackID:"), 0);
    sim.setConnected(true);
    EXPECT_EQ(querySessionValue(client, "WeekendInfo:TrackID:"), 1);
    clock.advanceSeconds(30);
    EXPECT_EQ(querySessionValue(client, "WeekendInfo:TrackID:"), 0);
}

TEST_F(SessionQueryTest, LongValuesAreCutAndReportedNegative) {
    struct Case {
        size_t length;
        int expected;
    };
    for (Case c : {Case{512, 1}, Case{513, -513}, Case{600, -600}}) {
        SCOPED_TRACE(c.length);
        std::string value(c.length, 'x');
        value[0] = 'v';
        ASSERT_TRUE(sim.setSessionText("A:\n B: " + value + "\n"));
        EXPECT_EQ(querySessionValue(client, "A:B:"), c.expected);
        EXPECT_EQ(std::strlen(QueryResult), std::min<size_t>(c.length, 512));
        EXPECT_EQ(std::string(QueryResult), value.substr(0, 512));
    }
}

}  // namespace
