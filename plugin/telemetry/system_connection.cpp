// The simulator's kernel objects through the platform layer.

#include <memory>

#include "platform/named_event.h"
#include "platform/shared_memory.h"
#include "plugin/telemetry/telemetry_client.h"

namespace telemetry {

namespace {

class SystemConnection : public SimulatorConnection {
  public:
    bool openMapping() override {
        // The platform opens and maps in one step; the view is taken in mapView().
        pending_ = platform::openSharedMemoryReadOnly(kMemMapName);
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
        event_ = platform::openNamedEvent(kDataValidEventName);
        return event_ != nullptr;
    }
    bool hasMapping() const override { return pending_ != nullptr || memory_ != nullptr; }
    bool hasView() const override { return memory_ != nullptr; }
    bool hasEvent() const override { return event_ != nullptr; }
    const uint8_t* view() const override { return memory_ ? memory_->data() : nullptr; }
    size_t viewSize() const override { return memory_ ? memory_->size() : 0; }
    bool waitEvent(int timeoutMs) override { return event_ && event_->wait(timeoutMs); }
    void close() override {
        event_.reset();
        memory_.reset();
        pending_.reset();
    }
    bool stale() const override { return memory_ && memory_->stale(); }

  private:
    std::unique_ptr<platform::SharedMemory> pending_;
    std::unique_ptr<platform::SharedMemory> memory_;
    std::unique_ptr<platform::NamedEventWaiter> event_;
};

}  // namespace

std::unique_ptr<SimulatorConnection> makeSystemConnection() {
    return std::make_unique<SystemConnection>();
}

}  // namespace telemetry
