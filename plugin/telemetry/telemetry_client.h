#pragma once
// The one reader of the simulator's telemetry block.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "plugin/telemetry/block_layout.h"

namespace telemetry {

// How the reader reaches the simulator's kernel objects. The real one opens the named mapping
// and event through the platform layer; tests substitute an in-memory block.
class SimulatorConnection {
  public:
    virtual ~SimulatorConnection() = default;
    virtual bool openMapping() = 0;  // OpenFileMappingA
    virtual bool mapView() = 0;      // MapViewOfFile
    virtual bool openEvent() = 0;    // OpenEventA
    virtual bool hasMapping() const = 0;
    virtual bool hasView() const = 0;
    virtual bool hasEvent() const = 0;
    virtual const uint8_t* view() const = 0;
    // Bytes mapped now, as the system says (fstat): the reader checks the header against it
    // only after a copy found pages gone.
    virtual size_t viewSize() const = 0;
    // The bytes the view was mapped with, known without asking the system. Reading inside it
    // is safe while nothing shrinks the object under the view (this system never does).
    virtual size_t mappedSize() const { return viewSize(); }
    // Copies bytes out of the view; false when another program shrank the object under them.
    virtual bool copyOut(size_t offset, uint8_t* destination, size_t length) {
        std::memcpy(destination, view() + offset, length);
        return true;
    }
    // Waits on the data-valid event; false on time-out.
    virtual bool waitEvent(int timeoutMs) = 0;
    virtual void close() = 0;
    // Called between a row copy and the second read of its tick count. The system connection
    // does nothing; a test publisher writes under the reader here.
    virtual void rowCopied() {}
    // True once the mapping no longer belongs to the name (its creator went away and a new
    // block may appear under the name); asked only while the simulator reports not connected.
    virtual bool stale() const { return false; }
};

std::unique_ptr<SimulatorConnection> makeSystemConnection();
// The same over other object names (tests that must not meet a running simulator feed).
std::unique_ptr<SimulatorConnection> makeSystemConnection(const std::string& mappingName,
                                                          const std::string& eventName);

class TelemetryClient {
  public:
    TelemetryClient();
    explicit TelemetryClient(std::unique_ptr<SimulatorConnection> connection);
    ~TelemetryClient();

    bool openTelemetry();
    // True when a newer row exists and, with a destination, was copied intact. At most
    // `capacity` bytes of the row are copied (nullptr: only note the new tick).
    bool fetchNewData(uint8_t* destination, size_t capacity);
    // True when a fresh row is in the data copy and may be processed.
    bool waitForTelemetry(int timeoutMs = 16);
    // Data copy present, objects open, connected bit set, last row under 30 s old on the
    // monotonic clock (a step of the calendar clock neither ends nor prolongs it).
    bool isTelemetryLive() const;
    void closeTelemetry();

    const uint8_t* dataCopy() const { return data_.empty() ? nullptr : data_.data(); }
    // The type and place of a variable in the data copy, as the header said when the row was
    // taken; `type` is -1 when the variable cannot be read from this row.
    struct VarSlot {
        int32_t type = -1;
        int32_t offset = 0;
    };
    // The slot of the variable at `index` of the table, for a typed read: nullptr when no row
    // is ready or the index is not in the table of the row. The first call for an index makes
    // the client refresh that slot with every row it takes.
    const VarSlot* varSlot(int index) {
        if (!rowReady_ || index < 0 || static_cast<size_t>(index) >= slots_.size()) {
            return nullptr;
        }
        const VarSlot* s = &slots_[static_cast<size_t>(index)];
        return watched_[static_cast<size_t>(index)] ? s : watchSlot(index);
    }
    // A validated row is in the data copy and the telemetry was not seen to go away since.
    bool rowReady() const { return rowReady_; }
    int dataLength() const { return dataLength_; }
    int generation() const { return generation_; }

    // The variable-header table, validated against the mapping; nullptr / 0 when the header
    // does not describe a table that lies inside the mapping.
    int numVars() const;
    const VarHeader* varHeader(int index) const;

    // The session text and the number of bytes from its start to the end of the mapping, so a
    // scanner never runs past the mapping even when the text has no terminating NUL.
    const char* sessionText() const;
    size_t sessionTextLimit() const;
    // Both from one reading of the header, so they always belong together.
    const char* sessionText(size_t* limit) const;
    // The header's session-info update counter (0 when not attached).
    int sessionInfoUpdate() const;

    void replaceConnection(std::unique_ptr<SimulatorConnection> connection);
    SimulatorConnection* connection() const { return connection_.get(); }

  private:
    // The header fields the reader uses, read once so that one decision never mixes two
    // versions of a header the simulator rewrites under us.
    struct HeaderSnapshot {
        size_t viewSize = 0;
        int32_t status = 0;
        int32_t sessionInfoOffset = 0;
        int32_t numVars = 0;
        int32_t varHeaderOffset = 0;
        int32_t numBuffers = 0;
        int32_t bufferLength = 0;
        int32_t bufferOffsets[kMaxBuffers] = {};
    };
    // True when the header describes tables, rows and a session text that all lie inside
    // the mapping: the length it was mapped with (no system call), or its size as the system
    // reports it now once the object was found shrunk under the view.
    bool readHeader(HeaderSnapshot* out) const;
    // Takes the row just fetched as the one typed reads answer from: its header snapshot and
    // the slots of the variables being read.
    void commitRow();
    const VarSlot* watchSlot(int index);
    void fillSlot(size_t index);
    int32_t tickCount(int buffer) const;
    // fetchNewData into the data copy (or without a destination while there is none).
    bool fetchRow();
    void releaseCopy();

    std::unique_ptr<SimulatorConnection> connection_;
    bool initialised_ = false;
    // A row copy found pages gone: another program shrank the object under the view. Until
    // the block is attached anew, every look at the header asks the system for its size.
    bool shrunk_ = false;
    int32_t lastTick_ = 2147483647;
    int64_t lastValidMs_ = 0;  // steady clock
    std::vector<uint8_t> data_;
    // The header as it was when the row in `scratch_` (fetched) and `data_` (committed) was
    // copied.
    HeaderSnapshot fetched_;
    HeaderSnapshot row_;
    mutable bool rowReady_ = false;
    std::vector<VarSlot> slots_;
    std::vector<uint8_t> watched_;
    std::vector<int32_t> watchList_;
    std::vector<uint8_t> scratch_;
    int dataLength_ = 0;
    int generation_ = 0;
};

// The process-wide client (created on first use).
TelemetryClient& Telemetry();

}  // namespace telemetry
