#pragma once
// Republishing a recorded file: its variables are laid out anew in the live block, and each
// recorded row is moved value by value into that layout, so the reader sees exactly the
// recorded values whatever packing the recording used.

#include <cstdint>
#include <vector>

#include "plugin/telemetry/block_layout.h"
#include "tools/simblock/sim_block.h"

namespace simfeed {

std::vector<simblock::VarSpec> replayVarSpecs(const std::vector<telemetry::VarHeader>& vars);

class ReplayMapper {
  public:
    ReplayMapper(const std::vector<telemetry::VarHeader>& fileVars,
                 const simblock::BlockLayout& layout);
    // `blockRow` must have the block's row length; `fileRow` the recording's.
    void map(const std::vector<uint8_t>& fileRow, std::vector<uint8_t>& blockRow) const;
    // True when the two layouts agree, so rows are copied whole.
    bool identical() const { return identical_; }

  private:
    struct Move {
        int32_t from;
        int32_t to;
        int32_t bytes;
    };
    std::vector<Move> moves_;
    bool identical_ = true;
};

}  // namespace simfeed
