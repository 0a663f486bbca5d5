#include "plugin/telemetry/pit_commands.h"

#include <atomic>

#include "platform/pit_channel.h"

namespace telemetry {

namespace {

class SystemPitSink : public PitCommandSink {
  public:
    void send(int32_t code, int32_t value) override {
        // Fire and forget: a simulator that is not there, or a registration that failed,
        // simply drops the command, and callers do their own bookkeeping either way.
        platform::sendBroadcastMessage(kPitCommandKind, code & 0xFFFF, value);
    }
};

std::atomic<PitCommandSink*> testSink{nullptr};

}  // namespace

void sendPitCommand(int32_t code, int32_t value) {
    static SystemPitSink systemSink;
    PitCommandSink* sink = testSink.load();
    (sink ? *sink : static_cast<PitCommandSink&>(systemSink)).send(code, value);
}

void setPitCommandSink(PitCommandSink* sink) {
    testSink.store(sink);
}

}  // namespace telemetry
