#pragma once
// Pit-service commands to the simulator: fire and forget.

#include <cstdint>

namespace telemetry {

// The simulator's message kind for pit commands (low 16 bits of the message's WPARAM).
inline constexpr int32_t kPitCommandKind = 9;

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

// The broadcast message's parameters for one command: WPARAM carries the kind in its low and
// the code in its high 16 bits, the 32-bit result sign-extended; LPARAM is the value,
// sign-extended.
inline constexpr int64_t pitCommandWParam(int32_t code) {
    uint32_t packed =
        (static_cast<uint32_t>(code) & 0xFFFFu) << 16 | static_cast<uint32_t>(kPitCommandKind);
    return static_cast<int64_t>(static_cast<int32_t>(packed));
}
inline constexpr int64_t pitCommandLParam(int32_t value) {
    return value;
}

// Installs a sink for tests (nullptr restores the system sink).
void setPitCommandSink(PitCommandSink* sink);

}  // namespace telemetry
