// The simulator's kernel objects through the platform layer.

#include <memory>
#include <string>
#include <utility>

#include "platform/named_event.h"
#include "platform/shared_memory.h"
#include "plugin/telemetry/telemetry_client.h"

namespace telemetry {

namespace {

class SystemConnection : public SimulatorConnection {
  public:
    SystemConnection(std::string mappingName, std::string eventName)
        : mappingName_(std::move(mappingName)), eventName_(std::move(eventName)) {}

    bool openMapping() override {
        // The platform opens and maps in one step; the view is taken in mapView().
        pending_ = platform::openSharedMemoryReadOnly(mappingName_);
        return pending_ != nullptr;
    }
    bool mapView() override {
        if (!pending_) {
            return false;
        }
        memory_ = std::move(pending_);
        return true;
    }
    bool openEvent() override {
        event_ = platform::openNamedEvent(eventName_);
        return event_ != nullptr;
    }
    bool hasMapping() const override { return pending_ != nullptr || memory_ != nullptr; }
    bool hasView() const override { return memory_ != nullptr; }
    bool hasEvent() const override { return event_ != nullptr; }
    const uint8_t* view() const override { return memory_ ? memory_->data() : nullptr; }
    size_t viewSize() const override { return memory_ ? memory_->size() : 0; }
    size_t mappedSize() const override { return memory_ ? memory_->mappedSize() : 0; }
    bool copyOut(size_t offset, uint8_t* destination, size_t length) override {
        return memory_ && memory_->copyOut(offset, destination, length);
    }
    bool waitEvent(int timeoutMs) override { return event_ && event_->wait(timeoutMs); }
    void close() override {
        event_.reset();
        memory_.reset();
        pending_.reset();
    }
    bool stale() const override { return memory_ && memory_->stale(); }

  private:
    std::string mappingName_;
    std::string eventName_;
    std::unique_ptr<platform::SharedMemory> pending_;
    std::unique_ptr<platform::SharedMemory> memory_;
    std::unique_ptr<platform::NamedEventWaiter> event_;
};

}  // namespace

std::unique_ptr<SimulatorConnection> makeSystemConnection() {
    return makeSystemConnection(kMemMapName, kDataValidEventName);
}

std::unique_ptr<SimulatorConnection> makeSystemConnection(const std::string& mappingName,
                                                          const std::string& eventName) {
    return std::make_unique<SystemConnection>(mappingName, eventName);
}

}  // namespace telemetry
