// Answers the service gives and the network spoils, with the report values of a race in
// progress.

#include <string>

#include "fuzz/fuzz_input.h"
#include "plugin/links/web_service_link.h"

fuzzing::Seeds link_answer_fuzzSeeds() {
    links::ReportValues v;
    v.SubSessionID = 51234567;
    v.SessionKind = 4;
    v.TrackID = 239;
    v.CarID = 67;
    v.DriverUserID = 123456;
    v.TrackAirTemp = 21.5;
    v.FuelLevel = 32.125f;
    v.FuelBurnPerLap = 2.61f;
    v.FuelBurnMax = 2.8f;
    v.LitersToAdd = 18.4;
    for (auto& w : v.Wheels) {
        w = {0.93f, 81.2f, 165.5f, 158.0f};
    }
    std::string values;
    fuzzing::put(values, v);
    fuzzing::Seeds seeds;
    const struct {
        const char* name;
        uint8_t mode;
        const char* body;
    } cases[] = {
        {"tires", 0x00, "2"},
        {"burn", 0x40, "2.95"},
        {"refused", 0x01, ""},
        {"reset", 0x02, "1"},
        {"query", 0x07, ""},
        {"error-page", 0x28, "500 oops"},
        {"not-found", 0x20, "404"},
        {"empty", 0x08, ""},
        {"garbage", 0x00, "\x01\xff nan"},
        {"nul", 0x40,
         "1.5\0"
         "9"},
        {"huge", 0x40, "1e400"},
    };
    for (const auto& c : cases) {
        std::string body = c.body;
        if (std::string(c.name) == "nul") {
            body = std::string(
                "1.5\0"
                "9",
                5);
        }
        seeds.emplace_back(c.name, std::string(1, static_cast<char>(c.mode)) + values + body);
    }
    links::ReportValues extreme = v;
    extreme.FuelLevel = -3.4e38f;
    extreme.TrackAirTemp = 1.7e308;
    extreme.SubSessionID = -2147483647 - 1;
    std::string extremeValues;
    fuzzing::put(extremeValues, extreme);
    seeds.emplace_back("extreme-values", std::string(1, '\0') + extremeValues + "0");
    return seeds;
}
