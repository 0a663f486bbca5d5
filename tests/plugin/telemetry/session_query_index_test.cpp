// The session-text index must answer every query exactly as the plain scan of the text does,
// for any text, including texts rewritten in place between passes.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "plugin/telemetry/session_query.h"
#include "plugin/telemetry/telemetry_client.h"
#include "tests/support/fake_simulator.h"
#include "tests/support/virtual_clock.h"

namespace {

using telemetry::findSessionValue;
using telemetry::SessionTextIndex;

const char* const kKeys[] = {"A", "B", "Key", "CarIdx", "Car ID", "N", "SessionNum"};
const char* const kValues[] = {"",     " 1",   " 10", " -3", " two words  ",
                               " x:y", " - z", " 2",  "  0", " {1}"};
const char* const kEnds[] = {"\n", "\n", "\n", "\r\n", "\r"};

template <size_t N>
const char* pick(std::mt19937& rng, const char* const (&items)[N]) {
    return items[std::uniform_int_distribution<size_t>(0, N - 1)(rng)];
}

// An indentation-structured text of keys, values and list items in the session text's manner.
std::string generateText(std::mt19937& rng) {
    std::string s;
    const int lines = std::uniform_int_distribution<int>(1, 60)(rng);
    int depth = 0;
    for (int i = 0; i < lines; ++i) {
        depth = std::max(0, depth + std::uniform_int_distribution<int>(-2, 1)(rng));
        std::string indent(static_cast<size_t>(depth), ' ');
        if (depth > 0 && rng() % 4 == 0) {
            indent[static_cast<size_t>(depth - 1)] = '-';
            indent += ' ';
        }
        s += indent + pick(rng, kKeys) + ":" + pick(rng, kValues) + pick(rng, kEnds);
    }
    if (rng() % 5 == 0) {
        s += "Last: 1";  // a last line without its end
    }
    return s;
}

std::string generatePath(std::mt19937& rng) {
    std::string p;
    const int keys = std::uniform_int_distribution<int>(1, 3)(rng);
    for (int k = 0; k < keys; ++k) {
        p += std::string(pick(rng, kKeys)) + ":";
        if (k + 1 < keys && rng() % 3 == 0) {
            static const char* const selectors[] = {"{1}", "{10}", "{-3}", "{}", "{two words  }"};
            p += pick(rng, selectors);
        }
    }
    return p;
}

struct Answer {
    bool found = false;
    std::string value;
    size_t offset = 0;
    bool operator==(const Answer&) const = default;
};

Answer plain(const std::string& text, size_t limit, const std::string& path) {
    Answer a;
    const char* start = nullptr;
    int length = 0;
    a.found = findSessionValue(text.data(), limit, path.c_str(), &start, &length);
    if (a.found) {
        a.value.assign(start, static_cast<size_t>(length));
        a.offset = static_cast<size_t>(start - text.data());
    }
    return a;
}

Answer indexed(SessionTextIndex& index, const std::string& text, size_t limit,
               const std::string& path) {
    EXPECT_TRUE(index.sync(text.data(), limit));
    Answer a;
    const char* start = nullptr;
    int length = 0;
    a.found = index.find(path.c_str(), &start, &length);
    if (a.found) {
        a.value.assign(start, static_cast<size_t>(length));
        // The offset into the copy is the offset into the text.
        a.offset = static_cast<size_t>(start - index.copyStart());
    }
    return a;
}

std::vector<std::string> pathsFor(std::mt19937& rng) {
    std::vector<std::string> paths;
    for (int i = 0; i < 40; ++i) {
        paths.push_back(generatePath(rng));
    }
    return paths;
}

TEST(SessionTextIndex, GeneratedTextsAnswerAsThePlainScanAcrossInPlaceRewrites) {
    std::mt19937 rng(7);
    SessionTextIndex index;
    static const char mutations[] = {' ', '-', ':', '\n', '\r', '\0', 'x', '1', 'A'};
    for (int round = 0; round < 300; ++round) {
        std::string text = generateText(rng);
        const std::vector<std::string> paths = pathsFor(rng);
        // The same buffer, rewritten byte by byte between passes, as a publisher that forgets
        // its update counter would. The fresh text is asked twice: the second answer comes
        // from the memo.
        for (int change = 0; change < 8; ++change) {
            for (int pass = 0; pass < (change == 0 ? 2 : 1); ++pass) {
                for (const std::string& path : paths) {
                    ASSERT_EQ(indexed(index, text, text.size() + 1, path),
                              plain(text, text.size() + 1, path))
                        << "path " << path << "\ntext:\n"
                        << text;
                }
            }
            if (!text.empty()) {
                const size_t at = std::uniform_int_distribution<size_t>(0, text.size() - 1)(rng);
                text[at] = mutations[rng() % sizeof mutations];
            }
        }
    }
}

TEST(SessionTextIndex, TextsWithoutTheirNulStopAtTheLimit) {
    const std::string text = "A:\n B: 1\n C: 2\n D: 3\n";
    SessionTextIndex index;
    for (size_t limit = 0; limit <= text.size(); ++limit) {
        for (const char* path : {"A:B:", "A:C:", "A:D:"}) {
            SCOPED_TRACE(std::to_string(limit) + " " + path);
            EXPECT_EQ(indexed(index, text, limit, path), plain(text, limit, path));
        }
    }
    EXPECT_FALSE(index.sync(nullptr, 10));
    EXPECT_FALSE(index.holdsText());
}

class SessionQueryPassTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim_.attach(client_);
        sim_.setConnected(true);
        sim_.setSessionText(testsupport::sampleSessionText(64));
        ASSERT_TRUE(sim_.deliver(client_));
    }
    void TearDown() override { telemetry::setSessionQueryIndexEnabled(true); }

    // Every answer (result and QueryResult) for `paths`, inside a pass or by plain scans.
    std::vector<std::string> answers(const std::vector<std::string>& paths, bool indexedPass) {
        telemetry::setSessionQueryIndexEnabled(indexedPass);
        telemetry::SessionQueryPass pass(client_);
        std::vector<std::string> out;
        for (const std::string& p : paths) {
            std::strcpy(telemetry::QueryResult, "<before>");
            const int result = telemetry::querySessionValue(client_, p.c_str());
            out.push_back(std::to_string(result) + " " + telemetry::QueryResult);
        }
        return out;
    }

    testsupport::VirtualClock clock_;
    testsupport::ScopedClock useClock_{clock_};
    testsupport::FakeSimulator sim_;
    telemetry::TelemetryClient client_;
};

const std::vector<std::string> kPluginPaths = {
    "DriverInfo:DriverUserID:",
    "DriverInfo:DriverCarSLShiftRPM:",
    "WeekendInfo:SubSessionID:",
    "WeekendInfo:TrackID:",
    "DriverInfo:Drivers:CarIdx:{1}CarID:",
    "DriverInfo:Drivers:CarIdx:{63}CarID:",
    "DriverInfo:Drivers:CarIdx:{64}CarID:",
    "WeekendInfo:TrackAirTemp:",
    "WeekendInfo:TrackSurfaceTemp:",
    "WeekendInfo:TrackLength:",
    "DriverInfo:DriverPitTrkPct:",
    "DriverInfo:DriverCarFuelMaxLtr:",
    "DriverInfo:Drivers:CarIdx:{1}CarClassMaxFuelPct:",
    "SessionInfo:Sessions:SessionNum:{2}SessionName:",
    "WeekendInfo:TrackPitSpeedLimit:",
    "WeekendInfo:Nowhere:",
};

TEST_F(SessionQueryPassTest, PassesAnswerAsPlainScansAcrossInPlaceRewrites) {
    std::string text = testsupport::sampleSessionText(64);
    std::mt19937 rng(11);
    for (int change = 0; change < 30; ++change) {
        SCOPED_TRACE(change);
        const auto byIndex = answers(kPluginPaths, true);
        const auto byScan = answers(kPluginPaths, false);
        ASSERT_EQ(byIndex, byScan);
        // Rewrite in place, without a new update counter: a digit, a line end, or the end.
        const size_t at = std::uniform_int_distribution<size_t>(0, text.size() - 1)(rng);
        static const char bytes[] = {'7', '\n', ' ', ':', '\0'};
        text[at] = bytes[rng() % sizeof bytes];
        sim_.overwriteSessionText(text, rng() % 4 != 0);
    }
}

TEST_F(SessionQueryPassTest, OnePassReadsOneVersionOfTheText) {
    telemetry::SessionQueryPass pass(client_);
    ASSERT_EQ(telemetry::querySessionValue(client_, "WeekendInfo:TrackID:"), 1);
    const std::string before = telemetry::QueryResult;
    sim_.overwriteSessionText("WeekendInfo:\n TrackID: 1\n");
    ASSERT_EQ(telemetry::querySessionValue(client_, "WeekendInfo:TrackID:"), 1);
    EXPECT_EQ(before, telemetry::QueryResult);
}

}  // namespace
