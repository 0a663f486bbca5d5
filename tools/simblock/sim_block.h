#pragma once
// A writer of the simulator's telemetry block into any memory region: a named shared mapping
// for the simulator feed, a plain byte vector for the fake simulator of the tests.
//
// Layout written (every offset 16-byte aligned):
//   0                 block header (BlockHeader)
//   varHeaderOffset   numVars variable headers of 144 bytes
//   sessionInfoOffset session text, NUL-terminated, in an area of sessionCapacity bytes
//   buffer offsets    numBuffers data rows of bufferLength bytes
//
// Rows are published into the buffer written longest ago; its tick count is zeroed while the
// row is rewritten and raised to the new tick only after the whole row is in place, so a reader
// that checks the tick count before and after its copy never keeps a torn row.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "plugin/telemetry/block_layout.h"

namespace simblock {

struct VarSpec {
    VarSpec() = default;
    // Not explicit, so lists read {"Lap", telemetry::kInt} or {"CarIdxLapDistPct", kFloat, 64}.
    VarSpec(std::string name_, int32_t type_ = telemetry::kFloat, int32_t count_ = 1,
            std::string desc_ = {}, std::string unit_ = {})
        : name(std::move(name_)),
          type(type_),
          count(count_),
          desc(std::move(desc_)),
          unit(std::move(unit_)) {}

    std::string name;  // at most 31 characters are stored
    int32_t type = telemetry::kFloat;
    int32_t count = 1;
    std::string desc;
    std::string unit;
};

struct BlockOptions {
    int numBuffers = 3;                   // 1 .. telemetry::kMaxBuffers
    size_t sessionCapacity = 512 * 1024;  // bytes reserved for the session text, NUL included
    int32_t tickRate = 60;
    int32_t version = 2;
};

// Where everything lies, computed from the variable list and the options alone.
struct BlockLayout {
    int32_t varHeaderOffset = 0;
    int32_t sessionInfoOffset = 0;
    int32_t sessionCapacity = 0;
    int32_t bufferLength = 0;
    int32_t numBuffers = 0;
    int32_t bufferOffsets[telemetry::kMaxBuffers] = {};
    std::vector<int32_t> valueOffsets;  // per variable, within a row
    size_t totalSize = 0;
    bool ok = false;  // false when the options or a variable are unusable (see error)
    std::string error;
};

BlockLayout computeLayout(const std::vector<VarSpec>& vars, const BlockOptions& options = {});

class BlockWriter {
  public:
    // Lays the block out in `region` (which must stay valid for the writer's life): clears it,
    // writes the header, the variable headers and empty rows, status bit clear, ticks 0.
    // Check ok() afterwards: a region too small or an unusable variable leaves it untouched.
    BlockWriter(uint8_t* region, size_t regionSize, std::vector<VarSpec> vars,
                const BlockOptions& options = {});

    bool ok() const { return layout_.ok; }
    const std::string& error() const { return layout_.error; }
    const BlockLayout& layout() const { return layout_; }
    const std::vector<VarSpec>& vars() const { return vars_; }
    uint8_t* region() const { return region_; }
    size_t regionSize() const { return regionSize_; }
    telemetry::BlockHeader* header() const;

    // Status bit 0: the simulator is connected and publishing.
    void setConnected(bool connected);
    bool connected() const;

    // Copies the text with its NUL into the session area and raises the update counter at
    // offset 12. False (nothing changed) when the text does not fit.
    bool setSessionText(std::string_view text);
    int32_t sessionInfoUpdate() const;

    // Publishes a complete row of bufferLength bytes (a shorter one is zero-padded, a longer
    // one cut) into the oldest buffer under the next tick count. Returns the tick published.
    int32_t publishRow(const uint8_t* row, size_t length);
    // Publishes the staging row filled with the set* helpers.
    int32_t publish();

    // The tick the next row gets is lastTick() + 1.
    int32_t lastTick() const { return tick_; }
    // A simulator restart: every buffer's tick count drops to 0 and counting resumes from
    // `tick` (the next row gets tick + 1).
    void restartTicks(int32_t tick = 0);
    // Continues counting from `tick` without touching the buffers (a new layout that keeps
    // the simulator's clock).
    void setTickCounter(int32_t tick) { tick_ = tick; }

    // The staging row and helpers that store a value into it converted to the variable's
    // declared type. False when the name is unknown or the entry is out of range.
    std::vector<uint8_t>& stagingRow() { return staging_; }
    int indexOf(std::string_view name) const;
    bool setDouble(std::string_view name, double value, int entry = 0);
    bool setFloat(std::string_view name, float value, int entry = 0) {
        return setDouble(name, value, entry);
    }
    bool setInt(std::string_view name, int32_t value, int entry = 0);
    bool setBool(std::string_view name, bool value, int entry = 0) {
        return setInt(name, value ? 1 : 0, entry);
    }
    // Raw bytes at the variable's place, whatever its type (size bytes of the entry).
    bool setRaw(std::string_view name, const void* bytes, size_t size, int entry = 0);

    // Stores `value` converted to `type` at `dest` (size of the type bytes).
    static void storeValue(uint8_t* dest, int32_t type, double value);
    static void storeValue(uint8_t* dest, int32_t type, int32_t value);

  private:
    uint8_t* entryPointer(std::string_view name, int entry, int32_t* type);

    uint8_t* region_;
    size_t regionSize_;
    std::vector<VarSpec> vars_;
    BlockLayout layout_;
    std::vector<uint8_t> staging_;
    int32_t tick_ = 0;
    int nextBuffer_ = 0;
};

}  // namespace simblock
