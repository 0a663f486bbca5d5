// The session-join line: which session, track and car the driver joined.

#include <string>
#include <vector>

#include "support/race_fixture.h"
#include "plugin/app/seams.h"
#include "plugin/engineer/race_state.h"

namespace racetest {
namespace {

using Lines = Events;

class SessionJoinTest : public RaceTest {};

TEST_F(SessionJoinTest, RecordsTheSessionTrackAndCarOfThePlayer) {
    analytics::LogSessionJoin();
    EXPECT_EQ(logMessages(), Lines{"LOG: Join Session Information: SessionID: 61234567, "
                                   "47,WeatherTech Raceway at Laguna Seca, 67,Mazda MX-5 Cup"});
    const engineer::RaceState& r = engineer::Race();
    EXPECT_EQ(r.SubSessionID, 61234567);
    EXPECT_EQ(r.TrackID, 47);
    EXPECT_EQ(r.CarID, 67);

    // The car is the one at the player's index, here the pace car's entry.
    sim_.setInt("PlayerCarIdx", 0);
    publish();
    clearLog();
    analytics::LogSessionJoin();
    EXPECT_EQ(logMessages(), Lines{"LOG: Join Session Information: SessionID: 61234567, "
                                   "47,WeatherTech Raceway at Laguna Seca, 120,safety "
                                   "pcporsche911cup"});
}

TEST_F(SessionJoinTest, LongNamesAreCutTo126CharactersBetweenCharacters) {
    struct Case {
        const char* what;
        std::string name;
        std::string shown;
    };
    const std::string e = "\xC3\xA9";  // one character, two bytes
    const Case cases[] = {
        {"200 characters", std::string(200, 'N'), std::string(126, 'N')},
        {"a two-byte character across the cut", std::string(125, 'N') + e + "NN",
         std::string(125, 'N')},
        {"a two-byte character just inside", std::string(124, 'N') + e + "NN",
         std::string(124, 'N') + e},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        useSessionText(withValue(testsupport::sampleSessionText(), "TrackDisplayName", c.name));
        clearLog();
        analytics::LogSessionJoin();
        EXPECT_EQ(logMessages(), Lines{"LOG: Join Session Information: SessionID: 61234567, 47," +
                                       c.shown + ", 67,Mazda MX-5 Cup"});
    }
}

TEST_F(SessionJoinTest, MissingValuesKeepTheNumbersAndShowNoNames) {
    engineer::RaceState& r = engineer::Race();
    r.SubSessionID = 5;
    r.TrackID = 6;
    r.CarID = 7;
    useSessionText("---\nWeekendInfo:\n TrackName: somewhere\n...\n");
    analytics::LogSessionJoin();
    EXPECT_EQ(logMessages(), Lines{"LOG: Join Session Information: SessionID: 5, 6,, 7,"});
    EXPECT_EQ(r.SubSessionID, 5);
    EXPECT_EQ(r.TrackID, 6);
    EXPECT_EQ(r.CarID, 7);

    // A number too large for an int is pinned rather than left to atoi's undefined overflow.
    useSessionText(withValue(testsupport::sampleSessionText(), "SubSessionID", "99999999999"));
    clearLog();
    analytics::LogSessionJoin();
    EXPECT_EQ(r.SubSessionID, 2147483647);
}

}  // namespace
}  // namespace racetest
