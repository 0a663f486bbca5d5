#pragma once
// Pit-service commands to the simulator: fire and forget.

#include <cstdint>

namespace telemetry {

enum PitCommand : int32_t {
    kPitFuel = 2,
    kPitLF = 3,
    kPitRF = 4,
    kPitLR = 5,
    kPitRR = 6,
    kPitClearTires = 7,
    kPitClearFuel = 11,
};

// The sink the commands go to. The real one broadcasts the registered window message (Windows)
// or posts to the simulator feed's message queue (POSIX); tests record the calls.
class PitCommandSink {
public:
    virtual ~PitCommandSink() = default;
    virtual void send(int32_t code, int32_t value) = 0;
};

void sendPitCommand(int32_t code, int32_t value);

// Installs a sink for tests (nullptr restores the system sink).
void setPitCommandSink(PitCommandSink* sink);

}  // namespace telemetry
