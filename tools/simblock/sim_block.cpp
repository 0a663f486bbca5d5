#include "tools/simblock/sim_block.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>

namespace simblock {

using telemetry::BlockHeader;
using telemetry::VarHeader;

namespace {

constexpr size_t kAlign = 16;
constexpr size_t kMaxBlock = static_cast<size_t>(std::numeric_limits<int32_t>::max());

size_t alignUp(size_t v, size_t a) {
    return (v + a - 1) / a * a;
}

// Readers in other processes see the block through their own mapping: every field a reader
// polls is written with a volatile store behind a release fence, so the compiler can neither
// drop nor reorder it against the data it announces.
void publishInt(int32_t* field, int32_t value) {
    std::atomic_thread_fence(std::memory_order_release);
    *static_cast<volatile int32_t*>(field) = value;
    std::atomic_thread_fence(std::memory_order_release);
}

int32_t readInt(const int32_t* field) {
    int32_t v = *static_cast<const volatile int32_t*>(field);
    std::atomic_thread_fence(std::memory_order_acquire);
    return v;
}

void copyText(char* dest, size_t destSize, const std::string& text) {
    std::memset(dest, 0, destSize);
    std::memcpy(dest, text.data(), std::min(text.size(), destSize - 1));
}

template <typename Int>
Int saturate(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    double t = std::trunc(value);
    if (t <= static_cast<double>(std::numeric_limits<Int>::min())) {
        return std::numeric_limits<Int>::min();
    }
    if (t >= static_cast<double>(std::numeric_limits<Int>::max())) {
        return std::numeric_limits<Int>::max();
    }
    return static_cast<Int>(t);
}

}  // namespace

BlockLayout computeLayout(const std::vector<VarSpec>& vars, const BlockOptions& options) {
    BlockLayout l;
    if (options.numBuffers < 1 || options.numBuffers > telemetry::kMaxBuffers) {
        l.error = "number of buffers must be 1 to " + std::to_string(telemetry::kMaxBuffers);
        return l;
    }
    if (options.sessionCapacity < 1) {
        l.error = "the session area needs room for at least its NUL";
        return l;
    }
    if (vars.size() > kMaxBlock / sizeof(VarHeader)) {
        l.error = "too many variables";
        return l;
    }
    size_t rowSize = 0;
    l.valueOffsets.reserve(vars.size());
    for (const VarSpec& v : vars) {
        int size = telemetry::varTypeSize(v.type);
        if (size == 0) {
            l.error = "variable '" + v.name + "' has unknown type code " + std::to_string(v.type);
            return l;
        }
        if (v.name.empty()) {
            l.error = "a variable has no name";
            return l;
        }
        if (v.count < 0 || static_cast<size_t>(v.count) > kMaxBlock / 8) {
            l.error = "variable '" + v.name + "' has an unusable count";
            return l;
        }
        rowSize = alignUp(rowSize, static_cast<size_t>(size));
        l.valueOffsets.push_back(static_cast<int32_t>(rowSize));
        // A variable of count 0 still gets room for one entry so its offset lies in the row.
        rowSize += static_cast<size_t>(size) * static_cast<size_t>(std::max(v.count, 1));
        if (rowSize > kMaxBlock) {
            l.error = "the row is too long";
            return l;
        }
    }
    size_t bufferLength = alignUp(std::max<size_t>(rowSize, 1), kAlign);
    size_t offset = alignUp(sizeof(BlockHeader), kAlign);
    l.varHeaderOffset = static_cast<int32_t>(offset);
    offset = alignUp(offset + vars.size() * sizeof(VarHeader), kAlign);
    l.sessionInfoOffset = static_cast<int32_t>(offset);
    size_t capacity = alignUp(options.sessionCapacity, kAlign);
    offset += capacity;
    l.numBuffers = options.numBuffers;
    for (int i = 0; i < options.numBuffers; ++i) {
        if (offset > kMaxBlock) {
            break;
        }
        l.bufferOffsets[i] = static_cast<int32_t>(offset);
        offset += bufferLength;
    }
    if (offset > kMaxBlock || capacity > kMaxBlock) {
        l.error = "the block would exceed 2 GiB";
        return l;
    }
    l.sessionCapacity = static_cast<int32_t>(capacity);
    l.bufferLength = static_cast<int32_t>(bufferLength);
    l.totalSize = offset;
    l.ok = true;
    return l;
}

BlockWriter::BlockWriter(uint8_t* region, size_t regionSize, std::vector<VarSpec> vars,
                         const BlockOptions& options)
    : region_(region), regionSize_(regionSize), vars_(std::move(vars)) {
    layout_ = computeLayout(vars_, options);
    if (!layout_.ok) {
        return;
    }
    if (region_ == nullptr || regionSize_ < layout_.totalSize) {
        layout_.ok = false;
        layout_.error = "the region holds " + std::to_string(regionSize_) +
                        " bytes, the block needs " + std::to_string(layout_.totalSize);
        return;
    }
    std::memset(region_, 0, layout_.totalSize);
    BlockHeader* h = header();
    h->version = options.version;
    h->status = 0;
    h->tickRate = options.tickRate;
    h->sessionInfoUpdate = 0;
    h->sessionInfoLength = layout_.sessionCapacity;
    h->sessionInfoOffset = layout_.sessionInfoOffset;
    h->numVars = static_cast<int32_t>(vars_.size());
    h->varHeaderOffset = layout_.varHeaderOffset;
    h->numBuffers = layout_.numBuffers;
    h->bufferLength = layout_.bufferLength;
    for (int i = 0; i < layout_.numBuffers; ++i) {
        h->buffers[i].tickCount = 0;
        h->buffers[i].bufferOffset = layout_.bufferOffsets[i];
    }
    auto* table = reinterpret_cast<VarHeader*>(region_ + layout_.varHeaderOffset);
    for (size_t i = 0; i < vars_.size(); ++i) {
        VarHeader& vh = table[i];
        vh.type = vars_[i].type;
        vh.offset = layout_.valueOffsets[i];
        vh.count = vars_[i].count;
        vh.countAsTime = 0;
        copyText(vh.name, sizeof vh.name, vars_[i].name);
        copyText(vh.desc, sizeof vh.desc, vars_[i].desc);
        copyText(vh.unit, sizeof vh.unit, vars_[i].unit);
    }
    staging_.assign(static_cast<size_t>(layout_.bufferLength), 0);
    std::atomic_thread_fence(std::memory_order_release);
}

BlockHeader* BlockWriter::header() const {
    return reinterpret_cast<BlockHeader*>(region_);
}

void BlockWriter::setConnected(bool connected) {
    if (!ok()) {
        return;
    }
    int32_t status = readInt(&header()->status);
    status = connected ? (status | telemetry::kStatusConnected)
                       : (status & ~telemetry::kStatusConnected);
    publishInt(&header()->status, status);
}

bool BlockWriter::connected() const {
    return ok() && (readInt(&header()->status) & telemetry::kStatusConnected) != 0;
}

bool BlockWriter::setSessionText(std::string_view text) {
    if (!ok() || text.size() >= static_cast<size_t>(layout_.sessionCapacity)) {
        return false;
    }
    char* area = reinterpret_cast<char*>(region_ + layout_.sessionInfoOffset);
    std::memcpy(area, text.data(), text.size());
    // Clear the tail so a shorter text leaves nothing of the previous one behind its NUL.
    std::memset(area + text.size(), 0, static_cast<size_t>(layout_.sessionCapacity) - text.size());
    publishInt(&header()->sessionInfoUpdate, readInt(&header()->sessionInfoUpdate) + 1);
    return true;
}

int32_t BlockWriter::sessionInfoUpdate() const {
    return ok() ? readInt(&header()->sessionInfoUpdate) : 0;
}

int32_t BlockWriter::publishRow(const uint8_t* row, size_t length) {
    if (!ok()) {
        return 0;
    }
    BlockHeader* h = header();
    int index = nextBuffer_;
    nextBuffer_ = (nextBuffer_ + 1) % layout_.numBuffers;
    int32_t tick = tick_ == std::numeric_limits<int32_t>::max() ? 1 : tick_ + 1;

    publishInt(&h->buffers[index].tickCount, 0);
    uint8_t* dest = region_ + layout_.bufferOffsets[index];
    size_t n = std::min(length, static_cast<size_t>(layout_.bufferLength));
    if (row != nullptr && n > 0) {
        std::memcpy(dest, row, n);
    }
    std::memset(dest + n, 0, static_cast<size_t>(layout_.bufferLength) - n);
    publishInt(&h->buffers[index].tickCount, tick);
    tick_ = tick;
    return tick;
}

int32_t BlockWriter::publish() {
    return publishRow(staging_.data(), staging_.size());
}

void BlockWriter::restartTicks(int32_t tick) {
    if (!ok()) {
        return;
    }
    for (int i = 0; i < layout_.numBuffers; ++i) {
        publishInt(&header()->buffers[i].tickCount, 0);
    }
    tick_ = tick;
    nextBuffer_ = 0;
}

int BlockWriter::indexOf(std::string_view name) const {
    for (size_t i = 0; i < vars_.size(); ++i) {
        std::string_view stored(vars_[i].name);
        if (stored.size() > telemetry::kVarNameLength - 1) {
            stored = stored.substr(0, telemetry::kVarNameLength - 1);
        }
        if (stored == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

uint8_t* BlockWriter::entryPointer(std::string_view name, int entry, int32_t* type) {
    int i = indexOf(name);
    if (!ok() || i < 0 || entry < 0 || entry >= std::max(vars_[i].count, 1)) {
        return nullptr;
    }
    *type = vars_[i].type;
    size_t at = static_cast<size_t>(layout_.valueOffsets[i]) +
                static_cast<size_t>(entry) * static_cast<size_t>(telemetry::varTypeSize(*type));
    return staging_.data() + at;
}

bool BlockWriter::setDouble(std::string_view name, double value, int entry) {
    int32_t type = 0;
    uint8_t* p = entryPointer(name, entry, &type);
    if (p == nullptr) {
        return false;
    }
    storeValue(p, type, value);
    return true;
}

bool BlockWriter::setInt(std::string_view name, int32_t value, int entry) {
    int32_t type = 0;
    uint8_t* p = entryPointer(name, entry, &type);
    if (p == nullptr) {
        return false;
    }
    storeValue(p, type, value);
    return true;
}

bool BlockWriter::setRaw(std::string_view name, const void* bytes, size_t size, int entry) {
    int32_t type = 0;
    uint8_t* p = entryPointer(name, entry, &type);
    if (p == nullptr || size > static_cast<size_t>(telemetry::varTypeSize(type))) {
        return false;
    }
    std::memcpy(p, bytes, size);
    return true;
}

void BlockWriter::storeValue(uint8_t* dest, int32_t type, double value) {
    switch (type) {
        case telemetry::kChar:
        case telemetry::kBool: {
            auto b = type == telemetry::kBool ? static_cast<int8_t>(value != 0.0 ? 1 : 0)
                                              : saturate<int8_t>(value);
            std::memcpy(dest, &b, 1);
            break;
        }
        case telemetry::kInt:
        case telemetry::kBitField: {
            int32_t i = saturate<int32_t>(value);
            std::memcpy(dest, &i, 4);
            break;
        }
        case telemetry::kFloat: {
            float f = static_cast<float>(value);
            std::memcpy(dest, &f, 4);
            break;
        }
        case telemetry::kDouble:
            std::memcpy(dest, &value, 8);
            break;
        default:
            break;
    }
}

void BlockWriter::storeValue(uint8_t* dest, int32_t type, int32_t value) {
    switch (type) {
        case telemetry::kInt:
        case telemetry::kBitField:
            std::memcpy(dest, &value, 4);
            break;
        default:
            storeValue(dest, type, static_cast<double>(value));
            break;
    }
}

}  // namespace simblock
