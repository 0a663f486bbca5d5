#include "tools/simfeed/replay.h"

#include <algorithm>
#include <cstring>

namespace simfeed {

std::vector<simblock::VarSpec> replayVarSpecs(const std::vector<telemetry::VarHeader>& vars) {
    std::vector<simblock::VarSpec> out;
    out.reserve(vars.size());
    auto text = [](const char* s, size_t n) { return std::string(s, strnlen(s, n)); };
    for (const telemetry::VarHeader& v : vars) {
        out.push_back(simblock::VarSpec{text(v.name, sizeof v.name), v.type, v.count,
                                        text(v.desc, sizeof v.desc), text(v.unit, sizeof v.unit)});
    }
    return out;
}

ReplayMapper::ReplayMapper(const std::vector<telemetry::VarHeader>& fileVars,
                           const simblock::BlockLayout& layout) {
    for (size_t i = 0; i < fileVars.size() && i < layout.valueOffsets.size(); ++i) {
        const telemetry::VarHeader& v = fileVars[i];
        int32_t bytes = telemetry::varTypeSize(v.type) * std::max(v.count, 1);
        if (v.offset != layout.valueOffsets[i]) {
            identical_ = false;
        }
        // Neighbouring values that stay neighbours are moved in one piece.
        if (!moves_.empty() && moves_.back().from + moves_.back().bytes == v.offset &&
            moves_.back().to + moves_.back().bytes == layout.valueOffsets[i]) {
            moves_.back().bytes += bytes;
        } else {
            moves_.push_back(Move{v.offset, layout.valueOffsets[i], bytes});
        }
    }
}

void ReplayMapper::map(const std::vector<uint8_t>& fileRow, std::vector<uint8_t>& blockRow) const {
    std::fill(blockRow.begin(), blockRow.end(), 0);
    for (const Move& m : moves_) {
        size_t from = static_cast<size_t>(m.from);
        size_t to = static_cast<size_t>(m.to);
        size_t n = static_cast<size_t>(m.bytes);
        // Both layouts were checked when they were made; this only guards a short row.
        if (from + n <= fileRow.size() && to + n <= blockRow.size()) {
            std::memcpy(blockRow.data() + to, fileRow.data() + from, n);
        }
    }
}

}  // namespace simfeed
