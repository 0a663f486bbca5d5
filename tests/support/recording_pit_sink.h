#pragma once
// Records pit commands instead of broadcasting them; installed for the life of the object.

#include <cstdint>
#include <utility>
#include <vector>

#include "plugin/telemetry/pit_commands.h"

namespace testsupport {

class RecordingPitSink : public telemetry::PitCommandSink {
  public:
    RecordingPitSink() { telemetry::setPitCommandSink(this); }
    ~RecordingPitSink() override { telemetry::setPitCommandSink(nullptr); }
    RecordingPitSink(const RecordingPitSink&) = delete;
    RecordingPitSink& operator=(const RecordingPitSink&) = delete;

    void send(int32_t code, int32_t value) override { commands.emplace_back(code, value); }

    // (code, value) in the order sent.
    std::vector<std::pair<int32_t, int32_t>> commands;
};

}  // namespace testsupport
