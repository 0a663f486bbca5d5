// Every path the plugin asks for, against the sample session text the tests use, plus the
// awkward shapes: line ends of both kinds, selectors, lists, a last line without its end.

#include <string>

#include "fuzz/fuzz_input.h"
#include "support/fake_simulator.h"

fuzzing::Seeds session_query_fuzzSeeds() {
    const std::string text = testsupport::sampleSessionText(3);
    const char* paths[] = {
        "DriverInfo:DriverUserID:",
        "DriverInfo:DriverCarSLShiftRPM:",
        "WeekendInfo:SubSessionID:",
        "WeekendInfo:TrackID:",
        "WeekendInfo:TrackDisplayName:",
        "DriverInfo:Drivers:CarIdx:{1}CarID:",
        "DriverInfo:Drivers:CarIdx:{1}CarScreenName:",
        "WeekendInfo:TrackLength:",
        "DriverInfo:DriverPitTrkPct:",
        "DriverInfo:Drivers:CarIdx:{1}CarClassMaxFuelPct:",
        "SessionInfo:Sessions:SessionNum:{2}SessionName:",
        "SessionInfo:Sessions:SessionNum:{2}SessionLaps:",
        "SessionInfo:Sessions:SessionNum:{3}SessionTime:",
        "CarSetup:Tires:RightFront:StartingPressure:",
        "WeekendInfo:TrackPitSpeedLimit:",
    };
    fuzzing::Seeds seeds;
    int n = 0;
    for (const char* path : paths) {
        seeds.emplace_back("sample-" + std::to_string(n++), std::string(path) + '\0' + text);
    }
    seeds.emplace_back(
        "crlf", std::string("WeekendInfo:TrackID:") + '\0' + "WeekendInfo:\r\n TrackID: 12\r\n");
    seeds.emplace_back("selector", std::string("A:B:{1}C:") + '\0' +
                                       "A:\n B:\n - B: 10\n   C: x\n - B: 1\n   C: -4\n");
    seeds.emplace_back("no-line-end", std::string("A:") + '\0' + "A: 1");
    seeds.emplace_back("long", std::string("A:") + '\0' + "A: " + std::string(600, 'v') + "\n");
    seeds.emplace_back("colons", std::string("A:") + '\0' + "::\nA::  two words  \n");
    return seeds;
}
