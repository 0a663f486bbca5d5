// Answers the service gives and the network spoils, with the report values of a race in
// progress.

#include <string>
#include <string_view>

#include "fuzz/fuzz_input.h"
#include "fuzz/race_report_values.h"
#include "plugin/links/web_service_link.h"

fuzzing::Seeds link_answer_fuzzSeeds() {
    const links::ReportValues v = fuzzing::raceInProgressValues();
    std::string values;
    fuzzing::put(values, v);
    fuzzing::Seeds seeds;
    const struct {
        const char* name;
        uint8_t mode;
        std::string_view body;
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
        {"nul", 0x40, std::string_view("1.5\0009", 5)},
        {"huge", 0x40, "1e400"},
    };
    for (const auto& c : cases) {
        seeds.emplace_back(
            c.name, std::string(1, static_cast<char>(c.mode)) + values + std::string(c.body));
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
