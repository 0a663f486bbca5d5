// Version answers and version files as the service and the installer leave them, and as a
// proxy, an editor or a full disk may spoil them.

#include <string>

#include "fuzz/fuzz_input.h"

fuzzing::Seeds launcher_version_fuzzSeeds() {
    const struct {
        const char* name;
        char mode;
        std::string body;
        std::string file;
        bool hasFile;
    } cases[] = {
        {"newer", 0, "3.015", "3.014\n", true},
        {"same", 0, "3.014", "3.014 release notes\r\n", true},
        {"down", 1, "", "3.014\n", true},
        {"error-page", 2, "404 Not Found", "3.014\n", true},
        {"no-file", 0, "3.014", "", false},
        {"words", 0, "inf", "nan\n", true},
        {"hex", 0, "0x1p4", "1e9\n", true},
        {"long-line", 0, "  +3.1", "3.0149999999\n", true},
        {"signs", 0, "-1", "-.5\n", true},
        {"digits", 0, std::string(60, '9'), ".\n", true},
    };
    fuzzing::Seeds seeds;
    for (const auto& c : cases) {
        std::string input(1, c.mode);
        input += c.body;
        if (c.hasFile) {
            input += '\0';
            input += c.file;
        }
        seeds.emplace_back(c.name, input);
    }
    return seeds;
}
