#pragma once
// A simulator connection over bytes the fuzzer made up: the mapping is exactly as long as
// the bytes (so any read past it is caught), the event always fires, and the test can move
// the tick counts, shrink the mapping or lay a new block in its place between two ticks.

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "plugin/telemetry/telemetry_client.h"

namespace fuzzing {

class BlockConnection : public telemetry::SimulatorConnection {
  public:
    explicit BlockConnection(std::shared_ptr<std::vector<uint8_t>> block)
        : block_(std::move(block)) {}

    bool openMapping() override { return mapping_ = true; }
    bool mapView() override { return view_ = true; }
    bool openEvent() override { return event_ = true; }
    bool hasMapping() const override { return mapping_; }
    bool hasView() const override { return view_; }
    bool hasEvent() const override { return event_; }
    const uint8_t* view() const override {
        return view_ && !block_->empty() ? block_->data() : nullptr;
    }
    size_t viewSize() const override { return view_ ? block_->size() : 0; }
    bool waitEvent(int) override { return true; }
    void close() override { mapping_ = view_ = event_ = false; }

  private:
    std::shared_ptr<std::vector<uint8_t>> block_;
    bool mapping_ = false;
    bool view_ = false;
    bool event_ = false;
};

// Raises the tick count of every buffer entry the block holds, as a simulator publishing a
// new row would.
inline void advanceTicks(std::vector<uint8_t>& block, int32_t by) {
    for (size_t i = 0; i < telemetry::kMaxBuffers; ++i) {
        size_t at = 48 + 16 * i;
        if (at + 4 > block.size()) {
            break;
        }
        int32_t tick;
        std::memcpy(&tick, block.data() + at, 4);
        tick = static_cast<int32_t>(static_cast<uint32_t>(tick) + static_cast<uint32_t>(by));
        std::memcpy(block.data() + at, &tick, 4);
    }
}

}  // namespace fuzzing
