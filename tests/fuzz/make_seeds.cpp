// Writes the seed corpus of every fuzz target into <folder>/<target>/, one file per seed.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "fuzz/fuzz_input.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::map<std::string, fuzzing::Seeds (*)()> all = {
        {"telemetry_block_fuzz", telemetry_block_fuzzSeeds},
        {"session_query_fuzz", session_query_fuzzSeeds},
        {"snapshot_index_fuzz", snapshot_index_fuzzSeeds},
        {"settings_fuzz", settings_fuzzSeeds},
        {"link_answer_fuzz", link_answer_fuzzSeeds},
        {"launcher_version_fuzz", launcher_version_fuzzSeeds},
        {"racedata_request_fuzz", racedata_request_fuzzSeeds},
    };
    std::stringstream targets(KORVANE_FUZZ_TARGETS);
    std::string target;
    while (std::getline(targets, target, ',')) {
        auto found = all.find(target);
        if (found == all.end()) {
            std::fprintf(stderr, "no seeds for %s\n", target.c_str());
            return 1;
        }
        const std::filesystem::path dir = std::filesystem::path(argv[1]) / target;
        std::filesystem::create_directories(dir);
        int n = 0;
        for (const auto& [name, bytes] : found->second()) {
            std::ofstream out(dir / ("seed-" + name), std::ios::binary | std::ios::trunc);
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            if (!out) {
                std::fprintf(stderr, "cannot write %s\n", (dir / name).string().c_str());
                return 1;
            }
            ++n;
        }
        std::printf("%s: %d seeds\n", target.c_str(), n);
    }
    return 0;
}
