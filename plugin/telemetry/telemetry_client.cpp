#include "plugin/telemetry/telemetry_client.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/clock.h"

namespace telemetry {

namespace {

constexpr int32_t kNoTick = 2147483647;
constexpr int64_t kLiveMs = 30000;

// The simulator rewrites the block while we read it: every polled field is read with a
// volatile load followed by an acquire fence so the compiler neither caches it nor moves the
// row copy across it.
int32_t loadShared(const uint8_t* base, size_t offset) {
    int32_t v = *reinterpret_cast<const volatile int32_t*>(base + offset);
    std::atomic_thread_fence(std::memory_order_acquire);
    return v;
}

bool inside(int64_t offset, int64_t length, size_t size) {
    return offset >= 0 && length >= 0 && offset + length <= static_cast<int64_t>(size);
}

}  // namespace

TelemetryClient::TelemetryClient() : TelemetryClient(makeSystemConnection()) {}

TelemetryClient::TelemetryClient(std::unique_ptr<SimulatorConnection> connection)
    : connection_(std::move(connection)) {}

TelemetryClient::~TelemetryClient() {
    closeTelemetry();
}

void TelemetryClient::replaceConnection(std::unique_ptr<SimulatorConnection> connection) {
    closeTelemetry();
    connection_ = std::move(connection);
}

bool TelemetryClient::openTelemetry() {
    if (!connection_) {
        initialised_ = false;
        return false;
    }
    if (!connection_->hasMapping()) {
        if (!connection_->openMapping()) {
            initialised_ = false;
            return false;
        }
        lastTick_ = kNoTick;
    }
    if (!connection_->hasView()) {
        if (!connection_->mapView()) {
            initialised_ = false;
            return false;
        }
        lastTick_ = kNoTick;
        shrunk_ = false;
    }
    if (!connection_->hasEvent()) {
        if (!connection_->openEvent()) {
            initialised_ = false;
            return false;
        }
        lastTick_ = kNoTick;
    }
    initialised_ = true;
    return true;
}

bool TelemetryClient::readHeader(HeaderSnapshot* out) const {
    if (!initialised_ || !connection_ || !connection_->hasView()) {
        return false;
    }
    const uint8_t* base = connection_->view();
    const size_t size = shrunk_ ? connection_->viewSize() : connection_->mappedSize();
    constexpr size_t kFixedPart = offsetof(BlockHeader, buffers);
    if (base == nullptr || size < kFixedPart) {
        return false;
    }
    HeaderSnapshot h;
    h.viewSize = size;
    h.status = loadShared(base, offsetof(BlockHeader, status));
    h.sessionInfoOffset = loadShared(base, offsetof(BlockHeader, sessionInfoOffset));
    h.numVars = loadShared(base, offsetof(BlockHeader, numVars));
    h.varHeaderOffset = loadShared(base, offsetof(BlockHeader, varHeaderOffset));
    h.numBuffers = loadShared(base, offsetof(BlockHeader, numBuffers));
    h.bufferLength = loadShared(base, offsetof(BlockHeader, bufferLength));

    if (h.numBuffers < 1 || h.numBuffers > kMaxBuffers ||
        !inside(0, kFixedPart + sizeof(BufferEntry) * static_cast<size_t>(h.numBuffers), size)) {
        return false;
    }
    if (h.bufferLength < 1 || !inside(0, h.bufferLength, size)) {
        return false;
    }
    for (int i = 0; i < h.numBuffers; ++i) {
        h.bufferOffsets[i] = loadShared(base, offsetof(BlockHeader, buffers) +
                                                  sizeof(BufferEntry) * static_cast<size_t>(i) +
                                                  offsetof(BufferEntry, bufferOffset));
        if (!inside(h.bufferOffsets[i], h.bufferLength, size)) {
            return false;
        }
    }
    // The table is handed out as VarHeader pointers, so it must also be aligned for them.
    if (h.numVars < 0 || h.varHeaderOffset % alignof(VarHeader) != 0 ||
        !inside(h.varHeaderOffset, static_cast<int64_t>(sizeof(VarHeader)) * h.numVars, size)) {
        return false;
    }
    // At least one byte of text, so a scanner always has its first character to look at.
    if (!inside(h.sessionInfoOffset, 1, size)) {
        return false;
    }
    if (out != nullptr) {
        *out = h;
    }
    return true;
}

int32_t TelemetryClient::tickCount(int buffer) const {
    return loadShared(connection_->view(), offsetof(BlockHeader, buffers) +
                                               sizeof(BufferEntry) * static_cast<size_t>(buffer) +
                                               offsetof(BufferEntry, tickCount));
}

bool TelemetryClient::fetchNewData(uint8_t* destination, size_t capacity) {
    if (!initialised_ && !openTelemetry()) {
        return false;
    }
    HeaderSnapshot h;
    // A header that does not fit the mapping is treated like a simulator that is not
    // publishing: nothing is read from it.
    if (!readHeader(&h) || (h.status & kStatusConnected) == 0) {
        lastTick_ = kNoTick;
        rowReady_ = false;
        // A simulator that went away for good may come back as a new block under the same
        // name; attach to that one on the next call.
        if (connection_->stale()) {
            connection_->close();
            initialised_ = false;
        }
        return false;
    }
    int newest = 0;
    int32_t newestTick = tickCount(0);
    for (int i = 1; i < h.numBuffers; ++i) {
        int32_t t = tickCount(i);
        if (t > newestTick) {
            newest = i;
            newestTick = t;
        }
    }
    if (lastTick_ < newestTick) {
        if (destination == nullptr) {
            lastTick_ = newestTick;
            lastValidMs_ = platform::clock().steadyMs();
            fetched_ = h;
            return true;
        }
        const size_t row = static_cast<size_t>(h.bufferOffsets[newest]);
        size_t length = std::min(capacity, static_cast<size_t>(h.bufferLength));
        for (int attempt = 0; attempt < 2; ++attempt) {
            int32_t before = tickCount(newest);
            // The header was checked against the length the view was mapped with, which holds
            // while nothing shrinks the object. Its last byte still being there after the copy
            // says, without a system call, that nothing did (a truncation takes the end away
            // first); once a read finds pages gone, every look asks the system for the size
            // instead. The row already taken stays readable: it is a copy of its own.
            uint8_t last = 0;
            if (!connection_->copyOut(row, destination, length) ||
                (!shrunk_ && !connection_->copyOut(h.viewSize - 1, &last, 1))) {
                shrunk_ = true;
                lastTick_ = kNoTick;
                return false;
            }
            std::atomic_thread_fence(std::memory_order_acquire);
            connection_->rowCopied();
            int32_t after = tickCount(newest);
            // A buffer being rewritten may show an older tick; only a row that is still
            // newer than the last one taken, and unchanged across the copy, counts.
            if (before == after && before > lastTick_) {
                lastTick_ = before;
                lastValidMs_ = platform::clock().steadyMs();
                fetched_ = h;
                return true;
            }
        }
        return false;
    }
    if (lastTick_ > newestTick) {
        lastTick_ = newestTick;
    }
    return false;
}

bool TelemetryClient::fetchRow() {
    if (data_.empty()) {
        return fetchNewData(nullptr, 0);
    }
    // The row goes into a second buffer first: a copy torn twice must not leave a half-new
    // row where every typed read would find it.
    scratch_.resize(data_.size());
    if (!fetchNewData(scratch_.data(), scratch_.size())) {
        return false;
    }
    data_.swap(scratch_);
    commitRow();
    return true;
}

void TelemetryClient::commitRow() {
    row_ = fetched_;
    rowReady_ = true;
    const size_t n = static_cast<size_t>(row_.numVars);
    if (slots_.size() != n) {
        slots_.assign(n, VarSlot{});
        watched_.assign(n, 0);
        std::erase_if(watchList_, [n](int32_t i) { return static_cast<size_t>(i) >= n; });
        for (int32_t i : watchList_) {
            watched_[static_cast<size_t>(i)] = 1;
        }
    }
    for (int32_t i : watchList_) {
        fillSlot(static_cast<size_t>(i));
    }
}

const TelemetryClient::VarSlot* TelemetryClient::watchSlot(int index) {
    // Between rows the block may have been laid out anew; its table is read only while the
    // header still describes the table of the row.
    HeaderSnapshot h;
    if (!readHeader(&h) || h.numVars != row_.numVars || h.varHeaderOffset != row_.varHeaderOffset) {
        return nullptr;
    }
    const size_t i = static_cast<size_t>(index);
    watched_[i] = 1;
    watchList_.push_back(index);
    fillSlot(i);
    return &slots_[i];
}

// Reads the variable's header from the block once for the row, inside the table the row's
// header snapshot validated against the mapping.
void TelemetryClient::fillSlot(size_t index) {
    VarSlot& slot = slots_[index];
    slot = VarSlot{};
    if (!connection_ || connection_->view() == nullptr) {
        return;
    }
    VarHeader h;
    std::memcpy(&h, connection_->view() + row_.varHeaderOffset + sizeof(VarHeader) * index,
                offsetof(VarHeader, name));
    const int size = varTypeSize(h.type);
    if (h.count < 1 || size == 0 || h.offset < 0 ||
        static_cast<int64_t>(h.offset) + size > static_cast<int64_t>(data_.size())) {
        return;
    }
    slot.type = h.type;
    slot.offset = h.offset;
}

bool TelemetryClient::waitForTelemetry(int timeoutMs) {
    if (!initialised_ && !openTelemetry()) {
        platform::clock().sleepMs(timeoutMs);
    } else {
        bool fresh = fetchRow();
        if (!fresh) {
            connection_->waitEvent(timeoutMs);
            fresh = fetchRow();
        }
        if (fresh && initialised_) {
            if (!data_.empty() && dataLength_ == row_.bufferLength) {
                return true;
            }
            // First row after a connection, or the row size changed: a new copy, and a new
            // generation so every variable looks its index up again.
            const int32_t length = fetched_.bufferLength;
            releaseCopy();
            dataLength_ = length;
            data_.assign(static_cast<size_t>(dataLength_), 0);
            ++generation_;
            if (!fetchNewData(data_.data(), data_.size())) {
                return false;
            }
            commitRow();
            return true;
        }
    }
    if (!data_.empty() && isTelemetryLive()) {
        return false;
    }
    releaseCopy();
    return false;
}

bool TelemetryClient::isTelemetryLive() const {
    if (data_.empty() || !initialised_) {
        return false;
    }
    HeaderSnapshot h;
    if (!readHeader(&h) || (h.status & kStatusConnected) == 0 ||
        platform::clock().steadyMs() - lastValidMs_ >= kLiveMs) {
        // Typed reads answer from the row alone; once anyone sees the simulator gone they
        // answer zero until the next row is taken.
        rowReady_ = false;
        return false;
    }
    return true;
}

void TelemetryClient::closeTelemetry() {
    if (connection_) {
        connection_->close();
    }
    initialised_ = false;
    lastTick_ = kNoTick;
    releaseCopy();
}

void TelemetryClient::releaseCopy() {
    rowReady_ = false;
    slots_.clear();
    watched_.clear();
    watchList_.clear();
    data_.clear();
    data_.shrink_to_fit();
    scratch_.clear();
    scratch_.shrink_to_fit();
}

int TelemetryClient::numVars() const {
    HeaderSnapshot h;
    return readHeader(&h) ? h.numVars : 0;
}

const VarHeader* TelemetryClient::varHeader(int index) const {
    HeaderSnapshot h;
    if (!readHeader(&h) || index < 0 || index >= h.numVars) {
        return nullptr;
    }
    return reinterpret_cast<const VarHeader*>(connection_->view() + h.varHeaderOffset +
                                              sizeof(VarHeader) * static_cast<size_t>(index));
}

const char* TelemetryClient::sessionText() const {
    HeaderSnapshot h;
    if (!readHeader(&h)) {
        return nullptr;
    }
    return reinterpret_cast<const char*>(connection_->view() + h.sessionInfoOffset);
}

const char* TelemetryClient::sessionText(size_t* limit) const {
    HeaderSnapshot h;
    if (!readHeader(&h)) {
        *limit = 0;
        return nullptr;
    }
    *limit = h.viewSize - static_cast<size_t>(h.sessionInfoOffset);
    return reinterpret_cast<const char*>(connection_->view() + h.sessionInfoOffset);
}

size_t TelemetryClient::sessionTextLimit() const {
    HeaderSnapshot h;
    if (!readHeader(&h)) {
        return 0;
    }
    return h.viewSize - static_cast<size_t>(h.sessionInfoOffset);
}

int TelemetryClient::sessionInfoUpdate() const {
    if (!readHeader(nullptr)) {
        return 0;
    }
    return loadShared(connection_->view(), offsetof(BlockHeader, sessionInfoUpdate));
}

TelemetryClient& Telemetry() {
    static TelemetryClient client;
    return client;
}

}  // namespace telemetry
