// Blocks as the simulator writes them, from the project's own block writer: the whole
// catalogue with a session text, a small block, one buffer and four, and each with the
// faults switched on.

#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "support/fake_simulator.h"
#include "tools/simblock/sim_block.h"

namespace {

std::string makeBlock(const std::vector<simblock::VarSpec>& vars, int buffers, int rows,
                      const std::string& session) {
    simblock::BlockOptions options;
    options.numBuffers = buffers;
    options.sessionCapacity = session.size() + 16;
    simblock::BlockLayout layout = simblock::computeLayout(vars, options);
    std::vector<uint8_t> region(layout.totalSize);
    simblock::BlockWriter writer(region.data(), region.size(), vars, options);
    writer.setConnected(true);
    writer.setSessionText(session);
    for (int i = 0; i < rows; ++i) {
        writer.setDouble("FuelLevel", 40.0 - i);
        writer.setInt("Lap", i);
        writer.publish();
    }
    return std::string(region.begin(), region.end());
}

}  // namespace

fuzzing::Seeds telemetry_block_fuzzSeeds() {
    const std::string session = testsupport::sampleSessionText(2);
    const std::vector<simblock::VarSpec> small = {{"Lap", telemetry::kInt},
                                                  {"FuelLevel", telemetry::kFloat},
                                                  {"SessionTime", telemetry::kDouble},
                                                  {"IsOnTrack", telemetry::kBool}};
    const std::string full = makeBlock(testsupport::catalogueVarSpecs(), 3, 2, session);
    const std::string tiny = makeBlock(small, 1, 1, "WeekendInfo:\n TrackID: 12\n");
    const std::string four = makeBlock(small, 4, 5, "WeekendInfo:\n TrackLength: 3.6 km\n");
    const std::string marker("\xFF\xFE\xFD\xFC", 4);
    fuzzing::Seeds seeds;
    seeds.emplace_back("full", std::string(1, '\0') + full);
    seeds.emplace_back("tiny", std::string(1, '\0') + tiny);
    seeds.emplace_back("four-buffers", std::string(1, '\x08') + four);
    seeds.emplace_back("shrinks", std::string(1, '\x81') + tiny);
    seeds.emplace_back("new-layout", std::string(1, '\x02') + tiny + marker + four);
    seeds.emplace_back("frozen", std::string(1, '\x04') + tiny);
    seeds.emplace_back("header-only", std::string(1, '\0') + tiny.substr(0, 112));
    return seeds;
}
