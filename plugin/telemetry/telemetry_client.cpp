#include "plugin/telemetry/telemetry_client.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/clock.h"

namespace telemetry {

namespace {

constexpr int32_t kNoTick = 2147483647;
constexpr int kLiveSeconds = 30;

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
    size_t size = connection_->viewSize();
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
            lastValidTime_ = platform::clock().calendarSeconds();
            return true;
        }
        const uint8_t* row = connection_->view() + h.bufferOffsets[newest];
        size_t length = std::min(capacity, static_cast<size_t>(h.bufferLength));
        for (int attempt = 0; attempt < 2; ++attempt) {
            int32_t before = tickCount(newest);
            std::memcpy(destination, row, length);
            std::atomic_thread_fence(std::memory_order_acquire);
            connection_->rowCopied();
            int32_t after = tickCount(newest);
            // A buffer being rewritten may show an older tick; only a row that is still
            // newer than the last one taken, and unchanged across the copy, counts.
            if (before == after && before > lastTick_) {
                lastTick_ = before;
                lastValidTime_ = platform::clock().calendarSeconds();
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
    return true;
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
        HeaderSnapshot h;
        if (fresh && initialised_ && readHeader(&h)) {
            if (!data_.empty() && dataLength_ == h.bufferLength) {
                return true;
            }
            // First row after a connection, or the row size changed: a new copy, and a new
            // generation so every variable looks its index up again.
            releaseCopy();
            dataLength_ = h.bufferLength;
            data_.assign(static_cast<size_t>(dataLength_), 0);
            ++generation_;
            return fetchNewData(data_.data(), data_.size());
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
    if (!readHeader(&h) || (h.status & kStatusConnected) == 0) {
        return false;
    }
    int64_t elapsed = platform::clock().calendarSeconds() - lastValidTime_;
    return elapsed < kLiveSeconds;
}

bool TelemetryClient::connected() const {
    HeaderSnapshot h;
    return readHeader(&h) && (h.status & kStatusConnected) != 0;
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
